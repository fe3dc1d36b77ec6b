// d88info IMAGE.d88: lists the disks of a D88 image, the sector IDs of their
// tracks, and what zefacut makes of each disk.
#include <cstdio>
#include <memory>
#include <string>

#include "d88info/listing.h"
#include "formats/open_image.h"
#include "platform/portable.h"

int main(int argc, char** argv) {
  UseBinaryStandardStreams();
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s IMAGE.d88\n",
                 argc > 0 && argv[0] != nullptr ? argv[0] : "d88info");
    return 1;
  }
  const std::unique_ptr<DiskImage> image = OpenImage(argv[1]);
  if (!image) {
    std::fprintf(stderr, "error: cannot open %s\n", argv[1]);
    return 1;
  }
  ListImage(*image, [](const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  });
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "error: cannot write the listing\n");
    return 1;
  }
  return 0;
}

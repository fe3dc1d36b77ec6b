// d88info [--json] IMAGE: lists the disks of a disk image, the sector IDs of
// their tracks, and what zefacut makes of each disk.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "d88info/listing.h"
#include "formats/open_image.h"
#include "platform/portable.h"

int main(int argc, char** argv) {
  UseBinaryStandardStreams();
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);
  const bool json = arguments.size() == 3 && arguments[1] == "--json";
  if (arguments.size() != 2 + (json ? 1U : 0U) || (!json && arguments[1] == "--json")) {
    std::fprintf(stderr, "Usage: %s [--json] IMAGE.d88\n",
                 !arguments.empty() && !arguments[0].empty() ? arguments[0].c_str() : "d88info");
    return 1;
  }
  const std::string& path = arguments.back();
  const OpenedImage opened = OpenImage(path.c_str());
  if (!opened.image) {
    if (opened.error != 0) {
      std::fprintf(stderr, "error: cannot open %s: %s\n", path.c_str(),
                   std::strerror(opened.error));
    } else {
      std::fprintf(stderr, "error: %s: %s\n", path.c_str(), opened.message.c_str());
    }
    return 1;
  }
  DiskImage* image = opened.image.get();
  const auto print = [](const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  };
  if (json) {
    ListImageJson(*image, print);
  } else {
    ListImage(*image, print);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "error: cannot write the listing\n");
    return 1;
  }
  return 0;
}

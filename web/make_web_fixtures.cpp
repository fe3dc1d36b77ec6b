// Writes the images the page's browser tests drop on it, made with the
// project's image builder: the sample image, a damaged dump, two images of
// different formats for an archive, a Teledisk file, a file that is no image,
// and an empty one. The tests give each to the native zefacut too.
#include <cstdio>
#include <string>
#include <vector>

#include "support/damaged_dumps.h"
#include "support/format_writers.h"
#include "support/image_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s FOLDER\n", argc > 0 ? argv[0] : "make_web_fixtures");
    return 1;
  }
  const std::string folder = std::string(argv[1]) + "/";
  // The damaged dump: the first of the shared cases whose verdict is a
  // warning.
  Bytes damaged;
  for (const DamagedDump& dump : DamagedDumps()) {
    if (dump.status == 2) {
      damaged = dump.image();
      break;
    }
  }
  // A Teledisk header, version 2.1: read by no reader of the tool.
  Bytes teledisk = {'T', 'D', 0, 0x5A, 21, 0, 0x02, 0, 0, 0, 0, 0};
  teledisk.resize(512, 0xE5);
  const std::string text = "This is a note, not a disk image.\n";
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"sample.d88", BuildImage(SampleDisks())},
      {"damaged.d88", damaged},
      {"title1-a.d88", BuildImage({KnownDisk(0, 11)})},
      {"title3-b.dim", BuildInFormat(WrittenFormat::kDim, KnownDisk(7, 12))},
      {"old.td0", teledisk},
      {"notes.txt", Bytes(text.begin(), text.end())},
      {"empty.d88", Bytes()},
  };
  for (const auto& [name, bytes] : files) {
    if (bytes.empty() && name != "empty.d88") {
      std::fprintf(stderr, "no bytes for %s\n", name.c_str());
      return 1;
    }
    if (!WriteFileBytes(folder + name, bytes)) {
      std::fprintf(stderr, "cannot write %s%s\n", folder.c_str(), name.c_str());
      return 1;
    }
  }
  return 0;
}

// Writes a sample D88 image: the eight disks zefacut knows, then one it does
// not. Their contents are made-up patterned bytes with the signatures in place.
#include <cstdio>
#include <vector>

#include "tests/support/image_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s OUTPUT.d88\n", argc > 0 ? argv[0] : "make_sample_image");
    return 1;
  }
  std::vector<DiskSpec> disks;
  disks.reserve(9);
  for (int i = 0; i < 8; ++i) {
    disks.push_back(KnownDisk(i, static_cast<std::uint32_t>(i + 1)));
  }
  DiskSpec other = PlainDisk(kKnownDiskTracks, 99);
  other.name = "OTHER GAME";
  disks.push_back(other);
  if (!WriteFileBytes(argv[1], BuildImage(disks))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

// Writes a sample D88 image: the eight disks zefacut knows, then one it does
// not. Their contents are made-up patterned bytes with the signatures in place.
#include <cstdio>
#include <vector>

#include "testkit/image_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s OUTPUT.d88\n", argc > 0 ? argv[0] : "make_sample_image");
    return 1;
  }
  if (!WriteFileBytes(argv[1], BuildImage(SampleDisks()))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

// Writes a collection for the benchmark of -r and -j, made with the image
// builder: a tree of folders holding, per 2,000 inputs,
//   1,340 D88 images of disks the tool does not know (20 tracks each),
//     200 ZIP and 100 7z archives of one such image each,
//     100 images in other formats (IMD, DIM, FDI, NFD, Teledisk),
//      20 known disks (D88),
//     240 files that are no images (notes, pictures).
// Every input is a file of its own bytes: the seeds differ.
//
//   make_collection DIR [COPIES]   COPIES trees of 2,000 inputs, each in
//                                  DIR/copyNN (default 1)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/archive_writer.h"
#include "testkit/format_writers.h"
#include "testkit/image_builder.h"

namespace {

constexpr int kInputs = 2000;
constexpr int kPlainTracks = 20;
constexpr int kPerFolder = 50;

bool Write(const std::filesystem::path& path, const Bytes& bytes) {
  std::filesystem::create_directories(path.parent_path());
  return WriteFileBytes(path.string(), bytes);
}

// The input at `index` of a tree, its path below the tree and its bytes.
std::pair<std::string, Bytes> Input(int index, std::uint32_t seed) {
  // Folders of 50 inputs, two levels deep: "set03/disk07/".
  const int folder = index / kPerFolder;
  char place[64];
  std::snprintf(place, sizeof place, "set%02d/part%02d/", folder / 8, folder % 8);
  const std::string at = place;
  const int kind = index % 100;  // the mix, in per cent
  char number[16];
  std::snprintf(number, sizeof number, "%04d", index);
  const std::string member = "disk" + std::string(number) + ".d88";
  const DiskSpec plain = PlainDisk(kPlainTracks, seed);
  if (kind < 67) {
    return {at + member, BuildImage({plain})};
  }
  if (kind < 68) {
    return {at + "known" + number + ".d88",
            BuildImage({KnownDisk(static_cast<int>(seed % 8), seed)})};
  }
  if (kind < 78) {
    return {at + "game" + number + ".zip",
            BuildArchive(ArchiveKind::kZip, {{member, BuildImage({plain})}})};
  }
  if (kind < 83) {
    return {at + "game" + number + ".7z",
            BuildArchive(ArchiveKind::kSevenZip, {{member, BuildImage({plain})}})};
  }
  if (kind < 88) {
    switch (index / 100 % 5) {
      case 0:
        return {at + "disk" + number + ".imd", BuildImd(plain)};
      case 1:
        return {at + "disk" + number + ".dim", BuildDim(plain)};
      case 2:
        return {at + "disk" + number + ".fdi", BuildFdi(plain)};
      case 3:
        return {at + "disk" + number + ".nfd", BuildNfd(plain, 0)};
      default:
        return {at + "disk" + number + ".td0", BuildTd0(plain)};
    }
  }
  // Notes and pictures, a few kilobytes each.
  Bytes bytes(2048 + seed % 4096, static_cast<std::uint8_t>(seed));
  if (kind < 94) {
    const std::string text = "Notes on disk " + std::string(number) + "\n";
    bytes.assign(text.begin(), text.end());
    return {at + "readme" + number + ".txt", bytes};
  }
  bytes[0] = 0xFF;
  bytes[1] = 0xD8;
  return {at + "cover" + number + ".jpg", bytes};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: make_collection DIR [COPIES]\n");
    return 1;
  }
  const std::filesystem::path root = argv[1];
  const long asked = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 1;
  if (asked < 1 || asked > 99) {
    std::fprintf(stderr, "make_collection: COPIES is a number from 1 to 99\n");
    return 1;
  }
  const int copies = static_cast<int>(asked);
  for (int copy = 0; copy < copies; ++copy) {
    char name[16];
    std::snprintf(name, sizeof name, "copy%02d", copy);
    for (int index = 0; index < kInputs; ++index) {
      const auto seed = static_cast<std::uint32_t>(copy * kInputs + index + 1);
      const auto [path, bytes] = Input(index, seed);
      if (!Write(copies == 1 ? root / path : root / name / path, bytes)) {
        std::fprintf(stderr, "make_collection: cannot write %s\n", path.c_str());
        return 1;
      }
    }
  }
  return 0;
}

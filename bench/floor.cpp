// The floor that zefacut's speed is measured against: the files of
// `zefacut -d -o OUT IMAGE` for an image of Title1DiskA disks as the
// benchmark makes them, written with no parsing beyond each disk's track
// table: each sector's bytes read with pread at the place the table gives,
// written under a temporary name and renamed, in per-disk folders.
//
//   bench_floor IMAGE.d88 OUT
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "known/known_disks.h"

namespace {

constexpr int kHeaderSize = 0x2B0;
constexpr int kSectorHeader = 16;

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8U |
         static_cast<std::uint32_t>(p[2]) << 16U | static_cast<std::uint32_t>(p[3]) << 24U;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Usage: %s IMAGE.d88 OUT\n", argv[0]);
    return 1;
  }
  const int image = open(argv[1], O_RDONLY);
  if (image < 0) {
    return 1;
  }
  const std::string out = std::string(argv[2]) + "/";
  mkdir(argv[2], 0777);
  const KnownDiskRow& known = kKnownDisks[0];
  const std::string path = argv[1];
  const std::string name = path.substr(path.find_last_of('/') + 1);
  std::int64_t start = 0;
  std::vector<unsigned char> file;
  for (int disk = 0; disk < 64; ++disk) {
    unsigned char header[kHeaderSize];
    if (pread(image, header, sizeof header, start) != static_cast<ssize_t>(sizeof header)) {
      break;
    }
    std::string folder = out + name + " - " + known.title + " " + known.disk;
    if (disk > 0) {
      folder += " (" + std::to_string(disk + 1) + ")";
    }
    folder += "/";
    mkdir(folder.c_str(), 0777);
    for (std::size_t i = 0; i < known.cutCount; ++i) {
      const Cut& cut = known.cuts[i];
      const std::size_t wanted =
          static_cast<std::size_t>(cut.offset) + static_cast<std::size_t>(cut.length);
      file.resize((wanted + kSectorSize - 1) / kSectorSize * kSectorSize);
      int track = cut.track;
      int r = cut.r;
      for (std::size_t at = 0; at < file.size(); at += kSectorSize) {
        const std::int64_t place = start + Le32(header + 0x20 + std::ptrdiff_t{4} * track) +
                                   std::int64_t{r - 1} * (kSectorHeader + kSectorSize) +
                                   kSectorHeader;
        if (pread(image, file.data() + at, kSectorSize, place) != kSectorSize) {
          return 1;
        }
        if (++r > kLastSector) {
          r = kFirstSector;
          ++track;
        }
      }
      const std::string target = folder + cut.name.data();
      const std::string temporary = folder + "." + cut.name.data() + ".tmp";
      const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0 ||
          write(fd, file.data() + cut.offset, static_cast<std::size_t>(cut.length)) != cut.length ||
          close(fd) != 0 || rename(temporary.c_str(), target.c_str()) != 0) {
        return 1;
      }
    }
    start += Le32(header + 0x1C);
  }
  close(image);
  return 0;
}

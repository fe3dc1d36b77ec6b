// Writes the benchmark images with the image builder:
//   make_bench_image title1a  OUT  64 Title1DiskA disks of 154 tracks each
//   make_bench_image dense    OUT  64 Title1DiskA disks whose every track is
//                                  one track of tens of thousands of empty
//                                  sectors that each read scans past
//   make_bench_image far      OUT  one Title1DiskA disk whose every track is
//                                  one run of 64 KiB sectors filling ~100 MiB,
//                                  visited 32 times by a directory that
//                                  alternates between it and a disk that
//                                  leads back to it
//   make_bench_image formats  DIR  one Title1DiskA disk of 154 tracks in
//                                  every format the tool reads, as
//                                  DIR/title1a-FORMAT.EXT
//   make_bench_image scp5     OUT  one Title1DiskA disk of 154 tracks as an
//                                  SCP dump of five revolutions (over 64 MiB)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "testkit/flux_writers.h"
#include "testkit/format_writers.h"
#include "testkit/image_builder.h"

namespace {

constexpr int kTitle1DiskA = 0;
constexpr int kCutTracks = 23;  // tracks 0..22 hold every read of that disk
constexpr int kMaxSectorsInTrack = 65535;

// One track holding `decoys` sectors that match no read, then every sector
// of tracks 0..22 of a Title1DiskA disk; every track of the table points at it.
DiskSpec OneTrackDisk(int decoys, int decoySize, std::uint32_t seed) {
  const DiskSpec known = KnownDisk(kTitle1DiskA, seed, kCutTracks);
  DiskSpec disk;
  disk.name = "BENCH";
  TrackSpec& track = disk.tracks[0];
  SectorSpec decoy;
  decoy.c = decoy.h = decoy.r = decoy.n = 0xFF;
  decoy.data.assign(static_cast<std::size_t>(decoySize), 0xE5);
  track.sectors.assign(static_cast<std::size_t>(decoys), decoy);
  for (const auto& [index, real] : known.tracks) {
    track.sectors.insert(track.sectors.end(), real.sectors.begin(), real.sectors.end());
  }
  for (int i = 1; i < 164; ++i) {
    disk.trackTableOverrides[i] = 0x2B0;
  }
  return disk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Usage: %s title1a|dense|far|scp5 OUTPUT | formats FOLDER\n",
                 argc > 0 ? argv[0] : "make_bench_image");
    return 1;
  }
  const std::string mode = argv[1];
  if (mode == "formats") {
    const DiskSpec disk = KnownDisk(kTitle1DiskA, 1, 154);
    for (const WrittenFormatName& format : WrittenFormats()) {
      std::string name = format.format == WrittenFormat::kScp ? "SCP" : format.name;
      if (format.format == WrittenFormat::kNfd1 || format.format == WrittenFormat::kHfe3) {
        name += "-r1";
        name.back() = format.format == WrittenFormat::kHfe3 ? '3' : '1';
      }
      const std::string path = std::string(argv[2]) + "/title1a-" + name + format.extension;
      if (!WriteFileBytes(path, BuildInFormat(format.format, disk))) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
      }
    }
    return 0;
  }
  Bytes image;
  if (mode == "title1a") {
    std::vector<DiskSpec> disks;
    disks.reserve(64);
    for (int i = 0; i < 64; ++i) {
      disks.push_back(KnownDisk(kTitle1DiskA, static_cast<std::uint32_t>(i), 154));
    }
    image = BuildImage(disks);
  } else if (mode == "scp5") {
    ScpOptions options;
    options.flux.revolutions = 5;
    image = BuildScp(KnownDisk(kTitle1DiskA, 1, 154), options);
  } else if (mode == "dense") {
    const int decoys = kMaxSectorsInTrack - kCutTracks * 8;
    image = BuildImage(std::vector<DiskSpec>(64, OneTrackDisk(decoys, 0, 1)));
  } else if (mode == "far") {
    constexpr int kDecoySize = 65535;
    constexpr long kLimit = 100L * 1024 * 1024;
    const int decoys =
        static_cast<int>((kLimit - 2L * 0x2B0 - kCutTracks * 8L * 1040) / (16 + kDecoySize));
    image = BuildDisk(OneTrackDisk(decoys, kDecoySize, 1));
    // The second disk's size field takes the directory back to the start.
    DiskSpec back;
    back.name = "BACK";
    back.sizeField = static_cast<std::uint32_t>(0x100000000ULL - image.size());
    const Bytes tail = BuildDisk(back);
    image.insert(image.end(), tail.begin(), tail.end());
  } else {
    std::fprintf(stderr, "unknown image %s\n", mode.c_str());
    return 1;
  }
  if (!WriteFileBytes(argv[2], image)) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}

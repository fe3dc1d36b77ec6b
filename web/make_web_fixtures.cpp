// Writes the images the page's browser tests drop on it, made with the
// project's image builder: the sample image, a damaged dump, two images of
// different formats for an archive, a damaged Teledisk file, a KryoFlux dump
// with a sector no revolution read well, a file that is no image, and an
// empty one. The tests give each to the native zefacut too.
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "flux/kryoflux_image.h"
#include "testkit/damaged_dumps.h"
#include "testkit/flux_writers.h"
#include "testkit/format_writers.h"
#include "testkit/image_builder.h"
#include "testkit/kryoflux_writer.h"

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
  // A Teledisk header, version 2.1, whose check fails: a damaged image.
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
  // ZEFA LOMRI 2 Disk B's first 14 tracks (its files lie in tracks 5 to 13)
  // as a KryoFlux dump, one sector of FMSE bad in every revolution.
  const DiskSpec disk = KnownDisk(3, 0xD1, 14);
  FluxOptions flux;
  // The same byte in every revolution: the reads agree on bytes that fail
  // the CRC, so the sector is not recovered and the page warns of it.
  flux.damage.push_back({12, 6, {}, std::size_t{100}, std::nullopt});
  std::map<int, KryoFluxTrackSpec> tracks;
  for (const auto& entry : disk.tracks) {
    const WrittenFlux written = TrackFlux(disk, entry.first, flux, kKryoFluxSampleClock);
    tracks[entry.first] =
        KryoFluxTrackSpec{written.intervals, written.indexes, kKryoFluxSampleClock};
  }
  std::error_code made;
  std::filesystem::create_directories(folder + "KryoFlux dump", made);
  for (const auto& [name, bytes] : KryoFluxDumpFiles(tracks, "KryoFlux dump")) {
    if (!WriteFileBytes(folder + name, bytes)) {
      std::fprintf(stderr, "cannot write %s%s\n", folder.c_str(), name.c_str());
      return 1;
    }
  }
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

// Writes the images the page's browser tests drop on it, made with the
// project's image builder: the sample image, a damaged dump, two images of
// different formats for an archive, a damaged Teledisk file, a KryoFlux dump
// with a sector no revolution read well, a KryoFlux dump whose identification
// track is noise, an image of a disk the tool does not know, a file that is
// no image, and an empty one. The tests give each to the native zefacut too.
#include <cstdint>
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
      {"other.d88", BuildImage({SampleDisks().back()})},
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
  // A dump of a disk of no known kind whose track 1, where the
  // identification sector lies, holds flux changes at random: nothing in it
  // decodes, so the disk stays unknown for a reason the user is told.
  const DiskSpec other = SampleDisks().back();
  std::map<int, KryoFluxTrackSpec> noisy;
  for (int track = 0; track < 4; ++track) {
    if (track != 1) {
      const WrittenFlux written = TrackFlux(other, track, flux, kKryoFluxSampleClock);
      noisy[track] = KryoFluxTrackSpec{written.intervals, written.indexes, kKryoFluxSampleClock};
      continue;
    }
    KryoFluxTrackSpec noise;
    std::uint32_t state = 12345;
    constexpr std::size_t kChanges = 40000;
    for (std::size_t i = 0; i < kChanges; ++i) {
      state = state * 1103515245U + 12345U;
      noise.intervals.push_back(20 + (state >> 16) % 200);
      if (i % (kChanges / 3) == 0) {
        noise.indexes.push_back(i);
      }
    }
    noise.indexes.resize(4, kChanges);
    noisy[track] = noise;
  }
  std::filesystem::create_directories(folder + "Noisy dump", made);
  for (const auto& [name, bytes] : KryoFluxDumpFiles(noisy, "Noisy dump")) {
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

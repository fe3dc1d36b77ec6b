// Flux dumps of a known disk in the layouts other tools write them (SCP of
// one side, by today's numbering and the older one; 48 tpi disks read in a
// 96 tpi drive, as SCP and as KryoFlux files named by physical track;
// KryoFlux streams without KFInfo) and damaged ones (a track file missing,
// empty or foreign, an SCP track table entry missing, a truncated SCP,
// damaged SCP headers, a bad checksum):
// what zefacut cuts from each, byte for byte, what it says and its status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/run_tool.h"
#include "testkit/damaged_dumps.h"
#include "testkit/flux_writers.h"
#include "testkit/kryoflux_writer.h"

namespace {

using Files = std::vector<std::pair<std::string, Bytes>>;

// Title 2 Disk B: FMBGM from track 5, FMSE and BEEPSE in track 12, BEEPBGM
// from track 10 to 12; its signature in track 0.
DiskSpec Disk() { return KnownDisk(3, 0x1A70); }

FluxOptions Flux() {
  FluxOptions options;
  options.revolutions = 2;
  return options;
}

Bytes Scp(const ScpOptions& options) { return BuildScp(Disk(), options); }

ScpOptions ScpWith(const std::function<void(ScpOptions&)>& change) {
  ScpOptions options;
  options.flux = Flux();
  change(options);
  return options;
}

// The disk as KryoFlux files named by physical track: cylinder C at
// physical cylinder `step` x C; with `echoes` the odd physical cylinders
// hold the flux of the one before. `change` may edit the files by name.
Files KryoFlux(int step, bool echoes, const KryoFluxWriteOptions& write = {},
               const std::function<void(std::map<std::string, Bytes>&)>& change = {}) {
  const DiskSpec disk = Disk();
  std::map<int, KryoFluxTrackSpec> tracks;
  for (const auto& entry : disk.tracks) {
    const WrittenFlux flux = TrackFlux(disk, entry.first, Flux(), kKryoFluxSampleClock);
    const KryoFluxTrackSpec spec{flux.intervals, flux.indexes, kKryoFluxSampleClock};
    const int physical = 2 * (entry.first / 2 * step) + entry.first % 2;
    tracks[physical] = spec;
    if (echoes) {
      tracks[physical + 2] = spec;
    }
  }
  std::map<std::string, Bytes> byName;
  for (auto& [name, bytes] : KryoFluxDumpFiles(tracks, "dump", write)) {
    byName[name] = std::move(bytes);
  }
  if (change) {
    change(byName);
  }
  return Files(byName.begin(), byName.end());
}

KryoFluxWriteOptions NoKfInfo() {
  KryoFluxWriteOptions options;
  options.kfInfo = false;
  return options;
}

// A truncated SCP: the file ends `into` bytes into the flux of track 12.
Bytes ScpEndingInTrack12(std::size_t into) {
  Bytes scp = Scp(ScpWith([](ScpOptions&) {}));
  const std::size_t entry = 0x10 + 4 * 12;
  const std::size_t start = scp[entry] | scp[entry + 1] << 8U | scp[entry + 2] << 16U |
                            static_cast<std::size_t>(scp[entry + 3]) << 24U;
  scp.resize(start + into);
  return scp;
}

// An SCP whose track table has no entry for track 12, between tracks it
// holds.
Bytes ScpWithoutTrack12() {
  Bytes scp = Scp(ScpWith([](ScpOptions&) {}));
  std::fill_n(scp.begin() + 0x10 + std::ptrdiff_t{4} * 12, 4, 0);
  return scp;
}

Bytes Patched(Bytes bytes, std::size_t at, std::uint8_t value) {
  bytes[at] = value;
  return bytes;
}

struct Row {
  // cppcheck-suppress unusedStructMember ; names each case's test
  const char* name;
  std::function<Files()> files;
  const char* given;  // what zefacut is given
  std::string err;
  int status;
  bool cut;  // every file written, byte for byte the disk's
};

std::string Unread(const std::string& file, const std::string& why) {
  return "warning: " + file + ": track 12 of the flux dump: no sector could be decoded (" + why +
         ")\n";
}

// What the files of track 12 say when the track gives no sector, `why`.
std::string Track12Unread(const std::string& why) {
  return "warning: FMSE: not written: sector 6 0 5 3 of track 12 is not on the disk\n" +
         Unread("FMSE", why) + "warning: BEEPBGM: only 14017 of 18610 bytes could be read\n" +
         Unread("BEEPBGM", why) +
         "warning: BEEPSE: not written: sector 6 0 8 3 of track 12 is not on the disk\n" +
         Unread("BEEPSE", why);
}

std::vector<Row> Rows() {
  const auto scp = [](const ScpOptions& options) {
    return [options] { return Files{{"image.scp", Scp(options)}}; };
  };
  const std::string endsIn12 = "; the image file ends inside track 12\n";
  const std::string track12Cut =
      "warning: FMSE: not written: sector 6 0 5 3 of track 12 is not on the disk" + endsIn12 +
      "warning: BEEPBGM: only 14017 of 18610 bytes could be read" + endsIn12 +
      "warning: BEEPSE: not written: sector 6 0 8 3 of track 12 is not on the disk" + endsIn12;
  return {
      {"ScpBothHeads", scp(ScpWith([](ScpOptions&) {})), "image.scp", "", 0, true},
      {"ScpDoubleSteppedFlagged",
       scp(ScpWith([](ScpOptions& o) { o.doubleStepped = o.flag96Tpi = true; })), "image.scp", "",
       0, true},
      {"ScpDoubleSteppedUnflagged", scp(ScpWith([](ScpOptions& o) { o.doubleStepped = true; })),
       "image.scp", "", 0, true},
      {"ScpDoubleSteppedWithEchoes",
       scp(ScpWith([](ScpOptions& o) { o.doubleStepped = o.echoes = o.flag96Tpi = true; })),
       "image.scp", "", 0, true},
      {"ScpBadChecksum", scp(ScpWith([](ScpOptions& o) { o.badChecksum = true; })), "image.scp", "",
       0, true},
      {"KryoFluxEvenPhysicalTracks", [] { return KryoFlux(2, false); }, "dump", "", 0, true},
      {"KryoFluxEveryPhysicalTrack", [] { return KryoFlux(2, true); }, "dump", "", 0, true},
      {"KryoFluxWithoutKfInfo", [] { return KryoFlux(1, false, NoKfInfo()); }, "dump", "", 0, true},
      {"KryoFluxDoubleSteppedWithoutKfInfo", [] { return KryoFlux(2, true, NoKfInfo()); }, "dump",
       "", 0, true},
      {"KryoFluxTrackFileMissing",
       [] {
         return KryoFlux(1, false, {},
                         [](std::map<std::string, Bytes>& f) { f.erase("dump/track06.0.raw"); });
       },
       "dump", Track12Unread("no file track06.0.raw"), 2, false},
      {"ScpTrackEntryMissing",
       [] {
         return Files{{"image.scp", ScpWithoutTrack12()}};
       },
       "image.scp", Track12Unread("no entry in the track table"), 2, false},
      {"KryoFluxTrackFileEmpty",
       [] {
         return KryoFlux(1, false, {},
                         [](std::map<std::string, Bytes>& f) { f["dump/track06.0.raw"] = {}; });
       },
       "dump", Track12Unread("track06.0.raw is empty"), 2, false},
      {"KryoFluxTrackFileGarbage",
       [] {
         return KryoFlux(1, false, {}, [](std::map<std::string, Bytes>& f) {
           f["dump/track06.0.raw"] = Bytes(5000, 0x41);
         });
       },
       "dump", Track12Unread("track06.0.raw is no KryoFlux stream"), 2, false},
      {"KryoFluxDoubleSteppedTrackFileMissing",
       [] {
         return KryoFlux(2, true, {},
                         [](std::map<std::string, Bytes>& f) { f.erase("dump/track12.0.raw"); });
       },
       "dump", Track12Unread("no file track12.0.raw"), 2, false},
      {"KryoFluxSignatureTrackMissing",
       [] {
         return KryoFlux(1, false, {},
                         [](std::map<std::string, Bytes>& f) { f.erase("dump/track00.0.raw"); });
       },
       "dump",
       "warning: dump: track 0 of the flux dump: no sector could be decoded (no file "
       "track00.0.raw)\n" +
           kUnsupportedMessage,
       2, false},
      {"KryoFluxSignatureTrackWithoutMfm",
       [] {
         return KryoFlux(1, false, {}, [](std::map<std::string, Bytes>& f) {
           KryoFluxTrackSpec noise;
           noise.intervals.assign(40000, 37);
           noise.indexes = {0, 20000, 40000};
           f["dump/track00.0.raw"] = KryoFluxStream(noise);
         });
       },
       "dump",
       "warning: dump: track 0 of the flux dump: no sector could be decoded (no MFM "
       "found)\n" +
           kUnsupportedMessage,
       2, false},
      {"ScpEndsInsideTrack12",
       [] {
         return Files{{"image.scp", ScpEndingInTrack12(3000)}};
       },
       "image.scp", track12Cut, 2, false},
      {"ScpEndsBeforeTrack12",
       [] {
         return Files{{"image.scp", ScpEndingInTrack12(0)}};
       },
       "image.scp", track12Cut, 2, false},
      {"ScpHeadsThree",
       [] {
         return Files{{"image.scp", Patched(Scp(ScpWith([](ScpOptions&) {})), 10, 3)}};
       },
       "image.scp", "error: image.scp: cannot be read as SCP: the header gives heads 3\n", 1,
       false},
      {"ScpNoRevolutions",
       [] {
         return Files{{"image.scp", Patched(Scp(ScpWith([](ScpOptions&) {})), 5, 0)}};
       },
       "image.scp", "error: image.scp: cannot be read as SCP: the header gives no revolutions\n", 1,
       false},
      {"ScpTableIntoTheHeader",
       [] {
         Bytes bytes = Scp(ScpWith([](ScpOptions&) {}));
         bytes[0x10 + 4 * 3] = 0x20;
         bytes[0x10 + 4 * 3 + 1] = 0;
         bytes[0x10 + 4 * 3 + 2] = 0;
         bytes[0x10 + 4 * 3 + 3] = 0;
         return Files{{"image.scp", bytes}};
       },
       "image.scp",
       "error: image.scp: cannot be read as SCP: the track table gives track 3 at offset 0x20, "
       "inside the header\n",
       1, false},
      {"ScpTableAfterTheEnd",
       [] {
         Bytes bytes = Scp(ScpWith([](ScpOptions&) {}));
         bytes[0x10 + 4 * 3 + 3] = 0x7F;
         return Files{{"image.scp", bytes}};
       },
       "image.scp",
       "error: image.scp: cannot be read as SCP: the track table gives track 3 at offset "
       "0x7F0B876C, past the end of the file (6040248 bytes)\n",
       1, false},
  };
}

class FluxDumpToolTest : public ::testing::TestWithParam<Row> {};

TEST_P(FluxDumpToolTest, CutsWhatItCanAndTellsWhy) {
  const Row& row = GetParam();
  ScratchDir dir;
  for (const auto& [name, bytes] : row.files()) {
    std::filesystem::create_directories(std::filesystem::path(dir.File(name)).parent_path());
    ASSERT_TRUE(WriteFileBytes(dir.File(name), bytes)) << name;
  }
  const ToolResult result = RunTool(dir, {"-o", "out", row.given});
  EXPECT_EQ(result.err, row.err);
  EXPECT_EQ(result.status, row.status);
  if (row.cut) {
    const DiskSpec disk = Disk();
    const Bytes linear = LinearBytes(disk, kKnownDiskTracks);
    for (const ExpectedCut& cut : kTitle2DiskB) {
      EXPECT_TRUE(
          FileHolds(dir.File(std::string("out/") + cut.name),
                    Slice(linear, LinearAddress(cut), static_cast<std::size_t>(cut.length))))
          << cut.name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, FluxDumpToolTest, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace

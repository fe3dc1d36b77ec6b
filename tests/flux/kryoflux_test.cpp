// KryoFlux stream dumps: the stream parser over streams the test writer
// makes (every block kind, where index pulses land, streams that break their
// own rules), the files that make one dump (a folder, a file and its
// siblings, the folders of an archive), and the real dump of a 360 KB disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "flux/kryoflux_image.h"
#include "input/byte_source.h"
#include "input/image_input.h"
#include "support/format_test_helpers.h"
#include "support/scratch_folder.h"
#include "support/test_files.h"
#include "testkit/kryoflux_writer.h"

#ifdef ZEFACUT_TEST_ARCHIVES
#include "input/archive.h"
#include "support/archive_writer.h"
#endif

namespace {

namespace fs = std::filesystem;

FluxTrack Parse(const Bytes& stream) { return ParseKryoFluxStream(stream.data(), stream.size()); }

// Intervals 0, 1, 2, ... each `step` longer, from `first`.
std::vector<std::uint32_t> Ramp(std::uint32_t first, std::uint32_t step, std::size_t count) {
  std::vector<std::uint32_t> intervals;
  for (std::size_t i = 0; i < count; ++i) {
    intervals.push_back(first + static_cast<std::uint32_t>(i) * step);
  }
  return intervals;
}

TEST(KryoFluxStream, EveryBlockKindRoundTrips) {
  KryoFluxWriteOptions plain;
  KryoFluxWriteOptions nops;
  nops.nops = true;
  KryoFluxWriteOptions infos;
  infos.streamInfoEvery = 7;
  KryoFluxWriteOptions late;
  late.indexLag = 3;
  late.nops = true;
  const struct {
    const char* what;
    std::vector<std::uint32_t> intervals;
    std::vector<std::size_t> indexes;
    KryoFluxWriteOptions options;
    double clock;
  } cases[] = {
      {"Flux1", Ramp(0x0E, 1, 0xF2), {0, 100, 0xF2}, plain, kKryoFluxSampleClock},
      {"Flux2, below Flux1 and above it",
       {0, 1, 0x0D, 0x100, 0x2AB, 0x7FF},
       {2},
       plain,
       kKryoFluxSampleClock},
      {"Flux3", {0x800, 0x1234, 0xFFFF, 0x800}, {1, 3}, plain, kKryoFluxSampleClock},
      {"Ovl16", {0x10000, 0x10005, 0x1FFFF, 0x3080A, 0x20}, {0, 3}, plain, kKryoFluxSampleClock},
      {"Nops", Ramp(40, 37, 60), {0, 20, 40, 60}, nops, kKryoFluxSampleClock},
      {"stream information blocks", Ramp(30, 91, 50), {5, 45}, infos, kKryoFluxSampleClock},
      {"index blocks sent late", Ramp(20, 13, 40), {0, 10, 39}, late, kKryoFluxSampleClock},
      {"two indexes at one place", {100, 200, 300}, {1, 1}, plain, kKryoFluxSampleClock},
      {"a clock of its own", {80, 120, 160}, {0, 3}, plain, 48054857.1428571},
      {"no flux", {}, {}, plain, kKryoFluxSampleClock},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    KryoFluxTrackSpec spec;
    spec.intervals = c.intervals;
    spec.indexes = c.indexes;
    spec.sampleClock = c.clock;
    const Bytes stream = KryoFluxStream(spec, c.options);
    EXPECT_EQ(IdentifiedFormat(stream), "KryoFlux stream");
    const FluxTrack flux = Parse(stream);
    EXPECT_EQ(flux.intervals, c.intervals);
    EXPECT_EQ(flux.indexes, c.indexes);
    EXPECT_NEAR(flux.sampleClock, c.clock, 1e-3);
    EXPECT_TRUE(flux.faults.empty()) << flux.faults.front();
  }
}

// Flux at stream positions: 100 [0, 1), Nop2 [1, 3), 0x900 [3, 6),
// Ovl16 + 0x20 [6, 8), 5 [8, 10). An index names the position of a byte of
// the flux value its pulse fell in.
TEST(KryoFluxStream, IndexesLandOnTheIntervalTheyFellIn) {
  const struct {
    std::uint32_t position;
    std::size_t index;
  } cases[] = {
      {0, 0}, {1, 1}, {2, 1}, {3, 1}, {5, 1}, {6, 2}, {7, 2}, {8, 3}, {9, 3}, {10, 4},
  };
  for (const auto& c : cases) {
    for (const bool sentFirst : {false, true}) {
      SCOPED_TRACE(std::to_string(c.position) + (sentFirst ? ", sent first" : ""));
      KryoFluxStreamWriter writer;
      writer.Info(KryoFluxClockInfo(kKryoFluxSampleClock));
      if (sentFirst) {
        writer.Index(c.position, 0, 0);
      }
      writer.Flux(100);
      writer.Nop(2);
      writer.Flux(0x900);
      writer.Flux(0x10020);
      writer.Flux(5);
      if (!sentFirst) {
        writer.Index(c.position, 0, 0);
      }
      writer.StreamEnd();
      writer.EndOfFile();
      const FluxTrack flux = Parse(writer.Stream());
      EXPECT_EQ(flux.intervals, (std::vector<std::uint32_t>{100, 0x900, 0x10020, 5}));
      EXPECT_EQ(flux.indexes, std::vector<std::size_t>{c.index});
      EXPECT_TRUE(flux.faults.empty()) << flux.faults.front();
    }
  }
}

TEST(KryoFluxStream, FaultsAreNamedAndTheFluxBeforeThemKept) {
  // Each case writes its flux (intervals 20, 21, ..., an index at 1), breaks
  // the stream, and writes flux after the break that must not be read.
  using Break = std::function<void(KryoFluxStreamWriter&)>;
  const auto more = [](KryoFluxStreamWriter& writer) {
    writer.Flux(70);
    writer.Index(writer.Position() - 1, 0, 0);
    writer.Flux(71);
  };
  const struct {
    const char* what;
    std::size_t fluxBefore;
    Break breakIt;
    bool cut;           // the stream ends at the break
    std::string fault;  // "@" stands for the byte the break starts at
    std::size_t kept;   // intervals read
  } cases[] = {
      {"a stream position check that fails", 5,
       [](KryoFluxStreamWriter& w) { w.StreamInfo(w.Position() + 3); }, false,
       "the stream position check fails at byte @", 5},
      {"a stream end whose position is wrong", 5,
       [](KryoFluxStreamWriter& w) { w.StreamEnd(0, w.Position() - 1); }, false,
       "the stream position check fails at byte @", 5},
      {"an unknown out-of-band block", 6,
       [](KryoFluxStreamWriter& w) {
         w.OutOfBand(7, {1, 2});
       },
       false, "an out-of-band block of unknown type 7 at byte @", 6},
      {"an invalid out-of-band block", 6, [](KryoFluxStreamWriter& w) { w.OutOfBand(0, {}); },
       false, "an out-of-band block of unknown type 0 at byte @", 6},
      {"an index block too short for its fields", 4,
       [](KryoFluxStreamWriter& w) {
         w.OutOfBand(2, {0, 0, 0, 0});
       },
       false, "an index block of 4 bytes at byte @", 4},
      {"a Flux3 block cut short", 5,
       [](KryoFluxStreamWriter& w) {
         w.Raw({0x0C, 0x12});
       },
       true, "the stream ends inside a block at byte @", 5},
      {"a Flux2 block cut short", 5, [](KryoFluxStreamWriter& w) { w.Raw({0x03}); }, true,
       "the stream ends inside a block at byte @", 5},
      {"a Nop3 block cut short", 5,
       [](KryoFluxStreamWriter& w) {
         w.Raw({0x0A, 0});
       },
       true, "the stream ends inside a block at byte @", 5},
      {"an out-of-band header cut short", 5,
       [](KryoFluxStreamWriter& w) {
         w.Raw({0x0D, 0x02});
       },
       true, "the stream ends inside a block at byte @", 5},
      {"an out-of-band block cut short", 5,
       [](KryoFluxStreamWriter& w) {
         w.Raw({0x0D, 0x02, 12, 0, 1, 0, 0});
       },
       true, "the stream ends inside a block at byte @", 5},
      {"a stream that stops before its end", 1200, [](KryoFluxStreamWriter& /*w*/) {}, true,
       "the stream stops at byte @, before its end", 1200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    KryoFluxStreamWriter writer;
    writer.Info(KryoFluxClockInfo(kKryoFluxSampleClock));
    writer.StreamInfo();
    for (std::size_t i = 0; i < c.fluxBefore; ++i) {
      writer.Flux(20 + static_cast<std::uint32_t>(i % 200));
      if (i == 0) {
        writer.Index(writer.Position(), 0, 0);
      }
    }
    const std::size_t at = writer.Stream().size();
    c.breakIt(writer);
    if (!c.cut) {
      more(writer);
      writer.StreamEnd();
      writer.EndOfFile();
    }
    const FluxTrack flux = Parse(writer.Stream());
    std::string fault = c.fault;
    std::string byte = std::to_string(at);
    if (byte.size() > 3) {
      byte.insert(byte.size() - 3, ",");
    }
    fault.replace(fault.find('@'), 1, byte);
    EXPECT_EQ(flux.faults, std::vector<std::string>{fault});
    ASSERT_EQ(flux.intervals.size(), c.kept);
    EXPECT_EQ(flux.intervals.front(), 20U);
    // The index in the flux read stays; the one after the break is not read.
    EXPECT_EQ(flux.indexes, std::vector<std::size_t>{1});
  }
}

TEST(KryoFluxStream, WhatTheDeviceReportsIsToldAndTheFluxKept) {
  const struct {
    const char* what;
    std::uint32_t result;
    std::string info;
    std::string fault;
    double clock;
  } cases[] = {
      {"a buffer that overflowed", 1, "", "the device's buffer overflowed: flux was lost",
       kKryoFluxSampleClock},
      {"no index pulse", 2, "", "the device saw no index pulse", kKryoFluxSampleClock},
      {"an error of its own", 9, "", "the stream ends with error 9", kKryoFluxSampleClock},
      {"a sample clock that is no number", 0, "name=KryoFlux, sck=24O27428.57, ick=3",
       "the stream names a sample clock of '24O27428.57' at byte 0; the usual one was taken",
       kKryoFluxSampleClock},
      {"a sample clock of 10 Hz", 0, "sck=10",
       "the stream names a sample clock of '10' at byte 0; the usual one was taken",
       kKryoFluxSampleClock},
      {"a sample clock given alone", 0, "ick=3000000,sck=25000000", "", 25e6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    KryoFluxStreamWriter writer;
    writer.Info(c.info.empty() ? KryoFluxClockInfo(kKryoFluxSampleClock) : c.info);
    writer.Flux(300);
    writer.Flux(400);
    writer.StreamEnd(c.result);
    writer.EndOfFile();
    const FluxTrack flux = Parse(writer.Stream());
    EXPECT_EQ(flux.faults,
              c.fault.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.fault});
    EXPECT_EQ(flux.intervals, (std::vector<std::uint32_t>{300, 400}));
    EXPECT_NEAR(flux.sampleClock, c.clock, 1e-3);
  }
}

TEST(KryoFluxStream, NamesGiveTheTrack) {
  const struct {
    const char* name;
    int track;
  } cases[] = {
      {"track00.0.raw", 0},   {"track00.1.raw", 1},       {"track39.1.raw", 79},
      {"TRACK05.1.RAW", 11},  {"track081.1.raw", 163},    {"track85.1.raw", 171},
      {"track86.0.raw", 172}, {"track9999.1.raw", 19999}, {"track10000.0.raw", -1},
      {"track0.0.raw", -1},   {"track00.2.raw", -1},      {"track00.0.raw.bak", -1},
      {"xtrack00.0.raw", -1}, {"track0a.0.raw", -1},      {"track00_0.raw", -1},
      {"track.0.raw", -1},    {"track00.0.img", -1},      {"track99999999999.0.raw", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(KryoFluxTrackOfName(c.name), c.track) << c.name;
  }
}

// Three tracks, each with flux of its own; track 3's file breaks its
// position check, so that reading it tells which file was read.
std::map<int, KryoFluxTrackSpec> SmallDump() {
  std::map<int, KryoFluxTrackSpec> tracks;
  for (const int track : {0, 1, 3}) {
    KryoFluxTrackSpec spec;
    spec.intervals = Ramp(48 + static_cast<std::uint32_t>(track), 1, 30);
    spec.indexes = {0, 30};
    tracks[track] = spec;
  }
  return tracks;
}

void WriteFiles(const fs::path& folder, const std::vector<std::pair<std::string, Bytes>>& files) {
  for (const auto& [name, bytes] : files) {
    const fs::path path = folder / fs::u8path(name);
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
}

// The images an input gives, by name, each looked at while open.
class Collector : public ImageVisitor {
 public:
  using Look = std::function<void(const std::string& name, DiskImage& image)>;
  explicit Collector(Look look = {}) : look_(std::move(look)) {}

  void Image(const std::string& name, const std::string& member, DiskImage& image) override {
    names.push_back(name);
    members.push_back(member);
    formats.push_back(image.DescribeImage().format);
    if (look_) {
      look_(name, image);
    }
  }
  void Problem(const InputProblem& problem) override { problems.push_back(ProblemLine(problem)); }

  std::vector<std::string> names;
  std::vector<std::string> members;
  std::vector<std::string> formats;
  std::vector<std::string> problems;

 private:
  Look look_;
};

// Which tracks of the small dump the image holds, and what reading each
// told: "present", "missing", why it holds no flux, or the first fault.
std::map<int, std::string> Tracks(DiskImage& image) {
  std::map<int, std::string> seen;
  for (int track = 0; track < 6; ++track) {
    const std::shared_ptr<const Track> read = image.ReadTrack(0, track);
    if (!read) {
      seen[track] = "missing";
    } else if (read->Reading() && read->Reading()->revolutions == 0 && read->Sectors().empty() &&
               !read->Reading()->unread.empty()) {
      seen[track] = read->Reading()->unread;
    } else if (read->Reading() && !read->Reading()->faults.empty()) {
      seen[track] = read->Reading()->faults.front();
    } else {
      seen[track] = "present";
    }
  }
  return seen;
}

// Track 2's file is missing from the dump (track01.0.raw); tracks 4 and 5
// lie past its last file.
const std::map<int, std::string> kSmallDumpTracks = {
    {0, "present"}, {1, "present"}, {2, "no file track01.0.raw"},
    {3, "present"}, {4, "missing"}, {5, "missing"},
};

TEST(KryoFluxDump, AFolderOrOneOfItsFilesIsOneDump) {
  const fs::path scratch = MakeScratchFolder("kryoflux");
  const fs::path folder = scratch / "dump";
  WriteFiles(scratch, KryoFluxDumpFiles(SmallDump(), "dump"));
  WriteFiles(scratch, {{"dump/notes.txt", Bytes{'h', 'i'}}});
  const std::string name = folder.u8string();
  for (const std::string& given : {name, name + "/", name + "/track01.1.raw"}) {
    SCOPED_TRACE(given);
    Collector collector([](const std::string& /*name*/, DiskImage& image) {
      EXPECT_EQ(Tracks(image), kSmallDumpTracks);
      // No header claims a shape for a dump.
      EXPECT_FALSE(image.Describe(0).claimed.cylinders);
    });
    ForEachImage(given, collector);
    EXPECT_EQ(collector.names, std::vector<std::string>{name});
    EXPECT_EQ(collector.formats, std::vector<std::string>{"KryoFlux stream"});
    EXPECT_TRUE(collector.problems.empty()) << collector.problems.front();
  }
  EXPECT_TRUE(IsKryoFluxDumpFolder(name));
  EXPECT_FALSE(IsKryoFluxDumpFolder(scratch.u8string()));
}

TEST(KryoFluxDump, TracksAreReadFromTheirFilesWhenAskedFor) {
  const fs::path scratch = MakeScratchFolder("kryoflux");
  auto files = KryoFluxDumpFiles(SmallDump());
  // Track 3's file breaks its position check: its fault shows which file
  // gave the track. A second file of track 0 is told, not read.
  KryoFluxStreamWriter broken;
  broken.Info(KryoFluxClockInfo(kKryoFluxSampleClock));
  broken.Flux(50);
  const std::size_t brokenAt = broken.Stream().size();
  broken.StreamInfo(9);
  files[2].second = broken.Stream();
  files.emplace_back("track000.0.raw", KryoFluxStream(SmallDump()[0]));
  files.emplace_back("track02.0.raw", Bytes{'n', 'o', 't', 'e', 's'});
  WriteFiles(scratch, files);
  Collector collector([&scratch, brokenAt](const std::string& /*name*/, DiskImage& image) {
    // Opened, the dump has read no file: one removed now is missed when its
    // track is asked for.
    fs::remove(scratch / "track00.1.raw");
    std::map<int, std::string> expected = kSmallDumpTracks;
    expected[0] = "track000.0.raw holds this track too and was not read";
    expected[1] = "track00.1.raw cannot be read: No such file or directory";
    expected[3] = "the stream position check fails at byte " + std::to_string(brokenAt);
    expected[4] = "track02.0.raw is no KryoFlux stream";
    EXPECT_EQ(Tracks(image), expected);
  });
  ForEachImage(scratch.u8string(), collector);
  EXPECT_EQ(collector.names.size(), 1U);
}

TEST(KryoFluxDump, FilesOfTracksPastTheModelsAreToldNotRead) {
  const fs::path scratch = MakeScratchFolder("kryoflux");
  auto files = KryoFluxDumpFiles(SmallDump());
  files.emplace_back("track86.0.raw", KryoFluxStream(SmallDump()[0]));
  files.emplace_back("track90.1.raw", KryoFluxStream(SmallDump()[1]));
  WriteFiles(scratch, files);
  Collector collector([](const std::string& /*name*/, DiskImage& image) {
    EXPECT_EQ(image.DescribeImage().faults,
              std::vector<std::string>{"the image holds 182 tracks; tracks past 171 are not read"});
    EXPECT_EQ(Tracks(image), kSmallDumpTracks);
    EXPECT_FALSE(image.ReadTrack(0, DiskImage::kMaxTracks));
  });
  ForEachImage(scratch.u8string(), collector);
  EXPECT_EQ(collector.names.size(), 1U);
  EXPECT_TRUE(collector.problems.empty()) << collector.problems.front();
}

TEST(KryoFluxDump, AFolderWithoutStreamsKeepsItsError) {
  const fs::path scratch = MakeScratchFolder("kryoflux");
  WriteFiles(scratch, {{"empty/track00.0.txt", Bytes{1}}, {"empty/readme", Bytes{2}}});
  const std::string folder = (scratch / "empty").u8string();
  Collector collector;
  ForEachImage(folder, collector);
  EXPECT_TRUE(collector.names.empty());
  EXPECT_EQ(collector.problems,
            std::vector<std::string>{"error: cannot open '" + folder + "': Is a directory\n"});
}

TEST(KryoFluxDump, AStreamFromMemoryIsItsDumpsOnlyTrack) {
  const OpenedImage opened = Open(KryoFluxStream(SmallDump()[3]));
  ASSERT_TRUE(opened.image) << opened.message;
  EXPECT_EQ(std::string(opened.image->DescribeImage().format), "KryoFlux stream");
  std::map<int, std::string> expected;
  for (int track = 0; track < 6; ++track) {
    expected[track] = track == 0 ? "present" : "missing";
  }
  EXPECT_EQ(Tracks(*opened.image), expected);
  EXPECT_FALSE(opened.image->Describe(0).claimed.cylinders);

  // Its name, where it has one, places it.
  for (const char* name : {"track01.1.raw", "dump.zip/TRACK01.1.RAW"}) {
    SCOPED_TRACE(name);
    Collector collector([](const std::string& /*name*/, DiskImage& image) {
      std::map<int, std::string> atThree;
      for (int track = 0; track < 6; ++track) {
        atThree[track] = track == 3 ? "present" : "missing";
      }
      EXPECT_EQ(Tracks(image), atThree);
    });
    ForEachImage(name, KryoFluxStream(SmallDump()[3]), collector);
    EXPECT_EQ(collector.names, std::vector<std::string>{name});
  }
}

#ifdef ZEFACUT_TEST_ARCHIVES
TEST(KryoFluxDump, EachFolderOfAnArchiveIsOneDump) {
  auto members = KryoFluxDumpFiles({{0, SmallDump()[0]}, {3, SmallDump()[3]}}, "disks/a");
  const auto second = KryoFluxDumpFiles(SmallDump(), "disks/b");
  members.insert(members.begin() + 1, second.begin(), second.end());
  members.emplace_back("readme.txt", Bytes{'h', 'i'});
  members.emplace_back("plain.d88", BuildImage({PlainDisk(2, 5)}));
  const Bytes zip = BuildArchive(ArchiveKind::kZip, members);
  Collector collector([](const std::string& name, DiskImage& image) {
    if (name == "x.zip/disks/a") {
      EXPECT_EQ(Tracks(image), (std::map<int, std::string>{{0, "present"},
                                                           {1, "no file track00.1.raw"},
                                                           {2, "no file track01.0.raw"},
                                                           {3, "present"},
                                                           {4, "missing"},
                                                           {5, "missing"}}));
    } else if (name == "x.zip/disks/b") {
      EXPECT_EQ(Tracks(image), kSmallDumpTracks);
    }
  });
  ForEachImage("x.zip", zip, collector);
  EXPECT_EQ(collector.names,
            (std::vector<std::string>{"x.zip/plain.d88", "x.zip/disks/a", "x.zip/disks/b"}));
  EXPECT_EQ(collector.members,
            (std::vector<std::string>{"plain.d88", "disks/a/track*.raw", "disks/b/track*.raw"}));
  EXPECT_TRUE(collector.problems.empty()) << collector.problems.front();

  // Files at the top of the archive are the archive's dump.
  Collector top;
  ForEachImage("top.zip", BuildArchive(ArchiveKind::kZip, KryoFluxDumpFiles(SmallDump())), top);
  EXPECT_EQ(top.names, std::vector<std::string>{"top.zip"});
  EXPECT_EQ(top.members, std::vector<std::string>{"track*.raw"});
}

// The members of the real dump, (name, stream), in archive order.
std::vector<std::pair<std::string, Bytes>> RealDumpFiles() {
  std::vector<std::pair<std::string, Bytes>> files;
  const std::unique_ptr<ByteSource> source =
      MemorySource(ReadFixture("pc-360k-sector-test-kryoflux.zip"));
  const std::string reason = ForEachMember(*source, "dump.zip", [&](const ArchiveMember& member) {
    files.emplace_back(member.name, member.bytes);
  });
  EXPECT_EQ(reason, "");
  return files;
}

TEST(KryoFluxRealDump, EveryStreamParsesWhole) {
  const auto files = RealDumpFiles();
  ASSERT_EQ(files.size(), 80U);
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    EXPECT_GE(KryoFluxTrackOfName(name), 0);
    const FluxTrack flux = Parse(bytes);
    EXPECT_TRUE(flux.faults.empty()) << flux.faults.front();
    EXPECT_NEAR(flux.sampleClock, kKryoFluxSampleClock, 1.0);
    ASSERT_GE(flux.indexes.size(), 2U);
    // A 300 rpm drive: 200 ms from index to index.
    for (std::size_t k = 0; k + 1 < flux.indexes.size(); ++k) {
      std::uint64_t ticks = 0;
      for (std::size_t i = flux.indexes[k]; i < flux.indexes[k + 1]; ++i) {
        ticks += flux.intervals[i];
      }
      EXPECT_NEAR(static_cast<double>(ticks) / flux.sampleClock, 0.2, 0.004) << k;
    }
  }
}

// The sectors of a dump of the real disk: exactly those of its raw image,
// none flagged. Needs the flux decoder (flux/flux.cpp): with the stub
// that stands in for it on the KryoFlux branch, no sector is decoded.
void ExpectTheRawImagesSectors(DiskImage& image) {
  const Bytes raw = ReadFixture("pc-360k-sector-test.img");
  ASSERT_EQ(raw.size(), 40U * 2 * 9 * 512);
  ASSERT_EQ(image.DiskCount(), 1);
  for (int track = 0; track < 80; ++track) {
    SCOPED_TRACE(track);
    const std::shared_ptr<const Track> read = image.ReadTrack(0, track);
    ASSERT_TRUE(read);
    ASSERT_TRUE(read->Reading());
    EXPECT_TRUE(read->Reading()->faults.empty());
    std::vector<int> numbers;
    for (const Sector& sector : read->Sectors()) {
      numbers.push_back(sector.id.r);
      EXPECT_EQ(sector.id.c, track / 2);
      EXPECT_EQ(sector.id.h, track % 2);
      EXPECT_EQ(sector.id.n, 2);
      EXPECT_EQ(sector.flags, 0);
      EXPECT_GE(sector.revolutionsGood, 1);
      const std::size_t at = (static_cast<std::size_t>(track) * 9 + sector.id.r - 1) * 512;
      ASSERT_LE(at + 512, raw.size());
      EXPECT_EQ(ReadSector(image, sector), Bytes(raw.begin() + at, raw.begin() + at + 512))
          << int{sector.id.r};
    }
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  }
  EXPECT_FALSE(image.ReadTrack(0, 80));
}

TEST(KryoFluxRealDump, ReadsAsTheRawImageFromTheArchive) {
  Collector collector(
      [](const std::string& /*name*/, DiskImage& image) { ExpectTheRawImagesSectors(image); });
  ForEachImage(FixturePath("pc-360k-sector-test-kryoflux.zip"), collector);
  EXPECT_EQ(collector.names,
            std::vector<std::string>{FixturePath("pc-360k-sector-test-kryoflux.zip")});
  EXPECT_TRUE(collector.problems.empty()) << collector.problems.front();
}

TEST(KryoFluxRealDump, ReadsAsTheRawImageUnpackedAsAFolderOrFromOneFile) {
  const fs::path scratch = MakeScratchFolder("kryoflux");
  WriteFiles(scratch / "sector-test", RealDumpFiles());
  const std::string folder = (scratch / "sector-test").u8string();
  for (const std::string& given : {folder, folder + "/track17.1.raw"}) {
    SCOPED_TRACE(given);
    Collector collector(
        [](const std::string& /*name*/, DiskImage& image) { ExpectTheRawImagesSectors(image); });
    ForEachImage(given, collector);
    EXPECT_EQ(collector.names, std::vector<std::string>{folder});
    EXPECT_TRUE(collector.problems.empty()) << collector.problems.front();
  }
}
#endif

}  // namespace

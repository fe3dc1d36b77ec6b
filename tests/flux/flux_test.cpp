// Tests of the flux layer and the SCP reader: tracks read from flux that a
// drive gives (its speed drifting, its flux changes jittering), sectors read
// badly in some revolutions or in all, damaged SCP files, and tracks decoded
// only when asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "flux/flux.h"
#include "flux/scp_image.h"
#include "input/byte_source.h"
#include "input/open_image.h"
#include "known/cut_reading.h"
#include "known/known_disks.h"
#include "support/format_test_helpers.h"
#include "support/test_files.h"
#include "testkit/flux_writers.h"
#include "testkit/image_builder.h"

namespace {

constexpr double kScpClock = 40e6;

const SectorSpec& SpecR(const DiskSpec& disk, int track, int r) {
  const std::vector<SectorSpec>& sectors = disk.tracks.at(track).sectors;
  const auto found = std::find_if(sectors.begin(), sectors.end(),
                                  [r](const SectorSpec& sector) { return sector.r == r; });
  return found != sectors.end() ? *found : sectors.front();
}

FluxTrack AsFluxTrack(const WrittenFlux& written, double clock) {
  FluxTrack flux;
  flux.sampleClock = clock;
  flux.intervals = written.intervals;
  flux.indexes = written.indexes;
  return flux;
}

// --- Revolutions merged into sectors

TEST(FluxMerge, EachSectorComesFromARevolutionThatReadItWell) {
  DiskSpec disk = KnownDisk(3, 0x5C9);
  disk.tracks = {{12, disk.tracks.at(12)}};
  const Bytes original = SpecR(disk, 12, 5).data;
  Bytes sameByteSpoilt = original;
  sameByteSpoilt[100] ^= 0x10;
  const struct {
    const char* what;
    std::vector<int> revolutions;  // spoilt; empty: all
    std::optional<std::size_t> byte;
    SectorFlags flags;
    int good;
    Bytes data;
    int recoveredFrom;
  } cases[] = {
      {"bad in the first of three", {0}, std::nullopt, 0, 2, original, 0},
      {"bad in the last of three", {2}, std::nullopt, 0, 2, original, 0},
      {"bad in two of three", {0, 2}, std::nullopt, 0, 1, original, 0},
      // Each read spoilt in another byte: byte by byte, most reads agree
      // on the sector's own data, which passes its CRC: the sector is read.
      {"bad in all, each elsewhere", {}, std::nullopt, 0, 0, original, 3},
      // The same byte spoilt in all: what they agree on fails the CRC, and
      // the CRC error stays told.
      {"bad in all, the same byte", {}, 100, kDataCrcError, 0, sameByteSpoilt, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScpOptions options;
    options.flux.damage = {{12, 5, c.revolutions, c.byte, std::nullopt}};
    const OpenedImage opened = Open(BuildScp(disk, options));
    ASSERT_TRUE(opened.image) << opened.message;
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 12);
    ASSERT_TRUE(track);
    ASSERT_EQ(track->Sectors().size(), 8U);
    for (const Sector& sector : track->Sectors()) {
      SCOPED_TRACE("R" + std::to_string(sector.id.r));
      const bool damaged = sector.id.r == 5;
      EXPECT_EQ(sector.flags, damaged ? c.flags : 0);
      EXPECT_EQ(sector.revolutions, 3);
      EXPECT_EQ(sector.revolutionsGood, damaged ? c.good : 3);
      EXPECT_EQ(sector.recoveredFrom, damaged ? c.recoveredFrom : 0);
      EXPECT_EQ(ReadSector(*opened.image, sector),
                damaged ? c.data : SpecR(disk, 12, sector.id.r).data);
    }
    // In the order they lie from the index.
    for (std::size_t i = 0; i < 8; ++i) {
      EXPECT_EQ(track->Sectors()[i].id.r, i + 1);
    }
    ASSERT_TRUE(track->Reading());
    EXPECT_EQ(track->Reading()->revolutions, 3);
    EXPECT_EQ(track->Reading()->dataRate, 500000U);
    EXPECT_TRUE(track->Reading()->faults.empty());
  }
}

TEST(FluxMerge, AnIdUnreadableInOneRevolutionIsStillItsSector) {
  DiskSpec disk = PlainDisk(3, 0x3B);
  disk.tracks = {{2, disk.tracks.at(2)}};
  const Bytes& original = SpecR(disk, 2, 4).data;
  const struct {
    const char* what;
    std::vector<FluxDamage> damage;
    SectorFlags flags;
    int good;
  } cases[] = {
      // R 4 reads as R 20 in the first revolution: the sector there, read
      // badly once, not a sector of its own.
      {"R spoilt once", {{2, 4, {0}, std::nullopt, 2}}, 0, 2},
      // N 3 reads as 19 (a size no track holds) once, and the data fails
      // in the other two: the bytes come from the reads of its own size.
      {"N spoilt once, data in the others",
       {{2, 4, {0}, std::nullopt, 3}, {2, 4, {1, 2}, std::nullopt, std::nullopt}},
       kDataCrcError,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScpOptions options;
    options.flux.damage = c.damage;
    const OpenedImage opened = Open(BuildScp(disk, options));
    ASSERT_TRUE(opened.image) << opened.message;
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 2);
    ASSERT_TRUE(track);
    ASSERT_EQ(track->Sectors().size(), 8U);
    const Sector& sector = track->Sectors()[3];
    EXPECT_EQ(sector.id, (SectorId{1, 0, 4, 3}));
    EXPECT_EQ(sector.flags, c.flags);
    EXPECT_EQ(sector.revolutionsGood, c.good);
    EXPECT_EQ(sector.revolutions, 3);
    EXPECT_EQ(sector.recordedSize, 1024U);
    const Bytes read = ReadSector(*opened.image, sector);
    ASSERT_EQ(read.size(), 1024U);
    if (c.flags == 0) {
      EXPECT_EQ(read, original);
    }
  }
}

TEST(FluxMerge, MarksEveryRevolutionGivesAreKept) {
  DiskSpec disk = PlainDisk(2, 0x3A);
  std::vector<SectorSpec>& sectors = disk.tracks[1].sectors;
  sectors[1].status = 0xA0;  // ID CRC error
  sectors[2].status = 0xF0;  // no data mark
  sectors[3].deletedMark = 0x10;
  const OpenedImage opened = Open(BuildScp(disk));
  ASSERT_TRUE(opened.image) << opened.message;
  const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 1);
  ASSERT_TRUE(track);
  ASSERT_EQ(track->Sectors().size(), 8U);
  const std::vector<std::pair<SectorFlags, int>> want = {
      {0, 3}, {kIdCrcError, 0}, {kNoDataMark, 0}, {kDeletedData, 3},
      {0, 3}, {0, 3},           {0, 3},           {0, 3}};
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    const Sector& sector = track->Sectors()[i];
    EXPECT_EQ(sector.flags, want[i].first);
    EXPECT_EQ(sector.revolutionsGood, want[i].second);
    EXPECT_EQ(sector.revolutions, 3);
    if (want[i].first != kNoDataMark) {
      EXPECT_EQ(ReadSector(*opened.image, sector), sectors[i].data);
    }
  }
}

// --- A known disk cut from flux as people's drives read it

// Each file of a known disk: whether it is written, its bytes, its notes.
struct Cuts {
  std::vector<bool> written;
  std::vector<Bytes> bytes;
  std::vector<std::vector<std::string>> notes;
};

Cuts CutEach(DiskImage& image, DiskKind kind) {
  Cuts cuts;
  const KnownDiskRow* known = FindKnownDisk(kind);
  for (std::size_t i = 0; known != nullptr && i < known->cutCount; ++i) {
    const CutReading reading = ReadCut(image, 0, known->cuts[i]);
    cuts.written.push_back(reading.written);
    Bytes bytes;
    if (reading.written) {
      const auto from = reading.run.bytes.begin() + static_cast<std::ptrdiff_t>(reading.from);
      bytes.assign(from, from + static_cast<std::ptrdiff_t>(reading.size));
    }
    cuts.bytes.push_back(bytes);
    cuts.notes.push_back(reading.notes);
  }
  return cuts;
}

TEST(FluxConditions, TheKnownDiskIsCutRightFromFluxAsDrivesReadIt) {
  // ZEFA LOMRI 2 Disk B (2HD): its files lie in tracks 5 to 13, FMSE in
  // track 12, R5 to R8.
  const DiskSpec disk = KnownDisk(3, 0xD1, 14);
  const OpenedImage d88 = Open(BuildImage({disk}));
  ASSERT_TRUE(d88.image);
  const Cuts want = CutEach(*d88.image, DiskKind::Title2DiskB);
  ASSERT_FALSE(want.written.empty());
  const struct {
    const char* what;
    double driveRpm;
    double drift;
    double positionUs;
    double intervalShare;
    std::vector<FluxDamage> damage;
  } cases[] = {
      {"read at 300 rpm (416.7 kbit/s)", 300, 0.02, 0, 0, {}},
      {"at 300 rpm, changes out of place by 0.2 us", 300, 0.01, 0.2, 0, {}},
      {"changes out of place by 0.25 us", 360, 0.01, 0.25, 0, {}},
      {"intervals stretched by up to 7 %", 360, 0.01, 0, 0.07, {}},
      {"the speed wandering by 8 % within a revolution", 360, 0.08, 0, 0, {}},
      // FMSE's R6 read badly in every revolution, each time in another
      // byte: the bytes they agree on pass the CRC, and no doubt is told.
      {"a sector recovered from its bad reads", 360, 0.02, 0, 0, {{12, 6, {}, {}, {}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScpOptions options;
    options.flux.driveRpm = c.driveRpm;
    options.flux.drift = c.drift;
    options.flux.jitter = 0.02;
    options.flux.positionJitterUs = c.positionUs;
    options.flux.intervalJitter = c.intervalShare;
    options.flux.damage = c.damage;
    const OpenedImage opened = Open(BuildScp(disk, options));
    ASSERT_TRUE(opened.image) << opened.message;
    const Cuts got = CutEach(*opened.image, DiskKind::Title2DiskB);
    EXPECT_EQ(got.written, want.written);
    EXPECT_TRUE(got.bytes == want.bytes);
    EXPECT_EQ(got.notes, want.notes);
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 12);
    ASSERT_TRUE(track && track->Reading());
    EXPECT_EQ(track->Reading()->dataRate, c.driveRpm == 300 ? 416667U : 500000U);
    for (const Sector& sector : track->Sectors()) {
      EXPECT_EQ(sector.recoveredFrom, !c.damage.empty() && sector.id.r == 6 ? 3 : 0);
    }
  }
}

// --- The data rate and the rotation found from the flux

TEST(FluxRate, IsFoundFromTheFluxWhateverTheDriveAndItsDrift) {
  // Four sectors of 1024 bytes fit a track at every rate.
  DiskSpec disk = PlainDisk(1, 0x77);
  disk.tracks[0].sectors.resize(4);
  // The disk as written (its rate and speed), the drive that read it, the
  // noise of the reading; the rate found, and every sector read well.
  const struct {
    std::uint32_t rate;
    std::uint32_t found;
    double rpm;
    double driveRpm;  // 0: as rpm
    double clock;
    double drift;
    double positionUs;
    double intervalShare;
  } cases[] = {
      {250000, 250000, 300, 0, kScpClock, 0.03, 0, 0},    // 2DD in its own drive
      {250000, 300000, 300, 360, kScpClock, 0.03, 0, 0},  // 2DD in a 360 rpm drive
      {300000, 300000, 360, 0, kScpClock, 0.03, 0, 0},    // written at 300 kbit/s
      {500000, 500000, 360, 0, kScpClock, 0.03, 0, 0},    // 2HD at 360 rpm
      {500000, 416667, 360, 300, kScpClock, 0.03, 0, 0},  // 2HD in a 300 rpm drive
      {500000, 500000, 300, 0, kScpClock, 0.03, 0, 0},    // 2HD written at 300 rpm
      {500000, 500000, 360, 0, 24027428.5, 0.04, 0, 0},   // another sample clock
      {250000, 250000, 300, 0, 20e6, 0.0, 0, 0},
      {500000, 500000, 360, 0, kScpClock, 0.07, 0, 0},     // the speed wandering
      {500000, 500000, 360, 0, kScpClock, 0.01, 0.25, 0},  // changes out of place
      {500000, 416667, 360, 300, kScpClock, 0.01, 0.25, 0},
      {250000, 300000, 300, 360, kScpClock, 0.01, 0.4, 0},
      {500000, 416667, 360, 300, 24027428.5, 0.01, 0.2, 0},  // a KryoFlux's clock
      {500000, 500000, 360, 0, kScpClock, 0.01, 0, 0.08},    // intervals stretched
      {250000, 250000, 300, 0, kScpClock, 0.01, 0, 0.08},
      // Not a rate of any drive: a rate is measured, not chosen.
      {350000, 350000, 300, 0, kScpClock, 0.01, 0, 0},
      {900000, 900000, 360, 0, kScpClock, 0.01, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " bit/s at " + std::to_string(c.rpm) + " rpm, read at " +
                 std::to_string(c.driveRpm) + " rpm, clock " + std::to_string(c.clock) +
                 ", drift " + std::to_string(c.drift) + ", noise " + std::to_string(c.positionUs) +
                 " us, " + std::to_string(c.intervalShare));
    FluxOptions options;
    options.dataRate = c.rate;
    options.rpm = c.rpm;
    options.driveRpm = c.driveRpm;
    options.drift = c.drift;
    options.jitter = c.positionUs > 0 || c.intervalShare > 0 ? 0.02 : 0.08;
    options.positionJitterUs = c.positionUs;
    options.intervalJitter = c.intervalShare;
    const DecodedFluxTrack decoded =
        DecodeFluxTrack(AsFluxTrack(TrackFlux(disk, 0, options, c.clock), c.clock));
    const double driveRpm = c.driveRpm > 0 ? c.driveRpm : c.rpm;
    // The speed's wander does not end where it started after three
    // revolutions: the mean speed, and the rate with it, is off by a share
    // of it.
    EXPECT_NEAR(decoded.reading.dataRate, c.found, c.found * (0.003 + c.drift / 4));
    EXPECT_NEAR(decoded.reading.rpm, driveRpm, driveRpm * (0.01 + c.drift / 4));
    EXPECT_EQ(decoded.reading.revolutions, 3);
    ASSERT_EQ(decoded.sectors.size(), 4U);
    for (std::size_t i = 0; i < 4; ++i) {
      const Sector& sector = decoded.sectors[i];
      EXPECT_EQ(sector.flags, 0);
      EXPECT_EQ(sector.revolutionsGood, 3);
      const Bytes& want = disk.tracks[0].sectors[i].data;
      ASSERT_EQ(sector.size, want.size());
      EXPECT_TRUE(std::equal(want.begin(), want.end(),
                             decoded.data.begin() + static_cast<std::ptrdiff_t>(sector.location)));
    }
  }
}

TEST(FluxRate, FluxThatHoldsNoMfmNamesNoRate) {
  FluxTrack flux;
  flux.sampleClock = kScpClock;
  std::uint32_t state = 12345;
  for (int i = 0; i < 30000; ++i) {
    state = state * 1103515245U + 12345U;
    flux.intervals.push_back(20 + (state >> 16U) % 400);
  }
  flux.indexes = {0, 15000, 30000};
  const DecodedFluxTrack decoded = DecodeFluxTrack(flux);
  EXPECT_EQ(decoded.reading.dataRate, 0U);
  EXPECT_TRUE(decoded.sectors.empty());
  // No flux at all, or no clock: nothing, and no crash.
  EXPECT_TRUE(DecodeFluxTrack(FluxTrack{}).sectors.empty());
  flux.sampleClock = 0;
  EXPECT_TRUE(DecodeFluxTrack(flux).sectors.empty());
}

TEST(FluxRate, WithoutIndexesTheFluxIsOneReading) {
  DiskSpec disk = PlainDisk(1, 0x78);
  FluxOptions options;
  options.revolutions = 1;
  WrittenFlux written = TrackFlux(disk, 0, options, kScpClock);
  for (const std::vector<std::size_t>& indexes :
       {std::vector<std::size_t>{}, std::vector<std::size_t>{5}, std::vector<std::size_t>{9, 3}}) {
    written.indexes = indexes;
    const DecodedFluxTrack decoded = DecodeFluxTrack(AsFluxTrack(written, kScpClock));
    ASSERT_EQ(decoded.sectors.size(), 8U);
    EXPECT_EQ(decoded.reading.revolutions, 1);
    EXPECT_EQ(decoded.reading.rpm, 0);
    EXPECT_EQ(decoded.sectors[0].revolutions, 1);
  }
}

// --- SCP files

TEST(ScpReader, HeaderVariantsReadTheSameTracks) {
  const DiskSpec disk = PlainDisk(6, 0x5C);
  const struct {
    const char* what;
    unsigned heads;
    bool extended;
    unsigned resolution;
    int revolutions;
  } cases[] = {
      {"both heads", 0, false, 0, 3},  {"side 0 only", 1, false, 0, 2},
      {"side 1 only", 2, false, 0, 2}, {"extended mode", 0, true, 0, 1},
      {"50 ns ticks", 0, false, 1, 2}, {"75 ns ticks, side 1", 2, false, 2, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScpOptions options;
    options.heads = c.heads;
    options.extended = c.extended;
    options.resolution = c.resolution;
    options.flux.revolutions = c.revolutions;
    const OpenedImage opened = Open(BuildScp(disk, options));
    ASSERT_TRUE(opened.image) << opened.message;
    EXPECT_STREQ(opened.image->DescribeImage().format, "SCP");
    const DiskInfo info = opened.image->Describe(0);
    EXPECT_EQ(info.claimed.cylinders, 3);
    EXPECT_EQ(info.claimed.heads, c.heads == 0 ? 2 : 1);
    for (int index = 0; index < 8; ++index) {
      SCOPED_TRACE("track " + std::to_string(index));
      const bool held = index < 6 && (c.heads == 0 || index % 2 == static_cast<int>(c.heads) - 1);
      const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, index);
      ASSERT_EQ(track != nullptr, held);
      if (!held) {
        continue;
      }
      EXPECT_EQ(track->Reading()->revolutions, c.revolutions);
      ASSERT_EQ(track->Sectors().size(), 8U);
      for (const Sector& sector : track->Sectors()) {
        EXPECT_EQ(sector.flags, 0);
        EXPECT_EQ(sector.revolutionsGood, c.revolutions);
        EXPECT_EQ(ReadSector(*opened.image, sector), SpecR(disk, index, sector.id.r).data);
      }
    }
  }
}

// One side of a disk of 45 cylinders, in today's layout (2 x cylinder +
// head) and the older one (the cylinder); and 48 tpi disks read in a 96 tpi
// drive, with and without the flag, with the odd physical tracks empty or
// echoing: each cylinder where the model keeps it, 2 x cylinder + head.
TEST(ScpReader, LayoutsOfOneSideAndOfA96TpiDriveReadByCylinder) {
  const DiskSpec wide = PlainDisk(90, 0x5D);
  const DiskSpec narrow = PlainDisk(12, 0x5E);
  const struct {
    const char* what;
    const DiskSpec& disk;
    unsigned heads;
    bool byCylinder;
    bool doubleStepped;
    bool echoes;
    bool flag96Tpi;
    std::vector<int> cylinders;  // those looked at
  } cases[] = {
      {"side 0, today's layout", wide, 1, false, false, false, false, {0, 1, 21, 42, 44}},
      {"side 0, the older layout", wide, 1, true, false, false, false, {0, 1, 21, 42, 44}},
      {"side 1, today's layout", wide, 2, false, false, false, false, {0, 1, 42, 44}},
      {"side 1, the older layout", wide, 2, true, false, false, false, {0, 1, 42, 44}},
      {"side 0, 96 tpi flag, read track by track", wide, 1, false, false, false, true, {0, 44}},
      {"both heads, double-stepped, flagged", narrow, 0, false, true, false, true, {0, 1, 5}},
      {"both heads, double-stepped, no flag", narrow, 0, false, true, false, false, {0, 1, 5}},
      {"both heads, double-stepped, echoes", narrow, 0, false, true, true, true, {0, 1, 5}},
      {"side 0 today's layout, double-stepped", narrow, 1, false, true, false, true, {0, 3, 5}},
      {"side 1 older layout, double-stepped", narrow, 2, true, true, true, false, {0, 3, 5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScpOptions options;
    options.flux.revolutions = 1;
    options.heads = c.heads;
    options.byCylinder = c.byCylinder;
    options.doubleStepped = c.doubleStepped;
    options.echoes = c.echoes;
    options.flag96Tpi = c.flag96Tpi;
    const OpenedImage opened = Open(BuildScp(c.disk, options));
    ASSERT_TRUE(opened.image) << opened.message;
    EXPECT_EQ(opened.image->Describe(0).doubleStepped, c.doubleStepped);
    for (const int cylinder : c.cylinders) {
      for (int head = 0; head < 2; ++head) {
        const int index = 2 * cylinder + head;
        SCOPED_TRACE("track " + std::to_string(index));
        const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, index);
        if (c.heads != 0 && head != static_cast<int>(c.heads) - 1) {
          EXPECT_FALSE(track);
          continue;
        }
        ASSERT_TRUE(track);
        EXPECT_NE(opened.image->Describe(0).trackLocations.at(static_cast<std::size_t>(index)), 0);
        ASSERT_EQ(track->Sectors().size(), 8U);
        for (const Sector& sector : track->Sectors()) {
          EXPECT_EQ(sector.id.c, cylinder);
          EXPECT_EQ(ReadSector(*opened.image, sector), SpecR(c.disk, index, sector.id.r).data);
        }
      }
    }
  }
}

// One side in the older layout numbers its tracks by cylinder: a disk read
// past 86 cylinders keeps those up to 86 and tells that the rest are not
// read. (Today's layout, 2 x cylinder + head, ends inside the model with
// the table's 168 entries.)
TEST(ScpReader, TracksPastTheModelsAreTold) {
  ScpOptions options;
  options.flux.revolutions = 1;
  options.heads = 1;
  options.byCylinder = true;
  const OpenedImage opened = Open(BuildScp(PlainDisk(180, 0x5F), options));
  ASSERT_TRUE(opened.image) << opened.message;
  EXPECT_EQ(opened.image->DescribeImage().faults,
            std::vector<std::string>{"the image holds 179 tracks; tracks past 171 are not read"});
  const std::shared_ptr<const Track> last = opened.image->ReadTrack(0, 170);
  ASSERT_TRUE(last);
  ASSERT_EQ(last->Sectors().size(), 8U);
  EXPECT_EQ(last->Sectors().front().id.c, 85);
  EXPECT_FALSE(opened.image->ReadTrack(0, DiskImage::kMaxTracks));
}

// The real dump of side 0 of a 360 KB disk, in today's single-sided
// layout, reads sector for sector as that side of the disk's raw image.
TEST(ScpRealDump, SideZeroReadsAsTheRawImagesSideZero) {
  const OpenedImage opened = Open(ReadFixture("pc-360k-sector-test-side0-10cyl.scp"));
  ASSERT_TRUE(opened.image) << opened.message;
  const Bytes raw = ReadFixture("pc-360k-sector-test.img");
  ASSERT_EQ(raw.size(), 368640U);
  EXPECT_FALSE(opened.image->Describe(0).doubleStepped);
  EXPECT_TRUE(opened.image->CheckWholeFile().empty());
  for (int cylinder = 0; cylinder < 10; ++cylinder) {
    SCOPED_TRACE("cylinder " + std::to_string(cylinder));
    EXPECT_FALSE(opened.image->ReadTrack(0, 2 * cylinder + 1));
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 2 * cylinder);
    ASSERT_TRUE(track);
    ASSERT_EQ(track->Sectors().size(), 9U);
    for (const Sector& sector : track->Sectors()) {
      EXPECT_EQ(sector.id.c, cylinder);
      EXPECT_EQ(sector.id.h, 0);
      EXPECT_EQ(sector.flags, 0);
      const auto at = static_cast<std::ptrdiff_t>(cylinder * 2 * 9 + sector.id.r - 1) * 512;
      EXPECT_EQ(ReadSector(*opened.image, sector), Bytes(raw.begin() + at, raw.begin() + at + 512))
          << "R" << static_cast<int>(sector.id.r);
    }
  }
  EXPECT_FALSE(opened.image->ReadTrack(0, 20));
}

// The checksum covers the whole file: checked only when asked for.
TEST(ScpReader, TheChecksumIsCheckedWhenTheWholeFileIsRead) {
  for (const bool bad : {false, true}) {
    SCOPED_TRACE(bad ? "bad" : "good");
    ScpOptions options;
    options.flux.revolutions = 1;
    options.badChecksum = bad;
    const Bytes scp = BuildScp(PlainDisk(2, 0x62), options);
    const OpenedImage opened = Open(scp);
    ASSERT_TRUE(opened.image) << opened.message;
    const std::vector<std::string> faults = opened.image->CheckWholeFile();
    if (!bad) {
      EXPECT_TRUE(faults.empty()) << faults.front();
      continue;
    }
    std::uint32_t sum = 0;
    for (std::size_t i = 0x10; i < scp.size(); ++i) {
      sum += scp[i];
    }
    char text[120];
    std::snprintf(text, sizeof text, "the checksum in the header is 0x%X but the file sums to 0x%X",
                  sum + 1, sum);
    ASSERT_EQ(faults.size(), 1U);
    EXPECT_EQ(faults[0], std::string(text) + ": it was changed or damaged after it was written");
  }
}

constexpr std::size_t kTable = 0x10;

// The offset of the track header the table gives for SCP track `number`.
std::size_t TrackAt(const Bytes& scp, int number) {
  const std::size_t entry = kTable + 4 * static_cast<std::size_t>(number);
  return scp[entry] | scp[entry + 1] << 8U | scp[entry + 2] << 16U |
         static_cast<std::size_t>(scp[entry + 3]) << 24U;
}

TEST(ScpReader, DamagedHeadersAndTablesSayWhy) {
  ScpOptions options;
  options.flux.revolutions = 1;
  const Bytes whole = BuildScp(PlainDisk(2, 0x61), options);
  const auto patched = [&whole](std::size_t at, std::uint8_t value) {
    Bytes bytes = whole;
    bytes[at] = value;
    return bytes;
  };
  Bytes intoHeader = whole;
  std::fill(intoHeader.begin() + kTable + 4, intoHeader.begin() + kTable + 8, 0);
  intoHeader[kTable + 4] = 0x0C;
  Bytes noTracks = whole;
  std::fill(noTracks.begin() + kTable, noTracks.begin() + kTable + 8, 0);
  const struct {
    const char* what;
    Bytes bytes;
    std::string error;
  } cases[] = {
      {"the first track after the last", patched(6, 2),
       "the first track (2) is after the last (1)"},
      {"a last track past the table", patched(7, 200),
       "the last track (200) is past the track table's 168 entries"},
      {"a table cut short", Bytes(whole.begin(), whole.begin() + 0x14),
       "the track table runs past the end of the file (20 bytes)"},
      {"a header alone", Bytes(whole.begin(), whole.begin() + 16),
       "the track table runs past the end of the file (16 bytes)"},
      {"no track in the table", noTracks, "the track table lists no track"},
      {"a track inside the header", intoHeader,
       "the track table gives track 1 at offset 0xC, inside the header"},
      // Headers whose fields make no sense, still claimed by their
      // signature and refused.
      {"no revolutions", patched(5, 0), "the header gives no revolutions"},
      {"8-bit flux values", patched(9, 8), "flux values of 8 bits are not read"},
      {"three heads", patched(10, 3), "the header gives heads 3"},
      {"a header cut short", Bytes(whole.begin(), whole.begin() + 10),
       "the file ends inside the header"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const LoadResult loaded = kScpFormat.load(MemorySource(c.bytes));
    EXPECT_FALSE(loaded.image);
    EXPECT_EQ(loaded.error, c.error);
    if (c.bytes.size() >= 16) {
      EXPECT_EQ(IdentifiedFormat(c.bytes), "SCP");
    }
    if (IdentifiedFormat(c.bytes) == "SCP") {
      const OpenedImage opened = Open(c.bytes);
      EXPECT_FALSE(opened.image);
      EXPECT_EQ(opened.message, "cannot be read as SCP: " + c.error);
    }
  }
}

TEST(ScpReader, DamagedTracksKeepWhatTheyHoldAndSayWhatIsWrong) {
  ScpOptions options;
  options.flux.revolutions = 2;
  const DiskSpec disk = PlainDisk(2, 0x62);
  const Bytes whole = BuildScp(disk, options);
  const std::size_t track1 = TrackAt(whole, 1);
  const auto patched = [&whole](std::size_t at, std::vector<std::uint8_t> bytes) {
    Bytes out = whole;
    std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
    return out;
  };
  // Revolution 2 of track 1 cut 1000 values short.
  const std::size_t secondFlux =
      track1 + (whole[track1 + 24] | whole[track1 + 25] << 8U | whole[track1 + 26] << 16U);
  const std::size_t secondCount =
      whole[track1 + 20] | whole[track1 + 21] << 8U | whole[track1 + 22] << 16U;
  const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(
                                                     secondFlux + 2 * (secondCount - 1000)));
  const std::string at = "0x" + [track1] {
    char text[16];
    std::snprintf(text, sizeof text, "%zX", track1);
    return std::string(text);
  }();
  const struct {
    const char* what;
    Bytes bytes;
    std::size_t sectors;  // of track 1
    int revolutions;
    std::vector<std::string> faults;
  } cases[] = {
      {"a header past the end",
       patched(kTable + 4, {0xF0, 0xFF, 0xFF, 0x00}),
       0,
       0,
       {"its header at offset 0xFFFFF0 runs past the end of the file"}},
      {"no TRK", patched(track1, {'T', 'R', 'X'}), 0, 0, {"no track header (TRK) at offset " + at}},
      {"another track's number",
       patched(track1 + 3, {7}),
       8,
       2,
       {"its header names track 7, not 1"}},
      {"flux cut short",
       cut,
       8,
       1,
       {"revolution 2's flux runs past the end of the file: " + std::to_string(secondCount - 1000) +
        " of " + std::to_string(secondCount) + " values are read"}},
      {"a count past any track",
       patched(track1 + 20, {0, 0, 0, 1}),
       8,
       1,
       {"revolution 2 gives 16777216 flux changes, more than a track holds; it is not read"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const OpenedImage opened = Open(c.bytes);
    ASSERT_TRUE(opened.image) << opened.message;
    EXPECT_EQ(opened.image->ReadTrack(0, 0)->Sectors().size(), 8U);
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 1);
    ASSERT_TRUE(track);
    ASSERT_TRUE(track->Reading());
    EXPECT_EQ(track->Reading()->faults, c.faults);
    EXPECT_EQ(track->Reading()->revolutions, c.revolutions);
    ASSERT_EQ(track->Sectors().size(), c.sectors);
    for (const Sector& sector : track->Sectors()) {
      EXPECT_EQ(sector.flags, 0);
      EXPECT_EQ(sector.revolutionsGood, c.revolutions);
      EXPECT_EQ(ReadSector(*opened.image, sector), SpecR(disk, 1, sector.id.r).data);
    }
  }
}

// --- Tracks decoded when asked for

// Flux of a disk's tracks, counting what is asked for.
class CountingSource : public FluxSource {
 public:
  CountingSource(const DiskSpec& disk, std::map<int, int>& reads) : disk_(disk), reads_(reads) {}
  int TrackCount() const override { return 30; }
  bool ReadFlux(int track, FluxTrack& flux) override {
    ++reads_[track];
    if (disk_.tracks.count(track) == 0) {
      return false;
    }
    FluxOptions options;
    options.revolutions = 2;
    flux = AsFluxTrack(TrackFlux(disk_, track, options, kScpClock), kScpClock);
    return true;
  }

 private:
  const DiskSpec& disk_;
  std::map<int, int>& reads_;
};

TEST(FluxImage, DecodesEachTrackOnceWhenFirstAskedFor) {
  DiskSpec disk = PlainDisk(24, 0x63);
  disk.tracks.erase(7);
  std::map<int, int> reads;
  std::unique_ptr<DiskImage> image =
      MakeFluxImage("test flux", 1234, DiskInfo{}, std::make_unique<CountingSource>(disk, reads));
  EXPECT_TRUE(reads.empty());
  EXPECT_EQ(image->DescribeImage().fileSize, 1234);
  EXPECT_STREQ(image->DescribeImage().format, "test flux");
  for (const int track : {5, 7, 5, 7, 12, 30, -1, 200}) {
    const std::shared_ptr<const Track> read = image->ReadTrack(0, track);
    EXPECT_EQ(read != nullptr, track == 5 || track == 12) << track;
  }
  // The first track asked for first reads track 4 (cylinder 2), whose IDs
  // tell whether the dump was read in a 96 tpi drive.
  EXPECT_EQ(reads, (std::map<int, int>{{4, 1}, {5, 1}, {7, 1}, {12, 1}}));
  EXPECT_FALSE(image->ReadTrack(1, 5));
  // The data of each track stays its own once others are decoded.
  const std::shared_ptr<const Track> five = image->ReadTrack(0, 5);
  const std::shared_ptr<const Track> twelve = image->ReadTrack(0, 12);
  EXPECT_EQ(ReadSector(*image, five->Sectors()[2]), SpecR(disk, 5, 3).data);
  EXPECT_EQ(ReadSector(*image, twelve->Sectors()[7]), SpecR(disk, 12, 8).data);
}

// --- A whole disk decoded on many threads

// What a whole disk reads as: each track's reading and sectors, field by
// field, and the bytes of every sector.
struct DiskRead {
  std::vector<std::string> tracks;
  std::vector<Bytes> data;
};

std::string Describe(const TrackReading& reading) {
  std::string text = "revolutions " + std::to_string(reading.revolutions) + ", rate " +
                     std::to_string(reading.dataRate) + ", rpm " + std::to_string(reading.rpm) +
                     ", unread '" + reading.unread + "'";
  for (const std::string& fault : reading.faults) {
    text += "; " + fault;
  }
  return text;
}

DiskRead ReadWholeDisk(DiskImage& image) {
  DiskRead read;
  for (int index = 0; index < DiskImage::kMaxTracks; ++index) {
    const std::shared_ptr<const Track> track = image.ReadTrack(0, index);
    std::string text = "track " + std::to_string(index) + ": ";
    if (!track) {
      read.tracks.push_back(text + "none");
      continue;
    }
    text += track->Reading() ? Describe(*track->Reading()) : "no reading";
    text += track->CutShort() ? ", cut short" : "";
    for (const Sector& sector : track->Sectors()) {
      char line[160];
      std::snprintf(line, sizeof line,
                    " [%u %u %u %u flags %u fm %d size %u of %u, %u of %u good, recovered %u]",
                    sector.id.c, sector.id.h, sector.id.r, sector.id.n, sector.flags,
                    sector.singleDensity ? 1 : 0, sector.size, sector.recordedSize,
                    sector.revolutionsGood, sector.revolutions, sector.recoveredFrom);
      text += line;
      read.data.push_back(ReadSector(image, sector));
    }
    read.tracks.push_back(text);
  }
  return read;
}

// Flux decoding put back to its default, track by track, however the test
// ends.
struct LazyDecodingAfter {
  LazyDecodingAfter() = default;
  LazyDecodingAfter(const LazyDecodingAfter&) = delete;
  LazyDecodingAfter& operator=(const LazyDecodingAfter&) = delete;
  ~LazyDecodingAfter() { DecodeWholeFluxDisks(false); }
};

// Decoding every track at once, on one thread or several, reads the disk
// exactly as decoding each track when it is asked for: the same sectors,
// flags, counts of revolutions and bytes, the same faults.
TEST(FluxWholeDisk, ManyThreadsReadTheDiskAsOneTrackAtATime) {
  const LazyDecodingAfter restore;
  DiskSpec damaged = PlainDisk(12, 0x71);
  damaged.tracks.erase(9);
  ScpOptions noisy;
  noisy.flux.positionJitterUs = 0.2;
  noisy.flux.damage = {{3, 2, {0, 1}, std::nullopt, std::nullopt},  // read well once
                       {5, 4, {}, std::nullopt, std::nullopt},      // recovered by the vote
                       {6, 1, {1}, std::nullopt, 2},                // its ID spoilt once
                       {10, 7, {}, 10, std::nullopt}};              // bad in every one
  Bytes cut = BuildScp(PlainDisk(6, 0x72));
  cut.resize(cut.size() * 9 / 10);  // the last tracks cut short
  ScpOptions stepped;
  stepped.doubleStepped = true;
  stepped.echoes = true;
  const struct {
    const char* what;
    Bytes image;
  } cases[] = {
      {"noisy flux, damaged sectors, a track missing", BuildScp(damaged, noisy)},
      {"the file cut short", cut},
      {"a 48 tpi disk read in a 96 tpi drive", BuildScp(PlainDisk(8, 0x73), stepped)},
      {"a real dump", ReadFixture("pc-360k-sector-test-side0-10cyl.scp")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DecodeWholeFluxDisks(false);
    const OpenedImage lazy = Open(c.image);
    ASSERT_TRUE(lazy.image) << lazy.message;
    const DiskRead expected = ReadWholeDisk(*lazy.image);
    for (const unsigned threads : {1U, 3U}) {
      SCOPED_TRACE(std::to_string(threads) + " threads");
      DecodeWholeFluxDisks(true, threads);
      const OpenedImage whole = Open(c.image);
      ASSERT_TRUE(whole.image) << whole.message;
      const DiskRead read = ReadWholeDisk(*whole.image);
      EXPECT_EQ(read.tracks, expected.tracks);
      EXPECT_TRUE(read.data == expected.data);
    }
  }
}

// Asked for the whole disk, the first track asked for decodes every track
// the dump may hold, each read from the source once; no track is read again.
TEST(FluxWholeDisk, TheFirstTrackAskedForDecodesEveryTrackOnce) {
  const LazyDecodingAfter restore;
  DecodeWholeFluxDisks(true, 3);
  DiskSpec disk = PlainDisk(24, 0x63);
  disk.tracks.erase(7);
  std::map<int, int> reads;
  std::unique_ptr<DiskImage> image =
      MakeFluxImage("test flux", 1234, DiskInfo{}, std::make_unique<CountingSource>(disk, reads));
  EXPECT_TRUE(reads.empty());
  ASSERT_TRUE(image->ReadTrack(0, 12));
  std::map<int, int> expected;
  for (int track = 0; track < 30; ++track) {
    expected[track] = 1;
  }
  expected[4] = 2;  // once more to tell whether the drive stepped twice
  EXPECT_EQ(reads, expected);
  EXPECT_FALSE(image->ReadTrack(0, 7));
  EXPECT_FALSE(image->ReadTrack(0, 29));
  const std::shared_ptr<const Track> five = image->ReadTrack(0, 5);
  ASSERT_TRUE(five);
  EXPECT_EQ(ReadSector(*image, five->Sectors()[2]), SpecR(disk, 5, 3).data);
  EXPECT_EQ(reads, expected);
}

}  // namespace

// Tests of the IMD and HFE readers, and of Teledisk's in the tables of whole
// disks (tests/formats/td0_image_test.cpp has the rest of it): images their writers
// make (the same disk as D88 holds it), damaged variants of them, and real
// images of other tools in tests/data. Every image is opened the way the tool opens one, by
// content, from memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "formats/sector_image.h"
#include "input/open_image.h"
#include "support/format_test_helpers.h"
#include "support/test_files.h"
#include "testkit/format_writers.h"
#include "testkit/image_builder.h"

namespace {

// Every track of the disk reads back from the image with the same IDs, in
// the same order, with no flags and the same bytes.
void ExpectDisk(DiskImage& image, const DiskSpec& disk) {
  for (const auto& [index, track] : disk.tracks) {
    SCOPED_TRACE("track " + std::to_string(index));
    const std::shared_ptr<const Track> read = image.ReadTrack(0, index);
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(read->Sectors().size(), track.sectors.size());
    for (std::size_t i = 0; i < track.sectors.size(); ++i) {
      const SectorSpec& spec = track.sectors[i];
      const Sector& sector = read->Sectors()[i];
      EXPECT_EQ(sector.id, (SectorId{spec.c, spec.h, spec.r, spec.n}));
      EXPECT_EQ(sector.flags, 0);
      EXPECT_EQ(sector.recordedSize, spec.data.size());
      EXPECT_EQ(ReadSector(image, sector), spec.data) << "sector " << i;
    }
  }
}

struct TrackFormat {
  WrittenFormat format;
  const char* label;
  const char* name;  // as the tool names the format
};
const TrackFormat kTrackFormats[] = {
    {WrittenFormat::kImd, "IMD", "IMD"},
    {WrittenFormat::kHfe1, "HFE revision 1", "HFE"},
    {WrittenFormat::kHfe3, "HFE revision 3", "HFE"},
    {WrittenFormat::kTd0, "Teledisk", "Teledisk"},
};

// --- Identification and reading back

TEST(TrackFormats, AreIdentifiedByTheirSignatures) {
  const DiskSpec disk = PlainDisk(2, 7);
  for (const TrackFormat& format : kTrackFormats) {
    SCOPED_TRACE(format.label);
    const Bytes bytes = BuildInFormat(format.format, disk);
    const std::string identified = IdentifiedFormat(bytes);
    EXPECT_EQ(identified, format.name);
    const OpenedImage opened = Open(bytes);
    ASSERT_TRUE(opened.image) << opened.message;
    EXPECT_EQ(opened.image->DescribeImage().format, identified);
  }
  // Near misses of the signatures are not these formats.
  for (const std::string& text : {std::string("IMD1.18: "), std::string("HXCPICFX"),
                                  std::string("HXCHFEV2"), std::string("imd ")}) {
    Bytes bytes(text.begin(), text.end());
    bytes.resize(4096, 0);
    const std::string identified = IdentifiedFormat(bytes);
    EXPECT_NE(identified, "IMD") << text;
    EXPECT_NE(identified, "HFE") << text;
  }
}

TEST(TrackFormats, WholeDisksReadBackByteForByte) {
  std::vector<DiskSpec> disks = {PlainDisk(154, 11), KnownDisk(0, 12), KnownDisk(5, 13)};
  for (const TrackFormat& format : kTrackFormats) {
    for (const DiskSpec& disk : disks) {
      SCOPED_TRACE(std::string(format.label) + ", disk " + disk.name);
      const OpenedImage opened = Open(BuildInFormat(format.format, disk));
      ASSERT_TRUE(opened.image) << opened.message;
      EXPECT_EQ(opened.image->DiskCount(), 1);
      ExpectDisk(*opened.image, disk);
      // No track beyond the disk's.
      const int tracks = static_cast<int>(disk.tracks.size());
      for (int track = tracks; track < DiskImage::kMaxTracks; ++track) {
        const std::shared_ptr<const Track> read = opened.image->ReadTrack(0, track);
        EXPECT_TRUE(read == nullptr || read->Sectors().empty()) << "track " << track;
      }
    }
  }
}

TEST(TrackFormats, IdsThatDifferFromTheTrackAndUnevenSizesReadBack) {
  // IDs as copy protection and odd formats have them: C and H other than
  // the track's, sizes other than 1024, and a single-sided disk.
  DiskSpec disk;
  for (const int track : {0, 2, 6}) {
    TrackSpec& spec = disk.tracks[track];
    for (int i = 0; i < 5; ++i) {
      SectorSpec sector;
      sector.c = static_cast<std::uint8_t>(track == 2 ? 40 + i : track / 2);
      sector.h = static_cast<std::uint8_t>(track == 6 ? 1 : 0);
      sector.r = static_cast<std::uint8_t>(track == 0 ? 0xF0 + i : 9 - i);
      sector.n = static_cast<std::uint8_t>(track == 0 ? i % 3 : 1);
      sector.data = PatternSector(31, track, i, 128 << sector.n);
      spec.sectors.push_back(sector);
    }
  }
  // Two sectors with the same ID, as some protections have them.
  disk.tracks[6].sectors[3].r = disk.tracks[6].sectors[1].r;
  for (const TrackFormat& format : kTrackFormats) {
    SCOPED_TRACE(format.label);
    const OpenedImage opened = Open(BuildInFormat(format.format, disk));
    ASSERT_TRUE(opened.image) << opened.message;
    ExpectDisk(*opened.image, disk);
    for (const int track : {1, 3, 5, 7}) {
      EXPECT_EQ(opened.image->ReadTrack(0, track), nullptr) << "track " << track;
    }
  }
}

// --- What the images record about sectors

struct FlaggedSector {
  std::uint8_t deletedMark;
  std::uint8_t status;
};

DiskSpec FlaggedDisk(const std::vector<FlaggedSector>& flagged) {
  DiskSpec disk = PlainDisk(4, 21);
  std::vector<SectorSpec>& sectors = disk.tracks[2].sectors;
  for (std::size_t i = 0; i < flagged.size(); ++i) {
    sectors[i].deletedMark = flagged[i].deletedMark;
    sectors[i].status = flagged[i].status;
  }
  return disk;
}

TEST(ImdReader, RecordTypesGiveTheFlags) {
  const DiskSpec disk = FlaggedDisk({{0, 0},
                                     {0x10, 0},
                                     {0, 0xB0},
                                     {0x10, 0xB0},
                                     {0, 0xF0},
                                     {0, 0x10},
                                     {0, 0xA0}});  // IMD cannot record an ID CRC error
  const OpenedImage opened = Open(BuildImd(disk));
  ASSERT_TRUE(opened.image) << opened.message;
  const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 2);
  ASSERT_NE(track, nullptr);
  ASSERT_EQ(track->Sectors().size(), 8U);
  const SectorFlags expected[] = {
      0, kDeletedData, kDataCrcError, kDeletedData | kDataCrcError, kNoDataMark, kDeletedData, 0,
      0};
  for (std::size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE("sector " + std::to_string(i));
    const Sector& sector = track->Sectors()[i];
    EXPECT_EQ(sector.flags, expected[i]);
    EXPECT_EQ(sector.id, (SectorId{1, 0, static_cast<std::uint8_t>(i + 1), 3}));
    EXPECT_FALSE(sector.singleDensity);
    if (expected[i] == kNoDataMark) {
      // The data could not be read when the disk was imaged: none is held.
      EXPECT_EQ(sector.size, 0U);
      EXPECT_EQ(sector.recordedSize, 0U);
    } else {
      EXPECT_EQ(ReadSector(*opened.image, sector), disk.tracks.at(2).sectors[i].data);
    }
  }
  ExpectDisk(*opened.image, PlainDisk(2, 21));
}

TEST(ImdReader, CompressedRecordsExpandToTheSectorSize) {
  DiskSpec disk = PlainDisk(4, 22);
  SectorData(disk, 1, 2).assign(1024, 0xE5);
  SectorData(disk, 1, 5).assign(1024, 0x00);
  SectorData(disk, 3, 8).assign(1024, 0xE5);
  disk.tracks[3].sectors[7].deletedMark = 0x10;
  disk.tracks[3].sectors[7].status = 0xB0;
  const Bytes bytes = BuildImd(disk);
  // Three sectors are held as one byte each.
  EXPECT_EQ(bytes.size(), BuildImd(PlainDisk(4, 22)).size() - std::size_t{3} * 1023);
  const OpenedImage opened = Open(bytes);
  ASSERT_TRUE(opened.image) << opened.message;
  const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 3);
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(track->Sectors()[7].flags, kDeletedData | kDataCrcError);
  // Everything else reads as written; the flagged sector's bytes too.
  DiskSpec unflagged = disk;
  unflagged.tracks.erase(3);
  ExpectDisk(*opened.image, unflagged);
  EXPECT_EQ(ReadSector(*opened.image, track->Sectors()[7]), Bytes(1024, 0xE5));
}

TEST(HfeReader, MarksAndCrcsGiveTheFlags) {
  const DiskSpec disk = FlaggedDisk({{0, 0},
                                     {0x10, 0},
                                     {0, 0xB0},
                                     {0, 0xA0},
                                     {0, 0xF0},
                                     {0x10, 0xB0},
                                     {0, 0xE0}});  // no ID field: no sector
  for (const int revision : {1, 3}) {
    SCOPED_TRACE("revision " + std::to_string(revision));
    const OpenedImage opened = Open(BuildHfe(disk, revision));
    ASSERT_TRUE(opened.image) << opened.message;
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 2);
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(track->Sectors().size(), 7U);
    const std::uint8_t numbers[] = {1, 2, 3, 4, 5, 6, 8};
    const SectorFlags expected[] = {
        0, kDeletedData, kDataCrcError, kIdCrcError, kNoDataMark, kDeletedData | kDataCrcError, 0};
    for (std::size_t i = 0; i < 7; ++i) {
      SCOPED_TRACE("sector " + std::to_string(i));
      const Sector& sector = track->Sectors()[i];
      EXPECT_EQ(sector.id, (SectorId{1, 0, numbers[i], 3}));
      EXPECT_EQ(sector.flags, expected[i]);
      if (expected[i] == kNoDataMark) {
        EXPECT_EQ(sector.size, 0U);
        EXPECT_EQ(sector.recordedSize, 0U);
      } else {
        // A CRC error keeps the bytes as read.
        EXPECT_EQ(ReadSector(*opened.image, sector),
                  disk.tracks.at(2).sectors[numbers[i] - 1U].data);
      }
    }
    ExpectDisk(*opened.image, PlainDisk(2, 21));
  }
}

TEST(HfeReader, HeaderGivesTheGeometry) {
  DiskSpec disk = PlainDisk(154, 3);
  const OpenedImage opened = Open(BuildHfe(disk, 1));
  ASSERT_TRUE(opened.image) << opened.message;
  const DiskInfo info = opened.image->Describe(0);
  EXPECT_EQ(info.claimed.cylinders, 77);
  EXPECT_EQ(info.claimed.heads, 2);
  EXPECT_FALSE(info.claimed.sectorsPerTrack.has_value());
  EXPECT_FALSE(info.claimed.sectorSize.has_value());
  ASSERT_EQ(info.trackLocations.size(), static_cast<std::size_t>(DiskImage::kMaxTracks));
  // Cylinder 0 starts at block 2; side 1 half a block later.
  EXPECT_EQ(info.trackLocations[0], 1024);
  EXPECT_EQ(info.trackLocations[1], 1024 + 256);
  EXPECT_EQ(info.trackLocations[154], 0);
}

// --- Damaged IMD images

constexpr std::size_t kPlainImdRecord = 5 + 8 + 8 * (1 + 1024);

std::size_t ImdFirstRecord(const Bytes& bytes) {
  return static_cast<std::size_t>(std::find(bytes.begin(), bytes.end(), 0x1A) - bytes.begin()) + 1;
}

Bytes Cut(Bytes bytes, std::size_t length) {
  bytes.resize(length);
  return bytes;
}

TEST(ImdReader, TruncatedFilesKeepWhatTheyHold) {
  const DiskSpec disk = PlainDisk(4, 41);
  const Bytes whole = BuildImd(disk);
  const std::size_t first = ImdFirstRecord(whole);
  const std::size_t second = first + kPlainImdRecord;
  ASSERT_EQ(whole.size(), first + 4 * kPlainImdRecord);

  // In the comment: no image.
  const OpenedImage inComment = Open(Cut(whole, first - 3));
  EXPECT_FALSE(inComment.image);
  EXPECT_EQ(inComment.message, "cannot be read as IMD: the comment has no end (no byte 0x1A)");

  struct Case {
    const char* what;
    std::size_t length;
    std::size_t track1Sectors;  // of track 1; -1: absent
    std::size_t lastSize;       // bytes held of its last sector
    bool cutShort;              // the track says the file ends inside it, of its 8 sectors
  };
  constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);
  const Case cases[] = {
      {"the comment only", first, kAbsent, 0, false},
      {"in the track header", second + 3, kAbsent, 0, false},
      {"in the sector-number map", second + 5 + 4, 0, 0, true},
      {"after the maps", second + 5 + 8, 0, 0, true},
      {"after a record type", second + 5 + 8 + 1, 1, 0, true},
      {"in the third sector's data", second + 5 + 8 + std::size_t{2} * 1025 + 1 + 100, 3, 100,
       true},
      {"at a record's end", second + kPlainImdRecord, 8, 1024, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const OpenedImage opened = Open(Cut(whole, c.length));
    ASSERT_TRUE(opened.image) << opened.message;
    if (c.length > first) {
      ExpectDisk(*opened.image, PlainDisk(1, 41));
    }
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 1);
    if (c.track1Sectors == kAbsent) {
      EXPECT_EQ(track, nullptr);
      continue;
    }
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(track->Sectors().size(), c.track1Sectors);
    ASSERT_EQ(track->CutShort().has_value(), c.cutShort);
    if (c.cutShort) {
      EXPECT_EQ(track->CutShort()->announced, 8U);
    }
    EXPECT_FALSE(opened.image->ReadTrack(0, 0)->CutShort());
    for (std::size_t i = 0; i < c.track1Sectors; ++i) {
      const Sector& sector = track->Sectors()[i];
      const Bytes& data = disk.tracks.at(1).sectors[i].data;
      const std::size_t held = i + 1 == c.track1Sectors ? c.lastSize : 1024;
      EXPECT_EQ(sector.recordedSize, 1024U);
      EXPECT_EQ(ReadSector(*opened.image, sector),
                Bytes(data.begin(), data.begin() + static_cast<long>(held)));
    }
    EXPECT_EQ(opened.image->ReadTrack(0, 2), nullptr);
  }
}

// An IMD file of the given track records after a short comment.
Bytes ImdOf(const std::vector<Bytes>& records) {
  const std::string head = "IMD 1.18: test\x1A";
  Bytes bytes(head.begin(), head.end());
  for (const Bytes& record : records) {
    bytes.insert(bytes.end(), record.begin(), record.end());
  }
  return bytes;
}

Bytes Repeat(std::size_t count, std::uint8_t value) { return Bytes(count, value); }

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

TEST(ImdReader, CountsAndSizesThatRunPastTheEndAreClipped) {
  // 255 sectors of 8192 bytes announced, one type byte and 10 bytes held.
  Bytes numbers(255);
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    numbers[i] = static_cast<std::uint8_t>(i);
  }
  const OpenedImage opened =
      Open(ImdOf({Join({{3, 0, 0, 255, 6}, numbers, {1}, Repeat(10, 0x77)})}));
  ASSERT_TRUE(opened.image) << opened.message;
  const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 0);
  ASSERT_NE(track, nullptr);
  ASSERT_EQ(track->Sectors().size(), 1U);
  EXPECT_EQ(track->Sectors()[0].id, (SectorId{0, 0, 0, 6}));
  EXPECT_EQ(track->Sectors()[0].recordedSize, 8192U);
  EXPECT_EQ(ReadSector(*opened.image, track->Sectors()[0]), Repeat(10, 0x77));
}

TEST(ImdReader, CompressedRecordsShareTheirBytes) {
  // Every track of the model full of compressed 8 KiB sectors: a small file
  // that would expand to 340 MB sector by sector.
  std::vector<Bytes> records;
  for (int track = 0; track < DiskImage::kMaxTracks; ++track) {
    Bytes record = {3, static_cast<std::uint8_t>(track / 2), static_cast<std::uint8_t>(track % 2),
                    255, 6};
    for (int r = 0; r < 255; ++r) {
      record.push_back(static_cast<std::uint8_t>(r));
    }
    for (int r = 0; r < 255; ++r) {
      record.insert(record.end(), {2, static_cast<std::uint8_t>(r)});
    }
    records.push_back(record);
  }
  const OpenedImage opened = Open(ImdOf(records));
  ASSERT_TRUE(opened.image) << opened.message;
  const auto* image = dynamic_cast<const SectorImage*>(opened.image.get());
  ASSERT_NE(image, nullptr);
  EXPECT_LE(image->Data().size(), std::size_t{256} * 8192 + 200000);
  for (const int index : {0, 77, 163}) {
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, index);
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(track->Sectors().size(), 255U);
    for (const std::size_t r : {0U, 1U, 200U, 254U}) {
      EXPECT_EQ(ReadSector(*opened.image, track->Sectors()[r]),
                Repeat(8192, static_cast<std::uint8_t>(r)));
    }
  }
}

TEST(ImdReader, SizeTablesGiveEachSectorItsSize) {
  const Bytes record = Join({{3, 5, 1 | 0x80 | 0x40, 4, 0xFF},
                             {1, 2, 3, 4},                      // R
                             {9, 9, 9, 9},                      // C
                             {0, 1, 0, 1},                      // H
                             {128, 0, 0xE8, 3, 0, 0, 0x2C, 1},  // 128, 1000, 0, 300
                             {1},
                             Repeat(128, 0x11),
                             {5},
                             Repeat(1000, 0x22),
                             {1},
                             {2, 0x44}});
  const OpenedImage opened = Open(ImdOf({record}));
  ASSERT_TRUE(opened.image) << opened.message;
  const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 11);
  ASSERT_NE(track, nullptr);
  ASSERT_EQ(track->Sectors().size(), 4U);
  const SectorId ids[] = {{9, 0, 1, 0}, {9, 1, 2, 3}, {9, 0, 3, 0}, {9, 1, 4, 2}};
  const Bytes data[] = {Repeat(128, 0x11), Repeat(1000, 0x22), {}, Repeat(300, 0x44)};
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE("sector " + std::to_string(i));
    EXPECT_EQ(track->Sectors()[i].id, ids[i]);
    EXPECT_EQ(track->Sectors()[i].flags, i == 1 ? kDataCrcError : 0);
    EXPECT_EQ(ReadSector(*opened.image, track->Sectors()[i]), data[i]);
  }
}

TEST(ImdReader, RecordsThatCannotBeOnesEndTheWalk) {
  const Bytes good0 = Join({{3, 0, 0, 1, 0, 1, 1}, Repeat(128, 0x10)});
  const Bytes good1 = Join({{3, 0, 1, 1, 0, 1, 1}, Repeat(128, 0x11)});
  const Bytes fm = Join({{0, 1, 0, 1, 0, 1, 2, 0x12}});
  struct Case {
    const char* what;
    Bytes bad;
    std::size_t keptTracks;  // of good0, good1
    const char* error;       // when nothing is kept
  };
  const Case cases[] = {
      {"mode 6", {6, 1, 0, 1, 0, 1, 1}, 2, nullptr},
      {"size code 7", {3, 1, 0, 1, 7, 1, 1}, 2, nullptr},
      {"record type 9", {3, 1, 0, 1, 0, 1, 9}, 2, nullptr},
      {"mode 6 first",
       {6, 1, 0, 1, 0, 1, 1},
       0,
       "cannot be read as IMD: the first track record is not one (mode 6)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes bytes =
        c.keptTracks == 0 ? ImdOf({c.bad, good0}) : ImdOf({good0, good1, c.bad, fm});
    const OpenedImage opened = Open(bytes);
    if (c.error != nullptr) {
      EXPECT_FALSE(opened.image);
      EXPECT_EQ(opened.message, c.error);
      continue;
    }
    ASSERT_TRUE(opened.image) << opened.message;
    ASSERT_NE(opened.image->ReadTrack(0, 0), nullptr);
    ASSERT_NE(opened.image->ReadTrack(0, 1), nullptr);
    EXPECT_EQ(opened.image->ReadTrack(0, 2), nullptr);
    // The rest of the file is reported after the records.
    EXPECT_EQ(opened.image->DescribeImage().bytesAfterLastDisk, c.bad.size() + fm.size());
  }
  // The FM record itself reads, as single density, when nothing bad is before it.
  const OpenedImage fmOnly = Open(ImdOf({fm}));
  ASSERT_TRUE(fmOnly.image) << fmOnly.message;
  const std::shared_ptr<const Track> track = fmOnly.image->ReadTrack(0, 2);
  ASSERT_NE(track, nullptr);
  ASSERT_EQ(track->Sectors().size(), 1U);
  EXPECT_TRUE(track->Sectors()[0].singleDensity);
  EXPECT_EQ(ReadSector(*fmOnly.image, track->Sectors()[0]), Repeat(128, 0x12));
  EXPECT_EQ(fmOnly.image->DescribeImage().bytesAfterLastDisk, 0);
}

TEST(ImdReader, TracksWithNoPlaceOrRecordedTwiceAreWalkedOverAndTold) {
  const Bytes head2 = Join({{3, 0, 2, 1, 0, 1, 1}, Repeat(128, 0x20)});
  const Bytes cylinder90 = Join({{3, 90, 0, 1, 0, 1, 1}, Repeat(128, 0x21)});
  const Bytes first = Join({{3, 3, 1, 1, 0, 1, 1}, Repeat(128, 0x22)});
  const Bytes again = Join({{3, 3, 1, 1, 0, 1, 1}, Repeat(128, 0x23)});
  const OpenedImage opened = Open(ImdOf({head2, cylinder90, first, again}));
  ASSERT_TRUE(opened.image) << opened.message;
  for (int index = 0; index < DiskImage::kMaxTracks; ++index) {
    EXPECT_EQ(opened.image->ReadTrack(0, index) != nullptr, index == 7) << "track " << index;
  }
  const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 7);
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(ReadSector(*opened.image, track->Sectors().at(0)), Repeat(128, 0x22));
  EXPECT_EQ(opened.image->DescribeImage().bytesAfterLastDisk, 0);
  const std::size_t start = ImdOf({}).size();
  const std::size_t record = head2.size();
  EXPECT_EQ(
      opened.image->DescribeImage().faults,
      (std::vector<std::string>{"the track record at byte " + std::to_string(start) +
                                    " is of head 2, which no disk has; it is not read",
                                "track 7 is recorded a second time, at byte " +
                                    std::to_string(start + 3 * record) + "; the first is read",
                                "the image holds 181 tracks; tracks past 171 are not read"}));
}

// A disk read past its 80 cylinders keeps every track up to 86 cylinders;
// past them, the image says how many it holds and which are not read.
TEST(TrackFormats, TracksUpTo86CylindersAreKeptAndThoseAfterAreTold) {
  const struct {
    int tracks;
    int kept;
    std::vector<std::string> faults;
  } cases[] = {
      {168, 168, {}},
      {172, 172, {}},
      {180, 172, {"the image holds 180 tracks; tracks past 171 are not read"}},
  };
  for (const TrackFormat& format : kTrackFormats) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(format.label) + ", " + std::to_string(c.tracks) + " tracks");
      const DiskSpec disk = PlainDisk(c.tracks, 61);
      const OpenedImage opened = Open(BuildInFormat(format.format, disk));
      ASSERT_TRUE(opened.image) << opened.message;
      EXPECT_EQ(opened.image->DescribeImage().faults, c.faults);
      DiskSpec kept = disk;
      for (int index = c.kept; index < c.tracks; ++index) {
        kept.tracks.erase(index);
      }
      ExpectDisk(*opened.image, kept);
    }
  }
}

// --- Damaged HFE images

constexpr std::size_t kHfeTrackList = 512;
constexpr std::size_t kHfeFirstTrack = 1024;

Bytes Patched(Bytes bytes, std::size_t at, std::initializer_list<std::uint8_t> values) {
  std::copy(values.begin(), values.end(), bytes.begin() + static_cast<long>(at));
  return bytes;
}

TEST(HfeReader, AbsurdHeadersGiveClearErrors) {
  const Bytes whole = BuildHfe(PlainDisk(4, 51), 1);
  const std::string fileSize = std::to_string(whole.size());
  struct Case {
    const char* what;
    Bytes bytes;
    std::string message;
  };
  const Case cases[] = {
      {"header cut", Cut(whole, 16), "the file ends inside the header"},
      {"revision 1", Patched(whole, 8, {1}), "format revision 1 is not read"},
      {"no cylinders", Patched(whole, 9, {0}), "the header gives no cylinders"},
      {"no sides", Patched(whole, 10, {0}), "the header gives 0 sides"},
      {"three sides", Patched(whole, 10, {3}), "the header gives 3 sides"},
      {"track list past the end", Patched(whole, 18, {0xFF, 0xFF}),
       "the track list at offset 33553920 runs past the end of the file (" + fileSize + " bytes)"},
      {"255 cylinders in a short file", Cut(Patched(whole, 9, {255}), 1000),
       "the track list at offset 512 runs past the end of the file (1000 bytes)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const OpenedImage opened = Open(c.bytes);
    EXPECT_FALSE(opened.image);
    EXPECT_EQ(opened.message, std::string("cannot be read as HFE: ") + c.message);
  }
}

TEST(HfeReader, TrackListValuesOutsideTheFileGiveAbsentOrClippedTracks) {
  const DiskSpec disk = PlainDisk(6, 52);
  for (const int revision : {1, 3}) {
    SCOPED_TRACE("revision " + std::to_string(revision));
    const Bytes whole = BuildHfe(disk, revision);
    // 255 cylinders: the entries after the third are the list's 0xFF fill
    // (past the end of the file) and then cell bytes.
    {
      const OpenedImage opened = Open(Patched(whole, 9, {255}));
      ASSERT_TRUE(opened.image) << opened.message;
      ExpectDisk(*opened.image, disk);
      EXPECT_EQ(opened.image->ReadTrack(0, 6), nullptr);
      EXPECT_EQ(opened.image->Describe(0).claimed.cylinders, 255);
    }
    // Cylinder 1's cells start past the end of the file: absent.
    {
      const OpenedImage opened = Open(Patched(whole, kHfeTrackList + 4, {0x00, 0x40}));
      ASSERT_TRUE(opened.image) << opened.message;
      EXPECT_EQ(opened.image->ReadTrack(0, 2), nullptr);
      EXPECT_EQ(opened.image->ReadTrack(0, 3), nullptr);
      EXPECT_EQ(opened.image->Describe(0).trackLocations[2], 0x4000 * 512);
      DiskSpec rest = disk;
      rest.tracks.erase(2);
      rest.tracks.erase(3);
      ExpectDisk(*opened.image, rest);
    }
    // Cylinder 0 says it is 0xFFFF bytes long: it runs on into the next
    // cylinders' cells, whose sectors follow its own.
    {
      const OpenedImage opened = Open(Patched(whole, kHfeTrackList + 2, {0xFF, 0xFF}));
      ASSERT_TRUE(opened.image) << opened.message;
      for (const int index : {0, 1}) {
        const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, index);
        ASSERT_NE(track, nullptr);
        ASSERT_GE(track->Sectors().size(), 8U);
        for (std::size_t i = 0; i < 8; ++i) {
          EXPECT_EQ(ReadSector(*opened.image, track->Sectors()[i]),
                    disk.tracks.at(index).sectors[i].data);
        }
      }
    }
    // Cylinder 0 has no bytes.
    {
      const OpenedImage opened = Open(Patched(whole, kHfeTrackList + 2, {0, 0}));
      ASSERT_TRUE(opened.image) << opened.message;
      ASSERT_NE(opened.image->ReadTrack(0, 0), nullptr);
      EXPECT_TRUE(opened.image->ReadTrack(0, 0)->Sectors().empty());
    }
  }
}

TEST(HfeReader, TruncatedFilesKeepTheSectorsBeforeTheCut) {
  const DiskSpec disk = PlainDisk(4, 53);
  for (const int revision : {1, 3}) {
    for (const std::size_t blocks : {0, 5, 9, 20, 31}) {
      SCOPED_TRACE("revision " + std::to_string(revision) + ", cut after cylinder 1's block " +
                   std::to_string(blocks));
      const Bytes whole = BuildHfe(disk, revision);
      const std::size_t cylinder1 =
          std::size_t{512} * (whole[kHfeTrackList + 4] | whole[kHfeTrackList + 5] << 8U);
      const OpenedImage opened = Open(Cut(whole, cylinder1 + blocks * 512 + 100));
      ASSERT_TRUE(opened.image) << opened.message;
      ExpectDisk(*opened.image, PlainDisk(2, 53));
      for (const int index : {2, 3}) {
        const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, index);
        if (!track) {
          // Side 1's first half block lies past a cut in side 0's.
          EXPECT_TRUE(blocks == 0 && index == 3);
          continue;
        }
        const auto& sectors = track->Sectors();
        for (std::size_t i = 0; i < sectors.size(); ++i) {
          const Bytes& data = disk.tracks.at(index).sectors[i].data;
          const Bytes read = ReadSector(*opened.image, sectors[i]);
          if (sectors[i].flags == 0) {
            EXPECT_EQ(read, data);
          } else {
            // Only the last can be cut, and it is read up to the cut.
            EXPECT_EQ(i + 1, sectors.size());
            EXPECT_TRUE(sectors[i].flags == kDataCrcError || sectors[i].flags == kNoDataMark);
            EXPECT_TRUE(std::equal(read.begin(), read.end(), data.begin()));
          }
        }
      }
    }
  }
}

std::uint8_t ReverseBits(std::uint8_t byte) {
  std::uint8_t reversed = 0;
  for (int bit = 0; bit < 8; ++bit) {
    reversed = static_cast<std::uint8_t>(reversed << 1U | (byte >> bit & 1U));
  }
  return reversed;
}

TEST(HfeReader, SyncsAreFoundAtEveryCellPhase) {
  // Revision 3 tracks start with the index and bit-rate opcodes (3 bytes);
  // a skip-bits opcode in their place puts 1 to 7 cells before the track,
  // so that every field lies that many cells later than a byte boundary.
  const DiskSpec disk = PlainDisk(2, 56);
  const Bytes whole = BuildHfe(disk, 3);
  for (std::uint8_t skipped = 1; skipped < 8; ++skipped) {
    SCOPED_TRACE("skipped " + std::to_string(skipped));
    Bytes bytes = whole;
    for (const std::size_t side : {0, 256}) {
      bytes[kHfeFirstTrack + side] = ReverseBits(0xF3);
      bytes[kHfeFirstTrack + side + 1] = ReverseBits(skipped);
      bytes[kHfeFirstTrack + side + 2] = ReverseBits(0x55);
    }
    const OpenedImage opened = Open(bytes);
    ASSERT_TRUE(opened.image) << opened.message;
    ExpectDisk(*opened.image, disk);
  }
}

TEST(HfeReader, GarbageCellsGiveNoCrash) {
  const Bytes whole = BuildHfe(PlainDisk(4, 54), 3);
  // Noise that is the same on every run.
  std::uint32_t state = 54;
  const auto random = [&state]() {
    state = state * 1664525U + 1013904223U;
    return state >> 24U;
  };
  for (int round = 0; round < 4; ++round) {
    Bytes bytes = whole;
    for (std::size_t i = kHfeFirstTrack; i < bytes.size(); ++i) {
      switch (round) {
        case 0:  // noise
          bytes[i] = static_cast<std::uint8_t>(random());
          break;
        case 1:  // skip-bits opcodes everywhere, with any count
          bytes[i] = i % 3 == 0 ? 0xCF : static_cast<std::uint8_t>(random());
          break;
        case 2:  // sync after sync, as a fault or a protection might leave
          bytes[i] = i % 2 == 0 ? 0x22 : 0x91;  // 0x4489 with the bit order reversed
          break;
        default:  // the opcodes, ending with one that wants more bytes
          bytes[i] = i % 5 == 0 ? 0x4F : i + 1 == bytes.size() ? 0xCF : 0x2F;
          break;
      }
    }
    for (const int revision : {1, 3}) {
      SCOPED_TRACE("round " + std::to_string(round) + ", revision " + std::to_string(revision));
      std::copy_n(revision == 1 ? "HXCPICFE" : "HXCHFEV3", 8, bytes.begin());
      const OpenedImage opened = Open(bytes);
      ASSERT_TRUE(opened.image) << opened.message;
      for (int index = 0; index < DiskImage::kMaxTracks; ++index) {
        const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, index);
        if (track) {
          for (const Sector& sector : track->Sectors()) {
            EXPECT_LE(sector.size, sector.recordedSize);
            ReadSector(*opened.image, sector);
          }
        }
      }
    }
  }
}

TEST(HfeReader, WeakCellsInSectorDataSpoilOnlyThatSector) {
  const DiskSpec disk = PlainDisk(2, 55);
  Bytes bytes = BuildHfe(disk, 3);
  // Side 0's cell byte 6600 of cylinder 0 lies well inside sector 3's data
  // (its cells run from about byte 5500 to 7700, opcodes included); it
  // becomes the random opcode, 0xF4 with the bit order reversed.
  const std::size_t cell = 6600;
  bytes[kHfeFirstTrack + cell / 256 * 512 + cell % 256] = 0x2F;
  const OpenedImage opened = Open(bytes);
  ASSERT_TRUE(opened.image) << opened.message;
  const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 0);
  ASSERT_NE(track, nullptr);
  ASSERT_EQ(track->Sectors().size(), 8U);
  for (std::size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE("sector " + std::to_string(i));
    const Sector& sector = track->Sectors()[i];
    EXPECT_EQ(sector.id, (SectorId{0, 0, static_cast<std::uint8_t>(i + 1), 3}));
    EXPECT_EQ(sector.flags, i == 2 ? kDataCrcError : 0);
    if (i != 2) {
      EXPECT_EQ(ReadSector(*opened.image, sector), disk.tracks.at(0).sectors[i].data);
    }
  }
  DiskSpec side1 = disk;
  side1.tracks.erase(0);
  ExpectDisk(*opened.image, side1);
}

// --- Real images of other tools

TEST(TrackFormats, RealImdImageReadsAsItsGeometrySays) {
  const OpenedImage opened = Open(ReadFixture("pc-1200k-sector-test.imd"));
  ASSERT_TRUE(opened.image) << opened.message;
  EXPECT_STREQ(opened.image->DescribeImage().format, "IMD");
  EXPECT_EQ(opened.image->DescribeImage().bytesAfterLastDisk, 0);
  for (int index = 0; index < DiskImage::kMaxTracks; ++index) {
    SCOPED_TRACE("track " + std::to_string(index));
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, index);
    if (index >= 160) {
      EXPECT_EQ(track, nullptr);
      continue;
    }
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(track->Sectors().size(), 15U);
    for (std::size_t i = 0; i < 15; ++i) {
      const Sector& sector = track->Sectors()[i];
      EXPECT_EQ(sector.id, (SectorId{static_cast<std::uint8_t>(index / 2),
                                     static_cast<std::uint8_t>(index % 2),
                                     static_cast<std::uint8_t>(i + 1), 2}));
      EXPECT_EQ(sector.flags, 0);
      EXPECT_FALSE(sector.singleDensity);
      EXPECT_EQ(sector.size, 512U);
      EXPECT_EQ(sector.recordedSize, 512U);
      // The test pattern: each sector filled with its number on the disk,
      // but for the boot sector.
      const Bytes data = ReadSector(*opened.image, sector);
      if (index == 0 && i == 0) {
        EXPECT_EQ(data[0], 0xEB);
        EXPECT_EQ(data[510], 0x55);
        EXPECT_EQ(data[511], 0xAA);
      } else {
        EXPECT_EQ(data,
                  Repeat(512, static_cast<std::uint8_t>(static_cast<std::size_t>(index) * 15 + i)))
            << "sector " << i;
      }
    }
  }
}

TEST(TrackFormats, RealHfeImageReadsAsItsGeometrySays) {
  const OpenedImage opened = Open(ReadFixture("pc-360k-sector-test.hfe"));
  ASSERT_TRUE(opened.image) << opened.message;
  EXPECT_STREQ(opened.image->DescribeImage().format, "HFE");
  const DiskInfo info = opened.image->Describe(0);
  // The file holds 42 cylinders; the disk was formatted with 40.
  EXPECT_EQ(info.claimed.cylinders, 42);
  EXPECT_EQ(info.claimed.heads, 2);
  for (int index = 0; index < 80; ++index) {
    SCOPED_TRACE("track " + std::to_string(index));
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, index);
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(track->Sectors().size(), 9U);
    std::set<int> numbers;
    for (const Sector& sector : track->Sectors()) {
      EXPECT_EQ(sector.id.c, index / 2);
      EXPECT_EQ(sector.id.h, index % 2);
      EXPECT_EQ(sector.id.n, 2);
      EXPECT_EQ(sector.flags, 0);
      EXPECT_EQ(sector.size, 512U);
      EXPECT_EQ(sector.recordedSize, 512U);
      numbers.insert(sector.id.r);
      // The test pattern: each sector filled with its number on the disk.
      EXPECT_EQ(ReadSector(*opened.image, sector),
                Repeat(512, static_cast<std::uint8_t>(index * 9 + sector.id.r - 1)))
          << "sector " << static_cast<int>(sector.id.r);
    }
    EXPECT_EQ(numbers, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  }
  // The two cylinders past the formatted ones hold no sectors.
  for (int index = 80; index < 84; ++index) {
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, index);
    ASSERT_NE(track, nullptr);
    EXPECT_TRUE(track->Sectors().empty());
  }
  for (int index = 84; index < DiskImage::kMaxTracks; ++index) {
    EXPECT_EQ(opened.image->ReadTrack(0, index), nullptr);
  }
}

}  // namespace

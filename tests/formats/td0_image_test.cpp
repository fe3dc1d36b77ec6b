// Tests of the Teledisk reader: images its writer makes in both forms,
// hand-made records for the encodings and flags, damaged files, and the real
// image of another tool next to the raw image of the same disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "formats/sector_image.h"
#include "formats/td0_image.h"
#include "input/byte_source.h"
#include "input/open_image.h"
#include "support/format_test_helpers.h"
#include "support/test_files.h"
#include "testkit/format_writers.h"
#include "testkit/image_builder.h"

namespace {

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

Bytes Repeat(std::size_t count, std::uint8_t value) { return Bytes(count, value); }

// A Teledisk image of the given records after a header without a comment,
// ended by the end mark.
Bytes Td0Of(const Bytes& records, bool compressed = false) {
  const Bytes body = Join({records, {0xFF}});
  return Join({Td0Header(compressed, false), compressed ? Lzhuf(body) : body});
}

SectorSpec Spec(std::uint8_t r, std::uint8_t n, Bytes data) {
  SectorSpec sector;
  sector.r = r;
  sector.n = n;
  sector.data = std::move(data);
  return sector;
}

// A sector's header, with the CRC byte of `intended`, and a data block.
Bytes SectorWithBlock(std::uint8_t r, std::uint8_t n, std::uint8_t flags, const Bytes& intended,
                      const Bytes& block) {
  Bytes out = {0, 0, r, n, flags, Td0SectorCrc(intended)};
  out.push_back(static_cast<std::uint8_t>(block.size() & 0xFFU));
  out.push_back(static_cast<std::uint8_t>(block.size() >> 8U));
  out.insert(out.end(), block.begin(), block.end());
  return out;
}

Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 37 + static_cast<std::size_t>(seed) * 11 + (i >> 3));
  }
  return bytes;
}

// Every track of the disk reads back with the same IDs, in the same order,
// with no flags and the same bytes.
void ExpectDisk(DiskImage& image, const DiskSpec& disk) {
  for (const auto& [index, track] : disk.tracks) {
    SCOPED_TRACE("track " + std::to_string(index));
    const std::shared_ptr<const Track> read = image.ReadTrack(0, index);
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(read->Sectors().size(), track.sectors.size());
    EXPECT_FALSE(read->CutShort());
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

// --- Both forms, every encoding

TEST(Td0Reader, BothFormsReadBackEveryDiskInEveryEncoding) {
  DiskSpec uniform = PlainDisk(6, 3);
  SectorData(uniform, 1, 2).assign(1024, 0xE5);
  for (std::size_t i = 0; i < 1024; i += 2) {
    SectorData(uniform, 2, 4)[i] = 0x4E;
    SectorData(uniform, 2, 4)[i + 1] = 0x92;
  }
  std::fill_n(SectorData(uniform, 3, 1).begin() + 100, 600, 0x00);
  uniform.tracks[4].sectors[6].data = Pattern(1024, 9);
  const std::vector<Td0Encoding> all = {Td0Encoding::kChoose, Td0Encoding::kRaw, Td0Encoding::kRun};
  const struct {
    const char* what;
    DiskSpec disk;
    bool compressed;
    std::vector<Td0Encoding> encodings;
  } cases[] = {
      {"a whole 2HD disk", PlainDisk(154, 11), false, all},
      {"a known disk, compressed", KnownDisk(0, 12), true, {Td0Encoding::kChoose}},
      {"another known disk, compressed", KnownDisk(5, 13), true, {Td0Encoding::kRaw}},
      {"repeated bytes and runs", uniform, false, all},
      {"repeated bytes and runs, compressed", uniform, true, all},
  };
  for (const auto& c : cases) {
    for (const Td0Encoding encoding : c.encodings) {
      SCOPED_TRACE(std::string(c.what) + ", encoding " +
                   std::to_string(static_cast<int>(encoding)));
      Td0Options options;
      options.encoding = encoding;
      options.compressed = c.compressed;
      const Bytes bytes = BuildTd0(c.disk, options);
      EXPECT_EQ(IdentifiedFormat(bytes), "Teledisk");
      const OpenedImage opened = Open(bytes);
      ASSERT_TRUE(opened.image) << opened.message;
      EXPECT_STREQ(opened.image->DescribeImage().format, "Teledisk");
      // The bytes after the disk are known in the normal form only.
      EXPECT_EQ(opened.image->DescribeImage().bytesAfterLastDisk,
                c.compressed ? std::nullopt : std::optional<std::int64_t>(0));
      ExpectDisk(*opened.image, c.disk);
      const int tracks = static_cast<int>(c.disk.tracks.size());
      for (int track = tracks; track < DiskImage::kMaxTracks; ++track) {
        EXPECT_EQ(opened.image->ReadTrack(0, track), nullptr) << "track " << track;
      }
    }
  }
}

TEST(Td0Reader, DataBlocksOfEachEncodingExpand) {
  Bytes runs =
      Join({{'a', 'b', 'c'}, {'x', 'y', 'x', 'y'}, Repeat(12, 0), {1, 2, 3, 4, 5, 6, 7, 8}});
  runs.insert(runs.end(), 128 - runs.size(), 0x77);
  const std::size_t tail = 128 - 3 - 4 - 12 - 8;
  const struct {
    const char* what;
    Bytes block;
    Bytes data;  // of 128 bytes
  } cases[] = {
      {"raw", Join({{0}, Pattern(128, 1)}), Pattern(128, 1)},
      {"one 2-byte pattern",
       {1, 64, 0, 0xAB, 0xCD},
       [] {
         Bytes b;
         for (int i = 0; i < 64; ++i) {
           b.insert(b.end(), {0xAB, 0xCD});
         }
         return b;
       }()},
      {"two 2-byte patterns",
       {1, 16, 0, 1, 2, 48, 0, 3, 4},
       [] {
         Bytes b;
         for (int i = 0; i < 64; ++i) {
           b.insert(b.end(), {static_cast<std::uint8_t>(i < 16 ? 1 : 3),
                              static_cast<std::uint8_t>(i < 16 ? 2 : 4)});
         }
         return b;
       }()},
      // A literal, 2 bytes twice, 4 bytes three times, 8 bytes once, and a
      // literal to the end.
      {"runs of 1, 2, 4 and 8 bytes",
       Join({{2, 0, 3, 'a', 'b', 'c', 1, 2, 'x', 'y', 2, 3, 0, 0,
              0, 0, 3, 1,   1,   2,   3, 4, 5,   6,   7, 8, 0, static_cast<std::uint8_t>(tail)},
             Repeat(tail, 0x77)}),
       runs},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.data.size(), 128U);
    const Bytes image = Td0Of(Join({Td0Track(2, 0, 0), SectorWithBlock(1, 0, 0, c.data, c.block),
                                    Td0Sector(Spec(2, 0, Pattern(128, 2)), Td0Encoding::kRaw)}));
    for (const bool compressed : {false, true}) {
      const OpenedImage opened = Open(
          compressed ? Join({Td0Header(true, false), Lzhuf(Bytes(image.begin() + 12, image.end()))})
                     : image);
      ASSERT_TRUE(opened.image) << opened.message;
      const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 0);
      ASSERT_NE(track, nullptr);
      ASSERT_EQ(track->Sectors().size(), 2U);
      EXPECT_EQ(track->Sectors()[0].flags, 0);
      EXPECT_EQ(ReadSector(*opened.image, track->Sectors()[0]), c.data);
      EXPECT_EQ(ReadSector(*opened.image, track->Sectors()[1]), Pattern(128, 2));
    }
  }
}

TEST(Td0Reader, BlocksThatDoNotGiveTheirSectorExactlyMarkIt) {
  // Each block stands for 128 bytes of 0x5A; what it gives instead is kept
  // inside the sector, marked as failing the image's own check (the file is
  // damaged, not the disk), and the sector after it reads as written.
  const Bytes intended = Repeat(128, 0x5A);
  const struct {
    const char* what;
    Bytes block;
    Bytes held;
  } cases[] = {
      {"a raw block one byte long", Join({{0}, Repeat(129, 0x5A)}), intended},
      {"a raw block short", Join({{0}, Repeat(100, 0x5A)}), Repeat(100, 0x5A)},
      {"a pattern repeated past the sector", {1, 0xFF, 0xFF, 0x5A, 0x5A}, intended},
      {"a pattern short of the sector", {1, 10, 0, 0x5A, 0x5A}, Repeat(20, 0x5A)},
      {"a run past the sector", {2, 1, 200, 0x5A, 0x5A}, intended},
      {"a literal past the block", Join({{2, 0, 50}, Repeat(10, 0x5A)}), Repeat(10, 0x5A)},
      {"a unit longer than the block", Join({{2, 9, 1}, Repeat(20, 0x5A)}), Repeat(20, 0x5A)},
      {"a unit longer than the sector", Join({{2, 8, 1}, Repeat(256, 0x5A)}), intended},
      {"a power that shifts past any size", Join({{2, 200, 1}, Repeat(20, 0x5A)}),
       Repeat(20, 0x5A)},
      {"an unknown encoding", Join({{3}, Repeat(128, 0x5A)}), {}},
      {"an empty block", {}, {}},
      {"the right bytes under a wrong CRC", Join({{0}, Repeat(128, 0x5B)}), Repeat(128, 0x5B)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const OpenedImage opened =
        Open(Td0Of(Join({Td0Track(2, 0, 0), SectorWithBlock(1, 0, 0, intended, c.block),
                         Td0Sector(Spec(2, 0, Pattern(128, 4)), Td0Encoding::kChoose)})));
    ASSERT_TRUE(opened.image) << opened.message;
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 0);
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(track->Sectors().size(), 2U);
    EXPECT_FALSE(track->CutShort());
    const Sector& bad = track->Sectors()[0];
    EXPECT_EQ(bad.flags, kImageCheckFails);
    EXPECT_TRUE(opened.image->DescribeImage().faults.empty());
    EXPECT_EQ(ReadSector(*opened.image, bad), c.held);
    EXPECT_EQ(bad.recordedSize, c.held.size() == 128 ? 128U : c.held.size());
    EXPECT_EQ(track->Sectors()[1].flags, 0);
    EXPECT_EQ(ReadSector(*opened.image, track->Sectors()[1]), Pattern(128, 4));
  }
}

// --- What the images record about sectors

TEST(Td0Reader, FlagsGiveTheModelsFlags) {
  const Bytes data = Pattern(256, 5);
  const struct {
    std::uint8_t flags;
    std::uint8_t n;
    bool block;  // a data block follows
    SectorFlags want;
  } cases[] = {
      {0x00, 1, true, 0},
      {0x02, 1, true, kDataCrcError},
      {0x04, 1, true, kDeletedData},
      {0x06, 1, true, kDeletedData | kDataCrcError},
      {0x10, 1, false, 0},  // skipped by DOS allocation: no data, no doubt
      {0x20, 1, false, kNoDataMark},
      {0x40, 1, true, kNoAddressMark},
      {0x00, 8, false, 0},  // no size past 7 has a data block
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("flags " + std::to_string(c.flags) + ", N " + std::to_string(c.n));
    Bytes sector = {0, 0, 1, c.n, c.flags, Td0SectorCrc(data)};
    if (c.block) {
      sector = SectorWithBlock(1, c.n, c.flags, data, Join({{0}, data}));
    }
    const OpenedImage opened = Open(Td0Of(Join(
        {Td0Track(2, 0, 0), sector, Td0Sector(Spec(2, 1, Pattern(256, 6)), Td0Encoding::kRaw)})));
    ASSERT_TRUE(opened.image) << opened.message;
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 0);
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(track->Sectors().size(), 2U);
    const Sector& read = track->Sectors()[0];
    EXPECT_EQ(read.id, (SectorId{0, 0, 1, c.n}));
    EXPECT_EQ(read.flags, c.want);
    EXPECT_EQ(ReadSector(*opened.image, read), c.block ? data : Bytes{});
    EXPECT_EQ(read.recordedSize, c.block ? 256U : 0U);
    EXPECT_EQ(ReadSector(*opened.image, track->Sectors()[1]), Pattern(256, 6));
  }

  // The writer's flags from D88 statuses, through the reader: an ID CRC
  // error cannot be recorded.
  DiskSpec disk = PlainDisk(4, 21);
  const std::uint8_t marks[][2] = {{0, 0},    {0x10, 0}, {0, 0xB0}, {0x10, 0xB0},
                                   {0, 0xF0}, {0, 0x10}, {0, 0xE0}, {0, 0xA0}};
  for (std::size_t i = 0; i < 8; ++i) {
    disk.tracks[2].sectors[i].deletedMark = marks[i][0];
    disk.tracks[2].sectors[i].status = marks[i][1];
  }
  const OpenedImage opened = Open(BuildTd0(disk));
  ASSERT_TRUE(opened.image) << opened.message;
  const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 2);
  ASSERT_NE(track, nullptr);
  ASSERT_EQ(track->Sectors().size(), 8U);
  const SectorFlags expected[] = {
      0,           kDeletedData, kDataCrcError,  kDeletedData | kDataCrcError,
      kNoDataMark, kDeletedData, kNoAddressMark, 0};
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(track->Sectors()[i].flags, expected[i]) << "sector " << i;
  }
}

TEST(Td0Reader, TrackHeadersPlaceTracksAndGiveTheirDensity) {
  // Side 1 of cylinder 3 in FM; a second sector with an ID seen before
  // (flag 0x01); a track recorded twice, the first record kept; a cylinder
  // past the model's tracks walked over.
  const Bytes first = Pattern(128, 7);
  const Bytes second = Pattern(128, 8);
  const Bytes image = Td0Of(Join({
      Td0Track(2, 3, 0x81),
      Td0Sector(Spec(1, 0, first), Td0Encoding::kRaw),
      SectorWithBlock(1, 0, 0x01, second, Join({{0}, second})),
      Td0Track(1, 3, 0x01),
      Td0Sector(Spec(9, 0, first), Td0Encoding::kRaw),
      Td0Track(1, 90, 0x00),
      Td0Sector(Spec(1, 0, first), Td0Encoding::kRaw),
      Td0Track(1, 4, 0x00),
      Td0Sector(Spec(5, 0, second), Td0Encoding::kRaw),
  }));
  const OpenedImage opened = Open(image);
  ASSERT_TRUE(opened.image) << opened.message;
  const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 7);
  ASSERT_NE(track, nullptr);
  ASSERT_EQ(track->Sectors().size(), 2U);
  EXPECT_TRUE(track->Sectors()[0].singleDensity);
  EXPECT_EQ(track->Sectors()[1].flags, 0);
  EXPECT_EQ(track->Find(SectorId{0, 0, 1, 0}), track->Sectors().data());
  ASSERT_EQ(track->LaterWithSameId(track->Sectors()[0]).size(), 1U);
  EXPECT_EQ(ReadSector(*opened.image, *track->LaterWithSameId(track->Sectors()[0])[0]), second);
  const std::shared_ptr<const Track> cylinder4 = opened.image->ReadTrack(0, 8);
  ASSERT_NE(cylinder4, nullptr);
  EXPECT_FALSE(cylinder4->Sectors()[0].singleDensity);
  EXPECT_EQ(ReadSector(*opened.image, cylinder4->Sectors()[0]), second);
  const DiskInfo info = opened.image->Describe(0);
  EXPECT_EQ(info.trackLocations[7], 12);
  // Each track header's place in the file: after the 12-byte header, then
  // after a track of two 128-byte sectors and two of one.
  constexpr std::int64_t kSector = 6 + 2 + 1 + 128;
  EXPECT_EQ(info.trackLocations[8], 12 + (4 + 2 * kSector) + 2 * (4 + kSector));
  for (int index = 0; index < DiskImage::kMaxTracks; ++index) {
    if (index != 7 && index != 8) {
      EXPECT_EQ(opened.image->ReadTrack(0, index), nullptr) << index;
      EXPECT_EQ(info.trackLocations[static_cast<std::size_t>(index)], 0) << index;
    }
  }

  // The header's FM bit makes every track FM; its sides give the heads.
  Bytes fmDisk = Td0Of(Join({Td0Track(1, 0, 0), Td0Sector(Spec(1, 0, first), Td0Encoding::kRaw)}));
  fmDisk[5] |= 0x80;
  fmDisk[9] = 1;
  SetTd0HeaderCrc(fmDisk);
  const OpenedImage fm = Open(fmDisk);
  ASSERT_TRUE(fm.image) << fm.message;
  EXPECT_TRUE(fm.image->ReadTrack(0, 0)->Sectors()[0].singleDensity);
  EXPECT_EQ(fm.image->Describe(0).claimed.heads, 1);
  EXPECT_EQ(info.claimed.heads, 2);
  EXPECT_FALSE(info.claimed.cylinders.has_value());
}

TEST(Td0Reader, TheCommentGivesTheDisksName) {
  const struct {
    std::string comment;  // as written, each NUL ending a line
    std::string name;
  } cases[] = {
      {"one line", "one line"},
      {std::string("first\0second line  \0\0", 21), "first\nsecond line"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Td0Options options;
    options.comment = c.comment;
    for (const bool compressed : {false, true}) {
      options.compressed = compressed;
      const OpenedImage opened = Open(BuildTd0(PlainDisk(2, 3), options));
      ASSERT_TRUE(opened.image) << opened.message;
      EXPECT_EQ(opened.image->Describe(0).name, c.name);
      ExpectDisk(*opened.image, PlainDisk(2, 3));
    }
  }
}

// --- Damaged images

Bytes Cut(Bytes bytes, std::size_t length) {
  bytes.resize(length);
  return bytes;
}

TEST(Td0Reader, DamagedHeadersAreErrors) {
  Td0Options options;
  options.encoding = Td0Encoding::kRaw;
  options.comment = "damaged";
  const Bytes whole = BuildTd0(PlainDisk(4, 41), options);
  constexpr std::size_t kFirstTrack = 12 + 10 + 8;
  Bytes badHeader = whole;
  badHeader[10] ^= 1;
  Bytes badComment = whole;
  badComment[12 + 10 + 2] ^= 0x20;
  Bytes badTrack = whole;
  badTrack[kFirstTrack + 2] = 0x42;  // a head byte no track has, the CRC not made again
  Bytes lzw = Join({Td0Header(true, false), Bytes(whole.begin() + kFirstTrack, whole.end())});
  lzw[4] = 15;
  SetTd0HeaderCrc(lzw);
  Bytes noTracks = Cut(whole, kFirstTrack);
  const struct {
    const char* what;
    Bytes bytes;
    const char* error;
  } cases[] = {
      {"cut inside the header", Cut(whole, 11), "the file ends inside its header"},
      {"a wrong header CRC", badHeader, "the header's CRC is wrong"},
      {"cut inside the comment's header", Cut(whole, 12 + 6), "the file ends inside the comment"},
      {"cut inside the comment", Cut(whole, 12 + 12), "the file ends inside the comment"},
      {"a wrong comment CRC", badComment, "the comment's CRC is wrong"},
      {"no track after the comment", noTracks, "the file ends before its first track"},
      {"cut inside the first track header", Cut(whole, kFirstTrack + 2),
       "the file ends before its first track"},
      {"a wrong first track CRC", badTrack, "the first track header's CRC is wrong"},
      {"the old compression", lzw, "the old LZW compression of Teledisk 1.x is not read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(IdentifiedFormat(c.bytes), c.bytes.size() < 12 ? "" : "Teledisk");
    const OpenedImage opened = OpenImage(MemorySource(c.bytes), &kTeledisk);
    EXPECT_FALSE(opened.image);
    EXPECT_EQ(opened.error, 0);
    EXPECT_EQ(opened.message, std::string("cannot be read as Teledisk: ") + c.error);
  }
  // An image of no track at all is one.
  const OpenedImage empty = Open(Join({noTracks, {0xFF}}));
  ASSERT_TRUE(empty.image) << empty.message;
  EXPECT_EQ(empty.image->ReadTrack(0, 0), nullptr);
}

TEST(Td0Reader, TruncatedFilesKeepWhatTheyHold) {
  const DiskSpec disk = PlainDisk(4, 42);
  Td0Options options;
  options.encoding = Td0Encoding::kRaw;
  const Bytes whole = BuildTd0(disk, options);
  constexpr std::size_t kSector = 6 + 2 + 1 + 1024;
  constexpr std::size_t kTrack = 4 + 8 * kSector;
  constexpr std::size_t kSecond = 12 + kTrack;
  ASSERT_EQ(whole.size(), 12 + 4 * kTrack + 4);
  Bytes badThird = whole;
  badThird[kSecond + kTrack + 1] = 200;  // a cylinder no disk has, the CRC not made again
  Bytes trailing = whole;
  trailing.insert(trailing.end(), {1, 2, 3, 4, 5});
  const OpenedImage after = Open(trailing);
  ASSERT_TRUE(after.image) << after.message;
  EXPECT_EQ(after.image->DescribeImage().bytesAfterLastDisk, 5);
  ExpectDisk(*after.image, disk);

  struct Case {
    const char* what;
    Bytes bytes;
    int track1Sectors;  // -1: absent
    bool cutShort;
    std::size_t lastHeld;  // bytes held of its last sector
    std::int64_t bytesAfter;
  };
  const Case cases[] = {
      {"inside track 1's header", Cut(whole, kSecond + 2), -1, false, 0, 0},
      {"after track 1's header", Cut(whole, kSecond + 4), 0, true, 0, 0},
      {"inside a sector header", Cut(whole, kSecond + 4 + 2 * kSector + 3), 2, true, 1024, 0},
      {"inside a block's size", Cut(whole, kSecond + 4 + 2 * kSector + 7), 3, true, 0, 0},
      {"inside a sector's data", Cut(whole, kSecond + 4 + 2 * kSector + 9 + 100), 3, true, 100, 0},
      {"at a track's end, no end mark", Cut(whole, kSecond + kTrack), 8, false, 1024, 0},
      {"a wrong CRC in track 2's header, which names no track", badThird, 8, false, 1024,
       static_cast<std::int64_t>(kTrack + kTrack + 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const OpenedImage opened = Open(c.bytes);
    ASSERT_TRUE(opened.image) << opened.message;
    EXPECT_EQ(opened.image->DescribeImage().bytesAfterLastDisk, c.bytesAfter);
    DiskSpec first = disk;
    first.tracks.erase(1);
    first.tracks.erase(2);
    first.tracks.erase(3);
    ExpectDisk(*opened.image, first);
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 1);
    EXPECT_EQ(opened.image->ReadTrack(0, 2), nullptr);
    if (c.track1Sectors < 0) {
      EXPECT_EQ(track, nullptr);
      continue;
    }
    ASSERT_NE(track, nullptr);
    const auto count = static_cast<std::size_t>(c.track1Sectors);
    ASSERT_EQ(track->Sectors().size(), count);
    ASSERT_EQ(track->CutShort().has_value(), c.cutShort);
    if (c.cutShort) {
      EXPECT_EQ(track->CutShort()->announced, 8U);
    }
    for (std::size_t i = 0; i < count; ++i) {
      const Sector& sector = track->Sectors()[i];
      const Bytes& data = disk.tracks.at(1).sectors[i].data;
      const std::size_t held = i + 1 == count ? c.lastHeld : 1024;
      EXPECT_EQ(sector.recordedSize, 1024U);
      EXPECT_EQ(sector.flags, 0);
      EXPECT_EQ(ReadSector(*opened.image, sector),
                Bytes(data.begin(), data.begin() + static_cast<long>(held)));
    }
  }

  // A compressed stream cut short: the tracks it holds whole, then one cut
  // short.
  Td0Options compressed;
  compressed.compressed = true;
  const Bytes packed = BuildTd0(disk, compressed);
  const OpenedImage opened = Open(Cut(packed, packed.size() * 2 / 3));
  ASSERT_TRUE(opened.image) << opened.message;
  int whole_tracks = 0;
  for (int index = 0; index < 4; ++index) {
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, index);
    if (!track || track->CutShort()) {
      break;
    }
    ++whole_tracks;
  }
  ASSERT_GE(whole_tracks, 1);
  ASSERT_LT(whole_tracks, 4);
  DiskSpec held = disk;
  for (int index = whole_tracks; index < 4; ++index) {
    held.tracks.erase(index);
  }
  ExpectDisk(*opened.image, held);
}

// What the image file's own records get wrong is told as the file's damage,
// and what follows is read while it makes sense.
TEST(Td0Reader, TheFilesOwnDamageIsToldAndWhatFollowsIsRead) {
  const DiskSpec disk = PlainDisk(4, 43);
  Td0Options options;
  options.encoding = Td0Encoding::kRaw;
  const Bytes whole = BuildTd0(disk, options);
  constexpr std::size_t kSector = 6 + 2 + 1 + 1024;
  constexpr std::size_t kTrack = 4 + 8 * kSector;
  constexpr std::size_t kSecond = 12 + kTrack;
  Bytes badCrc = whole;
  badCrc[kSecond + 3] ^= 1;
  Bytes namesNone = whole;
  namesNone[kSecond + kTrack] = 7;  // track 2 of 7 sectors, the CRC not made again
  namesNone[kSecond + kTrack + 2] = 0x11;
  Bytes hugeBlock = whole;
  hugeBlock[kSecond + 4 + 6 + 1] = 0xFF;  // the first block of track 1: 65,281 bytes
  Bytes twice = whole;
  twice[kSecond + kTrack + 1] = 0;  // track 2 says it is track 0, CRC made again
  const Bytes twiceHeader = Td0Track(8, 0, 0);
  std::copy(twiceHeader.begin(), twiceHeader.end(),
            twice.begin() + static_cast<std::ptrdiff_t>(kSecond + kTrack));
  const struct {
    const char* what;
    Bytes bytes;
    std::vector<int> tracks;  // read as written; tracks 2 and 3 absent unless here
    std::vector<std::string> faults;
    std::int64_t bytesAfter;
  } cases[] = {
      {"whole, with its end record", whole, {0, 1, 2, 3}, {}, 0},
      {"a track header whose CRC fails",
       badCrc,
       {0, 1, 2, 3},
       {"the header of track 1 at byte " + GroupedDigits(kSecond) +
        " fails its CRC; its sectors were read as it gives them"},
       0},
      {"a track header that fails its CRC and names no track",
       namesNone,
       {0, 1},
       {"the track header at byte " + GroupedDigits(kSecond + kTrack) +
        " fails its CRC and names no track; nothing after it is read"},
       static_cast<std::int64_t>(2 * kTrack + 4)},
      {"a block larger than its sector can take",
       hugeBlock,
       {0},
       {"the data block of sector 0 1 1 3 of track 1 gives 65281 bytes, more than any encoding "
        "of the sector takes (at byte " +
        GroupedDigits(kSecond + 4) + "); nothing after it is read"},
       static_cast<std::int64_t>(3 * kTrack - 8)},
      {"a track recorded twice",
       twice,
       {0, 1, 3},
       {"track 0 is recorded a second time, at byte " + GroupedDigits(kSecond + kTrack) +
        "; the first is read"},
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const OpenedImage opened = Open(c.bytes);
    ASSERT_TRUE(opened.image) << opened.message;
    const ImageInfo about = opened.image->DescribeImage();
    EXPECT_EQ(about.faults, c.faults);
    EXPECT_EQ(about.bytesAfterLastDisk, c.bytesAfter);
    DiskSpec read;
    for (const int index : c.tracks) {
      read.tracks[index] = disk.tracks.at(index);
    }
    ExpectDisk(*opened.image, read);
    for (const int index : {2, 3}) {
      if (std::find(c.tracks.begin(), c.tracks.end(), index) == c.tracks.end()) {
        EXPECT_EQ(opened.image->ReadTrack(0, index), nullptr) << "track " << index;
      }
    }
  }

  // A sector the disk read badly and whose data the file then damaged
  // carries both.
  const Bytes intended = Repeat(128, 0x5A);
  const OpenedImage both = Open(Td0Of(Join(
      {Td0Track(1, 0, 0), SectorWithBlock(1, 0, 0x02, intended, Join({{0}, Pattern(128, 1)}))})));
  ASSERT_TRUE(both.image) << both.message;
  ASSERT_NE(both.image->ReadTrack(0, 0), nullptr);
  EXPECT_EQ(both.image->ReadTrack(0, 0)->Sectors().at(0).flags, kDataCrcError | kImageCheckFails);
}

// Compressed data damaged in the middle decodes to records that make no
// sense: told as damage from about where it lies, not as a file cut short;
// the tracks before it read as written.
TEST(Td0Reader, DamagedCompressedDataIsToldWhereItLies) {
  const DiskSpec disk = PlainDisk(6, 44);
  Td0Options options;
  options.compressed = true;
  const Bytes packed = BuildTd0(disk, options);
  // Damage that leaves the records in their places (a literal changed, the
  // codes after it still in step) decodes to sectors that fail their checks.
  const std::string senseless = "the compressed data does not decode to sense from about byte ";
  const std::string failing = "the compressed data decodes to ";
  for (const double part : {0.3, 0.5, 0.7, 0.9}) {
    const auto at = static_cast<std::size_t>(static_cast<double>(packed.size()) * part);
    SCOPED_TRACE(at);
    Bytes damaged = packed;
    damaged[at] ^= 0x10;
    const OpenedImage opened = Open(damaged);
    ASSERT_TRUE(opened.image) << opened.message;
    const ImageInfo about = opened.image->DescribeImage();
    ASSERT_EQ(about.faults.size(), 1U);
    const std::string& fault = about.faults[0];
    const bool inStep = fault.rfind(failing, 0) == 0;
    ASSERT_TRUE(inStep || fault.rfind(senseless, 0) == 0) << fault;
    EXPECT_NE(fault.find(inStep ? " of the file: the file is damaged there"
                                : "); nothing after it is read"),
              std::string::npos)
        << fault;
    const std::size_t from = fault.find("about byte ") + 11;
    std::string digits = fault.substr(from, fault.find(' ', from) - from);
    digits.erase(std::remove(digits.begin(), digits.end(), ','), digits.end());
    const std::size_t told = std::stoul(digits);
    // Where the first record that made no sense began: near the damaged
    // byte, within about a sector's data of it (a damaged sector header
    // may decode to headers that still look whole for a while).
    EXPECT_LE(told, at + 1100);
    EXPECT_GE(told + 1100, at);
    // The tracks before the damage read as written, the one it lies in up
    // to it; none is cut short.
    DiskSpec before;
    for (int index = 0; index < 6; ++index) {
      const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, index);
      if (track) {
        EXPECT_FALSE(track->CutShort());
      }
      if (track && track->Sectors().size() == disk.tracks.at(index).sectors.size() &&
          std::none_of(track->Sectors().begin(), track->Sectors().end(),
                       [](const Sector& sector) { return sector.flags != 0; })) {
        before.tracks[index] = disk.tracks.at(index);
      }
    }
    EXPECT_EQ(before.tracks.count(0), 1U);
    ExpectDisk(*opened.image, before);
  }
}

TEST(Td0Reader, SmallFilesCannotExpandWithoutEnd) {
  // Tracks of 254 sectors (255 would be the end mark) with no data on a
  // cylinder the model has no place for, over and over: LZHUF packs them 40
  // to 1, as much as it packs anything.
  Bytes track = Td0Track(254, 200, 0);
  for (int r = 0; r < 254; ++r) {
    const Bytes id = {0, 0, static_cast<std::uint8_t>(r), 2, 0x20};
    track.insert(track.end(), id.begin(), id.end());
    track.push_back(Td0SectorCrc(id));
  }
  const Bytes endless =
      Join({Td0Header(true, false), LzhufRepeating(track, (std::size_t{64} << 20) + track.size())});
  EXPECT_LT(endless.size(), std::size_t{2} << 20);
  OpenedImage opened = Open(endless);
  EXPECT_FALSE(opened.image);
  EXPECT_EQ(opened.message,
            "cannot be read as Teledisk: its compressed data expands past any floppy disk's size");

  // Sectors of 16 KiB, each a 2-byte pattern, on every track of the model:
  // 680 MB from a 540 KB file.
  Bytes records;
  Bytes sector = SectorWithBlock(0, 7, 0, Repeat(16384, 0), {1, 0, 0x20, 0, 0});
  for (int index = 0; index < DiskImage::kMaxTracks; ++index) {
    const Bytes header =
        Td0Track(254, static_cast<std::uint8_t>(index / 2), static_cast<std::uint8_t>(index % 2));
    records.insert(records.end(), header.begin(), header.end());
    for (int r = 0; r < 254; ++r) {
      sector[2] = static_cast<std::uint8_t>(r);
      records.insert(records.end(), sector.begin(), sector.end());
    }
  }
  opened = Open(Td0Of(records));
  EXPECT_FALSE(opened.image);
  EXPECT_EQ(opened.message,
            "cannot be read as Teledisk: its sectors expand past any floppy disk's size");
}

// --- The real image of another tool

TEST(Td0Reader, RealCompressedImageReadsAsTheRawImageOfItsDisk) {
  const Bytes raw = ReadFixture("pc-360k-sector-test.img");
  ASSERT_EQ(raw.size(), 368640U);
  const OpenedImage opened = Open(ReadFixture("pc-360k-sector-test.td0"));
  ASSERT_TRUE(opened.image) << opened.message;
  EXPECT_STREQ(opened.image->DescribeImage().format, "Teledisk");
  const DiskInfo info = opened.image->Describe(0);
  EXPECT_EQ(info.name, "sector test - 360k");
  EXPECT_EQ(info.claimed.heads, 2);
  for (int index = 0; index < DiskImage::kMaxTracks; ++index) {
    SCOPED_TRACE("track " + std::to_string(index));
    const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, index);
    if (index >= 80) {
      EXPECT_EQ(track, nullptr);
      continue;
    }
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(track->Sectors().size(), 9U);
    EXPECT_FALSE(track->CutShort());
    std::set<int> numbers;
    for (const Sector& sector : track->Sectors()) {
      EXPECT_EQ(sector.id.c, index / 2);
      EXPECT_EQ(sector.id.h, index % 2);
      EXPECT_EQ(sector.id.n, 2);
      EXPECT_EQ(sector.flags, 0);
      EXPECT_FALSE(sector.singleDensity);
      EXPECT_EQ(sector.recordedSize, 512U);
      numbers.insert(sector.id.r);
      // Cylinder-major in the raw image: cylinder, head, then R.
      const auto at = raw.begin() + (index * 9 + sector.id.r - 1) * std::ptrdiff_t{512};
      EXPECT_EQ(ReadSector(*opened.image, sector), Bytes(at, at + 512))
          << "sector " << static_cast<int>(sector.id.r);
    }
    EXPECT_EQ(numbers, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  }
}

TEST(Td0Reader, OnlyTeledisksHeadersAreTakenForOne) {
  const Bytes good =
      Td0Of(Join({Td0Track(1, 0, 0), Td0Sector(Spec(1, 0, Pattern(128, 1)), Td0Encoding::kRaw)}));
  const struct {
    const char* what;
    std::size_t at;
    std::uint8_t value;
    bool teledisk;
  } cases[] = {
      {"as written", 0, 'T', true},    {"compressed", 0, 't', false},  // "tD": neither
      {"a later volume", 2, 1, false}, {"version 0.9", 4, 9, false},
      {"version 2.2", 4, 22, false},   {"version 1.0", 4, 10, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = good;
    bytes[c.at] = c.value;
    EXPECT_EQ(IdentifiedFormat(bytes) == "Teledisk", c.teledisk);
  }
}

}  // namespace

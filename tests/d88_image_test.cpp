// Tests of the D88 reader, driven directly over images built in memory and
// over one real image in tests/data.
//
// Every read lands in a buffer with guard bytes on either side and a known
// fill inside, so each test sees exactly which bytes a read wrote.
#include "formats/d88_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/image_builder.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kUntouched = 0xA5;  // what a buffer holds before a read
constexpr std::uint8_t kGuardByte = 0x5A;  // what lies either side of it
constexpr std::size_t kGuardSize = 64;

// A destination buffer with guard bytes either side, so that a write outside
// [data(), data() + size()) shows.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(std::size_t size)
      : bytes_(size + 2 * kGuardSize, kGuardByte), size_(size) {
    std::fill_n(bytes_.begin() + kGuardSize, size, kUntouched);
  }

  unsigned char* data() { return bytes_.data() + kGuardSize; }
  int size() const { return static_cast<int>(size_); }

  bool GuardsIntact() const {
    const auto isGuard = [](std::uint8_t byte) { return byte == kGuardByte; };
    return std::all_of(bytes_.begin(), bytes_.begin() + kGuardSize, isGuard) &&
           std::all_of(bytes_.end() - kGuardSize, bytes_.end(), isGuard);
  }

  Bytes Contents() const {
    return Bytes(bytes_.begin() + kGuardSize,
                 bytes_.begin() + static_cast<long>(kGuardSize + size_));
  }

 private:
  Bytes bytes_;
  std::size_t size_;
};

// What a buffer of `size` bytes holds after a read that wrote `written` at its
// start and nothing else.
Bytes Expected(std::size_t size, const Bytes& written) {
  Bytes out(size, kUntouched);
  std::copy_n(written.begin(), std::min(size, written.size()), out.begin());
  return out;
}

Bytes Untouched(std::size_t size) { return Bytes(size, kUntouched); }

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t length) {
  return Bytes(bytes.begin() + static_cast<long>(from),
               bytes.begin() + static_cast<long>(from + length));
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

// The buffer holds exactly `expected`, and nothing was written around it.
testing::AssertionResult Holds(const GuardedBuffer& buffer, const Bytes& expected) {
  if (!buffer.GuardsIntact()) {
    return testing::AssertionFailure() << "a byte outside the destination was written";
  }
  const Bytes got = buffer.Contents();
  if (got.size() != expected.size()) {
    return testing::AssertionFailure()
           << "buffer of " << got.size() << " bytes, expected " << expected.size();
  }
  const auto [at, want] = std::mismatch(got.begin(), got.end(), expected.begin());
  if (at != got.end()) {
    return testing::AssertionFailure()
           << "byte " << (at - got.begin()) << " is " << static_cast<int>(*at) << ", expected "
           << static_cast<int>(*want);
  }
  return testing::AssertionSuccess();
}

SectorSpec Sector(int c, int h, int r, int n, Bytes data) {
  SectorSpec sector;
  sector.c = static_cast<std::uint8_t>(c);
  sector.h = static_cast<std::uint8_t>(h);
  sector.r = static_cast<std::uint8_t>(r);
  sector.n = static_cast<std::uint8_t>(n);
  sector.data = std::move(data);
  return sector;
}

// Sector data unlike any other of the test's: seed picks the bytes.
Bytes Data(std::uint32_t seed, int size = 1024) { return PatternSector(seed, 0, 0, size); }

// A disk with no tracks: its header alone, 688 bytes.
DiskSpec NamedDisk(const std::string& name) {
  DiskSpec disk;
  disk.name = name;
  return disk;
}

// Expects that a sector read and a run from it both read nothing.
void ExpectSectorNotRead(D88Image& reader, int track, int c, int h, int r, int n) {
  GuardedBuffer one(1024);
  EXPECT_EQ(reader.ReadSector(track, c, h, r, n, one.data(), one.size()), 0);
  EXPECT_TRUE(Holds(one, Untouched(1024)));
  GuardedBuffer run(2048);
  EXPECT_EQ(reader.ReadSectors(track, c, h, r, n, run.data(), run.size()), 0);
  EXPECT_TRUE(Holds(run, Untouched(2048)));
}

// Expects that listing the track's sector IDs writes nothing.
void ExpectTrackNotListed(D88Image& reader, int track) {
  GuardedBuffer ids(64);
  EXPECT_EQ(reader.ReadSectorIds(track, ids.data(), ids.size()), 0);
  EXPECT_TRUE(Holds(ids, Untouched(64)));
}

// Expects the sector to read whole: all of `data`, and nothing past it.
void ExpectSector(D88Image& reader, int track, int c, int h, int r, int n, const Bytes& data) {
  GuardedBuffer buffer(data.size() + 16);
  EXPECT_EQ(reader.ReadSector(track, c, h, r, n, buffer.data(), buffer.size()),
            static_cast<int>(data.size()));
  EXPECT_TRUE(Holds(buffer, Expected(data.size() + 16, data)));
}

class D88ImageTest : public testing::Test {
 protected:
  void SetUp() override {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace_if(
        name.begin(), name.end(),
        [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) == 0; }, '_');
    dir_ = fs::path(testing::TempDir()) /
           ("d88_image_test_" + name + "_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string PathFor(const std::string& file) const { return (dir_ / file).string(); }

  // Writes the bytes to a file in the test's folder; returns its path.
  std::string WriteImage(const Bytes& bytes, const std::string& file = "image.d88") {
    std::string path = PathFor(file);
    EXPECT_TRUE(WriteFileBytes(path, bytes)) << path;
    return path;
  }

  // A new reader with the bytes opened as its image.
  std::unique_ptr<D88Image> OpenImage(const Bytes& bytes, const std::string& file = "image.d88") {
    auto reader = std::make_unique<D88Image>();
    EXPECT_TRUE(reader->Open(WriteImage(bytes, file).c_str()));
    return reader;
  }

  // A new reader with a one-disk image opened and its disk selected.
  std::unique_ptr<D88Image> OpenDisk(const DiskSpec& disk, const std::string& file = "image.d88") {
    auto reader = OpenImage(BuildDisk(disk), file);
    EXPECT_EQ(reader->DiskCount(), 1);
    EXPECT_TRUE(reader->SelectDisk(0));
    return reader;
  }

  fs::path dir_;
};

// ---------------------------------------------------------------------------
// The directory of disks

TEST_F(D88ImageTest, CountsTheWholeDiskHeadersTheFileHolds) {
  DiskSpec first = PlainDisk(1, 1);
  first.name = "D0";
  DiskSpec second = PlainDisk(2, 2);
  second.name = "D1";
  const std::size_t firstSize = BuildDisk(first).size();
  Bytes file = BuildImage({first, second});
  const std::size_t wholeSize = file.size();
  const Bytes stray = Data(3, 100);
  file.insert(file.end(), stray.begin(), stray.end());

  const struct {
    std::size_t length;
    int count;
  } kCases[] = {
      {0, 0},                // empty file
      {687, 0},              // one byte short of a header
      {688, 1},              // a header and nothing after it
      {firstSize, 1},        // one whole disk
      {firstSize + 687, 1},  // the second header one byte short
      {firstSize + 688, 2},  // the second header whole, its tracks missing
      {wholeSize, 2},        // two whole disks
      {wholeSize + 100, 2},  // two disks and 100 stray bytes
  };
  int caseNumber = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE("file of " + std::to_string(c.length) + " bytes");
    auto reader =
        OpenImage(Slice(file, 0, c.length), "case" + std::to_string(caseNumber++) + ".d88");
    EXPECT_EQ(reader->DiskCount(), c.count);
    for (int i = 0; i < c.count; ++i) {
      EXPECT_TRUE(reader->SelectDisk(i));
      EXPECT_EQ(std::string(reader->DiskName()), "D" + std::to_string(i));
    }
    EXPECT_FALSE(reader->SelectDisk(c.count));
  }
}

TEST_F(D88ImageTest, DirectoryHoldsAtMostSixtyFourDisks) {
  std::vector<DiskSpec> disks;
  for (int i = 0; i < 70; ++i) {
    // Disks of three sizes, so that each offset depends on the sizes before.
    DiskSpec disk = NamedDisk("DISK" + std::to_string(i));
    for (int r = 1; r <= i % 3; ++r) {
      disk.tracks[0].sectors.push_back(
          Sector(0, 0, r, 0, Data(static_cast<std::uint32_t>(i), 128)));
    }
    disks.push_back(disk);
  }
  auto reader = OpenImage(BuildImage(disks));
  ASSERT_EQ(reader->DiskCount(), 64);
  for (int i = 0; i < 64; ++i) {
    ASSERT_TRUE(reader->SelectDisk(i));
    EXPECT_EQ(std::string(reader->DiskName()), "DISK" + std::to_string(i));
  }
  EXPECT_FALSE(reader->SelectDisk(64));
}

// A disk's size field moves the walk on; which disk each directory entry holds
// shows in the name of the disk it selects. A whole header is a disk even when
// its size field carries the walk below 0 or past 2^31 - 1; the walk ends there.
TEST_F(D88ImageTest, SizeFieldsSteerTheDirectoryWalk) {
  const struct {
    const char* what;
    int disk;  // whose size field is overridden; -1 for none
    std::uint32_t size;
    int count;
    int (*entry)(int);  // which disk directory entry i holds
  } kCases[] = {
      {"sizes as laid out", -1, 0, 4, [](int i) { return i; }},
      // A size of 0 leads nowhere: its disk is the last one found.
      {"size 0 in the first disk", 0, 0, 1, [](int i) { return i; }},
      {"size 0 in the third disk", 2, 0, 3, [](int i) { return i; }},
      {"2^31 in the first disk: counted, then the walk ends", 0, 0x80000000U, 1,
       [](int i) { return i; }},
      {"2^32 - 1 in the first disk: counted, then the walk ends", 0, 0xFFFFFFFFU, 1,
       [](int i) { return i; }},
      {"2^31 - 1 in the first disk: next offset in range, nothing there", 0, 0x7FFFFFFFU, 1,
       [](int i) { return i; }},
      {"2^31 - 1 in the second disk", 1, 0x7FFFFFFFU, 2, [](int i) { return i; }},
      {"second disk's size reaching 2^31 exactly", 1, 0x80000000U - 688, 2,
       [](int i) { return i; }},
      {"second disk's size reaching 2^31 - 1 exactly", 1, 0x80000000U - 689, 2,
       [](int i) { return i; }},
      {"2^31 in the second disk", 1, 0x80000000U, 2, [](int i) { return i; }},
      {"third disk's size reaching -1", 2, 0x100000000ULL - 1377, 3, [](int i) { return i; }},
      {"third disk's size reaching 0: the walk goes round to the first disk", 2,
       0x100000000ULL - 1376, 64, [](int i) { return i % 3; }},
  };
  int caseNumber = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::vector<DiskSpec> disks;
    disks.reserve(4);
    for (int i = 0; i < 4; ++i) {
      disks.push_back(NamedDisk("D" + std::to_string(i)));
    }
    if (c.disk >= 0) {
      disks[static_cast<std::size_t>(c.disk)].sizeField = c.size;
    }
    auto reader = OpenImage(BuildImage(disks), "case" + std::to_string(caseNumber++) + ".d88");
    ASSERT_EQ(reader->DiskCount(), c.count);
    for (int i = 0; i < c.count; ++i) {
      ASSERT_TRUE(reader->SelectDisk(i));
      EXPECT_EQ(std::string(reader->DiskName()), "D" + std::to_string(c.entry(i))) << "entry " << i;
    }
    EXPECT_FALSE(reader->SelectDisk(c.count));
  }
}

// ---------------------------------------------------------------------------
// Opening and closing

TEST_F(D88ImageTest, OpenFailsOnAPathThatIsNoReadableFile) {
  const std::string kCases[] = {PathFor("missing.d88"), dir_.string()};
  for (const std::string& path : kCases) {
    SCOPED_TRACE(path);
    D88Image reader;
    EXPECT_FALSE(reader.Open(path.c_str()));
    EXPECT_EQ(reader.DiskCount(), 0);
    EXPECT_FALSE(reader.SelectDisk(0));
    EXPECT_EQ(reader.MediaType(), -1);
    ExpectSectorNotRead(reader, 0, 0, 0, 1, 3);
  }
}

TEST_F(D88ImageTest, OpenWithNoPathClosesTheImage) {
  DiskSpec disk = PlainDisk(1, 7);
  disk.name = "OPENED";
  disk.mediaType = 0x10;
  const std::string path = WriteImage(BuildDisk(disk));
  D88Image reader;
  ASSERT_TRUE(reader.Open(path.c_str()));
  ASSERT_TRUE(reader.SelectDisk(0));
  ExpectSector(reader, 0, 0, 0, 1, 3, SectorData(disk, 0, 1));

  EXPECT_TRUE(reader.Open(nullptr));
  EXPECT_EQ(reader.DiskCount(), 0);
  EXPECT_EQ(reader.MediaType(), -1);
  // The name of the disk last selected stays; nothing can be read.
  EXPECT_EQ(std::string(reader.DiskName()), "OPENED");
  ExpectSectorNotRead(reader, 0, 0, 0, 1, 3);
  ExpectTrackNotListed(reader, 0);
  // With no image, selecting fails and changes nothing.
  EXPECT_FALSE(reader.SelectDisk(0));
  EXPECT_EQ(std::string(reader.DiskName()), "OPENED");
  EXPECT_TRUE(reader.Open(nullptr));

  // The same reader opens the image again, with no disk selected: the disk
  // of the earlier image must not be read from the new one.
  ASSERT_TRUE(reader.Open(path.c_str()));
  EXPECT_EQ(reader.DiskCount(), 1);
  EXPECT_EQ(std::string(reader.DiskName()), "");
  ExpectSectorNotRead(reader, 0, 0, 0, 1, 3);
  ASSERT_TRUE(reader.SelectDisk(0));
  EXPECT_EQ(reader.MediaType(), 0x10);
  ExpectSector(reader, 0, 0, 0, 1, 3, SectorData(disk, 0, 1));
}

TEST_F(D88ImageTest, NewReaderHasNothingToRead) {
  D88Image reader;
  EXPECT_EQ(reader.DiskCount(), 0);
  EXPECT_EQ(reader.MediaType(), -1);
  EXPECT_EQ(std::string(reader.DiskName()), "");
  EXPECT_FALSE(reader.SelectDisk(0));
  ExpectSectorNotRead(reader, 0, 0, 0, 1, 3);
  ExpectTrackNotListed(reader, 0);
  EXPECT_TRUE(reader.Open(nullptr));
}

// ---------------------------------------------------------------------------
// Selecting a disk

TEST_F(D88ImageTest, NothingIsReadBeforeADiskIsSelected) {
  auto reader = OpenImage(BuildDisk(PlainDisk(1, 1)));
  ASSERT_EQ(reader->DiskCount(), 1);
  EXPECT_EQ(reader->MediaType(), -1);
  ExpectSectorNotRead(*reader, 0, 0, 0, 1, 3);
  ExpectTrackNotListed(*reader, 0);
}

TEST_F(D88ImageTest, EachDiskReadsItsOwnSectors) {
  DiskSpec first = PlainDisk(2, 100);
  first.name = "A LONGER NAME";
  first.mediaType = 0x20;
  DiskSpec second = PlainDisk(2, 200);
  second.name = "SHORT";
  second.mediaType = 0x10;
  auto reader = OpenImage(BuildImage({first, second}));
  ASSERT_EQ(reader->DiskCount(), 2);
  for (int index : {1, 0, 1}) {
    SCOPED_TRACE("disk " + std::to_string(index));
    DiskSpec& disk = index == 0 ? first : second;
    ASSERT_TRUE(reader->SelectDisk(index));
    EXPECT_EQ(std::string(reader->DiskName()), disk.name);
    EXPECT_EQ(reader->MediaType(), disk.mediaType);
    ExpectSector(*reader, 1, 0, 1, 8, 3, SectorData(disk, 1, 8));
  }
}

TEST_F(D88ImageTest, SelectingOutsideTheDirectoryLeavesNoDiskSelected) {
  DiskSpec first = PlainDisk(1, 1);
  first.name = "FIRST";
  DiskSpec second = PlainDisk(1, 2);
  second.name = "SECOND";
  second.mediaType = 0x10;
  auto reader = OpenImage(BuildImage({first, second}));
  ASSERT_EQ(reader->DiskCount(), 2);
  for (int index : {2, -1, 64, INT_MAX, INT_MIN}) {
    SCOPED_TRACE("index " + std::to_string(index));
    ASSERT_TRUE(reader->SelectDisk(1));
    EXPECT_FALSE(reader->SelectDisk(index));
    EXPECT_EQ(reader->MediaType(), -1);
    EXPECT_EQ(std::string(reader->DiskName()), "");
    ExpectSectorNotRead(*reader, 0, 0, 0, 1, 3);
    ExpectTrackNotListed(*reader, 0);
  }
  ASSERT_TRUE(reader->SelectDisk(0));
  EXPECT_EQ(std::string(reader->DiskName()), "FIRST");
  ExpectSector(*reader, 0, 0, 0, 1, 3, SectorData(first, 0, 1));
}

TEST_F(D88ImageTest, MediaTypeIsTheHeaderByte) {
  const std::uint8_t kTypes[] = {0x00, 0x10, 0x20, 0x30, 0x40, 0x01, 0xFF};
  std::vector<DiskSpec> disks;
  for (std::uint8_t type : kTypes) {
    DiskSpec disk = NamedDisk("TYPED");
    disk.mediaType = type;
    disks.push_back(disk);
  }
  auto reader = OpenImage(BuildImage(disks));
  ASSERT_EQ(reader->DiskCount(), static_cast<int>(std::size(kTypes)));
  for (int i = 0; i < reader->DiskCount(); ++i) {
    ASSERT_TRUE(reader->SelectDisk(i));
    EXPECT_EQ(reader->MediaType(), kTypes[i]) << "disk " << i;
  }
}

TEST_F(D88ImageTest, DiskNameIsAtMostSixteenBytesUpToTheFirstNul) {
  using namespace std::string_literals;
  const struct {
    std::string field;  // the bytes at the start of the header
    std::string name;
  } kCases[] = {
      {""s, ""s},
      {"A"s, "A"s},
      {"AB\0CD"s, "AB"s},
      {"\0ABC"s, ""s},
      {"0123456789ABCDEF"s, "0123456789ABCDEF"s},
      // The name field is 16 bytes; what follows it is not part of the name.
      {"0123456789ABCDEFGHIJ"s, "0123456789ABCDEF"s},
      {"by_github_ORYZAPAO"s, "by_github_ORYZAP"s},
      {"\x83\x5B\x83\x74\x83\x40\x20\xFF"s, "\x83\x5B\x83\x74\x83\x40\x20\xFF"s},
  };
  std::vector<DiskSpec> disks;
  for (const auto& c : kCases) {
    DiskSpec disk;
    disk.headerPatches[0] = Bytes(c.field.begin(), c.field.end());
    disks.push_back(disk);
  }
  auto reader = OpenImage(BuildImage(disks));
  ASSERT_EQ(reader->DiskCount(), static_cast<int>(std::size(kCases)));
  // Both ways round, so that no name keeps bytes of a longer one before it.
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < reader->DiskCount(); ++k) {
      const int i = pass == 0 ? k : reader->DiskCount() - 1 - k;
      ASSERT_TRUE(reader->SelectDisk(i));
      EXPECT_EQ(std::string(reader->DiskName()), kCases[i].name) << "disk " << i;
    }
  }
}

// ---------------------------------------------------------------------------
// Finding a track

TEST_F(D88ImageTest, TrackIndexMustNameATableEntry) {
  DiskSpec disk;
  disk.tracks[0].sectors.push_back(Sector(0, 0, 1, 3, Data(1)));
  disk.tracks[163].sectors.push_back(Sector(81, 1, 1, 3, Data(2)));
  auto reader = OpenDisk(disk);
  ExpectSector(*reader, 0, 0, 0, 1, 3, Data(1));
  ExpectSector(*reader, 163, 81, 1, 1, 3, Data(2));
  for (int track : {-1, 164, INT_MAX, INT_MIN, 1, 100}) {
    SCOPED_TRACE("track " + std::to_string(track));
    ExpectSectorNotRead(*reader, track, 0, 0, 1, 3);
    ExpectTrackNotListed(*reader, track);
  }
}

// Table entries that would lead to readable sectors (of this disk or of the
// disk before or after it) that the entry does not own.
TEST_F(D88ImageTest, TrackTableEntryMustLieInsideTheDisk) {
  DiskSpec before;
  before.tracks[0].sectors.push_back(Sector(0, 1, 1, 3, Data(10)));
  const std::uint32_t beforeSize = static_cast<std::uint32_t>(BuildDisk(before).size());

  DiskSpec disk;
  disk.tracks[0].sectors.push_back(Sector(0, 0, 1, 3, Data(11)));
  const std::uint32_t diskSize = static_cast<std::uint32_t>(BuildDisk(disk).size());

  DiskSpec after;
  after.tracks[0].sectors.push_back(Sector(0, 1, 1, 3, Data(12)));

  const struct {
    const char* what;
    std::uint32_t entry;
  } kCases[] = {
      {"0: no such track", 0},
      {"past the disk's size, at the next disk's sector", diskSize + 688},
      {"one past the disk's size", diskSize + 1},
      {"negative, at the disk before's sector",
       static_cast<std::uint32_t>(0x100000000ULL - beforeSize + 688)},
      {"-1", 0xFFFFFFFFU},
      {"-2^31", 0x80000000U},
  };
  int caseNumber = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    DiskSpec probed = disk;
    probed.trackTableOverrides[1] = c.entry;
    auto reader = OpenImage(BuildImage({before, probed, after}),
                            "case" + std::to_string(caseNumber++) + ".d88");
    ASSERT_EQ(reader->DiskCount(), 3);
    ASSERT_TRUE(reader->SelectDisk(1));
    ExpectSector(*reader, 0, 0, 0, 1, 3, Data(11));
    ExpectSectorNotRead(*reader, 1, 0, 1, 1, 3);
    ExpectTrackNotListed(*reader, 1);
  }
}

TEST_F(D88ImageTest, TrackEndingTheDiskSizeIsInside) {
  DiskSpec disk;
  disk.tracks[0].sectors.push_back(Sector(0, 0, 1, 3, Data(1)));
  // Small, so that no disk header fits in the bytes after the size field's end.
  disk.tracks[1].sectors.push_back(Sector(0, 1, 1, 0, Data(2, 128)));
  const auto trackOne = static_cast<std::uint32_t>(SectorHeaderOffset(disk, 1, 0));

  disk.sizeField = trackOne;
  auto reader = OpenDisk(disk, "at.d88");
  ExpectSector(*reader, 1, 0, 1, 1, 0, Data(2, 128));

  disk.sizeField = trackOne - 1;
  reader = OpenDisk(disk, "past.d88");
  ExpectSector(*reader, 0, 0, 0, 1, 3, Data(1));
  ExpectSectorNotRead(*reader, 1, 0, 1, 1, 0);
  ExpectTrackNotListed(*reader, 1);
}

// ---------------------------------------------------------------------------
// Finding a sector by its ID fields

TEST_F(D88ImageTest, SectorsAreFoundByTheirIdsInAnyTrackOrder) {
  DiskSpec disk;
  for (int r : {3, 8, 1, 6, 2, 7, 5, 4}) {
    disk.tracks[1].sectors.push_back(Sector(0, 1, r, 3, PatternSector(5, 1, r)));
  }
  auto reader = OpenDisk(disk);
  for (int r = 1; r <= 8; ++r) {
    SCOPED_TRACE("sector " + std::to_string(r));
    ExpectSector(*reader, 1, 0, 1, r, 3, PatternSector(5, 1, r));
  }
  // A run goes by sector number, not by track order.
  reader->SetSectorRange(1, 8);
  Bytes all;
  for (int r = 1; r <= 8; ++r) {
    const Bytes data = PatternSector(5, 1, r);
    all.insert(all.end(), data.begin(), data.end());
  }
  GuardedBuffer buffer(8192);
  EXPECT_EQ(reader->ReadSectors(1, 0, 1, 1, 3, buffer.data(), 8192), 8192);
  EXPECT_TRUE(Holds(buffer, all));
}

TEST_F(D88ImageTest, TrackIndexAndIdsAreIndependent) {
  DiskSpec disk;
  disk.tracks[2].sectors.push_back(Sector(7, 0, 1, 3, Data(1)));
  auto reader = OpenDisk(disk);
  ExpectSector(*reader, 2, 7, 0, 1, 3, Data(1));
  ExpectSectorNotRead(*reader, 2, 1, 0, 1, 3);   // the C the track index suggests
  ExpectSectorNotRead(*reader, 14, 7, 0, 1, 3);  // the track its C suggests
}

TEST_F(D88ImageTest, FirstOfTwoSectorsWithOneIdWins) {
  DiskSpec disk;
  disk.tracks[0].sectors = {Sector(0, 0, 1, 3, Data(1, 512)), Sector(0, 0, 2, 3, Data(2)),
                            Sector(0, 0, 1, 3, Data(3))};
  auto reader = OpenDisk(disk);
  ExpectSector(*reader, 0, 0, 0, 1, 3, Data(1, 512));
  ExpectSector(*reader, 0, 0, 0, 2, 3, Data(2));
}

TEST_F(D88ImageTest, SectorsDifferingInOneIdFieldDoNotMatch) {
  const int kTrack = 5;  // C 2, H 1
  const int kIds[][4] = {
      {2, 1, 5, 2}, {2, 1, 5, 4}, {2, 1, 5, 0}, {3, 1, 5, 3}, {1, 1, 5, 3}, {2, 0, 5, 3},
      {2, 2, 5, 3}, {2, 1, 4, 3}, {2, 1, 6, 3}, {2, 1, 5, 3},  // the one sought, last in the track
  };
  DiskSpec disk;
  std::uint32_t seed = 0;
  for (const auto& id : kIds) {
    disk.tracks[kTrack].sectors.push_back(Sector(id[0], id[1], id[2], id[3], Data(++seed)));
  }
  auto reader = OpenDisk(disk);
  seed = 0;
  for (const auto& id : kIds) {
    SCOPED_TRACE(testing::Message()
                 << "ID " << id[0] << " " << id[1] << " " << id[2] << " " << id[3]);
    ExpectSector(*reader, kTrack, id[0], id[1], id[2], id[3], Data(++seed));
  }
  // A run goes by the size code it is given.
  GuardedBuffer buffer(512);
  EXPECT_EQ(reader->ReadSectors(kTrack, 2, 1, 5, 2, buffer.data(), 512), 512);
  EXPECT_TRUE(Holds(buffer, Slice(Data(1), 0, 512)));
}

TEST_F(D88ImageTest, IdArgumentsOutsideAByteNeverMatch) {
  DiskSpec disk;
  disk.tracks[0].sectors = {Sector(0, 0, 5, 3, Data(1)), Sector(0, 0, 0, 3, Data(2)),
                            Sector(0, 0, 255, 3, Data(3)), Sector(255, 255, 255, 255, Data(4))};
  auto reader = OpenDisk(disk);
  ExpectSector(*reader, 0, 0, 0, 5, 3, Data(1));
  ExpectSector(*reader, 0, 0, 0, 0, 3, Data(2));
  ExpectSector(*reader, 0, 0, 0, 255, 3, Data(3));
  ExpectSector(*reader, 0, 255, 255, 255, 255, Data(4));
  // Each of these is a sector's ID once cut to its low byte.
  const int kIds[][4] = {
      {0, 0, 256, 3},   {0, 0, 261, 3},       {0, 0, -251, 3},    {0, 0, -1, 3},
      {256, 0, 5, 3},   {-256, 0, 5, 3},      {0, 256, 5, 3},     {0, -256, 5, 3},
      {0, 0, 5, 259},   {0, 0, 5, -253},      {INT_MIN, 0, 0, 3}, {0, 0, INT_MAX, 3},
      {-1, -1, -1, -1}, {511, 511, 511, 511},
  };
  for (const auto& id : kIds) {
    SCOPED_TRACE(testing::Message()
                 << "ID " << id[0] << " " << id[1] << " " << id[2] << " " << id[3]);
    ExpectSectorNotRead(*reader, 0, id[0], id[1], id[2], id[3]);
  }
}

// ---------------------------------------------------------------------------
// How much a sector read copies

TEST_F(D88ImageTest, ReadSectorCopiesAtMostMaxLength) {
  DiskSpec disk;
  disk.tracks[0].sectors.push_back(Sector(0, 0, 1, 3, Data(1)));
  auto reader = OpenDisk(disk);
  const struct {
    int maxLength;
    int read;
  } kCases[] = {
      {0, 0},       {1, 1},       {100, 100}, {1023, 1023}, {1024, 1024},
      {1025, 1024}, {4096, 1024}, {-1, 0},    {INT_MIN, 0}, {INT_MAX, 1024},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE("maxLength " + std::to_string(c.maxLength));
    // The buffer is as long as maxLength says, up to what any read could fill.
    const std::size_t room = static_cast<std::size_t>(std::clamp(c.maxLength, 0, 4096));
    GuardedBuffer buffer(room);
    EXPECT_EQ(reader->ReadSector(0, 0, 0, 1, 3, buffer.data(), c.maxLength), c.read);
    EXPECT_TRUE(Holds(buffer, Expected(room, Slice(Data(1), 0, static_cast<std::size_t>(c.read)))));
  }
  EXPECT_EQ(reader->ReadSector(0, 0, 0, 1, 3, nullptr, 1024), 0);
}

TEST_F(D88ImageTest, SectorWithNoDataReadsAsMissing) {
  DiskSpec disk;
  disk.tracks[0].sectors = {Sector(0, 0, 1, 3, Data(1)), Sector(0, 0, 2, 3, {}),
                            Sector(0, 0, 3, 3, Data(3))};
  auto reader = OpenDisk(disk);
  ExpectSectorNotRead(*reader, 0, 0, 0, 2, 3);
  ExpectSector(*reader, 0, 0, 0, 3, 3, Data(3));
  reader->SetSectorRange(1, 8);
  GuardedBuffer buffer(3072);
  EXPECT_EQ(reader->ReadSectors(0, 0, 0, 1, 3, buffer.data(), 3072), 1024);
  EXPECT_TRUE(Holds(buffer, Expected(3072, Data(1))));
  GuardedBuffer ids(16);
  EXPECT_EQ(reader->ReadSectorIds(0, ids.data(), 16), 12);
  EXPECT_TRUE(Holds(ids, Expected(16, {0, 0, 1, 3, 0, 0, 2, 3, 0, 0, 3, 3})));
}

TEST_F(D88ImageTest, SectorLongerThanItsUnitGivesAChunkToARun) {
  DiskSpec disk;
  disk.tracks[0].sectors = {Sector(0, 0, 1, 3, Data(1, 2048)), Sector(0, 0, 2, 3, Data(2))};
  auto reader = OpenDisk(disk);
  ExpectSector(*reader, 0, 0, 0, 1, 3, Data(1, 2048));
  ExpectSector(*reader, 0, 0, 0, 2, 3, Data(2));
  reader->SetSectorRange(1, 8);
  GuardedBuffer buffer(2100);
  EXPECT_EQ(reader->ReadSectors(0, 0, 0, 1, 3, buffer.data(), 2048), 2048);
  EXPECT_TRUE(Holds(buffer, Expected(2100, Concat({Slice(Data(1, 2048), 0, 1024), Data(2)}))));
}

TEST_F(D88ImageTest, SectorShorterThanItsUnitEndsARun) {
  DiskSpec disk;
  disk.tracks[0].sectors = {Sector(0, 0, 1, 3, Data(1, 512)), Sector(0, 0, 2, 3, Data(2))};
  auto reader = OpenDisk(disk);
  ExpectSector(*reader, 0, 0, 0, 1, 3, Data(1, 512));
  ExpectSector(*reader, 0, 0, 0, 2, 3, Data(2));
  reader->SetSectorRange(1, 8);
  const struct {
    int length;
    int read;
  } kCases[] = {{100, 100}, {512, 512}, {513, 0}, {1024, 0}, {2048, 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE("length " + std::to_string(c.length));
    const auto room = static_cast<std::size_t>(c.length);
    GuardedBuffer buffer(room);
    EXPECT_EQ(reader->ReadSectors(0, 0, 0, 1, 3, buffer.data(), c.length), c.read);
    // The short sector's bytes arrive even though the run does not count them.
    EXPECT_TRUE(
        Holds(buffer, Expected(room, Slice(Data(1, 512), 0, std::min<std::size_t>(room, 512)))));
  }
}

// ---------------------------------------------------------------------------
// The number-of-sectors field

// Track 0 holds sectors 1..4, track 1 (next in the file, and last) one more;
// the count fields of these five headers vary.
TEST_F(D88ImageTest, CountFieldEndsTheScan) {
  struct Probe {
    int c, h, r;
    bool found;
  };
  const struct {
    const char* what;
    std::vector<std::uint16_t> counts;
    std::vector<Probe> probes;  // sought through track 0
    int idRecords;              // sector IDs listed for track 0
  } kCases[] = {
      {"counts as laid out",
       {4, 4, 4, 4, 1},
       {{0, 0, 1, true}, {0, 0, 4, true}, {0, 1, 1, false}},
       4},
      {"count 0 in the first header", {0, 4, 4, 4, 1}, {{0, 0, 1, false}, {0, 0, 2, false}}, 4},
      {"count 0 in the second header",
       {4, 0, 4, 4, 1},
       {{0, 0, 1, true}, {0, 0, 2, false}, {0, 0, 3, false}},
       4},
      {"count 3 in every header", {3, 3, 3, 3, 1}, {{0, 0, 3, true}, {0, 0, 4, false}}, 3},
      {"count 1 in every header", {1, 1, 1, 1, 1}, {{0, 0, 1, true}, {0, 0, 2, false}}, 1},
      {"count 1 in the second header", {4, 1, 4, 4, 1}, {{0, 0, 2, true}, {0, 0, 3, false}}, 2},
      {"count 2 read at position 2: the scan has passed it",
       {4, 4, 2, 4, 1},
       {{0, 0, 3, true}, {0, 0, 4, false}},
       3},
      {"count 2 in the first header only: later counts rule",
       {2, 4, 4, 4, 1},
       {{0, 0, 3, true}, {0, 0, 4, true}},
       4},
      {"counts above the track's sectors: the scan runs on into the next bytes",
       {5, 5, 5, 5, 1},
       {{0, 1, 1, true}, {9, 9, 9, false}},
       5},
      {"count 65535 everywhere: the end of the file ends the scan",
       {65535, 65535, 65535, 65535, 65535},
       {{0, 1, 1, true}, {9, 9, 9, false}},
       5},
      {"count 0 everywhere", {0, 0, 0, 0, 0}, {{0, 0, 1, false}, {9, 9, 9, false}}, 5},
  };
  const int kIds[5][4] = {{0, 0, 1, 3}, {0, 0, 2, 3}, {0, 0, 3, 3}, {0, 0, 4, 3}, {0, 1, 1, 3}};
  int caseNumber = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    DiskSpec disk;
    for (int i = 0; i < 5; ++i) {
      SectorSpec sector = Sector(kIds[i][0], kIds[i][1], kIds[i][2], kIds[i][3],
                                 Data(static_cast<std::uint32_t>(i)));
      sector.count = c.counts[static_cast<std::size_t>(i)];
      disk.tracks[i < 4 ? 0 : 1].sectors.push_back(sector);
    }
    auto reader = OpenDisk(disk, "case" + std::to_string(caseNumber++) + ".d88");
    for (const Probe& probe : c.probes) {
      SCOPED_TRACE(testing::Message() << "sector " << probe.c << " " << probe.h << " " << probe.r);
      if (probe.found) {
        const int at = probe.h == 1 ? 4 : probe.r - 1;
        ExpectSector(*reader, 0, probe.c, probe.h, probe.r, 3,
                     Data(static_cast<std::uint32_t>(at)));
      } else {
        ExpectSectorNotRead(*reader, 0, probe.c, probe.h, probe.r, 3);
      }
    }
    Bytes records;
    for (int i = 0; i < c.idRecords; ++i) {
      records.insert(records.end(), std::begin(kIds[i]), std::end(kIds[i]));
    }
    GuardedBuffer ids(64);
    EXPECT_EQ(reader->ReadSectorIds(0, ids.data(), 64), 4 * c.idRecords);
    EXPECT_TRUE(Holds(ids, Expected(64, records)));
  }
}

// ---------------------------------------------------------------------------
// Listing a track's sector IDs

TEST_F(D88ImageTest, ReadSectorIdsListsTheTrackInItsOrder) {
  DiskSpec disk;
  disk.tracks[3].sectors = {Sector(1, 1, 8, 3, Data(1)), Sector(1, 1, 1, 2, Data(2, 512)),
                            Sector(0, 0, 0, 0, {}), Sector(255, 254, 253, 252, Data(4, 2048)),
                            Sector(1, 1, 8, 3, Data(5, 128))};
  const Bytes all = {1, 1, 8, 3, 1, 1, 1, 2, 0, 0, 0, 0, 255, 254, 253, 252, 1, 1, 8, 3};
  auto reader = OpenDisk(disk);
  const struct {
    int destLength;
    int written;
  } kCases[] = {{20, 20}, {64, 20}, {19, 16}, {16, 16}, {7, 4},      {4, 4},
                {3, 0},   {0, 0},   {-1, 0},  {-4, 0},  {INT_MIN, 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE("destLength " + std::to_string(c.destLength));
    const auto room = static_cast<std::size_t>(std::max(c.destLength, 0));
    GuardedBuffer ids(room);
    EXPECT_EQ(reader->ReadSectorIds(3, ids.data(), c.destLength), c.written);
    EXPECT_TRUE(Holds(ids, Expected(room, Slice(all, 0, static_cast<std::size_t>(c.written)))));
  }
  EXPECT_EQ(reader->ReadSectorIds(3, nullptr, 64), 0);
}

// ---------------------------------------------------------------------------
// Runs of sectors

// Runs over the known disks' layout, compared with the disk's sectors laid end
// to end.
TEST_F(D88ImageTest, ReadSectorsStepsThroughSectorsHeadsAndCylinders) {
  const int kTracks = 16;
  const DiskSpec disk = PlainDisk(kTracks, 42);
  const Bytes linear = LinearBytes(disk, kTracks);
  auto reader = OpenDisk(disk);
  reader->SetSectorRange(1, 8);
  const struct {
    int track, r, length, read;
  } kCases[] = {
      {0, 1, 1, 1},
      {0, 1, 1536, 1536},                      // 1024, then 512 of sector 2
      {0, 1, 8192, 8192},                      // one whole track
      {4, 8, 2048, 2048},                      // c 2 h 0 sector 8, on to c 2 h 1 sector 1
      {5, 8, 2048, 2048},                      // c 2 h 1 sector 8, on to c 3 h 0 sector 1
      {13, 8, 1920, 1920},                     // 1024 from sector 8, 896 from track 14's sector 1
      {3, 6, 30000, 30000},                    // across four tracks, ending mid-sector
      {0, 1, kTracks * 8192, kTracks * 8192},  // the whole disk
      {15, 8, 2048, 1024},                     // track 16 is not there
      {14, 3, kTracks * 8192, 2 * 8192 - 2 * 1024},  // to the end of the disk, no further
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << "track " << c.track << " sector " << c.r << " length " << c.length);
    const auto room = static_cast<std::size_t>(c.length) + 100;
    GuardedBuffer buffer(room);
    EXPECT_EQ(
        reader->ReadSectors(c.track, c.track / 2, c.track % 2, c.r, 3, buffer.data(), c.length),
        c.read);
    const std::size_t from =
        static_cast<std::size_t>(c.track) * 8192 + static_cast<std::size_t>(c.r - 1) * 1024;
    EXPECT_TRUE(
        Holds(buffer, Expected(room, Slice(linear, from, static_cast<std::size_t>(c.read)))));
  }
}

TEST_F(D88ImageTest, ReadSectorsStepsWithinTheSectorRange) {
  // Tracks of sectors 3..5 only.
  DiskSpec disk;
  for (int track = 0; track < 4; ++track) {
    for (int r = 3; r <= 5; ++r) {
      disk.tracks[track].sectors.push_back(
          Sector(track / 2, track % 2, r, 3, PatternSector(9, track, r)));
    }
  }
  Bytes linear;
  for (int track = 0; track < 4; ++track) {
    for (int r = 3; r <= 5; ++r) {
      const Bytes data = PatternSector(9, track, r);
      linear.insert(linear.end(), data.begin(), data.end());
    }
  }
  auto reader = OpenDisk(disk);
  GuardedBuffer buffer(linear.size());
  // Under the range a new reader starts with, 1..16, sector 6 is sought after 5.
  EXPECT_EQ(reader->ReadSectors(0, 0, 0, 3, 3, buffer.data(), buffer.size()), 3072);
  reader->SetSectorRange(3, 5);
  EXPECT_EQ(reader->ReadSectors(0, 0, 0, 3, 3, buffer.data(), buffer.size()), buffer.size());
  EXPECT_TRUE(Holds(buffer, linear));
  GuardedBuffer fromLast(3072);
  EXPECT_EQ(reader->ReadSectors(1, 0, 1, 5, 3, fromLast.data(), 3072), 3072);
  EXPECT_TRUE(Holds(fromLast, Slice(linear, std::size_t{5} * 1024, 3072)));
}

TEST_F(D88ImageTest, NewReaderStepsTracksAfterSectorSixteen) {
  DiskSpec disk;
  Bytes linear;
  for (int track = 0; track < 3; ++track) {
    for (int r = 1; r <= 16; ++r) {
      disk.tracks[track].sectors.push_back(
          Sector(track / 2, track % 2, r, 1, PatternSector(4, track, r, 256)));
      const Bytes data = PatternSector(4, track, r, 256);
      linear.insert(linear.end(), data.begin(), data.end());
    }
  }
  auto reader = OpenDisk(disk);
  GuardedBuffer buffer(1024);
  EXPECT_EQ(reader->ReadSectors(0, 0, 0, 16, 1, buffer.data(), 512), 512);
  EXPECT_TRUE(Holds(buffer, Expected(1024, Slice(linear, std::size_t{15} * 256, 512))));
  GuardedBuffer two(512);
  EXPECT_EQ(reader->ReadSectors(1, 0, 1, 16, 1, two.data(), 512), 512);  // on to c 1 h 0
  EXPECT_TRUE(Holds(two, Slice(linear, std::size_t{31} * 256, 512)));
  GuardedBuffer whole(linear.size());
  EXPECT_EQ(reader->ReadSectors(0, 0, 0, 1, 1, whole.data(), whole.size()), whole.size());
  EXPECT_TRUE(Holds(whole, linear));
}

TEST_F(D88ImageTest, RunStopsAtTheFirstSectorItCannotRead) {
  const struct {
    const char* what;
    void (*change)(DiskSpec&);
  } kCases[] = {
      {"second sector missing",
       [](DiskSpec& d) { d.tracks.at(0).sectors.erase(d.tracks.at(0).sectors.begin() + 1); }},
      {"second sector of another size code", [](DiskSpec& d) { d.tracks.at(0).sectors[1].n = 2; }},
      {"second sector of another cylinder", [](DiskSpec& d) { d.tracks.at(0).sectors[1].c = 1; }},
      {"second sector with no data", [](DiskSpec& d) { SectorData(d, 0, 2).clear(); }},
  };
  int caseNumber = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    DiskSpec disk = PlainDisk(1, 8);
    const Bytes first = SectorData(disk, 0, 1);
    c.change(disk);
    auto reader = OpenDisk(disk, "case" + std::to_string(caseNumber++) + ".d88");
    reader->SetSectorRange(1, 8);
    GuardedBuffer buffer(2048);
    EXPECT_EQ(reader->ReadSectors(0, 0, 0, 1, 3, buffer.data(), 2048), 1024);
    EXPECT_TRUE(Holds(buffer, Expected(2048, first)));
  }
  // Off the end of the track table: track 164 does not exist, nor does C 82.
  DiskSpec disk;
  disk.tracks[163].sectors.push_back(Sector(81, 1, 8, 3, Data(1)));
  auto reader = OpenDisk(disk, "last-track.d88");
  reader->SetSectorRange(1, 8);
  GuardedBuffer buffer(2048);
  EXPECT_EQ(reader->ReadSectors(163, 81, 1, 8, 3, buffer.data(), 2048), 1024);
  EXPECT_TRUE(Holds(buffer, Expected(2048, Data(1))));
}

TEST_F(D88ImageTest, ReadSectorsTakesSizeCodesZeroToEight) {
  DiskSpec disk;
  for (int n = 0; n <= 8; ++n) {
    disk.tracks[0].sectors.push_back(
        Sector(0, 0, 1, n, Data(static_cast<std::uint32_t>(n), 128 << n)));
  }
  // A sector that carries size code 9: found by ID, but no run reads it.
  disk.tracks[0].sectors.push_back(Sector(0, 0, 1, 9, Data(9)));
  auto reader = OpenDisk(disk);
  for (int n = 0; n <= 8; ++n) {
    SCOPED_TRACE("size code " + std::to_string(n));
    const int unit = 128 << n;
    GuardedBuffer buffer(static_cast<std::size_t>(unit) + 16);
    EXPECT_EQ(reader->ReadSectors(0, 0, 0, 1, n, buffer.data(), unit), unit);
    EXPECT_TRUE(Holds(buffer, Expected(static_cast<std::size_t>(unit) + 16,
                                       Data(static_cast<std::uint32_t>(n), unit))));
  }
  ExpectSector(*reader, 0, 0, 0, 1, 9, Data(9));
  for (int n : {9, -1, 31, 32, INT_MAX, INT_MIN}) {
    SCOPED_TRACE("size code " + std::to_string(n));
    GuardedBuffer buffer(1024);
    EXPECT_EQ(reader->ReadSectors(0, 0, 0, 1, n, buffer.data(), 1024), 0);
    EXPECT_TRUE(Holds(buffer, Untouched(1024)));
  }
}

TEST_F(D88ImageTest, ReadSectorsOfNoLengthReadNothing) {
  auto reader = OpenDisk(PlainDisk(1, 1));
  for (int length : {0, -1, -1024, INT_MIN}) {
    SCOPED_TRACE("length " + std::to_string(length));
    GuardedBuffer buffer(1024);
    EXPECT_EQ(reader->ReadSectors(0, 0, 0, 1, 3, buffer.data(), length), 0);
    EXPECT_TRUE(Holds(buffer, Untouched(1024)));
  }
  EXPECT_EQ(reader->ReadSectors(0, 0, 0, 1, 3, nullptr, 1024), 0);
}

// ---------------------------------------------------------------------------
// Truncated images

// One track of three 1024-byte sectors, the file cut short at various places;
// the disk's size field still gives the whole disk.
TEST_F(D88ImageTest, TruncatedImageYieldsOnlyTheBytesItHolds) {
  DiskSpec disk;
  for (int r = 1; r <= 3; ++r) {
    disk.tracks[0].sectors.push_back(Sector(0, 0, r, 3, Data(static_cast<std::uint32_t>(r))));
  }
  const Bytes whole = BuildDisk(disk);
  const std::size_t s1 = SectorHeaderOffset(disk, 0, 0);
  const std::size_t s2 = SectorHeaderOffset(disk, 0, 1);
  const std::size_t s3 = SectorHeaderOffset(disk, 0, 2);
  const struct {
    const char* what;
    std::size_t length;
    int delivered[3];  // what each sector read yields
    int idRecords;
  } kCases[] = {
      {"no track data", s1, {0, 0, 0}, 0},
      {"inside sector 1's header", s1 + 8, {0, 0, 0}, 0},
      {"after sector 1's header", s1 + 16, {0, 0, 0}, 1},
      {"inside sector 1's data", s1 + 16 + 700, {700, 0, 0}, 1},
      {"after sector 1", s2, {1024, 0, 0}, 1},
      {"inside sector 2's header", s2 + 15, {1024, 0, 0}, 1},
      {"after sector 2's header", s2 + 16, {1024, 0, 0}, 2},
      {"one byte into sector 2's data", s2 + 17, {1024, 1, 0}, 2},
      {"one byte short of sector 2's end", s3 - 1, {1024, 1023, 0}, 2},
      // The sought ID is in the bytes there, but a header cut short never matches.
      {"inside sector 3's header", s3 + 10, {1024, 1024, 0}, 2},
      {"300 bytes into sector 3's data", s3 + 16 + 300, {1024, 1024, 300}, 3},
      {"nothing cut", whole.size(), {1024, 1024, 1024}, 3},
  };
  int caseNumber = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    auto reader =
        OpenImage(Slice(whole, 0, c.length), "case" + std::to_string(caseNumber++) + ".d88");
    ASSERT_EQ(reader->DiskCount(), 1);
    ASSERT_TRUE(reader->SelectDisk(0));
    reader->SetSectorRange(1, 8);
    Bytes runBytes;  // what a run over all three writes
    int runLength = 0;
    bool runGoesOn = true;
    for (int r = 1; r <= 3; ++r) {
      SCOPED_TRACE("sector " + std::to_string(r));
      const auto delivered = static_cast<std::size_t>(c.delivered[r - 1]);
      const Bytes data = Slice(Data(static_cast<std::uint32_t>(r)), 0, delivered);
      GuardedBuffer buffer(1024);
      EXPECT_EQ(reader->ReadSector(0, 0, 0, r, 3, buffer.data(), 1024), c.delivered[r - 1]);
      EXPECT_TRUE(Holds(buffer, Expected(1024, data)));
      if (runGoesOn) {
        runBytes.insert(runBytes.end(), data.begin(), data.end());
        runGoesOn = delivered == 1024;
        runLength += runGoesOn ? 1024 : 0;
      }
      // A run of just the bytes the sector holds counts them all.
      if (delivered > 0) {
        GuardedBuffer exact(delivered);
        EXPECT_EQ(reader->ReadSectors(0, 0, 0, r, 3, exact.data(), exact.size()), exact.size());
        EXPECT_TRUE(Holds(exact, data));
      }
    }
    GuardedBuffer run(3072);
    EXPECT_EQ(reader->ReadSectors(0, 0, 0, 1, 3, run.data(), 3072), runLength);
    EXPECT_TRUE(Holds(run, Expected(3072, runBytes)));

    const Bytes allIds = {0, 0, 1, 3, 0, 0, 2, 3, 0, 0, 3, 3};
    GuardedBuffer ids(64);
    EXPECT_EQ(reader->ReadSectorIds(0, ids.data(), 64), 4 * c.idRecords);
    EXPECT_TRUE(
        Holds(ids, Expected(64, Slice(allIds, 0, 4 * static_cast<std::size_t>(c.idRecords)))));
  }
}

// ---------------------------------------------------------------------------
// The reader keeps the image's bytes in blocks of D88Image::kBlockSize. The
// header of sector j + 1 of this track starts j bytes before the end of block j
// (j = 0..16), so that headers and data lie across block boundaries at every
// alignment.
TEST_F(D88ImageTest, SectorsAcrossBlockBoundariesReadWhole) {
  const std::int64_t block = D88Image::kBlockSize;
  ASSERT_LE(block, 0x10000) << "a sector's data size field holds at most 65535";
  DiskSpec disk;
  std::vector<Bytes> data;
  std::int64_t at = 688;  // the track starts right after the disk header
  for (int j = 0; j <= 17; ++j) {
    const std::int64_t next = (j + 1) * block - j;
    const int size = j < 17 ? static_cast<int>(next - at - 16) : 1024;
    data.push_back(PatternSector(77, 0, j, size));
    disk.tracks[0].sectors.push_back(Sector(0, 0, j, 3, data.back()));
    at = next;
  }
  ASSERT_EQ(SectorHeaderOffset(disk, 0, 17), static_cast<std::size_t>(17 * block - 16));
  Bytes ids;
  for (int j = 0; j <= 17; ++j) {
    ids.insert(ids.end(), {0, 0, static_cast<std::uint8_t>(j), 3});
  }
  const std::string path = WriteImage(BuildDisk(disk));

  // Each pass starts with nothing read: once listing the IDs first, once
  // reading the last sector first; each reads everything twice.
  for (bool idsFirst : {true, false}) {
    SCOPED_TRACE(idsFirst ? "IDs first" : "last sector first");
    D88Image reader;
    ASSERT_TRUE(reader.Open(path.c_str()));
    ASSERT_TRUE(reader.SelectDisk(0));
    for (int round = 0; round < 2; ++round) {
      GuardedBuffer listed(ids.size() + 8);
      const auto list = [&] {
        EXPECT_EQ(reader.ReadSectorIds(0, listed.data(), listed.size()),
                  static_cast<int>(ids.size()));
        EXPECT_TRUE(Holds(listed, Expected(ids.size() + 8, ids)));
      };
      if (idsFirst) {
        list();
      }
      for (int j = 17; j >= 0; --j) {
        SCOPED_TRACE("sector " + std::to_string(j));
        ExpectSector(reader, 0, 0, 0, j, 3, data[static_cast<std::size_t>(j)]);
      }
      if (!idsFirst) {
        list();
      }
    }
  }
}

// ---------------------------------------------------------------------------
// A real image: a blank 2D disk formatted by another tool, 80 tracks of
// sixteen 256-byte sectors (size code 1) with IDs (track / 2, track % 2, R, 1),
// laid out one after another from the end of the header.

Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class RealImageTest : public testing::Test {
 protected:
  static constexpr int kTracks = 80;
  static constexpr int kSectors = 16;
  static constexpr int kSectorSize = 256;

  void SetUp() override {
    file_ = ReadWholeFile(path_);
    ASSERT_EQ(file_.size(), 348848U) << path_;
    ASSERT_TRUE(reader_.Open(path_.c_str()));
    ASSERT_EQ(reader_.DiskCount(), 1);
    ASSERT_TRUE(reader_.SelectDisk(0));
  }

  // The data of a sector where the image's regular layout puts it.
  Bytes SectorAt(int track, int r) const {
    const std::size_t at = 688 + static_cast<std::size_t>(track) * kSectors * (16 + kSectorSize) +
                           static_cast<std::size_t>(r - 1) * (16 + kSectorSize) + 16;
    return Slice(file_, at, kSectorSize);
  }

  const std::string path_ = ZEFACUT_TEST_DATA "/hubasic-2d-blank.d88";
  Bytes file_;
  D88Image reader_;
};

TEST_F(RealImageTest, HeaderFields) {
  // The name field holds more than 16 non-NUL bytes.
  EXPECT_EQ(std::string(reader_.DiskName()), "by_github_ORYZAP");
  EXPECT_EQ(reader_.MediaType(), 0);
  EXPECT_FALSE(reader_.SelectDisk(1));
}

TEST_F(RealImageTest, EveryTrackListsSixteenSectorIds) {
  for (int track = 0; track < D88Image::kMaxTracks; ++track) {
    SCOPED_TRACE("track " + std::to_string(track));
    GuardedBuffer ids(80);
    if (track >= kTracks) {
      EXPECT_EQ(reader_.ReadSectorIds(track, ids.data(), ids.size()), 0);
      EXPECT_TRUE(Holds(ids, Untouched(80)));
      continue;
    }
    Bytes expected;
    for (int r = 1; r <= kSectors; ++r) {
      expected.insert(expected.end(),
                      {static_cast<std::uint8_t>(track / 2), static_cast<std::uint8_t>(track % 2),
                       static_cast<std::uint8_t>(r), 1});
    }
    EXPECT_EQ(reader_.ReadSectorIds(track, ids.data(), ids.size()), 64);
    EXPECT_TRUE(Holds(ids, Expected(80, expected)));
  }
}

TEST_F(RealImageTest, EverySectorReadsItsData) {
  for (int track = 0; track < kTracks; ++track) {
    for (int r = 1; r <= kSectors; ++r) {
      SCOPED_TRACE(testing::Message() << "track " << track << " sector " << r);
      ExpectSector(reader_, track, track / 2, track % 2, r, 1, SectorAt(track, r));
    }
  }
  // What a few sectors hold, apart from the layout: the formatter's fill
  // byte, a directory sector, the start of the allocation table.
  EXPECT_EQ(SectorAt(40, 1), Bytes(256, 0xE5));
  EXPECT_EQ(SectorAt(1, 2), Bytes(256, 0xFF));
  EXPECT_EQ(Slice(SectorAt(0, 15), 0, 4), (Bytes{0x01, 0x8F, 0x85, 0x85}));
  // The disk has size code 1 only.
  ExpectSectorNotRead(reader_, 0, 0, 0, 1, 3);
  ExpectSectorNotRead(reader_, 0, 0, 0, 17, 1);
}

TEST_F(RealImageTest, OneRunReadsTheWholeDisk) {
  Bytes linear;
  for (int track = 0; track < kTracks; ++track) {
    for (int r = 1; r <= kSectors; ++r) {
      const Bytes data = SectorAt(track, r);
      linear.insert(linear.end(), data.begin(), data.end());
    }
  }
  // A new reader's sector range, 1..16, fits this disk. One sector more
  // would be on track 80, which is not there.
  GuardedBuffer buffer(linear.size() + kSectorSize);
  EXPECT_EQ(reader_.ReadSectors(0, 0, 0, 1, 1, buffer.data(), buffer.size()),
            static_cast<int>(linear.size()));
  EXPECT_TRUE(Holds(buffer, Expected(linear.size() + kSectorSize, linear)));
  // Reading never changes the image.
  EXPECT_EQ(ReadWholeFile(path_), file_);
}

}  // namespace

// ---------------------------------------------------------------------------
// The image as the neutral model

class D88ModelTest : public D88ImageTest {};

SectorSpec ModelSector(int r, std::uint8_t deletedMark, std::uint8_t status) {
  SectorSpec sector;
  sector.r = static_cast<std::uint8_t>(r);
  sector.data = PatternSector(5, 0, r, 256);
  sector.deletedMark = deletedMark;
  sector.status = status;
  return sector;
}

TEST_F(D88ModelTest, SectorsComeInRecordedOrderWithWhatHeaderBytesSevenAndEightSay) {
  const struct {
    std::uint8_t deletedMark;
    std::uint8_t status;
    SectorFlags flags;
  } kCases[] = {
      {0x00, 0x00, 0},
      {0x10, 0x00, kDeletedData},
      {0x00, 0x10, kDeletedData},
      {0x00, 0xA0, kIdCrcError},
      {0x00, 0xB0, kDataCrcError},
      {0x00, 0xE0, kNoAddressMark},
      {0x00, 0xF0, kNoDataMark},
      {0x10, 0xB0, kDeletedData | kDataCrcError},
      {0x01, 0x40, 0},  // neither a deleted mark nor a status the format names
  };
  DiskSpec disk;
  int r = 9;  // recorded order differs from R order
  for (const auto& c : kCases) {
    disk.tracks[3].sectors.push_back(ModelSector(r--, c.deletedMark, c.status));
  }
  disk.tracks[3].sectors.back().density = 0x40;
  auto reader = OpenImage(BuildDisk(disk));
  ASSERT_EQ(reader->DiskCount(), 1);
  const std::shared_ptr<const Track> track = reader->ReadTrack(0, 3);
  ASSERT_TRUE(track);
  ASSERT_EQ(track->Sectors().size(), std::size(kCases));
  for (std::size_t i = 0; i < std::size(kCases); ++i) {
    SCOPED_TRACE(i);
    const ::Sector& sector = track->Sectors()[i];
    const SectorSpec& spec = disk.tracks[3].sectors[i];
    EXPECT_EQ(sector.id, (SectorId{spec.c, spec.h, spec.r, spec.n}));
    EXPECT_EQ(sector.flags, kCases[i].flags);
    EXPECT_EQ(sector.singleDensity, i + 1 == std::size(kCases));  // byte 6 of the last is 0x40
    EXPECT_EQ(sector.recordedSize, 256U);
    EXPECT_EQ(sector.size, 256U);
    Bytes data(300, 0xEE);
    EXPECT_EQ(reader->ReadData(sector, data.data(), data.size()), 256U);
    EXPECT_EQ(Slice(data, 0, 256), spec.data);
    EXPECT_EQ(data[256], 0xEE);
  }
  EXPECT_FALSE(reader->ReadTrack(0, 2));
  EXPECT_FALSE(reader->ReadTrack(0, 164));
  EXPECT_FALSE(reader->ReadTrack(1, 3));
}

// A track holds what a read by ID finds there: the count field ends it, a
// count of 0 in its first header leaves it empty, the first of two sectors
// with one ID is the one found, and data cut short by the end of the file
// holds only what is there.
TEST_F(D88ModelTest, TrackHoldsWhatAReadByIdFinds) {
  DiskSpec disk = PlainDisk(4, 3);
  disk.tracks[0].sectors[0].count = 0;
  for (auto& sector : disk.tracks[1].sectors) {
    sector.count = 3;
  }
  disk.tracks[2].sectors[5] = disk.tracks[2].sectors[1];
  disk.tracks[2].sectors[5].data = PatternSector(9, 9, 9);
  Bytes image = BuildDisk(disk);
  image.resize(image.size() - 1000);  // 24 bytes of track 3's last sector stay
  auto reader = OpenImage(image);

  EXPECT_TRUE(reader->ReadTrack(0, 0)->Sectors().empty());
  ASSERT_TRUE(reader->SelectDisk(0));
  unsigned char ids[64];
  EXPECT_EQ(reader->ReadSectorIds(0, ids, sizeof ids), 32);  // the listing goes past it

  EXPECT_EQ(reader->ReadTrack(0, 1)->Sectors().size(), 3U);

  const std::shared_ptr<const Track> duplicates = reader->ReadTrack(0, 2);
  ASSERT_EQ(duplicates->Sectors().size(), 8U);
  EXPECT_EQ(duplicates->Find({1, 0, 2, 3}), &duplicates->Sectors()[1]);
  EXPECT_EQ(duplicates->Find({1, 0, 6, 3}), nullptr);

  const ::Sector& last = reader->ReadTrack(0, 3)->Sectors().back();
  EXPECT_EQ(last.recordedSize, 1024U);
  EXPECT_EQ(last.size, 24U);
  Bytes data(1024, 0);
  EXPECT_EQ(reader->ReadData(last, data.data(), data.size()), 24U);
  EXPECT_EQ(Slice(data, 0, 24), Slice(disk.tracks[3].sectors[7].data, 0, 24));
}

// Track entries that point at one place share one parse, and a long track is
// searched through its index with the same result as in recorded order.
TEST_F(D88ModelTest, LongTracksAndSharedEntriesFindTheFirstSectorOfEachId) {
  DiskSpec disk;
  for (int i = 0; i < 300; ++i) {
    SectorSpec sector;
    sector.c = static_cast<std::uint8_t>(i % 7);
    sector.h = static_cast<std::uint8_t>(i % 2);
    sector.r = static_cast<std::uint8_t>(i % 11);
    sector.n = static_cast<std::uint8_t>(i % 3);
    sector.data = Bytes(4, static_cast<std::uint8_t>(i));
    disk.tracks[0].sectors.push_back(sector);
  }
  disk.trackTableOverrides[5] = 0x2B0;
  auto reader = OpenImage(BuildDisk(disk));
  const std::shared_ptr<const Track> track = reader->ReadTrack(0, 0);
  EXPECT_EQ(reader->ReadTrack(0, 5), track);
  const std::vector<::Sector>& sectors = track->Sectors();
  ASSERT_EQ(sectors.size(), 300U);
  for (int c = 0; c < 8; ++c) {
    for (int r = 0; r < 12; ++r) {
      for (int h = 0; h < 2; ++h) {
        for (int n = 0; n < 4; ++n) {
          const SectorId id = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(h),
                               static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(n)};
          const auto first = std::find_if(sectors.begin(), sectors.end(),
                                          [id](const ::Sector& sector) { return sector.id == id; });
          EXPECT_EQ(track->Find(id), first == sectors.end() ? nullptr : &*first);
        }
      }
    }
  }
}

TEST_F(D88ModelTest, DescribeGivesTheHeaderAsRecorded) {
  DiskSpec first = PlainDisk(2, 1);
  first.name = "FIRST";
  first.mediaType = 0x20;
  DiskSpec second = PlainDisk(1, 2);
  second.name = "SECOND";
  second.trackTableOverrides[7] = 0x12345678;
  const Bytes firstBytes = BuildDisk(first);
  auto reader = OpenImage(BuildImage({first, second}));
  ASSERT_EQ(reader->DiskCount(), 2);
  const DiskInfo info = reader->Describe(1);
  EXPECT_EQ(info.name, "SECOND");
  EXPECT_EQ(info.mediaType, 0);
  EXPECT_EQ(info.offset, static_cast<std::int64_t>(firstBytes.size()));
  EXPECT_EQ(info.sizeField, static_cast<std::uint32_t>(BuildDisk(second).size()));
  ASSERT_EQ(info.trackLocations.size(), 164U);
  EXPECT_EQ(info.trackLocations[0], 0x2B0);
  EXPECT_EQ(info.trackLocations[1], 0);
  EXPECT_EQ(info.trackLocations[7], 0x12345678);
  EXPECT_EQ(reader->Describe(0).mediaType, 0x20);
}

// A size field of 2^31 or more ends the directory walk after its disk, but
// the disk is read: its size bounds its track offsets as the unsigned count
// it is.
TEST_F(D88ModelTest, DiskWhoseSizeFieldReadsAsTwoGiBOrMoreKeepsItsTracks) {
  for (const std::uint32_t size : {0x80000000U, 0xFFFFFFFFU}) {
    SCOPED_TRACE(size);
    DiskSpec disk = PlainDisk(2, 4);
    disk.sizeField = size;
    disk.trackTableOverrides[2] = 0x70000000U;  // inside the size, outside the file
    auto reader = OpenImage(BuildImage({disk, PlainDisk(1, 5)}), "size" + std::to_string(size));
    ASSERT_EQ(reader->DiskCount(), 1);
    ASSERT_TRUE(reader->ReadTrack(0, 1));
    EXPECT_EQ(reader->ReadTrack(0, 1)->Sectors().size(), 8U);
    EXPECT_TRUE(reader->ReadTrack(0, 2)->Sectors().empty());
    ASSERT_TRUE(reader->SelectDisk(0));
    Bytes data(1024, 0);
    EXPECT_EQ(reader->ReadSector(1, 0, 1, 5, 3, data.data(), 1024), 1024);
    EXPECT_EQ(data, disk.tracks[1].sectors[4].data);
  }
}

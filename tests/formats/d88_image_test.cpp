// Tests of the D88 reader through the model (DiskImage), over images built in
// memory and read from memory, over files where a file matters, and over one
// real image in tests/data. Runs of sectors go through the tool's own stepping
// (ReadRun: R 1..8, then the head, then the cylinder).
//
// Every read lands in a buffer with guard bytes on either side and a known
// fill inside, so each test sees exactly which bytes a read wrote.
#include "formats/d88_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "disk/model.h"
#include "input/byte_source.h"
#include "input/open_image.h"
#include "known/sector_run.h"
#include "support/scratch_folder.h"
#include "testkit/image_builder.h"

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
  std::size_t size() const { return size_; }

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

SectorId Id(int c, int h, int r, int n) {
  return {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(r),
          static_cast<std::uint8_t>(n)};
}

std::string IdText(SectorId id) {
  return "ID " + std::to_string(id.c) + " " + std::to_string(id.h) + " " + std::to_string(id.r) +
         " " + std::to_string(id.n);
}

SectorSpec MakeSector(int c, int h, int r, int n, Bytes data) {
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

// The D88 reader over bytes in memory, as an archive member is read.
std::unique_ptr<DiskImage> Load(const Bytes& bytes) {
  LoadResult loaded = kD88Format.load(MemorySource(bytes));
  EXPECT_NE(loaded.image, nullptr) << loaded.error << " " << loaded.systemError;
  return std::move(loaded.image);
}

// A one-disk image in memory.
std::unique_ptr<DiskImage> LoadDisk(const DiskSpec& disk) {
  auto image = Load(BuildDisk(disk));
  EXPECT_EQ(image->DiskCount(), 1);
  return image;
}

// A sector as a read by ID finds it in a track, with the track it lies in.
struct Found {
  std::shared_ptr<const Track> track;
  const ::Sector* sector = nullptr;
};

Found FindSector(DiskImage& image, int disk, int track, SectorId id) {
  Found found;
  found.track = image.ReadTrack(disk, track);
  found.sector = found.track ? found.track->Find(id) : nullptr;
  return found;
}

// Expects no sector of that ID in the track (nor the track at all).
void ExpectNoSector(DiskImage& image, int disk, int track, SectorId id) {
  SCOPED_TRACE(IdText(id));
  EXPECT_EQ(FindSector(image, disk, track, id).sector, nullptr);
}

// Expects the sector to be there and to read whole: all of `data`, and
// nothing past it.
void ExpectSector(DiskImage& image, int disk, int track, SectorId id, const Bytes& data) {
  SCOPED_TRACE(IdText(id));
  const Found found = FindSector(image, disk, track, id);
  ASSERT_NE(found.sector, nullptr);
  EXPECT_EQ(found.sector->size, data.size());
  EXPECT_EQ(found.sector->recordedSize, data.size());
  GuardedBuffer buffer(data.size() + 16);
  EXPECT_EQ(image.ReadData(*found.sector, buffer.data(), buffer.size()), data.size());
  EXPECT_TRUE(Holds(buffer, Expected(data.size() + 16, data)));
}

// The IDs of a track's sectors in recorded order; none for no track.
std::vector<SectorId> TrackIds(DiskImage& image, int disk, int track) {
  std::vector<SectorId> ids;
  if (const std::shared_ptr<const Track> parsed = image.ReadTrack(disk, track)) {
    std::transform(parsed->Sectors().begin(), parsed->Sectors().end(), std::back_inserter(ids),
                   [](const ::Sector& sector) { return sector.id; });
  }
  return ids;
}

// A run of disk 0 from a sector, as the tool reads a file's bytes.
SectorRun RunFrom(DiskImage& image, int track, SectorId id, std::size_t length) {
  return ReadRun(image, 0, {track, id}, length);
}

// Where a run stopped: the track and ID, or nothing when it did not.
testing::AssertionResult StoppedAt(const SectorRun& run, std::optional<SectorAddress> where) {
  if (run.stop.has_value() != where.has_value()) {
    return testing::AssertionFailure() << (run.stop ? "stopped" : "did not stop");
  }
  if (where && (run.stop->track != where->track || run.stop->id != where->id)) {
    return testing::AssertionFailure()
           << "stopped at track " << run.stop->track << " " << IdText(run.stop->id);
  }
  return testing::AssertionSuccess();
}

class D88ImageTest : public testing::Test {
 protected:
  void TearDown() override {
    if (!dir_.empty()) {
      std::error_code ignored;
      fs::remove_all(dir_, ignored);
    }
  }

  // A folder of the test's own, made on first use.
  const fs::path& Dir() {
    if (dir_.empty()) {
      dir_ = MakeScratchFolder("d88_image_test");
    }
    return dir_;
  }

  std::string PathFor(const std::string& file) { return (Dir() / file).string(); }

 private:
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
    std::int64_t after;  // bytes after the last disk, for the warning of them
  } kCases[] = {
      {0, 0, 0},                  // empty file
      {687, 0, 687},              // one byte short of a header
      {688, 1, 0},                // a header and nothing after it
      {firstSize, 1, 0},          // one whole disk
      {firstSize + 687, 1, 687},  // the second header one byte short
      {firstSize + 688, 2, 0},    // the second header whole, its tracks missing
      {wholeSize, 2, 0},          // two whole disks
      {wholeSize + 100, 2, 100},  // two disks and 100 stray bytes
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE("file of " + std::to_string(c.length) + " bytes");
    auto image = Load(Slice(file, 0, c.length));
    ASSERT_EQ(image->DiskCount(), c.count);
    for (int i = 0; i < c.count; ++i) {
      EXPECT_EQ(image->Describe(i).name, "D" + std::to_string(i));
    }
    EXPECT_EQ(image->Describe(c.count).name, "");
    const ImageInfo about = image->DescribeImage();
    EXPECT_STREQ(about.format, "D88");
    EXPECT_EQ(about.fileSize, static_cast<std::int64_t>(c.length));
    EXPECT_EQ(about.bytesAfterLastDisk, c.after);
    EXPECT_FALSE(about.zeroSizeDisk);
    EXPECT_FALSE(about.diskLimit);
  }
}

TEST_F(D88ImageTest, DirectoryHoldsAtMostSixtyFourDisks) {
  std::vector<DiskSpec> disks;
  std::vector<std::int64_t> offsets;
  std::int64_t offset = 0;
  for (int i = 0; i < 70; ++i) {
    // Disks of three sizes, so that each offset depends on the sizes before.
    DiskSpec disk = NamedDisk("DISK" + std::to_string(i));
    for (int r = 1; r <= i % 3; ++r) {
      disk.tracks[0].sectors.push_back(
          MakeSector(0, 0, r, 0, Data(static_cast<std::uint32_t>(i), 128)));
    }
    disks.push_back(disk);
    offsets.push_back(offset);
    offset += static_cast<std::int64_t>(BuildDisk(disk).size());
  }
  auto image = Load(BuildImage(disks));
  ASSERT_EQ(image->DiskCount(), 64);
  for (int i = 0; i < 64; ++i) {
    const DiskInfo info = image->Describe(i);
    EXPECT_EQ(info.name, "DISK" + std::to_string(i));
    EXPECT_EQ(info.offset, offsets[static_cast<std::size_t>(i)]) << "disk " << i;
  }
  EXPECT_EQ(image->Describe(64).name, "");
  EXPECT_FALSE(image->ReadTrack(64, 0));
  const ImageInfo about = image->DescribeImage();
  EXPECT_EQ(about.diskLimit, 64);
  EXPECT_FALSE(about.bytesAfterLastDisk);
}

// A disk's size field moves the walk on; which disk each directory entry holds
// shows in its name. A whole header is a disk even when its size field
// carries the walk below 0 or past 2^31 - 1; the walk ends there. How the walk
// ended is what the listing warns of.
TEST_F(D88ImageTest, SizeFieldsSteerTheDirectoryWalk) {
  const struct {
    const char* what;
    int disk;  // whose size field is overridden; -1 for none
    std::uint32_t size;
    int count;
    int (*entry)(int);  // which disk directory entry i holds
    std::optional<std::int64_t> after;
    std::optional<int> zeroSize;
    std::optional<int> limit;
  } kCases[] = {
      {"sizes as laid out", -1, 0, 4, [](int i) { return i; }, 0, {}, {}},
      // A size of 0 leads nowhere: its disk is the last one found.
      {"size 0 in the first disk", 0, 0, 1, [](int i) { return i; }, {}, 0, {}},
      {"size 0 in the third disk", 2, 0, 3, [](int i) { return i; }, {}, 2, {}},
      {"2^31 in the first disk: counted, then the walk ends",
       0,
       0x80000000U,
       1,
       [](int i) { return i; },
       {},
       {},
       {}},
      {"2^32 - 1 in the first disk: counted, then the walk ends",
       0,
       0xFFFFFFFFU,
       1,
       [](int i) { return i; },
       {},
       {},
       {}},
      {"2^31 - 1 in the first disk: next offset in range, nothing there",
       0,
       0x7FFFFFFFU,
       1,
       [](int i) { return i; },
       0,
       {},
       {}},
      {"2^31 - 1 in the second disk", 1, 0x7FFFFFFFU, 2, [](int i) { return i; }, {}, {}, {}},
      {"second disk's size reaching 2^31 exactly",
       1,
       0x80000000U - 688,
       2,
       [](int i) { return i; },
       {},
       {},
       {}},
      {"second disk's size reaching 2^31 - 1 exactly",
       1,
       0x80000000U - 689,
       2,
       [](int i) { return i; },
       0,
       {},
       {}},
      {"2^31 in the second disk", 1, 0x80000000U, 2, [](int i) { return i; }, {}, {}, {}},
      {"third disk's size reaching -1",
       2,
       0x100000000ULL - 1377,
       3,
       [](int i) { return i; },
       {},
       {},
       {}},
      {"third disk's size reaching 0: the walk goes round to the first disk",
       2,
       0x100000000ULL - 1376,
       64,
       [](int i) { return i % 3; },
       {},
       {},
       64},
  };
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
    auto image = Load(BuildImage(disks));
    ASSERT_EQ(image->DiskCount(), c.count);
    for (int i = 0; i < c.count; ++i) {
      EXPECT_EQ(image->Describe(i).name, "D" + std::to_string(c.entry(i))) << "entry " << i;
    }
    EXPECT_EQ(image->Describe(c.count).name, "");
    const ImageInfo about = image->DescribeImage();
    EXPECT_EQ(about.bytesAfterLastDisk, c.after);
    EXPECT_EQ(about.zeroSizeDisk, c.zeroSize);
    EXPECT_EQ(about.diskLimit, c.limit);
  }
}

// ---------------------------------------------------------------------------
// Loading

TEST_F(D88ImageTest, LoadFailsOnAPathThatIsNoReadableFile) {
  const std::string kCases[] = {PathFor("missing.d88"), Dir().string()};
  for (const std::string& path : kCases) {
    SCOPED_TRACE(path);
    const OpenedImage opened = OpenImage(OpenFileSource(path.c_str()));
    EXPECT_EQ(opened.image, nullptr);
    EXPECT_NE(opened.error, 0);
    // Where the system gives a folder a size, the reader's own reads fail.
    errno = 0;
    if (std::unique_ptr<ByteSource> source = OpenFileSource(path.c_str())) {
      const LoadResult loaded = kD88Format.load(std::move(source));
      EXPECT_EQ(loaded.image, nullptr);
      EXPECT_NE(loaded.systemError, 0);
    } else {
      EXPECT_NE(errno, 0);
    }
  }
  const LoadResult none = kD88Format.load(nullptr);
  EXPECT_EQ(none.image, nullptr);
  EXPECT_NE(none.systemError, 0);
}

// A source whose reads fail from some offset on, as a failing device's.
class FailingSource : public ByteSource {
 public:
  FailingSource(Bytes bytes, std::int64_t failFrom) : bytes_(std::move(bytes)), fail_(failFrom) {}
  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  int Error() const override { return error_; }
  std::size_t ReadAt(std::int64_t offset, unsigned char* dest, std::size_t length) override {
    if (offset < 0 || offset >= Size()) {
      return 0;
    }
    const std::int64_t end = std::min(offset + static_cast<std::int64_t>(length), Size());
    if (end > fail_) {
      error_ = EIO;
      return 0;
    }
    std::copy(bytes_.begin() + offset, bytes_.begin() + end, dest);
    return static_cast<std::size_t>(end - offset);
  }

 private:
  Bytes bytes_;
  std::int64_t fail_;
  int error_ = 0;
};

// A failed read while the disks are found means the image cannot be read at
// all; it is no short file.
TEST_F(D88ImageTest, LoadFailsWhenTheDirectoryCannotBeRead) {
  const Bytes image = BuildImage({PlainDisk(1, 1), PlainDisk(1, 2)});
  // At the first header, inside it, inside the second disk's header.
  const auto second = static_cast<std::int64_t>(BuildDisk(PlainDisk(1, 1)).size());
  for (const std::int64_t failFrom : {std::int64_t{0}, std::int64_t{100}, second + 100}) {
    SCOPED_TRACE("reads fail from byte " + std::to_string(failFrom));
    const LoadResult loaded = kD88Format.load(std::make_unique<FailingSource>(image, failFrom));
    EXPECT_EQ(loaded.image, nullptr);
    EXPECT_EQ(loaded.systemError, EIO);
  }
}

TEST_F(D88ImageTest, EachLoadReadsItsOwnImage) {
  DiskSpec disk = PlainDisk(1, 7);
  disk.name = "OPENED";
  disk.mediaType = 0x10;
  DiskSpec other = PlainDisk(1, 8);
  other.name = "OTHER";
  const Bytes bytes = BuildDisk(disk);
  auto image = Load(bytes);
  auto again = Load(bytes);
  auto second = Load(BuildDisk(other));
  for (int round = 0; round < 2; ++round) {
    ExpectSector(*image, 0, 0, Id(0, 0, 1, 3), SectorData(disk, 0, 1));
    ExpectSector(*second, 0, 0, Id(0, 0, 1, 3), SectorData(other, 0, 1));
    ExpectSector(*again, 0, 0, Id(0, 0, 1, 3), SectorData(disk, 0, 1));
  }
  image.reset();
  EXPECT_EQ(again->Describe(0).name, "OPENED");
  EXPECT_EQ(again->Describe(0).mediaType, 0x10);
  EXPECT_EQ(second->Describe(0).name, "OTHER");
  ExpectSector(*again, 0, 0, Id(0, 0, 8, 3), SectorData(disk, 0, 8));
}

// ---------------------------------------------------------------------------
// Disks by index

TEST_F(D88ImageTest, EmptyFileHasNothingToRead) {
  auto image = Load({});
  EXPECT_EQ(image->DiskCount(), 0);
  EXPECT_EQ(image->DescribeImage().fileSize, 0);
  EXPECT_EQ(image->Describe(0).name, "");
  EXPECT_FALSE(image->Describe(0).mediaType);
  EXPECT_FALSE(image->ReadTrack(0, 0));
}

TEST_F(D88ImageTest, EachDiskReadsItsOwnSectors) {
  DiskSpec first = PlainDisk(2, 100);
  first.name = "A LONGER NAME";
  first.mediaType = 0x20;
  DiskSpec second = PlainDisk(2, 200);
  second.name = "SHORT";
  second.mediaType = 0x10;
  auto image = Load(BuildImage({first, second}));
  ASSERT_EQ(image->DiskCount(), 2);
  for (int index : {1, 0, 1}) {
    SCOPED_TRACE("disk " + std::to_string(index));
    DiskSpec& disk = index == 0 ? first : second;
    EXPECT_EQ(image->Describe(index).name, disk.name);
    EXPECT_EQ(image->Describe(index).mediaType, disk.mediaType);
    ExpectSector(*image, index, 1, Id(0, 1, 8, 3), SectorData(disk, 1, 8));
  }
}

TEST_F(D88ImageTest, DisksOutsideTheDirectoryHaveNothingToRead) {
  DiskSpec first = PlainDisk(1, 1);
  first.name = "FIRST";
  DiskSpec second = PlainDisk(1, 2);
  second.name = "SECOND";
  second.mediaType = 0x10;
  auto image = Load(BuildImage({first, second}));
  ASSERT_EQ(image->DiskCount(), 2);
  for (int index : {2, -1, 64, INT_MAX, INT_MIN}) {
    SCOPED_TRACE("index " + std::to_string(index));
    const DiskInfo info = image->Describe(index);
    EXPECT_EQ(info.name, "");
    EXPECT_FALSE(info.mediaType);
    EXPECT_FALSE(info.sizeField);
    EXPECT_TRUE(info.trackLocations.empty());
    EXPECT_FALSE(image->ReadTrack(index, 0));
  }
  EXPECT_EQ(image->Describe(0).name, "FIRST");
  ExpectSector(*image, 0, 0, Id(0, 0, 1, 3), SectorData(first, 0, 1));
  EXPECT_EQ(image->Describe(1).name, "SECOND");
  ExpectSector(*image, 1, 0, Id(0, 0, 1, 3), SectorData(second, 0, 1));
}

TEST_F(D88ImageTest, MediaTypeIsTheHeaderByte) {
  const std::uint8_t kTypes[] = {0x00, 0x10, 0x20, 0x30, 0x40, 0x01, 0xFF};
  std::vector<DiskSpec> disks;
  for (std::uint8_t type : kTypes) {
    DiskSpec disk = NamedDisk("TYPED");
    disk.mediaType = type;
    disks.push_back(disk);
  }
  auto image = Load(BuildImage(disks));
  ASSERT_EQ(image->DiskCount(), static_cast<int>(std::size(kTypes)));
  for (int i = 0; i < image->DiskCount(); ++i) {
    EXPECT_EQ(image->Describe(i).mediaType, kTypes[i]) << "disk " << i;
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
  auto image = Load(BuildImage(disks));
  ASSERT_EQ(image->DiskCount(), static_cast<int>(std::size(kCases)));
  // Both ways round, so that no name keeps bytes of a longer one before it.
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < image->DiskCount(); ++k) {
      const int i = pass == 0 ? k : image->DiskCount() - 1 - k;
      EXPECT_EQ(image->Describe(i).name, kCases[i].name) << "disk " << i;
    }
  }
}

// ---------------------------------------------------------------------------
// Finding a track

TEST_F(D88ImageTest, TrackIndexMustNameATableEntry) {
  DiskSpec disk;
  disk.tracks[0].sectors.push_back(MakeSector(0, 0, 1, 3, Data(1)));
  disk.tracks[163].sectors.push_back(MakeSector(81, 1, 1, 3, Data(2)));
  auto image = LoadDisk(disk);
  ExpectSector(*image, 0, 0, Id(0, 0, 1, 3), Data(1));
  ExpectSector(*image, 0, 163, Id(81, 1, 1, 3), Data(2));
  for (int track : {-1, 164, INT_MAX, INT_MIN, 1, 100}) {
    SCOPED_TRACE("track " + std::to_string(track));
    EXPECT_FALSE(image->ReadTrack(0, track));
  }
  const DiskInfo info = image->Describe(0);
  ASSERT_EQ(info.trackLocations.size(), 164U);
  EXPECT_EQ(info.trackLocations[1], 0);
  EXPECT_EQ(info.trackLocations[100], 0);
}

// Table entries that would lead to readable sectors (of this disk or of the
// disk before or after it) that the entry does not own. The listing still
// shows the entry as recorded.
TEST_F(D88ImageTest, TrackTableEntryMustLieInsideTheDisk) {
  DiskSpec before;
  before.tracks[0].sectors.push_back(MakeSector(0, 1, 1, 3, Data(10)));
  const std::uint32_t beforeSize = static_cast<std::uint32_t>(BuildDisk(before).size());

  DiskSpec disk;
  disk.tracks[0].sectors.push_back(MakeSector(0, 0, 1, 3, Data(11)));
  const std::uint32_t diskSize = static_cast<std::uint32_t>(BuildDisk(disk).size());

  DiskSpec after;
  after.tracks[0].sectors.push_back(MakeSector(0, 1, 1, 3, Data(12)));

  const struct {
    const char* what;
    std::uint32_t entry;
    std::int64_t listed;
  } kCases[] = {
      {"0: no such track", 0, 0},
      {"past the disk's size, at the next disk's sector", diskSize + 688, diskSize + 688},
      {"one past the disk's size", diskSize + 1, diskSize + 1},
      {"negative, at the disk before's sector",
       static_cast<std::uint32_t>(0x100000000ULL - beforeSize + 688),
       std::int64_t{688} - beforeSize},
      {"-1", 0xFFFFFFFFU, -1},
      {"-2^31", 0x80000000U, INT32_MIN},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    DiskSpec probed = disk;
    probed.trackTableOverrides[1] = c.entry;
    auto image = Load(BuildImage({before, probed, after}));
    ASSERT_EQ(image->DiskCount(), 3);
    ExpectSector(*image, 1, 0, Id(0, 0, 1, 3), Data(11));
    EXPECT_FALSE(image->ReadTrack(1, 1));
    EXPECT_EQ(image->Describe(1).trackLocations.at(1), c.listed);
  }
}

TEST_F(D88ImageTest, TrackEndingTheDiskSizeIsInside) {
  DiskSpec disk;
  disk.tracks[0].sectors.push_back(MakeSector(0, 0, 1, 3, Data(1)));
  // Small, so that no disk header fits in the bytes after the size field's end.
  disk.tracks[1].sectors.push_back(MakeSector(0, 1, 1, 0, Data(2, 128)));
  const auto trackOne = static_cast<std::uint32_t>(SectorHeaderOffset(disk, 1, 0));

  disk.sizeField = trackOne;
  auto image = LoadDisk(disk);
  ExpectSector(*image, 0, 1, Id(0, 1, 1, 0), Data(2, 128));

  disk.sizeField = trackOne - 1;
  image = LoadDisk(disk);
  ExpectSector(*image, 0, 0, Id(0, 0, 1, 3), Data(1));
  EXPECT_FALSE(image->ReadTrack(0, 1));
}

// ---------------------------------------------------------------------------
// Finding a sector by its ID fields

TEST_F(D88ImageTest, SectorsAreFoundByTheirIdsInAnyTrackOrder) {
  DiskSpec disk;
  for (int r : {3, 8, 1, 6, 2, 7, 5, 4}) {
    disk.tracks[1].sectors.push_back(MakeSector(0, 1, r, 3, PatternSector(5, 1, r)));
  }
  auto image = LoadDisk(disk);
  for (int r = 1; r <= 8; ++r) {
    SCOPED_TRACE("sector " + std::to_string(r));
    ExpectSector(*image, 0, 1, Id(0, 1, r, 3), PatternSector(5, 1, r));
  }
  // A run goes by sector number, not by track order.
  Bytes all;
  for (int r = 1; r <= 8; ++r) {
    const Bytes data = PatternSector(5, 1, r);
    all.insert(all.end(), data.begin(), data.end());
  }
  const SectorRun run = RunFrom(*image, 1, Id(0, 1, 1, 3), 8192);
  EXPECT_EQ(Bytes(run.bytes.begin(), run.bytes.end()), all);
  EXPECT_TRUE(StoppedAt(run, std::nullopt));
}

TEST_F(D88ImageTest, TrackIndexAndIdsAreIndependent) {
  DiskSpec disk;
  disk.tracks[2].sectors.push_back(MakeSector(7, 0, 1, 3, Data(1)));
  auto image = LoadDisk(disk);
  ExpectSector(*image, 0, 2, Id(7, 0, 1, 3), Data(1));
  ExpectNoSector(*image, 0, 2, Id(1, 0, 1, 3));   // the C the track index suggests
  ExpectNoSector(*image, 0, 14, Id(7, 0, 1, 3));  // the track its C suggests
}

TEST_F(D88ImageTest, FirstOfTwoSectorsWithOneIdWins) {
  DiskSpec disk;
  disk.tracks[0].sectors = {MakeSector(0, 0, 1, 3, Data(1, 512)), MakeSector(0, 0, 2, 3, Data(2)),
                            MakeSector(0, 0, 1, 3, Data(3))};
  auto image = LoadDisk(disk);
  ExpectSector(*image, 0, 0, Id(0, 0, 1, 3), Data(1, 512));
  ExpectSector(*image, 0, 0, Id(0, 0, 2, 3), Data(2));
  // The later one is there for the notes on duplicates.
  const Found found = FindSector(*image, 0, 0, Id(0, 0, 1, 3));
  ASSERT_NE(found.sector, nullptr);
  const std::vector<const ::Sector*> later = found.track->LaterWithSameId(*found.sector);
  ASSERT_EQ(later.size(), 1U);
  EXPECT_EQ(later[0], &found.track->Sectors()[2]);
  EXPECT_EQ(later[0]->size, 1024U);
}

TEST_F(D88ImageTest, SectorsDifferingInOneIdFieldDoNotMatch) {
  const int kTrack = 5;  // C 2, H 1
  const SectorId kIds[] = {
      Id(2, 1, 5, 2), Id(2, 1, 5, 4), Id(2, 1, 5, 0), Id(3, 1, 5, 3),
      Id(1, 1, 5, 3), Id(2, 0, 5, 3), Id(2, 2, 5, 3), Id(2, 1, 4, 3),
      Id(2, 1, 6, 3), Id(2, 1, 5, 3),  // the one sought, last in the track
  };
  DiskSpec disk;
  std::uint32_t seed = 0;
  for (const SectorId id : kIds) {
    disk.tracks[kTrack].sectors.push_back(MakeSector(id.c, id.h, id.r, id.n, Data(++seed)));
  }
  auto image = LoadDisk(disk);
  seed = 0;
  for (const SectorId id : kIds) {
    ExpectSector(*image, 0, kTrack, id, Data(++seed));
  }
  // A run goes by the size code it is given.
  const SectorRun run = RunFrom(*image, kTrack, Id(2, 1, 5, 2), 512);
  EXPECT_EQ(Bytes(run.bytes.begin(), run.bytes.end()), Slice(Data(1), 0, 512));
}

// The IDs at either end of a byte are IDs like any other. (An ID field is a
// byte in the model: no ID outside one can be asked for.)
TEST_F(D88ImageTest, IdsAtEitherEndOfAByteMatch) {
  DiskSpec disk;
  disk.tracks[0].sectors = {MakeSector(0, 0, 5, 3, Data(1)), MakeSector(0, 0, 0, 3, Data(2)),
                            MakeSector(0, 0, 255, 3, Data(3)),
                            MakeSector(255, 255, 255, 255, Data(4))};
  auto image = LoadDisk(disk);
  ExpectSector(*image, 0, 0, Id(0, 0, 5, 3), Data(1));
  ExpectSector(*image, 0, 0, Id(0, 0, 0, 3), Data(2));
  ExpectSector(*image, 0, 0, Id(0, 0, 255, 3), Data(3));
  ExpectSector(*image, 0, 0, Id(255, 255, 255, 255), Data(4));
  ExpectNoSector(*image, 0, 0, Id(255, 255, 255, 3));
  ExpectNoSector(*image, 0, 0, Id(0, 0, 1, 3));
}

// ---------------------------------------------------------------------------
// How much a data read copies

TEST_F(D88ImageTest, ReadDataCopiesAtMostTheLengthAsked) {
  DiskSpec disk;
  disk.tracks[0].sectors.push_back(MakeSector(0, 0, 1, 3, Data(1)));
  auto image = LoadDisk(disk);
  const Found found = FindSector(*image, 0, 0, Id(0, 0, 1, 3));
  ASSERT_NE(found.sector, nullptr);
  constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
  const struct {
    std::size_t length;
    std::size_t read;
  } kCases[] = {
      {0, 0},       {1, 1},       {100, 100},      {1023, 1023}, {1024, 1024},
      {1025, 1024}, {4096, 1024}, {INT_MAX, 1024}, {kMax, 1024},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE("length " + std::to_string(c.length));
    // The buffer is as long as asked, up to what any read could fill.
    const std::size_t room = std::min<std::size_t>(c.length, 4096);
    GuardedBuffer buffer(room);
    EXPECT_EQ(image->ReadData(*found.sector, buffer.data(), c.length), c.read);
    EXPECT_TRUE(Holds(buffer, Expected(room, Slice(Data(1), 0, c.read))));
  }
  EXPECT_EQ(image->ReadData(*found.sector, nullptr, 1024), 0U);
}

TEST_F(D88ImageTest, SectorWithNoDataHoldsNothing) {
  DiskSpec disk;
  disk.tracks[0].sectors = {MakeSector(0, 0, 1, 3, Data(1)), MakeSector(0, 0, 2, 3, {}),
                            MakeSector(0, 0, 3, 3, Data(3))};
  auto image = LoadDisk(disk);
  const Found empty = FindSector(*image, 0, 0, Id(0, 0, 2, 3));
  ASSERT_NE(empty.sector, nullptr);
  EXPECT_EQ(empty.sector->size, 0U);
  EXPECT_EQ(empty.sector->recordedSize, 0U);
  GuardedBuffer none(1024);
  EXPECT_EQ(image->ReadData(*empty.sector, none.data(), none.size()), 0U);
  EXPECT_TRUE(Holds(none, Untouched(1024)));
  ExpectSector(*image, 0, 0, Id(0, 0, 3, 3), Data(3));
  // A run stops there, with what the sector holds.
  const SectorRun run = RunFrom(*image, 0, Id(0, 0, 1, 3), 3072);
  EXPECT_EQ(Bytes(run.bytes.begin(), run.bytes.end()), Data(1));
  EXPECT_TRUE(StoppedAt(run, SectorAddress{0, Id(0, 0, 2, 3)}));
  EXPECT_EQ(run.stopHolds, 0U);
  EXPECT_EQ(TrackIds(*image, 0, 0),
            (std::vector<SectorId>{Id(0, 0, 1, 3), Id(0, 0, 2, 3), Id(0, 0, 3, 3)}));
}

TEST_F(D88ImageTest, SectorLongerThanItsUnitGivesAChunkToARun) {
  DiskSpec disk;
  disk.tracks[0].sectors = {MakeSector(0, 0, 1, 3, Data(1, 2048)), MakeSector(0, 0, 2, 3, Data(2))};
  auto image = LoadDisk(disk);
  ExpectSector(*image, 0, 0, Id(0, 0, 1, 3), Data(1, 2048));
  ExpectSector(*image, 0, 0, Id(0, 0, 2, 3), Data(2));
  const SectorRun run = RunFrom(*image, 0, Id(0, 0, 1, 3), 2048);
  EXPECT_EQ(Bytes(run.bytes.begin(), run.bytes.end()),
            Concat({Slice(Data(1, 2048), 0, 1024), Data(2)}));
  EXPECT_TRUE(StoppedAt(run, std::nullopt));
}

TEST_F(D88ImageTest, SectorShorterThanItsUnitEndsARun) {
  DiskSpec disk;
  disk.tracks[0].sectors = {MakeSector(0, 0, 1, 3, Data(1, 512)), MakeSector(0, 0, 2, 3, Data(2))};
  auto image = LoadDisk(disk);
  ExpectSector(*image, 0, 0, Id(0, 0, 1, 3), Data(1, 512));
  ExpectSector(*image, 0, 0, Id(0, 0, 2, 3), Data(2));
  const struct {
    std::size_t length;
    std::size_t read;
  } kCases[] = {{100, 100}, {512, 512}, {513, 0}, {1024, 0}, {2048, 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE("length " + std::to_string(c.length));
    const SectorRun run = RunFrom(*image, 0, Id(0, 0, 1, 3), c.length);
    EXPECT_EQ(Bytes(run.bytes.begin(), run.bytes.end()), Slice(Data(1, 512), 0, c.read));
    if (c.read < c.length) {
      // The run says how much the short sector holds.
      EXPECT_TRUE(StoppedAt(run, SectorAddress{0, Id(0, 0, 1, 3)}));
      EXPECT_EQ(run.stopHolds, 512U);
    } else {
      EXPECT_TRUE(StoppedAt(run, std::nullopt));
    }
  }
}

// ---------------------------------------------------------------------------
// The number-of-sectors field

// Track 0 holds sectors 1..4, track 1 (next in the file, and last) one more;
// the count fields of these five headers vary. The track holds the sectors
// a read by ID finds.
TEST_F(D88ImageTest, CountFieldEndsTheScan) {
  struct Probe {
    int c, h, r;
    bool found;
  };
  const struct {
    const char* what;
    std::vector<std::uint16_t> counts;
    std::vector<Probe> probes;  // sought through track 0
    std::size_t sectors;        // the sectors track 0 holds
  } kCases[] = {
      {"counts as laid out",
       {4, 4, 4, 4, 1},
       {{0, 0, 1, true}, {0, 0, 4, true}, {0, 1, 1, false}},
       4},
      {"count 0 in the first header", {0, 4, 4, 4, 1}, {{0, 0, 1, false}, {0, 0, 2, false}}, 0},
      {"count 0 in the second header",
       {4, 0, 4, 4, 1},
       {{0, 0, 1, true}, {0, 0, 2, false}, {0, 0, 3, false}},
       1},
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
      {"count 0 everywhere", {0, 0, 0, 0, 0}, {{0, 0, 1, false}, {9, 9, 9, false}}, 0},
  };
  const SectorId kIds[5] = {Id(0, 0, 1, 3), Id(0, 0, 2, 3), Id(0, 0, 3, 3), Id(0, 0, 4, 3),
                            Id(0, 1, 1, 3)};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    DiskSpec disk;
    for (int i = 0; i < 5; ++i) {
      const SectorId id = kIds[i];
      SectorSpec sector = MakeSector(id.c, id.h, id.r, id.n, Data(static_cast<std::uint32_t>(i)));
      sector.count = c.counts[static_cast<std::size_t>(i)];
      disk.tracks[i < 4 ? 0 : 1].sectors.push_back(sector);
    }
    auto image = LoadDisk(disk);
    for (const Probe& probe : c.probes) {
      const SectorId id = Id(probe.c, probe.h, probe.r, 3);
      if (probe.found) {
        const int at = probe.h == 1 ? 4 : probe.r - 1;
        ExpectSector(*image, 0, 0, id, Data(static_cast<std::uint32_t>(at)));
      } else {
        ExpectNoSector(*image, 0, 0, id);
      }
    }
    EXPECT_EQ(TrackIds(*image, 0, 0), std::vector<SectorId>(kIds, kIds + c.sectors));
  }
}

// ---------------------------------------------------------------------------
// A track's sectors

TEST_F(D88ImageTest, TrackListsItsSectorsInRecordedOrder) {
  DiskSpec disk;
  disk.tracks[3].sectors = {MakeSector(1, 1, 8, 3, Data(1)), MakeSector(1, 1, 1, 2, Data(2, 512)),
                            MakeSector(0, 0, 0, 0, {}),
                            MakeSector(255, 254, 253, 252, Data(4, 2048)),
                            MakeSector(1, 1, 8, 3, Data(5, 128))};
  auto image = LoadDisk(disk);
  const std::shared_ptr<const Track> track = image->ReadTrack(0, 3);
  ASSERT_TRUE(track);
  const std::uint32_t kSizes[] = {1024, 512, 0, 2048, 128};
  ASSERT_EQ(track->Sectors().size(), std::size(kSizes));
  for (std::size_t i = 0; i < std::size(kSizes); ++i) {
    SCOPED_TRACE("sector " + std::to_string(i));
    const SectorSpec& spec = disk.tracks[3].sectors[i];
    const ::Sector& sector = track->Sectors()[i];
    EXPECT_EQ(sector.id, Id(spec.c, spec.h, spec.r, spec.n));
    EXPECT_EQ(sector.recordedSize, kSizes[i]);
    EXPECT_EQ(sector.size, kSizes[i]);
    GuardedBuffer buffer(kSizes[i]);
    EXPECT_EQ(image->ReadData(sector, buffer.data(), buffer.size()), kSizes[i]);
    EXPECT_TRUE(Holds(buffer, spec.data));
  }
  EXPECT_EQ(track->Find(Id(1, 1, 8, 3)), track->Sectors().data());
  // Where the track lies in the file: from its first header to past its
  // last sector's data.
  ASSERT_TRUE(track->Extent());
  EXPECT_EQ(track->Extent()->start, static_cast<std::int64_t>(SectorHeaderOffset(disk, 3, 0)));
  EXPECT_EQ(track->Extent()->end, static_cast<std::int64_t>(SectorHeaderOffset(disk, 3, 5)));
}

// ---------------------------------------------------------------------------
// Runs of sectors

// Runs over the known disks' layout, compared with the disk's sectors laid end
// to end.
TEST_F(D88ImageTest, RunStepsThroughSectorsHeadsAndCylinders) {
  const int kTracks = 16;
  const DiskSpec disk = PlainDisk(kTracks, 42);
  const Bytes linear = LinearBytes(disk, kTracks);
  auto image = LoadDisk(disk);
  const struct {
    int track, r;
    std::size_t length, read;
  } kCases[] = {
      {0, 1, 1, 1},
      {0, 1, 1536, 1536},    // 1024, then 512 of sector 2
      {0, 1, 8192, 8192},    // one whole track
      {4, 8, 2048, 2048},    // c 2 h 0 sector 8, on to c 2 h 1 sector 1
      {5, 8, 2048, 2048},    // c 2 h 1 sector 8, on to c 3 h 0 sector 1
      {13, 8, 1920, 1920},   // 1024 from sector 8, 896 from track 14's sector 1
      {3, 6, 30000, 30000},  // across four tracks, ending mid-sector
      {0, 1, std::size_t{kTracks} * 8192, std::size_t{kTracks} * 8192},  // the whole disk
      {15, 8, 2048, 1024},                                               // track 16 is not there
      {14, 3, std::size_t{kTracks} * 8192,
       std::size_t{2} * 8192 - std::size_t{2} * 1024},  // to the end of the disk, no further
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << "track " << c.track << " sector " << c.r << " length " << c.length);
    const SectorRun run = RunFrom(*image, c.track, Id(c.track / 2, c.track % 2, c.r, 3), c.length);
    const std::size_t from =
        static_cast<std::size_t>(c.track) * 8192 + static_cast<std::size_t>(c.r - 1) * 1024;
    EXPECT_EQ(Bytes(run.bytes.begin(), run.bytes.end()), Slice(linear, from, c.read));
    EXPECT_TRUE(StoppedAt(run, c.read < c.length
                                   ? std::optional<SectorAddress>{{16, Id(8, 0, 1, 3)}}
                                   : std::nullopt));
  }
}

// A run steps through sectors 1..8: on tracks of sectors 3..5 it stops where
// it seeks sector 6.
TEST_F(D88ImageTest, RunStepsOnlyThroughSectorsOneToEight) {
  DiskSpec disk;
  for (int track = 0; track < 4; ++track) {
    for (int r = 3; r <= 5; ++r) {
      disk.tracks[track].sectors.push_back(
          MakeSector(track / 2, track % 2, r, 3, PatternSector(9, track, r)));
    }
  }
  Bytes linear;
  for (int track = 0; track < 4; ++track) {
    for (int r = 3; r <= 5; ++r) {
      const Bytes data = PatternSector(9, track, r);
      linear.insert(linear.end(), data.begin(), data.end());
    }
  }
  auto image = LoadDisk(disk);
  const SectorRun run = RunFrom(*image, 0, Id(0, 0, 3, 3), linear.size());
  EXPECT_EQ(Bytes(run.bytes.begin(), run.bytes.end()), Slice(linear, 0, 3072));
  EXPECT_TRUE(StoppedAt(run, SectorAddress{0, Id(0, 0, 6, 3)}));
  const SectorRun fromLast = RunFrom(*image, 1, Id(0, 1, 5, 3), 3072);
  EXPECT_EQ(Bytes(fromLast.bytes.begin(), fromLast.bytes.end()),
            Slice(linear, std::size_t{5} * 1024, 1024));
  EXPECT_TRUE(StoppedAt(fromLast, SectorAddress{1, Id(0, 1, 6, 3)}));
}

// On tracks of sixteen sectors, a run takes sectors 1..8 of each and steps to
// the next track after sector 8; from sector 16 it seeks sector 17.
TEST_F(D88ImageTest, RunStepsTracksAfterSectorEightOnLongerTracks) {
  DiskSpec disk;
  Bytes linear;
  for (int track = 0; track < 3; ++track) {
    for (int r = 1; r <= 16; ++r) {
      disk.tracks[track].sectors.push_back(
          MakeSector(track / 2, track % 2, r, 1, PatternSector(4, track, r, 256)));
      const Bytes data = PatternSector(4, track, r, 256);
      linear.insert(linear.end(), data.begin(), data.end());
    }
  }
  auto image = LoadDisk(disk);
  const SectorRun sixteen = RunFrom(*image, 0, Id(0, 0, 16, 1), 512);
  EXPECT_EQ(Bytes(sixteen.bytes.begin(), sixteen.bytes.end()),
            Slice(linear, std::size_t{15} * 256, 256));
  EXPECT_TRUE(StoppedAt(sixteen, SectorAddress{0, Id(0, 0, 17, 1)}));
  const SectorRun eight = RunFrom(*image, 1, Id(0, 1, 8, 1), 512);  // on to c 1 h 0
  EXPECT_EQ(Bytes(eight.bytes.begin(), eight.bytes.end()),
            Concat({Slice(linear, std::size_t{23} * 256, 256),
                    Slice(linear, std::size_t{32} * 256, 256)}));
  const SectorRun whole = RunFrom(*image, 0, Id(0, 0, 1, 1), linear.size());
  Bytes firstEights;
  for (std::size_t track = 0; track < 3; ++track) {
    const Bytes eights = Slice(linear, track * 16 * 256, std::size_t{8} * 256);
    firstEights.insert(firstEights.end(), eights.begin(), eights.end());
  }
  EXPECT_EQ(Bytes(whole.bytes.begin(), whole.bytes.end()), firstEights);
  EXPECT_TRUE(StoppedAt(whole, SectorAddress{3, Id(1, 1, 1, 1)}));
}

TEST_F(D88ImageTest, RunStopsAtTheFirstSectorItCannotRead) {
  const struct {
    const char* what;
    void (*change)(DiskSpec&);
    std::optional<std::uint32_t> holds;  // what the sector stopped at holds
  } kCases[] = {
      {"second sector missing",
       [](DiskSpec& d) { d.tracks.at(0).sectors.erase(d.tracks.at(0).sectors.begin() + 1); },
       {}},
      {"second sector of another size code",
       [](DiskSpec& d) { d.tracks.at(0).sectors[1].n = 2; },
       {}},
      {"second sector of another cylinder",
       [](DiskSpec& d) { d.tracks.at(0).sectors[1].c = 1; },
       {}},
      {"second sector with no data", [](DiskSpec& d) { SectorData(d, 0, 2).clear(); }, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    DiskSpec disk = PlainDisk(1, 8);
    const Bytes first = SectorData(disk, 0, 1);
    c.change(disk);
    auto image = LoadDisk(disk);
    const SectorRun run = RunFrom(*image, 0, Id(0, 0, 1, 3), 2048);
    EXPECT_EQ(Bytes(run.bytes.begin(), run.bytes.end()), first);
    EXPECT_TRUE(StoppedAt(run, SectorAddress{0, Id(0, 0, 2, 3)}));
    EXPECT_EQ(run.stopHolds, c.holds);
  }
  // Off the end of the track table: track 164 does not exist, nor does C 82.
  DiskSpec disk;
  disk.tracks[163].sectors.push_back(MakeSector(81, 1, 8, 3, Data(1)));
  auto image = LoadDisk(disk);
  const SectorRun run = RunFrom(*image, 163, Id(81, 1, 8, 3), 2048);
  EXPECT_EQ(Bytes(run.bytes.begin(), run.bytes.end()), Data(1));
  EXPECT_TRUE(StoppedAt(run, SectorAddress{164, Id(82, 0, 1, 3)}));
}

TEST_F(D88ImageTest, RunTakesSizeCodesZeroToEight) {
  DiskSpec disk;
  for (int n = 0; n <= 8; ++n) {
    disk.tracks[0].sectors.push_back(
        MakeSector(0, 0, 1, n, Data(static_cast<std::uint32_t>(n), 128 << n)));
  }
  // A sector that carries size code 9: found by ID, but no run reads it.
  disk.tracks[0].sectors.push_back(MakeSector(0, 0, 1, 9, Data(9)));
  auto image = LoadDisk(disk);
  for (int n = 0; n <= 8; ++n) {
    SCOPED_TRACE("size code " + std::to_string(n));
    const auto unit = std::size_t{128} << n;
    const SectorRun run = RunFrom(*image, 0, Id(0, 0, 1, n), unit);
    EXPECT_EQ(Bytes(run.bytes.begin(), run.bytes.end()),
              Data(static_cast<std::uint32_t>(n), static_cast<int>(unit)));
  }
  ExpectSector(*image, 0, 0, Id(0, 0, 1, 9), Data(9));
  for (int n : {9, 31, 32, 255}) {
    SCOPED_TRACE("size code " + std::to_string(n));
    const SectorRun run = RunFrom(*image, 0, Id(0, 0, 1, n), 1024);
    EXPECT_TRUE(run.bytes.empty());
    EXPECT_TRUE(run.sectors.empty());
  }
}

TEST_F(D88ImageTest, RunOfNoLengthReadsNothing) {
  auto image = LoadDisk(PlainDisk(1, 1));
  const SectorRun run = RunFrom(*image, 0, Id(0, 0, 1, 3), 0);
  EXPECT_TRUE(run.bytes.empty());
  EXPECT_TRUE(run.sectors.empty());
  EXPECT_TRUE(StoppedAt(run, std::nullopt));
}

// ---------------------------------------------------------------------------
// Truncated images

// One track of three 1024-byte sectors, the file cut short at various places;
// the disk's size field still gives the whole disk.
TEST_F(D88ImageTest, TruncatedImageYieldsOnlyTheBytesItHolds) {
  DiskSpec disk;
  for (int r = 1; r <= 3; ++r) {
    disk.tracks[0].sectors.push_back(MakeSector(0, 0, r, 3, Data(static_cast<std::uint32_t>(r))));
  }
  const Bytes whole = BuildDisk(disk);
  const std::size_t s1 = SectorHeaderOffset(disk, 0, 0);
  const std::size_t s2 = SectorHeaderOffset(disk, 0, 1);
  const std::size_t s3 = SectorHeaderOffset(disk, 0, 2);
  const struct {
    const char* what;
    std::size_t length;
    std::uint32_t delivered[3];  // what each sector's data holds
    int sectors;                 // the sectors the track holds
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
      // The sought ID is in the bytes there, but a header cut short is no sector.
      {"inside sector 3's header", s3 + 10, {1024, 1024, 0}, 2},
      {"300 bytes into sector 3's data", s3 + 16 + 300, {1024, 1024, 300}, 3},
      {"nothing cut", whole.size(), {1024, 1024, 1024}, 3},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    auto image = Load(Slice(whole, 0, c.length));
    ASSERT_EQ(image->DiskCount(), 1);
    Bytes runBytes;  // what a run over all three reads
    bool runGoesOn = true;
    for (int r = 1; r <= 3; ++r) {
      SCOPED_TRACE("sector " + std::to_string(r));
      const std::uint32_t delivered = c.delivered[r - 1];
      const Bytes data = Slice(Data(static_cast<std::uint32_t>(r)), 0, delivered);
      const Found found = FindSector(*image, 0, 0, Id(0, 0, r, 3));
      if (r > c.sectors) {
        EXPECT_EQ(found.sector, nullptr);
      } else {
        ASSERT_NE(found.sector, nullptr);
        EXPECT_EQ(found.sector->recordedSize, 1024U);
        EXPECT_EQ(found.sector->size, delivered);
        GuardedBuffer buffer(1024);
        EXPECT_EQ(image->ReadData(*found.sector, buffer.data(), 1024), delivered);
        EXPECT_TRUE(Holds(buffer, Expected(1024, data)));
      }
      runGoesOn = runGoesOn && delivered == 1024;
      if (runGoesOn) {
        runBytes.insert(runBytes.end(), data.begin(), data.end());
      }
      // A run of just the bytes the sector holds reads them all.
      if (delivered > 0) {
        const SectorRun exact = RunFrom(*image, 0, Id(0, 0, r, 3), delivered);
        EXPECT_EQ(Bytes(exact.bytes.begin(), exact.bytes.end()), data);
      }
    }
    const SectorRun run = RunFrom(*image, 0, Id(0, 0, 1, 3), 3072);
    EXPECT_EQ(Bytes(run.bytes.begin(), run.bytes.end()), runBytes);
    EXPECT_EQ(run.sectors.size(), runBytes.size() / 1024);
  }
}

// ---------------------------------------------------------------------------
// The reader keeps the image's bytes in blocks of a power of two. The header
// of sector j + 1 of this track starts j bytes before the end of block j
// (j = 0..16), so that headers and data lie across block boundaries at every
// alignment: for each block size the reader may use, 4 to 64 KiB.
TEST_F(D88ImageTest, SectorsAcrossBlockBoundariesReadWhole) {
  for (const std::int64_t block :
       {std::int64_t{4} << 10, std::int64_t{16} << 10, std::int64_t{64} << 10}) {
    SCOPED_TRACE("blocks of " + std::to_string(block));
    DiskSpec disk;
    std::vector<Bytes> data;
    std::int64_t at = 688;  // the track starts right after the disk header
    for (int j = 0; j <= 17; ++j) {
      const std::int64_t next = (j + 1) * block - j;
      const int size = j < 17 ? static_cast<int>(next - at - 16) : 1024;
      ASSERT_LE(size, 0xFFFF) << "a sector's data size field holds at most 65535";
      data.push_back(PatternSector(77, 0, j, size));
      disk.tracks[0].sectors.push_back(MakeSector(0, 0, j, 3, data.back()));
      at = next;
    }
    ASSERT_EQ(SectorHeaderOffset(disk, 0, 17), static_cast<std::size_t>(17 * block - 16));
    std::vector<SectorId> ids;
    for (int j = 0; j <= 17; ++j) {
      ids.push_back(Id(0, 0, j, 3));
    }
    const Bytes bytes = BuildDisk(disk);

    // Each pass starts with nothing read: once reading the sectors from the
    // last, once from the first; each reads everything twice.
    for (bool lastFirst : {true, false}) {
      SCOPED_TRACE(lastFirst ? "last sector first" : "first sector first");
      auto image = Load(bytes);
      for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(TrackIds(*image, 0, 0), ids);
        for (int k = 0; k <= 17; ++k) {
          const int j = lastFirst ? 17 - k : k;
          SCOPED_TRACE("sector " + std::to_string(j));
          ExpectSector(*image, 0, 0, Id(0, 0, j, 3), data[static_cast<std::size_t>(j)]);
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// A real image: a blank 2D disk formatted by another tool, 80 tracks of
// sixteen 256-byte sectors (size code 1) with IDs (track / 2, track % 2, R, 1),
// laid out one after another from the end of the header. Read from its file,
// its format found by content as the tool finds it.

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
    OpenedImage opened = OpenImage(OpenFileSource(path_.c_str()));
    ASSERT_NE(opened.image, nullptr) << opened.message;
    image_ = std::move(opened.image);
    ASSERT_EQ(image_->DiskCount(), 1);
  }

  // The data of a sector where the image's regular layout puts it.
  Bytes SectorAt(int track, int r) const {
    const std::size_t at = 688 + static_cast<std::size_t>(track) * kSectors * (16 + kSectorSize) +
                           static_cast<std::size_t>(r - 1) * (16 + kSectorSize) + 16;
    return Slice(file_, at, kSectorSize);
  }

  const std::string path_ = ZEFACUT_TEST_DATA "/hubasic-2d-blank.d88";
  Bytes file_;
  std::unique_ptr<DiskImage> image_;
};

TEST_F(RealImageTest, HeaderFields) {
  const ImageInfo about = image_->DescribeImage();
  EXPECT_STREQ(about.format, "D88");
  EXPECT_EQ(about.fileSize, 348848);
  EXPECT_EQ(about.bytesAfterLastDisk, 0);
  const DiskInfo info = image_->Describe(0);
  // The name field holds more than 16 non-NUL bytes.
  EXPECT_EQ(info.name, "by_github_ORYZAP");
  EXPECT_EQ(info.mediaType, 0);
  EXPECT_EQ(info.sizeField, 348848U);
  EXPECT_EQ(image_->Describe(1).name, "");
}

TEST_F(RealImageTest, EveryTrackListsSixteenSectorIds) {
  for (int track = 0; track < DiskImage::kMaxTracks; ++track) {
    SCOPED_TRACE("track " + std::to_string(track));
    if (track >= kTracks) {
      EXPECT_TRUE(TrackIds(*image_, 0, track).empty());
      continue;
    }
    std::vector<SectorId> expected;
    for (int r = 1; r <= kSectors; ++r) {
      expected.push_back(Id(track / 2, track % 2, r, 1));
    }
    EXPECT_EQ(TrackIds(*image_, 0, track), expected);
  }
}

TEST_F(RealImageTest, EverySectorReadsItsData) {
  for (int track = 0; track < kTracks; ++track) {
    for (int r = 1; r <= kSectors; ++r) {
      SCOPED_TRACE(testing::Message() << "track " << track << " sector " << r);
      ExpectSector(*image_, 0, track, Id(track / 2, track % 2, r, 1), SectorAt(track, r));
    }
  }
  // What a few sectors hold, apart from the layout: the formatter's fill
  // byte, a directory sector, the start of the allocation table.
  EXPECT_EQ(SectorAt(40, 1), Bytes(256, 0xE5));
  EXPECT_EQ(SectorAt(1, 2), Bytes(256, 0xFF));
  EXPECT_EQ(Slice(SectorAt(0, 15), 0, 4), (Bytes{0x01, 0x8F, 0x85, 0x85}));
  // The disk has size code 1 only.
  ExpectNoSector(*image_, 0, 0, Id(0, 0, 1, 3));
  ExpectNoSector(*image_, 0, 0, Id(0, 0, 17, 1));
}

// The tool's run steps to the next track after sector 8: over this disk it
// takes the first half of every track, and stops at track 80, which is not
// there. Reading never changes the image.
TEST_F(RealImageTest, OneRunReadsTheFirstEightSectorsOfEveryTrack) {
  Bytes halves;
  for (int track = 0; track < kTracks; ++track) {
    for (int r = 1; r <= 8; ++r) {
      const Bytes data = SectorAt(track, r);
      halves.insert(halves.end(), data.begin(), data.end());
    }
  }
  const SectorRun run = ReadRun(*image_, 0, {0, Id(0, 0, 1, 1)}, halves.size() + kSectorSize);
  EXPECT_EQ(Bytes(run.bytes.begin(), run.bytes.end()), halves);
  EXPECT_TRUE(StoppedAt(run, SectorAddress{80, Id(40, 0, 1, 1)}));
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
  auto image = Load(BuildDisk(disk));
  ASSERT_EQ(image->DiskCount(), 1);
  const std::shared_ptr<const Track> track = image->ReadTrack(0, 3);
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
    EXPECT_EQ(image->ReadData(sector, data.data(), data.size()), 256U);
    EXPECT_EQ(Slice(data, 0, 256), spec.data);
    EXPECT_EQ(data[256], 0xEE);
  }
  EXPECT_FALSE(image->ReadTrack(0, 2));
  EXPECT_FALSE(image->ReadTrack(0, 164));
  EXPECT_FALSE(image->ReadTrack(1, 3));
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
  Bytes bytes = BuildDisk(disk);
  bytes.resize(bytes.size() - 1000);  // 24 bytes of track 3's last sector stay
  auto image = Load(bytes);

  EXPECT_TRUE(image->ReadTrack(0, 0)->Sectors().empty());
  EXPECT_EQ(image->ReadTrack(0, 1)->Sectors().size(), 3U);

  const std::shared_ptr<const Track> duplicates = image->ReadTrack(0, 2);
  ASSERT_EQ(duplicates->Sectors().size(), 8U);
  EXPECT_EQ(duplicates->Find({1, 0, 2, 3}), &duplicates->Sectors()[1]);
  EXPECT_EQ(duplicates->Find({1, 0, 6, 3}), nullptr);

  const ::Sector& last = image->ReadTrack(0, 3)->Sectors().back();
  EXPECT_EQ(last.recordedSize, 1024U);
  EXPECT_EQ(last.size, 24U);
  Bytes data(1024, 0);
  EXPECT_EQ(image->ReadData(last, data.data(), data.size()), 24U);
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
  auto image = Load(BuildDisk(disk));
  const std::shared_ptr<const Track> track = image->ReadTrack(0, 0);
  EXPECT_EQ(image->ReadTrack(0, 5), track);
  const std::vector<::Sector>& sectors = track->Sectors();
  ASSERT_EQ(sectors.size(), 300U);
  for (int c = 0; c < 8; ++c) {
    for (int r = 0; r < 12; ++r) {
      for (int h = 0; h < 2; ++h) {
        for (int n = 0; n < 4; ++n) {
          const SectorId id = Id(c, h, r, n);
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
  auto image = Load(BuildImage({first, second}));
  ASSERT_EQ(image->DiskCount(), 2);
  const DiskInfo info = image->Describe(1);
  EXPECT_EQ(info.name, "SECOND");
  EXPECT_EQ(info.mediaType, 0);
  EXPECT_EQ(info.offset, static_cast<std::int64_t>(firstBytes.size()));
  EXPECT_EQ(info.sizeField, static_cast<std::uint32_t>(BuildDisk(second).size()));
  ASSERT_EQ(info.trackLocations.size(), 164U);
  EXPECT_EQ(info.trackLocations[0], 0x2B0);
  EXPECT_EQ(info.trackLocations[1], 0);
  EXPECT_EQ(info.trackLocations[7], 0x12345678);
  EXPECT_EQ(image->Describe(0).mediaType, 0x20);
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
    auto image = Load(BuildImage({disk, PlainDisk(1, 5)}));
    ASSERT_EQ(image->DiskCount(), 1);
    ASSERT_TRUE(image->ReadTrack(0, 1));
    EXPECT_EQ(image->ReadTrack(0, 1)->Sectors().size(), 8U);
    EXPECT_TRUE(image->ReadTrack(0, 2)->Sectors().empty());
    ExpectSector(*image, 0, 1, Id(0, 1, 5, 3), disk.tracks[1].sectors[4].data);
  }
}

// What the tool read, written back as D88 (formats/d88_writer.cpp), reads
// back into the same model: every image the project's writers make, marked
// sectors, several disks, and the real images of other tools.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "formats/d88_writer.h"
#include "input/image_input.h"
#include "input/open_image.h"
#include "support/format_test_helpers.h"
#include "support/test_files.h"
#include "testkit/format_writers.h"
#include "testkit/image_builder.h"

namespace {

// Every disk of the image as one D88 file.
Bytes WriteD88(DiskImage& image) {
  Bytes d88;
  for (int disk = 0; disk < image.DiskCount(); ++disk) {
    EXPECT_EQ(AppendD88Disk(image, disk, d88), "") << "disk " << disk;
  }
  return d88;
}

std::vector<Sector> SectorsOf(DiskImage& image, int disk, int track) {
  const std::shared_ptr<const Track> read = image.ReadTrack(disk, track);
  return read ? read->Sectors() : std::vector<Sector>();
}

// The D88 reads back as `read` was read: the disks, their name, write
// protection and media byte where the image records them, and in every
// track the sectors in order with their IDs, marks, density and data. A
// track that holds no sector is no track in D88.
void ExpectWrittenBackAsRead(DiskImage& read) {
  const OpenedImage back = Open(WriteD88(read));
  ASSERT_TRUE(back.image) << back.message;
  EXPECT_STREQ(back.image->DescribeImage().format, "D88");
  EXPECT_FALSE(back.image->DescribeImage().formatUnrecognised);
  ASSERT_EQ(back.image->DiskCount(), read.DiskCount());
  for (int disk = 0; disk < read.DiskCount(); ++disk) {
    SCOPED_TRACE("disk " + std::to_string(disk));
    const DiskInfo want = read.Describe(disk);
    const DiskInfo got = back.image->Describe(disk);
    EXPECT_EQ(got.name, want.name.substr(0, 16));
    if (want.writeProtect) {
      EXPECT_EQ(got.writeProtect, want.writeProtect);
    }
    if (want.mediaType) {
      EXPECT_EQ(got.mediaType, want.mediaType);
    }
    for (int track = 0; track < DiskImage::kMaxTracks; ++track) {
      SCOPED_TRACE("track " + std::to_string(track));
      const std::vector<Sector> wanted = SectorsOf(read, disk, track);
      const std::vector<Sector> gotten = SectorsOf(*back.image, disk, track);
      ASSERT_EQ(gotten.size(), wanted.size());
      for (std::size_t i = 0; i < wanted.size(); ++i) {
        SCOPED_TRACE("sector " + std::to_string(i));
        EXPECT_EQ(gotten[i].id, wanted[i].id);
        EXPECT_EQ(int{gotten[i].flags}, int{wanted[i].flags});
        EXPECT_EQ(gotten[i].singleDensity, wanted[i].singleDensity);
        EXPECT_EQ(gotten[i].size, wanted[i].size);
        EXPECT_EQ(gotten[i].recordedSize, wanted[i].size);
        EXPECT_EQ(ReadSector(*back.image, gotten[i]), ReadSector(read, wanted[i]));
      }
    }
  }
}

// A known disk with a name, write protection and marked sectors: deleted
// data, a data CRC error and an ID CRC error in the track FMSE is cut from.
DiskSpec MarkedDisk() {
  DiskSpec disk = KnownDisk(2, 91);
  disk.name = "WRITTEN BACK";
  disk.writeProtect = 0x10;
  for (SectorSpec& sector : disk.tracks[12].sectors) {
    if (sector.r == 5) {
      sector.deletedMark = 0x10;
    } else if (sector.r == 6) {
      sector.status = 0xB0;
    } else if (sector.r == 7) {
      sector.status = 0xA0;
    }
  }
  return disk;
}

TEST(D88Writer, EveryWrittenFormatIsWrittenBackAsRead) {
  const DiskSpec disk = MarkedDisk();
  for (const WrittenFormatName& format : WrittenFormats()) {
    SCOPED_TRACE(std::string(format.name) + format.extension);
    const OpenedImage opened = Open(BuildInFormat(format.format, disk));
    ASSERT_TRUE(opened.image) << opened.message;
    ExpectWrittenBackAsRead(*opened.image);
  }
}

// D88's own marks, each as the reader takes it, and several disks of
// different media one after another; single-density sectors among them.
TEST(D88Writer, EveryMarkAndSeveralDisksComeBack) {
  std::vector<DiskSpec> disks;
  for (const std::uint8_t deletedMark : {std::uint8_t{0}, std::uint8_t{0x10}}) {
    DiskSpec disk = PlainDisk(2, deletedMark + 3U);
    disk.name = deletedMark == 0 ? "MARKS" : "DELETED MARKS, A LONG NAME";
    disk.mediaType = deletedMark == 0 ? 0x20 : 0x10;
    std::uint8_t r = 1;
    for (const std::uint8_t status : {0x00, 0x10, 0xA0, 0xB0, 0xE0, 0xF0, 0x20}) {
      SectorSpec sector;
      sector.r = r++;
      sector.n = 1;
      sector.data = PatternSector(7, 3, sector.r, 256);
      sector.deletedMark = deletedMark;
      sector.status = status;
      sector.density = (status & 0x20U) != 0 ? 0x40 : 0;
      disk.tracks[3].sectors.push_back(sector);
    }
    SectorSpec empty;  // a sector with no data
    empty.n = 2;
    disk.tracks[4].sectors.push_back(empty);
    disks.push_back(disk);
  }
  const OpenedImage opened = Open(BuildImage(disks));
  ASSERT_TRUE(opened.image) << opened.message;
  ASSERT_EQ(opened.image->DiskCount(), 2);
  ExpectWrittenBackAsRead(*opened.image);
  // Read again, the D88 gives the same bytes.
  const Bytes once = WriteD88(*opened.image);
  const OpenedImage again = Open(once);
  ASSERT_TRUE(again.image);
  EXPECT_TRUE(WriteD88(*again.image) == once);
}

// One status names one fault: of several, the one that tells most.
TEST(D88Writer, MarksOfEachFlag) {
  const struct {
    SectorFlags flags;
    std::uint8_t deletedMark;
    std::uint8_t status;
  } cases[] = {
      {0, 0, 0},
      {kDeletedData, 0x10, 0x10},
      {kIdCrcError, 0, 0xA0},
      {kDataCrcError, 0, 0xB0},
      {kNoAddressMark, 0, 0xE0},
      {kNoDataMark, 0, 0xF0},
      {kDeletedData | kDataCrcError, 0x10, 0xB0},
      {kDeletedData | kIdCrcError, 0x10, 0xA0},
      {kIdCrcError | kDataCrcError, 0, 0xA0},
      {kNoDataMark | kDataCrcError, 0, 0xF0},
      {kNoAddressMark | kIdCrcError | kDataCrcError, 0, 0xE0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(FlagWords(c.flags));
    const D88Marks marks = D88MarksOf(c.flags);
    EXPECT_EQ(int{marks.deletedMark}, int{c.deletedMark});
    EXPECT_EQ(int{marks.status}, int{c.status});
  }
}

// Collects the images of an input, as the tool opens it.
class Images : public ImageVisitor {
 public:
  explicit Images(std::function<void(DiskImage&)> use) : use_(std::move(use)) {}
  void Image(const std::string& /*name*/, const std::string& /*member*/,
             DiskImage& image) override {
    ++count;
    use_(image);
  }
  void Problem(const InputProblem& problem) override { ADD_FAILURE() << ProblemLine(problem); }
  int count = 0;

 private:
  std::function<void(DiskImage&)> use_;
};

// The sectors of the D88 are those of the raw image of the same disk: 40
// cylinders, two heads, R 1 to 9 of 512 bytes, none marked.
void ExpectTheRawImagesSectors(DiskImage& d88) {
  const Bytes raw = ReadFixture("pc-360k-sector-test.img");
  ASSERT_EQ(raw.size(), 40U * 2 * 9 * 512);
  ASSERT_EQ(d88.DiskCount(), 1);
  EXPECT_EQ(d88.Describe(0).mediaType, 0x00);  // 2D
  for (int track = 0; track < 80; ++track) {
    SCOPED_TRACE(track);
    const std::vector<Sector> sectors = SectorsOf(d88, 0, track);
    ASSERT_EQ(sectors.size(), 9U);
    std::vector<bool> seen(9, false);
    for (const Sector& sector : sectors) {
      EXPECT_EQ(sector.id.c, track / 2);
      EXPECT_EQ(sector.id.h, track % 2);
      EXPECT_EQ(sector.id.n, 2);
      EXPECT_EQ(int{sector.flags}, 0);
      EXPECT_FALSE(sector.singleDensity);
      ASSERT_GE(sector.id.r, 1);
      ASSERT_LE(sector.id.r, 9);
      seen[sector.id.r - 1U] = true;
      const std::size_t at = (static_cast<std::size_t>(track) * 9 + sector.id.r - 1) * 512;
      EXPECT_EQ(ReadSector(d88, sector), Bytes(raw.begin() + at, raw.begin() + at + 512))
          << int{sector.id.r};
    }
    EXPECT_EQ(seen, std::vector<bool>(9, true));
  }
  EXPECT_TRUE(SectorsOf(d88, 0, 80).empty());
}

TEST(D88Writer, RealImagesOfOtherToolsAreWrittenBackAsRead) {
  const struct {
    const char* fixture;
    bool theRawDisk;  // the 360 KB disk of pc-360k-sector-test.img
  } cases[] = {
      {"pc-360k-sector-test.hfe", true},
      {"pc-360k-sector-test.td0", true},
#ifdef ZEFACUT_TEST_ARCHIVES
      {"pc-360k-sector-test-kryoflux.zip", true},
#endif
      {"pc-1200k-sector-test.imd", false},
      {"hubasic-2d-blank.d88", false},
      {"tsugaru-util-2hd.d77", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    Images images([&c](DiskImage& image) {
      ExpectWrittenBackAsRead(image);
      if (c.theRawDisk) {
        const OpenedImage d88 = Open(WriteD88(image));
        ASSERT_TRUE(d88.image) << d88.message;
        ExpectTheRawImagesSectors(*d88.image);
      }
    });
    ForEachImage(FixturePath(c.fixture), images);
    EXPECT_EQ(images.count, 1);
  }
}

}  // namespace

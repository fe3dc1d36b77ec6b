// Tests of the readers of raw, FDI, DIM, NFD and FDD images, driven through
// OpenImage over images their writers (testkit/) build in memory, and
// over one real raw image in tests/data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disk/model.h"
#include "formats/image_format.h"
#include "input/byte_source.h"
#include "input/open_image.h"
#include "support/format_test_helpers.h"
#include "support/test_files.h"
#include "testkit/format_writers.h"
#include "testkit/image_builder.h"

namespace {

constexpr std::uint32_t kSeed = 7;

// Every track of a flat 2HD image: 8 sectors R 1..8 of 1024 bytes with IDs
// (track / 2, track % 2, R, 3) holding `flat` laid out track after track.
void ExpectFlat(DiskImage& image, const Bytes& flat, int tracks = kFlatTracks) {
  ASSERT_EQ(image.DiskCount(), 1);
  for (int track = 0; track < tracks; ++track) {
    SCOPED_TRACE("track " + std::to_string(track));
    const std::shared_ptr<const Track> read = image.ReadTrack(0, track);
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(read->Sectors().size(), 8U);
    for (int r = 1; r <= 8; ++r) {
      const Sector& sector = read->Sectors()[static_cast<std::size_t>(r - 1)];
      EXPECT_EQ(sector.id,
                (SectorId{static_cast<std::uint8_t>(track / 2),
                          static_cast<std::uint8_t>(track % 2), static_cast<std::uint8_t>(r), 3}));
      EXPECT_EQ(sector.flags, 0);
      EXPECT_EQ(sector.recordedSize, 1024U);
      const auto at = static_cast<std::ptrdiff_t>(track * 8 + r - 1) * 1024;
      ASSERT_EQ(ReadSector(image, sector), Bytes(flat.begin() + at, flat.begin() + at + 1024));
    }
  }
  if (tracks == kFlatTracks) {
    EXPECT_EQ(image.ReadTrack(0, tracks), nullptr);
  }
}

// Every track of the disk read back as recorded: IDs, flags, density and
// data, and no other track.
void ExpectRecorded(DiskImage& image, const DiskSpec& disk, SectorFlags expectedFlags = 0) {
  ASSERT_EQ(image.DiskCount(), 1);
  for (int track = 0; track < DiskImage::kMaxTracks; ++track) {
    SCOPED_TRACE("track " + std::to_string(track));
    const std::shared_ptr<const Track> read = image.ReadTrack(0, track);
    const auto spec = disk.tracks.find(track);
    if (spec == disk.tracks.end()) {
      EXPECT_EQ(read, nullptr);
      continue;
    }
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(read->Sectors().size(), spec->second.sectors.size());
    for (std::size_t i = 0; i < read->Sectors().size(); ++i) {
      const Sector& sector = read->Sectors()[i];
      const SectorSpec& want = spec->second.sectors[i];
      EXPECT_EQ(sector.id, (SectorId{want.c, want.h, want.r, want.n}));
      EXPECT_EQ(sector.flags, expectedFlags);
      EXPECT_FALSE(sector.singleDensity);
      Bytes data = want.data;
      data.resize(std::size_t{128} << want.n);
      ASSERT_EQ(ReadSector(image, sector), data);
    }
  }
}

// --- identification ---------------------------------------------------------

TEST(FlatFormatsTest, EachWriterIsTakenForItsFormat) {
  const DiskSpec disk = PlainDisk(kFlatTracks, kSeed);
  const struct {
    WrittenFormat format;
    const char* name;
  } kCases[] = {
      {WrittenFormat::kRaw, "raw"},  {WrittenFormat::kFdi, "FDI"},  {WrittenFormat::kDim, "DIM"},
      {WrittenFormat::kNfd0, "NFD"}, {WrittenFormat::kNfd1, "NFD"}, {WrittenFormat::kFdd, "FDD"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const Bytes bytes = BuildInFormat(c.format, disk);
    EXPECT_EQ(IdentifiedFormat(bytes), c.name);
    const OpenedImage opened = Open(bytes);
    ASSERT_NE(opened.image, nullptr) << opened.message;
    EXPECT_STREQ(opened.image->DescribeImage().format, c.name);
    EXPECT_EQ(opened.image->DescribeImage().fileSize, static_cast<std::int64_t>(bytes.size()));
  }
}

TEST(FlatFormatsTest, RawIsKnownByItsExactSizeOnly) {
  const Bytes raw = BuildRaw(PlainDisk(kFlatTracks, kSeed));
  ASSERT_EQ(raw.size(), 1261568U);
  EXPECT_EQ(IdentifiedFormat(raw), "raw");

  Bytes longer = raw;
  longer.push_back(0);
  const Bytes shorter(raw.begin(), raw.end() - 1);
  EXPECT_NE(IdentifiedFormat(longer), "raw");
  EXPECT_NE(IdentifiedFormat(shorter), "raw");
}

TEST(FlatFormatsTest, ARawSizedFileWithAPlausibleD88HeaderStaysD88) {
  Bytes bytes = BuildRaw(PlainDisk(kFlatTracks, kSeed));
  std::fill_n(bytes.begin(), 0x2B0, 0);
  bytes[0x1B] = 0x20;  // 2HD
  PutLe32(bytes, 0x1C, static_cast<std::uint32_t>(bytes.size()));
  PutLe32(bytes, 0x20, 0x2B0);
  EXPECT_EQ(IdentifiedFormat(bytes), "D88");
}

TEST(FlatFormatsTest, SignaturesElsewhereOrCutShortAreNotTaken) {
  Bytes dim = BuildDim(PlainDisk(2, kSeed));
  dim[0xAB] = 'd';
  EXPECT_NE(IdentifiedFormat(dim), "DIM");
  for (const char* text : {"T98FDDIMAGE.R2", "T98FDDIMAGE.R", "VFD1."}) {
    const std::string s(text);
    const Bytes bytes(s.begin(), s.end());
    EXPECT_EQ(IdentifiedFormat(bytes), "") << text;
  }
}

// --- raw ----------------------------------------------------------------------

TEST(RawImageTest, ReadsEveryTrackFlat) {
  DiskSpec disk = KnownDisk(2, kSeed, kFlatTracks);
  RemoveSector(disk, 9, 4);  // written as zeros
  const Bytes bytes = BuildRaw(disk);
  const OpenedImage opened = Open(bytes);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  ExpectFlat(*opened.image, bytes);
  const DiskInfo info = opened.image->Describe(0);
  EXPECT_FALSE(info.claimed.cylinders.has_value());
  EXPECT_FALSE(info.claimed.sectorSize.has_value());
  EXPECT_FALSE(opened.image->DescribeImage().bytesAfterLastDisk.has_value());
}

TEST(RawImageTest, TheRealImageReadsAsTheFileLaidFlat) {
  const std::string path = FixturePath("towns-ipl-2hd.bin");
  const Bytes file = ReadFixture("towns-ipl-2hd.bin");
  ASSERT_EQ(file.size(), 1261568U);
  const OpenedImage opened = OpenImage(OpenFileSource(path.c_str()));
  ASSERT_NE(opened.image, nullptr) << opened.message;
  EXPECT_STREQ(opened.image->DescribeImage().format, "raw");
  ExpectFlat(*opened.image, file);
}

// A raw image of each usual disk's size reads by the geometry its size
// gives; where a size fits two, by the one its boot sector's BPB names, and
// the layout says which and why.
TEST(RawImageTest, EachUsualSizeReadsByItsGeometry) {
  const RawGeometry pc320{40, 2, 8, 512};
  const RawGeometry pc360one{80, 1, 9, 512};
  const RawGeometry pc160{40, 1, 8, 512};
  const RawGeometry pc640{80, 2, 8, 512};
  const RawGeometry dd256{80, 2, 16, 256};
  const RawGeometry pc720{80, 2, 9, 512};
  const RawGeometry wrong{80, 2, 18, 512};
  const struct {
    RawGeometry geometry;
    const RawGeometry* bpb;
    std::size_t size;
    const char* layout;
  } cases[] = {
      {{40, 1, 8, 512},
       nullptr,
       163840,
       "40 cylinders, 1 head, 8 sectors of 512 bytes: the size of a 160 KB PC disk; its boot "
       "sector holds no BPB; it is also the size of a 2D disk's one side (40 cylinders, 1 head, "
       "16 sectors of 256 bytes)"},
      {{40, 1, 8, 512},
       &pc160,
       163840,
       "40 cylinders, 1 head, 8 sectors of 512 bytes: the size of a 160 KB PC disk, as its boot "
       "sector's BPB says, not a 2D disk's one side (40 cylinders, 1 head, 16 sectors of 256 "
       "bytes)"},
      {{40, 1, 9, 512},
       nullptr,
       184320,
       "40 cylinders, 1 head, 9 sectors of 512 bytes: the size of a 180 KB PC disk; its boot "
       "sector holds no BPB"},
      {{40, 2, 16, 256},
       nullptr,
       327680,
       "40 cylinders, 2 heads, 16 sectors of 256 bytes: the size of a 2D disk; its boot sector "
       "holds no BPB; it is also the size of a 320 KB PC disk (40 cylinders, 2 heads, 8 sectors "
       "of 512 bytes)"},
      {pc320, &pc320, 327680,
       "40 cylinders, 2 heads, 8 sectors of 512 bytes: the size of a 320 KB PC disk, as its boot "
       "sector's BPB says, not a 2D disk (40 cylinders, 2 heads, 16 sectors of 256 bytes)"},
      {{40, 2, 9, 512},
       nullptr,
       368640,
       "40 cylinders, 2 heads, 9 sectors of 512 bytes: the size of a 360 KB disk; its boot "
       "sector holds no BPB; it is also the size of a one-sided 360 KB disk (80 cylinders, 1 "
       "head, 9 sectors of 512 bytes)"},
      {pc360one, &pc360one, 368640,
       "80 cylinders, 1 head, 9 sectors of 512 bytes: the size of a one-sided 360 KB disk, as "
       "its boot sector's BPB says, not a 360 KB disk (40 cylinders, 2 heads, 9 sectors of 512 "
       "bytes)"},
      {pc640, &pc640, 655360,
       "80 cylinders, 2 heads, 8 sectors of 512 bytes: the size of a 640 KB 2DD disk, as its "
       "boot sector's BPB says, not a 2DD disk of 256-byte sectors (80 cylinders, 2 heads, 16 "
       "sectors of 256 bytes)"},
      {dd256, &dd256, 655360,
       "80 cylinders, 2 heads, 16 sectors of 256 bytes: the size of a 2DD disk of 256-byte "
       "sectors, as its boot sector's BPB says, not a 640 KB 2DD disk (80 cylinders, 2 heads, 8 "
       "sectors of 512 bytes)"},
      {pc720, &pc720, 737280,
       "80 cylinders, 2 heads, 9 sectors of 512 bytes: the size of a 720 KB disk, as its boot "
       "sector's BPB says"},
      {pc720, &wrong, 737280,
       "80 cylinders, 2 heads, 9 sectors of 512 bytes: the size of a 720 KB disk; its boot "
       "sector's BPB gives 2 heads, 18 sectors of 512 bytes and 1440 sectors in all, which the "
       "size does not fit"},
      {{80, 2, 15, 512},
       nullptr,
       1228800,
       "80 cylinders, 2 heads, 15 sectors of 512 bytes: the size of a 1.2 MB disk; its boot "
       "sector holds no BPB"},
      {{80, 2, 18, 512},
       nullptr,
       1474560,
       "80 cylinders, 2 heads, 18 sectors of 512 bytes: the size of a 1.44 MB disk; its boot "
       "sector holds no BPB"},
      {{80, 2, 36, 512},
       nullptr,
       2949120,
       "80 cylinders, 2 heads, 36 sectors of 512 bytes: the size of a 2.88 MB disk; its boot "
       "sector holds no BPB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layout);
    const Bytes bytes = BuildRawOf(c.geometry, c.bpb);
    ASSERT_EQ(bytes.size(), c.size);
    EXPECT_EQ(IdentifiedFormat(bytes), "raw");
    const OpenedImage opened = Open(bytes);
    ASSERT_NE(opened.image, nullptr) << opened.message;
    const ImageInfo about = opened.image->DescribeImage();
    EXPECT_EQ(about.layout, c.layout);
    EXPECT_TRUE(about.faults.empty());
    const RawGeometry& g = c.geometry;
    const auto code = static_cast<std::uint8_t>(g.sectorSize == 256 ? 1 : 2);
    for (int index = 0; index < DiskImage::kMaxTracks; ++index) {
      const int cylinder = index / 2;
      const int head = index % 2;
      const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, index);
      if (cylinder >= g.cylinders || head >= g.heads) {
        EXPECT_EQ(track, nullptr) << "track " << index;
        continue;
      }
      ASSERT_NE(track, nullptr) << "track " << index;
      ASSERT_EQ(track->Sectors().size(), static_cast<std::size_t>(g.sectors));
      for (int r = 1; r <= g.sectors; ++r) {
        const Sector& sector = track->Sectors()[static_cast<std::size_t>(r - 1)];
        ASSERT_EQ(sector.id,
                  (SectorId{static_cast<std::uint8_t>(cylinder), static_cast<std::uint8_t>(head),
                            static_cast<std::uint8_t>(r), code}));
        // The boot sector holds the BPB written over its first bytes.
        if (index == 0 && r == 1) {
          const auto at = static_cast<std::ptrdiff_t>(g.sectorSize);
          ASSERT_EQ(ReadSector(*opened.image, sector), Bytes(bytes.begin(), bytes.begin() + at));
          continue;
        }
        ASSERT_EQ(ReadSector(*opened.image, sector),
                  FlatSectorBytes(cylinder, head, r, g.sectorSize))
            << "track " << index << " R" << r;
      }
    }
  }
  // The known disks' size keeps its one layout.
  const Bytes known = BuildRaw(PlainDisk(kFlatTracks, kSeed));
  const OpenedImage opened = Open(known);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  EXPECT_EQ(opened.image->DescribeImage().layout,
            "77 cylinders, 2 heads, 8 sectors of 1024 bytes: the size of a 2HD disk of "
            "1024-byte sectors; its boot sector holds no BPB");
  ExpectFlat(*opened.image, known);
}

// The real raw images of a 360 KB and a 1.2 MB PC disk read as the other
// images of the same disks do.
TEST(RawImageTest, TheRealPcImagesReadAsTheirOtherImagesDo) {
  const OpenedImage small = Open(ReadFixture("pc-360k-sector-test.img"));
  ASSERT_NE(small.image, nullptr) << small.message;
  EXPECT_EQ(small.image->DescribeImage().layout.rfind(
                "40 cylinders, 2 heads, 9 sectors of 512 bytes: the size of a 360 KB disk; its "
                "boot sector holds no BPB",
                0),
            0U);
  const OpenedImage td0 = Open(ReadFixture("pc-360k-sector-test.td0"));
  ASSERT_NE(td0.image, nullptr) << td0.message;

  const OpenedImage large = Open(ReadFixture("pc-1200k-sector-test.img"));
  ASSERT_NE(large.image, nullptr) << large.message;
  EXPECT_EQ(large.image->DescribeImage().layout,
            "80 cylinders, 2 heads, 15 sectors of 512 bytes: the size of a 1.2 MB disk, as its "
            "boot sector's BPB says");
  const OpenedImage imd = Open(ReadFixture("pc-1200k-sector-test.imd"));
  ASSERT_NE(imd.image, nullptr) << imd.message;

  const struct {
    DiskImage* raw;
    DiskImage* other;
    int tracks;
  } pairs[] = {{small.image.get(), td0.image.get(), 80}, {large.image.get(), imd.image.get(), 160}};
  for (const auto& pair : pairs) {
    for (int index = 0; index < pair.tracks; ++index) {
      SCOPED_TRACE("track " + std::to_string(index));
      const std::shared_ptr<const Track> raw = pair.raw->ReadTrack(0, index);
      const std::shared_ptr<const Track> other = pair.other->ReadTrack(0, index);
      ASSERT_NE(raw, nullptr);
      ASSERT_NE(other, nullptr);
      ASSERT_EQ(raw->Sectors().size(), other->Sectors().size());
      for (const Sector& sector : raw->Sectors()) {
        const Sector* same = other->Find(sector.id);
        ASSERT_NE(same, nullptr);
        ASSERT_EQ(ReadSector(*pair.raw, sector), ReadSector(*pair.other, *same));
      }
    }
    EXPECT_EQ(pair.raw->ReadTrack(0, pair.tracks), nullptr);
  }
}

// --- FDI ----------------------------------------------------------------------

TEST(FdiImageTest, ReadsTheDataAfterTheHeaderAndTheClaimedGeometry) {
  const DiskSpec disk = KnownDisk(5, kSeed, kFlatTracks);
  const Bytes bytes = BuildFdi(disk);
  const OpenedImage opened = Open(bytes);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  ExpectFlat(*opened.image, Bytes(bytes.begin() + 4096, bytes.end()));
  const ClaimedGeometry claimed = opened.image->Describe(0).claimed;
  EXPECT_EQ(claimed.cylinders, 77);
  EXPECT_EQ(claimed.heads, 2);
  EXPECT_EQ(claimed.sectorsPerTrack, 8);
  EXPECT_EQ(claimed.sectorSize, 1024);
}

// A small FDI of another geometry, its header size not 4096: the IDs and
// places follow the header.
TEST(FdiImageTest, ReadsAnyGeometryItsHeaderGives) {
  constexpr std::uint32_t kHeader = 64;
  Bytes bytes(kHeader + 3 * 1 * 5 * 512);
  PutLe32(bytes, 0x08, kHeader);
  PutLe32(bytes, 0x0C, 3 * 5 * 512);
  PutLe32(bytes, 0x10, 512);
  PutLe32(bytes, 0x14, 5);
  PutLe32(bytes, 0x18, 1);
  PutLe32(bytes, 0x1C, 3);
  for (std::size_t i = kHeader; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 7 / 3);
  }
  EXPECT_EQ(IdentifiedFormat(bytes), "FDI");
  const OpenedImage opened = Open(bytes);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  for (int c = 0; c < 3; ++c) {
    const auto read = opened.image->ReadTrack(0, 2 * c);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(opened.image->ReadTrack(0, 2 * c + 1), nullptr);
    ASSERT_EQ(read->Sectors().size(), 5U);
    for (int r = 1; r <= 5; ++r) {
      const Sector& sector = read->Sectors()[static_cast<std::size_t>(r - 1)];
      EXPECT_EQ(sector.id,
                (SectorId{static_cast<std::uint8_t>(c), 0, static_cast<std::uint8_t>(r), 2}));
      const auto at = static_cast<std::ptrdiff_t>(kHeader) + std::ptrdiff_t{c * 5 + r - 1} * 512;
      EXPECT_EQ(ReadSector(*opened.image, sector),
                Bytes(bytes.begin() + at, bytes.begin() + at + 512));
    }
  }
}

// Headers whose sizes disagree with the file: a header that is FDI beyond
// doubt (reserved 0, header size 4096, a drive type of Anex86) is taken for
// FDI and loading says what is wrong; others are not FDI at all.
TEST(FdiImageTest, HeadersThatDisagreeWithTheFile) {
  const Bytes good = BuildFdi(PlainDisk(kFlatTracks, kSeed));
  const struct {
    const char* what;
    std::size_t field;
    std::uint32_t value;
    std::size_t cut;
    const char* error;  // null: not taken for FDI
  } kCases[] = {
      {"data size not the geometry's", 0x0C, 1261568 - 1024, 1024,
       "the header gives 1260544 bytes of data but its geometry makes 1261568"},
      {"data size 0xFFFFFFFF", 0x0C, 0xFFFFFFFF, 0,
       "the header gives 4294967295 bytes of data but its geometry makes 1261568"},
      {"cylinders past the data", 0x1C, 80, 0,
       "the header gives 1261568 bytes of data but its geometry makes 1310720"},
      {"reserved not 0", 0x00, 1, 1000, nullptr},
      {"unknown drive type", 0x04, 0x55, 1000, nullptr},
      {"header size 0xFFFFFFFF", 0x08, 0xFFFFFFFF, 0, nullptr},
      {"sector size 0xFFFFFFFF", 0x10, 0xFFFFFFFF, 0, nullptr},
      {"sectors 0xFFFFFFFF", 0x14, 0xFFFFFFFF, 0, nullptr},
      {"heads 3", 0x18, 3, 0, nullptr},
      {"cylinders 0", 0x1C, 0, 0, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = good;
    if (c.field != 0 || c.value != 0) {
      PutLe32(bytes, c.field, c.value);
    }
    bytes.resize(bytes.size() - c.cut);
    const OpenedImage opened = Open(bytes);
    if (c.error == nullptr) {
      EXPECT_NE(IdentifiedFormat(bytes), "FDI");
      continue;
    }
    EXPECT_EQ(IdentifiedFormat(bytes), "FDI");
    EXPECT_EQ(opened.image, nullptr);
    EXPECT_EQ(opened.message, std::string("cannot be read as FDI: ") + c.error);
  }
}

TEST(FdiImageTest, BytesAfterTheDataAreReadPast) {
  Bytes bytes = BuildFdi(PlainDisk(kFlatTracks, kSeed));
  const Bytes data(bytes.begin() + 4096, bytes.end());
  bytes.insert(bytes.end(), 300, 0x1A);
  EXPECT_EQ(IdentifiedFormat(bytes), "FDI");
  const OpenedImage opened = Open(bytes);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  ExpectFlat(*opened.image, data);
  EXPECT_EQ(opened.image->DescribeImage().bytesAfterLastDisk, 300);
}

// --- DIM ----------------------------------------------------------------------

TEST(DimImageTest, ReadsEveryTrackAfterTheHeader) {
  const Bytes bytes = BuildDim(KnownDisk(0, kSeed, kFlatTracks));
  const OpenedImage opened = Open(bytes);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  ExpectFlat(*opened.image, Bytes(bytes.begin() + 256, bytes.end()));
  EXPECT_EQ(opened.image->Describe(0).claimed.sectorsPerTrack, 8);
  EXPECT_EQ(opened.image->Describe(0).claimed.sectorSize, 1024);
}

// A track whose flag is clear keeps its place in the file but is not there;
// a header with no flag set at all has every track.
TEST(DimImageTest, TracksFlaggedAbsentKeepTheirPlace) {
  DiskSpec disk = PlainDisk(kFlatTracks, kSeed);
  disk.tracks.erase(5);
  const Bytes bytes = BuildDim(disk);
  ASSERT_EQ(bytes.size(), 256U + 1261568U);
  const Bytes flat(bytes.begin() + 256, bytes.end());
  OpenedImage opened = Open(bytes);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  EXPECT_EQ(opened.image->ReadTrack(0, 5), nullptr);
  for (const int track : {4, 6, 153}) {
    const auto read = opened.image->ReadTrack(0, track);
    ASSERT_NE(read, nullptr);
    const auto at = static_cast<std::ptrdiff_t>(track) * 8192;
    EXPECT_EQ(ReadSector(*opened.image, read->Sectors()[0]),
              Bytes(flat.begin() + at, flat.begin() + at + 1024));
  }

  Bytes unflagged = bytes;
  std::fill_n(unflagged.begin() + 1, 170, 0);
  opened = Open(unflagged);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  ExpectFlat(*opened.image, flat);
}

// A DIM holding only its flagged tracks, one after another, is read so when
// its size is exactly that.
TEST(DimImageTest, AFileOfTheFlaggedTracksOnlyIsReadPacked) {
  DiskSpec disk = PlainDisk(kFlatTracks, kSeed);
  disk.tracks.erase(0);
  disk.tracks.erase(100);
  const Bytes full = BuildDim(disk);
  Bytes packed(full.begin(), full.begin() + 256);
  for (int track = 0; track < kFlatTracks; ++track) {
    if (track != 0 && track != 100) {
      const auto at = 256 + static_cast<std::ptrdiff_t>(track) * 8192;
      packed.insert(packed.end(), full.begin() + at, full.begin() + at + 8192);
    }
  }
  const OpenedImage opened = Open(packed);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  ExpectRecorded(*opened.image, disk);
}

TEST(DimImageTest, DataCutShortKeepsWhatIsThere) {
  const Bytes full = BuildDim(PlainDisk(kFlatTracks, kSeed));
  // Cut inside sector 3 of track 10.
  const std::size_t cut = 256 + 10 * 8192 + 2 * 1024 + 100;
  const Bytes bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
  const OpenedImage opened = Open(bytes);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  ExpectFlat(*opened.image, Bytes(full.begin() + 256, full.end()), 10);
  const auto track = opened.image->ReadTrack(0, 10);
  ASSERT_NE(track, nullptr);
  const std::vector<Sector>& sectors = track->Sectors();
  EXPECT_EQ(sectors[1].size, 1024U);
  EXPECT_EQ(sectors[2].size, 100U);
  EXPECT_EQ(sectors[2].recordedSize, 1024U);
  EXPECT_EQ(ReadSector(*opened.image, sectors[2]),
            Bytes(full.begin() + std::ptrdiff_t{256 + 10 * 8192 + 2048},
                  full.begin() + static_cast<std::ptrdiff_t>(cut)));
  EXPECT_EQ(sectors[3].size, 0U);
  EXPECT_EQ(opened.image->ReadTrack(0, 11), nullptr);
}

TEST(DimImageTest, DiskTypesGiveTheirSectors) {
  Bytes bytes = BuildDim(PlainDisk(4, kSeed));
  bytes.resize(256 + 4 * 9 * 1024);
  bytes[0] = 1;  // 2HS: 9 x 1024 from R 10, R 1 first on cylinder 0
  OpenedImage opened = Open(bytes);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  const std::vector<std::vector<int>> kRs = {{1, 11, 12, 13, 14, 15, 16, 17, 18},
                                             {10, 11, 12, 13, 14, 15, 16, 17, 18}};
  for (int track = 0; track < 4; ++track) {
    const auto read = opened.image->ReadTrack(0, track);
    ASSERT_NE(read, nullptr);
    std::vector<int> rs;
    for (const Sector& sector : read->Sectors()) {
      rs.push_back(sector.id.r);
      EXPECT_EQ(sector.id.n, 3);
      EXPECT_EQ(sector.id.c, track / 2);
    }
    EXPECT_EQ(rs, kRs[track < 2 ? 0 : 1]) << track;
    EXPECT_EQ(read->Sectors()[0].location, 256 + track * 9 * 1024);
  }

  bytes[0] = 17;  // 26 x 256
  opened = Open(bytes);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  const auto read = opened.image->ReadTrack(0, 3);
  ASSERT_NE(read, nullptr);
  ASSERT_EQ(read->Sectors().size(), 26U);
  EXPECT_EQ(read->Sectors()[25].id, (SectorId{1, 1, 26, 1}));
  EXPECT_EQ(read->Sectors()[25].location, 256 + 3 * 26 * 256 + 25 * 256);

  for (const std::uint8_t type : {3, 4, 0xFF}) {
    bytes[0] = type;
    opened = Open(bytes);
    EXPECT_EQ(opened.image, nullptr);
    EXPECT_EQ(opened.message, "cannot be read as DIM: the header gives disk type " +
                                  std::to_string(type) + ", not one of 0, 1, 2, 9 and 17");
  }
  const Bytes header(bytes.begin(), bytes.begin() + 200);
  opened = Open(header);
  EXPECT_EQ(opened.message,
            "cannot be read as DIM: the file is shorter than a DIM header (200 "
            "bytes)");
}

// --- NFD ----------------------------------------------------------------------

// A few tracks of sectors with every kind of flag NFD records, and sectors
// of other sizes and IDs than the track's.
DiskSpec FlaggedDisk() {
  DiskSpec disk = PlainDisk(6, kSeed);
  disk.name = "FLAGGED";
  std::vector<SectorSpec>& sectors = disk.tracks[3].sectors;
  sectors[0].deletedMark = 0x10;
  sectors[1].status = 0xA0;
  sectors[2].status = 0xB0;
  sectors[3].status = 0xE0;
  sectors[4].status = 0xF0;
  sectors[5].density = 0x40;
  sectors[6].deletedMark = 0x10;
  sectors[6].status = 0xB0;
  sectors[7].n = 1;
  sectors[7].r = 0xF7;
  sectors[7].c = 40;
  sectors[7].data.resize(256);
  disk.tracks.erase(1);
  return disk;
}

constexpr SectorFlags kTrack3Flags[] = {kDeletedData,
                                        kIdCrcError,
                                        kDataCrcError,
                                        kNoAddressMark,
                                        kNoDataMark,
                                        0,
                                        kDeletedData | kDataCrcError,
                                        0};

TEST(NfdImageTest, BothRevisionsReadEverySectorAsRecorded) {
  for (const int revision : {0, 1}) {
    SCOPED_TRACE("revision " + std::to_string(revision));
    DiskSpec disk = KnownDisk(6, kSeed, kFlatTracks);
    disk.name = "NFD DISK";
    const OpenedImage opened = Open(BuildNfd(disk, revision));
    ASSERT_NE(opened.image, nullptr) << opened.message;
    ExpectRecorded(*opened.image, disk);
    EXPECT_EQ(opened.image->Describe(0).name, "NFD DISK");
    EXPECT_EQ(opened.image->Describe(0).claimed.heads, 2);
  }
}

TEST(NfdImageTest, FlagsDensityAndOddSectorsReadBack) {
  const DiskSpec disk = FlaggedDisk();
  for (const int revision : {0, 1}) {
    SCOPED_TRACE("revision " + std::to_string(revision));
    const OpenedImage opened = Open(BuildNfd(disk, revision));
    ASSERT_NE(opened.image, nullptr) << opened.message;
    const auto track = opened.image->ReadTrack(0, 3);
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(track->Sectors().size(), 8U);
    for (std::size_t i = 0; i < 8; ++i) {
      const Sector& sector = track->Sectors()[i];
      const SectorSpec& want = disk.tracks.at(3).sectors[i];
      EXPECT_EQ(sector.flags, kTrack3Flags[i]) << i;
      EXPECT_EQ(sector.singleDensity, i == 5) << i;
      EXPECT_EQ(sector.id, (SectorId{want.c, want.h, want.r, want.n})) << i;
      EXPECT_EQ(ReadSector(*opened.image, sector), want.data) << i;
    }
    EXPECT_EQ(opened.image->ReadTrack(0, 1), nullptr);
    // The sectors after the short one are in their places.
    DiskSpec rest = disk;
    rest.tracks.erase(3);
    for (const int index : {0, 2, 4, 5}) {
      const auto read = opened.image->ReadTrack(0, index);
      ASSERT_NE(read, nullptr);
      EXPECT_EQ(ReadSector(*opened.image, read->Sectors()[7]),
                rest.tracks.at(index).sectors[7].data);
    }
  }
}

TEST(NfdImageTest, Revision1SkipsRetriedAndSpecialReads) {
  const DiskSpec disk = FlaggedDisk();
  NfdReads reads;
  reads.retries = 2;
  reads.specials = 3;
  reads.specialLength = 100;
  reads.specialRetries = 4;
  const Bytes bytes = BuildNfd1(disk, reads);
  const OpenedImage opened = Open(bytes);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  for (const auto& [index, spec] : disk.tracks) {
    const auto read = opened.image->ReadTrack(0, index);
    ASSERT_NE(read, nullptr);
    for (std::size_t i = 0; i < spec.sectors.size(); ++i) {
      EXPECT_EQ(ReadSector(*opened.image, read->Sectors()[i]), spec.sectors[i].data)
          << index << " " << i;
    }
  }
  EXPECT_FALSE(opened.image->DescribeImage().bytesAfterLastDisk.has_value());
  const std::vector<std::int64_t> locations = opened.image->Describe(0).trackLocations;
  ASSERT_EQ(locations.size(), 164U);
  EXPECT_EQ(locations[0], 0x3C0);
  EXPECT_EQ(locations[1], 0);
}

TEST(NfdImageTest, DataPastTheEndIsClippedOrAbsent) {
  const DiskSpec disk = PlainDisk(6, kSeed);
  for (const int revision : {0, 1}) {
    SCOPED_TRACE("revision " + std::to_string(revision));
    const Bytes full = BuildNfd(disk, revision);
    // Cut 100 bytes into sector 2 of track 4: 7 sectors of it and 8 of
    // track 5 follow.
    const Bytes bytes(full.begin(), full.end() - std::ptrdiff_t{(7 + 8) * 1024 - 100});
    const OpenedImage opened = Open(bytes);
    ASSERT_NE(opened.image, nullptr) << opened.message;
    const auto track = opened.image->ReadTrack(0, 4);
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->Sectors()[0].size, 1024U);
    EXPECT_EQ(track->Sectors()[1].size, 100U);
    EXPECT_EQ(ReadSector(*opened.image, track->Sectors()[1]),
              Bytes(disk.tracks.at(4).sectors[1].data.begin(),
                    disk.tracks.at(4).sectors[1].data.begin() + 100));
    EXPECT_EQ(track->Sectors()[2].size, 0U);
    const auto last = opened.image->ReadTrack(0, 5);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->Sectors()[7].size, 0U);
    EXPECT_EQ(last->Sectors()[7].recordedSize, 1024U);
    EXPECT_TRUE(track->CutShort());
    EXPECT_TRUE(last->CutShort());
    EXPECT_FALSE(opened.image->ReadTrack(0, 3)->CutShort());
  }
}

// A file cut short, or a header that places its records past the end, is
// read as far as it holds: the tracks the end of the file reaches say so,
// and the sectors before it read whole.
TEST(FlatFormatsTest, TruncatedHeadersAreReadAsFarAsTheyHold) {
  const DiskSpec disk = PlainDisk(4, kSeed);
  const Bytes fdi = BuildFdi(PlainDisk(kFlatTracks, kSeed));
  const Bytes r0 = BuildNfd(disk, 0);
  const Bytes r1 = BuildNfd(disk, 1);
  const auto cut = [](const Bytes& bytes, std::size_t length) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
  };
  const auto with = [](Bytes bytes, std::size_t at, std::uint32_t value, int width) {
    if (width == 4) {
      PutLe32(bytes, at, value);
    } else {
      PutLe16(bytes, at, value);
    }
    return bytes;
  };
  const struct {
    const char* what;
    Bytes bytes;
    int firstCutTrack;      // the tracks before it are whole; -1: none cut
    int wholeSectorsThere;  // of the first cut track
  } kCases[] = {
      {"FDI 1000 bytes short", cut(fdi, fdi.size() - 1000), kFlatTracks - 1, 7},
      {"FDI cut inside track 0", cut(fdi, 4096 + 1024 + 10), 0, 1},
      {"NFD r0 cut inside the sector map", cut(r0, 1000), 0, 0},
      {"NFD r1 block of track 3 past the end", with(r1, 0x120 + 3 * 4, 0xFFFFFFF0, 4), 3, 0},
      {"NFD r1 special reads of track 0 past the end", with(r1, 0x3C0 + 2, 0xFFFF, 2), 0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const OpenedImage opened = Open(c.bytes);
    ASSERT_NE(opened.image, nullptr) << opened.message;
    EXPECT_FALSE(opened.image->DescribeImage().formatUnrecognised);
    for (int track = 0; track < c.firstCutTrack; ++track) {
      const auto whole = opened.image->ReadTrack(0, track);
      ASSERT_NE(whole, nullptr);
      EXPECT_FALSE(whole->CutShort()) << track;
    }
    const auto first = opened.image->ReadTrack(0, c.firstCutTrack);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->CutShort());
    const auto whole =
        std::count_if(first->Sectors().begin(), first->Sectors().end(),
                      [](const Sector& sector) { return sector.size == sector.recordedSize; });
    EXPECT_EQ(whole, c.wholeSectorsThere);
  }
  // Too short for the header itself: nothing to read.
  EXPECT_EQ(Open(cut(r1, 0x200)).image, nullptr);
  EXPECT_EQ(Open(cut(fdi, 3000)).message,
            "cannot be read as FDI: the header size (4096 bytes) is beyond the end of the file "
            "(3000 bytes)");
}

TEST(NfdImageTest, HeadersThatCannotBeReadSaySo) {
  const DiskSpec disk = PlainDisk(4, kSeed);
  const Bytes r0 = BuildNfd(disk, 0);
  const Bytes r1 = BuildNfd(disk, 1);
  const std::uint32_t firstBlock = 0x3C0;
  const struct {
    const char* what;
    const Bytes* image;
    std::size_t at;
    std::uint32_t value;
    int width;
    const char* error;
  } kCases[] = {
      {"r0 header size too small", &r0, 0x110, 0x100, 4,
       "the header size (256 bytes) is smaller than an NFD header"},
      {"r0 size code 0xFF", &r0, 0x120 + 26 * 16 + 3, 0xFF, 1,
       "the sector map of track 1 gives size code 255, larger than any sector"},
      {"r1 header size inside the table", &r1, 0x110, 0x200, 4,
       "the header size (512 bytes) is smaller than an NFD header"},
      {"r1 sector count 0xFFFF", &r1, firstBlock, 0xFFFF, 2,
       "the sector map of track 0 lists 65535 sectors, more than a track holds"},
      {"r1 size code 9", &r1, firstBlock + 16 + 3, 9, 1,
       "the sector map of track 0 gives size code 9, larger than any sector"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = *c.image;
    if (c.width == 4) {
      PutLe32(bytes, c.at, c.value);
    } else if (c.width == 2) {
      PutLe16(bytes, c.at, c.value);
    } else {
      bytes[c.at] = static_cast<std::uint8_t>(c.value);
    }
    const OpenedImage opened = Open(bytes);
    EXPECT_EQ(opened.image, nullptr);
    EXPECT_EQ(opened.message.rfind(std::string("cannot be read as NFD: ") + c.error, 0), 0U)
        << opened.message;
  }
  const Bytes cut(r1.begin(), r1.begin() + 0x200);
  EXPECT_EQ(Open(cut).message,
            "cannot be read as NFD: the file is shorter than an NFD header "
            "(512 bytes)");
}

// Special reads of 4 GiB x 256 place every later track's data far past the
// end: those sectors are there without data, nothing overflows.
TEST(NfdImageTest, HugeSpecialReadsLeaveLaterSectorsWithoutData) {
  const DiskSpec disk = PlainDisk(4, kSeed);
  NfdReads reads;
  reads.specials = 1;
  Bytes bytes = BuildNfd1(disk, reads);
  const std::size_t special = 0x3C0 + 16 + 8 * 16;
  bytes[special + 9] = 0xFF;
  PutLe32(bytes, special + 10, 0xFFFFFFFF);
  const OpenedImage opened = Open(bytes);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  const auto first = opened.image->ReadTrack(0, 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(ReadSector(*opened.image, first->Sectors()[7]), disk.tracks.at(0).sectors[7].data);
  const auto later = opened.image->ReadTrack(0, 3);
  ASSERT_NE(later, nullptr);
  for (const Sector& sector : later->Sectors()) {
    EXPECT_EQ(sector.size, 0U);
    EXPECT_EQ(sector.recordedSize, 1024U);
  }
}

// --- FDD ----------------------------------------------------------------------

TEST(FddImageTest, ReadsEverySectorAsRecorded) {
  DiskSpec disk = KnownDisk(7, kSeed, kFlatTracks);
  disk.name = "FDD MEMO";
  const OpenedImage opened = Open(BuildFdd(disk));
  ASSERT_NE(opened.image, nullptr) << opened.message;
  ExpectRecorded(*opened.image, disk);
  EXPECT_EQ(opened.image->Describe(0).name, "FDD MEMO");
}

TEST(FddImageTest, FillSectorsReadAsTheirFillByte) {
  DiskSpec disk = PlainDisk(6, kSeed);
  SectorData(disk, 0, 1).assign(1024, 0xE5);
  SectorData(disk, 2, 8).assign(1024, 0x00);
  SectorData(disk, 5, 3).assign(1024, 0xE5);
  std::vector<SectorSpec>& track4 = disk.tracks[4].sectors;
  track4[1].deletedMark = 0x10;
  track4[2].n = 1;  // a fill sector shorter than the others of its byte
  track4[2].data.assign(256, 0xE5);
  track4[3].n = 6;  // and one longer
  track4[3].data.assign(8192, 0xE5);
  const Bytes bytes = BuildFdd(disk);
  ASSERT_EQ(bytes.size(), 0xC3FCU + (48 - 5) * 1024U);
  const OpenedImage opened = Open(bytes);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  for (const auto& [index, spec] : disk.tracks) {
    const auto read = opened.image->ReadTrack(0, index);
    ASSERT_NE(read, nullptr);
    for (std::size_t i = 0; i < spec.sectors.size(); ++i) {
      const Sector& sector = read->Sectors()[i];
      EXPECT_EQ(sector.flags, index == 4 && i == 1 ? kDeletedData : 0) << index << " " << i;
      EXPECT_EQ(ReadSector(*opened.image, sector), spec.sectors[i].data) << index << " " << i;
    }
  }
}

// The track is the map position, whatever C and H the entries record.
TEST(FddImageTest, TracksAreTheirMapPositions) {
  DiskSpec disk = PlainDisk(6, kSeed);
  for (SectorSpec& sector : disk.tracks[3].sectors) {
    sector.c = 9;
    sector.h = 0;
  }
  const OpenedImage opened = Open(BuildFdd(disk));
  ASSERT_NE(opened.image, nullptr) << opened.message;
  ExpectRecorded(*opened.image, disk);
}

TEST(FddImageTest, OffsetsPastTheEndAndShortFiles) {
  DiskSpec disk = PlainDisk(3, kSeed);
  SectorData(disk, 0, 2).assign(1024, 0x4E);  // a fill block after the file's bytes
  Bytes bytes = BuildFdd(disk);
  const std::size_t entry = 0xDC + (2 * 26 + 5) * 12;  // track 2, sector 6
  PutLe32(bytes, entry + 8, static_cast<std::uint32_t>(bytes.size()) - 10);
  PutLe32(bytes, entry + 12 + 8, static_cast<std::uint32_t>(bytes.size()));
  PutLe32(bytes, entry + 24 + 8, 0xFFFFFFF0);
  bytes[0xDC + 3] = 0xFF;  // track 0 sector 1: size code 255
  const OpenedImage opened = Open(bytes);
  ASSERT_NE(opened.image, nullptr) << opened.message;
  const auto track = opened.image->ReadTrack(0, 2);
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(ReadSector(*opened.image, track->Sectors()[5]), Bytes(bytes.end() - 10, bytes.end()));
  EXPECT_EQ(track->Sectors()[6].size, 0U);
  EXPECT_EQ(track->Sectors()[7].size, 0U);
  const auto first = opened.image->ReadTrack(0, 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Sectors()[0].size, 0U);
  EXPECT_EQ(first->Sectors()[0].id.n, 0xFF);
  EXPECT_EQ(ReadSector(*opened.image, first->Sectors()[1]), Bytes(1024, 0x4E));

  const Bytes cut(bytes.begin(), bytes.begin() + 0x1000);
  EXPECT_EQ(Open(cut).message,
            "cannot be read as FDD: the file is shorter than an FDD header (4096 bytes)");
}

// --- every format -------------------------------------------------------------

// Random bytes written over each format's header and map: whatever the
// values, opening and reading every sector stays inside the buffers (the
// sanitizers of the dev build watch) and ends.
TEST(FlatFormatsTest, ScrambledHeadersNeverBreakTheReaders) {
  const DiskSpec disk = PlainDisk(4, kSeed);
  DiskSpec flat = PlainDisk(kFlatTracks, kSeed);
  const struct {
    Bytes image;
    std::size_t header;
  } kImages[] = {
      {BuildFdi(flat), 32},         {BuildDim(flat), 256},
      {BuildNfd(disk, 0), 0x900},   {BuildNfd(disk, 1), 0x3C0 + 4 * 16 * 10},
      {BuildFdd(disk), 0xDC + 900}, {BuildRaw(flat), 64},
  };
  // A fixed sequence, so that a failure repeats: xorshift32.
  std::uint32_t state = 12345;
  const auto random = [&state] {
    state ^= state << 13U;
    state ^= state >> 17U;
    state ^= state << 5U;
    return state;
  };
  for (const auto& image : kImages) {
    for (int round = 0; round < 60; ++round) {
      Bytes bytes = image.image;
      const int changes = 1 + static_cast<int>(random() % 8);
      for (int i = 0; i < changes; ++i) {
        const std::size_t at = random() % image.header;
        // Mostly extreme values: 0x00, 0xFF and 0x80.
        const std::uint32_t pick = random() % 4;
        bytes[at] = static_cast<std::uint8_t>(pick == 0   ? 0
                                              : pick == 1 ? 0xFF
                                              : pick == 2 ? 0x80
                                                          : random());
      }
      if (round % 3 == 0) {
        bytes.resize(random() % bytes.size());
      }
      const OpenedImage opened = Open(bytes);
      if (!opened.image) {
        continue;
      }
      for (int d = 0; d < opened.image->DiskCount(); ++d) {
        for (int t = 0; t < DiskImage::kMaxTracks; ++t) {
          const auto track = opened.image->ReadTrack(d, t);
          if (track) {
            for (const Sector& sector : track->Sectors()) {
              EXPECT_LE(ReadSector(*opened.image, sector).size(), sector.size);
            }
          }
        }
      }
    }
  }
}

}  // namespace

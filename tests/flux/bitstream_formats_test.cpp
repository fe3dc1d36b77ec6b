// Tests of the readers of the bitstream images HxC MFM, MFI, 86F and PRI,
// and of PCE's sector image PSI: the real
// images of other tools read sector for sector as the disk's raw image, and
// damaged images refused with the reason. (The known disks are cut from
// each in every_format_test.cpp.)
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disk/model.h"
#include "run/listing.h"
#include "support/format_test_helpers.h"
#include "support/test_files.h"
#include "testkit/format_writers.h"
#include "testkit/image_builder.h"

namespace {

// The reference a real image is held to: the data of the sector (C, H, R)
// of a disk of `sectors` sectors of 512 bytes, numbered from 1.
using ReferenceSector = std::function<Bytes(int cylinder, int head, int r)>;

// Every track of the disk holds its sectors 1..`sectors` with their IDs, no
// flag, and the reference's data.
void ExpectDisk(DiskImage& image, int cylinders, int sectors, const ReferenceSector& reference) {
  ASSERT_EQ(image.DiskCount(), 1);
  for (int index = 0; index < cylinders * 2; ++index) {
    SCOPED_TRACE("track " + std::to_string(index));
    const std::shared_ptr<const Track> track = image.ReadTrack(0, index);
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(track->Sectors().size(), static_cast<std::size_t>(sectors));
    std::vector<bool> seen(static_cast<std::size_t>(sectors) + 1, false);
    for (const Sector& sector : track->Sectors()) {
      EXPECT_EQ(sector.id.c, index / 2);
      EXPECT_EQ(sector.id.h, index % 2);
      EXPECT_EQ(sector.id.n, 2);
      EXPECT_EQ(sector.flags, 0);
      ASSERT_GE(sector.id.r, 1);
      ASSERT_LE(sector.id.r, sectors);
      EXPECT_FALSE(seen[sector.id.r]) << "sector " << int{sector.id.r} << " twice";
      seen[sector.id.r] = true;
      EXPECT_TRUE(ReadSector(image, sector) == reference(index / 2, index % 2, sector.id.r))
          << "sector " << int{sector.id.r};
    }
  }
}

// The 360 KB disk's raw image: 40 cylinders x 2 heads x 9 sectors.
ReferenceSector RawImage360k() {
  auto raw = std::make_shared<Bytes>(ReadFixture("pc-360k-sector-test.img"));
  return [raw](int cylinder, int head, int r) {
    const std::size_t at = static_cast<std::size_t>((cylinder * 2 + head) * 9 + r - 1) * 512;
    if (raw->size() < at + 512) {
      return Bytes{};
    }
    return Bytes(raw->begin() + static_cast<std::ptrdiff_t>(at),
                 raw->begin() + static_cast<std::ptrdiff_t>(at + 512));
  };
}

struct RealImage {
  const char* file;
  bool gzipped;
  const char* format;
};

TEST(BitstreamFormatsTest, RealImagesReadAsTheRawImage) {
  const RealImage images[] = {
      {"pc-360k-sector-test.mfi", false, "MFI"},
      {"pc-360k-sector-test.mfm.gz", true, "HxC MFM"},
      {"pc-360k-sector-test.psi", false, "PSI"},
      // Each cylinder twice, on the tracks of an 80-track drive.
      {"pc-360k-sector-test.86f.gz", true, "86F"},
      {"pc-360k-sector-test.pri.gz", true, "PRI"},
  };
  const ReferenceSector raw = RawImage360k();
  for (const RealImage& real : images) {
    SCOPED_TRACE(real.file);
    if ((real.gzipped && !CanGunzipFixtures()) ||
        (std::string(real.format) == "MFI" && !ReadInThisBuild(WrittenFormat::kMfi))) {
      continue;
    }
    const Bytes bytes = real.gzipped ? ReadGzipFixture(real.file) : ReadFixture(real.file);
    const OpenedImage opened = Open(bytes);
    ASSERT_TRUE(opened.image) << opened.message;
    EXPECT_STREQ(opened.image->DescribeImage().format, real.format);
    // PSI and PRI have no header of the disk's shape; 86F gives only its
    // sides.
    if (std::string(real.format) == "MFI" || std::string(real.format) == "HxC MFM") {
      EXPECT_EQ(opened.image->Describe(0).claimed.cylinders, 40);
      EXPECT_EQ(opened.image->Describe(0).claimed.heads, 2);
    }
    ExpectDisk(*opened.image, 40, 9, raw);
    // d88info lists every track it reads, first to last.
    std::string listing;
    ListImage(*opened.image, [&listing](const std::string& line) { listing += line + "\n"; });
    EXPECT_NE(listing.find("  track 0: 9 sectors: C0 H0 R1-9 N2\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("  track 79: 9 sectors: C39 H1 R1-9 N2\n"), std::string::npos);
  }
}

TEST(BitstreamFormatsTest, RealHighDensityMfiReadsAsItsImdImage) {
  if (!ReadInThisBuild(WrittenFormat::kMfi)) {
    GTEST_SKIP() << "this build reads no MFI images (no zlib)";
  }
  // The 1.2 MB disk turns at 360 rpm with 500 kbit/s: cells of another
  // length than the 360 KB disk's.
  const OpenedImage imd = Open(ReadFixture("pc-1200k-sector-test.imd"));
  ASSERT_TRUE(imd.image) << imd.message;
  DiskImage& reference = *imd.image;
  const OpenedImage opened = Open(ReadFixture("pc-1200k-sector-test.mfi"));
  ASSERT_TRUE(opened.image) << opened.message;
  ExpectDisk(*opened.image, 80, 15, [&reference](int cylinder, int head, int r) {
    const std::shared_ptr<const Track> track = reference.ReadTrack(0, cylinder * 2 + head);
    const Sector* sector = track ? track->Find(SectorId{static_cast<std::uint8_t>(cylinder),
                                                        static_cast<std::uint8_t>(head),
                                                        static_cast<std::uint8_t>(r), 2})
                                 : nullptr;
    return sector != nullptr ? ReadSector(reference, *sector) : Bytes{};
  });
}

// A small disk: two cylinders of the known layout, both heads.
DiskSpec SmallDisk() {
  DiskSpec disk = PlainDisk(4, 0x51);
  return disk;
}

TEST(BitstreamFormatsTest, WrittenImagesReadBackEveryForm) {
  const DiskSpec disk = SmallDisk();
  const struct {
    const char* what;
    Bytes bytes;
    const char* format;
  } cases[] = {
      {"HxC MFM", BuildHxcMfm(disk), "HxC MFM"},
      {"PSI", BuildPsi(disk), "PSI"},
      {"86F", Build86f(disk), "86F"},
      {"PRI", BuildPri(disk), "PRI"},
      {"86F with the index inside a sector", Build86f(disk, 5000), "86F"},
      {"MFI", BuildMfi(disk), "MFI"},
      {"MFI, changes moved by a quarter cell", BuildMfi(disk, {false, 0, 0.25}), "MFI"},
      {"MFI in half tracks", BuildMfi(disk, {false, 1, 0}), "MFI"},
      {"MFI in quarter tracks, old form", BuildMfi(disk, {true, 2, 0.1}), "MFI"},
  };
  const OpenedImage d88 = Open(BuildImage({disk}));
  ASSERT_TRUE(d88.image);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string(c.format) == "MFI" && !ReadInThisBuild(WrittenFormat::kMfi)) {
      continue;
    }
    const OpenedImage opened = Open(c.bytes);
    ASSERT_TRUE(opened.image) << opened.message;
    EXPECT_STREQ(opened.image->DescribeImage().format, c.format);
    for (const auto& [index, spec] : disk.tracks) {
      const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, index);
      ASSERT_NE(track, nullptr) << index;
      ASSERT_EQ(track->Sectors().size(), spec.sectors.size()) << index;
      for (std::size_t i = 0; i < spec.sectors.size(); ++i) {
        const Sector& sector = track->Sectors()[i];
        EXPECT_EQ(sector.id.r, spec.sectors[i].r);
        EXPECT_EQ(sector.flags, 0);
        EXPECT_TRUE(ReadSector(*opened.image, sector) == spec.sectors[i].data)
            << "track " << index << " R" << int{sector.id.r};
      }
    }
  }
}

void PutBe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  }
}

// The CRC of a PCE chunk's bytes [at, at + length).
std::uint32_t PsiCrc(const Bytes& bytes, std::size_t at, std::size_t length) {
  std::uint32_t crc = 0;
  for (std::size_t i = at; i < at + length; ++i) {
    crc ^= static_cast<std::uint32_t>(bytes[i]) << 24U;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000U) != 0 ? (crc << 1U) ^ 0x1EDC6F41U : crc << 1U;
    }
  }
  return crc;
}

struct Damage {
  const char* what;
  std::function<void(Bytes&)> apply;
  std::string message;
};

void ExpectRefused(const Bytes& good, const char* format, const std::vector<Damage>& damages) {
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    Bytes bytes = good;
    damage.apply(bytes);
    const OpenedImage opened = Open(bytes);
    EXPECT_FALSE(opened.image);
    EXPECT_EQ(opened.error, 0);
    EXPECT_EQ(opened.message, std::string("cannot be read as ") + format + ": " + damage.message);
  }
}

TEST(BitstreamFormatsTest, DamagedHxcMfmImagesSayWhy) {
  const Bytes good = BuildHxcMfm(SmallDisk());
  ExpectRefused(good, "HxC MFM",
                {
                    {"cut inside the header", [](Bytes& b) { b.resize(12); },
                     "the file ends inside the header"},
                    {"no tracks", [](Bytes& b) { PutLe16(b, 7, 0); }, "the header gives no tracks"},
                    {"three sides", [](Bytes& b) { b[9] = 3; }, "the header gives 3 sides"},
                    {"the list past the end", [](Bytes& b) { PutLe32(b, 15, 0xFFFFFFF0U); },
                     "the track list at offset 4294967280 runs past the end of the file (" +
                         std::to_string(good.size()) + " bytes)"},
                });
}

TEST(BitstreamFormatsTest, HxcMfmTrackCutShortKeepsItsFirstSectors) {
  const DiskSpec disk = SmallDisk();
  Bytes bytes = BuildHxcMfm(disk);
  // The last track's cells end in its third sector's data (each sector
  // takes 2404 bytes of cells).
  const std::size_t lastEntry = 19 + 11 * (disk.tracks.size() - 1);
  const std::size_t start =
      bytes[lastEntry + 7] | bytes[lastEntry + 8] << 8U | bytes[lastEntry + 9] << 16U;
  bytes.resize(start + 6000);
  const OpenedImage opened = Open(bytes);
  ASSERT_TRUE(opened.image) << opened.message;
  const std::shared_ptr<const Track> track =
      opened.image->ReadTrack(0, disk.tracks.rbegin()->first);
  ASSERT_NE(track, nullptr);
  ASSERT_GE(track->Sectors().size(), 2U);
  EXPECT_EQ(track->Sectors()[0].flags, 0);
  EXPECT_EQ(track->Sectors()[1].flags, 0);
  EXPECT_NE(track->Sectors().back().flags, 0);
}

TEST(BitstreamFormatsTest, DamagedMfiImagesSayWhy) {
  if (!ReadInThisBuild(WrittenFormat::kMfi)) {
    GTEST_SKIP() << "this build reads no MFI images (no zlib)";
  }
  const Bytes good = BuildMfi(SmallDisk());
  // The first track's entry at 0x20: offset, packed size, unpacked size.
  const std::uint32_t first =
      static_cast<std::uint32_t>(good[0x20] | good[0x21] << 8U | good[0x22] << 16U);
  ExpectRefused(
      good, "MFI",
      {
          {"cut inside the header", [](Bytes& b) { b.resize(30); },
           "the file ends inside the header"},
          {"no cylinders", [](Bytes& b) { PutLe32(b, 0x10, 0); }, "the header gives 0 cylinders"},
          {"too many cylinders", [](Bytes& b) { PutLe32(b, 0x10, 85); },
           "the header gives 85 cylinders"},
          {"an unknown step", [](Bytes& b) { PutLe32(b, 0x10, 0xC0000002U); },
           "the header gives a step of 3 (0 to 2 are known)"},
          {"three heads", [](Bytes& b) { PutLe32(b, 0x14, 3); }, "the header gives 3 heads"},
          {"the list past the end", [](Bytes& b) { b.resize(0x20 + 16 * 3); },
           "the track list runs past the end of the file (80 bytes)"},
          {"a track past the end", [](Bytes& b) { PutLe32(b, 0x20, 0xFFFFFF00U); },
           "the track of cylinder 0 head 0 at offset 4294967040 runs past the end of the file (" +
               std::to_string(good.size()) + " bytes)"},
          {"a zlib bomb", [](Bytes& b) { PutLe32(b, 0x28, 0x40000000U); },
           "the track of cylinder 0 head 0 claims 1073741824 bytes unpacked"},
          {"a size of no whole words", [](Bytes& b) { PutLe32(b, 0x28, 4001); },
           "the track of cylinder 0 head 0 claims 4001 bytes unpacked"},
          {"a size other than the data's", [](Bytes& b) { PutLe32(b, 0x28, 4000); },
           "the track of cylinder 0 head 0 does not unpack to its 4000 bytes"},
          {"damaged data",
           [first](Bytes& b) {
             b[first + 40] ^= 0xFF;
             b[first + 41] ^= 0x5A;
           },
           "the track of cylinder 0 head 0 does not unpack to its " +
               std::to_string(good[0x28] | good[0x29] << 8U | good[0x2A] << 16U) + " bytes"},
      });
}

TEST(BitstreamFormatsTest, DamagedPsiImagesSayWhy) {
  const Bytes good = BuildPsi(SmallDisk());
  // The first SECT chunk follows the 16 bytes of the "PSI " chunk.
  ExpectRefused(good, "PSI",
                {
                    {"cut inside a chunk", [](Bytes& b) { b.resize(16 + 10); },
                     "the file ends inside the chunk at offset 16"},
                    {"a chunk past the end", [](Bytes& b) { PutBe32(b, 16 + 4, 0x7FFFFFFF); },
                     "the chunk 'SECT' at offset 16 runs past the end of the file (" +
                         std::to_string(good.size()) + " bytes)"},
                    {"a CRC that fails", [](Bytes& b) { b[16 + 8 + 3] ^= 1; },
                     "the CRC of the chunk 'SECT' at offset 16 fails"},
                    {"another version", [](Bytes& b) { b[9] = 1; },
                     "the CRC of the chunk 'PSI ' at "
                     "offset 0 fails"},
                });
  // With its CRC right, the version is read and refused.
  Bytes version = BuildPsi(SmallDisk());
  version[8] = 0;
  version[9] = 1;
  PutBe32(version, 12, PsiCrc(version, 0, 12));
  const OpenedImage opened = Open(version);
  EXPECT_EQ(opened.message, "cannot be read as PSI: version 1 is not read");
}

TEST(BitstreamFormatsTest, PsiSectorsKeepTheirIdsAndStatus) {
  DiskSpec disk = PlainDisk(2, 0x77);
  std::vector<SectorSpec>& sectors = disk.tracks[1].sectors;
  sectors[0].status = 0xB0;                              // data CRC error
  sectors[1].deletedMark = 0x10;                         // deleted data
  sectors[2].status = 0xA0;                              // ID CRC error
  sectors[3].status = 0xF0;                              // no data mark
  sectors[4].c = 9;                                      // an ID of another cylinder
  sectors[5].data.assign(sectors[5].data.size(), 0x5A);  // filled
  const OpenedImage opened = Open(BuildPsi(disk));
  ASSERT_TRUE(opened.image) << opened.message;
  const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 1);
  ASSERT_NE(track, nullptr);
  ASSERT_EQ(track->Sectors().size(), sectors.size());
  const SectorFlags want[] = {kDataCrcError, kDeletedData, kIdCrcError, kNoDataMark, 0, 0};
  for (std::size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const Sector& sector = track->Sectors()[i];
    EXPECT_EQ(sector.flags, want[i]);
    EXPECT_EQ(sector.id.c, sectors[i].c);
    EXPECT_EQ(sector.id.r, sectors[i].r);
    EXPECT_EQ(sector.id.n, sectors[i].n);
    EXPECT_TRUE(ReadSector(*opened.image, sector) == (i == 3 ? Bytes{} : sectors[i].data));
  }
}

TEST(BitstreamFormatsTest, DamagedPriImagesSayWhy) {
  const Bytes good = BuildPri(SmallDisk());
  // The first TRAK chunk follows the 16 bytes of the "PRI " chunk.
  ExpectRefused(good, "PRI",
                {
                    {"cut inside a chunk", [](Bytes& b) { b.resize(16 + 10); },
                     "the file ends inside the chunk at offset 16"},
                    {"a chunk past the end", [](Bytes& b) { PutBe32(b, 16 + 4, 0x7FFFFFFF); },
                     "the chunk 'TRAK' at offset 16 runs past the end of the file (" +
                         std::to_string(good.size()) + " bytes)"},
                    {"a CRC that fails", [](Bytes& b) { b[16 + 8 + 3] ^= 1; },
                     "the CRC of the chunk 'TRAK' at offset 16 fails"},
                });
}

TEST(BitstreamFormatsTest, Damaged86fImagesSayWhy) {
  const Bytes good = Build86f(SmallDisk());
  ExpectRefused(good, "86F",
                {
                    {"cut inside the header", [](Bytes& b) { b.resize(10); },
                     "the file ends inside the header"},
                    {"big-endian fields", [](Bytes& b) { b[7] |= 0x08; },
                     "images with big-endian fields are not read"},
                    {"the first track past the end", [](Bytes& b) { PutLe32(b, 8, 0x7FFFFFFF); },
                     "the first track at offset 2147483647 lies outside the file (" +
                         std::to_string(good.size()) + " bytes)"},
                });
  // A track whose count claims more cells than lie before the next track
  // reads its own cells only.
  Bytes overlong = good;
  const std::size_t first = 8 + 4 * 512;
  PutLe32(overlong, first + 2, 0x00FFFFFF);
  const OpenedImage opened = Open(overlong);
  ASSERT_TRUE(opened.image) << opened.message;
  EXPECT_EQ(opened.image->ReadTrack(0, 0)->Sectors().size(),
            SmallDisk().tracks.at(0).sectors.size());
}

TEST(BitstreamFormatsTest, FormatsAreToldByTheirSignatures) {
  Bytes mfm = {'H', 'X', 'C', 'M', 'F', 'M', 0};
  mfm.resize(64);
  Bytes mess = {'M', 'E', 'S', 'S', 'F', 'L', 'O', 'P', 'P', 'Y', 'I', 'M', 'A', 'G', 'E', 0};
  mess.resize(64);
  Bytes noNul = mfm;
  noNul[6] = 'X';
  EXPECT_EQ(IdentifiedFormat(mfm), "HxC MFM");
  EXPECT_EQ(IdentifiedFormat(mess), "MFI");
  EXPECT_NE(IdentifiedFormat(noNul), "HxC MFM");
}

}  // namespace

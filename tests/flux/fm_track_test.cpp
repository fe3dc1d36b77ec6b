// Tests of FM (single-density) tracks in the formats that hold cells or
// flux: a PC-98 track 0 side 0 of 26 sectors of 128 bytes in FM, as cells
// at the FM rate and at the MFM rate (both phases), in a track beside MFM
// sectors, in HFE files and in flux read by a drive.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "flux/mfm.h"
#include "support/format_test_helpers.h"
#include "testkit/flux_writers.h"
#include "testkit/format_writers.h"
#include "testkit/image_builder.h"

namespace {

constexpr int kFmSectors = kFmTrackZeroSectors;

// What each sector of the FM track is given: plain, a data CRC error, a
// deleted data mark, an ID CRC error, no data mark.
struct FmCase {
  std::uint8_t r;
  std::uint8_t deletedMark;
  std::uint8_t status;
  SectorFlags flags;
};
const FmCase kFmCases[] = {
    {3, 0, 0xB0, kDataCrcError},
    {5, 0x10, 0, kDeletedData},
    {7, 0, 0xA0, kIdCrcError},
    {9, 0, 0xF0, kNoDataMark},
    {11, 0x10, 0xB0, kDeletedData | kDataCrcError},
};

SectorFlags FlagsOf(int r) {
  for (const FmCase& c : kFmCases) {
    // cppcheck-suppress useStlAlgorithm ; a loop reads as plainly
    if (c.r == r) {
      return c.flags;
    }
  }
  return 0;
}

// The FM track 0 with the sectors of kFmCases marked.
TrackSpec FmTrack(std::uint32_t seed) {
  TrackSpec track = FmTrackZero(seed);
  for (SectorSpec& sector : track.sectors) {
    for (const FmCase& c : kFmCases) {
      if (c.r == sector.r) {
        sector.deletedMark = c.deletedMark;
        sector.status = c.status;
      }
    }
  }
  return track;
}

// A disk of MFM tracks whose track 0 is the FM track.
DiskSpec MixedDisk(int tracks, std::uint32_t seed) {
  DiskSpec disk = PlainDisk(tracks, seed);
  disk.tracks[0] = FmTrack(seed);
  return disk;
}

// The sectors read from the FM track are its sectors, in order, with their
// IDs, data, flags and density.
void ExpectFmSectors(const std::vector<Sector>& sectors, const std::vector<unsigned char>& data,
                     std::uint32_t seed) {
  ASSERT_EQ(sectors.size(), static_cast<std::size_t>(kFmSectors));
  for (int r = 1; r <= kFmSectors; ++r) {
    SCOPED_TRACE("R " + std::to_string(r));
    const Sector& sector = sectors[static_cast<std::size_t>(r - 1)];
    EXPECT_EQ(sector.id, (SectorId{0, 0, static_cast<std::uint8_t>(r), 0}));
    EXPECT_TRUE(sector.singleDensity);
    const SectorFlags flags = FlagsOf(r);
    EXPECT_EQ(sector.flags, flags);
    if (flags == kNoDataMark) {
      EXPECT_EQ(sector.size, 0U);
      continue;
    }
    ASSERT_EQ(sector.size, 128U);
    const auto at = static_cast<std::ptrdiff_t>(sector.location);
    EXPECT_EQ(Bytes(data.begin() + at, data.begin() + at + 128), PatternSector(seed, 0, r, 128));
  }
}

void ExpectFmSectors(DiskImage& image, int track, std::uint32_t seed) {
  const std::shared_ptr<const Track> read = image.ReadTrack(0, track);
  ASSERT_NE(read, nullptr);
  std::vector<unsigned char> data;
  std::vector<Sector> sectors = read->Sectors();
  for (Sector& sector : sectors) {
    const Bytes bytes = sector.size > 0 ? ReadSector(image, sector) : Bytes();
    sector.location = static_cast<std::int64_t>(data.size());
    data.insert(data.end(), bytes.begin(), bytes.end());
  }
  ExpectFmSectors(sectors, data, seed);
}

// The cells moved on by `shift` cells (0..7), the first ones empty.
std::vector<unsigned char> Shifted(const Bytes& cells, unsigned shift) {
  std::vector<unsigned char> out(cells.size() + 1, 0);
  for (std::size_t i = 0; i < cells.size(); ++i) {
    out[i] = static_cast<unsigned char>(out[i] | cells[i] >> shift);
    out[i + 1] = static_cast<unsigned char>(cells[i] << (8U - shift));
  }
  return out;
}

std::vector<Sector> Decode(std::vector<unsigned char> cells, std::vector<unsigned char>& data,
                           std::vector<std::size_t>* idCells = nullptr) {
  const std::size_t count = cells.size() * 8;
  cells.resize(cells.size() + kMfmCellPadding, 0);
  return DecodeMfmTrack(cells, count, data, idCells);
}

// --- The decoder over cells

TEST(FmDecoding, FindsFmAtEitherCellRateAndPhase) {
  const TrackSpec track = FmTrack(0x51);
  const struct {
    bool ownRate;
    unsigned shift;
  } cases[] = {{true, 0}, {true, 3}, {false, 0}, {false, 1}, {false, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.ownRate ? "FM cells" : "MFM-rate cells") + ", moved " +
                 std::to_string(c.shift));
    std::vector<std::size_t> idStarts;
    const Bytes cells = TrackCells(&track, nullptr, &idStarts, c.ownRate);
    std::vector<unsigned char> data;
    std::vector<std::size_t> idCells;
    const std::vector<Sector> sectors = Decode(Shifted(cells, c.shift), data, &idCells);
    ExpectFmSectors(sectors, data, 0x51);
    // Where each ID's mark starts, in the cells given: a byte before its
    // first byte.
    ASSERT_EQ(idCells.size(), idStarts.size());
    const std::size_t markCells = c.ownRate ? 16 : 32;
    for (std::size_t i = 0; i < idCells.size(); ++i) {
      EXPECT_EQ(idCells[i], idStarts[i] - markCells + c.shift);
    }
  }
}

TEST(FmDecoding, FmAndMfmInOneTrackComeInTheOrderTheyLie) {
  const DiskSpec disk = PlainDisk(2, 0x52);
  const TrackSpec fm = FmTrack(0x52);
  // Half an MFM track, the FM track, then the MFM track again.
  Bytes mfm = TrackCells(&disk.tracks.at(1));
  Bytes cells(mfm.begin(), mfm.begin() + static_cast<std::ptrdiff_t>(mfm.size() / 2));
  const Bytes fmCells = TrackCells(&fm);
  cells.insert(cells.end(), fmCells.begin(), fmCells.end());
  cells.insert(cells.end(), mfm.begin(), mfm.end());
  std::vector<unsigned char> data;
  const std::vector<Sector> sectors = Decode(cells, data);
  ASSERT_GT(sectors.size(), static_cast<std::size_t>(kFmSectors + 8));
  std::string densities;
  for (const Sector& sector : sectors) {
    densities += sector.singleDensity ? 'F' : 'M';
  }
  const std::size_t firstHalf = sectors.size() - kFmSectors - 8;
  EXPECT_EQ(densities,
            std::string(firstHalf, 'M') + std::string(kFmSectors, 'F') + std::string(8, 'M'));
  std::vector<Sector> fmSectors(
      sectors.begin() + static_cast<std::ptrdiff_t>(firstHalf),
      sectors.begin() + static_cast<std::ptrdiff_t>(firstHalf) + kFmSectors);
  ExpectFmSectors(fmSectors, data, 0x52);
  for (std::size_t i = 0; i < 8; ++i) {
    const Sector& sector = sectors[sectors.size() - 8 + i];
    EXPECT_EQ(sector.flags, 0);
    EXPECT_EQ(sector.id, (SectorId{0, 1, static_cast<std::uint8_t>(i + 1), 3}));
  }
}

TEST(FmDecoding, MfmTracksGiveNoFmSectors) {
  const DiskSpec disk = PlainDisk(4, 0x53);
  for (const auto& entry : disk.tracks) {
    std::vector<unsigned char> data;
    const std::vector<Sector> sectors = Decode(TrackCells(&entry.second), data);
    ASSERT_EQ(sectors.size(), 8U);
    for (const Sector& sector : sectors) {
      EXPECT_FALSE(sector.singleDensity);
      EXPECT_EQ(sector.flags, 0);
    }
  }
}

// --- Whole images

TEST(FmTracks, HfeHoldsThemAtEitherRate) {
  DiskSpec disk = MixedDisk(4, 0x54);
  const struct {
    int revision;
    bool ownRate;
  } cases[] = {{1, false}, {3, false}, {1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE("revision " + std::to_string(c.revision) + (c.ownRate ? ", FM cells" : ""));
    const OpenedImage opened = Open(BuildHfe(disk, c.revision, c.ownRate));
    ASSERT_TRUE(opened.image) << opened.message;
    ExpectFmSectors(*opened.image, 0, 0x54);
    for (int track = 1; track < 4; ++track) {
      const std::shared_ptr<const Track> read = opened.image->ReadTrack(0, track);
      ASSERT_NE(read, nullptr);
      ASSERT_EQ(read->Sectors().size(), 8U);
      for (const Sector& sector : read->Sectors()) {
        EXPECT_FALSE(sector.singleDensity);
        EXPECT_EQ(ReadSector(*opened.image, sector), SectorData(disk, track, sector.id.r));
      }
    }
  }
}

TEST(FmTracks, FluxReadByADriveGivesThem) {
  const DiskSpec disk = MixedDisk(2, 0x55);
  const OpenedImage opened = Open(BuildScp(disk));
  ASSERT_TRUE(opened.image) << opened.message;
  ExpectFmSectors(*opened.image, 0, 0x55);
  const std::shared_ptr<const Track> track = opened.image->ReadTrack(0, 0);
  ASSERT_NE(track, nullptr);
  for (const Sector& sector : track->Sectors()) {
    SCOPED_TRACE(static_cast<int>(sector.id.r));
    EXPECT_EQ(sector.revolutions, 3);
    // A sector with a bad CRC or no data is good in no revolution.
    const bool bad = (FlagsOf(sector.id.r) & (kDataCrcError | kIdCrcError | kNoDataMark)) != 0;
    EXPECT_EQ(sector.revolutionsGood, bad ? 0 : 3);
  }
  const std::shared_ptr<const Track> mfm = opened.image->ReadTrack(0, 1);
  ASSERT_NE(mfm, nullptr);
  EXPECT_EQ(mfm->Sectors().size(), 8U);
}

}  // namespace

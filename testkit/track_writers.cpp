// Writers of IMD and of HFE's MFM bitstream.
//
// IMD: one track record per track of the disk, in 500 kbit/s MFM (FM when
// every sector of the track is FM), with a cylinder or head map when an ID's
// C or H differs from the track's, and a size table when the sectors differ
// in size or hold other than 128 << N bytes. Status 0xF0 (no data mark)
// gives a record with no data; deleted marks and status 0xB0 give the
// deleted and data-error types; an ID CRC error cannot be recorded.
//
// HFE: the tracks as a 2HD drive writes them (500 kbit/s MFM at 360 rpm),
// laid out as the PC-98 format does: gap, then per sector the ID field, gap,
// data field, gap. Status 0xA0 and 0xB0 give an ID or data field a wrong CRC,
// 0xF0 leaves the data field out, 0xE0 the ID field. A track whose sectors
// are all FM is written in FM as IBM lays it out (gaps of FF, six 00 before
// each mark, marks with clocks C7): at the MFM cell rate, each FM cell two
// cells long, as PC-98 2HD disks hold track 0 side 0, or (`fmAtOwnRate`)
// as FM cells, the file's bit rate halved. Revision 3 carries the same cells, with an index and
// a bit-rate opcode at the start of each track, a no-op every so often, and
// some cell bytes split in two by skip-bits opcodes.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "testkit/flux_writers.h"
#include "testkit/format_writers.h"

namespace {

constexpr std::uint8_t kDeletedMark = 0x10;
constexpr std::uint8_t kStatusDeleted = 0x10;
constexpr std::uint8_t kStatusIdCrc = 0xA0;
constexpr std::uint8_t kStatusDataCrc = 0xB0;
constexpr std::uint8_t kStatusNoAddressMark = 0xE0;
constexpr std::uint8_t kStatusNoDataMark = 0xF0;

bool IsDeleted(const SectorSpec& sector) {
  return sector.deletedMark == kDeletedMark || sector.status == kStatusDeleted;
}

void PutLe16(Bytes& out, std::size_t at, unsigned value) {
  out[at] = static_cast<std::uint8_t>(value & 0xFFU);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8U & 0xFFU);
}

// --- IMD

constexpr std::uint8_t kImdMfm500 = 3;
constexpr std::uint8_t kImdFm500 = 0;
constexpr std::uint8_t kImdCylinderMap = 0x80;
constexpr std::uint8_t kImdHeadMap = 0x40;
constexpr std::uint8_t kImdSizeTable = 0xFF;

// One ID field of every sector, in order.
void AppendMap(Bytes& out, const std::vector<SectorSpec>& sectors,
               std::uint8_t SectorSpec::*field) {
  std::transform(sectors.begin(), sectors.end(), std::back_inserter(out),
                 [field](const SectorSpec& sector) { return sector.*field; });
}

std::uint8_t ImdRecordType(const SectorSpec& sector, bool compressed) {
  if (sector.status == kStatusNoDataMark) {
    return 0;
  }
  const bool error = sector.status == kStatusDataCrc;
  const int base = IsDeleted(sector) ? (error ? 7 : 3) : (error ? 5 : 1);
  return static_cast<std::uint8_t>(base + (compressed ? 1 : 0));
}

// --- HFE

constexpr unsigned kHfeBitRate = 500;  // kbit/s
constexpr unsigned kHfeRpm = 360;
// Cell bytes per side of one revolution: 2 cells per data bit.
constexpr std::size_t kHfeSideBytes = kHfeBitRate * 1000 * 2 / 8 * 60 / kHfeRpm;
constexpr std::size_t kHfeMaxSideBytes = 0xFFFF / 2;
constexpr std::size_t kHfeBlock = 512;
constexpr std::size_t kHfeHalfBlock = 256;
constexpr unsigned kSyncA1 = 0x4489;
constexpr unsigned kSyncC2 = 0x5224;

std::uint16_t Crc(std::uint16_t crc, const Bytes& bytes) {
  for (const std::uint8_t byte : bytes) {
    crc = static_cast<std::uint16_t>(crc ^ byte << 8U);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint16_t>((crc & 0x8000U) != 0 ? crc << 1U ^ 0x1021U : crc << 1U);
    }
  }
  return crc;
}

// MFM cells, two bytes per data byte, first cell in the top bit.
class MfmTrack {
 public:
  void PutByte(std::uint8_t value, std::size_t count = 1) {
    for (std::size_t i = 0; i < count; ++i) {
      unsigned cells = 0;
      for (int bit = 7; bit >= 0; --bit) {
        const bool data = (value >> bit & 1U) != 0;
        const bool clock = !data && !last_;
        cells = cells << 2U | (clock ? 2U : 0U) | (data ? 1U : 0U);
        last_ = data;
      }
      Cells(cells);
    }
  }
  void PutBytes(const Bytes& values) {
    for (const std::uint8_t value : values) {
      PutByte(value);
    }
  }
  void Sync(unsigned cells, int count) {
    for (int i = 0; i < count; ++i) {
      Cells(cells);
    }
    last_ = (cells & 1U) != 0;
  }
  // A field: three syncs, the mark, the bytes and their CRC (spoilt when
  // `badCrc`).
  void Field(std::uint8_t mark, const Bytes& bytes, bool badCrc) {
    PutByte(0x00, 12);
    Sync(kSyncA1, 3);
    PutByte(mark);
    PutBytes(bytes);
    Bytes covered = {0xA1, 0xA1, 0xA1, mark};
    covered.insert(covered.end(), bytes.begin(), bytes.end());
    const unsigned crc = Crc(0xFFFF, covered) ^ (badCrc ? 0x5555U : 0U);
    PutByte(static_cast<std::uint8_t>(crc >> 8U));
    PutByte(static_cast<std::uint8_t>(crc & 0xFFU));
  }
  const Bytes& Out() const { return out_; }

 private:
  void Cells(unsigned cells) {
    out_.push_back(static_cast<std::uint8_t>(cells >> 8U));
    out_.push_back(static_cast<std::uint8_t>(cells & 0xFFU));
  }
  Bytes out_;
  bool last_ = false;
};

// FM cells, clock and data for each bit (clocks C7 for a mark), first cell
// in the top bit; `doubled`: each cell followed by an empty one, FM at the
// MFM cell rate.
class FmTrack {
 public:
  explicit FmTrack(bool doubled) : doubled_(doubled) {}
  void PutByte(std::uint8_t value, std::size_t count = 1, std::uint8_t clocks = 0xFF) {
    for (std::size_t i = 0; i < count; ++i) {
      for (int bit = 7; bit >= 0; --bit) {
        Cell((clocks >> bit & 1U) != 0);
        Cell((value >> bit & 1U) != 0);
      }
    }
  }
  void PutBytes(const Bytes& values) {
    for (const std::uint8_t value : values) {
      PutByte(value);
    }
  }
  // A field: six 00, the mark, the bytes and their CRC (spoilt when
  // `badCrc`).
  void Field(std::uint8_t mark, const Bytes& bytes, bool badCrc) {
    PutByte(0x00, 6);
    PutByte(mark, 1, kFmMarkClocks);
    PutBytes(bytes);
    Bytes covered = {mark};
    covered.insert(covered.end(), bytes.begin(), bytes.end());
    const unsigned crc = Crc(0xFFFF, covered) ^ (badCrc ? 0x5555U : 0U);
    PutByte(static_cast<std::uint8_t>(crc >> 8U));
    PutByte(static_cast<std::uint8_t>(crc & 0xFFU));
  }
  // Cells written so far, in whole bytes.
  std::size_t CellCount() const { return out_.size() * 8; }
  // Cells a data byte takes.
  std::size_t ByteCells() const { return doubled_ ? 32 : 16; }
  const Bytes& Out() const { return out_; }

  static constexpr std::uint8_t kFmMarkClocks = 0xC7;
  static constexpr std::uint8_t kFmIndexClocks = 0xD7;

 private:
  void Cell(bool change) {
    Put(change);
    if (doubled_) {
      Put(false);
    }
  }
  void Put(bool cell) {
    pending_ = static_cast<std::uint8_t>(pending_ << 1U | (cell ? 1U : 0U));
    if (++pendingCount_ == 8) {
      out_.push_back(pending_);
      pendingCount_ = 0;
    }
  }
  bool doubled_;
  Bytes out_;
  std::uint8_t pending_ = 0;
  int pendingCount_ = 0;
};

bool AllFm(const TrackSpec* track) {
  return track != nullptr && !track->sectors.empty() &&
         std::all_of(track->sectors.begin(), track->sectors.end(),
                     [](const SectorSpec& sector) { return sector.density == kFmDensity; });
}

// An FM track as IBM's single-density format lays it out (gap 3 as PC-98
// writes it for 26 sectors of 128 bytes), filled to `sideBytes`.
Bytes FmTrackCells(const TrackSpec& track, bool doubled, std::size_t sideBytes,
                   std::vector<std::size_t>* dataStarts, std::vector<std::size_t>* idStarts) {
  FmTrack fm(doubled);
  fm.PutByte(0xFF, 40);
  fm.PutByte(0x00, 6);
  fm.PutByte(0xFC, 1, FmTrack::kFmIndexClocks);
  fm.PutByte(0xFF, 26);
  // A field's first byte follows six 00 and the mark.
  const std::size_t beforeField = 7 * fm.ByteCells();
  for (const SectorSpec& sector : track.sectors) {
    if (idStarts != nullptr) {
      idStarts->push_back(sector.status != kStatusNoAddressMark ? fm.CellCount() + beforeField
                                                                : kNoDataCells);
    }
    if (sector.status != kStatusNoAddressMark) {
      fm.Field(0xFE, {sector.c, sector.h, sector.r, sector.n}, sector.status == kStatusIdCrc);
    }
    fm.PutByte(0xFF, 11);
    if (sector.status != kStatusNoDataMark) {
      if (dataStarts != nullptr) {
        dataStarts->push_back(fm.CellCount() + beforeField);
      }
      fm.Field(IsDeleted(sector) ? 0xF8 : 0xFB, sector.data, sector.status == kStatusDataCrc);
    } else if (dataStarts != nullptr) {
      dataStarts->push_back(kNoDataCells);
    }
    fm.PutByte(0xFF, 27);
  }
  while (fm.Out().size() < sideBytes) {
    fm.PutByte(0xFF);
  }
  Bytes cells = fm.Out();
  cells.resize(std::min(cells.size(), kHfeMaxSideBytes));
  return cells;
}

// A track's cells, first cell in the top bit of each byte, one revolution
// long at least; `dataStarts` gets where each sector's data starts.
Bytes HfeTrackCells(const TrackSpec* track, std::vector<std::size_t>* dataStarts = nullptr,
                    std::vector<std::size_t>* idStarts = nullptr, bool fmAtOwnRate = false) {
  if (AllFm(track)) {
    return FmTrackCells(*track, !fmAtOwnRate, fmAtOwnRate ? kHfeSideBytes / 2 : kHfeSideBytes,
                        dataStarts, idStarts);
  }
  MfmTrack mfm;
  mfm.PutByte(0x4E, 80);
  mfm.PutByte(0x00, 12);
  mfm.Sync(kSyncC2, 3);
  mfm.PutByte(0xFC);
  mfm.PutByte(0x4E, 50);
  if (track != nullptr) {
    for (const SectorSpec& sector : track->sectors) {
      // A field's first byte follows 12 zeros, 3 syncs and the mark.
      constexpr std::size_t kBeforeField = std::size_t{12 + 3 + 1} * 2;
      if (idStarts != nullptr) {
        idStarts->push_back(sector.status != kStatusNoAddressMark
                                ? (mfm.Out().size() + kBeforeField) * 8
                                : kNoDataCells);
      }
      if (sector.status != kStatusNoAddressMark) {
        mfm.Field(0xFE, {sector.c, sector.h, sector.r, sector.n}, sector.status == kStatusIdCrc);
      }
      mfm.PutByte(0x4E, 22);
      if (sector.status != kStatusNoDataMark) {
        if (dataStarts != nullptr) {
          dataStarts->push_back((mfm.Out().size() + kBeforeField) * 8);
        }
        mfm.Field(IsDeleted(sector) ? 0xF8 : 0xFB, sector.data, sector.status == kStatusDataCrc);
      } else if (dataStarts != nullptr) {
        dataStarts->push_back(kNoDataCells);
      }
      mfm.PutByte(0x4E, 116);
    }
  }
  while (mfm.Out().size() < kHfeSideBytes) {
    mfm.PutByte(0x4E);
  }
  Bytes cells = mfm.Out();
  cells.resize(std::min(cells.size(), kHfeMaxSideBytes));
  return cells;
}

constexpr std::uint8_t kOpNop = 0xF0;
constexpr std::uint8_t kOpIndex = 0xF1;
constexpr std::uint8_t kOpBitRate = 0xF2;
constexpr std::uint8_t kOpSkipBits = 0xF3;
constexpr std::uint8_t kBitRateTicks = 72;  // 36 MHz ticks per cell at 500 kbit/s
constexpr std::size_t kNopEvery = 89;
constexpr std::size_t kSplitEvery = 97;

// The same cells with revision 3's opcodes among them.
Bytes WithOpcodes(const Bytes& cells) {
  Bytes out = {kOpIndex, kOpBitRate, kBitRateTicks};
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i % kNopEvery == kNopEvery - 1) {
      out.push_back(kOpNop);
    }
    if (i % kSplitEvery == kSplitEvery - 1) {
      // The first 5 cells of the byte, then its last 3.
      out.insert(out.end(), {kOpSkipBits, 3, static_cast<std::uint8_t>(cells[i] >> 3U), kOpSkipBits,
                             5, static_cast<std::uint8_t>(cells[i] & 7U)});
    } else {
      out.push_back(cells[i]);
    }
  }
  return out;
}

std::uint8_t Reverse(std::uint8_t byte) {
  std::uint8_t reversed = 0;
  for (int bit = 0; bit < 8; ++bit) {
    reversed = static_cast<std::uint8_t>(reversed << 1U | (byte >> bit & 1U));
  }
  return reversed;
}

}  // namespace

Bytes TrackCells(const TrackSpec* track, std::vector<std::size_t>* dataStarts,
                 std::vector<std::size_t>* idStarts, bool fmAtOwnRate) {
  for (std::vector<std::size_t>* starts : {dataStarts, idStarts}) {
    if (starts != nullptr) {
      starts->clear();
    }
  }
  return HfeTrackCells(track, dataStarts, idStarts, fmAtOwnRate);
}

Bytes BuildImd(const DiskSpec& disk) {
  const std::string head = "IMD 1.18: 01/01/2000 00:00:00\r\nzefacut test image\r\n\x1A";
  Bytes out(head.begin(), head.end());
  for (const auto& [index, track] : disk.tracks) {
    const auto cylinder = static_cast<std::uint8_t>(index / 2);
    const auto side = static_cast<std::uint8_t>(index % 2);
    const auto& sectors = track.sectors;
    bool cylinderMap = false;
    bool headMap = false;
    bool allFm = !sectors.empty();
    bool uniform = true;
    for (const SectorSpec& sector : sectors) {
      cylinderMap = cylinderMap || sector.c != cylinder;
      headMap = headMap || sector.h != side;
      allFm = allFm && sector.density == kFmDensity;
      uniform = uniform && sector.n == sectors.front().n && sector.n <= 6 &&
                sector.data.size() == 128U << sector.n;
    }
    out.push_back(allFm ? kImdFm500 : kImdMfm500);
    out.push_back(cylinder);
    out.push_back(static_cast<std::uint8_t>(side | (cylinderMap ? kImdCylinderMap : 0) |
                                            (headMap ? kImdHeadMap : 0)));
    out.push_back(static_cast<std::uint8_t>(sectors.size()));
    const std::uint8_t sizeCode = uniform && !sectors.empty() ? sectors.front().n : kImdSizeTable;
    out.push_back(sizeCode);
    AppendMap(out, sectors, &SectorSpec::r);
    if (cylinderMap) {
      AppendMap(out, sectors, &SectorSpec::c);
    }
    if (headMap) {
      AppendMap(out, sectors, &SectorSpec::h);
    }
    if (sizeCode == kImdSizeTable) {
      for (const SectorSpec& sector : sectors) {
        out.resize(out.size() + 2);
        PutLe16(out, out.size() - 2, static_cast<unsigned>(sector.data.size()));
      }
    }
    for (const SectorSpec& sector : sectors) {
      const Bytes& data = sector.data;
      const bool compressed =
          !data.empty() && std::all_of(data.begin(), data.end(),
                                       [&data](std::uint8_t byte) { return byte == data[0]; });
      const std::uint8_t type = ImdRecordType(sector, compressed);
      out.push_back(type);
      if (type == 0) {
        continue;
      }
      if (compressed) {
        out.push_back(data[0]);
      } else {
        out.insert(out.end(), data.begin(), data.end());
      }
    }
  }
  return out;
}

Bytes BuildHfe(const DiskSpec& disk, int revision, bool fmAtOwnRate) {
  const int lastTrack = disk.tracks.empty() ? 0 : disk.tracks.rbegin()->first;
  const int cylinders = lastTrack / 2 + 1;
  bool twoSides = false;
  for (const auto& entry : disk.tracks) {
    twoSides = twoSides || entry.first % 2 == 1;
  }
  const int sides = twoSides ? 2 : 1;

  Bytes out(2 * kHfeBlock, 0xFF);  // the header, then the track list
  const std::string signature = revision == 3 ? "HXCHFEV3" : "HXCPICFE";
  std::copy(signature.begin(), signature.end(), out.begin());
  out[8] = 0;  // format revision
  out[9] = static_cast<std::uint8_t>(cylinders);
  out[10] = static_cast<std::uint8_t>(sides);
  out[11] = fmAtOwnRate ? 2 : 0;  // ISO/IBM FM or MFM
  PutLe16(out, 12, fmAtOwnRate ? kHfeBitRate / 2 : kHfeBitRate);
  PutLe16(out, 14, kHfeRpm);
  out[16] = 1;          // IBM PC HD
  PutLe16(out, 18, 1);  // the track list: block 1
  for (int cylinder = 0; cylinder < cylinders; ++cylinder) {
    Bytes side[2];
    for (int s = 0; s < sides; ++s) {
      const auto found = disk.tracks.find(2 * cylinder + s);
      side[s] = HfeTrackCells(found == disk.tracks.end() ? nullptr : &found->second, nullptr,
                              nullptr, fmAtOwnRate);
      if (revision == 3) {
        side[s] = WithOpcodes(side[s]);
      }
    }
    const std::size_t length = std::max(side[0].size(), side[1].size());
    for (Bytes& cells : side) {
      cells.resize(length, revision == 3 ? kOpNop : 0xAA);
      std::transform(cells.begin(), cells.end(), cells.begin(), Reverse);
    }
    const std::size_t entry = kHfeBlock + 4 * static_cast<std::size_t>(cylinder);
    PutLe16(out, entry, static_cast<unsigned>(out.size() / kHfeBlock));
    PutLe16(out, entry + 2, static_cast<unsigned>(std::min<std::size_t>(2 * length, 0xFFFF)));
    for (std::size_t at = 0; at < length; at += kHfeHalfBlock) {
      for (const Bytes& cells : side) {
        Bytes half(kHfeHalfBlock, 0);
        std::copy(cells.begin() + static_cast<long>(std::min(at, cells.size())),
                  cells.begin() + static_cast<long>(std::min(at + kHfeHalfBlock, cells.size())),
                  half.begin());
        out.insert(out.end(), half.begin(), half.end());
      }
    }
  }
  return out;
}

#include "flux/mfm.h"

#include <algorithm>
#include <array>
#include <optional>

namespace {

constexpr std::uint16_t kCrcPolynomial = 0x1021;
constexpr unsigned kCellsPerByte = 16;
// A1 with the clock between its bits 4 and 5 missing: no data byte written
// in MFM gives these cells, so they can only start a field.
constexpr unsigned kSyncCells = 0x4489;
constexpr unsigned kSyncCount = 3;
constexpr unsigned kSyncRunCells = kSyncCount * kCellsPerByte;
constexpr std::uint64_t kSyncRun = 0x448944894489ULL;
constexpr std::uint64_t kSyncRunMask = 0xFFFFFFFFFFFFULL;
constexpr unsigned char kSyncByte = 0xA1;
constexpr unsigned char kIdMark = 0xFE;
constexpr unsigned char kDataMark = 0xFB;
constexpr unsigned char kDeletedDataMark = 0xF8;
constexpr std::size_t kIdBytes = 4;  // C, H, R, N
constexpr std::size_t kCrcBytes = 2;
// The largest size code whose data is read: 32 KiB, more than any track
// holds; a larger code reads as this one (the track ends first either way).
constexpr unsigned kMaxSizeCode = 8;
constexpr std::uint32_t kBaseSectorSize = 128;
// How far after the end of an ID field its data field's sync may end, in
// bytes: a controller gives up looking for the data mark after about this
// many (the usual gap between the two is 22 bytes of 4E and 12 of 00).
constexpr std::size_t kDataMarkWindowBytes = 43;
constexpr std::size_t kDataMarkWindow = kDataMarkWindowBytes * kCellsPerByte;
constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// FM marks: the mark byte's data bits with clocks 0xC7 (two of them
// missing), as 16 cells, clock first. No byte written with every clock
// present gives them. The index mark (0xFC, clocks 0xD7) is not looked for.
constexpr unsigned kFmIdMarkCells = 0xF57E;
constexpr unsigned kFmDataMarkCells = 0xF56F;
constexpr unsigned kFmDeletedDataMarkCells = 0xF56A;
constexpr std::array<unsigned, 3> kFmMarkCells = {kFmIdMarkCells, kFmDataMarkCells,
                                                  kFmDeletedDataMarkCells};
// A mark follows a gap of 00 bytes (six on a formatted track); two of them
// are asked for before a mark counts, 48 cells in all as for MFM's syncs.
constexpr unsigned kFmZeroCells = 0xAAAA;
constexpr unsigned kFmGapBytes = 2;
constexpr std::size_t kFmGapCells = std::size_t{kFmGapBytes} * kCellsPerByte;
constexpr std::uint64_t kFmGap = 0xAAAAAAAAULL;
// FM read at the MFM cell rate: one FM cell spans two cells, the change (if
// any) in the first, so the gap's cells 0xAAAA come out as 0x88888888.
constexpr std::uint64_t kDoubledFmGap = 0x8888888888888888ULL;
constexpr std::uint64_t kMask48 = 0xFFFFFFFFFFFFULL;

// Tables for the CRC eight bytes at a time: kCrcTables[k][x] is the CRC
// register that byte x followed by k zero bytes leaves from a register of 0.
constexpr std::size_t kCrcSlice = 8;
using CrcTables = std::array<std::array<std::uint16_t, 256>, kCrcSlice>;

constexpr CrcTables MakeCrcTables() {
  CrcTables tables{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    auto crc = static_cast<std::uint16_t>(byte << 8U);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint16_t>((crc & 0x8000U) != 0 ? (crc << 1U) ^ kCrcPolynomial
                                                            : crc << 1U);
    }
    tables[0][byte] = crc;
  }
  for (std::size_t k = 1; k < kCrcSlice; ++k) {
    for (unsigned byte = 0; byte < 256; ++byte) {
      const std::uint16_t previous = tables[k - 1][byte];
      tables[k][byte] = static_cast<std::uint16_t>(previous << 8U ^ tables[0][previous >> 8U]);
    }
  }
  return tables;
}
constexpr CrcTables kCrcTables = MakeCrcTables();

// The data bits of 8 cells (clock, bit, clock, bit, ...): bits 6, 4, 2, 0.
constexpr std::array<unsigned char, 256> MakeDataBitTable() {
  std::array<unsigned char, 256> table{};
  for (unsigned cells = 0; cells < 256; ++cells) {
    table[cells] = static_cast<unsigned char>((cells >> 3U & 8U) | (cells >> 2U & 4U) |
                                              (cells >> 1U & 2U) | (cells & 1U));
  }
  return table;
}
constexpr std::array<unsigned char, 256> kDataBits = MakeDataBitTable();

// 64 cells from byte `index` on, the first in the top bit.
std::uint64_t Load64(const unsigned char* bytes, std::size_t index) {
  const unsigned char* p = bytes + index;
  return static_cast<std::uint64_t>(p[0]) << 56U | static_cast<std::uint64_t>(p[1]) << 48U |
         static_cast<std::uint64_t>(p[2]) << 40U | static_cast<std::uint64_t>(p[3]) << 32U |
         static_cast<std::uint64_t>(p[4]) << 24U | static_cast<std::uint64_t>(p[5]) << 16U |
         static_cast<std::uint64_t>(p[6]) << 8U | static_cast<std::uint64_t>(p[7]);
}

// A run of syncs starting in byte b covers bytes b + 1 and b + 2 whole, at
// one of 8 phases of its 16-cell period. A set of the 16-cell values those
// two bytes can then hold lets the search pass over most bytes at one look.
using CellSet = std::array<std::uint64_t, 65536 / 64>;

constexpr CellSet MakeSyncPhases() {
  CellSet set{};
  for (unsigned shift = 0; shift < 8; ++shift) {
    // Bytes b + 1 and b + 2 start 8 - shift cells into the run.
    const unsigned rotation = 8U - shift;
    const unsigned value = (kSyncCells << rotation | kSyncCells >> (16U - rotation)) & 0xFFFFU;
    set[value / 64] |= std::uint64_t{1} << (value % 64);
  }
  return set;
}
constexpr CellSet kSyncPhases = MakeSyncPhases();

bool MaySyncStartIn(const unsigned char* bytes, std::size_t index) {
  const unsigned value = static_cast<unsigned>(bytes[index + 1]) << 8U | bytes[index + 2];
  return (kSyncPhases[value / 64] >> (value % 64) & 1U) != 0;
}

// The 16 cells from cell `pos` on.
unsigned Cells16(const unsigned char* bytes, std::size_t pos) {
  const unsigned char* p = bytes + pos / 8;
  const std::uint32_t word =
      static_cast<std::uint32_t>(p[0]) << 16U | static_cast<std::uint32_t>(p[1]) << 8U | p[2];
  return word >> (8U - pos % 8U) & 0xFFFFU;
}

// Each FM cell of `cells` (16 of them) as a change and a cell of none.
constexpr std::uint32_t Doubled(unsigned cells) {
  std::uint32_t doubled = 0;
  for (unsigned bit = 0; bit < 16; ++bit) {
    doubled |= static_cast<std::uint32_t>(cells >> bit & 1U) << (2U * bit + 1U);
  }
  return doubled;
}

// The 16-cell values bytes i and i + 1 hold when an FM mark, after its
// gap, starts in byte i, at each of the 8 phases: in FM cells (`fmRate`),
// read at the MFM cell rate (`mfmRate`), or both.
constexpr CellSet MakeFmPhases(bool fmRate, bool mfmRate) {
  CellSet set{};
  for (const unsigned mark : kFmMarkCells) {
    for (unsigned shift = 0; shift < 8; ++shift) {
      if (fmRate) {
        const std::uint32_t run = kFmZeroCells << 16U | mark;
        const unsigned value = run >> shift & 0xFFFFU;
        set[value / 64] |= std::uint64_t{1} << (value % 64);
      }
      if (mfmRate) {
        const std::uint64_t run =
            std::uint64_t{Doubled(kFmZeroCells) & 0xFFFFU} << 32U | Doubled(mark);
        const auto value = static_cast<unsigned>(run >> (16U + shift) & 0xFFFFU);
        set[value / 64] |= std::uint64_t{1} << (value % 64);
      }
    }
  }
  return set;
}
constexpr CellSet kFmPhases = MakeFmPhases(true, false);
constexpr CellSet kAnyFmPhases = MakeFmPhases(true, true);

bool InSet(const CellSet& set, const unsigned char* bytes, std::size_t index) {
  const unsigned value = static_cast<unsigned>(bytes[index]) << 8U | bytes[index + 1];
  return (set[value / 64] >> (value % 64) & 1U) != 0;
}

// The 48 cells from cell `pos` on, the first in bit 47.
std::uint64_t Cells48(const unsigned char* bytes, std::size_t pos) {
  return Load64(bytes, pos / 8) << (pos % 8) >> 16U & kMask48;
}

// Whether an FM mark, after its gap, starts at cell `mark`: in FM cells,
// or (`doubled`) read at the MFM cell rate.
bool IsFmMarkAt(const unsigned char* bytes, std::size_t mark, std::size_t end, bool doubled) {
  const std::size_t gapCells = doubled ? 2 * kFmGapCells : kFmGapCells;
  const std::size_t markCells = doubled ? 2 * kCellsPerByte : kCellsPerByte;
  if (mark < gapCells || mark > end || end - mark < markCells) {
    return false;
  }
  if (!doubled) {
    const std::uint64_t run = Cells48(bytes, mark - gapCells);
    return std::any_of(kFmMarkCells.begin(), kFmMarkCells.end(),
                       [run](unsigned cells) { return run == (kFmGap << 16U | cells); });
  }
  if (Cells48(bytes, mark - gapCells) != (kDoubledFmGap & kMask48)) {
    return false;
  }
  const std::uint64_t run = Cells48(bytes, mark - kCellsPerByte);
  return std::any_of(kFmMarkCells.begin(), kFmMarkCells.end(), [run](unsigned cells) {
    return run == ((kDoubledFmGap & 0xFFFFU) << 32U | Doubled(cells));
  });
}

// The first cell at or after `from` that an FM mark starts at, in a track
// of FM cells; kNotFound when there is none.
std::size_t FindFmMark(const unsigned char* bytes, std::size_t from, std::size_t end) {
  if (end < kFmGapCells + kCellsPerByte) {
    return kNotFound;
  }
  for (std::size_t index = from / 8; index * 8 + kCellsPerByte <= end; ++index) {
    if (!InSet(kFmPhases, bytes, index)) {
      continue;
    }
    for (unsigned shift = 0; shift < 8; ++shift) {
      const std::size_t mark = index * 8 + shift;
      if (mark >= from && IsFmMarkAt(bytes, mark, end, false)) {
        return mark;
      }
    }
  }
  return kNotFound;
}

// Which ways of reading a track find an FM mark in it: its cells as FM
// cells, or as MFM-rate cells taking every other cell from cell 0 or 1.
struct FmReadings {
  bool asIs = false;
  std::array<bool, 2> everyOther{};
  bool Any() const { return asIs || everyOther[0] || everyOther[1]; }
};

// Cells [start, end) of a sector read well, ID and data: no FM mark lies
// there.
struct Span {
  std::size_t start;
  std::size_t end;
};

// A pass over the track, a table look-up a byte, that finds nothing to
// check further at almost every byte of a track with no FM mark. The
// sectors MFM read well (`sound`, in order) are passed over: on an MFM
// track only the gaps between them are looked at.
FmReadings ScanForFm(const unsigned char* bytes, std::size_t end, const std::vector<Span>& sound) {
  FmReadings found;
  std::size_t from = 0;
  for (std::size_t span = 0; span <= sound.size(); ++span) {
    const std::size_t to = span < sound.size() ? std::min(sound[span].start, end) : end;
    // The bytes a mark that ends by `to` may start in.
    for (std::size_t index = from / 8; index * 8 + kCellsPerByte <= to; ++index) {
      if (!InSet(kAnyFmPhases, bytes, index)) {
        continue;
      }
      for (unsigned shift = 0; shift < 8; ++shift) {
        const std::size_t mark = index * 8 + shift;
        found.asIs = found.asIs || IsFmMarkAt(bytes, mark, end, false);
        if (IsFmMarkAt(bytes, mark, end, true)) {
          found.everyOther[mark % 2] = true;
        }
      }
    }
    if (span < sound.size()) {
      from = std::max(from, sound[span].end);
    }
  }
  return found;
}

// Every other cell of a track from cell `phase` (0 or 1) on, as a cell
// buffer with its padding; the number of cells.
std::size_t TakeEveryOther(const unsigned char* bytes, std::size_t end, unsigned phase,
                           std::vector<unsigned char>& out) {
  const std::size_t count = end > phase ? (end - phase + 1) / 2 : 0;
  out.assign((count + 7) / 8 + kMfmCellPadding, 0);
  for (std::size_t i = 0; i * 8 < count; ++i) {
    const unsigned cells = Cells16(bytes, 16 * i + phase);
    out[i] = static_cast<unsigned char>(kDataBits[cells >> 9U & 0x7FU] << 4U |
                                        kDataBits[cells >> 1U & 0x7FU]);
  }
  return count;
}

unsigned char DecodeByte(unsigned cells) {
  return static_cast<unsigned char>(kDataBits[cells >> 8U] << 4U | kDataBits[cells & 0xFFU]);
}

void DecodeBytes(const unsigned char* bytes, std::size_t pos, unsigned char* dest,
                 std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    dest[i] = DecodeByte(Cells16(bytes, pos + i * kCellsPerByte));
  }
}

// The cell just past the first run of three syncs that starts at or after
// `from` and ends by `end`; kNotFound when there is none.
std::size_t FindSyncRun(const unsigned char* bytes, std::size_t from, std::size_t end) {
  if (end < kSyncRunCells || from > end - kSyncRunCells) {
    return kNotFound;
  }
  const std::size_t last = end - kSyncRunCells;  // the last cell a run may start at
  for (std::size_t index = from / 8; index * 8 <= last; ++index) {
    if (!MaySyncStartIn(bytes, index)) {
      continue;
    }
    const std::uint64_t window = Load64(bytes, index);
    for (unsigned shift = 0; shift < 8; ++shift) {
      const std::size_t start = index * 8 + shift;
      if (start > last) {
        return kNotFound;
      }
      if (start >= from && (window >> (kCellsPerByte - shift) & kSyncRunMask) == kSyncRun) {
        return start + kSyncRunCells;
      }
    }
  }
  return kNotFound;
}

// The CRC of what comes before a field's bytes, where its CRC starts: the
// syncs and the mark in MFM, the mark alone in FM.
std::uint16_t MarkCrc(unsigned char mark, bool fm) {
  if (fm) {
    return CrcCcitt(kCrcCcittPreset, &mark, 1);
  }
  const unsigned char prefix[] = {kSyncByte, kSyncByte, kSyncByte, mark};
  return CrcCcitt(kCrcCcittPreset, prefix, sizeof prefix);
}

// A sector found, with the cell its ID field's mark starts at.
struct Found {
  Sector sector;
  std::size_t mark = 0;
};

struct PendingId {
  Sector sector;
  std::size_t end = 0;   // the cell past its CRC
  std::size_t mark = 0;  // the cell its mark starts at
};

// The sectors of a track of cells (16 a byte, clock first) in one density,
// as DecodeMfmTrack tells; each is appended to `found`.
// When `sound` is given, it gets the cells of each sector read well.
void DecodeFields(const unsigned char* bytes, std::size_t end, bool fm,
                  std::vector<unsigned char>& data, std::vector<Found>& found,
                  std::vector<Span>* sound = nullptr) {
  const std::uint16_t idMarkCrc = MarkCrc(kIdMark, fm);
  std::optional<PendingId> pending;
  const auto emitWithoutData = [&]() {
    pending->sector.flags |= kNoDataMark;
    pending->sector.location = static_cast<std::int64_t>(data.size());
    found.push_back({pending->sector, pending->mark});
    pending.reset();
  };

  std::size_t pos = 0;
  for (;;) {
    // The cell the mark byte starts at.
    std::size_t mark = fm ? FindFmMark(bytes, pos, end) : FindSyncRun(bytes, pos, end);
    if (pending && (mark == kNotFound || mark - pending->end > kDataMarkWindow)) {
      emitWithoutData();
    }
    if (mark == kNotFound) {
      break;
    }
    // A fourth sync or more before the mark is still the same run.
    while (!fm && mark + kCellsPerByte <= end && Cells16(bytes, mark) == kSyncCells) {
      mark += kCellsPerByte;
    }
    if (mark + kCellsPerByte > end) {
      break;
    }
    const unsigned char markByte = DecodeByte(Cells16(bytes, mark));
    pos = mark + kCellsPerByte;

    if (markByte == kIdMark) {
      if (pending) {
        emitWithoutData();
      }
      constexpr std::size_t kFieldBytes = kIdBytes + kCrcBytes;
      if (end - pos < kFieldBytes * kCellsPerByte) {
        break;  // the track ends inside the ID
      }
      unsigned char field[kFieldBytes];
      DecodeBytes(bytes, pos, field, kFieldBytes);
      pos += kFieldBytes * kCellsPerByte;
      PendingId id;
      id.sector.id = {field[0], field[1], field[2], field[3]};
      id.sector.singleDensity = fm;
      const std::uint16_t crc = CrcCcitt(idMarkCrc, field, kIdBytes);
      if (crc != (static_cast<unsigned>(field[kIdBytes]) << 8U | field[kIdBytes + 1])) {
        id.sector.flags |= kIdCrcError;
      }
      id.end = pos;
      id.mark = mark;
      pending = id;
    } else if (pending && (markByte == kDataMark || markByte == kDeletedDataMark)) {
      Sector sector = pending->sector;
      const std::size_t idMark = pending->mark;
      pending.reset();
      if (markByte == kDeletedDataMark) {
        sector.flags |= kDeletedData;
      }
      sector.recordedSize = kBaseSectorSize << std::min<unsigned>(sector.id.n, kMaxSizeCode);
      const std::size_t dataStart = pos;
      const std::size_t held = (end - pos) / kCellsPerByte;
      const std::size_t count = std::min<std::size_t>(sector.recordedSize, held);
      const std::size_t location = data.size();
      data.resize(location + count);
      DecodeBytes(bytes, pos, data.data() + location, count);
      pos += count * kCellsPerByte;
      bool crcGood = false;
      if (count == sector.recordedSize && held >= count + kCrcBytes) {
        unsigned char recorded[kCrcBytes];
        DecodeBytes(bytes, pos, recorded, kCrcBytes);
        pos += kCrcBytes * kCellsPerByte;
        const std::uint16_t crc = CrcCcitt(MarkCrc(markByte, fm), data.data() + location, count);
        crcGood = crc == (static_cast<unsigned>(recorded[0]) << 8U | recorded[1]);
      }
      if (!crcGood) {
        sector.flags |= kDataCrcError;
      }
      if (!crcGood || (sector.flags & kIdCrcError) != 0) {
        // A field that does not read well may not be as long as its ID
        // says (a size code read wrongly, or one longer than what was
        // written): the fields it would cover are looked for all the
        // same. No sync or FM mark lies inside good data, so a sound
        // field is passed over whole.
        pos = dataStart;
      }
      sector.location = static_cast<std::int64_t>(location);
      sector.size = static_cast<std::uint32_t>(count);
      found.push_back({sector, idMark});
      if (sound != nullptr && crcGood && (sector.flags & kIdCrcError) == 0) {
        sound->push_back({idMark, pos});
      }
    }
    // Any other mark (an index mark, a data field with no ID) is passed over.
  }
  if (pending) {
    emitWithoutData();
  }
}

}  // namespace

std::uint16_t CrcCcitt(std::uint16_t crc, const unsigned char* bytes, std::size_t length) {
  const auto& t = kCrcTables;
  std::size_t i = 0;
  // Eight bytes at a time: the register only meets the first two of them.
  for (; length - i >= kCrcSlice; i += kCrcSlice) {
    const unsigned char* p = bytes + i;
    crc = static_cast<std::uint16_t>(t[7][(crc >> 8U ^ p[0]) & 0xFFU] ^ t[6][(crc ^ p[1]) & 0xFFU] ^
                                     t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^
                                     t[1][p[6]] ^ t[0][p[7]]);
  }
  for (; i < length; ++i) {
    crc = static_cast<std::uint16_t>(crc << 8U ^ t[0][(crc >> 8U ^ bytes[i]) & 0xFFU]);
  }
  return crc;
}

std::vector<Sector> DecodeMfmTrack(const std::vector<unsigned char>& cells, std::size_t cellCount,
                                   std::vector<unsigned char>& data,
                                   std::vector<std::size_t>* idCells) {
  const std::size_t usable =
      cells.size() < kMfmCellPadding ? 0 : (cells.size() - kMfmCellPadding) * 8;
  const std::size_t end = std::min(cellCount, usable);
  const unsigned char* bytes = cells.data();

  thread_local std::vector<Found> found;
  found.clear();
  thread_local std::vector<Span> sound;
  sound.clear();
  DecodeFields(bytes, end, false, data, found, &sound);
  // FM comes as FM cells (a track read at its own rate) or, read at the
  // MFM rate, with each FM cell two cells long, at either phase.
  const FmReadings fm = ScanForFm(bytes, end, sound);
  if (fm.Any()) {
    const std::size_t mfmFound = found.size();
    if (fm.asIs) {
      DecodeFields(bytes, end, true, data, found);
    }
    thread_local std::vector<unsigned char> halved;
    for (unsigned phase = 0; phase < 2; ++phase) {
      if (!fm.everyOther[phase]) {
        continue;
      }
      const std::size_t first = found.size();
      const std::size_t count = TakeEveryOther(bytes, end, phase, halved);
      DecodeFields(halved.data(), count, true, data, found);
      for (std::size_t i = first; i < found.size(); ++i) {
        found[i].mark = 2 * found[i].mark + phase;
      }
    }
    if (found.size() > mfmFound) {
      // The sectors in the order they lie, whatever their density.
      std::stable_sort(found.begin(), found.end(),
                       [](const Found& a, const Found& b) { return a.mark < b.mark; });
    }
  }

  std::vector<Sector> sectors;
  sectors.reserve(found.size());
  if (idCells != nullptr) {
    idCells->clear();
  }
  for (const Found& entry : found) {
    sectors.push_back(entry.sector);
    if (idCells != nullptr) {
      idCells->push_back(entry.mark);
    }
  }
  return sectors;
}

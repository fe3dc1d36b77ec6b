// Writers of the bitstream images whose tracks are the HFE writer's MFM
// cells (testkit/flux_writers.h TrackCells), one revolution of a 2HD drive
// (500 kbit/s, 360 rpm) each:
//
// HxC MFM: the header, the track list, each track's cell bytes as they are.
// MFI: each track's flux changes as positions within the turn, in the
// current form (deltas, a type of 0 for each change) or the old one
// (stretches magnetised one way, then the other); the words packed with
// zlib (as stored blocks in a build without it). A track the disk
// lacks is written unformatted (sizes 0).
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#ifdef ZEFACUT_HAVE_ZLIB
#include <zlib.h>
#endif

#include "testkit/flux_writers.h"
#include "testkit/format_writers.h"

namespace {

constexpr unsigned kBitRate = 500;  // kbit/s
constexpr unsigned kRpm = 360;
// Cells in one turn: 2 per data bit.
constexpr std::size_t kTurnCells = std::size_t{kBitRate} * 1000 * 2 * 60 / kRpm;

void PutLe(Bytes& out, std::size_t at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i) & 0xFFU);
  }
}

void AppendLe(Bytes& out, std::uint32_t value, int bytes) {
  out.resize(out.size() + static_cast<std::size_t>(bytes));
  PutLe(out, out.size() - static_cast<std::size_t>(bytes), value, bytes);
}

// The cylinders and sides a writer gives the disk: up to its last track.
void Extent(const DiskSpec& disk, int& cylinders, int& sides) {
  const int lastTrack = disk.tracks.empty() ? 0 : disk.tracks.rbegin()->first;
  cylinders = lastTrack / 2 + 1;
  const bool secondSide = std::any_of(disk.tracks.begin(), disk.tracks.end(),
                                      [](const auto& entry) { return entry.first % 2 == 1; });
  sides = secondSide ? 2 : 1;
}

// One turn of the track's cells (none for a track the disk lacks).
Bytes TurnCells(const DiskSpec& disk, int index) {
  const auto found = disk.tracks.find(index);
  if (found == disk.tracks.end()) {
    return {};
  }
  Bytes cells = TrackCells(&found->second);
  cells.resize(std::min(cells.size(), kTurnCells / 8));
  return cells;
}

// zlib's framing around stored deflate blocks: no compression, a valid
// stream all the same, for a build without zlib.
Bytes ZlibStored(const Bytes& plain) {
  constexpr std::size_t kMaxStored = 0xFFFF;
  constexpr std::uint32_t kAdlerBase = 65521;
  Bytes out = {0x78, 0x01};
  std::size_t at = 0;
  do {
    const std::size_t length = std::min(kMaxStored, plain.size() - at);
    const bool last = at + length == plain.size();
    out.push_back(last ? 1 : 0);
    AppendLe(out, static_cast<std::uint32_t>(length), 2);
    AppendLe(out, static_cast<std::uint32_t>(~length & 0xFFFFU), 2);
    out.insert(out.end(), plain.begin() + static_cast<std::ptrdiff_t>(at),
               plain.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  } while (at < plain.size());
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (const std::uint8_t byte : plain) {
    a = (a + byte) % kAdlerBase;
    b = (b + a) % kAdlerBase;
  }
  const std::uint32_t adler = b << 16U | a;
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(adler >> shift & 0xFFU));
  }
  return out;
}

Bytes Zlib(const Bytes& plain) {
#ifdef ZEFACUT_HAVE_ZLIB
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, plain.data(), static_cast<uLong>(plain.size()), 1) == Z_OK) {
    out.resize(size);
    return out;
  }
#endif
  return ZlibStored(plain);
}

}  // namespace

Bytes BuildHxcMfm(const DiskSpec& disk) {
  int cylinders = 0;
  int sides = 0;
  Extent(disk, cylinders, sides);
  constexpr std::size_t kHeaderSize = 19;
  constexpr std::size_t kEntrySize = 11;
  Bytes out(kHeaderSize, 0);
  const std::string magic = "HXCMFM";
  std::copy(magic.begin(), magic.end(), out.begin());
  PutLe(out, 7, static_cast<std::uint32_t>(cylinders), 2);
  out[9] = static_cast<std::uint8_t>(sides);
  PutLe(out, 10, kRpm, 2);
  PutLe(out, 12, kBitRate, 2);
  out[14] = 1;  // IBM PC HD
  PutLe(out, 15, kHeaderSize, 4);
  const std::size_t entries = static_cast<std::size_t>(cylinders) * static_cast<std::size_t>(sides);
  out.resize(kHeaderSize + entries * kEntrySize, 0);
  for (int cylinder = 0; cylinder < cylinders; ++cylinder) {
    for (int side = 0; side < sides; ++side) {
      // A track the disk lacks holds a turn of gap all the same.
      const auto found = disk.tracks.find(2 * cylinder + side);
      const TrackSpec* track = found == disk.tracks.end() ? nullptr : &found->second;
      Bytes cells = TrackCells(track);
      cells.resize(std::min(cells.size(), kTurnCells / 8));
      const std::size_t entry =
          kHeaderSize + (static_cast<std::size_t>(cylinder * sides + side)) * kEntrySize;
      PutLe(out, entry, static_cast<std::uint32_t>(cylinder), 2);
      out[entry + 2] = static_cast<std::uint8_t>(side);
      PutLe(out, entry + 3, static_cast<std::uint32_t>(cells.size()), 4);
      PutLe(out, entry + 7, static_cast<std::uint32_t>(out.size()), 4);
      out.insert(out.end(), cells.begin(), cells.end());
    }
  }
  return out;
}

Bytes BuildMfi(const DiskSpec& disk, const MfiOptions& options) {
  constexpr std::uint32_t kUnitsPerTurn = 200000000;
  constexpr std::uint32_t kTypeShift = 28;
  constexpr std::size_t kHeaderSize = 32;
  constexpr std::size_t kEntrySize = 16;
  int cylinders = 0;
  int sides = 0;
  Extent(disk, cylinders, sides);
  const std::uint32_t steps = 1U << options.step;
  Bytes out(kHeaderSize, 0);
  const std::string magic = options.old ? "MESSFLOPPYIMAGE" : "MAMEFLOPPYIMAGE";
  std::copy(magic.begin(), magic.end(), out.begin());
  PutLe(out, 0x10, static_cast<std::uint32_t>(cylinders) | options.step << 30U, 4);
  PutLe(out, 0x14, static_cast<std::uint32_t>(sides), 4);
  const std::string form = "35  DSHD";
  std::copy(form.begin(), form.end(), out.begin() + 0x18);
  const std::size_t entries =
      static_cast<std::size_t>(cylinders) * steps * static_cast<std::size_t>(sides);
  out.resize(kHeaderSize + entries * kEntrySize, 0);
  std::uint32_t noise = 0x1234567U;
  for (int cylinder = 0; cylinder < cylinders; ++cylinder) {
    for (int side = 0; side < sides; ++side) {
      const Bytes cells = TurnCells(disk, 2 * cylinder + side);
      if (cells.empty()) {
        continue;
      }
      // Where the changes fall, each moved at random by up to `jitter` of a
      // cell.
      const double cellUnits = static_cast<double>(kUnitsPerTurn) / kTurnCells;
      std::vector<std::uint32_t> positions;
      for (std::size_t i = 0; i < cells.size() * 8; ++i) {
        if ((cells[i / 8] >> (7 - i % 8) & 1U) != 0) {
          noise = noise * 1103515245U + 12345U;
          const double shift =
              (static_cast<double>(noise >> 16U & 0x7FFFU) / 0x7FFF * 2 - 1) * options.jitter;
          positions.push_back(
              static_cast<std::uint32_t>((static_cast<double>(i) + 0.5 + shift) * cellUnits));
        }
      }
      Bytes words;
      if (!options.old) {
        std::uint32_t last = 0;
        for (const std::uint32_t at : positions) {
          AppendLe(words, at - last, 4);
          last = at;
        }
      } else {
        // Stretches one way, then the other, from the index to the turn's end.
        std::uint32_t last = 0;
        std::uint32_t way = 0;
        for (const std::uint32_t at : positions) {
          AppendLe(words, (at - last) | way << kTypeShift, 4);
          last = at;
          way ^= 1U;
        }
        AppendLe(words, (kUnitsPerTurn - last) | way << kTypeShift, 4);
      }
      const Bytes packed = Zlib(words);
      const std::size_t entry = kHeaderSize + (static_cast<std::size_t>(cylinder) * steps *
                                                   static_cast<std::size_t>(sides) +
                                               static_cast<std::size_t>(side)) *
                                                  kEntrySize;
      PutLe(out, entry, static_cast<std::uint32_t>(out.size()), 4);
      PutLe(out, entry + 4, static_cast<std::uint32_t>(packed.size()), 4);
      PutLe(out, entry + 8, static_cast<std::uint32_t>(words.size()), 4);
      out.insert(out.end(), packed.begin(), packed.end());
    }
  }
  return out;
}

namespace {

void AppendBe(Bytes& out, std::uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    out.push_back(static_cast<std::uint8_t>(value >> (8 * i) & 0xFFU));
  }
}

// A PCE chunk: name, size, data and the CRC over them (polynomial
// 0x1EDC6F41, preset 0, top bit first).
void AppendPceChunk(Bytes& out, const char* name, const Bytes& data) {
  const std::size_t start = out.size();
  out.insert(out.end(), name, name + 4);
  AppendBe(out, static_cast<std::uint32_t>(data.size()), 4);
  out.insert(out.end(), data.begin(), data.end());
  std::uint32_t crc = 0;
  for (std::size_t i = start; i < out.size(); ++i) {
    crc ^= static_cast<std::uint32_t>(out[i]) << 24U;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000U) != 0 ? (crc << 1U) ^ 0x1EDC6F41U : crc << 1U;
    }
  }
  AppendBe(out, crc, 4);
}

}  // namespace

// PSI: the "PSI " chunk (MFM at HD), then per sector a SECT chunk (filled
// when its data is one byte repeated), an IBMM chunk when its ID is not
// the track's or its status says more than a data CRC error, and a DATA
// chunk unless filled; "END " last.
Bytes BuildPsi(const DiskSpec& disk) {
  constexpr std::uint8_t kStatusIdCrc = 0xA0;
  constexpr std::uint8_t kStatusDataCrc = 0xB0;
  constexpr std::uint8_t kStatusNoDataMark = 0xF0;
  constexpr std::uint8_t kDeleted = 0x10;
  Bytes out;
  AppendPceChunk(out, "PSI ", {0, 0, 0x02, 0x01});
  for (const auto& [index, track] : disk.tracks) {
    const auto cylinder = static_cast<std::uint8_t>(index / 2);
    const auto head = static_cast<std::uint8_t>(index % 2);
    for (const SectorSpec& sector : track.sectors) {
      const Bytes& data = sector.data;
      const bool filled =
          !data.empty() && std::all_of(data.begin(), data.end(),
                                       [&data](std::uint8_t byte) { return byte == data[0]; });
      const bool deleted = sector.deletedMark == kDeleted || sector.status == kDeleted;
      Bytes sect;
      AppendBe(sect, cylinder, 2);
      sect.push_back(head);
      sect.push_back(sector.r);
      AppendBe(sect, static_cast<std::uint32_t>(data.size()), 2);
      sect.push_back(static_cast<std::uint8_t>((filled ? 0x01 : 0) |
                                               (sector.status == kStatusDataCrc ? 0x04 : 0)));
      sect.push_back(filled ? data[0] : 0);
      AppendPceChunk(out, "SECT", sect);
      if (sector.c != cylinder || sector.h != head || deleted || sector.status == kStatusIdCrc ||
          sector.status == kStatusNoDataMark || sector.n > 8 ||
          data.size() != std::size_t{128} << sector.n) {
        const auto flags = static_cast<std::uint8_t>(
            (sector.status == kStatusIdCrc ? 0x01 : 0) |
            (sector.status == kStatusDataCrc ? 0x02 : 0) | (deleted ? 0x04 : 0) |
            (sector.status == kStatusNoDataMark ? 0x08 : 0));
        AppendPceChunk(out, "IBMM", {sector.c, sector.h, sector.r, sector.n, flags, 1});
      }
      if (!filled && !data.empty()) {
        AppendPceChunk(out, "DATA", data);
      }
    }
  }
  AppendPceChunk(out, "END ", {});
  return out;
}

// 86F: version 2.12, two sides, each track's whole cell count given; a
// track list of 512 entries; the cells stored from `indexCell` on, so that
// the index lies there.
Bytes Build86f(const DiskSpec& disk, std::uint32_t indexCell) {
  constexpr std::size_t kListEntries = 512;
  constexpr std::size_t kFirstTrack = 8 + 4 * kListEntries;
  constexpr std::uint32_t kFlags = 0x1088;       // whole counts, count fields, two sides
  constexpr std::uint32_t kTrackFlags = 0x0008;  // MFM at 500 kbit/s
  int cylinders = 0;
  int sides = 0;
  Extent(disk, cylinders, sides);
  Bytes out(kFirstTrack, 0);
  const std::string magic = "86BF";
  std::copy(magic.begin(), magic.end(), out.begin());
  out[4] = 12;
  out[5] = 2;
  PutLe(out, 6, kFlags, 2);
  PutLe(out, 8, static_cast<std::uint32_t>(kFirstTrack), 4);
  for (int cylinder = 0; cylinder < cylinders; ++cylinder) {
    for (int side = 0; side < 2; ++side) {
      const auto found = disk.tracks.find(2 * cylinder + side);
      Bytes cells = TrackCells(found == disk.tracks.end() ? nullptr : &found->second);
      cells.resize(std::min(cells.size(), kTurnCells / 8));
      const std::size_t count = cells.size() * 8;
      Bytes stored(cells.size(), 0);
      for (std::size_t k = 0; k < count; ++k) {
        if ((cells[k / 8] >> (7 - k % 8) & 1U) != 0) {
          const std::size_t at = (k + indexCell) % count;
          stored[at / 8] = static_cast<std::uint8_t>(stored[at / 8] | 0x80U >> (at % 8));
        }
      }
      PutLe(out, 8 + 4 * static_cast<std::size_t>(2 * cylinder + side),
            static_cast<std::uint32_t>(out.size()), 4);
      AppendLe(out, kTrackFlags, 2);
      AppendLe(out, static_cast<std::uint32_t>(count), 4);
      AppendLe(out, count == 0 ? 0 : indexCell % static_cast<std::uint32_t>(count), 4);
      out.insert(out.end(), stored.begin(), stored.end());
    }
  }
  return out;
}

// PRI: the "PRI " chunk, then per track a TRAK chunk (cylinder, head, cell
// count, 1 MHz cells) and a DATA chunk of its cells; "END " last.
Bytes BuildPri(const DiskSpec& disk) {
  constexpr std::uint32_t kCellRate = 1000000;
  Bytes out;
  AppendPceChunk(out, "PRI ", {0, 0, 0, 0});
  for (const auto& [index, track] : disk.tracks) {
    Bytes cells = TrackCells(&track);
    cells.resize(std::min(cells.size(), kTurnCells / 8));
    Bytes trak;
    AppendBe(trak, static_cast<std::uint32_t>(index / 2), 4);
    AppendBe(trak, static_cast<std::uint32_t>(index % 2), 4);
    AppendBe(trak, static_cast<std::uint32_t>(cells.size() * 8), 4);
    AppendBe(trak, kCellRate, 4);
    AppendPceChunk(out, "TRAK", trak);
    AppendPceChunk(out, "DATA", cells);
  }
  AppendPceChunk(out, "END ", {});
  return out;
}

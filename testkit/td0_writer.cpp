// Writer of Teledisk images, normal and compressed (LZHUF, as Teledisk 2.x
// compresses), for the reader's tests and the fuzz seeds.
//
// One track record per track of the disk (FM when every sector of the track
// is), its sectors in order with their IDs and data cut or padded to
// 128 << N bytes. Status 0xF0 (no data mark) gives flag 0x20 and no data;
// status 0xE0 (no address mark) gives 0x40, the data kept; deleted marks
// give 0x04 and status 0xB0 gives 0x02; an ID CRC error cannot be recorded.
// Every CRC is written as Teledisk writes it.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "testkit/format_writers.h"

namespace {

constexpr std::uint8_t kDeletedMark = 0x10;
constexpr std::uint8_t kStatusDeleted = 0x10;
constexpr std::uint8_t kStatusDataCrc = 0xB0;
constexpr std::uint8_t kStatusNoAddressMark = 0xE0;
constexpr std::uint8_t kStatusNoDataMark = 0xF0;

std::uint16_t Td0Crc(std::uint16_t crc, const std::uint8_t* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ bytes[i] << 8U);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint16_t>((crc & 0x8000U) != 0 ? crc << 1U ^ 0xA097U : crc << 1U);
    }
  }
  return crc;
}

std::uint16_t Td0Crc(const Bytes& bytes) { return Td0Crc(0, bytes.data(), bytes.size()); }

void PutLe16At(Bytes& out, std::size_t at, unsigned value) {
  out[at] = static_cast<std::uint8_t>(value & 0xFFU);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8U & 0xFFU);
}

void AppendLe16(Bytes& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFFU));
  out.push_back(static_cast<std::uint8_t>(value >> 8U & 0xFFU));
}

// Whether the bytes are one 2-byte pattern throughout.
bool OnePattern(const Bytes& data) {
  if (data.size() < 2 || data.size() % 2 != 0) {
    return false;
  }
  for (std::size_t i = 2; i < data.size(); ++i) {
    if (data[i] != data[i - 2]) {
      return false;
    }
  }
  return true;
}

// Fragments of encoding 2 as Teledisk packs them: runs of 4 or more of one
// 2-byte unit repeated (power 1), the rest as literal fragments.
Bytes RunFragments(const Bytes& data) {
  Bytes out;
  Bytes literal;
  const auto flush = [&]() {
    for (std::size_t at = 0; at < literal.size(); at += 255) {
      const std::size_t length = std::min<std::size_t>(255, literal.size() - at);
      out.push_back(0);
      out.push_back(static_cast<std::uint8_t>(length));
      out.insert(out.end(), literal.begin() + static_cast<std::ptrdiff_t>(at),
                 literal.begin() + static_cast<std::ptrdiff_t>(at + length));
    }
    literal.clear();
  };
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t units = 1;
    while (at + 2 * units + 1 < data.size() && units < 255 && data[at + 2 * units] == data[at] &&
           data[at + 2 * units + 1] == data[at + 1]) {
      ++units;
    }
    if (at + 1 < data.size() && units >= 4) {
      flush();
      out.insert(out.end(), {1, static_cast<std::uint8_t>(units), data[at], data[at + 1]});
      at += 2 * units;
    } else {
      literal.push_back(data[at]);
      ++at;
    }
  }
  flush();
  return out;
}

Bytes DataBlock(const Bytes& data, Td0Encoding encoding) {
  if (encoding == Td0Encoding::kChoose) {
    encoding = OnePattern(data)                          ? Td0Encoding::kPattern
               : RunFragments(data).size() < data.size() ? Td0Encoding::kRun
                                                         : Td0Encoding::kRaw;
  }
  Bytes block;
  switch (encoding) {
    case Td0Encoding::kPattern:
      block = {1};
      AppendLe16(block, static_cast<unsigned>(data.size() / 2));
      block.insert(block.end(), data.begin(), data.begin() + 2);
      break;
    case Td0Encoding::kRun: {
      block = {2};
      const Bytes fragments = RunFragments(data);
      block.insert(block.end(), fragments.begin(), fragments.end());
      break;
    }
    default:
      block = {0};
      block.insert(block.end(), data.begin(), data.end());
      break;
  }
  return block;
}

// --- LZHUF

constexpr std::size_t kRing = 4096;
constexpr std::size_t kLookahead = 60;
constexpr std::size_t kChars = 256 - 2 + kLookahead;
constexpr std::size_t kTable = kChars * 2 - 1;
constexpr std::size_t kRoot = kTable - 1;

class LzhufWriter {
 public:
  LzhufWriter() {
    for (std::size_t i = 0; i < kChars; ++i) {
      freq_[i] = 1;
      son_[i] = static_cast<int>(i + kTable);
      prnt_[i + kTable] = static_cast<int>(i);
    }
    for (std::size_t i = 0, j = kChars; j <= kRoot; i += 2, ++j) {
      freq_[j] = freq_[i] + freq_[i + 1];
      son_[j] = static_cast<int>(i);
      prnt_[i] = prnt_[i + 1] = static_cast<int>(j);
    }
    freq_[kTable] = 0xFFFF;
    prnt_[kRoot] = 0;
    // The code of each upper 6 bits of a distance, as the first byte whose
    // top bits carry it: 1 of 3 bits, 3 of 4, 8 of 5, 12 of 6, 24 of 7, 16 of 8.
    const unsigned counts[] = {1, 3, 8, 12, 24, 16};
    unsigned value = 0;
    unsigned first = 0;
    for (unsigned bits = 3; bits <= 8; ++bits) {
      for (unsigned i = 0; i < counts[bits - 3]; ++i, ++value) {
        position_code_[value] = static_cast<std::uint8_t>(first);
        position_bits_[value] = static_cast<std::uint8_t>(bits);
        first += 1U << (8 - bits);
      }
    }
  }

  Bytes Compress(const Bytes& plain) {
    std::vector<std::vector<std::size_t>> seen(1U << 16);
    const auto key = [&plain](std::size_t at) {
      return (plain[at] << 8U | plain[at + 1]) ^ (plain[at + 2] << 4U);
    };
    std::size_t at = 0;
    while (at < plain.size()) {
      std::size_t best = 0;
      std::size_t bestDistance = 0;
      if (at + 3 <= plain.size()) {
        const std::vector<std::size_t>& chain = seen[key(at) & 0xFFFFU];
        int tries = 0;
        for (auto it = chain.rbegin(); it != chain.rend() && tries < 32; ++it, ++tries) {
          const std::size_t distance = at - *it;
          if (distance > kRing - kLookahead) {
            break;
          }
          std::size_t length = 0;
          while (length < kLookahead && at + length < plain.size() &&
                 plain[at + length] == plain[*it + length]) {
            ++length;
          }
          if (length > best) {
            best = length;
            bestDistance = distance;
          }
        }
      }
      const std::size_t step = best >= 3 ? best : 1;
      if (best >= 3) {
        EncodeChar(static_cast<unsigned>(253 + best));
        EncodePosition(static_cast<unsigned>(bestDistance - 1));
      } else {
        EncodeChar(plain[at]);
      }
      for (std::size_t i = 0; i < step; ++i, ++at) {
        if (at + 3 <= plain.size()) {
          seen[key(at) & 0xFFFFU].push_back(at);
        }
      }
    }
    return out_;  // the last byte padded with zero bits
  }

  // `unit` over and over for `length` bytes: the unit as literals, then
  // matches one unit back.
  Bytes CompressRepeating(const Bytes& unit, std::size_t length) {
    for (std::size_t at = 0; at < length;) {
      const std::size_t left = std::min(kLookahead, length - at);
      if (at < unit.size() || left < 3) {
        EncodeChar(unit[at % unit.size()]);
        ++at;
      } else {
        EncodeChar(static_cast<unsigned>(253 + left));
        EncodePosition(static_cast<unsigned>(unit.size() - 1));
        at += left;
      }
    }
    return out_;
  }

 private:
  void PutBit(unsigned bit) {
    if (bits_ % 8 == 0) {
      out_.push_back(0);
    }
    if (bit != 0) {
      out_.back() = static_cast<std::uint8_t>(out_.back() | 0x80U >> (bits_ % 8));
    }
    ++bits_;
  }

  void EncodeChar(unsigned symbol) {
    std::vector<unsigned> path;
    for (int node = prnt_[symbol + kTable]; node != static_cast<int>(kRoot); node = prnt_[node]) {
      path.push_back(static_cast<unsigned>(node) & 1U);
    }
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
      PutBit(*it);
    }
    Update(symbol);
  }

  void EncodePosition(unsigned position) {
    const unsigned upper = position >> 6U;
    for (unsigned i = 0; i < position_bits_[upper]; ++i) {
      PutBit(position_code_[upper] >> (7 - i) & 1U);
    }
    for (int i = 5; i >= 0; --i) {
      PutBit(position >> static_cast<unsigned>(i) & 1U);
    }
  }

  void Rebuild() {
    std::size_t j = 0;
    for (std::size_t i = 0; i < kTable; ++i) {
      if (son_[i] >= static_cast<int>(kTable)) {
        freq_[j] = (freq_[i] + 1) / 2;
        son_[j] = son_[i];
        ++j;
      }
    }
    for (std::size_t i = 0, k = kChars; k < kTable; i += 2, ++k) {
      const unsigned f = freq_[i] + freq_[i + 1];
      std::size_t place = k;
      while (f < freq_[place - 1]) {
        --place;
      }
      for (std::size_t m = k; m > place; --m) {
        freq_[m] = freq_[m - 1];
        son_[m] = son_[m - 1];
      }
      freq_[place] = f;
      son_[place] = static_cast<int>(i);
    }
    for (std::size_t i = 0; i < kTable; ++i) {
      const int child = son_[i];
      prnt_[static_cast<std::size_t>(child)] = static_cast<int>(i);
      if (child < static_cast<int>(kTable)) {
        prnt_[static_cast<std::size_t>(child) + 1] = static_cast<int>(i);
      }
    }
  }

  void Update(unsigned symbol) {
    if (freq_[kRoot] == 0x8000) {
      Rebuild();
    }
    auto c = static_cast<std::size_t>(prnt_[symbol + kTable]);
    do {
      const unsigned k = ++freq_[c];
      std::size_t l = c + 1;
      if (k > freq_[l]) {
        while (k > freq_[l + 1]) {
          ++l;
        }
        freq_[c] = freq_[l];
        freq_[l] = k;
        const int i = son_[c];
        prnt_[static_cast<std::size_t>(i)] = static_cast<int>(l);
        if (i < static_cast<int>(kTable)) {
          prnt_[static_cast<std::size_t>(i) + 1] = static_cast<int>(l);
        }
        const int j = son_[l];
        son_[l] = i;
        prnt_[static_cast<std::size_t>(j)] = static_cast<int>(c);
        if (j < static_cast<int>(kTable)) {
          prnt_[static_cast<std::size_t>(j) + 1] = static_cast<int>(c);
        }
        son_[c] = j;
        c = l;
      }
      c = static_cast<std::size_t>(prnt_[c]);
    } while (c != 0);
  }

  std::array<unsigned, kTable + 1> freq_{};
  std::array<int, kTable + kChars> prnt_{};
  std::array<int, kTable> son_{};
  std::array<std::uint8_t, 64> position_code_{};
  std::array<std::uint8_t, 64> position_bits_{};
  Bytes out_;
  std::size_t bits_ = 0;
};

}  // namespace

Bytes Lzhuf(const Bytes& plain) { return LzhufWriter().Compress(plain); }

Bytes LzhufRepeating(const Bytes& unit, std::size_t length) {
  return LzhufWriter().CompressRepeating(unit, length);
}

std::uint8_t Td0SectorCrc(const Bytes& data) {
  return static_cast<std::uint8_t>(Td0Crc(data) & 0xFFU);
}

Bytes Td0Header(bool compressed, bool comment) {
  Bytes header = {static_cast<std::uint8_t>(compressed ? 't' : 'T'),
                  static_cast<std::uint8_t>(compressed ? 'd' : 'D'),
                  0,
                  0,
                  21,
                  2,
                  3,
                  static_cast<std::uint8_t>(comment ? 0x80 : 0),
                  0,
                  2};
  AppendLe16(header, Td0Crc(header));
  return header;
}

void SetTd0HeaderCrc(Bytes& image) { PutLe16At(image, 10, Td0Crc(0, image.data(), 10)); }

Bytes Td0Track(std::uint8_t count, std::uint8_t cylinder, std::uint8_t head) {
  Bytes track = {count, cylinder, head};
  track.push_back(static_cast<std::uint8_t>(Td0Crc(track) & 0xFFU));
  return track;
}

Bytes Td0Sector(const SectorSpec& sector, Td0Encoding encoding) {
  Bytes data = sector.data;
  data.resize(std::size_t{128} << std::min<int>(sector.n, 7));
  const bool noData = sector.status == kStatusNoDataMark;
  const bool deleted = sector.deletedMark == kDeletedMark || sector.status == kStatusDeleted;
  const std::uint8_t flags = static_cast<std::uint8_t>(
      (sector.status == kStatusDataCrc ? 0x02 : 0) | (deleted ? 0x04 : 0) | (noData ? 0x20 : 0) |
      (sector.status == kStatusNoAddressMark ? 0x40 : 0));
  Bytes out = {sector.c, sector.h, sector.r, sector.n, flags};
  if (noData || sector.n >= 8) {
    out.push_back(static_cast<std::uint8_t>(Td0Crc(out) & 0xFFU));
    return out;
  }
  out.push_back(Td0SectorCrc(data));
  const Bytes block = DataBlock(data, encoding);
  AppendLe16(out, static_cast<unsigned>(block.size()));
  out.insert(out.end(), block.begin(), block.end());
  return out;
}

Bytes BuildTd0(const DiskSpec& disk, const Td0Options& options) {
  Bytes body;
  if (!options.comment.empty()) {
    Bytes block = {0, 0, 0, 0, 126, 0, 1, 12, 0, 0};  // 1 January 2026, noon
    block.insert(block.end(), options.comment.begin(), options.comment.end());
    block.push_back(0);
    PutLe16At(block, 2, static_cast<unsigned>(block.size() - 10));
    PutLe16At(block, 0, Td0Crc(0, block.data() + 2, block.size() - 2));
    body = block;
  }
  for (const auto& [index, track] : disk.tracks) {
    const bool fm =
        !track.sectors.empty() &&
        std::all_of(track.sectors.begin(), track.sectors.end(),
                    [](const SectorSpec& sector) { return sector.density == kFmDensity; });
    const Bytes header = Td0Track(static_cast<std::uint8_t>(track.sectors.size()),
                                  static_cast<std::uint8_t>(index / 2),
                                  static_cast<std::uint8_t>((index % 2) | (fm ? 0x80 : 0)));
    body.insert(body.end(), header.begin(), header.end());
    for (const SectorSpec& sector : track.sectors) {
      const Bytes bytes = Td0Sector(sector, options.encoding);
      body.insert(body.end(), bytes.begin(), bytes.end());
    }
  }
  // The end record is a whole track header, as Teledisk writes it.
  const Bytes end = Td0Track(0xFF, 0, 0);
  body.insert(body.end(), end.begin(), end.end());
  Bytes out = Td0Header(options.compressed, !options.comment.empty());
  if (options.compressed) {
    const Bytes packed = Lzhuf(body);
    out.insert(out.end(), packed.begin(), packed.end());
  } else {
    out.insert(out.end(), body.begin(), body.end());
  }
  return out;
}

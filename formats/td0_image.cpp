// Reader for Teledisk images.
//
//   header (12 bytes, never compressed):
//     0  "TD" (normal) or "td" (advanced compression)
//     2  volume sequence (0 for the first volume), 3 check byte
//     4  version, in tenths (21 = 2.1)
//     5  data rate: bits 0-1 250, 300, 500 kbit/s; bit 7 the disk is FM
//     6  drive type, 7 stepping (bit 7: a comment block follows)
//     8  DOS allocation flag (sectors DOS did not use were skipped)
//     9  sides (1 = one, anything else two)
//    10  CRC of bytes 0-9, little-endian
//   With "td" everything after the header is one stream of LZSS with
//   adaptive Huffman coding (LZHUF: a 4096-byte ring buffer first filled
//   with spaces, matches of 3 to 60 bytes, the upper 6 bits of a match's
//   distance coded from fixed tables); "td" below version 2.0 is the older
//   LZW scheme, which is not read. The stream (or the file) goes on:
//   comment block (stepping bit 7):
//     CRC (2, over the rest of the block), text length (2), date and time
//     (6: year - 1900, month from 0, day, hour, minute, second), then the
//     text: lines each ended by a NUL
//   per track: sectors (1; 0xFF ends the track list), cylinder (1), head
//     (1: bit 0 the side, bit 7 the track is FM), CRC (1: the low byte of
//     the CRC of the three bytes before it)
//   and per sector: C, H, R, N, flags, CRC (the low byte of the CRC of the
//     sector's expanded data), where the flags are
//       0x01 the sector is a second one with an ID seen before
//       0x02 the data was read with a CRC error
//       0x04 the data has a deleted-data mark
//       0x10 the data was skipped, DOS did not use the sector
//       0x20 the ID had no data field
//       0x40 data without an ID field: Teledisk made the ID up
//     then, but for 0x10 or 0x20 or N from 8 on, a data block: its size (2,
//     the encoding byte included), the encoding, and the data:
//       0 the 128 << N bytes as they are
//       1 entries of a count (2) and two bytes repeated count times
//       2 fragments: 0 and a length, then that many bytes as they are; or a
//         power p from 1 and a count, then 2^p bytes repeated count times
//   Every CRC is the 16-bit one of polynomial 0xA097 from 0, high bit first.
//
// Track index = 2 x cylinder + head, from the track header. The flags give
// kDataCrcError (0x02: the disk read badly when it was dumped),
// kDeletedData (0x04), kNoDataMark (0x20) and kNoAddressMark (0x40, the
// data kept); a sector skipped by DOS allocation is there with no data and
// no flag, and a second sector with an ID is one more sector after the
// first. A data block that does not expand to exactly 128 << N bytes, or
// whose expansion fails the sector's CRC byte, marks its sector
// kImageCheckFails: the file is damaged, and the bytes it gives may not be
// the disk's; what expanded inside the sector is kept and nothing is
// written past it.
//
// A header that is cut short or fails its CRC, and a comment that does, make
// the file unreadable. A track header whose CRC fails but that names a
// track a disk can have is taken as it is, and told (ImageInfo::faults);
// the walk over the tracks stops at the end record (a whole track header),
// at the end of the file (or of the compressed stream), at a track header
// that fails its CRC and names no track, or at a data block larger than any
// encoding of its sector; the tracks before are kept (a file in which none
// came first is an error), and a track the file ends inside keeps the
// sectors before the cut, the one cut clipped, and says it is cut short, as
// IMD images do. Damaged compressed data decodes to records that make no
// sense (a sector that fails its check, a block too large, a track header
// that fails its CRC) and then runs on to the end of the stream: a walk
// stopped so is told as damage from about where the first such record was
// decoded, not as a file cut short, and the sectors decoded after it are
// dropped. A track recorded a second time, or past the model's tracks, is
// walked over, not kept, and told. A normal image reports the bytes after
// where the walk stopped (after the end record, or from the record it could
// not take); a compressed one cannot say which of its bytes those are.
// A compressed stream is decoded as far as the walk reads, and no further
// than kMaxImageBytes; the sectors' expanded data is held in memory up to
// the same size. A file that needs more is an error: no floppy disk does.
//
// DiskInfo::name holds the comment's text, its lines joined by line feeds;
// the claimed geometry has the header's sides. A track's location is where
// its header lies in the file, or, for a compressed image, where it would
// lie were the stream stored as it is.
#include "formats/td0_image.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "disk/le_fields.h"
#include "formats/sector_image.h"

namespace {

constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kHeaderCrcAt = 10;
constexpr std::size_t kCommentHeaderSize = 10;
constexpr unsigned kFirstVersion = 10;
constexpr unsigned kLastVersion = 21;
constexpr unsigned kFirstLzhufVersion = 20;
constexpr unsigned kFmDisk = 0x80;
constexpr unsigned kCommentFollows = 0x80;
constexpr std::size_t kTrackHeaderSize = 4;
constexpr unsigned kTrackListEnd = 0xFF;
constexpr unsigned kSideMask = 0x01;
constexpr unsigned kFmTrack = 0x80;
constexpr std::size_t kSectorHeaderSize = 6;
constexpr unsigned kNoDataSizeCode = 8;  // N from here on has no data block
constexpr std::uint32_t kBaseSectorSize = 128;
constexpr int kMaxHeads = 2;
// A track header whose CRC fails is still taken when it names a cylinder
// below this and no bits but the side and FM ones.
constexpr unsigned kMaxPlausibleCylinders = 100;
// The most bytes of a data block per byte of its sector: a run-length
// fragment of one literal byte takes three.
constexpr std::size_t kMaxBlockPerByte = 3;

// Sector flags of the image.
constexpr unsigned kTdCrcError = 0x02;
constexpr unsigned kTdDeleted = 0x04;
constexpr unsigned kTdSkipped = 0x10;
constexpr unsigned kTdNoData = 0x20;
constexpr unsigned kTdNoId = 0x40;

// Data block encodings.
constexpr unsigned kRawBlock = 0;
constexpr unsigned kPatternBlock = 1;
constexpr unsigned kRunBlock = 2;

constexpr std::uint16_t kCrcPolynomial = 0xA097;

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    unsigned crc = byte << 8U;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000U) != 0 ? (crc << 1U) ^ kCrcPolynomial : crc << 1U;
    }
    table[byte] = static_cast<std::uint16_t>(crc & 0xFFFFU);
  }
  return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();

std::uint16_t Crc(std::uint16_t crc, const unsigned char* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    crc = static_cast<std::uint16_t>(crc << 8U ^ kCrcTable[(crc >> 8U ^ bytes[i]) & 0xFFU]);
  }
  return crc;
}

// --- LZHUF, the advanced compression of Teledisk 2.x

constexpr std::size_t kRingSize = 4096;
constexpr std::size_t kLookahead = 60;
constexpr unsigned kThreshold = 2;
constexpr std::size_t kCharCount = 256 - kThreshold + kLookahead;  // literals, then lengths
constexpr std::size_t kTableSize = kCharCount * 2 - 1;             // nodes of the tree
constexpr std::size_t kRoot = kTableSize - 1;
constexpr unsigned kMaxFrequency = 0x8000;

// How the upper 6 bits of a match's distance are coded: the code of value u
// is the first byte `code` whose table entry is u, in its top `length` bits
// (3 to 8); the lower 6 bits follow as they are. Codes are given in order:
// 1 value of 3 bits, 3 of 4, 8 of 5, 12 of 6, 24 of 7, 16 of 8.
struct PositionTables {
  std::array<std::uint8_t, 256> upper{};
  std::array<std::uint8_t, 256> length{};
};

constexpr PositionTables MakePositionTables() {
  PositionTables tables;
  constexpr unsigned kCodes[] = {1, 3, 8, 12, 24, 16};  // values with codes of 3, 4, ... 8 bits
  unsigned value = 0;
  unsigned at = 0;
  for (unsigned bits = 3; bits <= 8; ++bits) {
    for (unsigned i = 0; i < kCodes[bits - 3]; ++i, ++value) {
      for (unsigned entry = 0; entry < (1U << (8 - bits)); ++entry, ++at) {
        tables.upper[at] = static_cast<std::uint8_t>(value);
        tables.length[at] = static_cast<std::uint8_t>(bits);
      }
    }
  }
  return tables;
}

constexpr PositionTables kPositionTables = MakePositionTables();
static_assert(kPositionTables.upper[255] == 63 && kPositionTables.length[255] == 8,
              "the position codes fill the byte exactly");

// Decodes the stream that follows the header of a compressed image, as far
// as it is asked to, from the bits the file holds (none made up past its
// end).
class Lzhuf {
 public:
  Lzhuf(const unsigned char* input, std::size_t length) : input_(input), length_(length) {
    ring_.fill(' ');
    for (std::size_t i = 0; i < kCharCount; ++i) {
      frequency_[i] = 1;
      child_[i] = static_cast<std::int16_t>(i + kTableSize);
      parent_[i + kTableSize] = static_cast<std::int16_t>(i);
    }
    for (std::size_t i = 0, j = kCharCount; j <= kRoot; i += 2, ++j) {
      frequency_[j] = static_cast<std::uint16_t>(frequency_[i] + frequency_[i + 1]);
      child_[j] = static_cast<std::int16_t>(i);
      parent_[i] = parent_[i + 1] = static_cast<std::int16_t>(j);
    }
    frequency_[kTableSize] = 0xFFFF;  // stops the search for a place in Update
    parent_[kRoot] = 0;
  }

  // Appends decoded bytes to `out` until it holds `want` bytes or the input
  // ends; false when it ends first.
  bool Fill(std::vector<unsigned char>& out, std::size_t want) {
    std::size_t at = out.size();
    out.resize(want);
    bool more = true;
    while (at < want) {
      if (copy_left_ > 0) {
        const std::size_t count = std::min(copy_left_, out.size() - at);
        unsigned char* dest = out.data() + at;
        unsigned char* ring = ring_.data();
        for (std::size_t i = 0; i < count; ++i) {
          const unsigned char byte = ring[copy_from_];
          copy_from_ = (copy_from_ + 1) % kRingSize;
          dest[i] = byte;
          ring[ring_at_] = byte;
          ring_at_ = (ring_at_ + 1) % kRingSize;
        }
        at += count;
        copy_left_ -= count;
        continue;
      }
      if (at >= next_mark_) {
        marks_.push_back({at, bit_at_ / 8});
        next_mark_ = at + kMarkEvery;
      }
      const int symbol = DecodeSymbol();
      if (symbol < 0) {
        more = false;
        break;
      }
      if (symbol < 256) {
        out[at++] = static_cast<unsigned char>(symbol);
        ring_[ring_at_] = static_cast<unsigned char>(symbol);
        ring_at_ = (ring_at_ + 1) % kRingSize;
        continue;
      }
      const int distance = DecodeDistance();
      if (distance < 0) {
        more = false;
        break;
      }
      copy_from_ = (ring_at_ + kRingSize - static_cast<std::size_t>(distance) - 1) % kRingSize;
      copy_left_ = static_cast<std::size_t>(symbol) - 255 + kThreshold;
    }
    out.resize(at);
    return more;
  }

  // The byte of the input at which the decoding of output byte `pos` began,
  // to within the few bytes of input between marks.
  std::size_t InputAt(std::size_t pos) const {
    const auto after =
        std::upper_bound(marks_.begin(), marks_.end(), pos,
                         [](std::size_t value, const Mark& mark) { return value < mark.output; });
    return after == marks_.begin() ? 0 : std::prev(after)->input;
  }

 private:
  // Where the decoding of an output byte began in the input, every
  // kMarkEvery output bytes, to tell where damaged input lies.
  struct Mark {
    std::size_t output;
    // cppcheck-suppress unusedStructMember ; read through the iterator below
    std::size_t input;
  };
  static constexpr std::size_t kMarkEvery = 16;

  int Bit() {
    if (bit_at_ >= length_ * 8) {
      return -1;
    }
    const int bit = (input_[bit_at_ / 8] >> (7 - bit_at_ % 8)) & 1;
    ++bit_at_;
    return bit;
  }

  int DecodeSymbol() {
    std::size_t node = static_cast<std::size_t>(child_[kRoot]);
    while (node < kTableSize) {
      const int bit = Bit();
      if (bit < 0) {
        return -1;
      }
      node = static_cast<std::size_t>(child_[node + static_cast<std::size_t>(bit)]);
    }
    const std::size_t symbol = node - kTableSize;
    Update(symbol);
    return static_cast<int>(symbol);
  }

  int DecodeDistance() {
    unsigned first = 0;
    for (int i = 0; i < 8; ++i) {
      const int bit = Bit();
      if (bit < 0) {
        return -1;
      }
      first = first << 1U | static_cast<unsigned>(bit);
    }
    unsigned low = first;
    for (unsigned i = 2; i < kPositionTables.length[first]; ++i) {
      const int bit = Bit();
      if (bit < 0) {
        return -1;
      }
      low = low << 1U | static_cast<unsigned>(bit);
    }
    return static_cast<int>(static_cast<unsigned>(kPositionTables.upper[first]) << 6U |
                            (low & 0x3FU));
  }

  // Halves the frequencies and builds the tree again, when the root's
  // reaches the most it may.
  void Rebuild() {
    std::size_t leaves = 0;
    for (std::size_t i = 0; i < kTableSize; ++i) {
      if (static_cast<std::size_t>(child_[i]) >= kTableSize) {
        frequency_[leaves] = static_cast<std::uint16_t>((frequency_[i] + 1U) / 2U);
        child_[leaves] = child_[i];
        ++leaves;
      }
    }
    for (std::size_t i = 0, j = kCharCount; j < kTableSize; i += 2, ++j) {
      const auto sum = static_cast<std::uint16_t>(frequency_[i] + frequency_[i + 1]);
      std::size_t place = j;
      while (place > 0 && sum < frequency_[place - 1]) {
        --place;
      }
      std::copy_backward(frequency_.begin() + static_cast<std::ptrdiff_t>(place),
                         frequency_.begin() + static_cast<std::ptrdiff_t>(j),
                         frequency_.begin() + static_cast<std::ptrdiff_t>(j) + 1);
      std::copy_backward(child_.begin() + static_cast<std::ptrdiff_t>(place),
                         child_.begin() + static_cast<std::ptrdiff_t>(j),
                         child_.begin() + static_cast<std::ptrdiff_t>(j) + 1);
      frequency_[place] = sum;
      child_[place] = static_cast<std::int16_t>(i);
    }
    for (std::size_t i = 0; i < kTableSize; ++i) {
      const auto child = static_cast<std::size_t>(child_[i]);
      parent_[child] = static_cast<std::int16_t>(i);
      if (child < kTableSize) {
        parent_[child + 1] = static_cast<std::int16_t>(i);
      }
    }
  }

  // Counts one more of `symbol` and moves nodes to keep the frequencies in
  // order along the table.
  void Update(std::size_t symbol) {
    if (frequency_[kRoot] >= kMaxFrequency) {
      Rebuild();
    }
    auto node = static_cast<std::size_t>(parent_[symbol + kTableSize]);
    do {
      const std::uint16_t count = ++frequency_[node];
      std::size_t other = node + 1;
      if (count > frequency_[other]) {
        while (count > frequency_[other + 1]) {
          ++other;
        }
        frequency_[node] = frequency_[other];
        frequency_[other] = count;
        const auto moved = static_cast<std::size_t>(child_[node]);
        parent_[moved] = static_cast<std::int16_t>(other);
        if (moved < kTableSize) {
          parent_[moved + 1] = static_cast<std::int16_t>(other);
        }
        const auto displaced = static_cast<std::size_t>(child_[other]);
        child_[other] = static_cast<std::int16_t>(moved);
        parent_[displaced] = static_cast<std::int16_t>(node);
        if (displaced < kTableSize) {
          parent_[displaced + 1] = static_cast<std::int16_t>(node);
        }
        child_[node] = static_cast<std::int16_t>(displaced);
        node = other;
      }
      node = static_cast<std::size_t>(parent_[node]);
    } while (node != 0);
  }

  const unsigned char* input_;
  std::size_t length_;
  std::size_t bit_at_ = 0;
  std::array<unsigned char, kRingSize> ring_{};
  std::size_t ring_at_ = kRingSize - kLookahead;
  std::size_t copy_from_ = 0;
  std::size_t copy_left_ = 0;
  std::array<std::uint16_t, kTableSize + 1> frequency_{};
  std::array<std::int16_t, kTableSize + kCharCount> parent_{};
  std::array<std::int16_t, kTableSize> child_{};
  std::vector<Mark> marks_;
  std::size_t next_mark_ = 0;
};

// What follows the header: the file's bytes, or the compressed stream
// decoded as far as the walk reads, up to kMaxImageBytes.
class Body {
 public:
  Body(const std::vector<unsigned char>& file, bool compressed) {
    if (compressed) {
      lzhuf_.emplace(file.data() + kHeaderSize, file.size() - kHeaderSize);
    } else {
      bytes_.assign(file.begin() + static_cast<std::ptrdiff_t>(kHeaderSize), file.end());
    }
  }

  std::size_t Position() const { return pos_; }
  // Where the byte at `pos` of the body lies in the file; for a compressed
  // stream, where its decoding began.
  std::size_t FileOffset(std::size_t pos) const {
    return kHeaderSize + (lzhuf_ ? lzhuf_->InputAt(pos) : pos);
  }
  void Rewind(std::size_t pos) { pos_ = pos; }
  bool TooLarge() const { return too_large_; }

  // Up to `count` bytes from here on; `held` says how many there are. The
  // pointer stays good until the next Take.
  const unsigned char* TakeUpTo(std::size_t count, std::size_t& held) {
    Ensure(pos_ + count);
    held = std::min(count, bytes_.size() - pos_);
    const unsigned char* at = bytes_.data() + pos_;
    pos_ += held;
    return at;
  }
  // `count` bytes from here on, or null when the body ends first.
  const unsigned char* Take(std::size_t count) {
    std::size_t held = 0;
    const unsigned char* at = TakeUpTo(count, held);
    return held == count ? at : nullptr;
  }

  // The bytes from here to the end of a file read as it is.
  std::size_t Left() const { return bytes_.size() - pos_; }

 private:
  void Ensure(std::size_t end) {
    if (!lzhuf_ || bytes_.size() >= end || ended_) {
      return;
    }
    // Decoded a stretch ahead at a time, not a few bytes per record.
    constexpr std::size_t kStretch = std::size_t{64} * 1024;
    constexpr auto kLimit = static_cast<std::size_t>(kMaxImageBytes);
    end = std::min(std::max(end, bytes_.size() + kStretch), kLimit + 1);
    ended_ = !lzhuf_->Fill(bytes_, end);
    if (bytes_.size() > kLimit) {
      bytes_.resize(kLimit);
      too_large_ = true;
      ended_ = true;
    }
  }

  std::vector<unsigned char> bytes_;
  std::optional<Lzhuf> lzhuf_;
  std::size_t pos_ = 0;
  bool ended_ = false;
  bool too_large_ = false;
};

// --- Sector data

// How much of a sector a data block gave, and whether it gave the sector
// exactly.
struct Expansion {
  std::size_t held = 0;
  bool exact = false;
};

// Expands a data block into `out`, `room` bytes (the sector's size): never
// past it.
Expansion ExpandBlock(const unsigned char* block, std::size_t length, unsigned char* out,
                      std::size_t room) {
  Expansion result;
  if (length == 0) {
    return result;
  }
  const unsigned char* in = block + 1;
  std::size_t left = length - 1;
  std::size_t& held = result.held;
  bool fits = true;
  // Appends `count` copies of `unit` bytes, as much of them as there is
  // room for: the first copied, then what is written doubled.
  const auto repeat = [&](const unsigned char* unit, std::size_t unitSize, std::size_t count) {
    if (count == 0 || unitSize == 0) {
      return;
    }
    const std::size_t space = room - held;
    const std::size_t want = unitSize > space / count ? space + 1 : unitSize * count;
    const std::size_t total = std::min(want, space);
    std::size_t done = std::min(unitSize, total);
    std::memcpy(out + held, unit, done);
    while (done < total) {
      const std::size_t part = std::min(done, total - done);
      std::memcpy(out + held + done, out + held, part);
      done += part;
    }
    held += total;
    fits = want <= space;
  };
  switch (block[0]) {
    case kRawBlock:
      held = std::min(left, room);
      std::memcpy(out, in, held);
      result.exact = left == room;
      return result;
    case kPatternBlock:
      while (left >= 4 && held < room && fits) {
        repeat(in + 2, 2, LoadLe16(in));
        in += 4;
        left -= 4;
      }
      result.exact = fits && held == room && left == 0;
      return result;
    case kRunBlock:
      while (left > 0 && fits) {
        if (left < 2) {
          return result;
        }
        const unsigned kind = in[0];
        const std::size_t count = in[1];
        in += 2;
        left -= 2;
        // A literal fragment, or a unit of 2^kind bytes repeated.
        const std::size_t unitSize = kind == 0   ? count
                                     : kind < 16 ? std::size_t{1} << kind
                                                 : room + 1;
        const std::size_t repeats = kind == 0 ? 1 : count;
        if (unitSize > left) {
          repeat(in, std::min(left, room - held), 1);
          return result;
        }
        repeat(in, unitSize, repeats);
        in += unitSize;
        left -= unitSize;
      }
      result.exact = fits && held == room;
      return result;
    default:
      return result;
  }
}

// The comment's lines, joined by line feeds, without the NUL ending the
// last and without blank lines or spaces at its end.
std::string CommentText(const unsigned char* text, std::size_t length) {
  std::string comment(reinterpret_cast<const char*>(text), length);
  std::replace(comment.begin(), comment.end(), '\0', '\n');
  const std::string::size_type end = comment.find_last_not_of(" \n\r");
  comment.erase(end == std::string::npos ? 0 : end + 1);
  return comment;
}

Confidence Identify(const ImageProbe& probe) {
  if (probe.length < kHeaderSize) {
    return kNotThisFormat;
  }
  const unsigned char* head = probe.head;
  const bool signature = (head[0] == 'T' && head[1] == 'D') || (head[0] == 't' && head[1] == 'd');
  return signature && head[2] == 0 && head[4] >= kFirstVersion && head[4] <= kLastVersion
             ? kSignature
             : kNotThisFormat;
}

struct PlacedTrack {
  bool placed = false;
  std::vector<Sector> sectors;
  std::optional<TrackCutShort> cut;
};

LoadResult Load(std::unique_ptr<ByteSource> source) {
  LoadResult result;
  std::vector<unsigned char> file;
  if (!LoadWhole(*source, file, result)) {
    return result;
  }
  if (file.size() < kHeaderSize) {
    result.error = "the file ends inside its header";
    return result;
  }
  const unsigned char* header = file.data();
  if (Crc(0, header, kHeaderCrcAt) != LoadLe16(header + kHeaderCrcAt)) {
    result.error = "the header's CRC is wrong";
    return result;
  }
  const bool compressed = header[0] == 't';
  if (compressed && header[4] < kFirstLzhufVersion) {
    result.error = "the old LZW compression of Teledisk 1.x is not read";
    return result;
  }
  const bool fmDisk = (header[5] & kFmDisk) != 0;

  auto image = std::make_unique<SectorImage>("Teledisk", static_cast<std::int64_t>(file.size()));
  DiskInfo info;
  info.trackLocations.assign(DiskImage::kMaxTracks, 0);
  info.claimed.heads = header[9] == 1 ? 1 : 2;
  Body body(file, compressed);

  if ((header[7] & kCommentFollows) != 0) {
    std::array<unsigned char, kCommentHeaderSize> comment{};
    const unsigned char* at = body.Take(kCommentHeaderSize);
    if (at != nullptr) {
      std::memcpy(comment.data(), at, comment.size());
    }
    const unsigned char* text = at != nullptr ? body.Take(LoadLe16(comment.data() + 2)) : nullptr;
    if (text == nullptr) {
      result.error = body.TooLarge() ? "its compressed data expands past any floppy disk's size"
                                     : "the file ends inside the comment";
      return result;
    }
    const std::size_t length = LoadLe16(comment.data() + 2);
    const std::uint16_t crc = Crc(Crc(0, comment.data() + 2, comment.size() - 2), text, length);
    if (crc != LoadLe16(comment.data())) {
      result.error = "the comment's CRC is wrong";
      return result;
    }
    info.name = CommentText(text, length);
  }

  std::vector<unsigned char>& data = image->Data();
  std::array<PlacedTrack, DiskImage::kMaxTracks> tracks;
  std::size_t walked = 0;  // track headers read, kept or not
  bool reachedEnd = false;
  bool badTrackCrc = false;
  std::size_t stop = 0;   // where the walk stopped
  int highestTrack = -1;  // the highest track index the walk met
  // In a compressed image, where the first record since the last good
  // track header that made no sense was decoded: damaged compressed data
  // decodes to such records, then runs on to the end of the stream.
  // Where the decoded records first stopped making sense (hasNonsense), as
  // a plain pair: g++ 12 at -O3 takes an optional's value here for unset.
  bool hasNonsense = false;
  std::size_t nonsense = 0;
  std::string nonsenseWhat;
  // The sectors that fail their checks, and where the first was decoded:
  // damaged compressed data may still decode to records in their places.
  std::size_t checkFailures = 0;
  std::size_t firstFailure = 0;
  std::string firstFailureName;
  bool damageTold = false;
  const auto damaged = [&](std::size_t pos, const std::string& what) {
    damageTold = true;
    return "the compressed data does not decode to sense from about byte " +
           GroupedDigits(static_cast<std::int64_t>(body.FileOffset(pos))) + " of the file (" +
           what + "); nothing after it is read";
  };
  while (true) {
    const std::size_t trackStart = body.Position();
    std::size_t held = 0;
    const unsigned char* at = body.TakeUpTo(kTrackHeaderSize, held);
    if (held > 0 && at[0] == kTrackListEnd) {
      // The end record is a whole track header; its other bytes are its.
      reachedEnd = true;
      stop = trackStart + held;
      break;
    }
    if (held < kTrackHeaderSize) {
      stop = body.Position();
      break;
    }
    const std::size_t count = at[0];
    const unsigned cylinder = at[1];
    const unsigned headByte = at[2];
    const std::size_t index = kMaxHeads * cylinder + (headByte & kSideMask);
    if ((Crc(0, at, 3) & 0xFFU) != at[3]) {
      const std::string where =
          GroupedDigits(static_cast<std::int64_t>(body.FileOffset(trackStart)));
      // A header that names a track a disk can have is taken as it is, and
      // the walk goes on; one that names none ends it. Compressed data
      // damaged before the header decodes to no header at all.
      if (compressed || (headByte & ~(kSideMask | kFmTrack)) != 0 ||
          cylinder >= kMaxPlausibleCylinders) {
        badTrackCrc = true;
        stop = trackStart;
        if (walked > 0) {
          image->AddFault(compressed ? damaged(hasNonsense ? nonsense : trackStart,
                                               hasNonsense ? nonsenseWhat
                                                           : "a track header there fails its CRC")
                                     : "the track header at byte " + where +
                                           " fails its CRC and names no track; nothing after it "
                                           "is read");
        }
        break;
      }
      image->AddFault("the header of track " + std::to_string(index) + " at byte " + where +
                      " fails its CRC; its sectors were read as it gives them");
    } else {
      hasNonsense = false;
    }
    ++walked;
    highestTrack = std::max(highestTrack, static_cast<int>(index));
    const bool singleDensity = fmDisk || (headByte & kFmTrack) != 0;
    const bool keep = index < tracks.size() && !tracks[index].placed;
    std::vector<Sector> sectors;
    // The sectors of this track before the first that made no sense, that
    // one kept when it holds data (it is flagged).
    std::size_t sectorsBeforeNonsense = count;
    bool ended = false;      // the body ends inside the track
    bool senseless = false;  // a record makes no sense: the walk stops
    for (std::size_t i = 0; i < count && !ended && !senseless; ++i) {
      const std::size_t sectorStart = body.Position();
      const unsigned char* id = body.Take(kSectorHeaderSize);
      if (id == nullptr) {
        ended = true;
        break;
      }
      Sector sector;
      sector.id = {id[0], id[1], id[2], id[3]};
      sector.singleDensity = singleDensity;
      const unsigned flags = id[4];
      const unsigned crcByte = id[5];
      sector.flags = static_cast<SectorFlags>(((flags & kTdCrcError) != 0 ? kDataCrcError : 0) |
                                              ((flags & kTdDeleted) != 0 ? kDeletedData : 0) |
                                              ((flags & kTdNoData) != 0 ? kNoDataMark : 0) |
                                              ((flags & kTdNoId) != 0 ? kNoAddressMark : 0));
      const std::string name = "sector " + std::to_string(sector.id.c) + " " +
                               std::to_string(sector.id.h) + " " + std::to_string(sector.id.r) +
                               " " + std::to_string(sector.id.n) + " of track " +
                               std::to_string(index);
      const bool hasBlock =
          (flags & (kTdSkipped | kTdNoData)) == 0 && sector.id.n < kNoDataSizeCode;
      if (hasBlock) {
        const unsigned char* sizeField = body.Take(2);
        const std::size_t blockSize = sizeField != nullptr ? LoadLe16(sizeField) : 0;
        const std::size_t room = kBaseSectorSize << sector.id.n;
        if (blockSize > kMaxBlockPerByte * room + 1) {
          // No encoding of the sector takes so many bytes: what follows is
          // not where records are.
          const std::string what = "the data block of " + name + " gives " +
                                   std::to_string(blockSize) +
                                   " bytes, more than any encoding "
                                   "of the sector takes";
          if (!hasNonsense) {
            hasNonsense = true;
            nonsense = sectorStart;
            nonsenseWhat = what;
            sectorsBeforeNonsense = i;
          }
          if (!compressed) {
            image->AddFault(what + " (at byte " +
                            GroupedDigits(static_cast<std::int64_t>(body.FileOffset(sectorStart))) +
                            "); nothing after it is read");
          }
          senseless = true;
          break;
        }
        std::size_t blockHeld = 0;
        const unsigned char* block =
            sizeField != nullptr ? body.TakeUpTo(blockSize, blockHeld) : nullptr;
        ended = sizeField == nullptr || blockHeld < blockSize;
        sector.recordedSize = static_cast<std::uint32_t>(room);
        // The expansion is checked for every sector, kept or not: one that
        // fails in a compressed image may be where damage begins.
        const std::size_t location = data.size();
        if (location + room > static_cast<std::size_t>(kMaxImageBytes)) {
          result.error = "its sectors expand past any floppy disk's size";
          return result;
        }
        data.resize(location + room);
        const Expansion expansion =
            block != nullptr ? ExpandBlock(block, blockHeld, data.data() + location, room)
                             : Expansion{};
        data.resize(location + expansion.held);
        sector.location = static_cast<std::int64_t>(location);
        sector.size = static_cast<std::uint32_t>(expansion.held);
        if (!ended) {
          const bool checked = expansion.exact &&
                               (Crc(0, data.data() + location, expansion.held) & 0xFFU) == crcByte;
          if (!checked) {
            sector.flags |= kImageCheckFails;
            if (checkFailures++ == 0) {
              firstFailure = sectorStart;
              firstFailureName = name;
            }
            if (!hasNonsense) {
              hasNonsense = true;
              nonsense = sectorStart;
              nonsenseWhat = "the check of " + name + " fails";
              sectorsBeforeNonsense = i + 1;
            }
          }
          if (!expansion.exact) {
            // The block gave this much of the sector: the file is not cut.
            sector.recordedSize = sector.size;
          }
        }
        if (!keep) {
          data.resize(location);
        }
      }
      if (keep) {
        sectors.push_back(sector);
      }
    }
    if (compressed && hasNonsense && (ended || senseless)) {
      // The stream ran out, or came to a record no image holds, after a
      // record that made no sense: the data is damaged, not cut short, and
      // the sectors decoded after that record are not the disk's.
      image->AddFault(damaged(nonsense, nonsenseWhat));
      sectors.resize(std::min(sectors.size(), sectorsBeforeNonsense));
      ended = false;
      senseless = true;
    }
    if (index < tracks.size() && !keep) {
      image->AddFault("track " + std::to_string(index) + " is recorded a second time, at byte " +
                      GroupedDigits(static_cast<std::int64_t>(body.FileOffset(trackStart))) +
                      "; the first is read");
    }
    if (keep) {
      PlacedTrack& track = tracks[index];
      track.placed = true;
      track.sectors = std::move(sectors);
      if (ended) {
        track.cut = TrackCutShort{static_cast<std::uint32_t>(count)};
      }
      info.trackLocations[index] = static_cast<std::int64_t>(kHeaderSize + trackStart);
    }
    if (ended || senseless) {
      stop = body.Position();
      break;
    }
  }

  if (body.TooLarge()) {
    result.error = "its compressed data expands past any floppy disk's size";
    return result;
  }
  if (walked == 0 && !reachedEnd) {
    result.error = badTrackCrc ? "the first track header's CRC is wrong"
                               : "the file ends before its first track";
    return result;
  }
  if (compressed && checkFailures > 0 && !damageTold) {
    image->AddFault("the compressed data decodes to " + std::to_string(checkFailures) +
                    (checkFailures == 1 ? " sector" : " sectors") +
                    " that fail the image's own check, the first (" + firstFailureName +
                    ") from about byte " +
                    GroupedDigits(static_cast<std::int64_t>(body.FileOffset(firstFailure))) +
                    " of the file: the file is damaged there");
  }
  if (highestTrack >= DiskImage::kMaxTracks) {
    image->AddFault(TracksPastLimit(highestTrack + 1));
  }
  // The bytes of the file after the walk; a compressed stream's decoded
  // bytes are not the file's, and its last byte's padding bits may decode
  // to one more: it says nothing of them.
  if (!compressed) {
    body.Rewind(stop);
    image->SetBytesAfterLastDisk(static_cast<std::int64_t>(body.Left()));
  }
  const int disk = image->AddDisk(info);
  for (std::size_t index = 0; index < tracks.size(); ++index) {
    if (tracks[index].placed) {
      image->SetTrack(disk, static_cast<int>(index), std::move(tracks[index].sectors),
                      tracks[index].cut);
    }
  }
  result.image = std::move(image);
  return result;
}

}  // namespace

const ImageFormat kTeledisk = {"Teledisk", "td0", Identify, Load};

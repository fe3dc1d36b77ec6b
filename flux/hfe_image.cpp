// Reader for HFE images (HxC floppy emulator), revisions 1 and 3: each track
// as the cells a drive head reads, decoded here as MFM and FM (flux/mfm.h).
// All fields are little-endian.
//
//   Header, one 512-byte block:
//     0x00  8  "HXCPICFE" (revision 1) or "HXCHFEV3" (revision 3)
//     0x08  1  format revision: 0
//     0x09  1  cylinders
//     0x0A  1  sides (heads)
//     0x0B  1  track encoding (0 ISO/IBM MFM, 2 ISO/IBM FM, 0xFF unknown, ...)
//     0x0C  2  bit rate in kbit/s (250 for 2DD, 500 for 2HD)
//     0x0E  2  rotation speed in rpm (often 0)
//     0x10  1  interface mode
//     0x11  1  (reserved)
//     0x12  2  where the track list starts, in 512-byte blocks
//     0x14  6  write allowed, single step, alternative encodings of track 0
//
//   Track list: per cylinder, 4 bytes:
//     0  2  where the cylinder's cells start, in 512-byte blocks
//     2  2  how many bytes they take, both sides together
//
//   A cylinder's cells come in 512-byte blocks: 256 bytes of side 0, then
//   256 of side 1, and so on (the last block is as long, only partly used).
//   Each byte holds 8 cells, the first in the least significant bit.
//
//   Revision 3 puts opcodes among the cell bytes, told apart by their value
//   with the bit order reversed (no MFM byte has four 1 cells in a row):
//     0xF0      nothing
//     0xF1      the index
//     0xF2 r    the bit rate changes to r (one byte follows)
//     0xF3 n c  only the last 8 - n of the cells of byte c count
//     0xF4      8 cells of no flux change that read at random (weak bits)
//
// Every track is decoded as MFM and FM whatever the encoding byte says:
// writers leave it at 0xFF (unknown) as often as not. An FM track comes as
// FM cells (a single-density file at its own bit rate) or with each FM cell
// two cells long (track 0 of a PC-98 2HD disk); the decoder finds either.
//
// Track index = 2 x cylinder + side; a cylinder past the model's tracks is
// not read.
#include "flux/hfe_image.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "disk/le_fields.h"
#include "flux/mfm.h"
#include "formats/sector_image.h"

namespace {

constexpr char kSignature1[] = "HXCPICFE";
constexpr char kSignature3[] = "HXCHFEV3";
constexpr std::size_t kSignatureLength = 8;
constexpr std::size_t kRevisionOffset = 0x08;
constexpr std::size_t kCylindersOffset = 0x09;
constexpr std::size_t kSidesOffset = 0x0A;
constexpr std::size_t kTrackListOffset = 0x12;
constexpr std::size_t kHeaderFieldsEnd = 0x14;
constexpr std::int64_t kBlockSize = 512;
constexpr std::int64_t kSideBytes = 256;  // of each block
constexpr std::int64_t kTrackEntrySize = 4;
constexpr int kMaxSides = 2;

constexpr unsigned char kOpNop = 0xF0;
constexpr unsigned char kOpIndex = 0xF1;
constexpr unsigned char kOpBitRate = 0xF2;
constexpr unsigned char kOpSkipBits = 0xF3;
constexpr unsigned char kOpRandom = 0xF4;

constexpr std::array<unsigned char, 256> MakeReverseTable() {
  std::array<unsigned char, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    unsigned reversed = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
      reversed |= (byte >> bit & 1U) << (7U - bit);
    }
    table[byte] = static_cast<unsigned char>(reversed);
  }
  return table;
}
constexpr std::array<unsigned char, 256> kReversed = MakeReverseTable();

// Cells appended one run at a time, the first in the top bit of each byte,
// to a buffer long enough for them all.
class CellWriter {
 public:
  explicit CellWriter(unsigned char* out) : out_(out) {}
  // The last `count` (1..8) bits of `bits`, most significant first.
  void Put(unsigned bits, unsigned count) {
    pending_ = (pending_ << count | (bits & ((1U << count) - 1U))) & 0xFFFFU;
    pendingCount_ += count;
    if (pendingCount_ >= 8) {
      pendingCount_ -= 8;
      out_[written_++] = static_cast<unsigned char>(pending_ >> pendingCount_);
    }
  }
  // Writes out the last part byte; the number of cells written.
  std::size_t Finish() {
    const std::size_t cells = written_ * 8 + pendingCount_;
    if (pendingCount_ > 0) {
      out_[written_++] = static_cast<unsigned char>(pending_ << (8U - pendingCount_));
      pendingCount_ = 0;
    }
    return cells;
  }

 private:
  unsigned char* out_;
  std::size_t written_ = 0;
  unsigned pending_ = 0;
  unsigned pendingCount_ = 0;
};

// The cells of a revision 3 track with its opcodes carried out. `bytes` are
// the track's bytes with their bit order reversed.
std::size_t RunOpcodes(const std::vector<unsigned char>& bytes, std::vector<unsigned char>& cells) {
  // No byte gives more than 8 cells.
  cells.assign(bytes.size(), 0);
  CellWriter writer(cells.data());
  const std::size_t count = bytes.size();
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char byte = bytes[i];
    switch (byte) {
      case kOpNop:
      case kOpIndex:
        break;
      case kOpBitRate:
        ++i;  // the rate: the cells stay cells whatever their length
        break;
      case kOpSkipBits: {
        if (i + 2 >= count) {
          i = count;
          break;
        }
        const unsigned skipped = bytes[i + 1];
        const unsigned char value = bytes[i + 2];
        i += 2;
        if (skipped < 8) {
          writer.Put(value == kOpRandom ? 0U : value, 8U - skipped);
        }
        break;
      }
      case kOpRandom:
        // Weak cells read differently each time; as no change they give
        // no sync and fail any CRC over them, as a drive would find.
        writer.Put(0, 8);
        break;
      default:
        writer.Put(byte, 8);
        break;
    }
  }
  return writer.Finish();
}

Confidence Identify(const ImageProbe& probe) {
  if (probe.length >= kSignatureLength &&
      (std::memcmp(probe.head, kSignature1, kSignatureLength) == 0 ||
       std::memcmp(probe.head, kSignature3, kSignatureLength) == 0)) {
    return kSignature;
  }
  return kNotThisFormat;
}

LoadResult Load(std::unique_ptr<ByteSource> source) {
  LoadResult result;
  std::vector<unsigned char> file;
  if (!LoadWhole(*source, file, result)) {
    return result;
  }
  const auto fileSize = static_cast<std::int64_t>(file.size());
  if (file.size() < kHeaderFieldsEnd) {
    result.error = "the file ends inside the header";
    return result;
  }
  const bool revision3 = std::memcmp(file.data(), kSignature3, kSignatureLength) == 0;
  const unsigned revision = file[kRevisionOffset];
  if (revision != 0) {
    result.error = "format revision " + std::to_string(revision) + " is not read";
    return result;
  }
  const int cylinders = file[kCylindersOffset];
  const int sides = file[kSidesOffset];
  if (cylinders == 0) {
    result.error = "the header gives no cylinders";
    return result;
  }
  if (sides == 0 || sides > kMaxSides) {
    result.error = "the header gives " + std::to_string(sides) + " sides";
    return result;
  }
  const std::int64_t listStart =
      static_cast<std::int64_t>(LoadLe16(file.data() + kTrackListOffset)) * kBlockSize;
  if (listStart + cylinders * kTrackEntrySize > fileSize) {
    result.error = "the track list at offset " + std::to_string(listStart) + " runs past the end " +
                   "of the file (" + std::to_string(fileSize) + " bytes)";
    return result;
  }

  auto image = std::make_unique<SectorImage>("HFE", fileSize);
  DiskInfo info;
  info.claimed.cylinders = cylinders;
  info.claimed.heads = sides;
  info.trackLocations.assign(DiskImage::kMaxTracks, 0);
  const int readCylinders = std::min(cylinders, DiskImage::kMaxTracks / kMaxSides);
  for (int cylinder = 0; cylinder < readCylinders; ++cylinder) {
    const unsigned char* entry = file.data() + listStart + cylinder * kTrackEntrySize;
    for (int side = 0; side < sides; ++side) {
      const int index = kMaxSides * cylinder + side;
      info.trackLocations[static_cast<std::size_t>(index)] =
          static_cast<std::int64_t>(LoadLe16(entry)) * kBlockSize + side * kSideBytes;
    }
  }
  const int disk = image->AddDisk(info);
  if (readCylinders < cylinders) {
    image->AddFault(TracksPastLimit(kMaxSides * (cylinders - 1) + sides));
  }
  // Each file byte gives half a data byte at most.
  image->Data().reserve(file.size() / 2);

  std::vector<unsigned char> bytes;
  std::vector<unsigned char> cells;
  for (int cylinder = 0; cylinder < readCylinders; ++cylinder) {
    const unsigned char* entry = file.data() + listStart + cylinder * kTrackEntrySize;
    const std::int64_t start = static_cast<std::int64_t>(LoadLe16(entry)) * kBlockSize;
    const std::int64_t sideLength = LoadLe16(entry + 2) / kMaxSides;
    for (int side = 0; side < sides; ++side) {
      const std::int64_t first = start + side * kSideBytes;
      if (first >= fileSize) {
        continue;  // the track lies past the end of the file: absent
      }
      // This side's bytes, in order, as far as the file holds them, with
      // the first cell of each in the top bit.
      bytes.clear();
      for (std::int64_t done = 0; done < sideLength; done += kSideBytes) {
        const std::int64_t at = first + done / kSideBytes * kBlockSize;
        const std::int64_t take = std::min({kSideBytes, sideLength - done, fileSize - at});
        if (take <= 0) {
          break;
        }
        const std::size_t held = bytes.size();
        bytes.resize(held + static_cast<std::size_t>(take));
        std::transform(file.begin() + at, file.begin() + at + take,
                       bytes.begin() + static_cast<std::ptrdiff_t>(held),
                       [](unsigned char byte) { return kReversed[byte]; });
      }
      std::size_t cellCount = 0;
      if (revision3) {
        cellCount = RunOpcodes(bytes, cells);
        cells.resize((cellCount + 7) / 8);
      } else {
        cells.swap(bytes);
        cellCount = cells.size() * 8;
      }
      cells.resize(cells.size() + kMfmCellPadding, 0);
      image->SetTrack(disk, kMaxSides * cylinder + side,
                      DecodeMfmTrack(cells, cellCount, image->Data()));
    }
  }
  result.image = std::move(image);
  return result;
}

}  // namespace

const ImageFormat kHfeFormat = {"HFE", "hfe", Identify, Load, true};

// NFD image (T98-Next), revisions 0 and 1. All fields little-endian.
//
//   0x000  16  "T98FDDIMAGE.R0" or "T98FDDIMAGE.R1", NUL-padded
//   0x010 256  comment, NUL-terminated text
//   0x110   4  header size: the sector data starts there
//   0x114   1  write protect      0x115  1  heads
//
//   Sector entry, 16 bytes: C, H, R, N; MFM flag (1 MFM, 0 FM); DDAM flag
//   (1 deleted data); the result of the read: status, ST0, ST1, ST2;
//   revision 0: PDA at 0x0A; revision 1: retries at 0x0A, PDA at 0x0B.
//
//   Revision 0: from 0x120, 163 tracks x 26 sector entries; C = 0xFF marks
//   an unused entry. Revision 1: from 0x120, 164 u32 offsets of track blocks
//   (0 = no track); a block is a u16 sector count, a u16 count of special
//   reads and 12 reserved bytes, then the sector entries, then 16-byte
//   special-read entries (command, C, H, R, N, status, ST0, ST1, ST2,
//   retries, u32 data length at 0x0A, PDA).
//
// The data of every sector follows the header in map order, track after
// track, 128 << N bytes each. In revision 1 a sector with retries is
// followed by that many more copies of its data, and a track's special reads
// follow its sectors, each (retries + 1) x its data length (as Neko Project
// II kai reads them). The track index is the map position, as MAME reads
// it; the IDs are as recorded. A file cut short is read as far as it holds:
// a sector whose data it cuts keeps what is there, and a track whose map it
// cuts is there without the sectors it cannot name, both cut short.
#include "formats/nfd_image.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "disk/le_fields.h"
#include "formats/sector_image.h"

namespace {

constexpr std::size_t kSignatureLength = 14;
constexpr char kSignatureR0[] = "T98FDDIMAGE.R0";
constexpr char kSignatureR1[] = "T98FDDIMAGE.R1";
constexpr std::size_t kCommentOffset = 0x10;
constexpr std::size_t kCommentLength = 0x100;
constexpr std::size_t kHeaderSizeOffset = 0x110;
constexpr std::size_t kWriteProtectOffset = 0x114;
constexpr std::size_t kHeadsOffset = 0x115;
constexpr std::size_t kMapOffset = 0x120;
constexpr std::size_t kEntrySize = 16;

constexpr int kR0Tracks = 163;
constexpr int kR0EntriesPerTrack = 26;
constexpr std::size_t kR0MapEnd =
    kMapOffset + std::size_t{kR0Tracks} * kR0EntriesPerTrack * kEntrySize;
constexpr unsigned kUnusedEntry = 0xFF;

constexpr int kR1Tracks = 164;
constexpr std::size_t kR1HeaderSize = kMapOffset + std::size_t{kR1Tracks} * 4 + 16;
constexpr std::size_t kBlockHeaderSize = 16;
constexpr std::size_t kSpecialCountOffset = 2;

constexpr std::size_t kMfmOffset = 4;
constexpr std::size_t kDdamOffset = 5;
constexpr std::size_t kSt1Offset = 8;
constexpr std::size_t kSt2Offset = 9;
constexpr std::size_t kRetriesOffset = 10;
constexpr std::size_t kSpecialRetriesOffset = 9;
constexpr std::size_t kSpecialLengthOffset = 10;

// uPD765 result bits. ST1 DE: a CRC error, in the ID field unless ST2 DD
// says in the data field. ST2 MD: no data address mark; ST1 MA alone: no
// ID address mark. (D88 converters read NFD's result bytes this way.)
constexpr unsigned kSt1DataError = 0x20;
constexpr unsigned kSt1MissingAddressMark = 0x01;
constexpr unsigned kSt2DataErrorInData = 0x20;
constexpr unsigned kSt2MissingDataMark = 0x01;

constexpr unsigned kMaxSizeCode = 8;  // 32 KiB
// More than any track holds, and few enough that 164 tracks of them fit in
// memory whatever the maps say.
constexpr unsigned kMaxSectorsPerTrack = 255;
// Sector data is placed no further than this: past the end of any file read.
constexpr std::int64_t kFar = std::int64_t{1} << 40;

constexpr SectorFlags StatusFlags(unsigned st1, unsigned st2) {
  if ((st1 & kSt1DataError) != 0) {
    return (st2 & kSt2DataErrorInData) != 0 ? kDataCrcError : kIdCrcError;
  }
  if ((st2 & kSt2MissingDataMark) != 0) {
    return kNoDataMark;
  }
  return (st1 & kSt1MissingAddressMark) != 0 ? kNoAddressMark : 0;
}

bool StartsWith(const unsigned char* bytes, std::size_t length, const char* text) {
  return length >= kSignatureLength && std::memcmp(bytes, text, kSignatureLength) == 0;
}

Confidence Identify(const ImageProbe& probe) {
  return StartsWith(probe.head, probe.length, kSignatureR0) ||
                 StartsWith(probe.head, probe.length, kSignatureR1)
             ? kSignature
             : kNotThisFormat;
}

// Places sector data one after another from the header size on.
class DataCursor {
 public:
  explicit DataCursor(std::int64_t start) : next_(start) {}
  std::int64_t Take(std::int64_t bytes) {
    const std::int64_t at = next_;
    next_ = std::min(kFar, next_ + bytes);
    return at;
  }
  std::int64_t Next() const { return next_; }

 private:
  std::int64_t next_;
};

// The sector of a 16-byte entry, its data taken from the cursor; false when
// its size code is beyond any sector, which leaves every later sector's
// place unknown.
bool EntrySector(const unsigned char* entry, DataCursor& data, Sector& sector) {
  if (entry[3] > kMaxSizeCode) {
    return false;
  }
  sector.id = {entry[0], entry[1], entry[2], entry[3]};
  sector.singleDensity = entry[kMfmOffset] == 0;
  sector.flags = static_cast<SectorFlags>((entry[kDdamOffset] != 0 ? kDeletedData : 0) |
                                          StatusFlags(entry[kSt1Offset], entry[kSt2Offset]));
  sector.recordedSize = 128U << entry[3];
  sector.size = sector.recordedSize;
  sector.location = data.Take(sector.recordedSize);
  return true;
}

std::string SizeCodeError(int track, unsigned n) {
  return "the sector map of track " + std::to_string(track) + " gives size code " +
         std::to_string(n) + ", larger than any sector";
}

// `bytes` holds the file's first bytes, the whole map among them; the
// sector data stays in the file.
std::string ReadRevision0(SectorImage& image, int disk, const std::vector<unsigned char>& bytes,
                          std::int64_t headerSize, std::int64_t fileSize) {
  DataCursor data(headerSize);
  for (int track = 0; track < kR0Tracks; ++track) {
    std::vector<Sector> sectors;
    for (int i = 0; i < kR0EntriesPerTrack; ++i) {
      const std::size_t at =
          kMapOffset + (static_cast<std::size_t>(track) * kR0EntriesPerTrack + i) * kEntrySize;
      // The map ends with the header, as short as its writer made it, or
      // where the file ends inside it.
      if (static_cast<std::int64_t>(at + kEntrySize) > headerSize) {
        break;
      }
      if (at + kEntrySize > bytes.size()) {
        image.SetTrack(disk, track, std::move(sectors), TrackCutShort{});
        return {};
      }
      const unsigned char* entry = bytes.data() + at;
      if (entry[0] == kUnusedEntry) {
        continue;
      }
      Sector sector;
      if (!EntrySector(entry, data, sector)) {
        return SizeCodeError(track, entry[3]);
      }
      sectors.push_back(sector);
    }
    if (!sectors.empty()) {
      image.SetTrack(disk, track, std::move(sectors));
    }
  }
  if (fileSize > data.Next()) {
    image.SetBytesAfterLastDisk(fileSize - data.Next());
  }
  return {};
}

// `bytes` holds the file's first bytes, the table of track blocks among
// them; each block is read from the file, and the sector data stays there.
std::string ReadRevision1(SectorImage& image, int disk, const std::vector<unsigned char>& bytes,
                          ByteSource& source, std::int64_t headerSize, std::int64_t fileSize) {
  DataCursor data(headerSize);
  std::vector<unsigned char> blockBytes;
  for (int track = 0; track < kR1Tracks; ++track) {
    const std::uint32_t block =
        LoadLe32(bytes.data() + kMapOffset + static_cast<std::size_t>(track) * 4);
    if (block == 0) {
      continue;
    }
    // A sector map that the end of the file cuts, or that lies past it,
    // leaves the track there without a sector, cut short; the tracks after
    // it are read as far as the file holds them.
    const auto cutShort = [&image, disk, track]() {
      image.SetTrack(disk, track, {}, TrackCutShort{});
    };
    if (std::int64_t{block} + static_cast<std::int64_t>(kBlockHeaderSize) > fileSize) {
      cutShort();
      continue;
    }
    unsigned char head[kBlockHeaderSize];
    if (source.ReadAt(block, head, sizeof head) != sizeof head) {
      cutShort();
      continue;
    }
    const std::uint32_t count = LoadLe16(head);
    const std::uint32_t specials = LoadLe16(head + kSpecialCountOffset);
    if (count > kMaxSectorsPerTrack) {
      return "the sector map of track " + std::to_string(track) + " lists " +
             std::to_string(count) + " sectors, more than a track holds";
    }
    if (std::int64_t{block} + static_cast<std::int64_t>(kBlockHeaderSize) +
            (std::int64_t{count} + specials) * static_cast<std::int64_t>(kEntrySize) >
        fileSize) {
      cutShort();
      continue;
    }
    // At most 255 + 65535 entries of 16 bytes: about a megabyte.
    blockBytes.resize((std::size_t{count} + specials) * kEntrySize);
    if (source.ReadAt(std::int64_t{block} + static_cast<std::int64_t>(kBlockHeaderSize),
                      blockBytes.data(), blockBytes.size()) != blockBytes.size()) {
      cutShort();
      continue;
    }
    const unsigned char* entry = blockBytes.data();
    std::vector<Sector> sectors(count);
    for (Sector& sector : sectors) {
      if (!EntrySector(entry, data, sector)) {
        return SizeCodeError(track, entry[3]);
      }
      // The data of the retries, after the sector's own.
      data.Take(std::int64_t{sector.recordedSize} * entry[kRetriesOffset]);
      entry += kEntrySize;
    }
    for (std::uint32_t i = 0; i < specials; ++i, entry += kEntrySize) {
      data.Take((std::int64_t{entry[kSpecialRetriesOffset]} + 1) *
                LoadLe32(entry + kSpecialLengthOffset));
    }
    if (!sectors.empty()) {
      image.SetTrack(disk, track, std::move(sectors));
    }
  }
  if (fileSize > data.Next()) {
    image.SetBytesAfterLastDisk(fileSize - data.Next());
  }
  return {};
}

LoadResult Load(std::unique_ptr<ByteSource> source) {
  LoadResult result;
  auto image = std::make_unique<SectorImage>(kNfdFormat.name, source->Size());
  std::vector<unsigned char> bytes;
  if (!LoadHead(*source, std::max(kR0MapEnd, kR1HeaderSize), bytes, result)) {
    return result;
  }
  const std::int64_t fileSize = source->Size();
  const bool revision1 = StartsWith(bytes.data(), bytes.size(), kSignatureR1);
  const std::size_t minimum = revision1 ? kR1HeaderSize : kMapOffset;
  if (bytes.size() < minimum) {
    result.error =
        "the file is shorter than an NFD header (" + std::to_string(fileSize) + " bytes)";
    return result;
  }
  const std::int64_t headerSize = LoadLe32(bytes.data() + kHeaderSizeOffset);
  if (headerSize < static_cast<std::int64_t>(minimum)) {
    result.error =
        "the header size (" + std::to_string(headerSize) + " bytes) is smaller than an NFD header";
    return result;
  }
  // A header size past the end of the file leaves every sector without
  // data: the sector map is read as far as the file holds it.

  DiskInfo info;
  const unsigned char* comment = bytes.data() + kCommentOffset;
  info.name.assign(comment, std::find(comment, comment + kCommentLength, 0));
  info.claimed.heads = bytes[kHeadsOffset];
  info.writeProtect = bytes[kWriteProtectOffset];
  if (revision1) {
    info.trackLocations.resize(kR1Tracks);
    for (int track = 0; track < kR1Tracks; ++track) {
      info.trackLocations[static_cast<std::size_t>(track)] =
          LoadLe32(bytes.data() + kMapOffset + static_cast<std::size_t>(track) * 4);
    }
  }
  const int disk = image->AddDisk(std::move(info));
  // The sectors are read from the file when asked for.
  ByteSource& file = *source;
  image->ReadInPlace(std::move(source));
  result.error = revision1 ? ReadRevision1(*image, disk, bytes, file, headerSize, fileSize)
                           : ReadRevision0(*image, disk, bytes, headerSize, fileSize);
  if (!result.error.empty()) {
    return result;
  }
  result.image = std::move(image);
  return result;
}

}  // namespace

const ImageFormat kNfdFormat = {"NFD", "nfd", Identify, Load};

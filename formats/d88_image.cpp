#include "formats/d88_image.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "disk/le_fields.h"
#include "disk/model.h"
#include "input/byte_source.h"

namespace {

// The track table of a D88 header has 164 entries, whatever the model
// holds: the header ends after it.
constexpr int kTrackEntries = 164;
constexpr int kHeaderSize = 0x2B0;
// The header of writers whose track table has 160 entries.
constexpr std::uint32_t kShortHeaderSize = 0x2A0;
constexpr int kMaxDisks = 64;
constexpr int kSectorHeaderSize = 16;
constexpr int kNameLength = 16;

constexpr int kNameOffset = 0x00;
constexpr int kWriteProtectOffset = 0x1A;
constexpr int kMediaTypeOffset = 0x1B;
constexpr int kDiskSizeOffset = 0x1C;
constexpr int kTrackTableOffset = 0x20;
static_assert(kTrackTableOffset + 4 * kTrackEntries == kHeaderSize,
              "the track table ends the header");

constexpr int kIdOffset = 0;  // C, H, R, N
constexpr int kSectorCountOffset = 4;
constexpr int kDensityOffset = 6;
constexpr int kDeletedMarkOffset = 7;
constexpr int kStatusOffset = 8;
constexpr int kDataSizeOffset = 14;

constexpr unsigned kSingleDensity = 0x40;
constexpr unsigned kDeletedMark = 0x10;
constexpr unsigned kStatusDeleted = 0x10;
constexpr unsigned kStatusIdCrcError = 0xA0;
constexpr unsigned kStatusDataCrcError = 0xB0;
constexpr unsigned kStatusNoAddressMark = 0xE0;
constexpr unsigned kStatusNoDataMark = 0xF0;

constexpr std::int64_t kMaxOffset = std::numeric_limits<std::int32_t>::max();

// No read reaches further into a file than a disk offset plus a track offset
// (each below 2^31) plus a scan of 65535 sectors of at most 65535 bytes.
constexpr std::int64_t kMaxReach = std::int64_t{1} << 33;

constexpr SectorFlags FlagsOf(unsigned deletedMark, unsigned status) {
  SectorFlags flags = deletedMark == kDeletedMark ? kDeletedData : 0;
  switch (status) {
    case kStatusDeleted:
      return flags | kDeletedData;
    case kStatusIdCrcError:
      return flags | kIdCrcError;
    case kStatusDataCrcError:
      return flags | kDataCrcError;
    case kStatusNoAddressMark:
      return flags | kNoAddressMark;
    case kStatusNoDataMark:
      return flags | kNoDataMark;
    default:
      return flags;
  }
}

constexpr unsigned kMediaTypes[] = {0x00, 0x10, 0x20, 0x30, 0x40};

// A D88 header is plausible when its media byte is one the format names, its
// size field lies between a bare header and the file's size, and its first
// track starts after the track table and inside that size. Only a file of a
// raw image's exact size weighs this against another reading: whatever no
// format claims is read as D88 anyway.
Confidence IdentifyD88(const ImageProbe& probe) {
  if (probe.length < static_cast<std::size_t>(kHeaderSize)) {
    return kNotThisFormat;
  }
  const std::uint32_t size = LoadLe32(probe.head + kDiskSizeOffset);
  const std::uint32_t firstTrack = LoadLe32(probe.head + kTrackTableOffset);
  const unsigned media = probe.head[kMediaTypeOffset];
  const bool knownMedia =
      std::find(std::begin(kMediaTypes), std::end(kMediaTypes), media) != std::end(kMediaTypes);
  const bool plausible = knownMedia && size >= static_cast<std::uint32_t>(kHeaderSize) &&
                         size <= static_cast<std::uint64_t>(probe.size) &&
                         firstTrack >= kTrackTableOffset && firstTrack < size;
  // A file cut short holds less than its size field gives, and a damaged
  // one may give a size of 0: such a header is taken for D88 still when its
  // first track starts right after a track table of 160 or 164 entries, as
  // the format's writers place it.
  const bool anchored =
      knownMedia &&
      (firstTrack == kShortHeaderSize || firstTrack == static_cast<std::uint32_t>(kHeaderSize)) &&
      (size == 0 || firstTrack < size);
  return plausible || anchored ? kPlausibleHeader : kNotThisFormat;
}

// The image as the model gives it. Tracks are parsed when first asked for:
// their sector headers taken in place from blocks of the file kept in
// memory, their data copied from there.
class D88Image : public DiskImage {
 public:
  // The file is read in blocks of this size, block i kept in slot
  // i % kBlockSlots, so that the sector headers of a track are taken in place
  // and the data of its sectors read again from memory; the same slots are
  // used again and again however large the file. Small blocks keep what a
  // read of a few tracks takes close to those tracks. The slots lie side by
  // side, so that blocks that follow each other are read with one call.
  static constexpr std::int64_t kBlockSize = std::int64_t{4} << 10;
  static constexpr std::size_t kBlockSlots = 128;
  // A scan over a track whose headers lie at most a block apart reads every
  // block of the track anyway: it reads up to this many at once, as far as
  // the track's first header says the track reaches.
  static constexpr std::int64_t kReadAheadBlocks = 32;
  // Parsed tracks are kept up to this many sectors in all: the longest track
  // a count field allows, 65535 sectors, fits.
  static constexpr std::size_t kMaxCachedSectors = std::size_t{1} << 16;

  // Finds the disks of the image the source holds; false (with errno set)
  // when the source cannot be read.
  bool Open(std::unique_ptr<ByteSource> source);

  ImageInfo DescribeImage() const override;
  int DiskCount() const override { return static_cast<int>(disks_.size()); }
  DiskInfo Describe(int disk) const override;
  std::shared_ptr<const Track> ReadTrack(int disk, int track) override;
  std::size_t ReadData(const Sector& sector, unsigned char* dest, std::size_t length) override;

 private:
  struct Slot {
    std::int64_t index = -1;  // which block of the file the slot holds
    std::size_t length = 0;   // 0 = none
  };

  // Where a track's scan is: the next header's place in the file, and the
  // count and data size of the last header taken.
  struct Scan {
    std::int64_t offset = 0;
    std::uint32_t count = 0;
    std::uint32_t size = 0;
  };

  // A disk header as Open read it.
  struct Header {
    std::int32_t offset = 0;
    std::int32_t size = 0;
    int mediaType = 0;
    int writeProtect = 0;
    char name[kNameLength + 1] = {};
    std::int32_t tracks[kTrackEntries] = {};
  };

  static std::size_t SlotOf(std::int64_t index) {
    return static_cast<std::size_t>(index) % kBlockSlots;
  }
  const unsigned char* SlotBytes(std::int64_t index) const {
    return arena_.get() + SlotOf(index) * static_cast<std::size_t>(kBlockSize);
  }
  bool Cached(std::int64_t index) const {
    const Slot& slot = slots_[SlotOf(index)];
    return slot.index == index && slot.length > 0;
  }
  const Slot* LoadBlock(std::int64_t index, std::int64_t ahead);
  std::size_t ReadAt(std::int64_t offset, unsigned char* dest, std::size_t length);
  std::int64_t TrackStart(int disk, int track) const;
  // `insideDisk`: the track starts before its disk's end.
  std::shared_ptr<const Track> ParseTrack(std::int64_t start, bool insideDisk);
  bool TakeHeaders(const unsigned char* bytes, std::size_t within, std::size_t length, Scan& scan,
                   std::vector<Sector>& sectors) const;

  std::unique_ptr<ByteSource> source_;
  std::int64_t file_size_ = 0;
  std::unique_ptr<unsigned char[]> arena_;  // kBlockSlots blocks, made on first read
  std::vector<Slot> slots_;
  std::vector<Header> disks_;
  // How the walk over the disks ended.
  std::optional<std::int64_t> bytes_after_;
  std::optional<int> zero_size_disk_;
  bool more_disks_ = false;
  // Parsed tracks by where they start in the file: track entries that point
  // at the same place share one parse.
  std::map<std::int64_t, std::shared_ptr<const Track>> parsed_;
  std::size_t parsed_sectors_ = 0;
};

bool D88Image::Open(std::unique_ptr<ByteSource> source) {
  if (!source) {
    errno = EINVAL;
    return false;
  }
  source_ = std::move(source);
  const std::int64_t size = source_->Size();
  if (size < 0) {
    errno = source_->Error() != 0 ? source_->Error() : EIO;
    return false;
  }
  file_size_ = std::min<std::int64_t>(size, kMaxReach);
  slots_.resize(kBlockSlots);

  std::int64_t offset = 0;
  for (;;) {
    unsigned char bytes[kHeaderSize];
    // Straight from the source: the blocks around the headers are not
    // wanted until the disk's tracks are.
    if (offset >= file_size_ || source_->ReadAt(offset, bytes, sizeof bytes) != sizeof bytes) {
      // The normal end of an image: whatever is left is not a disk.
      bytes_after_ = std::max<std::int64_t>(file_size_ - offset, 0);
      break;
    }
    if (disks_.size() == kMaxDisks) {
      more_disks_ = true;
      break;
    }
    Header header;
    header.offset = static_cast<std::int32_t>(offset);
    header.size = ToSigned32(LoadLe32(bytes + kDiskSizeOffset));
    header.mediaType = bytes[kMediaTypeOffset];
    header.writeProtect = bytes[kWriteProtectOffset];
    for (int i = 0; i < kNameLength && bytes[kNameOffset + i] != 0; ++i) {
      header.name[i] = static_cast<char>(bytes[kNameOffset + i]);
    }
    const unsigned char* entry = bytes + kTrackTableOffset;
    for (std::int32_t& track : header.tracks) {
      track = ToSigned32(LoadLe32(entry));
      entry += 4;
    }
    disks_.push_back(header);
    // A whole header is a disk, whatever its size field says. A size of 0
    // gives no way to the next disk; a size that carries the walk outside the
    // file's 2 GiB of offsets ends it too.
    if (header.size == 0) {
      zero_size_disk_ = static_cast<int>(disks_.size()) - 1;
      break;
    }
    const std::int64_t next = offset + header.size;
    if (next < 0 || next > kMaxOffset) {
      break;
    }
    offset = next;
  }
  // A short read at the end of the file ends the directory; anything else
  // (a directory given as the path, a failing device) means the file cannot
  // be read at all.
  if (const int error = source_->Error(); error != 0) {
    errno = error;
    return false;
  }
  return true;
}

ImageInfo D88Image::DescribeImage() const {
  ImageInfo info;
  info.format = "D88";
  info.fileSize = file_size_;
  info.bytesAfterLastDisk = bytes_after_;
  info.zeroSizeDisk = zero_size_disk_;
  if (more_disks_) {
    info.diskLimit = kMaxDisks;
  }
  return info;
}

DiskInfo D88Image::Describe(int disk) const {
  DiskInfo info;
  if (disk < 0 || disk >= DiskCount()) {
    return info;
  }
  const Header& header = disks_[static_cast<std::size_t>(disk)];
  info.name = header.name;
  info.mediaType = header.mediaType;
  info.writeProtect = header.writeProtect;
  info.offset = header.offset;
  info.sizeField = static_cast<std::uint32_t>(header.size);
  info.trackLocations.assign(std::begin(header.tracks), std::end(header.tracks));
  return info;
}

// Where the first sector header of a track lies in the file; -1 for a track
// out of range, absent, or recorded outside its disk.
std::int64_t D88Image::TrackStart(int disk, int track) const {
  if (disk < 0 || disk >= DiskCount() || track < 0 || track >= kTrackEntries) {
    return -1;
  }
  const Header& header = disks_[static_cast<std::size_t>(disk)];
  const std::int32_t entry = header.tracks[track];
  // The size field bounds the track offsets as the unsigned count it is: a
  // disk whose size reads as 2 GiB or more still has its tracks. A size of 0
  // gives no bound: such a disk ends the walk, and reaches to the file's end.
  if (entry <= 0 || (header.size != 0 &&
                     static_cast<std::uint32_t>(entry) > static_cast<std::uint32_t>(header.size))) {
    return -1;
  }
  return static_cast<std::int64_t>(header.offset) + entry;
}

std::shared_ptr<const Track> D88Image::ReadTrack(int disk, int track) {
  const std::int64_t start = TrackStart(disk, track);
  if (start < 0) {
    return nullptr;
  }
  // A track that the file ends before is cut short only where its disk
  // claims the bytes: some writers point unformatted tracks at the disk's
  // end.
  const Header& header = disks_[static_cast<std::size_t>(disk)];
  const std::int64_t diskStart = header.offset;
  const bool insideDisk =
      header.size == 0 || start < diskStart + static_cast<std::uint32_t>(header.size);
  return ParseTrack(start, insideDisk);
}

// A track as a read by ID sees it: the sectors from its first header on,
// up to a header that cannot be read whole or whose count is 0 (neither is a
// sector), or up to the position count - 1 of the header just read. Headers
// that disagree on the count cannot carry the scan past that position.
std::shared_ptr<const Track> D88Image::ParseTrack(std::int64_t start, bool insideDisk) {
  const auto cached = parsed_.find(start);
  if (cached != parsed_.end()) {
    return cached->second;
  }
  // The first header's count is what the track most likely holds.
  unsigned char first[kSectorHeaderSize] = {};
  const bool hasFirst = ReadAt(start, first, sizeof first) == sizeof first;
  const std::size_t expected = hasFirst ? LoadLe16(first + kSectorCountOffset) : 0;
  if (parsed_sectors_ + expected > kMaxCachedSectors) {
    // Past the limit, start afresh rather than keep track of use; before the
    // parse, so that the tracks let go are not held beside the new one.
    parsed_.clear();
    parsed_sectors_ = 0;
  }

  std::vector<Sector> sectors;
  sectors.reserve(expected);
  Scan scan;
  scan.offset = start;
  scan.count = static_cast<std::uint32_t>(expected);
  scan.size = LoadLe16(first + kDataSizeOffset);
  // Whether the end of the file, rather than the track's own records, ended
  // the scan: a track that starts past it, a header it cuts, or a count
  // that reaches past it.
  bool fileEnded = !hasFirst && insideDisk && start + kSectorHeaderSize > file_size_;
  bool more = hasFirst;
  while (more && scan.offset < file_size_) {
    const std::int64_t index = scan.offset / kBlockSize;
    // How far the track most likely reaches, by the last header taken: the
    // rest of its count, each sector of its size. Where headers lie at most
    // a block apart, the blocks up to there are read at once.
    const std::int64_t stride = kSectorHeaderSize + std::int64_t{scan.size};
    const std::int64_t rest = std::max<std::int64_t>(
        std::int64_t{scan.count} - static_cast<std::int64_t>(sectors.size()), 1);
    const std::int64_t end = std::min(scan.offset + rest * stride, file_size_);
    const std::int64_t ahead =
        stride <= kBlockSize
            ? std::clamp<std::int64_t>((end - 1) / kBlockSize - index + 1, 1, kReadAheadBlocks)
            : 1;
    const Slot* slot = LoadBlock(index, ahead);
    if (slot == nullptr) {
      break;
    }
    const auto within = static_cast<std::size_t>(scan.offset - index * kBlockSize);
    if (within + kSectorHeaderSize <= slot->length) {
      // The headers that lie whole in this block, in place.
      more = TakeHeaders(SlotBytes(index), within, slot->length, scan, sectors);
      continue;
    }
    // A header across the end of the block, or cut short by the file's.
    if (slot->length == static_cast<std::size_t>(kBlockSize)) {
      LoadBlock(index + 1, ahead);
    }
    unsigned char copy[kSectorHeaderSize];
    if (ReadAt(scan.offset, copy, sizeof copy) != sizeof copy) {
      fileEnded = scan.offset + kSectorHeaderSize > file_size_;
      break;
    }
    more = TakeHeaders(copy, 0, sizeof copy, scan, sectors);
  }
  fileEnded = fileEnded || (more && scan.offset >= file_size_);
  std::optional<TrackCutShort> cutShort;
  if (fileEnded) {
    cutShort = TrackCutShort{};
    if (hasFirst) {
      cutShort->announced = scan.count;
    }
  }
  parsed_sectors_ += sectors.size();
  if (parsed_sectors_ > kMaxCachedSectors) {
    parsed_.clear();
    parsed_sectors_ = sectors.size();
  }
  auto track =
      std::make_shared<const Track>(std::move(sectors), TrackExtent{start, scan.offset}, cutShort);
  parsed_.emplace(start, track);
  return track;
}

// Takes the sector headers that lie whole in bytes[within, length), the
// first of them at scan.offset in the file, into the track; moves the scan
// past each sector taken. False where the track ends. Kept apart, with the
// values it steps in locals, so that storing a sector's bytes does not make
// the compiler read them again from memory: tracks of 65,535 sectors feel it.
bool D88Image::TakeHeaders(const unsigned char* bytes, std::size_t within, std::size_t length,
                           Scan& scan, std::vector<Sector>& sectors) const {
  const std::int64_t fileSize = file_size_;
  std::int64_t at = scan.offset;
  std::size_t taken = sectors.size();
  std::uint32_t count = scan.count;
  std::uint32_t size = scan.size;
  bool more = true;
  while (within + kSectorHeaderSize <= length) {
    const unsigned char* header = bytes + within;
    count = LoadLe16(header + kSectorCountOffset);
    if (count == 0) {
      more = false;
      break;
    }
    size = LoadLe16(header + kDataSizeOffset);
    const std::int64_t data = at + kSectorHeaderSize;
    const SectorId id = {header[kIdOffset], header[kIdOffset + 1], header[kIdOffset + 2],
                         header[kIdOffset + 3]};
    const SectorFlags flags = FlagsOf(header[kDeletedMarkOffset], header[kStatusOffset]);
    const bool singleDensity = header[kDensityOffset] == kSingleDensity;
    // A sector cut short by the end of the file holds only what is there.
    const auto held =
        static_cast<std::uint32_t>(std::clamp<std::int64_t>(fileSize - data, 0, size));
    Sector& sector = sectors.emplace_back();
    sector.id = id;
    sector.flags = flags;
    sector.singleDensity = singleDensity;
    sector.recordedSize = size;
    sector.size = held;
    sector.location = data;
    at = data + size;
    within += kSectorHeaderSize + size;
    if (++taken >= count) {
      more = false;
      break;
    }
  }
  scan.offset = at;
  scan.count = count;
  scan.size = size;
  return more;
}

std::size_t D88Image::ReadData(const Sector& sector, unsigned char* dest, std::size_t length) {
  if (dest == nullptr) {
    return 0;
  }
  return ReadAt(sector.location, dest, std::min<std::size_t>(length, sector.size));
}

// Block `index` in its slot, read with the blocks after it that are not in
// theirs, up to `ahead` blocks in all, where their slots follow; null where
// the file holds none of it.
const D88Image::Slot* D88Image::LoadBlock(std::int64_t index, std::int64_t ahead) {
  const std::size_t first = SlotOf(index);
  if (Cached(index)) {
    return &slots_[first];
  }
  if (!arena_) {
    arena_.reset(
        new (std::nothrow) unsigned char[kBlockSlots * static_cast<std::size_t>(kBlockSize)]);
    if (!arena_) {
      return nullptr;
    }
  }
  const std::int64_t from = index * kBlockSize;
  std::int64_t count = 1;
  while (count < ahead && first + static_cast<std::size_t>(count) < kBlockSlots &&
         from + count * kBlockSize < file_size_ && !Cached(index + count)) {
    ++count;
  }
  const std::size_t got =
      source_->ReadAt(from, arena_.get() + first * static_cast<std::size_t>(kBlockSize),
                      static_cast<std::size_t>(count * kBlockSize));
  for (std::int64_t k = 0; k < count; ++k) {
    Slot& slot = slots_[first + static_cast<std::size_t>(k)];
    const auto at = static_cast<std::size_t>(k * kBlockSize);
    slot.length = got > at ? std::min(got - at, static_cast<std::size_t>(kBlockSize)) : 0;
    slot.index = slot.length > 0 ? index + k : -1;
  }
  return slots_[first].length > 0 ? &slots_[first] : nullptr;
}

// Copies what the file holds of [offset, offset + length) to dest; returns
// the bytes copied, fewer where the file ends.
std::size_t D88Image::ReadAt(std::int64_t offset, unsigned char* dest, std::size_t length) {
  std::size_t copied = 0;
  while (copied < length && offset >= 0 && offset < file_size_) {
    const std::int64_t index = offset / kBlockSize;
    const Slot* slot = LoadBlock(index, 1);
    const auto within = static_cast<std::size_t>(offset - index * kBlockSize);
    if (slot == nullptr || within >= slot->length) {
      break;
    }
    const std::size_t count = std::min(length - copied, slot->length - within);
    std::memcpy(dest + copied, SlotBytes(index) + within, count);
    copied += count;
    offset += static_cast<std::int64_t>(count);
  }
  return copied;
}

LoadResult LoadD88(std::unique_ptr<ByteSource> source) {
  LoadResult result;
  auto image = std::make_unique<D88Image>();
  errno = 0;
  if (!image->Open(std::move(source))) {
    result.systemError = errno != 0 ? errno : EIO;
    return result;
  }
  result.image = std::move(image);
  return result;
}

}  // namespace

const ImageFormat kD88Format = {"D88", "d88 d77 d68 d98 88d 98d", IdentifyD88, LoadD88};

const char* MediaTypeName(int mediaType) {
  switch (mediaType) {
    case 0x00:
      return "2D";
    case 0x10:
      return "2DD";
    case 0x20:
      return "2HD";
    case 0x30:
      return "1D";
    case 0x40:
      return "1DD";
    default:
      return "unknown";
  }
}

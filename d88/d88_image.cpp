#include "d88/d88_image.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr int kNameOffset = 0x00;
constexpr int kMediaTypeOffset = 0x1B;
constexpr int kDiskSizeOffset = 0x1C;
constexpr int kTrackTableOffset = 0x20;

constexpr int kIdOffset = 0;  // C, H, R, N
constexpr int kSectorCountOffset = 4;
constexpr int kDataSizeOffset = 14;

constexpr std::int64_t kMaxOffset = std::numeric_limits<std::int32_t>::max();

// No read reaches further into a file than a disk offset plus a track offset
// (each below 2^31) plus a scan of 65535 sectors of at most 65535 bytes.
constexpr std::int64_t kMaxReach = std::int64_t{1} << 33;

constexpr std::uint32_t LoadLe16(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8U;
}

constexpr std::uint32_t LoadLe32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8U |
         static_cast<std::uint32_t>(p[2]) << 16U | static_cast<std::uint32_t>(p[3]) << 24U;
}

// Offsets and sizes are signed 32-bit values; a field of 2^31 and more reads
// as negative rather than wrapping through an implementation-defined cast.
constexpr std::int32_t ToSigned32(std::uint32_t value) {
  return value <= 0x7FFFFFFFU
             ? static_cast<std::int32_t>(value)
             : static_cast<std::int32_t>(static_cast<std::int64_t>(value) - 0x100000000LL);
}

}  // namespace

D88Image::~D88Image() { Close(); }

void D88Image::Close() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  file_size_ = 0;
  blocks_.clear();
  blocks_.shrink_to_fit();
  cached_bytes_ = 0;
}

bool D88Image::Open(const char* path) {
  Close();
  disk_count_ = 0;
  if (path == nullptr) {
    media_type_ = -1;
    return true;
  }
  stream_ = std::fopen(path, "rb");
  if (stream_ == nullptr) {
    return false;
  }
  // A disk selected in an earlier image means nothing in this one.
  disk_offset_ = -1;
  disk_size_ = 0;
  media_type_ = -1;
  std::memset(name_, 0, sizeof name_);
  // The blocks are the buffer: each is read straight into place.
  static_cast<void>(std::setvbuf(stream_, nullptr, _IONBF, 0));
  const long size = std::fseek(stream_, 0, SEEK_END) == 0 ? std::ftell(stream_) : -1L;
  if (size < 0) {
    Close();
    return false;
  }
  file_size_ = std::min<std::int64_t>(size, kMaxReach);
  blocks_.resize(static_cast<std::size_t>((file_size_ + kBlockSize - 1) / kBlockSize));

  std::int64_t offset = 0;
  while (disk_count_ < kMaxDisks) {
    directory_[disk_count_] = static_cast<std::int32_t>(offset);
    unsigned char header[kHeaderSize];
    if (ReadAt(offset, header, sizeof header) != sizeof header) {
      break;
    }
    const std::int64_t next = offset + ToSigned32(LoadLe32(header + kDiskSizeOffset));
    if (next < 0 || next > kMaxOffset) {
      break;
    }
    offset = next;
    ++disk_count_;
  }
  // A short read at the end of the file ends the directory; anything else
  // (a directory given as the path, a failing device) means the file cannot
  // be read at all.
  if (std::ferror(stream_) != 0) {
    Close();
    disk_count_ = 0;
    return false;
  }
  return true;
}

bool D88Image::SelectDisk(int index) {
  if (stream_ == nullptr) {
    return false;
  }
  disk_offset_ = -1;
  media_type_ = -1;
  disk_size_ = 0;
  std::memset(name_, 0, sizeof name_);
  if (index < 0 || index >= disk_count_) {
    return false;
  }
  unsigned char header[kHeaderSize];
  if (ReadAt(directory_[index], header, sizeof header) != sizeof header) {
    return false;
  }
  const unsigned char* entry = header + kTrackTableOffset;
  for (std::int32_t& track : tracks_) {
    track = ToSigned32(LoadLe32(entry));
    entry += 4;
  }
  media_type_ = header[kMediaTypeOffset];
  disk_size_ = ToSigned32(LoadLe32(header + kDiskSizeOffset));
  for (int i = 0; i < kNameLength && header[kNameOffset + i] != 0; ++i) {
    name_[i] = static_cast<char>(header[kNameOffset + i]);
  }
  disk_offset_ = directory_[index];
  return true;
}

void D88Image::SetSectorRange(int first, int last) {
  first_sector_ = first;
  last_sector_ = last;
}

const D88Image::Block* D88Image::LoadBlock(std::int64_t index) {
  Block& block = blocks_[static_cast<std::size_t>(index)];
  if (block.length > 0) {
    return &block;
  }
  if (cached_bytes_ + kBlockSize > kMaxCachedBytes) {
    // Past the limit, start afresh rather than keep track of use.
    for (Block& cached : blocks_) {
      cached.bytes.reset();
      cached.length = 0;
    }
    cached_bytes_ = 0;
  }
  if (!block.bytes) {
    block.bytes.reset(new (std::nothrow) unsigned char[kBlockSize]);
    if (!block.bytes) {
      return nullptr;
    }
    cached_bytes_ += kBlockSize;
  }
  if (std::fseek(stream_, static_cast<long>(index * kBlockSize), SEEK_SET) != 0) {
    return nullptr;
  }
  block.length = std::fread(block.bytes.get(), 1, static_cast<std::size_t>(kBlockSize), stream_);
  return block.length > 0 ? &block : nullptr;
}

// Copies what the file holds of [offset, offset + length) to dest; returns
// the bytes copied, fewer where the file ends.
std::size_t D88Image::ReadAt(std::int64_t offset, unsigned char* dest, std::size_t length) {
  std::size_t copied = 0;
  while (copied < length && offset >= 0 && offset < file_size_) {
    const Block* block = LoadBlock(offset / kBlockSize);
    const auto within = static_cast<std::size_t>(offset % kBlockSize);
    if (block == nullptr || within >= block->length) {
      break;
    }
    const std::size_t count = std::min(length - copied, block->length - within);
    std::memcpy(dest + copied, block->bytes.get() + within, count);
    copied += count;
    offset += static_cast<std::int64_t>(count);
  }
  return copied;
}

// Where the first sector header of a track lies in the file; -1 for an
// absent or out-of-range track, or when no disk is selected.
std::int64_t D88Image::TrackStart(int track) const {
  if (stream_ == nullptr || disk_offset_ < 0 || track < 0 || track >= kMaxTracks) {
    return -1;
  }
  const std::int32_t entry = tracks_[track];
  if (entry <= 0 || entry > disk_size_) {
    return -1;
  }
  return static_cast<std::int64_t>(disk_offset_) + entry;
}

bool D88Image::ReadSectorHeader(std::int64_t offset, SectorHeader& header) {
  // A scan may pass tens of thousands of headers: take them in place where
  // a header lies whole in a block that is already read.
  unsigned char copy[kSectorHeaderSize];
  const unsigned char* bytes = nullptr;
  if (offset >= 0 && offset < file_size_) {
    const Block& block = blocks_[static_cast<std::size_t>(offset / kBlockSize)];
    const auto within = static_cast<std::size_t>(offset % kBlockSize);
    if (block.length >= within + kSectorHeaderSize) {
      bytes = block.bytes.get() + within;
    }
  }
  if (bytes == nullptr) {
    if (ReadAt(offset, copy, sizeof copy) != sizeof copy) {
      return false;
    }
    bytes = copy;
  }
  header.c = bytes[kIdOffset];
  header.h = bytes[kIdOffset + 1];
  header.r = bytes[kIdOffset + 2];
  header.n = bytes[kIdOffset + 3];
  header.count = static_cast<int>(LoadLe16(bytes + kSectorCountOffset));
  header.size = static_cast<int>(LoadLe16(bytes + kDataSizeOffset));
  return true;
}

int D88Image::ReadSector(int track, int c, int h, int r, int n, unsigned char* dest,
                         int maxLength) {
  std::int64_t offset = TrackStart(track);
  if (dest == nullptr || maxLength < 0 || offset < 0) {
    return 0;
  }
  for (int i = 0;; ++i) {
    SectorHeader header{};
    if (!ReadSectorHeader(offset, header) || header.count == 0) {
      return 0;
    }
    offset += kSectorHeaderSize;
    if (header.c == c && header.h == h && header.r == r && header.n == n) {
      // A sector cut short by the end of the file counts only what it holds.
      const int length = std::min(header.size, maxLength);
      return static_cast<int>(ReadAt(offset, dest, static_cast<std::size_t>(length)));
    }
    offset += header.size;
    // Headers that disagree on the count must not carry the scan past the
    // position the current one names as the last.
    if (i >= header.count - 1) {
      return 0;
    }
  }
}

int D88Image::ReadSectors(int track, int c, int h, int r, int n, unsigned char* dest, int length) {
  if (dest == nullptr || length <= 0 || n < 0 || n > kMaxSizeCode) {
    return 0;
  }
  const int unit = 128 << n;
  int total = 0;
  while (total < length) {
    const int chunk = std::min(unit, length - total);
    if (ReadSector(track, c, h, r, n, dest + total, chunk) < chunk) {
      return total;
    }
    total += chunk;
    // Every value below matched a sector just now, so each is at most 255
    // and the steps cannot overflow.
    if (r == last_sector_) {
      ++track;
      if (h == 0) {
        h = 1;
      } else {
        h = 0;
        ++c;
      }
      r = first_sector_;
    } else {
      ++r;
    }
  }
  return total;
}

int D88Image::ReadSectorIds(int track, unsigned char* dest, int destLength) {
  std::int64_t offset = TrackStart(track);
  if (dest == nullptr || destLength < 0 || offset < 0) {
    return 0;
  }
  int written = 0;
  for (int i = 0; destLength - written >= 4; ++i) {
    SectorHeader header{};
    if (!ReadSectorHeader(offset, header)) {
      break;
    }
    dest[written] = static_cast<unsigned char>(header.c);
    dest[written + 1] = static_cast<unsigned char>(header.h);
    dest[written + 2] = static_cast<unsigned char>(header.r);
    dest[written + 3] = static_cast<unsigned char>(header.n);
    written += 4;
    offset += kSectorHeaderSize + header.size;
    // A count of 0 does not end this listing; the room in dest does.
    if (header.count > 0 && i >= header.count - 1) {
      break;
    }
  }
  return written;
}

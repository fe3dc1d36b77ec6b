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
  // Every sector read rescans its track from the start; a buffer that holds
  // several whole tracks keeps those rescans out of the operating system.
  // Should setvbuf refuse, the stream keeps its default buffer.
  static_cast<void>(std::setvbuf(stream_, stream_buffer_, _IOFBF, sizeof stream_buffer_));

  std::int64_t offset = 0;
  while (disk_count_ < kMaxDisks) {
    directory_[disk_count_] = static_cast<std::int32_t>(offset);
    unsigned char header[kHeaderSize];
    if (!SeekTo(offset)) {
      break;
    }
    if (std::fread(header, 1, sizeof header, stream_) != sizeof header) {
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
  if (!SeekTo(directory_[index]) ||
      std::fread(header, 1, sizeof header, stream_) != sizeof header) {
    return false;
  }
  for (int i = 0; i < kMaxTracks; ++i) {
    tracks_[i] = ToSigned32(LoadLe32(header + kTrackTableOffset + 4 * i));
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

bool D88Image::SeekTo(std::int64_t offset) {
  if (offset < 0 || offset > std::numeric_limits<long>::max()) {
    return false;
  }
  return std::fseek(stream_, static_cast<long>(offset), SEEK_SET) == 0;
}

// Positions the stream at the first sector header of a track that the
// selected disk's table gives; false for an absent or out-of-range track.
bool D88Image::SeekToTrack(int track) {
  if (stream_ == nullptr || disk_offset_ < 0 || track < 0 || track >= kMaxTracks) {
    return false;
  }
  const std::int32_t entry = tracks_[track];
  if (entry <= 0 || entry > disk_size_) {
    return false;
  }
  return SeekTo(static_cast<std::int64_t>(disk_offset_) + entry);
}

bool D88Image::ReadSectorHeader(SectorHeader& header) {
  unsigned char bytes[kSectorHeaderSize];
  if (std::fread(bytes, 1, sizeof bytes, stream_) != sizeof bytes) {
    return false;
  }
  header.c = bytes[kIdOffset];
  header.h = bytes[kIdOffset + 1];
  header.r = bytes[kIdOffset + 2];
  header.n = bytes[kIdOffset + 3];
  header.count = static_cast<int>(LoadLe16(bytes + kSectorCountOffset));
  header.size = static_cast<int>(LoadLe16(bytes + kDataSizeOffset));
  return true;
}

bool D88Image::SkipData(int size) {
  return size == 0 || std::fseek(stream_, size, SEEK_CUR) == 0;
}

int D88Image::ReadSector(int track, int c, int h, int r, int n, unsigned char* dest,
                         int maxLength) {
  if (dest == nullptr || maxLength < 0 || !SeekToTrack(track)) {
    return 0;
  }
  for (int i = 0;; ++i) {
    SectorHeader header{};
    if (!ReadSectorHeader(header) || header.count == 0) {
      return 0;
    }
    if (header.c == c && header.h == h && header.r == r && header.n == n) {
      const int length = std::min(header.size, maxLength);
      if (length == 0) {
        return 0;
      }
      // A sector cut short by the end of the file counts only what it holds.
      return static_cast<int>(std::fread(dest, 1, static_cast<std::size_t>(length), stream_));
    }
    // Headers that disagree on the count must not carry the scan past the
    // position the current one names as the last.
    if (!SkipData(header.size) || i >= header.count - 1) {
      return 0;
    }
  }
}

int D88Image::ReadSectors(int track, int c, int h, int r, int n, unsigned char* dest,
                          int length) {
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
  if (dest == nullptr || destLength < 0 || !SeekToTrack(track)) {
    return 0;
  }
  int written = 0;
  for (int i = 0; destLength - written >= 4; ++i) {
    SectorHeader header{};
    if (!ReadSectorHeader(header)) {
      break;
    }
    dest[written] = static_cast<unsigned char>(header.c);
    dest[written + 1] = static_cast<unsigned char>(header.h);
    dest[written + 2] = static_cast<unsigned char>(header.r);
    dest[written + 3] = static_cast<unsigned char>(header.n);
    written += 4;
    // A count of 0 does not end this listing; the room in dest does.
    if (!SkipData(header.size) || (header.count > 0 && i >= header.count - 1)) {
      break;
    }
  }
  return written;
}

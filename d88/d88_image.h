// Reader for D88 floppy-disk image files.
//
// A D88 file holds disk images back to back. Disk k + 1 starts where disk k
// starts plus disk k's size field. All fields are little-endian.
//
//   Disk header, 0x2B0 bytes:
//     0x00  16  disk name, NUL-padded text
//     0x10  11  (write protect, density, reserved: not read)
//     0x1B   1  media type (0x00 2D, 0x10 2DD, 0x20 2HD, ...)
//     0x1C   4  disk size in bytes, header included
//     0x20 656  164 track offsets, 4 bytes each, from the disk's start; 0 = none
//
//   Sector header, 16 bytes, followed at once by the sector's data:
//     0  C  cylinder        4  2  number of sectors in the track
//     1  H  head            6  8  (density, deleted mark, status, reserved)
//     2  R  sector number  14  2  size of the data that follows
//     3  N  size code (nominal data size 128 << N)
#ifndef ZEFACUT_D88_D88_IMAGE_H
#define ZEFACUT_D88_D88_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

class D88Image {
 public:
  static constexpr int kHeaderSize = 0x2B0;
  static constexpr int kMaxTracks = 164;
  static constexpr int kMaxDisks = 64;
  static constexpr int kSectorHeaderSize = 16;
  static constexpr int kNameLength = 16;
  static constexpr int kMaxSizeCode = 8;  // 32 KiB, the largest a 16-bit data size holds
  // Every sector read scans its track from the start. The bytes the reader
  // has read stay in blocks of this size, up to kMaxCachedBytes, so that
  // scanning a track again does not go back to the operating system.
  static constexpr std::int64_t kBlockSize = std::int64_t{16} << 10;
  static constexpr std::int64_t kMaxCachedBytes = std::int64_t{128} << 20;

  D88Image() = default;
  ~D88Image();
  D88Image(const D88Image&) = delete;
  D88Image& operator=(const D88Image&) = delete;

  // Opens the image and finds its disks; a null path closes the image.
  // False when the file cannot be opened or cannot be read as a file.
  bool Open(const char* path);
  int DiskCount() const { return disk_count_; }
  // Loads disk `index`'s header. Any failure leaves no disk selected.
  bool SelectDisk(int index);
  // Sector numbers a track starts and ends with, for ReadSectors' stepping.
  void SetSectorRange(int first, int last);

  // Copies at most maxLength data bytes of the sector with ID (c, h, r, n) in
  // track `track` of the selected disk to dest; returns the bytes copied,
  // 0 when the sector is not there.
  int ReadSector(int track, int c, int h, int r, int n, unsigned char* dest, int maxLength);
  // Reads `length` bytes from consecutive sectors starting at (c, h, r, n),
  // stepping r through the sector range, then head, then cylinder (track =
  // 2 * cylinder + head). Returns the bytes of the chunks read whole.
  int ReadSectors(int track, int c, int h, int r, int n, unsigned char* dest, int length);
  // Writes each sector's 4-byte ID (C, H, R, N) in track order; returns the
  // bytes written.
  int ReadSectorIds(int track, unsigned char* dest, int destLength);

  const char* DiskName() const { return name_; }
  int MediaType() const { return media_type_; }
  // Where the selected disk starts in the file, its size field, and the
  // offset its track table gives for `track` (0 for a track out of range).
  // For listings; meaningful once SelectDisk has succeeded.
  int DiskOffset() const { return disk_offset_; }
  int DiskSize() const { return disk_size_; }
  int TrackOffset(int track) const {
    return disk_offset_ >= 0 && track >= 0 && track < kMaxTracks ? tracks_[track] : 0;
  }

 private:
  struct SectorHeader {
    int c;
    int h;
    int r;
    int n;
    int count;
    int size;
  };

  struct Block {
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t length = 0;  // 0 = not read yet
  };

  void Close();
  const Block* LoadBlock(std::int64_t index);
  std::size_t ReadAt(std::int64_t offset, unsigned char* dest, std::size_t length);
  std::int64_t TrackStart(int track) const;
  bool ReadSectorHeader(std::int64_t offset, SectorHeader& header);

  std::FILE* stream_ = nullptr;
  std::int64_t file_size_ = 0;
  std::vector<Block> blocks_;
  std::int64_t cached_bytes_ = 0;
  std::int32_t disk_count_ = 0;
  std::int32_t first_sector_ = 1;
  std::int32_t last_sector_ = 16;
  std::int32_t directory_[kMaxDisks] = {};
  std::int32_t disk_size_ = 0;
  std::int32_t disk_offset_ = 0;
  std::int32_t tracks_[kMaxTracks] = {};
  std::int32_t media_type_ = -1;
  char name_[kNameLength + 1] = {};
};

#endif  // ZEFACUT_D88_D88_IMAGE_H

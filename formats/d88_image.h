// Reader for D88 floppy-disk image files (also spelt .d77, .d68, .d98, .88d).
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
//     1  H  head            6  1  density: 0x00 MFM, 0x40 FM
//     2  R  sector number   7  1  deleted mark: 0x10 deleted data
//     3  N  size code       8  1  status: 0x10 deleted, 0xA0 ID CRC error,
//                                 0xB0 data CRC error, 0xE0 no address mark,
//                                 0xF0 no data mark
//                           9  5  (reserved)
//                          14  2  size of the data that follows
//
// D88Image gives the image as the neutral model (DiskImage) and keeps the
// reader's own interface of one selected disk beside it.
#ifndef ZEFACUT_FORMATS_D88_IMAGE_H
#define ZEFACUT_FORMATS_D88_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "disk/model.h"
#include "formats/byte_source.h"
#include "formats/image_format.h"

class D88Image : public DiskImage {
 public:
  static constexpr int kHeaderSize = 0x2B0;
  static constexpr int kMaxDisks = 64;
  static constexpr int kSectorHeaderSize = 16;
  static constexpr int kNameLength = 16;
  static constexpr int kMaxSizeCode = 8;  // 32 KiB, the largest a 16-bit data size holds
  // The file is read in blocks of this size, kept in kBlockSlots slots by
  // block index, so that the sector headers of a track are taken in place
  // and the data of its sectors read again from memory; the same slots are
  // used again and again however large the file.
  static constexpr std::int64_t kBlockSize = std::int64_t{16} << 10;
  static constexpr std::size_t kBlockSlots = 256;
  // Parsed tracks are kept up to this many sectors in all.
  static constexpr std::size_t kMaxCachedSectors = std::size_t{1} << 18;

  D88Image() = default;
  ~D88Image() override;

  // Opens the image and finds its disks; a null path closes the image.
  // False when the file cannot be opened or cannot be read as a file.
  bool Open(const char* path);
  // Opens the image held by a source (a file, or an archive member in
  // memory); false for a null source or one that cannot be read.
  bool Open(std::unique_ptr<ByteSource> source);

  // The neutral model.
  ImageInfo DescribeImage() const override;
  int DiskCount() const override { return static_cast<int>(disks_.size()); }
  DiskInfo Describe(int disk) const override;
  std::shared_ptr<const Track> ReadTrack(int disk, int track) override;
  std::size_t ReadData(const Sector& sector, unsigned char* dest, std::size_t length) override;

  // The reader's interface of one selected disk.
  //
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
  // bytes written. Unlike a read by ID, a count field of 0 does not end this
  // listing: the room in dest does.
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
    SectorId id;
    int count;
    int size;
    SectorFlags flags;
    bool singleDensity;
  };

  struct Block {
    std::int64_t index = -1;  // which block of the file the slot holds
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t length = 0;  // 0 = not read yet
  };

  // A disk header as Open read it.
  struct Header {
    std::int32_t offset = 0;
    std::int32_t size = 0;
    int mediaType = 0;
    char name[kNameLength + 1] = {};
    std::int32_t tracks[kMaxTracks] = {};
  };

  void Close();
  const Block* LoadBlock(std::int64_t index);
  const Block* CachedBlock(std::int64_t index) const;
  std::size_t ReadAt(std::int64_t offset, unsigned char* dest, std::size_t length);
  bool ReadSectorHeader(std::int64_t offset, SectorHeader& header);
  std::int64_t TrackStart(int disk, int track) const;
  std::shared_ptr<const Track> ParseTrack(std::int64_t start);

  std::unique_ptr<ByteSource> source_;
  std::int64_t file_size_ = 0;
  std::vector<Block> blocks_;
  std::vector<Header> disks_;
  // How the walk over the disks ended.
  std::optional<std::int64_t> bytes_after_;
  std::optional<int> zero_size_disk_;
  bool more_disks_ = false;
  // Parsed tracks by where they start in the file: track entries that point
  // at the same place share one parse.
  std::map<std::int64_t, std::shared_ptr<const Track>> parsed_;
  std::size_t parsed_sectors_ = 0;

  // The selected disk.
  std::int32_t first_sector_ = 1;
  std::int32_t last_sector_ = 16;
  int selected_ = -1;
  std::int32_t disk_size_ = 0;
  std::int32_t disk_offset_ = 0;
  std::int32_t tracks_[kMaxTracks] = {};
  std::int32_t media_type_ = -1;
  char name_[kNameLength + 1] = {};
};

extern const ImageFormat kD88Format;

#endif  // ZEFACUT_FORMATS_D88_IMAGE_H

// The image that the readers of every format but D88 build: disks whose
// tracks are made once, at load, from the format's own records, over sector
// data held in memory.
//
// A reader loads the file (or the decoded bitstream) into Data(), adds its
// disks, and sets each track's sectors with Sector::location giving where
// the sector's data starts in Data() and Sector::size how many bytes of it
// are there. SetTrack checks that every sector lies inside Data(); a reader
// need not trust its own arithmetic for that.
//
// A reader whose sectors lie in the file as they are (the flat formats) can
// leave them there instead: after ReadInPlace(source), a location below the
// source's size is an offset in the file, read when a sector is asked for,
// and a location from there on is Data()[location - that size].
#ifndef ZEFACUT_FORMATS_SECTOR_IMAGE_H
#define ZEFACUT_FORMATS_SECTOR_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "disk/model.h"
#include "input/byte_source.h"

class SectorImage : public DiskImage {
 public:
  // `format` names the format for messages and listings; it must outlive the
  // image (a string literal).
  SectorImage(const char* format, std::int64_t fileSize) : format_(format), file_size_(fileSize) {}

  // The bytes sectors' locations point into.
  std::vector<unsigned char>& Data() { return data_; }
  const std::vector<unsigned char>& Data() const { return data_; }

  // Reads sector data from `source` itself from now on (above); call it
  // before SetTrack.
  void ReadInPlace(std::unique_ptr<ByteSource> source);

  // Adds a disk with what its header records; returns its index.
  int AddDisk(DiskInfo info);
  // Sets the sectors of a track of a disk, in recorded order. A sector
  // whose data would lie outside Data() keeps only the part inside it (its
  // size shrinks; recordedSize stays). False for a disk or track out of
  // range. `cutShort` tells that the file ends inside the track's records;
  // a sector clipped here or by the reader tells it without.
  bool SetTrack(int disk, int track, std::vector<Sector> sectors,
                std::optional<TrackCutShort> cutShort = std::nullopt);
  // Bytes of the file after what the format's records cover.
  void SetBytesAfterLastDisk(std::int64_t bytes) { bytes_after_ = bytes; }
  // What the file's records get wrong, or what of it is not read (ImageInfo).
  void AddFault(std::string fault) { faults_.push_back(std::move(fault)); }
  // How the reader took a layout the file does not state (ImageInfo).
  void SetLayout(std::string layout) { layout_ = std::move(layout); }

  ImageInfo DescribeImage() const override;
  int DiskCount() const override { return static_cast<int>(disks_.size()); }
  DiskInfo Describe(int disk) const override;
  std::shared_ptr<const Track> ReadTrack(int disk, int track) override;
  std::size_t ReadData(const Sector& sector, unsigned char* dest, std::size_t length) override;

 private:
  struct Disk {
    DiskInfo info;
    std::vector<std::shared_ptr<const Track>> tracks;  // by track index
  };

  // The bytes a location names: the file's in place, then Data()'s.
  std::int64_t Held() const { return in_place_ + static_cast<std::int64_t>(data_.size()); }

  const char* format_;
  std::unique_ptr<ByteSource> source_;
  std::int64_t in_place_ = 0;
  std::int64_t file_size_;
  std::optional<std::int64_t> bytes_after_;
  std::vector<std::string> faults_;
  std::string layout_;
  std::vector<unsigned char> data_;
  std::vector<Disk> disks_;
};

// A number with its thousands grouped by commas, for faults: "51,234".
std::string GroupedDigits(std::int64_t value);

// The fault of an image that holds tracks past the model's last:
// "the image holds 168 tracks; tracks past 171 are not read".
std::string TracksPastLimit(int held);

#endif  // ZEFACUT_FORMATS_SECTOR_IMAGE_H

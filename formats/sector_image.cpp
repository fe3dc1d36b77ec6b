#include "formats/sector_image.h"

#include <algorithm>
#include <cstring>

void SectorImage::ReadInPlace(std::unique_ptr<ByteSource> source) {
  source_ = std::move(source);
  in_place_ = source_ ? std::max<std::int64_t>(source_->Size(), 0) : 0;
}

int SectorImage::AddDisk(DiskInfo info) {
  Disk disk;
  disk.info = std::move(info);
  disk.tracks.resize(kMaxTracks);
  disks_.push_back(std::move(disk));
  return static_cast<int>(disks_.size()) - 1;
}

bool SectorImage::SetTrack(int disk, int track, std::vector<Sector> sectors,
                           std::optional<TrackCutShort> cutShort) {
  if (!HasTrack(disk, track, kMaxTracks)) {
    return false;
  }
  const std::int64_t held = Held();
  for (Sector& sector : sectors) {
    if (sector.location < 0 || sector.location > held) {
      sector.location = held;
      sector.size = 0;
    }
    // A sector in the file ends where the file does, not in Data().
    const std::int64_t end = sector.location < in_place_ ? in_place_ : held;
    sector.size =
        static_cast<std::uint32_t>(std::min<std::int64_t>(sector.size, end - sector.location));
  }
  disks_[static_cast<std::size_t>(disk)].tracks[static_cast<std::size_t>(track)] =
      std::make_shared<const Track>(std::move(sectors), std::nullopt, cutShort);
  return true;
}

ImageInfo SectorImage::DescribeImage() const {
  ImageInfo info;
  info.format = format_;
  info.fileSize = file_size_;
  info.bytesAfterLastDisk = bytes_after_;
  info.faults = faults_;
  info.layout = layout_;
  return info;
}

DiskInfo SectorImage::Describe(int disk) const {
  if (!HasDisk(disk)) {
    return {};
  }
  return disks_[static_cast<std::size_t>(disk)].info;
}

std::shared_ptr<const Track> SectorImage::ReadTrack(int disk, int track) {
  if (!HasTrack(disk, track, kMaxTracks)) {
    return nullptr;
  }
  return disks_[static_cast<std::size_t>(disk)].tracks[static_cast<std::size_t>(track)];
}

std::size_t SectorImage::ReadData(const Sector& sector, unsigned char* dest, std::size_t length) {
  // SetTrack kept every sector inside the data; a sector from elsewhere is
  // checked again rather than trusted.
  if (dest == nullptr || sector.location < 0 || sector.location > Held()) {
    return 0;
  }
  if (sector.location < in_place_) {
    const std::size_t count = std::min<std::size_t>(
        {length, sector.size, static_cast<std::size_t>(in_place_ - sector.location)});
    return source_->ReadAt(sector.location, dest, count);
  }
  const std::int64_t at = sector.location - in_place_;
  const std::size_t count = std::min<std::size_t>(
      {length, sector.size, static_cast<std::size_t>(Held() - sector.location)});
  if (count > 0) {
    std::memcpy(dest, data_.data() + at, count);
  }
  return count;
}

std::string GroupedDigits(std::int64_t value) {
  std::string digits = std::to_string(value);
  const std::size_t first = digits[0] == '-' ? 1 : 0;
  for (std::size_t at = digits.size(); at > first + 3; at -= 3) {
    digits.insert(at - 3, 1, ',');
  }
  return digits;
}

std::string TracksPastLimit(int held) {
  return "the image holds " + std::to_string(held) + " tracks; tracks past " +
         std::to_string(DiskImage::kMaxTracks - 1) + " are not read";
}

#include "formats/sector_image.h"

#include <algorithm>
#include <cstring>

int SectorImage::AddDisk(DiskInfo info) {
  Disk disk;
  disk.info = std::move(info);
  disk.tracks.resize(kMaxTracks);
  disks_.push_back(std::move(disk));
  return static_cast<int>(disks_.size()) - 1;
}

bool SectorImage::SetTrack(int disk, int track, std::vector<Sector> sectors) {
  if (disk < 0 || disk >= DiskCount() || track < 0 || track >= kMaxTracks) {
    return false;
  }
  const auto held = static_cast<std::int64_t>(data_.size());
  for (Sector& sector : sectors) {
    if (sector.location < 0 || sector.location > held) {
      sector.location = held;
      sector.size = 0;
    }
    sector.size =
        static_cast<std::uint32_t>(std::min<std::int64_t>(sector.size, held - sector.location));
  }
  disks_[static_cast<std::size_t>(disk)].tracks[static_cast<std::size_t>(track)] =
      std::make_shared<const Track>(std::move(sectors));
  return true;
}

ImageInfo SectorImage::DescribeImage() const {
  ImageInfo info;
  info.format = format_;
  info.fileSize = file_size_;
  info.bytesAfterLastDisk = bytes_after_;
  return info;
}

DiskInfo SectorImage::Describe(int disk) const {
  if (disk < 0 || disk >= DiskCount()) {
    return {};
  }
  return disks_[static_cast<std::size_t>(disk)].info;
}

std::shared_ptr<const Track> SectorImage::ReadTrack(int disk, int track) {
  if (disk < 0 || disk >= DiskCount() || track < 0 || track >= kMaxTracks) {
    return nullptr;
  }
  return disks_[static_cast<std::size_t>(disk)].tracks[static_cast<std::size_t>(track)];
}

std::size_t SectorImage::ReadData(const Sector& sector, unsigned char* dest, std::size_t length) {
  // SetTrack kept every sector inside the data; a sector from elsewhere is
  // checked again rather than trusted.
  const auto held = static_cast<std::int64_t>(data_.size());
  if (dest == nullptr || sector.location < 0 || sector.location > held) {
    return 0;
  }
  const std::size_t count = std::min<std::size_t>(
      {length, sector.size, static_cast<std::size_t>(held - sector.location)});
  if (count > 0) {
    std::memcpy(dest, data_.data() + sector.location, count);
  }
  return count;
}

// Raw flat image: no header, nothing but sector data. A 2HD disk is
// 1,261,568 bytes: cylinder 0 head 0 sectors 1-8 of 1024 bytes, then head 1,
// then cylinder 1, and so on; sector R of track T (2 x cylinder + head) at
// (T x 8 + R - 1) x 1024.
//
// Nothing in the file says it is one, so it is recognised by that exact
// size alone, and only when no format with a header claims the file.
#include "formats/raw_image.h"

#include <utility>

#include "formats/sector_image.h"

namespace {

constexpr int kCylinders = 77;
constexpr int kHeads = 2;
constexpr int kSectors = 8;
constexpr int kSizeCode = 3;  // 1024 bytes
constexpr std::int64_t kTrackBytes = std::int64_t{kSectors} * (128 << kSizeCode);

Confidence Identify(const ImageProbe& probe) {
  return probe.size == kRawImageSize ? kBySize : kNotThisFormat;
}

LoadResult Load(std::unique_ptr<ByteSource> source) {
  LoadResult result;
  auto image = std::make_unique<SectorImage>(kRawFormat.name, source->Size());
  const std::int64_t held = source->Size();
  // The sectors are read from the file when asked for.
  image->ReadInPlace(std::move(source));
  // No header claims a geometry: the claimed geometry stays empty.
  const int disk = image->AddDisk(DiskInfo{});
  for (int track = 0; track < kCylinders * kHeads; ++track) {
    const std::int64_t start = track * kTrackBytes;
    if (start >= held) {
      break;  // a file cut short has no tracks past its end
    }
    image->SetTrack(disk, track,
                    FlatTrack(start, track / kHeads, track % kHeads, 1, kSectors, kSizeCode));
  }
  if (held > kRawImageSize) {
    image->SetBytesAfterLastDisk(held - kRawImageSize);
  }
  result.image = std::move(image);
  return result;
}

}  // namespace

const ImageFormat kRawFormat = {"raw", "hdm xdf 2hd tfd img ima", Identify, Load};

std::vector<Sector> FlatTrack(std::int64_t start, int c, int h, int firstR, int count,
                              int sizeCode) {
  const auto bytes = static_cast<std::uint32_t>(128U << static_cast<unsigned>(sizeCode));
  std::vector<Sector> sectors;
  sectors.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    Sector sector;
    sector.id = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(h),
                 static_cast<std::uint8_t>(firstR + i), static_cast<std::uint8_t>(sizeCode)};
    sector.recordedSize = bytes;
    sector.size = bytes;
    sector.location = start + static_cast<std::int64_t>(i) * bytes;
    sectors.push_back(sector);
  }
  return sectors;
}

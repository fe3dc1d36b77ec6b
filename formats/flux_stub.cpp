// STUB, for this branch only: stands in for formats/flux.cpp (the flux
// decoder) until it is merged, so that the KryoFlux reader links. It decodes
// no sector: every track read reads empty, with the faults of its flux.
// Drop this file (and its line in CMakeLists.txt) when flux.cpp lands.
#include <utility>

#include "formats/flux.h"

DecodedFluxTrack DecodeFluxTrack(const FluxTrack& flux) {
  DecodedFluxTrack decoded;
  decoded.reading.revolutions =
      flux.indexes.size() > 1 ? static_cast<int>(flux.indexes.size() - 1) : 0;
  decoded.reading.faults = flux.faults;
  return decoded;
}

namespace {

class StubFluxImage : public DiskImage {
 public:
  StubFluxImage(const char* format, std::int64_t fileSize, DiskInfo info,
                std::unique_ptr<FluxSource> source)
      : format_(format), size_(fileSize), info_(std::move(info)), source_(std::move(source)) {}

  ImageInfo DescribeImage() const override {
    ImageInfo info;
    info.format = format_;
    info.fileSize = size_;
    return info;
  }
  int DiskCount() const override { return 1; }
  DiskInfo Describe(int /*disk*/) const override { return info_; }
  std::shared_ptr<const Track> ReadTrack(int disk, int track) override {
    FluxTrack flux;
    if (disk != 0 || track < 0 || track >= DiskImage::kMaxTracks ||
        !source_->ReadFlux(track, flux)) {
      return nullptr;
    }
    DecodedFluxTrack decoded = DecodeFluxTrack(flux);
    return std::make_shared<Track>(std::move(decoded.sectors), std::move(decoded.reading));
  }
  std::size_t ReadData(const Sector& /*sector*/, unsigned char* /*dest*/,
                       std::size_t /*length*/) override {
    return 0;
  }

 private:
  const char* format_;
  std::int64_t size_;
  DiskInfo info_;
  std::unique_ptr<FluxSource> source_;
};

}  // namespace

std::unique_ptr<DiskImage> MakeFluxImage(const char* format, std::int64_t fileSize, DiskInfo info,
                                         std::unique_ptr<FluxSource> source) {
  return std::make_unique<StubFluxImage>(format, fileSize, std::move(info), std::move(source));
}

#include "support/format_test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "flux/mfi_image.h"
#include "formats/image_format.h"
#include "input/byte_source.h"

OpenedImage Open(const Bytes& bytes) { return OpenImage(MemorySource(bytes)); }

std::string IdentifiedFormat(const Bytes& bytes) {
  const ImageFormat* format = IdentifyImage(ProbeOf(bytes.data(), bytes.size()));
  return format == nullptr ? "" : format->name;
}

Bytes ReadSector(DiskImage& image, const Sector& sector) {
  constexpr std::size_t kSlack = 16;
  constexpr std::uint8_t kUntouched = 0xA5;
  Bytes bytes(std::size_t{sector.size} + kSlack, kUntouched);
  const std::size_t copied = image.ReadData(sector, bytes.data(), bytes.size());
  EXPECT_EQ(copied, sector.size) << "bytes read of a sector";
  bytes.resize(std::min(copied, bytes.size()));
  return bytes;
}

void PutLe16(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 2; ++i) {
    bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

void PutLe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

bool ReadInThisBuild(WrittenFormat format) {
  return format != WrittenFormat::kMfi || kMfiFormat.load != nullptr;
}

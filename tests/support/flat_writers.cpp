// Writers of the flat formats: raw, FDI and DIM. Each lays the disk's tracks
// 0..153 flat, 8 sectors of 1024 bytes by R (LinearBytes), behind its header.
#include <cstring>

#include "support/format_writers.h"

namespace {

void PutLe32(Bytes& out, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

Bytes Behind(Bytes header, const DiskSpec& disk) {
  const Bytes data = LinearBytes(disk, kFlatTracks);
  header.insert(header.end(), data.begin(), data.end());
  return header;
}

}  // namespace

Bytes BuildRaw(const DiskSpec& disk) { return LinearBytes(disk, kFlatTracks); }

Bytes BuildFdi(const DiskSpec& disk) {
  constexpr std::uint32_t kHeaderSize = 4096;
  constexpr std::uint32_t kDrive2hd = 0x90;
  Bytes header(kHeaderSize);
  PutLe32(header, 0x04, kDrive2hd);
  PutLe32(header, 0x08, kHeaderSize);
  PutLe32(header, 0x0C, std::uint32_t{kFlatTracks} * kFlatSectors * kFlatSectorSize);
  PutLe32(header, 0x10, kFlatSectorSize);
  PutLe32(header, 0x14, kFlatSectors);
  PutLe32(header, 0x18, kFlatHeads);
  PutLe32(header, 0x1C, kFlatCylinders);
  return Behind(header, disk);
}

Bytes BuildDim(const DiskSpec& disk) {
  constexpr char kSignature[] = "DIFC HEADER  ";
  Bytes header(256);
  header[0] = 0;  // 8 x 1024
  for (int track = 0; track < kFlatTracks; ++track) {
    header[1 + static_cast<std::size_t>(track)] = disk.tracks.count(track) != 0 ? 1 : 0;
  }
  std::memcpy(header.data() + 0xAB, kSignature, sizeof kSignature - 1);
  return Behind(header, disk);
}

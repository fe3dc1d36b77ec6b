// Writers of the flat formats: raw, FDI and DIM. Each lays the disk's tracks
// 0..153 flat, 8 sectors of 1024 bytes by R (LinearBytes), behind its header.
#include <cstring>

#include "testkit/format_writers.h"

namespace {

void PutLe32(Bytes& out, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

void Put16(Bytes& out, std::size_t at, std::uint32_t value) {
  out[at] = static_cast<std::uint8_t>(value & 0xFFU);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8U & 0xFFU);
}

Bytes Behind(Bytes header, const DiskSpec& disk) {
  const Bytes data = LinearBytes(disk, kFlatTracks);
  header.insert(header.end(), data.begin(), data.end());
  return header;
}

}  // namespace

Bytes BuildRaw(const DiskSpec& disk) { return LinearBytes(disk, kFlatTracks); }

Bytes FlatSectorBytes(int c, int h, int r, int size) {
  Bytes bytes(static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(c) * 31 +
                                         static_cast<std::size_t>(h) * 101 +
                                         static_cast<std::size_t>(r) * 13 + (i >> 8U));
  }
  return bytes;
}

Bytes BuildRawOf(const RawGeometry& geometry, const RawGeometry* bpb) {
  Bytes out;
  for (int c = 0; c < geometry.cylinders; ++c) {
    for (int h = 0; h < geometry.heads; ++h) {
      for (int r = 1; r <= geometry.sectors; ++r) {
        const Bytes sector = FlatSectorBytes(c, h, r, geometry.sectorSize);
        out.insert(out.end(), sector.begin(), sector.end());
      }
    }
  }
  if (bpb != nullptr && out.size() >= 512) {
    const std::uint32_t total =
        static_cast<std::uint32_t>(out.size() / static_cast<std::size_t>(bpb->sectorSize));
    const std::uint8_t boot[] = {0xEB, 0x3C, 0x90, 'Z', 'E', 'F', 'A', 'C', 'U', 'T', ' '};
    std::memcpy(out.data(), boot, sizeof boot);
    Put16(out, 0x0B, static_cast<std::uint32_t>(bpb->sectorSize));
    out[0x0D] = 1;        // sectors per cluster
    Put16(out, 0x0E, 1);  // reserved sectors
    out[0x10] = 2;        // FATs
    Put16(out, 0x11, 224);
    Put16(out, 0x13, total <= 0xFFFF ? total : 0);
    out[0x15] = 0xF0;
    Put16(out, 0x16, 9);
    Put16(out, 0x18, static_cast<std::uint32_t>(bpb->sectors));
    Put16(out, 0x1A, static_cast<std::uint32_t>(bpb->heads));
    PutLe32(out, 0x20, total <= 0xFFFF ? 0 : total);
  }
  return out;
}

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

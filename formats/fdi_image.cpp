// FDI image (Anex86): a header of eight 32-bit little-endian fields, then the
// sector data laid flat from the header size on.
//
//   0x00  reserved, 0            0x10  sector size (128 << n)
//   0x04  drive type (0x90 2HD,  0x14  sectors per track
//         0x30 1.44M, 0x10 2DD)  0x18  heads
//   0x08  header size (4096)     0x1C  cylinders
//   0x0C  data size
//
// Sector R of cylinder C head H lies at header size + ((C x heads + H) x
// sectors + R - 1) x sector size; its ID is (C, H, R, n). A file that ends
// before its data does is read as far as it holds.
#include "formats/fdi_image.h"

#include <string>
#include <utility>

#include "disk/le_fields.h"
#include "formats/raw_image.h"
#include "formats/sector_image.h"

namespace {

constexpr std::size_t kFieldsSize = 32;
constexpr int kReservedOffset = 0x00;
constexpr int kDriveTypeOffset = 0x04;
constexpr int kHeaderSizeOffset = 0x08;
constexpr int kDataSizeOffset = 0x0C;
constexpr int kSectorSizeOffset = 0x10;
constexpr int kSectorsOffset = 0x14;
constexpr int kHeadsOffset = 0x18;
constexpr int kCylindersOffset = 0x1C;

// The header size Anex86 writes, and the drive types it knows.
constexpr std::uint32_t kUsualHeaderSize = 4096;
constexpr std::uint32_t kDriveTypes[] = {0x10, 0x30, 0x90};

constexpr int kMaxSizeCode = 7;  // 16 KiB
constexpr std::uint32_t kMaxSectors = 64;
constexpr std::uint32_t kMaxHeads = 2;
constexpr std::uint32_t kMaxCylinders = DiskImage::kMaxTracks / 2;

struct Header {
  std::uint32_t reserved;
  std::uint32_t driveType;
  std::uint32_t headerSize;
  std::uint32_t dataSize;
  std::uint32_t sectorSize;
  std::uint32_t sectors;
  std::uint32_t heads;
  std::uint32_t cylinders;
};

Header ReadHeader(const unsigned char* bytes) {
  return {LoadLe32(bytes + kReservedOffset),   LoadLe32(bytes + kDriveTypeOffset),
          LoadLe32(bytes + kHeaderSizeOffset), LoadLe32(bytes + kDataSizeOffset),
          LoadLe32(bytes + kSectorSizeOffset), LoadLe32(bytes + kSectorsOffset),
          LoadLe32(bytes + kHeadsOffset),      LoadLe32(bytes + kCylindersOffset)};
}

// The size code of a sector size, or -1 when the size is no 128 << n.
int SizeCode(std::uint32_t sectorSize) {
  for (int n = 0; n <= kMaxSizeCode; ++n) {
    if (sectorSize == 128U << static_cast<unsigned>(n)) {
      return n;
    }
  }
  return -1;
}

bool SaneGeometry(const Header& header) {
  return header.reserved == 0 && header.headerSize >= kFieldsSize &&
         SizeCode(header.sectorSize) >= 0 && header.sectors >= 1 && header.sectors <= kMaxSectors &&
         header.heads >= 1 && header.heads <= kMaxHeads && header.cylinders >= 1 &&
         header.cylinders <= kMaxCylinders;
}

// Each factor is small once the geometry is sane: no overflow.
std::int64_t SectorBytes(const Header& header) {
  return std::int64_t{header.sectorSize} * header.sectors * header.heads * header.cylinders;
}

bool Consistent(const Header& header, std::int64_t fileSize) {
  return SaneGeometry(header) && header.dataSize == SectorBytes(header) &&
         std::int64_t{header.headerSize} + header.dataSize == fileSize;
}

// A header whose sizes disagree with the file but that is FDI beyond doubt:
// the header size and a drive type Anex86 writes, and a sane geometry. Such
// a file is taken for FDI so that loading says what is wrong with it, rather
// than it being read as something else.
bool ClearlyFdi(const Header& header) {
  bool knownDrive = false;
  for (const std::uint32_t type : kDriveTypes) {
    knownDrive = knownDrive || header.driveType == type;
  }
  return knownDrive && header.headerSize == kUsualHeaderSize && SaneGeometry(header);
}

Confidence Identify(const ImageProbe& probe) {
  if (probe.length < kFieldsSize) {
    return kNotThisFormat;
  }
  const Header header = ReadHeader(probe.head);
  if (Consistent(header, probe.size)) {
    return kConsistentHeader;
  }
  return ClearlyFdi(header) ? kPlausibleHeader : kNotThisFormat;
}

// Why the header cannot be read over a file of `fileSize` bytes; empty when
// it can.
std::string HeaderError(const Header& header, std::int64_t fileSize) {
  if (!SaneGeometry(header)) {
    return "the header gives no usable geometry (" + std::to_string(header.cylinders) +
           " cylinders, " + std::to_string(header.heads) + " heads, " +
           std::to_string(header.sectors) + " sectors of " + std::to_string(header.sectorSize) +
           " bytes)";
  }
  if (header.dataSize != SectorBytes(header)) {
    return "the header gives " + std::to_string(header.dataSize) +
           " bytes of data but its geometry makes " + std::to_string(SectorBytes(header));
  }
  if (header.headerSize > fileSize) {
    return "the header size (" + std::to_string(header.headerSize) +
           " bytes) is beyond the end of the file (" + std::to_string(fileSize) + " bytes)";
  }
  // Data that the file cuts short is read as far as it holds: its tracks
  // tell it, and the cuts that reach past it warn.
  return {};
}

LoadResult Load(std::unique_ptr<ByteSource> source) {
  LoadResult result;
  auto image = std::make_unique<SectorImage>(kFdiFormat.name, source->Size());
  std::vector<unsigned char> bytes;
  if (!LoadHead(*source, kFieldsSize, bytes, result)) {
    return result;
  }
  const std::int64_t fileSize = source->Size();
  // The sectors are read from the file when asked for.
  image->ReadInPlace(std::move(source));
  if (bytes.size() < kFieldsSize) {
    result.error =
        "the file is shorter than an FDI header (" + std::to_string(fileSize) + " bytes)";
    return result;
  }
  const Header header = ReadHeader(bytes.data());
  result.error = HeaderError(header, fileSize);
  if (!result.error.empty()) {
    return result;
  }
  DiskInfo info;
  info.claimed.cylinders = static_cast<int>(header.cylinders);
  info.claimed.heads = static_cast<int>(header.heads);
  info.claimed.sectorsPerTrack = static_cast<int>(header.sectors);
  info.claimed.sectorSize = static_cast<int>(header.sectorSize);
  const int disk = image->AddDisk(std::move(info));
  const int sizeCode = SizeCode(header.sectorSize);
  const std::int64_t trackBytes = std::int64_t{header.sectorSize} * header.sectors;
  const auto heads = static_cast<int>(header.heads);
  for (int c = 0; c < static_cast<int>(header.cylinders); ++c) {
    for (int h = 0; h < heads; ++h) {
      const std::int64_t start = header.headerSize + (std::int64_t{c} * heads + h) * trackBytes;
      image->SetTrack(disk, 2 * c + h,
                      FlatTrack(start, c, h, 1, static_cast<int>(header.sectors), sizeCode));
    }
  }
  const std::int64_t end = std::int64_t{header.headerSize} + header.dataSize;
  if (fileSize > end) {
    image->SetBytesAfterLastDisk(fileSize - end);
  }
  result.image = std::move(image);
  return result;
}

}  // namespace

const ImageFormat kFdiFormat = {"FDI", "fdi", Identify, Load};

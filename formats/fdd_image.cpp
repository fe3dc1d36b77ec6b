// FDD image (Virtual98). All fields little-endian.
//
//   0x0000     8  "VFD1.0" and a version digit, NUL-padded
//   0x0008   128  disk memo        0x0088  2  write protect
//   0x00DC        sector map: 160 tracks x 26 entries x 12 bytes
//   0xC3FC        end of the header; sector data follows
//
//   Sector entry, 12 bytes: C, H, R, N; fill byte; DDAM flag (deleted data);
//   MF flag; 2HD flag; u32 data offset from the file's start. C = 0xFF
//   marks an unused entry. A data offset of 0xFFFFFFFF means the sector
//   held nothing but its fill byte and is not stored.
//
// The track index is the map position (entries 26 x T to 26 x T + 25 are
// track T), as MAME reads it; the IDs are as recorded. A sector of fill
// bytes reads from a block of that byte placed after the file's bytes.
#include "formats/fdd_image.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>

#include "disk/le_fields.h"
#include "formats/sector_image.h"

namespace {

constexpr char kFddSignature[] = "VFD1.0";
constexpr std::size_t kSignatureLength = sizeof kFddSignature - 1;
constexpr std::size_t kMemoOffset = 0x08;
constexpr std::size_t kMemoLength = 128;
constexpr std::size_t kMapOffset = 0xDC;
constexpr int kTracks = 160;
constexpr int kEntriesPerTrack = 26;
constexpr std::size_t kEntrySize = 12;
constexpr std::size_t kMapEnd = kMapOffset + std::size_t{kTracks} * kEntriesPerTrack * kEntrySize;

constexpr std::size_t kFillOffset = 4;
constexpr std::size_t kDdamOffset = 5;
constexpr std::size_t kDataOffsetOffset = 8;
constexpr unsigned kUnusedEntry = 0xFF;
constexpr std::uint32_t kNotStored = 0xFFFFFFFF;
// Offset 0 is the signature, never a sector's data: Neko Project II kai
// reads it as "not stored" too.
constexpr std::uint32_t kNotStoredEither = 0;
constexpr unsigned kMaxSizeCode = 8;  // 32 KiB

Confidence Identify(const ImageProbe& probe) {
  return probe.length >= kSignatureLength &&
                 std::memcmp(probe.head, kFddSignature, kSignatureLength) == 0
             ? kSignature
             : kNotThisFormat;
}

LoadResult Load(std::unique_ptr<ByteSource> source) {
  LoadResult result;
  auto image = std::make_unique<SectorImage>(kFddFormat.name, source->Size());
  std::vector<unsigned char> bytes;
  if (!LoadHead(*source, kMapEnd, bytes, result)) {
    return result;
  }
  const std::int64_t fileSize = source->Size();
  if (bytes.size() < kMapEnd) {
    result.error =
        "the file is shorter than an FDD header (" + std::to_string(fileSize) + " bytes)";
    return result;
  }

  struct Filled {
    int track;
    std::size_t position;
    unsigned char value;
  };
  std::vector<std::vector<Sector>> tracks(kTracks);
  std::vector<Filled> filled;
  std::array<std::uint32_t, 256> fillSizes{};
  for (int track = 0; track < kTracks; ++track) {
    for (int i = 0; i < kEntriesPerTrack; ++i) {
      const unsigned char* entry =
          bytes.data() + kMapOffset +
          (static_cast<std::size_t>(track) * kEntriesPerTrack + i) * kEntrySize;
      if (entry[0] == kUnusedEntry) {
        continue;
      }
      Sector sector;
      sector.id = {entry[0], entry[1], entry[2], entry[3]};
      sector.flags = entry[kDdamOffset] != 0 ? kDeletedData : 0;
      // A size code beyond any sector leaves the sector without data.
      sector.recordedSize = entry[3] <= kMaxSizeCode ? 128U << entry[3] : 0;
      sector.size = sector.recordedSize;
      const std::uint32_t offset = LoadLe32(entry + kDataOffsetOffset);
      std::vector<Sector>& sectors = tracks[static_cast<std::size_t>(track)];
      if (offset == kNotStored || offset == kNotStoredEither) {
        const unsigned char value = entry[kFillOffset];
        fillSizes[value] = std::max(fillSizes[value], sector.size);
        filled.push_back({track, sectors.size(), value});
      } else if (offset < fileSize) {
        // Kept inside the file's own bytes, short of the fill blocks after.
        sector.location = offset;
        sector.size = static_cast<std::uint32_t>(
            std::min<std::int64_t>(sector.size, fileSize - sector.location));
      } else {
        sector.location = fileSize;
        sector.size = 0;
      }
      sectors.push_back(sector);
    }
  }

  // The stored sectors are read from the file when asked for; the fill
  // blocks follow it, one per fill byte, as long as the longest sector of it.
  image->ReadInPlace(std::move(source));
  std::vector<unsigned char>& fills = image->Data();
  std::array<std::int64_t, 256> fillAt{};
  for (std::size_t value = 0; value < fillSizes.size(); ++value) {
    if (fillSizes[value] != 0) {
      fillAt[value] = fileSize + static_cast<std::int64_t>(fills.size());
      fills.insert(fills.end(), fillSizes[value], static_cast<unsigned char>(value));
    }
  }
  for (const Filled& fill : filled) {
    tracks[static_cast<std::size_t>(fill.track)][fill.position].location = fillAt[fill.value];
  }

  DiskInfo info;
  const unsigned char* memo = bytes.data() + kMemoOffset;
  info.name.assign(memo, std::find(memo, memo + kMemoLength, 0));
  const int disk = image->AddDisk(std::move(info));
  for (int track = 0; track < kTracks; ++track) {
    std::vector<Sector>& sectors = tracks[static_cast<std::size_t>(track)];
    if (!sectors.empty()) {
      image->SetTrack(disk, track, std::move(sectors));
    }
  }
  result.image = std::move(image);
  return result;
}

}  // namespace

const ImageFormat kFddFormat = {"FDD", "fdd", Identify, Load};

// Reader for 86F images (86Box's surface images), version 2: each track as
// the cells a drive head reads, decoded here as MFM (flux/mfm.h). All
// fields are little-endian.
//
//   Header, 8 bytes:
//     0  4  "86BF"
//     4  1  minor version
//     5  1  major version: 2
//     6  2  flags: 0x0001 a surface map follows each track's cells;
//           0x0008 two sides; 0x0080 each track gives its cell count or
//           how many more cells it has than the nominal (below); 0x0800
//           big-endian fields (not read); 0x1000 with 0x0080 and no speed
//           bits (0x0060), the count is the whole count
//     8  4  where the first track starts; the track list runs up to there
//
//   Track list at 8: 4 bytes per track, sides x cylinder + side; 0 ends it.
//
//   A track:
//     0  2  flags: bits 0-2 the data rate (0 500, 1 300, 2 250, 3 1000
//           kbit/s), bits 3-4 the encoding (1 MFM)
//     2  4  the cell count (header flag 0x1000) or the cells beyond the
//           nominal count, signed (0x0080 alone); absent otherwise
//     -  4  the cell the index lies at
//     -  -  the cells, 8 to a byte, the first in the most significant bit;
//           then, with a surface map, as many bytes more: a 1 marks a cell
//           with no flux (its cell 0) or a weak one (its cell 1)
//
// The nominal count is a turn at 300 rpm: 2 cells a data bit at the
// track's rate. A track's cells never run into the next track's record.
// Weak and empty cells read as no flux change, as in HFE's weak bits. The
// cells are turned so that the index comes first.
//
// Track index = 2 x cylinder + side.
#include "flux/f86_image.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "disk/le_fields.h"
#include "flux/mfm.h"
#include "formats/sector_image.h"

namespace {

constexpr char kMagic[] = "86BF";
constexpr std::size_t kMagicLength = 4;
constexpr std::size_t kMajorOffset = 5;
constexpr unsigned kMajorVersion = 2;
constexpr std::size_t kFlagsOffset = 6;
constexpr std::size_t kFirstTrackOffset = 8;
constexpr std::size_t kHeaderSize = 12;
constexpr std::int64_t kListStart = 8;
constexpr std::int64_t kEntrySize = 4;

constexpr std::uint32_t kSurfaceMap = 0x0001;
constexpr std::uint32_t kTwoSides = 0x0008;
constexpr std::uint32_t kCellCountField = 0x0080;
constexpr std::uint32_t kSpeedMask = 0x0060;
constexpr std::uint32_t kBigEndian = 0x0800;
constexpr std::uint32_t kWholeCount = 0x1000;

constexpr std::uint32_t kRateMask = 0x0007;
constexpr std::uint32_t kRatesKbps[] = {500, 300, 250, 1000};
constexpr std::uint32_t kNominalRpm = 300;
constexpr std::int64_t kMaxTrackCells = std::int64_t{1} << 22U;
constexpr int kMaxSides = 2;

Confidence Identify(const ImageProbe& probe) {
  return probe.length > kMajorOffset && std::memcmp(probe.head, kMagic, kMagicLength) == 0 &&
                 probe.head[kMajorOffset] == kMajorVersion
             ? kSignature
             : kNotThisFormat;
}

LoadResult Load(std::unique_ptr<ByteSource> source) {
  LoadResult result;
  std::vector<unsigned char> file;
  if (!LoadWhole(*source, file, result)) {
    return result;
  }
  const auto fileSize = static_cast<std::int64_t>(file.size());
  if (file.size() < kHeaderSize) {
    result.error = "the file ends inside the header";
    return result;
  }
  const std::uint32_t flags = LoadLe16(file.data() + kFlagsOffset);
  if ((flags & kBigEndian) != 0) {
    result.error = "images with big-endian fields are not read";
    return result;
  }
  const std::int64_t firstTrack = LoadLe32(file.data() + kFirstTrackOffset);
  if (firstTrack < kListStart || firstTrack > fileSize) {
    result.error = "the first track at offset " + std::to_string(firstTrack) +
                   " lies outside the file (" + std::to_string(fileSize) + " bytes)";
    return result;
  }
  const int sides = (flags & kTwoSides) != 0 ? 2 : 1;
  const bool countField = (flags & kCellCountField) != 0;
  const bool wholeCount = countField && (flags & kWholeCount) != 0 && (flags & kSpeedMask) == 0;
  const std::size_t trackHeader = countField ? 10 : 6;
  const std::int64_t entries = (firstTrack - kListStart) / kEntrySize;
  std::vector<std::int64_t> starts;
  for (std::int64_t i = 0; i < entries; ++i) {
    const std::int64_t start = LoadLe32(file.data() + kListStart + i * kEntrySize);
    if (start == 0) {
      break;
    }
    starts.push_back(start);
  }
  // Where each track's record must end: at the next record after it.
  std::vector<std::int64_t> sorted = starts;
  sorted.push_back(fileSize);
  std::sort(sorted.begin(), sorted.end());

  auto image = std::make_unique<SectorImage>("86F", fileSize);
  DiskInfo info;
  info.claimed.heads = sides;

  // The sectors of each track the file holds, by the drive's track index.
  std::vector<std::pair<std::size_t, std::vector<Sector>>> decoded;
  std::vector<unsigned char> cells;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::size_t index =
        kMaxSides * (i / static_cast<std::size_t>(sides)) + i % static_cast<std::size_t>(sides);
    const std::int64_t start = starts[i];
    if (index >= DiskImage::kMaxTracks ||
        start > fileSize - static_cast<std::int64_t>(trackHeader)) {
      continue;
    }
    const unsigned char* header = file.data() + start;
    const std::uint32_t trackFlags = LoadLe16(header);
    // A rate code past the known ones gives no nominal length: the cells
    // then run to the next record.
    const std::uint32_t rateCode = trackFlags & kRateMask;
    std::int64_t cellCount = rateCode < std::size(kRatesKbps)
                                 ? std::int64_t{2} * kRatesKbps[rateCode] * 1000 * 60 / kNominalRpm
                                 : kMaxTrackCells;
    std::int64_t indexCell = LoadLe32(header + 2);
    if (countField) {
      const std::uint32_t count = LoadLe32(header + 2);
      cellCount = wholeCount ? std::int64_t{count} : cellCount + ToSigned32(count);
      indexCell = LoadLe32(header + 6);
    }
    // The cells, and the surface map after them, end where the next
    // record starts.
    const std::int64_t dataStart = start + static_cast<std::int64_t>(trackHeader);
    const std::int64_t end = *std::upper_bound(sorted.begin(), sorted.end(), start);
    const std::int64_t room = (flags & kSurfaceMap) != 0 ? (end - dataStart) / 2 : end - dataStart;
    cellCount = std::min({cellCount, room * 8, kMaxTrackCells});
    if (cellCount <= 0) {
      continue;
    }
    const std::int64_t bytes = (cellCount + 7) / 8;
    const unsigned char* bits = file.data() + dataStart;
    const unsigned char* surface = (flags & kSurfaceMap) != 0 ? bits + bytes : nullptr;
    if (indexCell >= cellCount) {
      indexCell = 0;
    }
    cells.assign(static_cast<std::size_t>(bytes) + kMfmCellPadding, 0);
    for (std::int64_t k = 0; k < cellCount; ++k) {
      const std::int64_t from = (indexCell + k) % cellCount;
      const unsigned mask = 0x80U >> static_cast<unsigned>(from % 8);
      const bool change =
          (bits[from / 8] & mask) != 0 && (surface == nullptr || (surface[from / 8] & mask) == 0);
      if (change) {
        cells[static_cast<std::size_t>(k / 8)] |=
            static_cast<unsigned char>(0x80U >> static_cast<unsigned>(k % 8));
      }
    }
    decoded.emplace_back(index,
                         DecodeMfmTrack(cells, static_cast<std::size_t>(cellCount), image->Data()));
  }

  // A 40-cylinder disk in the image of an 80-track drive lies on every
  // track twice (the drive steps two tracks a cylinder): when the IDs say
  // so, the even tracks are the cylinders.
  int halved = 0;
  int whole = 0;
  for (const auto& [index, sectors] : decoded) {
    const std::size_t cylinder = index / kMaxSides;
    for (const Sector& sector : sectors) {
      if (cylinder >= 2) {
        halved += sector.id.c == cylinder / 2 ? 1 : 0;
        whole += sector.id.c == cylinder ? 1 : 0;
      }
    }
  }
  const bool doubleStepped = halved > whole;
  info.trackLocations.assign(DiskImage::kMaxTracks, 0);
  std::vector<std::pair<std::size_t, std::vector<Sector>>> kept;
  for (auto& [index, sectors] : decoded) {
    const std::size_t cylinder = index / kMaxSides;
    if (doubleStepped && cylinder % 2 != 0) {
      continue;
    }
    const std::size_t track =
        doubleStepped ? kMaxSides * (cylinder / 2) + index % kMaxSides : index;
    info.trackLocations[track] =
        starts[cylinder * static_cast<std::size_t>(sides) + index % kMaxSides];
    kept.emplace_back(track, std::move(sectors));
  }
  const int disk = image->AddDisk(info);
  if (!starts.empty()) {
    const std::size_t last = starts.size() - 1;
    const std::size_t highestTrack = kMaxSides * (last / static_cast<std::size_t>(sides)) +
                                     last % static_cast<std::size_t>(sides);
    if (highestTrack >= DiskImage::kMaxTracks) {
      // The list ends before the first track: fewer entries than an int holds.
      image->AddFault(TracksPastLimit(static_cast<int>(highestTrack + 1)));
    }
  }
  for (auto& [track, sectors] : kept) {
    image->SetTrack(disk, static_cast<int>(track), std::move(sectors));
  }
  result.image = std::move(image);
  return result;
}

}  // namespace

const ImageFormat k86fFormat = {"86F", "86f", Identify, Load};

// Reader for HxC MFM images (the HxC floppy emulator's "HXCMFM" files): each
// track as the cells a drive head reads, decoded here as MFM (flux/mfm.h).
// All fields are little-endian and packed, with no padding.
//
//   Header, 19 bytes:
//     0x00  7  "HXCMFM" and a NUL
//     0x07  2  tracks (cylinders)
//     0x09  1  sides (heads)
//     0x0A  2  rotation speed in rpm (often 0)
//     0x0C  2  bit rate in kbit/s (250 for 2DD, 500 for 2HD)
//     0x0E  1  interface mode
//     0x0F  4  where the track list starts
//
//   Track list: tracks x sides entries of 11 bytes:
//     0  2  cylinder
//     2  1  side
//     3  4  how many bytes of cells the track has
//     7  4  where they start
//
//   A track's cells are bytes, 8 cells each, the first in the most
//   significant bit.
//
// Track index = 2 x cylinder + side, from each entry's own numbers; an entry
// past the model's tracks, or whose cells lie outside the file, is not read.
#include "flux/hxc_mfm_image.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "disk/le_fields.h"
#include "flux/mfm.h"
#include "formats/sector_image.h"

namespace {

constexpr char kMagic[] = "HXCMFM";  // and its NUL
constexpr std::size_t kSignatureLength = sizeof kMagic;
constexpr std::size_t kTracksOffset = 0x07;
constexpr std::size_t kSidesOffset = 0x09;
constexpr std::size_t kTrackListOffset = 0x0F;
constexpr std::size_t kHeaderSize = 0x13;
constexpr std::int64_t kEntrySize = 11;
constexpr std::size_t kEntryCylinder = 0;
constexpr std::size_t kEntrySide = 2;
constexpr std::size_t kEntryLength = 3;
constexpr std::size_t kEntryStart = 7;
constexpr int kMaxSides = 2;

Confidence Identify(const ImageProbe& probe) {
  return probe.length >= kSignatureLength && std::memcmp(probe.head, kMagic, kSignatureLength) == 0
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
  const int cylinders = static_cast<int>(LoadLe16(file.data() + kTracksOffset));
  const int sides = file[kSidesOffset];
  if (cylinders == 0) {
    result.error = "the header gives no tracks";
    return result;
  }
  if (sides == 0 || sides > kMaxSides) {
    result.error = "the header gives " + std::to_string(sides) + " sides";
    return result;
  }
  const std::int64_t listStart = LoadLe32(file.data() + kTrackListOffset);
  const std::int64_t entries = static_cast<std::int64_t>(cylinders) * sides;
  if (listStart > fileSize || entries * kEntrySize > fileSize - listStart) {
    result.error = "the track list at offset " + std::to_string(listStart) + " runs past the end " +
                   "of the file (" + std::to_string(fileSize) + " bytes)";
    return result;
  }

  auto image = std::make_unique<SectorImage>("HxC MFM", fileSize);
  DiskInfo info;
  info.claimed.cylinders = cylinders;
  info.claimed.heads = sides;
  info.trackLocations.assign(DiskImage::kMaxTracks, 0);
  std::int64_t highestTrack = -1;
  for (std::int64_t i = 0; i < entries; ++i) {
    const unsigned char* entry = file.data() + listStart + i * kEntrySize;
    const std::int64_t index =
        std::int64_t{kMaxSides} * LoadLe16(entry + kEntryCylinder) + entry[kEntrySide];
    if (entry[kEntrySide] < kMaxSides) {
      highestTrack = std::max(highestTrack, index);
    }
    if (entry[kEntrySide] < kMaxSides && index < DiskImage::kMaxTracks) {
      info.trackLocations[static_cast<std::size_t>(index)] = LoadLe32(entry + kEntryStart);
    }
  }
  const int disk = image->AddDisk(info);
  if (highestTrack >= DiskImage::kMaxTracks) {
    // At most 2 x 65,535 + 2: no overflow of an int.
    image->AddFault(TracksPastLimit(static_cast<int>(highestTrack + 1)));
  }
  // Each cell byte gives half a data byte at most.
  image->Data().reserve(file.size() / 2);

  std::vector<unsigned char> cells;
  for (std::int64_t i = 0; i < entries; ++i) {
    const unsigned char* entry = file.data() + listStart + i * kEntrySize;
    const std::int64_t index =
        std::int64_t{kMaxSides} * LoadLe16(entry + kEntryCylinder) + entry[kEntrySide];
    const std::int64_t start = LoadLe32(entry + kEntryStart);
    const std::int64_t length = LoadLe32(entry + kEntryLength);
    if (entry[kEntrySide] >= kMaxSides || index >= DiskImage::kMaxTracks || start >= fileSize) {
      continue;
    }
    // A track the file ends inside keeps the cells it holds.
    const std::int64_t take = std::min(length, fileSize - start);
    cells.assign(file.begin() + start, file.begin() + start + take);
    cells.resize(cells.size() + kMfmCellPadding, 0);
    image->SetTrack(disk, static_cast<int>(index),
                    DecodeMfmTrack(cells, static_cast<std::size_t>(take) * 8, image->Data()));
  }
  result.image = std::move(image);
  return result;
}

}  // namespace

const ImageFormat kHxcMfmFormat = {"HxC MFM", "mfm", Identify, Load};

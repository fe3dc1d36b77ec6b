// DIM image (DIFC.X): a 256-byte header, then the sector data laid flat.
//
//   0x00   1  disk type: 0 = 8 x 1024 (2HD), 1 = 9 x 1024 (2HS), 2 = 15 x 512
//             (2HC), 9 = 18 x 512 (2HQ), 17 = 26 x 256
//   0x01 170  one flag per track index: nonzero = the track was dumped
//   0xAB  11  "DIFC HEADER"
//   0x100     track 0, track 1, ... (track = 2 x cylinder + head), each its
//             sectors in order, IDs (cylinder, head, R, n)
//
// Where the data of a track lies: MAME (dim_dsk.cpp) and the other readers
// of DIM give every track of the disk its place, dumped or not, and so does
// this reader. Readers of the related DCP format store only the tracks whose
// flag is set; a DIM whose size is exactly that of such a packed layout,
// and not that of the full one, is read that way.
#include "formats/dim_image.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "formats/raw_image.h"
#include "formats/sector_image.h"

namespace {

constexpr std::int64_t kHeaderSize = 0x100;
constexpr int kTypeOffset = 0x00;
constexpr std::size_t kFlagsOffset = 0x01;
constexpr int kFlagCount = 170;
constexpr int kSignatureOffset = 0xAB;
constexpr char kDimSignature[] = "DIFC HEADER";
constexpr std::size_t kSignatureLength = sizeof kDimSignature - 1;

// MAME reads 77 cylinders of every type; flags set past them add tracks.
constexpr int kDiskTracks = 154;
constexpr int kTracks = kFlagCount < DiskImage::kMaxTracks ? kFlagCount : DiskImage::kMaxTracks;
constexpr int kHeads = 2;

struct DiskType {
  int type;
  int sectors;
  int sizeCode;
  int firstR;
};
// Type 1 (2HS) numbers its sectors from 10, but for the first sector of
// cylinder 0, numbered 1, as MAME reads it.
constexpr int kTypeHs = 1;
constexpr DiskType kTypes[] = {
    {0, 8, 3, 1}, {kTypeHs, 9, 3, 10}, {2, 15, 2, 1}, {9, 18, 2, 1}, {17, 26, 1, 1},
};

Confidence Identify(const ImageProbe& probe) {
  const bool found =
      probe.length >= kSignatureOffset + kSignatureLength &&
      std::memcmp(probe.head + kSignatureOffset, kDimSignature, kSignatureLength) == 0;
  return found ? kSignature : kNotThisFormat;
}

const DiskType* FindType(int type) {
  const auto* found = std::find_if(std::begin(kTypes), std::end(kTypes),
                                   [type](const DiskType& known) { return known.type == type; });
  return found == std::end(kTypes) ? nullptr : found;
}

LoadResult Load(std::unique_ptr<ByteSource> source) {
  LoadResult result;
  auto image = std::make_unique<SectorImage>(kDimFormat.name, source->Size());
  std::vector<unsigned char> bytes;
  if (!LoadHead(*source, kHeaderSize, bytes, result)) {
    return result;
  }
  const std::int64_t fileSize = source->Size();
  // The sectors are read from the file when asked for.
  image->ReadInPlace(std::move(source));
  if (fileSize < kHeaderSize) {
    result.error = "the file is shorter than a DIM header (" + std::to_string(fileSize) + " bytes)";
    return result;
  }
  const DiskType* type = FindType(bytes[kTypeOffset]);
  if (type == nullptr) {
    result.error = "the header gives disk type " + std::to_string(bytes[kTypeOffset]) +
                   ", not one of 0, 1, 2, 9 and 17";
    return result;
  }

  // A header with no flag set, as some converters write it, is read as MAME
  // reads every DIM: all tracks of the disk there.
  int flagged = 0;
  int tracks = kDiskTracks;
  for (int track = 0; track < kTracks; ++track) {
    if (bytes[kFlagsOffset + static_cast<std::size_t>(track)] != 0) {
      ++flagged;
      tracks = std::max(tracks, track + 1);
    }
  }
  const auto isPresent = [&](int track) {
    return flagged == 0 || bytes[kFlagsOffset + static_cast<std::size_t>(track)] != 0;
  };
  const std::int64_t trackBytes = std::int64_t{type->sectors} << (7 + type->sizeCode);
  const bool packed =
      flagged != 0 && flagged < tracks && fileSize == kHeaderSize + flagged * trackBytes;

  DiskInfo info;
  info.claimed.sectorsPerTrack = type->sectors;
  info.claimed.sectorSize = 128 << type->sizeCode;
  const int disk = image->AddDisk(std::move(info));
  std::int64_t next = kHeaderSize;
  for (int track = 0; track < tracks; ++track) {
    const std::int64_t start = packed ? next : kHeaderSize + track * trackBytes;
    if (!isPresent(track)) {
      continue;
    }
    next += trackBytes;
    if (start >= fileSize) {
      continue;  // a file cut short has no tracks past its end
    }
    const int c = track / kHeads;
    std::vector<Sector> sectors =
        FlatTrack(start, c, track % kHeads, type->firstR, type->sectors, type->sizeCode);
    if (type->type == kTypeHs && c == 0) {
      sectors.front().id.r = 1;
    }
    image->SetTrack(disk, track, std::move(sectors));
  }
  const std::int64_t end = packed ? next : kHeaderSize + tracks * trackBytes;
  if (fileSize > end) {
    image->SetBytesAfterLastDisk(fileSize - end);
  }
  result.image = std::move(image);
  return result;
}

}  // namespace

const ImageFormat kDimFormat = {"DIM", "dim", Identify, Load};

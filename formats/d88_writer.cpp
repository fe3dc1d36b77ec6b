// Writes D88, the layout formats/d88_image.cpp reads:
//
//   Disk header, 0x2B0 bytes:
//     0x00  17  name, NUL-padded
//     0x1A   1  write protect: 0x10 protected, 0x00 not
//     0x1B   1  media: 0x00 2D, 0x10 2DD, 0x20 2HD
//     0x1C   4  the disk's size, header included
//     0x20 164 x 4  where each track starts, from the disk's start; 0 for none
//
//   Each sector, one after another in the track's recorded order:
//     0x00   4  C, H, R, N
//     0x04   2  sectors in the track
//     0x06   1  density: 0x00 double (MFM), 0x40 single (FM)
//     0x07   1  deleted mark: 0x10 deleted data
//     0x08   1  status: 0x00 fine, 0x10 deleted data, 0xA0 ID CRC error,
//               0xB0 data CRC error, 0xE0 no address mark, 0xF0 no data mark
//     0x0E   2  data size, then the data
#include "formats/d88_writer.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <memory>

namespace {

constexpr std::size_t kHeaderSize = 0x2B0;
constexpr std::size_t kNameLength = 16;
constexpr std::size_t kWriteProtectOffset = 0x1A;
constexpr std::size_t kMediaTypeOffset = 0x1B;
constexpr std::size_t kDiskSizeOffset = 0x1C;
constexpr std::size_t kTrackTableOffset = 0x20;
constexpr int kTrackTableEntries = 164;

constexpr std::size_t kSectorHeaderSize = 16;
constexpr std::size_t kSectorCountOffset = 4;
constexpr std::size_t kDensityOffset = 6;
constexpr std::size_t kDeletedMarkOffset = 7;
constexpr std::size_t kStatusOffset = 8;
constexpr std::size_t kDataSizeOffset = 14;

constexpr std::uint8_t kSingleDensity = 0x40;
constexpr std::uint8_t kDeletedMark = 0x10;
constexpr std::uint8_t kStatusDeleted = 0x10;
constexpr std::uint8_t kStatusIdCrcError = 0xA0;
constexpr std::uint8_t kStatusDataCrcError = 0xB0;
constexpr std::uint8_t kStatusNoAddressMark = 0xE0;
constexpr std::uint8_t kStatusNoDataMark = 0xF0;

constexpr std::uint8_t kMedia2D = 0x00;
constexpr std::uint8_t kMedia2DD = 0x10;
constexpr std::uint8_t kMedia2HD = 0x20;

// A track of a high-density disk holds more than a double-density drive can
// write in a turn (about 6,250 bytes at 250 kbit/s).
constexpr std::size_t kHighDensityTrackBytes = 7000;
// A 2D disk has 40 cylinders, two tracks each (a few more where a drive
// steps past them).
constexpr int kMaxTracks2D = 84;

void PutLe16(std::vector<unsigned char>& out, std::size_t at, std::uint32_t value) {
  out[at] = static_cast<unsigned char>(value & 0xFFU);
  out[at + 1] = static_cast<unsigned char>((value >> 8U) & 0xFFU);
}

void PutLe32(std::vector<unsigned char>& out, std::size_t at, std::uint32_t value) {
  PutLe16(out, at, value & 0xFFFFU);
  PutLe16(out, at + 2, value >> 16U);
}

}  // namespace

D88Marks D88MarksOf(SectorFlags flags) {
  D88Marks marks;
  if ((flags & kDeletedData) != 0) {
    marks.deletedMark = kDeletedMark;
  }
  if ((flags & kNoAddressMark) != 0) {
    marks.status = kStatusNoAddressMark;
  } else if ((flags & kIdCrcError) != 0) {
    marks.status = kStatusIdCrcError;
  } else if ((flags & kNoDataMark) != 0) {
    marks.status = kStatusNoDataMark;
  } else if ((flags & kDataCrcError) != 0) {
    marks.status = kStatusDataCrcError;
  } else if ((flags & kDeletedData) != 0) {
    marks.status = kStatusDeleted;
  }
  return marks;
}

std::string AppendD88Disk(DiskImage& image, int disk, std::vector<unsigned char>& out) {
  const std::size_t start = out.size();
  const DiskInfo info = image.Describe(disk);
  out.resize(start + kHeaderSize, 0);
  const std::size_t name = std::min(info.name.size(), kNameLength);
  std::copy_n(info.name.begin(), name, out.begin() + static_cast<std::ptrdiff_t>(start));
  if (info.writeProtect) {
    out[start + kWriteProtectOffset] = static_cast<unsigned char>(*info.writeProtect & 0xFF);
  }
  std::size_t largestTrack = 0;
  int lastTrack = -1;
  std::vector<unsigned char> data;
  for (int index = 0; index < std::min(DiskImage::kMaxTracks, kTrackTableEntries); ++index) {
    const std::shared_ptr<const Track> track = image.ReadTrack(disk, index);
    if (!track || track->Sectors().empty()) {
      continue;  // an absent track, and one that holds no sector, have no place
    }
    const std::vector<Sector>& sectors = track->Sectors();
    if (sectors.size() > std::numeric_limits<std::uint16_t>::max()) {
      return "track " + std::to_string(index) + " holds more sectors than D88 can record";
    }
    const std::size_t trackStart = out.size() - start;
    if (trackStart > std::numeric_limits<std::uint32_t>::max()) {
      return "the disk holds more than D88 can record";
    }
    PutLe32(out, start + kTrackTableOffset + 4 * static_cast<std::size_t>(index),
            static_cast<std::uint32_t>(trackStart));
    for (const Sector& sector : sectors) {
      // What the image holds of the data; a size past D88's field is cut
      // to it.
      const std::size_t size =
          std::min<std::size_t>(sector.size, std::numeric_limits<std::uint16_t>::max());
      data.assign(size, 0);
      const std::size_t got = image.ReadData(sector, data.data(), data.size());
      data.resize(got);
      const std::size_t at = out.size();
      out.resize(at + kSectorHeaderSize, 0);
      out[at] = sector.id.c;
      out[at + 1] = sector.id.h;
      out[at + 2] = sector.id.r;
      out[at + 3] = sector.id.n;
      PutLe16(out, at + kSectorCountOffset, static_cast<std::uint32_t>(sectors.size()));
      out[at + kDensityOffset] = sector.singleDensity ? kSingleDensity : 0;
      const D88Marks marks = D88MarksOf(sector.flags);
      out[at + kDeletedMarkOffset] = marks.deletedMark;
      out[at + kStatusOffset] = marks.status;
      PutLe16(out, at + kDataSizeOffset, static_cast<std::uint32_t>(data.size()));
      out.insert(out.end(), data.begin(), data.end());
    }
    largestTrack = std::max(largestTrack, out.size() - start - trackStart);
    lastTrack = index;
  }
  const std::size_t size = out.size() - start;
  if (size > std::numeric_limits<std::uint32_t>::max()) {
    return "the disk holds more than D88 can record";
  }
  PutLe32(out, start + kDiskSizeOffset, static_cast<std::uint32_t>(size));
  std::uint8_t media = kMedia2D;
  if (info.mediaType) {
    media = static_cast<std::uint8_t>(*info.mediaType & 0xFF);
  } else if (largestTrack >= kHighDensityTrackBytes) {
    media = kMedia2HD;
  } else if (lastTrack >= kMaxTracks2D) {
    media = kMedia2DD;
  }
  out[start + kMediaTypeOffset] = media;
  return {};
}

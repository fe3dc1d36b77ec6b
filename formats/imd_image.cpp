// Reader for IMD images (ImageDisk).
//
//   "IMD v.vv: date time" and a comment, ended by 0x1A. Then one record per
//   track, to the end of the file:
//     mode          1  0-2 FM, 3-5 MFM (at 500, 300, 250 kbit/s)
//     cylinder      1
//     head          1  bit 7: a cylinder map follows; bit 6: a head map
//                      follows; bits 0-5: the head
//     sector count  1
//     size code     1  128 << code bytes per sector; 0xFF: a size table follows
//     sector-number map   1 byte per sector: the IDs' R, in recorded order
//     cylinder map        1 byte per sector (head bit 7): the IDs' C
//     head map            1 byte per sector (head bit 6): the IDs' H
//     size table          2 bytes per sector (size code 0xFF): data sizes
//   and per sector a record type, then its data:
//     0      none: the data could not be read
//     1 3 5 7  the data in full
//     2 4 6 8  one byte, the data is that byte repeated
//   where 3 and 4 are deleted data, 5 and 6 data with a CRC error, 7 and 8
//   both. Without maps an ID's C is the record's cylinder, H its head and N
//   its size code.
//
// Track index = 2 x cylinder + head, from the record. A sector whose data
// could not be read (type 0) holds no data and is marked kNoDataMark, as the
// controller reported it. The walk over the records stops at the end of the
// file or at a record that cannot be one (a mode, size code or record type
// out of range); the tracks before it are kept, the bytes from there on are
// reported after the image. A track whose record is cut short by the end of
// the file keeps the sectors before the cut, the one cut clipped, and says
// it is cut short; cut inside its maps, it is there without a sector. IMD has no header giving the
// disk's shape: the claimed geometry stays empty.
#include "formats/imd_image.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>

#include "disk/le_fields.h"
#include "formats/sector_image.h"

namespace {

constexpr char kImdSignature[] = "IMD ";
constexpr std::size_t kSignatureLength = 4;
constexpr unsigned char kCommentEnd = 0x1A;
constexpr std::size_t kTrackHeaderSize = 5;
constexpr unsigned kMaxMode = 5;
constexpr unsigned kFirstMfmMode = 3;
constexpr unsigned kCylinderMapFlag = 0x80;
constexpr unsigned kHeadMapFlag = 0x40;
constexpr unsigned kHeadMask = 0x3F;
constexpr unsigned kMaxSizeCode = 6;
constexpr unsigned kSizeTableCode = 0xFF;
constexpr std::uint32_t kBaseSectorSize = 128;
constexpr unsigned kMaxRecordType = 8;
constexpr int kMaxHeads = 2;

// Compressed records of the same byte share one run of that byte in the
// image's data, as long as the largest of them.
struct FillRun {
  std::uint32_t length = 0;
  std::int64_t location = 0;
};

struct PendingSector {
  Sector sector;
  int fill = -1;  // the repeated byte of a compressed record, or -1
};

Confidence Identify(const ImageProbe& probe) {
  if (probe.length >= kSignatureLength &&
      std::memcmp(probe.head, kImdSignature, kSignatureLength) == 0) {
    return kSignature;
  }
  return kNotThisFormat;
}

// The smallest size code whose size holds `size` bytes, for IDs of tracks
// with a size table.
std::uint8_t SizeCodeFor(std::uint32_t size) {
  std::uint8_t code = 0;
  while (code < kMaxSizeCode && (kBaseSectorSize << code) < size) {
    ++code;
  }
  return code;
}

class Walk {
 public:
  Walk(const std::vector<unsigned char>& file, std::size_t pos) : file_(file), pos_(pos) {}

  std::size_t Position() const { return pos_; }
  std::size_t Left() const { return file_.size() - pos_; }
  bool AtEnd() const { return pos_ >= file_.size(); }
  void Rewind(std::size_t pos) { pos_ = pos; }
  // `count` bytes from here on, or null when the file ends first.
  const unsigned char* Take(std::size_t count) {
    if (Left() < count) {
      pos_ = file_.size();
      return nullptr;
    }
    const unsigned char* at = file_.data() + pos_;
    pos_ += count;
    return at;
  }

 private:
  const std::vector<unsigned char>& file_;
  std::size_t pos_;
};

// Why a record cannot be one, or empty when it can.
std::string CheckTrackHeader(const unsigned char* header) {
  if (header[0] > kMaxMode) {
    return "mode " + std::to_string(header[0]);
  }
  if (header[4] > kMaxSizeCode && header[4] != kSizeTableCode) {
    return "size code " + std::to_string(header[4]);
  }
  return {};
}

LoadResult Load(std::unique_ptr<ByteSource> source) {
  LoadResult result;
  std::vector<unsigned char> file;
  if (!LoadWhole(*source, file, result)) {
    return result;
  }
  const auto commentEnd = std::find(file.begin(), file.end(), kCommentEnd);
  if (commentEnd == file.end()) {
    result.error = "the comment has no end (no byte 0x1A)";
    return result;
  }

  auto image = std::make_unique<SectorImage>("IMD", static_cast<std::int64_t>(file.size()));
  DiskInfo info;
  info.trackLocations.assign(DiskImage::kMaxTracks, 0);
  std::array<std::vector<PendingSector>, DiskImage::kMaxTracks> tracks;
  std::array<bool, DiskImage::kMaxTracks> placed{};
  // The sectors each track's record announces, and whether the file ends
  // inside the record.
  std::array<std::size_t, DiskImage::kMaxTracks> announced{};
  std::array<bool, DiskImage::kMaxTracks> cutShort{};
  std::array<FillRun, 256> fills{};
  std::string malformed;
  int highestTrack = -1;  // of the records past the model's tracks

  Walk walk(file, static_cast<std::size_t>(commentEnd - file.begin()) + 1);
  while (!walk.AtEnd() && malformed.empty()) {
    const std::size_t recordStart = walk.Position();
    const unsigned char* header = walk.Take(kTrackHeaderSize);
    if (header == nullptr) {
      break;
    }
    malformed = CheckTrackHeader(header);
    if (!malformed.empty()) {
      walk.Rewind(recordStart);
      break;
    }
    const bool singleDensity = header[0] < kFirstMfmMode;
    const int cylinder = header[1];
    const unsigned headByte = header[2];
    const int head = static_cast<int>(headByte & kHeadMask);
    const std::size_t count = header[3];
    const unsigned sizeCode = header[4];
    const unsigned char* numbers = walk.Take(count);
    const unsigned char* cylinderMap =
        (headByte & kCylinderMapFlag) != 0 ? walk.Take(count) : numbers;
    const unsigned char* headMap = (headByte & kHeadMapFlag) != 0 ? walk.Take(count) : numbers;
    const unsigned char* sizeTable = sizeCode == kSizeTableCode ? walk.Take(count * 2) : numbers;
    // A track the model has no place for, or a second record of a track,
    // is walked over, not kept, and told.
    const int index = kMaxHeads * cylinder + head;
    const bool keep = head < kMaxHeads && index < DiskImage::kMaxTracks &&
                      !placed[static_cast<std::size_t>(index)];
    if (keep) {
      announced[static_cast<std::size_t>(index)] = count;
    }
    if (numbers == nullptr || cylinderMap == nullptr || headMap == nullptr ||
        sizeTable == nullptr) {
      // The file ends inside the maps: the track is there, without a sector.
      if (keep && count > 0) {
        placed[static_cast<std::size_t>(index)] = true;
        cutShort[static_cast<std::size_t>(index)] = true;
        info.trackLocations[static_cast<std::size_t>(index)] =
            static_cast<std::int64_t>(recordStart);
      }
      break;
    }
    std::vector<PendingSector> sectors;
    bool ended = false;  // the file ends inside the track's sectors
    for (std::size_t i = 0; i < count; ++i) {
      const unsigned char* type = walk.Take(1);
      if (type == nullptr) {
        ended = true;
        break;
      }
      if (*type > kMaxRecordType) {
        malformed = "record type " + std::to_string(*type);
        break;
      }
      PendingSector pending;
      Sector& sector = pending.sector;
      const std::uint32_t size =
          sizeCode == kSizeTableCode ? LoadLe16(sizeTable + 2 * i) : kBaseSectorSize << sizeCode;
      sector.id.c =
          (headByte & kCylinderMapFlag) != 0 ? cylinderMap[i] : static_cast<std::uint8_t>(cylinder);
      sector.id.h = (headByte & kHeadMapFlag) != 0 ? headMap[i] : static_cast<std::uint8_t>(head);
      sector.id.r = numbers[i];
      sector.id.n =
          sizeCode == kSizeTableCode ? SizeCodeFor(size) : static_cast<std::uint8_t>(sizeCode);
      sector.singleDensity = singleDensity;
      if (*type == 0) {
        sector.flags = kNoDataMark;
      } else {
        const unsigned kind = *type - 1U;  // bit 0 compressed, bit 1 deleted, bit 2 error
        sector.flags = static_cast<SectorFlags>(((kind & 2U) != 0 ? kDeletedData : 0) |
                                                ((kind & 4U) != 0 ? kDataCrcError : 0));
        sector.recordedSize = size;
        if ((kind & 1U) != 0) {
          const unsigned char* fill = walk.Take(1);
          if (fill == nullptr) {
            ended = true;
            break;
          }
          pending.fill = *fill;
          sector.size = size;
        } else {
          sector.location = static_cast<std::int64_t>(walk.Position());
          sector.size = static_cast<std::uint32_t>(std::min<std::size_t>(size, walk.Left()));
          walk.Take(sector.size);
        }
      }
      if (keep && pending.fill >= 0) {
        FillRun& run = fills[static_cast<std::size_t>(pending.fill)];
        run.length = std::max(run.length, size);
      }
      sectors.push_back(pending);
    }
    if (!malformed.empty()) {
      walk.Rewind(recordStart);
      break;
    }
    if (keep) {
      tracks[static_cast<std::size_t>(index)] = std::move(sectors);
      placed[static_cast<std::size_t>(index)] = true;
      cutShort[static_cast<std::size_t>(index)] = ended;
      info.trackLocations[static_cast<std::size_t>(index)] = static_cast<std::int64_t>(recordStart);
    } else if (head >= kMaxHeads) {
      image->AddFault("the track record at byte " +
                      GroupedDigits(static_cast<std::int64_t>(recordStart)) + " is of head " +
                      std::to_string(head) + ", which no disk has; it is not read");
    } else if (index >= DiskImage::kMaxTracks) {
      highestTrack = std::max(highestTrack, index);
    } else {
      image->AddFault("track " + std::to_string(index) + " is recorded a second time, at byte " +
                      GroupedDigits(static_cast<std::int64_t>(recordStart)) +
                      "; the first is read");
    }
  }
  if (highestTrack >= DiskImage::kMaxTracks) {
    image->AddFault(TracksPastLimit(highestTrack + 1));
  }

  if (!malformed.empty() && std::count(placed.begin(), placed.end(), true) == 0) {
    result.error = "the first track record is not one (" + malformed + ")";
    return result;
  }
  const std::size_t bytesAfter = walk.Left();

  // The data: the file as it is, then one run of each repeated byte.
  std::vector<unsigned char>& data = image->Data();
  data = std::move(file);
  for (std::size_t value = 0; value < fills.size(); ++value) {
    FillRun& run = fills[value];
    if (run.length > 0) {
      run.location = static_cast<std::int64_t>(data.size());
      data.insert(data.end(), run.length, static_cast<unsigned char>(value));
    }
  }
  const int disk = image->AddDisk(info);
  for (std::size_t index = 0; index < tracks.size(); ++index) {
    if (!placed[index]) {
      continue;
    }
    std::vector<Sector> sectors;
    sectors.reserve(tracks[index].size());
    for (PendingSector& pending : tracks[index]) {
      if (pending.fill >= 0) {
        pending.sector.location = fills[static_cast<std::size_t>(pending.fill)].location;
      }
      sectors.push_back(pending.sector);
    }
    std::optional<TrackCutShort> cut;
    if (cutShort[index]) {
      cut = TrackCutShort{static_cast<std::uint32_t>(announced[index])};
    }
    image->SetTrack(disk, static_cast<int>(index), std::move(sectors), cut);
  }
  image->SetBytesAfterLastDisk(static_cast<std::int64_t>(bytesAfter));
  result.image = std::move(image);
  return result;
}

}  // namespace

const ImageFormat kImdFormat = {"IMD", "imd", Identify, Load};

// Reader for MAME floppy images (MFI), both the current form
// ("MAMEFLOPPYIMAGE") and the old one of MESS ("MESSFLOPPYIMAGE"): each
// track as where its flux changes lie around the disk, made into cells here
// and decoded as MFM (flux/mfm.h). All fields are little-endian 32-bit.
//
//   Header, 32 bytes:
//     0x00  16  "MAMEFLOPPYIMAGE" or "MESSFLOPPYIMAGE", and a NUL
//     0x10   4  cylinders; the top 2 bits the step: 0 whole tracks,
//               1 half tracks, 2 quarter tracks
//     0x14   4  heads
//     0x18   4  form factor ("525 ", "35  ", ...)
//     0x1C   4  variant ("SSDD", "DSHD", ...)
//
//   Track list at 0x20, by cylinder (and half or quarter track), then head;
//   16 bytes each:
//     0  4  where the track's data starts
//     4  4  its size, compressed (zlib)
//     8  4  its size unpacked (0: an unformatted track)
//    12  4  where writing a track starts (not used here)
//
//   Unpacked, a track is 32-bit words: bits 0-27 a length in units of
//   1/200,000,000 of a turn from the index, bits 28-31 a type.
//     Current form: the length from the previous word's position; types
//       0 a flux change here, 1 and 2 a zone with none (unmagnetised,
//       damaged) from here, 3 the end of that zone.
//     Old form: a stretch of that length magnetised one way (0, 1),
//       unmagnetised (2) or damaged (3); the flux changes where the way
//       turns, at the start as well when the last stretch differs.
//
// Track index = 2 x cylinder + head; half and quarter tracks are passed
// over.
#include "flux/mfi_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#ifdef ZEFACUT_HAVE_ZLIB
#include <zlib.h>
#endif

#include "disk/le_fields.h"
#include "flux/mfm.h"
#include "formats/sector_image.h"

namespace {

constexpr char kMagicCurrent[] = "MAMEFLOPPYIMAGE";  // with its NUL: 16 bytes
constexpr char kMagicOld[] = "MESSFLOPPYIMAGE";
constexpr std::size_t kMagicLength = sizeof kMagicCurrent;
constexpr std::size_t kCylindersOffset = 0x10;
constexpr std::size_t kHeadsOffset = 0x14;
constexpr std::size_t kHeaderSize = 0x20;
constexpr std::int64_t kEntrySize = 16;
constexpr std::size_t kEntryStart = 0;
constexpr std::size_t kEntryPacked = 4;
constexpr std::size_t kEntryUnpacked = 8;
constexpr std::uint32_t kCylinderMask = 0x3FFFFFFF;
constexpr unsigned kStepShift = 30;
constexpr std::uint32_t kMaxStep = 2;  // quarter tracks
constexpr std::uint32_t kMaxCylinders = 84;
constexpr std::uint32_t kMaxHeads = 2;

constexpr std::uint32_t kTimeMask = 0x0FFFFFFF;
constexpr unsigned kTypeShift = 28;
// Current form.
constexpr std::uint32_t kFluxChange = 0;
// Old form.
constexpr std::uint32_t kOldWayA = 0;
constexpr std::uint32_t kOldWayB = 1;

// No track of a floppy disk comes near these: 2^21 words is a flux change
// every 95 units, a cell of 48 ns at 300 rpm, where the densest disk's is
// 500 ns. A header that claims more is refused, before anything is unpacked.
constexpr std::uint32_t kMaxUnpackedBytes = 8U << 20U;
constexpr std::size_t kMaxTrackCells = std::size_t{1} << 22U;

// The shortest MFM run is 2 cells, the longest 4 (8 in the sync marks' and
// bad sectors' slips are passed through as they come).
constexpr int kShortestRun = 2;
constexpr int kLongestRun = 4;
// How far a change read early or late pulls the cells' phase and length
// towards it.
constexpr double kPhaseFollow = 0.15;
constexpr double kCellFollow = 0.02;
// Where in the runs sorted by length the first guess of 2 cells is taken,
// and how often the guess is bettered.
constexpr std::size_t kShortShare = 4;  // a quarter of the way
constexpr int kCellPasses = 3;

// The positions of a track's flux changes within the turn, in order, from
// its unpacked words.
std::vector<std::uint32_t> FluxPositions(const std::vector<std::uint32_t>& words, bool old) {
  std::vector<std::uint32_t> positions;
  positions.reserve(words.size());
  std::uint64_t time = 0;
  if (!old) {
    for (const std::uint32_t word : words) {
      time += word & kTimeMask;
      if (time > kTimeMask) {
        break;  // past any turn: the rest cannot be placed
      }
      if (word >> kTypeShift == kFluxChange) {
        positions.push_back(static_cast<std::uint32_t>(time));
      }
    }
    return positions;
  }
  if (words.empty()) {
    return positions;
  }
  const auto isWay = [](std::uint32_t type) { return type == kOldWayA || type == kOldWayB; };
  std::uint32_t way = words.back() >> kTypeShift;  // the way before the index
  bool known = isWay(way);
  for (const std::uint32_t word : words) {
    const std::uint32_t type = word >> kTypeShift;
    if (isWay(type)) {
      if (known && type != way) {
        positions.push_back(static_cast<std::uint32_t>(time));
      }
      way = type;
      known = true;
    } else {
      known = false;  // no flux in a zone with none, nor at its edges
    }
    time += word & kTimeMask;
    if (time > kTimeMask) {
      break;
    }
  }
  return positions;
}

// The cells of a track from its flux changes: the cell length found from
// the shortest runs between changes, then its phase and length followed as
// they drift. Appends
// to `cells` (first cell in the top bit) and gives the number of cells.
std::size_t FluxCells(const std::vector<std::uint32_t>& positions,
                      std::vector<unsigned char>& cells) {
  cells.clear();
  if (positions.size() < 2) {
    return 0;
  }
  std::vector<std::uint32_t> runs;
  runs.reserve(positions.size() - 1);
  for (std::size_t i = 1; i < positions.size(); ++i) {
    runs.push_back(positions[i] - positions[i - 1]);
  }
  // A run near the shortest quarter is 2 cells long; the cell length is
  // then the one that makes most runs whole numbers of cells.
  std::vector<std::uint32_t> sorted = runs;
  const std::size_t shortIndex = sorted.size() / kShortShare;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(shortIndex),
                   sorted.end());
  double cell = sorted[shortIndex] / double{kShortestRun};
  for (int pass = 0; pass < kCellPasses && cell >= 1; ++pass) {
    double length = 0;
    double count = 0;
    for (const std::uint32_t run : runs) {
      const double whole = std::round(run / cell);
      if (whole >= kShortestRun && whole <= kLongestRun) {
        length += run;
        count += whole;
      }
    }
    if (count > 0) {
      cell = length / count;
    }
  }
  if (cell < 1) {
    return 0;
  }

  std::size_t cellCount = 0;
  const auto put = [&cells, &cellCount](bool change) {
    if (cellCount % 8 == 0) {
      cells.push_back(0);
    }
    if (change) {
      cells.back() = static_cast<unsigned char>(cells.back() | 0x80U >> (cellCount % 8));
    }
    ++cellCount;
  };
  // Where the cell of the last change was taken to end: each change falls
  // in the cell nearest to where it lies from there, so that a change read
  // late does not put off the next one.
  double grid = positions.front();
  put(true);
  for (std::size_t i = 1; i < positions.size(); ++i) {
    const double whole = std::max(1.0, std::round((positions[i] - grid) / cell));
    if (cellCount + static_cast<std::size_t>(std::min(whole, double{kMaxTrackCells})) >=
        kMaxTrackCells) {
      break;
    }
    const auto length = static_cast<std::size_t>(whole);
    for (std::size_t k = 1; k < length; ++k) {
      put(false);
    }
    put(true);
    grid += whole * cell;
    const double error = positions[i] - grid;
    grid += error * kPhaseFollow;
    if (whole >= kShortestRun && whole <= kLongestRun) {
      cell += error / whole * kCellFollow;
    }
  }
  return cellCount;
}

Confidence Identify(const ImageProbe& probe) {
  return probe.length >= kMagicLength &&
                 (std::memcmp(probe.head, kMagicCurrent, kMagicLength) == 0 ||
                  std::memcmp(probe.head, kMagicOld, kMagicLength) == 0)
             ? kSignature
             : kNotThisFormat;
}

#ifdef ZEFACUT_HAVE_ZLIB

// Unpacks a track's zlib stream into exactly `size` bytes; false when the
// stream is damaged or gives another number of bytes.
bool Unpack(const unsigned char* packed, std::size_t packedSize, std::size_t size,
            std::vector<unsigned char>& out) {
  out.assign(size, 0);
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) {
    return false;
  }
  stream.next_in = const_cast<unsigned char*>(packed);  // zlib's API is not const
  stream.avail_in = static_cast<uInt>(packedSize);
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(size);
  const int status = inflate(&stream, Z_FINISH);
  const bool whole = status == Z_STREAM_END && stream.avail_out == 0;
  inflateEnd(&stream);
  return whole;
}

std::string TrackName(std::uint32_t cylinder, std::uint32_t head) {
  return "the track of cylinder " + std::to_string(cylinder) + " head " + std::to_string(head);
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
  const bool old = std::memcmp(file.data(), kMagicOld, kMagicLength) == 0;
  const std::uint32_t cylinderField = LoadLe32(file.data() + kCylindersOffset);
  const std::uint32_t cylinders = cylinderField & kCylinderMask;
  const std::uint32_t step = cylinderField >> kStepShift;
  const std::uint32_t heads = LoadLe32(file.data() + kHeadsOffset);
  if (cylinders == 0 || cylinders > kMaxCylinders) {
    result.error = "the header gives " + std::to_string(cylinders) + " cylinders";
    return result;
  }
  if (step > kMaxStep) {
    result.error = "the header gives a step of " + std::to_string(step) + " (0 to 2 are known)";
    return result;
  }
  if (heads == 0 || heads > kMaxHeads) {
    result.error = "the header gives " + std::to_string(heads) + " heads";
    return result;
  }
  const std::uint32_t stepsPerCylinder = 1U << step;
  const std::int64_t entries = std::int64_t{cylinders} * stepsPerCylinder * heads;
  if (entries * kEntrySize > fileSize - static_cast<std::int64_t>(kHeaderSize)) {
    result.error =
        "the track list runs past the end of the file (" + std::to_string(fileSize) + " bytes)";
    return result;
  }

  auto image = std::make_unique<SectorImage>("MFI", fileSize);
  DiskInfo info;
  info.claimed.cylinders = static_cast<int>(cylinders);
  info.claimed.heads = static_cast<int>(heads);
  info.trackLocations.assign(DiskImage::kMaxTracks, 0);
  const auto entryAt = [&file](std::uint32_t cylinder, std::uint32_t head, std::uint32_t steps,
                               std::uint32_t headCount) {
    return file.data() + kHeaderSize +
           (std::int64_t{cylinder} * steps * headCount + head) * kEntrySize;
  };
  for (std::uint32_t cylinder = 0; cylinder < cylinders; ++cylinder) {
    for (std::uint32_t head = 0; head < heads; ++head) {
      info.trackLocations[2 * cylinder + head] =
          LoadLe32(entryAt(cylinder, head, stepsPerCylinder, heads) + kEntryStart);
    }
  }
  const int disk = image->AddDisk(info);

  std::vector<unsigned char> unpacked;
  std::vector<std::uint32_t> words;
  std::vector<unsigned char> cells;
  for (std::uint32_t cylinder = 0; cylinder < cylinders; ++cylinder) {
    for (std::uint32_t head = 0; head < heads; ++head) {
      const unsigned char* entry = entryAt(cylinder, head, stepsPerCylinder, heads);
      const std::int64_t start = LoadLe32(entry + kEntryStart);
      const std::int64_t packedSize = LoadLe32(entry + kEntryPacked);
      const std::uint32_t size = LoadLe32(entry + kEntryUnpacked);
      if (size == 0) {
        continue;  // unformatted
      }
      if (size > kMaxUnpackedBytes || size % 4 != 0) {
        result.error =
            TrackName(cylinder, head) + " claims " + std::to_string(size) + " bytes unpacked";
        return result;
      }
      if (start > fileSize || packedSize > fileSize - start) {
        result.error = TrackName(cylinder, head) + " at offset " + std::to_string(start) +
                       " runs past the end of the file (" + std::to_string(fileSize) + " bytes)";
        return result;
      }
      if (!Unpack(file.data() + start, static_cast<std::size_t>(packedSize), size, unpacked)) {
        result.error = TrackName(cylinder, head) + " does not unpack to its " +
                       std::to_string(size) + " bytes";
        return result;
      }
      words.resize(size / 4);
      for (std::size_t i = 0; i < words.size(); ++i) {
        words[i] = LoadLe32(unpacked.data() + 4 * i);
      }
      const std::size_t cellCount = FluxCells(FluxPositions(words, old), cells);
      cells.resize(cells.size() + kMfmCellPadding, 0);
      image->SetTrack(disk, static_cast<int>(2 * cylinder + head),
                      DecodeMfmTrack(cells, cellCount, image->Data()));
    }
  }
  result.image = std::move(image);
  return result;
}

#endif

}  // namespace

#ifdef ZEFACUT_HAVE_ZLIB
const ImageFormat kMfiFormat = {"MFI", "mfi", Identify, Load};
#else
const ImageFormat kMfiFormat = {"MFI", "mfi", Identify, nullptr};
#endif

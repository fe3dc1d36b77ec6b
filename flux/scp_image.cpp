// Reader for SuperCard Pro flux dumps (SCP): each track as the times
// between its flux changes over one or more revolutions, decoded by the flux
// layer (flux/flux.h). Fields are little-endian but the flux itself.
//
//   Header, 16 bytes:
//     0x00  3  "SCP"
//     0x03  1  version (major and minor nibble)
//     0x04  1  disk type (maker and machine nibbles)
//     0x05  1  revolutions per track
//     0x06  1  first track, 0x07 last track (0 to 167)
//     0x08  1  flags: bit 0 the flux starts at the index, 1 96 tpi, 2 a 360
//              rpm drive, 3 normalised flux, 4 read/write, 5 a footer at
//              the end of the file, 6 extended mode (the track table at
//              0x80, after more header)
//     0x09  1  bits of each flux value (0 = 16)
//     0x0A  1  heads: 0 both, 1 side 0 only, 2 side 1 only
//     0x0B  1  resolution: ticks of 25 ns x (resolution + 1)
//     0x0C  4  checksum of the file from 0x10 on
//
//   Track table (at 0x10, or 0x80 in extended mode): 4 bytes per track,
//   from track 0 to the last, where the track's header lies; 0 for none.
//   Both heads: track = 2 x cylinder + head. One side only, two layouts:
//   today's tools keep track = 2 x cylinder + head (side 0 at 0, 2, 4 ...,
//   side 1 at 1, 3, 5 ...); older ones wrote track = cylinder, the side the
//   header's. Entries of one parity only, the side's, are today's layout.
//   The table's tracks are the drive's: a 48 tpi disk read in a 96 tpi
//   drive holds cylinder C at physical cylinder 2C, whatever the 96 tpi flag
//   says (tools set it for the drive); the IDs tell (flux/track_steps.h).
//
//   Track header:
//     0x00  3  "TRK"
//     0x03  1  the track's number
//     0x04     per revolution, 12 bytes: the index-to-index time (in 25 ns),
//              the number of flux values, and where they start, from the
//              track header
//
//   Flux values: 16-bit big-endian ticks between flux changes; 0 adds
//   65,536 to the next value (a stretch with no flux).
//
// Tracks are read from the file when first asked for, a few hundred
// kilobytes each, never the whole dump (tens of megabytes). The checksum
// covers the whole file: it is checked only when the whole file is read
// (d88info); each track's own records are checked as they are read.
#include "flux/scp_image.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "disk/le_fields.h"
#include "flux/flux.h"
#include "formats/sector_image.h"

namespace {

constexpr char kScpSignature[] = "SCP";
constexpr char kTrackSignature[] = "TRK";
constexpr std::size_t kSignatureLength = 3;
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kRevolutionsOffset = 0x05;
constexpr std::size_t kFirstTrackOffset = 0x06;
constexpr std::size_t kLastTrackOffset = 0x07;
constexpr std::size_t kFlagsOffset = 0x08;
constexpr std::size_t kCellWidthOffset = 0x09;
constexpr std::size_t kHeadsOffset = 0x0A;
constexpr std::size_t kResolutionOffset = 0x0B;
constexpr std::size_t kChecksumOffset = 0x0C;
// A D88 disk's header gives the disk's size here; an SCP file's track
// table holds a track's offset, always short of the file's size.
constexpr std::size_t kD88SizeOffset = 0x1C;
constexpr unsigned kExtendedFlag = 1U << 6U;
constexpr std::int64_t kTableOffset = 0x10;
constexpr std::int64_t kExtendedTableOffset = 0x80;
constexpr int kTableEntries = 168;
// The reader's mark of a track table entry of 0 among the tracks the dump
// holds: no offset in a file is negative.
constexpr std::int64_t kMissingEntry = -1;
constexpr std::int64_t kEntrySize = 4;
constexpr unsigned kWideCells = 16;
constexpr unsigned kMaxHeads = 2;
constexpr double kBaseClock = 40e6;  // ticks of 25 ns

constexpr std::size_t kTrackHeaderSize = 4;
constexpr std::size_t kTrackNumberOffset = 3;
constexpr std::size_t kRevolutionEntrySize = 12;
constexpr std::uint32_t kOverflow = 65536;
// No revolution of a real track holds near this many flux changes (a 2HD
// track at 25 ns holds some 100,000); a count past it is damage, and
// reading it whole would only fill memory.
constexpr std::uint32_t kMaxFluxPerRevolution = 1U << 20U;
constexpr std::size_t kMaxFluxPerTrack = std::size_t{1} << 22U;

std::string Hex(std::int64_t value) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  auto rest = static_cast<std::uint64_t>(value);
  do {
    text.insert(text.begin(), digits[rest % 16]);
    rest /= 16;
  } while (rest != 0);
  return "0x" + text;
}

class ScpSource : public FluxSource {
 public:
  ScpSource(std::unique_ptr<ByteSource> source, std::vector<std::int64_t> offsets,
            std::vector<int> numbers, unsigned revolutions, double clock, std::uint32_t checksum)
      : source_(std::move(source)),
        offsets_(std::move(offsets)),
        numbers_(std::move(numbers)),
        revolutions_(revolutions),
        clock_(clock),
        checksum_(checksum) {}

  std::vector<std::string> CheckWholeFile() override {
    // The sum of every byte after the header's first 16.
    constexpr std::size_t kChunk = 1U << 16U;
    std::vector<unsigned char> chunk(kChunk);
    std::uint32_t sum = 0;
    const std::int64_t size = source_->Size();
    for (std::int64_t at = kTableOffset; at < size;) {
      const auto want = static_cast<std::size_t>(std::min<std::int64_t>(kChunk, size - at));
      const std::size_t got = source_->ReadAt(at, chunk.data(), want);
      for (std::size_t i = 0; i < got; ++i) {
        sum += chunk[i];
      }
      if (got < want) {
        return {"the file cannot be read whole to check its checksum"};
      }
      at += static_cast<std::int64_t>(got);
    }
    if (sum == checksum_) {
      return {};
    }
    return {"the checksum in the header is " + Hex(checksum_) + " but the file sums to " +
            Hex(sum) + ": it was changed or damaged after it was written"};
  }

  int TrackCount() const override { return static_cast<int>(offsets_.size()); }

  bool ReadFlux(int track, FluxTrack& flux) override {
    // The vectors keep their room from the track before.
    flux.intervals.clear();
    flux.indexes.clear();
    flux.faults.clear();
    if (track < 0 || track >= TrackCount() || offsets_[static_cast<std::size_t>(track)] == 0) {
      return false;
    }
    const std::int64_t at = offsets_[static_cast<std::size_t>(track)];
    if (at == kMissingEntry) {
      flux.absent = "no entry in the track table";
      return true;
    }
    flux.sampleClock = clock_;
    const std::int64_t fileSize = source_->Size();
    const std::size_t headerSize = kTrackHeaderSize + revolutions_ * kRevolutionEntrySize;
    std::vector<unsigned char> header(headerSize);
    if (at >= fileSize || fileSize - at < static_cast<std::int64_t>(headerSize) ||
        source_->ReadAt(at, header.data(), headerSize) != headerSize) {
      flux.faults.push_back("its header at offset " + Hex(at) + " runs past the end of the file");
      flux.fileEnds = true;
      return true;
    }
    if (std::memcmp(header.data(), kTrackSignature, kSignatureLength) != 0) {
      flux.faults.push_back("no track header (TRK) at offset " + Hex(at));
      return true;
    }
    const int number = numbers_[static_cast<std::size_t>(track)];
    if (header[kTrackNumberOffset] != number) {
      flux.faults.push_back("its header names track " + std::to_string(header[kTrackNumberOffset]) +
                            ", not " + std::to_string(number));
    }
    std::vector<unsigned char>& bytes = bytes_;
    bool cut = false;
    for (unsigned revolution = 0; revolution < revolutions_; ++revolution) {
      const unsigned char* entry =
          header.data() + kTrackHeaderSize + revolution * kRevolutionEntrySize;
      const std::uint32_t count = LoadLe32(entry + 4);
      const std::int64_t start = at + static_cast<std::int64_t>(LoadLe32(entry + 8));
      const std::string which = "revolution " + std::to_string(revolution + 1);
      if (count > kMaxFluxPerRevolution || flux.intervals.size() + count > kMaxFluxPerTrack) {
        flux.faults.push_back(which + " gives " + std::to_string(count) +
                              " flux changes, more than a track holds; it is not read");
        break;
      }
      // Whole values only, as far as the file holds them.
      const std::int64_t held = std::max<std::int64_t>(0, fileSize - start) / 2;
      const auto taken = static_cast<std::size_t>(std::min<std::int64_t>(count, held));
      bytes.resize(taken * 2);
      const std::size_t got = taken == 0 ? 0 : source_->ReadAt(start, bytes.data(), bytes.size());
      const std::size_t values = got / 2;
      flux.indexes.push_back(flux.intervals.size());
      std::uint32_t carry = 0;
      for (std::size_t i = 0; i < values; ++i) {
        const std::uint32_t value = LoadBe16(bytes.data() + 2 * i);
        if (value == 0) {
          // Long stretches with no flux are noise; no sum of them overflows.
          carry = std::min<std::uint32_t>(carry + kOverflow, 0x7FFF0000U);
          continue;
        }
        flux.intervals.push_back(carry + value);
        carry = 0;
      }
      if (values < count) {
        flux.faults.push_back(which +
                              "'s flux runs past the end of the file: " + std::to_string(values) +
                              " of " + std::to_string(count) + " values are read");
        cut = true;
        flux.fileEnds = true;
        break;
      }
    }
    // The index that ends the last revolution read whole.
    if (!cut) {
      flux.indexes.push_back(flux.intervals.size());
    }
    return true;
  }

 private:
  std::unique_ptr<ByteSource> source_;
  // By track index; 0 = none, kMissingEntry = a gap in the table.
  std::vector<std::int64_t> offsets_;
  std::vector<int> numbers_;  // the track's number in the file
  unsigned revolutions_;
  double clock_;
  std::uint32_t checksum_;
  std::vector<unsigned char> bytes_;  // a revolution's values as read
};

Confidence Identify(const ImageProbe& probe) {
  // The fields after the text keep a D88 disk named "SCP..." from being
  // taken for one; a first track past the last is damage the reader names.
  // A header whose fields are damaged (no revolutions, three heads) is
  // still claimed when no D88 header gives the file's size: the reader says
  // what is wrong rather than a D88 reading of flux.
  constexpr unsigned kMaxRevolutions = 32;
  if (probe.length < kHeaderSize || std::memcmp(probe.head, kScpSignature, kSignatureLength) != 0) {
    return kNotThisFormat;
  }
  const unsigned char* head = probe.head;
  const bool fits = head[kRevolutionsOffset] >= 1 && head[kRevolutionsOffset] <= kMaxRevolutions &&
                    (head[kCellWidthOffset] == 0 || head[kCellWidthOffset] == kWideCells) &&
                    head[kHeadsOffset] <= kMaxHeads;
  if (fits) {
    return kSignature;
  }
  const bool d88Size = probe.length >= kD88SizeOffset + 4 &&
                       static_cast<std::int64_t>(LoadLe32(head + kD88SizeOffset)) == probe.size;
  return d88Size ? kNotThisFormat : kSignature;
}

LoadResult Load(std::unique_ptr<ByteSource> source) {
  LoadResult result;
  const std::int64_t fileSize = source->Size();
  unsigned char head[kHeaderSize] = {};
  if (fileSize < static_cast<std::int64_t>(kHeaderSize) ||
      source->ReadAt(0, head, kHeaderSize) != kHeaderSize) {
    if (source->Error() != 0) {
      result.systemError = source->Error();
      return result;
    }
    result.error = "the file ends inside the header";
    return result;
  }
  const unsigned revolutions = head[kRevolutionsOffset];
  const int first = head[kFirstTrackOffset];
  const int last = head[kLastTrackOffset];
  const unsigned width = head[kCellWidthOffset];
  const unsigned heads = head[kHeadsOffset];
  if (revolutions == 0) {
    result.error = "the header gives no revolutions";
    return result;
  }
  if (width != 0 && width != kWideCells) {
    result.error = "flux values of " + std::to_string(width) + " bits are not read";
    return result;
  }
  if (heads > kMaxHeads) {
    result.error = "the header gives heads " + std::to_string(heads);
    return result;
  }
  if (first > last) {
    result.error = "the first track (" + std::to_string(first) + ") is after the last (" +
                   std::to_string(last) + ")";
    return result;
  }
  if (last >= kTableEntries) {
    result.error = "the last track (" + std::to_string(last) + ") is past the track table's " +
                   std::to_string(kTableEntries) + " entries";
    return result;
  }
  const std::int64_t table =
      (head[kFlagsOffset] & kExtendedFlag) != 0 ? kExtendedTableOffset : kTableOffset;
  const std::int64_t tableEnd = table + (last + 1) * kEntrySize;
  if (tableEnd > fileSize) {
    result.error =
        "the track table runs past the end of the file (" + std::to_string(fileSize) + " bytes)";
    return result;
  }
  std::vector<unsigned char> entries(static_cast<std::size_t>(tableEnd - table));
  if (source->ReadAt(table, entries.data(), entries.size()) != entries.size()) {
    result.systemError = source->Error();
    if (result.systemError == 0) {
      result.error = "the track table cannot be read";
    }
    return result;
  }

  const auto entryOf = [&entries](int number) -> std::int64_t {
    return LoadLe32(entries.data() + static_cast<std::size_t>(number) * kEntrySize);
  };
  // A track inside the header is damage; one past the end is where the
  // file was cut short, unless a track after it lies inside the file.
  std::int64_t firstPastEnd = 0;
  int pastEndNumber = 0;
  for (int number = first; number <= last; ++number) {
    const std::int64_t offset = entryOf(number);
    if (offset == 0) {
      continue;
    }
    if (offset < tableEnd) {
      result.error = "the track table gives track " + std::to_string(number) + " at offset " +
                     Hex(offset) + ", inside the header";
      return result;
    }
    if (offset >= fileSize && firstPastEnd == 0) {
      firstPastEnd = offset;
      pastEndNumber = number;
    } else if (firstPastEnd != 0 && offset < fileSize) {
      result.error = "the track table gives track " + std::to_string(pastEndNumber) +
                     " at offset " + Hex(firstPastEnd) + ", past the end of the file (" +
                     std::to_string(fileSize) + " bytes)";
      return result;
    }
  }

  // One side only: today's layout keeps 2 x cylinder + head, the older one
  // gives the cylinder.
  const bool oneSide = heads != 0;
  const int side = oneSide ? static_cast<int>(heads) - 1 : 0;
  bool byCylinder = false;
  for (int number = first; number <= last && oneSide; ++number) {
    byCylinder = byCylinder || (entryOf(number) != 0 && number % 2 != side);
  }
  std::vector<std::int64_t> offsets(DiskImage::kMaxTracks, 0);
  std::vector<int> numbers(DiskImage::kMaxTracks, 0);
  int trackCount = 0;
  int cylinders = 0;
  int highestTrack = -1;
  for (int number = first; number <= last; ++number) {
    const std::int64_t offset = entryOf(number);
    if (offset == 0) {
      continue;
    }
    const int cylinder = byCylinder ? number : number / 2;
    const int index = byCylinder ? 2 * number + side : number;
    cylinders = std::max(cylinders, cylinder + 1);
    highestTrack = std::max(highestTrack, index);
    if (index >= DiskImage::kMaxTracks) {
      continue;  // past the tracks of the model: told below
    }
    offsets[static_cast<std::size_t>(index)] = offset;
    numbers[static_cast<std::size_t>(index)] = number;
    trackCount = std::max(trackCount, index + 1);
  }
  if (cylinders == 0) {
    result.error = "the track table lists no track";
    return result;
  }
  DiskInfo info;
  info.claimed.cylinders = cylinders;
  info.claimed.heads = oneSide ? 1 : 2;
  info.trackLocations = offsets;
  offsets.resize(static_cast<std::size_t>(trackCount));
  // A track of a side the dump holds, between the first track it holds and
  // its last, with no entry in the table is one gone missing, as a KryoFlux
  // dump's missing file; any other is a track the drive did not read. Its
  // location is its empty entry in the table.
  const auto firstHeld =
      std::find_if(offsets.begin(), offsets.end(), [](std::int64_t offset) { return offset != 0; });
  for (auto at = firstHeld; at != offsets.end(); ++at) {
    const auto index = static_cast<int>(at - offsets.begin());
    if (*at == 0 && (!oneSide || index % 2 == side)) {
      *at = kMissingEntry;
      const int number = byCylinder ? index / 2 : index;
      info.trackLocations[static_cast<std::size_t>(index)] = table + number * kEntrySize;
    }
  }
  numbers.resize(static_cast<std::size_t>(trackCount));
  const double clock = kBaseClock / (head[kResolutionOffset] + 1);
  auto flux = std::make_unique<ScpSource>(std::move(source), std::move(offsets), std::move(numbers),
                                          revolutions, clock, LoadLe32(head + kChecksumOffset));
  std::vector<std::string> faults;
  if (highestTrack >= DiskImage::kMaxTracks) {
    faults.push_back(TracksPastLimit(highestTrack + 1));
  }
  result.image =
      MakeFluxImage(kScpFormat.name, fileSize, std::move(info), std::move(flux), std::move(faults));
  return result;
}

}  // namespace

const ImageFormat kScpFormat = {"SCP", "scp", Identify, Load, true};

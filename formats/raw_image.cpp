// Raw flat image: no header, nothing but sector data, cylinder by cylinder,
// head 0 before head 1, sectors from 1: sector R of track T (2 x cylinder
// + head on two-headed disks) at (T x sectors + R - 1) x sector size.
//
// Nothing in the file says it is one, so it is recognised by its exact size
// alone, and only when no format with a header claims the file. The sizes
// are those of the usual disks (kLayouts): a 2HD disk of 1024-byte sectors
// is 1,261,568 bytes (77 x 2 x 8 x 1024), a 720 KB disk 737,280 (80 x 2 x 9
// x 512), and so on. Where one size fits two layouts, the boot sector's
// BIOS parameter block decides when it names one of them:
//
//   0x0B bytes per sector (2)    0x15 media byte (0xF0 or above)
//   0x0D sectors per cluster     0x18 sectors per track (2)
//   0x0E reserved sectors (2)    0x1A heads (2)
//   0x10 FATs (1 or 2)           0x20 total sectors (4) when 0x13 is 0
//   0x13 total sectors (2)
//
// else the layout listed first for the size is taken. ImageInfo::layout
// says which layout was read and why.
#include "formats/raw_image.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "disk/le_fields.h"
#include "formats/sector_image.h"

namespace {

struct RawLayout {
  int cylinders;
  int heads;
  int sectors;
  int sizeCode;
  const char* disk;  // for after "the size of "
};

constexpr std::int64_t SizeOf(const RawLayout& layout) {
  return std::int64_t{layout.cylinders} * layout.heads * layout.sectors *
         (std::int64_t{128} << layout.sizeCode);
}

// The usual disks, the most likely first among those of one size.
constexpr RawLayout kLayouts[] = {
    {40, 1, 8, 2, "160 KB PC disk"},
    {40, 1, 16, 1, "2D disk's one side"},
    {40, 1, 9, 2, "180 KB PC disk"},
    {40, 2, 16, 1, "2D disk"},
    {40, 2, 8, 2, "320 KB PC disk"},
    {40, 2, 9, 2, "360 KB disk"},
    {80, 1, 9, 2, "one-sided 360 KB disk"},
    {80, 2, 8, 2, "640 KB 2DD disk"},
    {80, 2, 16, 1, "2DD disk of 256-byte sectors"},
    {80, 2, 9, 2, "720 KB disk"},
    {80, 2, 15, 2, "1.2 MB disk"},
    {77, 2, 8, 3, "2HD disk of 1024-byte sectors"},
    {80, 2, 18, 2, "1.44 MB disk"},
    {80, 2, 36, 2, "2.88 MB disk"},
};

static_assert(SizeOf(kLayouts[11]) == kRawImageSize, "the 2HD layout is the known disks'");

constexpr std::size_t kBootSectorSize = 512;
constexpr std::size_t kBytesPerSectorAt = 0x0B;
constexpr std::size_t kSectorsPerClusterAt = 0x0D;
constexpr std::size_t kReservedAt = 0x0E;
constexpr std::size_t kFatsAt = 0x10;
constexpr std::size_t kTotalSectorsAt = 0x13;
constexpr std::size_t kMediaAt = 0x15;
constexpr std::size_t kSectorsPerTrackAt = 0x18;
constexpr std::size_t kHeadsAt = 0x1A;
constexpr std::size_t kLongTotalSectorsAt = 0x20;
constexpr unsigned kLowestMedia = 0xF0;
constexpr unsigned kMaxSectorsPerTrack = 63;

// The layout a boot sector's BPB gives, when it holds one that makes sense.
struct BpbLayout {
  int heads;
  int sectors;
  std::uint32_t sectorSize;
  std::uint32_t totalSectors;
};

std::optional<BpbLayout> ReadBpb(const unsigned char* boot, std::size_t length) {
  if (length < kBootSectorSize) {
    return std::nullopt;
  }
  const std::uint32_t sectorSize = LoadLe16(boot + kBytesPerSectorAt);
  const unsigned perCluster = boot[kSectorsPerClusterAt];
  const std::uint32_t sectors = LoadLe16(boot + kSectorsPerTrackAt);
  const std::uint32_t heads = LoadLe16(boot + kHeadsAt);
  const std::uint32_t total = LoadLe16(boot + kTotalSectorsAt) != 0
                                  ? LoadLe16(boot + kTotalSectorsAt)
                                  : LoadLe32(boot + kLongTotalSectorsAt);
  const bool sizeKnown =
      sectorSize == 128 || sectorSize == 256 || sectorSize == 512 || sectorSize == 1024;
  const bool clusterPower = perCluster != 0 && (perCluster & (perCluster - 1)) == 0;
  if (!sizeKnown || !clusterPower || LoadLe16(boot + kReservedAt) == 0 ||
      (boot[kFatsAt] != 1 && boot[kFatsAt] != 2) || boot[kMediaAt] < kLowestMedia || sectors == 0 ||
      sectors > kMaxSectorsPerTrack || (heads != 1 && heads != 2) || total == 0) {
    return std::nullopt;
  }
  return BpbLayout{static_cast<int>(heads), static_cast<int>(sectors), sectorSize, total};
}

bool Agrees(const BpbLayout& bpb, const RawLayout& layout) {
  return bpb.heads == layout.heads && bpb.sectors == layout.sectors &&
         bpb.sectorSize == (128U << static_cast<unsigned>(layout.sizeCode)) &&
         std::int64_t{bpb.totalSectors} * bpb.sectorSize == SizeOf(layout);
}

std::string LayoutWords(const RawLayout& layout) {
  return std::to_string(layout.cylinders) + " cylinders, " + std::to_string(layout.heads) +
         (layout.heads == 1 ? " head, " : " heads, ") + std::to_string(layout.sectors) +
         " sectors of " + std::to_string(128 << layout.sizeCode) + " bytes";
}

// The layout of a file of `size` bytes whose first bytes are `boot`, and
// in words which it is and why; null for a size no usual disk has.
const RawLayout* ChooseLayout(std::int64_t size, const unsigned char* boot, std::size_t length,
                              std::string& why) {
  std::vector<const RawLayout*> fits;
  for (const RawLayout& layout : kLayouts) {
    if (SizeOf(layout) == size) {
      fits.push_back(&layout);
    }
  }
  if (fits.empty()) {
    return nullptr;
  }
  const std::optional<BpbLayout> bpb = ReadBpb(boot, length);
  const RawLayout* chosen = fits.front();
  std::string reason;
  bool bpbChose = false;
  if (bpb) {
    const RawLayout* agreeing = nullptr;
    for (const RawLayout* layout : fits) {
      // cppcheck-suppress useStlAlgorithm ; a loop reads as plainly
      if (Agrees(*bpb, *layout)) {
        agreeing = layout;
        break;
      }
    }
    if (agreeing != nullptr) {
      chosen = agreeing;
      bpbChose = true;
      reason = ", as its boot sector's BPB says";
    } else {
      reason = "; its boot sector's BPB gives " + std::to_string(bpb->heads) +
               (bpb->heads == 1 ? " head, " : " heads, ") + std::to_string(bpb->sectors) +
               " sectors of " + std::to_string(bpb->sectorSize) + " bytes and " +
               std::to_string(bpb->totalSectors) + " sectors in all, which the size does not fit";
    }
  } else {
    reason = "; its boot sector holds no BPB";
  }
  std::string others;
  for (const RawLayout* layout : fits) {
    if (layout != chosen) {
      others += std::string(others.empty() ? "" : " or ") + "a " + layout->disk + " (" +
                LayoutWords(*layout) + ")";
    }
  }
  why = LayoutWords(*chosen) + ": the size of a " + chosen->disk + reason;
  if (!others.empty()) {
    why += std::string(bpbChose ? ", not " : "; it is also the size of ") + others;
  }
  return chosen;
}

Confidence Identify(const ImageProbe& probe) {
  for (const RawLayout& layout : kLayouts) {
    // cppcheck-suppress useStlAlgorithm ; a loop reads as plainly
    if (SizeOf(layout) == probe.size) {
      return kBySize;
    }
  }
  return kNotThisFormat;
}

LoadResult Load(std::unique_ptr<ByteSource> source) {
  LoadResult result;
  std::vector<unsigned char> boot;
  if (!LoadHead(*source, kBootSectorSize, boot, result)) {
    return result;
  }
  const std::int64_t held = source->Size();
  std::string why;
  const RawLayout* layout = ChooseLayout(held, boot.data(), boot.size(), why);
  if (layout == nullptr) {
    result.error = "the file's size is that of no disk a raw image is read as";
    return result;
  }
  auto image = std::make_unique<SectorImage>(kRawFormat.name, held);
  // The sectors are read from the file when asked for.
  image->ReadInPlace(std::move(source));
  image->SetLayout(why);
  // No header claims a geometry: the claimed geometry stays empty.
  const int disk = image->AddDisk(DiskInfo{});
  const std::int64_t trackBytes = std::int64_t{layout->sectors} << (7 + layout->sizeCode);
  for (int track = 0; track < layout->cylinders * layout->heads; ++track) {
    // The index is 2 x cylinder + head whatever the heads, as a one-sided
    // disk's tracks are numbered in the other formats.
    const int cylinder = track / layout->heads;
    const int head = track % layout->heads;
    image->SetTrack(
        disk, 2 * cylinder + head,
        FlatTrack(track * trackBytes, cylinder, head, 1, layout->sectors, layout->sizeCode));
  }
  result.image = std::move(image);
  return result;
}

}  // namespace

const ImageFormat kRawFormat = {"raw", "hdm xdf 2hd tfd img ima", Identify, Load};

std::vector<Sector> FlatTrack(std::int64_t start, int c, int h, int firstR, int count,
                              int sizeCode) {
  const auto bytes = static_cast<std::uint32_t>(128U << static_cast<unsigned>(sizeCode));
  std::vector<Sector> sectors;
  sectors.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    Sector sector;
    sector.id = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(h),
                 static_cast<std::uint8_t>(firstR + i), static_cast<std::uint8_t>(sizeCode)};
    sector.recordedSize = bytes;
    sector.size = bytes;
    sector.location = start + static_cast<std::int64_t>(i) * bytes;
    sectors.push_back(sector);
  }
  return sectors;
}

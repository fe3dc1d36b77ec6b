// The eight disks zefacut knows, in one table: for each, the signature that
// recognises it, the title and disk its message names, and the files it holds
// in the order they are written.
//
// The disks are 2HD: 77 cylinders of two heads, tracks of 8 sectors of 1024
// bytes (N = 3), track index = 2 x cylinder + head. A file is cut from a run
// of sectors that starts at sector R of a track and steps R through 1..8,
// then the head, then the cylinder.
#ifndef ZEFACUT_KNOWN_KNOWN_DISKS_H
#define ZEFACUT_KNOWN_KNOWN_DISKS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "disk/model.h"

enum class DiskKind {
  Title1DiskA,
  Title1DiskB,
  Title2DiskA,
  Title2DiskB,
  Title2UserDisk,
  Title3DiskA,
  Title3DiskB,
  Title3UserDisk,
  Unsupported,
};

constexpr std::uint8_t kSizeCode = 3;
constexpr int kSectorSize = 128 << kSizeCode;
constexpr int kFirstSector = 1;
constexpr int kLastSector = 8;
constexpr int kTrackBytes = kSectorSize * (kLastSector - kFirstSector + 1);

// The two sectors whose bytes tell the disks apart; each is compared only
// when it is read whole.
constexpr SectorAddress kIdentificationSector = {1, {0, 1, 5, kSizeCode}};
constexpr SectorAddress kBootSector = {0, {0, 0, 1, kSizeCode}};
constexpr int kSignatureSectorSize = kSectorSize;

struct Signature {
  SectorAddress sector;
  int offset;        // where in the sector the text starts
  const char* text;  // compared byte for byte, no terminator
  int length;
};

// One file: `length` bytes from `offset` bytes into the run of sectors that
// starts at sector R of `track`.
struct Cut {
  std::array<char, 8> name;  // NUL-terminated
  int track;
  int r;
  int offset;
  int length;
};

// The first sector of a cut's run: C and H follow from the track index.
constexpr SectorAddress RunStart(const Cut& cut) {
  return {cut.track,
          {static_cast<std::uint8_t>(cut.track >> 1), static_cast<std::uint8_t>(cut.track & 1),
           static_cast<std::uint8_t>(cut.r), kSizeCode}};
}

struct KnownDiskRow {
  DiskKind kind;
  Signature signature;
  const char* title;  // "ZEFA LOMRI 2"
  const char* disk;   // "User Disk"
  const Cut* cuts;
  std::size_t cutCount;
};

// A piece of a piece list: a byte on the disk packed as
// track << 13 | (R - 1) << 10 | offset in the sector, which is also its
// address with the tracks laid end to end; and the piece's length. A length
// of 0 ends a list.
struct Piece {
  std::int32_t location;
  std::int32_t length;
};

inline constexpr Piece FmPieceList[] = {
    {0x1F180, 640},  {0x1F400, 2176}, {0x1FC80, 1536}, {0x20280, 1152}, {0x18000, 640},
    {0x18280, 1920}, {0x18A00, 768},  {0x18D00, 1024}, {0x19100, 1024}, {0x19500, 1280},
    {0x19A00, 1024}, {0x19E00, 768},  {0x1A100, 1664}, {0x1A780, 768},  {0x1AA80, 512},
    {0x1AC80, 1024}, {0x1B080, 896},  {0x1B400, 512},  {0x1B600, 896},  {0x1B980, 1280},
    {0x1BE80, 1280}, {0x1C380, 1280}, {0x1C880, 1280}, {0x1CD80, 1280}, {0x1D280, 1408},
    {0x1D800, 1152}, {0x1DC80, 1408}, {0x1E200, 1408}, {0x1E780, 1152}, {0x1EC00, 1408},
    {0x20700, 2688}, {0x21180, 640},  {0x21400, 1920}, {0x21B80, 1408}, {0, 0},
};

inline constexpr Piece BeepPieceList[] = {
    {0x22100, 11264}, {0x24D00, 8704}, {0x26F00, 13312}, {0x2A300, 8448}, {0, 0},
};

namespace known_disks_detail {

constexpr Cut MakeCut(const char* name, int track, int r, int offset, int length) {
  Cut cut{{}, track, r, offset, length};
  for (std::size_t i = 0; i + 1 < cut.name.size() && name[i] != '\0'; ++i) {
    cut.name[i] = name[i];
  }
  return cut;
}

template <std::size_t Size>
constexpr std::size_t PieceCount(const Piece (&pieces)[Size]) {
  std::size_t count = 0;
  while (count < Size && pieces[count].length != 0) {
    ++count;
  }
  return count;
}

// Piece i of a list becomes the file PREFIX followed by i in two digits.
constexpr Cut PieceCut(const char* prefix, std::size_t i, const Piece& piece) {
  Cut cut = MakeCut(prefix, piece.location >> 13, ((piece.location >> 10) & 7) + 1,
                    piece.location & 0x3FF, piece.length);
  cut.name[2] = static_cast<char>('0' + i / 10 % 10);
  cut.name[3] = static_cast<char>('0' + i % 10);
  return cut;
}

constexpr std::size_t kFmPieces = PieceCount(FmPieceList);
constexpr std::size_t kBeepPieces = PieceCount(BeepPieceList);

constexpr std::array<Cut, 2 + kFmPieces + kBeepPieces> Title1DiskACuts() {
  std::array<Cut, 2 + kFmPieces + kBeepPieces> cuts{};
  cuts[0] = MakeCut("FMDRV", 4, 7, 0, 8192);
  cuts[1] = MakeCut("BEEPDRV", 5, 7, 0, 3840);
  for (std::size_t i = 0; i < kFmPieces; ++i) {
    cuts[2 + i] = PieceCut("FM", i, FmPieceList[i]);
  }
  for (std::size_t i = 0; i < kBeepPieces; ++i) {
    cuts[2 + kFmPieces + i] = PieceCut("BP", i, BeepPieceList[i]);
  }
  return cuts;
}

inline constexpr auto kTitle1DiskA = Title1DiskACuts();
// Everything on tracks 0 to 3 after the boot sector.
inline constexpr Cut kDiskA[] = {MakeCut("PROG", 0, 2, 0, 31744)};
// Written in this order, which is not their order on the disk.
inline constexpr Cut kTitle2DiskB[] = {
    MakeCut("FMBGM", 5, 3, 0, 41279),
    MakeCut("FMSE", 12, 5, 497, 3124),
    MakeCut("BEEPBGM", 10, 3, 319, 18610),
    MakeCut("BEEPSE", 12, 8, 549, 1196),
};
inline constexpr Cut kTitle3DiskB[] = {
    MakeCut("FMBGM", 7, 8, 0, 22410),
    MakeCut("FMSE", 15, 2, 592, 3143),
    MakeCut("BEEPBGM", 12, 2, 599, 24569),
    MakeCut("BEEPSE", 15, 5, 663, 1207),
};

// The identification signature is the title with a hyphen for its blank, a
// blank and the disk's digit, from byte 0; a volume label is the title word
// and digit, six blanks and the disk, from byte 2 of the boot sector.
constexpr Signature Identification(const char* text) {
  return {kIdentificationSector, 0, text, 12};
}
constexpr Signature Label(const char* text, int length) { return {kBootSector, 2, text, length}; }

}  // namespace known_disks_detail

// Tested in this order; the first match decides.
inline constexpr KnownDiskRow kKnownDisks[] = {
    {DiskKind::Title1DiskA, known_disks_detail::Identification("ZEFA-LOMRI 1"), "ZEFA LOMRI",
     "Disk A", known_disks_detail::kTitle1DiskA.data(), known_disks_detail::kTitle1DiskA.size()},
    {DiskKind::Title1DiskB, known_disks_detail::Identification("ZEFA-LOMRI 2"), "ZEFA LOMRI",
     "Disk B", nullptr, 0},
    {DiskKind::Title2DiskA, known_disks_detail::Label("ZefaLomri2      DISK-A", 22), "ZEFA LOMRI 2",
     "Disk A", known_disks_detail::kDiskA, 1},
    {DiskKind::Title2DiskB, known_disks_detail::Label("ZefaLomri2      DISK-B", 22), "ZEFA LOMRI 2",
     "Disk B", known_disks_detail::kTitle2DiskB, 4},
    {DiskKind::Title2UserDisk, known_disks_detail::Label("ZefaLomri2      User-disk", 25),
     "ZEFA LOMRI 2", "User Disk", known_disks_detail::kTitle2DiskB, 4},
    {DiskKind::Title3DiskA, known_disks_detail::Label("ZefaLomri3      DISK-A", 22), "ZEFA LOMRI 3",
     "Disk A", known_disks_detail::kDiskA, 1},
    {DiskKind::Title3DiskB, known_disks_detail::Label("ZefaLomri3      DISK-B", 22), "ZEFA LOMRI 3",
     "Disk B", known_disks_detail::kTitle3DiskB, 4},
    {DiskKind::Title3UserDisk, known_disks_detail::Label("ZefaLomri3      User-disk", 25),
     "ZEFA LOMRI 3", "User Disk", known_disks_detail::kTitle3DiskB, 4},
};

// The row of a kind; null for Unsupported.
constexpr const KnownDiskRow* FindKnownDisk(DiskKind kind) {
  for (const KnownDiskRow& known : kKnownDisks) {
    // std::find_if is not constexpr before C++20.
    // cppcheck-suppress useStlAlgorithm
    if (known.kind == kind) {
      return &known;
    }
  }
  return nullptr;
}

// The longest run a cut may read: a whole disk of 154 tracks.
constexpr int kMaxRunLength = 154 * kTrackBytes;

namespace known_disks_detail {

constexpr std::size_t TextLength(const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0') {
    ++length;
  }
  return length;
}

// A cut reads a run of offset + length bytes into a buffer of that size; the
// run starts at a real sector and ends on the disk.
constexpr bool Fits(const Cut& cut) {
  if (cut.name[0] == '\0' || cut.name.back() != '\0' || cut.offset < 0 || cut.length <= 0 ||
      cut.offset > kMaxRunLength - cut.length || cut.track < 0 || cut.r < kFirstSector ||
      cut.r > kLastSector) {
    return false;
  }
  const long long start = static_cast<long long>(cut.track) * kTrackBytes +
                          static_cast<long long>(cut.r - kFirstSector) * kSectorSize;
  return start + cut.offset + cut.length <=
         static_cast<long long>(DiskImage::kMaxTracks) * kTrackBytes;
}

constexpr bool EveryRowHolds() {
  for (std::size_t row = 0; row < std::size(kKnownDisks); ++row) {
    const KnownDiskRow& known = kKnownDisks[row];
    const Signature& signature = known.signature;
    if (known.kind != static_cast<DiskKind>(row) || signature.offset < 0 || signature.length <= 0 ||
        signature.offset + signature.length > kSignatureSectorSize ||
        TextLength(signature.text) != static_cast<std::size_t>(signature.length)) {
      return false;
    }
    for (std::size_t i = 0; i < known.cutCount; ++i) {
      if (!Fits(known.cuts[i])) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace known_disks_detail

static_assert(
    known_disks_detail::EveryRowHolds(),
    "every signature lies in its sector and every cut's run fits its buffer and the disk");
static_assert(std::size(kKnownDisks) == static_cast<std::size_t>(DiskKind::Unsupported),
              "one row for every known kind");

#endif  // ZEFACUT_KNOWN_KNOWN_DISKS_H

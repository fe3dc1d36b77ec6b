// The magic bytes of the archives and compressed files the tool reads
// (ArchiveFormat in input/archive.h lists them), told in every build, with
// libarchive or without: the tool names an archive it cannot read.
#include "input/archive_magic.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "input/archive.h"

namespace {

bool StartsWith(const unsigned char* head, std::size_t length, std::size_t offset,
                const char* magic, std::size_t magicLength) {
  return length >= offset && length - offset >= magicLength &&
         std::memcmp(head + offset, magic, magicLength) == 0;
}

// A ZIP member's local header at `offset`: "PK\3\4" and a compression method
// that some archiver writes (stored, the old shrink/reduce/implode methods,
// deflate, deflate64, bzip2, LZMA, zstd, xz, JPEG, WavPack, PPMd, AES).
bool IsZipMember(const unsigned char* head, std::size_t length, std::size_t offset) {
  constexpr std::size_t kFixedPart = 30;
  if (!StartsWith(head, length, offset, "PK\x03\x04", 4) || length - offset < kFixedPart ||
      head[offset + 9] != 0) {
    return false;
  }
  static const unsigned char kMethods[] = {0,  1,  2,  3,  4,  5,  6,  8, 9,
                                           12, 14, 93, 95, 96, 97, 98, 99};
  return std::find(std::begin(kMethods), std::end(kMethods), head[offset + 8]) !=
         std::end(kMethods);
}

// A ZIP archive: a member first, or after the mark of a split archive of one
// part ("PK\7\8" or "PK00"); or the end record of an archive of no member,
// whose counts and offsets are all 0.
bool IsZip(const unsigned char* head, std::size_t length) {
  if (IsZipMember(head, length, 0)) {
    return true;
  }
  if (StartsWith(head, length, 0, "PK\x07\x08", 4) || StartsWith(head, length, 0, "PK00", 4)) {
    return IsZipMember(head, length, 4);
  }
  constexpr std::size_t kEndRecord = 22;
  return StartsWith(head, length, 0, "PK\x05\x06", 4) && length >= kEndRecord &&
         std::all_of(head + 4, head + 20, [](unsigned char byte) { return byte == 0; });
}

// An LZH member header, as libarchive takes one: its method ID at 2 ("-lh0-"
// to "-lh7-", "-lhd-"; LArc's "-lzs-", "-lz4-", "-lz5-" in level 0 headers
// only) and its header level at 20. A level 0 or 1 header starts with its
// size (from byte 2) and the sum of those bytes, which must hold; a level 2
// or 3 header has 0x20 at 19 (the attribute byte of MS-DOS).
bool IsLzh(const unsigned char* head, std::size_t length) {
  constexpr std::size_t kAttributeAt = 19;
  constexpr std::size_t kLevelAt = 20;
  if (length < 22 || head[2] != '-' || head[3] != 'l' || head[6] != '-') {
    return false;
  }
  const unsigned char method = head[5];
  const unsigned char level = head[kLevelAt];
  if (head[4] == 'z') {
    if (level != 0 || (method != 's' && method != '4' && method != '5')) {
      return false;
    }
  } else if (head[4] != 'h' || ((method < '0' || method > '7') && method != 'd') || level > 3) {
    return false;
  }
  if (level >= 2) {
    return head[kAttributeAt] == 0x20;
  }
  const std::size_t end = std::size_t{head[0]} + 2;
  if (head[0] < 22 || end > length) {
    return false;
  }
  unsigned sum = 0;
  for (std::size_t i = 2; i < end; ++i) {
    sum += head[i];
  }
  return (sum & 0xFF) == head[1];
}

// A POSIX or GNU tar header: "ustar" at 257, and the checksum at 148 (octal,
// ended by NUL or space) equal to the sum of the header's 512 bytes with the
// checksum field counted as spaces.
bool IsTar(const unsigned char* head, std::size_t length) {
  constexpr std::size_t kBlock = 512;
  constexpr std::size_t kChecksumAt = 148;
  constexpr std::size_t kChecksumLength = 8;
  if (length < kBlock || !StartsWith(head, length, 257, "ustar", 5)) {
    return false;
  }
  unsigned long sum = 0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    const bool inField = i >= kChecksumAt && i < kChecksumAt + kChecksumLength;
    sum += inField ? ' ' : head[i];
  }
  std::size_t i = kChecksumAt;
  const std::size_t end = kChecksumAt + kChecksumLength;
  while (i < end && head[i] == ' ') {
    ++i;
  }
  unsigned long stored = 0;
  std::size_t digits = 0;
  for (; i < end && head[i] >= '0' && head[i] <= '7'; ++i, ++digits) {
    stored = stored * 8 + (head[i] - '0');
  }
  const bool ended = i < end && (head[i] == '\0' || head[i] == ' ');
  return digits > 0 && ended && stored == sum;
}

bool IsBzip2(const unsigned char* head, std::size_t length) {
  if (length < 10 || !StartsWith(head, length, 0, "BZh", 3) || head[3] < '1' || head[3] > '9') {
    return false;
  }
  return StartsWith(head, length, 4, "\x31\x41\x59\x26\x53\x59", 6) ||  // a block
         StartsWith(head, length, 4, "\x17\x72\x45\x38\x50\x90", 6);    // end of stream
}

}  // namespace

ArchiveKind ClassifyArchive(const unsigned char* head, std::size_t length) {
  if (head == nullptr) {
    return ArchiveKind::kNone;
  }
  if (IsZip(head, length)) {
    return ArchiveKind::kZip;
  }
  if (StartsWith(head, length, 0, "7z\xBC\xAF\x27\x1C", 6)) {
    return ArchiveKind::kSevenZip;
  }
  if (StartsWith(head, length, 0, "Rar!\x1A\x07\x00", 7) ||
      StartsWith(head, length, 0, "Rar!\x1A\x07\x01\x00", 8)) {
    return ArchiveKind::kRar;
  }
  if (StartsWith(head, length, 0, "\x1F\x8B\x08", 3)) {
    return ArchiveKind::kGzip;
  }
  if (IsBzip2(head, length)) {
    return ArchiveKind::kBzip2;
  }
  if (StartsWith(head, length, 0,
                 "\xFD"
                 "7zXZ\x00",
                 6)) {
    return ArchiveKind::kXz;
  }
  if (IsLzh(head, length)) {
    return ArchiveKind::kLzh;
  }
  if (IsTar(head, length)) {
    return ArchiveKind::kTar;
  }
  return ArchiveKind::kNone;
}

const char* ArchiveKindName(ArchiveKind kind) {
  switch (kind) {
    case ArchiveKind::kZip:
      return "ZIP";
    case ArchiveKind::kLzh:
      return "LZH";
    case ArchiveKind::kSevenZip:
      return "7-Zip";
    case ArchiveKind::kRar:
      return "RAR";
    case ArchiveKind::kTar:
      return "tar";
    case ArchiveKind::kGzip:
      return "gzip";
    case ArchiveKind::kBzip2:
      return "bzip2";
    case ArchiveKind::kXz:
      return "xz";
    case ArchiveKind::kNone:
      break;
  }
  return nullptr;
}

const char* ArchiveFormat(const unsigned char* head, std::size_t length) {
  return ArchiveKindName(ClassifyArchive(head, length));
}

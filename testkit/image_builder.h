// Builds D88 images in memory, for the tests, the fuzz seeds, the sample
// image and the benchmark. Every field can be set to any value, malformed
// ones included.
#ifndef ZEFACUT_TESTKIT_IMAGE_BUILDER_H
#define ZEFACUT_TESTKIT_IMAGE_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct SectorSpec {
  std::uint8_t c = 0;
  std::uint8_t h = 0;
  std::uint8_t r = 1;
  std::uint8_t n = 3;
  Bytes data;
  // Fields as written; by default the number of sectors in the track and the
  // size of `data`.
  std::optional<std::uint16_t> count;
  std::optional<std::uint16_t> dataSize;
  // Header bytes 6, 7 and 8: density (0x40 FM), deleted mark (0x10) and the
  // status the drive gave when the disk was dumped (0xB0 data CRC error...).
  std::uint8_t density = 0;
  std::uint8_t deletedMark = 0;
  std::uint8_t status = 0;
};

struct TrackSpec {
  std::vector<SectorSpec> sectors;
};

struct DiskSpec {
  std::string name;  // the first 16 bytes go to the name field, NUL-padded
  std::uint8_t mediaType = 0;
  std::uint8_t writeProtect = 0;    // 0x10: protected
  std::map<int, TrackSpec> tracks;  // by track index, 0..163
  // Written as given instead of what the layout gives.
  std::optional<std::uint32_t> sizeField;
  std::map<int, std::uint32_t> trackTableOverrides;
  // Raw bytes written over the header once it is laid out (offset -> bytes).
  std::map<int, Bytes> headerPatches;
};

// Sector data of the plain layout: bytes derived from seed, track and sector
// number, so that no two sectors of an image hold the same bytes.
Bytes PatternSector(std::uint32_t seed, int track, int r, int size = 1024);

// Track 0 side 0 as PC-98 2HD disks hold it: 26 sectors of 128 bytes in
// FM (single density), IDs (0, 0, R, 0), data from PatternSector.
constexpr std::uint8_t kFmDensity = 0x40;
constexpr int kFmTrackZeroSectors = 26;
TrackSpec FmTrackZero(std::uint32_t seed);

// A disk laid out as the known disks are: tracks 0..tracks-1, each with
// sectors 1..8 of 1024 bytes, IDs (track / 2, track % 2, R, 3), data from
// PatternSector.
DiskSpec PlainDisk(int tracks, std::uint32_t seed);

// The data of sector R of a track of the disk; the sector must exist.
Bytes& SectorData(DiskSpec& disk, int track, int r);

// Takes sector R out of a track of the disk; the sector must exist.
void RemoveSector(DiskSpec& disk, int track, int r);

// Copies bytes into a disk's sector data at an offset; the sector must exist
// and hold them.
void PutBytes(DiskSpec& disk, int track, int r, int offset, const std::string& bytes);

// The disk's tracks 0..tracks-1 laid end to end, 8 sectors of 1024 bytes
// each, as the plain layout places them (missing sectors as zeros).
Bytes LinearBytes(const DiskSpec& disk, int tracks);

// The eight disks the tool knows, in the order it tests them, by the
// signature that identifies each, written out apart from the tool's table
// for the tests to hold it to: the identification sector (track 1, C 0,
// H 1, R 5) starts with it, or the boot sector (track 0, R 1) holds it from
// byte 2.
struct KnownSignature {
  const char* kind;
  bool inBootSector;
  const char* text;
};
extern const KnownSignature kKnownSignatures[8];

// Tracks enough for every cut of every known disk.
constexpr int kKnownDiskTracks = 24;

// A plain disk with the signature of row `index` of the tool's known-disk
// table in place, named after kKnownSignatures[index].kind.
DiskSpec KnownDisk(int index, std::uint32_t seed, int tracks = kKnownDiskTracks);

// The disks of the sample image: the eight known disks in order, then one
// of no known kind.
std::vector<DiskSpec> SampleDisks();

Bytes BuildDisk(const DiskSpec& disk);
// Where BuildDisk puts the 16-byte header of the sector at `position` (0 for
// the first) of a track, from the disk's start; a position one past the
// track's last sector gives where that sector's data ends. For cutting
// images short at a chosen place.
std::size_t SectorHeaderOffset(const DiskSpec& disk, int track, std::size_t position);
Bytes BuildImage(const std::vector<DiskSpec>& disks);

// Writes bytes to a file; false on failure.
bool WriteFileBytes(const std::string& path, const Bytes& bytes);

#endif  // ZEFACUT_TESTKIT_IMAGE_BUILDER_H

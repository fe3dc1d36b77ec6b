// Writers of every image format the tool reads, each from the same in-memory
// disk the D88 builder takes (DiskSpec), for tests that hold the readers of
// all formats to one another, and for the fuzz seeds and the benchmark.
//
// A writer lays out what its format can hold of the disk: the flat formats
// (raw, FDI, DIM) hold the 2HD geometry of the known disks only, 77
// cylinders x 2 heads x 8 sectors of 1024 bytes, with sector R of track T at
// its place (a sector the disk lacks is written as zeros); the formats with
// sector maps (NFD, FDD, IMD) and the bitstream format (HFE) hold each
// track's sectors in recorded order with their IDs and what they can record
// of the flags; the flux format (SCP, support/flux_writers.h) holds the
// HFE writer's cells read three times by a drive that drifts.
#ifndef ZEFACUT_TESTS_SUPPORT_FORMAT_WRITERS_H
#define ZEFACUT_TESTS_SUPPORT_FORMAT_WRITERS_H

#include <string>
#include <vector>

#include "support/image_builder.h"

enum class WrittenFormat { kD88, kRaw, kFdi, kDim, kNfd0, kNfd1, kFdd, kImd, kHfe1, kHfe3, kScp };

// The 2HD geometry of the flat formats.
constexpr int kFlatCylinders = 77;
constexpr int kFlatHeads = 2;
constexpr int kFlatSectors = 8;
constexpr int kFlatSectorSize = 1024;
constexpr int kFlatTracks = kFlatCylinders * kFlatHeads;

Bytes BuildRaw(const DiskSpec& disk);
Bytes BuildFdi(const DiskSpec& disk);
Bytes BuildDim(const DiskSpec& disk);
Bytes BuildNfd(const DiskSpec& disk, int revision);
Bytes BuildFdd(const DiskSpec& disk);
Bytes BuildImd(const DiskSpec& disk);
Bytes BuildHfe(const DiskSpec& disk, int revision);

// NFD revision 1 with the records of repeated reads: every sector followed
// by `retries` more copies of 0xEE bytes, and every track's sectors by
// `specials` special-read records of `specialLength` bytes read
// `specialRetries` + 1 times (0xDD bytes).
struct NfdReads {
  int retries = 0;
  int specials = 0;
  std::uint32_t specialLength = 0;
  int specialRetries = 0;
};
Bytes BuildNfd1(const DiskSpec& disk, const NfdReads& reads);

// The disk in a format, by the writer above (D88: BuildImage of the one disk).
Bytes BuildInFormat(WrittenFormat format, const DiskSpec& disk);

struct WrittenFormatName {
  WrittenFormat format;
  const char* name;       // as the tool names the format it read
  const char* extension;  // a usual file extension, with the dot
};
// Every format, D88 first.
extern const std::vector<WrittenFormatName> kWrittenFormats;

#endif  // ZEFACUT_TESTS_SUPPORT_FORMAT_WRITERS_H

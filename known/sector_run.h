// Runs of sectors, the way the known disks' files lie: from a first sector,
// R steps through 1..8, then the head, then the cylinder (track = 2 x
// cylinder + head), all with one size code.
#ifndef ZEFACUT_KNOWN_SECTOR_RUN_H
#define ZEFACUT_KNOWN_SECTOR_RUN_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "disk/model.h"

// A sector a run took a chunk from, with what the image says of it.
struct RunSector {
  SectorAddress at;
  SectorFlags flags = 0;
  // For a sector read from flux: in how many of how many revolutions it read
  // well (0 of 0 otherwise).
  std::uint8_t revolutionsGood = 0;
  std::uint8_t revolutions = 0;
  // Its track holds another sector of the same ID with other data; this one,
  // the first, is the one read.
  bool duplicated = false;
};

struct SectorRun {
  // The bytes of the chunks read whole: a run stops at the first sector that
  // is missing or holds less than its chunk.
  std::vector<unsigned char> bytes;
  // The sectors the chunks came from, in run order.
  std::vector<RunSector> sectors;
  // Where a run stopped short of its length, and the data bytes that sector
  // holds: none when it is not on the disk.
  std::optional<SectorAddress> stop;
  std::optional<std::uint32_t> stopHolds;
};

// Reads up to `length` bytes of disk `disk` from the run that starts at
// `start`, in chunks of one sector's nominal size (128 << N).
SectorRun ReadRun(DiskImage& image, int disk, SectorAddress start, std::size_t length);

// The sector after `at` in a run; false when there is none (an ID would
// leave the range of a byte).
bool NextInRun(SectorAddress& at);

#endif  // ZEFACUT_KNOWN_SECTOR_RUN_H

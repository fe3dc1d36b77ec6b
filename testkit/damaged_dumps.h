// Damaged dumps of a known disk, made with the image builder, and what the
// tool says of each: the cases the tool tests and the d88info tests share.
#ifndef ZEFACUT_TESTKIT_DAMAGED_DUMPS_H
#define ZEFACUT_TESTKIT_DAMAGED_DUMPS_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "testkit/image_builder.h"

struct DamagedDump {
  const char* name;
  Bytes (*image)();
  // The tool's standard error and exit status on the image.
  std::string err;
  int status;
  // Lines d88info must print for the image (each a whole line).
  std::vector<std::string> listing;
};

// ZEFA LOMRI 2 Disk B: FMBGM from track 5 R3, FMSE from track 12 R5 (sectors
// 5 to 8 of track 12), BEEPBGM from track 10 R3 to track 12 R5, BEEPSE from
// track 12 R8 into track 13.
inline DiskSpec DamagedBase() { return KnownDisk(3, 77); }

// Title 2 Disk B with header bytes 7 and 8 of one sector of FMSE's run, or of
// its boot sector, set as given.
inline Bytes MarkedSector(int track, int r, std::uint8_t deletedMark, std::uint8_t status) {
  DiskSpec disk = DamagedBase();
  for (SectorSpec& sector : disk.tracks[track].sectors) {
    if (sector.r == r) {
      sector.deletedMark = deletedMark;
      sector.status = status;
    }
  }
  return BuildDisk(disk);
}

// Three disks whose disk `zero` has a size field of 0.
inline Bytes SizeZeroIn(int zero) {
  std::vector<DiskSpec> disks = {KnownDisk(1, 1, 2), KnownDisk(2, 2, 4), KnownDisk(1, 3, 2)};
  disks[static_cast<std::size_t>(zero)].sizeField = 0;
  return BuildImage(disks);
}

std::vector<DamagedDump> DamagedDumps();

// Test names print the case's name rather than its bytes.
inline void PrintTo(const DamagedDump& dump, std::ostream* os) { *os << dump.name; }

#endif  // ZEFACUT_TESTKIT_DAMAGED_DUMPS_H

// How zefacut tells the disks it knows from any other: by the signatures of
// the known-disk table, tested in its order.
#ifndef ZEFACUT_KNOWN_RECOGNITION_H
#define ZEFACUT_KNOWN_RECOGNITION_H

#include "disk/model.h"
#include "known/known_disks.h"

struct Recognition {
  DiskKind kind = DiskKind::Unsupported;
  // For a known disk, the sector whose signature matched, and what the image
  // says of that sector.
  SectorAddress sector;
  SectorFlags flags = 0;
  // For a disk read from flux: in how many of how many revolutions that
  // sector read well.
  std::uint8_t revolutionsGood = 0;
  std::uint8_t revolutions = 0;
};

// Which known disk disk `disk` of the image is; Unsupported for any other.
Recognition RecogniseDisk(DiskImage& image, int disk);

#endif  // ZEFACUT_KNOWN_RECOGNITION_H

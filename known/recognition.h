// How zefacut tells the disks it knows from any other: by the signatures of
// the known-disk table, tested in its order.
#ifndef ZEFACUT_KNOWN_RECOGNITION_H
#define ZEFACUT_KNOWN_RECOGNITION_H

#include <vector>

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

// A signature sector as recognition reads it, and the bytes it compares.
struct SignatureRead {
  // The row whose signature is compared here: of the rows whose signatures
  // lie in this sector, the one with the longest text.
  const Signature* signature = nullptr;
  SectorAddress at;
  // How many bytes of the sector could be read: 0 when it is not found.
  int got = 0;
  // The bytes compared are [from, from + length) of the sector.
  int from = 0;
  int length = 0;
  // The sector, kSignatureSectorSize bytes, of which the first `got` were
  // read (the rest 0).
  std::vector<unsigned char> sector;

  // The end of the compared bytes that could be read: [from, end).
  int ShownEnd() const;
};

// The evidence for an unknown disk: each sector that signatures are
// compared in, once, in track order (the identification sector, then the
// boot sector).
std::vector<SignatureRead> ReadSignatureSectors(DiskImage& image, int disk);

#endif  // ZEFACUT_KNOWN_RECOGNITION_H

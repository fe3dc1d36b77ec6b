// How zefacut tells the eight disks it knows from any other: by a signature
// at the start of the identification sector, or else by the volume label in
// the boot sector.
#ifndef ZEFACUT_CUTTER_RECOGNITION_H
#define ZEFACUT_CUTTER_RECOGNITION_H

#include <cstddef>

#include "d88/d88_image.h"

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

// A sector by its track index and the ID it must carry.
struct SectorAddress {
  int track;
  int c;
  int h;
  int r;
  int n;
};

// Both signature sectors are read whole, 1024 bytes (one sector, so the
// sector range does not come into it); a sector that cannot be read whole
// matches nothing.
constexpr SectorAddress kIdentificationSector = {1, 0, 1, 5, 3};
constexpr SectorAddress kBootSector = {0, 0, 0, 1, 3};
constexpr int kSignatureSectorSize = 1024;

// Where the signatures lie in their sectors, and the most bytes any of them
// spans: "ZEFA-LOMRI 1" at byte 0 of the identification sector, labels such
// as "ZefaLomri2      User-disk" from byte 2 of the boot sector.
constexpr int kIdentificationSignatureOffset = 0;
constexpr int kIdentificationSignatureLength = 12;
constexpr int kBootLabelOffset = 2;
constexpr int kBootLabelLength = 25;

// Which known disk the selected disk of `image` is. Reads the signature
// sectors into `buffer`, which must hold kSignatureSectorSize bytes.
DiskKind RecogniseDisk(D88Image& image, unsigned char* buffer);

// The title and the disk of a known kind, in English: "ZEFA LOMRI 2" and
// "User Disk". Null for Unsupported.
const char* KnownDiskTitle(DiskKind kind);
const char* KnownDiskName(DiskKind kind);

#endif  // ZEFACUT_CUTTER_RECOGNITION_H

#include "cutter/recognition.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

struct Signature {
  DiskKind kind;
  const char* text;
  std::size_t length;
  const char* title;
  const char* disk;
};

// Tested in this order; the first match decides. The identification
// signature is the title with a hyphen for its blank, a blank and the disk's
// digit.
constexpr Signature kIdentificationSignatures[] = {
    {DiskKind::Title1DiskA, "ZEFA-LOMRI 1", 12, "ZEFA LOMRI", "Disk A"},
    {DiskKind::Title1DiskB, "ZEFA-LOMRI 2", 12, "ZEFA LOMRI", "Disk B"},
};

// Volume labels, compared from byte 2 of the boot sector: the title word and
// digit, six blanks, the disk.
constexpr Signature kBootSignatures[] = {
    {DiskKind::Title2DiskA, "ZefaLomri2      DISK-A", 22, "ZEFA LOMRI 2", "Disk A"},
    {DiskKind::Title2DiskB, "ZefaLomri2      DISK-B", 22, "ZEFA LOMRI 2", "Disk B"},
    {DiskKind::Title2UserDisk, "ZefaLomri2      User-disk", 25, "ZEFA LOMRI 2", "User Disk"},
    {DiskKind::Title3DiskA, "ZefaLomri3      DISK-A", 22, "ZEFA LOMRI 3", "Disk A"},
    {DiskKind::Title3DiskB, "ZefaLomri3      DISK-B", 22, "ZEFA LOMRI 3", "Disk B"},
    {DiskKind::Title3UserDisk, "ZefaLomri3      User-disk", 25, "ZEFA LOMRI 3", "User Disk"},
};

// Only a whole sector is compared: a short read leaves bytes of an earlier
// disk in the buffer, and those must not recognise this one.
bool ReadSignatureSector(D88Image& image, const SectorAddress& at, unsigned char* buffer) {
  return image.ReadSectors(at.track, at.c, at.h, at.r, at.n, buffer, kSignatureSectorSize) ==
         kSignatureSectorSize;
}

const Signature* Find(DiskKind kind) {
  const auto isKind = [kind](const Signature& signature) { return signature.kind == kind; };
  const Signature* found = std::find_if(std::begin(kIdentificationSignatures),
                                        std::end(kIdentificationSignatures), isKind);
  if (found != std::end(kIdentificationSignatures)) {
    return found;
  }
  found = std::find_if(std::begin(kBootSignatures), std::end(kBootSignatures), isKind);
  return found != std::end(kBootSignatures) ? found : nullptr;
}

}  // namespace

DiskKind RecogniseDisk(D88Image& image, unsigned char* buffer) {
  if (ReadSignatureSector(image, kIdentificationSector, buffer)) {
    for (const Signature& signature : kIdentificationSignatures) {
      if (std::memcmp(buffer + kIdentificationSignatureOffset, signature.text, signature.length) ==
          0) {
        return signature.kind;
      }
    }
  }
  if (ReadSignatureSector(image, kBootSector, buffer)) {
    for (const Signature& signature : kBootSignatures) {
      if (std::memcmp(buffer + kBootLabelOffset, signature.text, signature.length) == 0) {
        return signature.kind;
      }
    }
  }
  return DiskKind::Unsupported;
}

const char* KnownDiskTitle(DiskKind kind) {
  const Signature* signature = Find(kind);
  return signature != nullptr ? signature->title : nullptr;
}

const char* KnownDiskName(DiskKind kind) {
  const Signature* signature = Find(kind);
  return signature != nullptr ? signature->disk : nullptr;
}

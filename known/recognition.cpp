#include "known/recognition.h"

#include <cstring>

#include "known/sector_run.h"

Recognition RecogniseDisk(DiskImage& image, int disk) {
  for (const KnownDiskRow& known : kKnownDisks) {
    const Signature& signature = known.signature;
    // Only a whole sector is compared: a sector cut short recognises nothing.
    const SectorRun sector = ReadRun(image, disk, signature.sector, kSignatureSectorSize);
    if (sector.bytes.size() == static_cast<std::size_t>(kSignatureSectorSize) &&
        std::memcmp(sector.bytes.data() + signature.offset, signature.text,
                    static_cast<std::size_t>(signature.length)) == 0) {
      const RunSector& read = sector.sectors.front();
      return {known.kind, signature.sector, read.flags, read.revolutionsGood, read.revolutions};
    }
  }
  return {};
}

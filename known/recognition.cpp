#include "known/recognition.h"

#include <algorithm>
#include <cstring>
#include <memory>

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

int SignatureRead::ShownEnd() const { return std::max(from, std::min(from + length, got)); }

namespace {

SignatureRead ReadSignatureSector(DiskImage& image, int disk, const Signature& signature) {
  SignatureRead read;
  read.signature = &signature;
  read.at = signature.sector;
  read.from = signature.offset;
  read.length = signature.length;
  const std::shared_ptr<const Track> track = image.ReadTrack(disk, read.at.track);
  const Sector* found = track ? track->Find(read.at.id) : nullptr;
  read.sector.assign(kSignatureSectorSize, 0);
  read.got = found == nullptr
                 ? 0
                 : static_cast<int>(image.ReadData(*found, read.sector.data(), read.sector.size()));
  return read;
}

}  // namespace

std::vector<SignatureRead> ReadSignatureSectors(DiskImage& image, int disk) {
  const Signature* identification = nullptr;
  const Signature* boot = nullptr;
  for (const KnownDiskRow& known : kKnownDisks) {
    const Signature*& longest =
        known.signature.sector.track == kBootSector.track ? boot : identification;
    if (longest == nullptr || known.signature.length > longest->length) {
      longest = &known.signature;
    }
  }
  std::vector<SignatureRead> reads;
  for (const Signature* signature : {identification, boot}) {
    if (signature != nullptr) {
      reads.push_back(ReadSignatureSector(image, disk, *signature));
    }
  }
  return reads;
}

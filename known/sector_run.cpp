#include "known/sector_run.h"

#include <algorithm>

#include "known/known_disks.h"

bool NextInRun(SectorAddress& at) {
  if (at.id.r != kLastSector) {
    if (at.id.r == 255) {
      return false;
    }
    ++at.id.r;
    return true;
  }
  if (at.id.h != 0 && at.id.c == 255) {
    return false;
  }
  ++at.track;
  if (at.id.h == 0) {
    at.id.h = 1;
  } else {
    at.id.h = 0;
    ++at.id.c;
  }
  at.id.r = kFirstSector;
  return true;
}

namespace {

// Whether a later sector of the track with the ID of `first` holds other data.
bool HasOtherData(DiskImage& image, const Track& track, const Sector& first) {
  const std::vector<const Sector*> later = track.LaterWithSameId(first);
  if (later.empty()) {
    return false;
  }
  std::vector<unsigned char> data(first.size);
  image.ReadData(first, data.data(), data.size());
  std::vector<unsigned char> other;
  for (const Sector* sector : later) {
    other.assign(sector->size, 0);
    image.ReadData(*sector, other.data(), other.size());
    if (other != data) {
      return true;
    }
  }
  return false;
}

}  // namespace

SectorRun ReadRun(DiskImage& image, int disk, SectorAddress start, std::size_t length) {
  SectorRun run;
  const std::size_t unit = NominalSize(start.id.n);
  if (unit == 0) {
    return run;  // no 16-bit data size holds such a sector whole
  }
  run.bytes.resize(length);
  std::size_t total = 0;
  SectorAddress at = start;
  while (total < length) {
    const std::size_t chunk = std::min(unit, length - total);
    const std::shared_ptr<const Track> track = image.ReadTrack(disk, at.track);
    const Sector* sector = track ? track->Find(at.id) : nullptr;
    if (sector == nullptr || image.ReadData(*sector, run.bytes.data() + total, chunk) < chunk) {
      run.stop = at;
      if (sector != nullptr) {
        run.stopHolds = sector->size;
      }
      break;
    }
    // A sector recovered from bad reads that agree on bytes passing the data
    // CRC is no doubt of its bytes: as if its revolutions had read it well.
    const std::uint8_t good =
        sector->recoveredFrom > 0 ? sector->revolutions : sector->revolutionsGood;
    run.sectors.push_back(
        {at, sector->flags, good, sector->revolutions, HasOtherData(image, *track, *sector)});
    total += chunk;
    if (!NextInRun(at)) {
      break;
    }
  }
  run.bytes.resize(total);
  return run;
}

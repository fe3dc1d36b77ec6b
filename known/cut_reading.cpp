#include "known/cut_reading.h"

#include <algorithm>

std::string SectorName(const SectorAddress& at, bool withTrack) {
  std::string name = "sector " + std::to_string(at.id.c) + " " + std::to_string(at.id.h) + " " +
                     std::to_string(at.id.r) + " " + std::to_string(at.id.n);
  if (withTrack) {
    name += " of track " + std::to_string(at.track);
  }
  return name;
}

std::string MarkedSectorNote(const SectorAddress& at, SectorFlags flags) {
  return SectorName(at) + " is marked as " + FlagWords(flags) + " in the image";
}

CutReading ReadCut(DiskImage& image, int disk, const Cut& cut) {
  CutReading reading;
  const auto wanted = static_cast<std::size_t>(cut.offset) + static_cast<std::size_t>(cut.length);
  reading.run = ReadRun(image, disk, RunStart(cut), wanted);
  const SectorRun& run = reading.run;
  if (run.bytes.empty()) {
    const SectorAddress at = run.stop.value_or(RunStart(cut));
    if (run.stopHolds) {
      reading.notes.push_back("not written: " + SectorName(at) + " holds only " +
                              std::to_string(*run.stopHolds) + " of " +
                              std::to_string(std::min(wanted, NominalSize(at.id.n))) + " bytes");
    } else {
      reading.notes.push_back("not written: " + SectorName(at) + " is not on the disk");
    }
    return reading;
  }
  reading.written = true;
  for (const RunSector& sector : run.sectors) {
    if (sector.flags != 0) {
      reading.notes.push_back(MarkedSectorNote(sector.at, sector.flags));
    }
    if (sector.duplicated) {
      reading.notes.push_back("track " + std::to_string(sector.at.track) + " holds more than one " +
                              SectorName(sector.at, false) +
                              " with different data; the first was used");
    }
  }
  // Only bytes this run delivered go to the file.
  reading.from = std::min(run.bytes.size(), static_cast<std::size_t>(cut.offset));
  reading.size = run.bytes.size() - reading.from;
  if (reading.size < static_cast<std::size_t>(cut.length)) {
    reading.notes.push_back("only " + std::to_string(reading.size) + " of " +
                            std::to_string(cut.length) + " bytes could be read");
  }
  return reading;
}

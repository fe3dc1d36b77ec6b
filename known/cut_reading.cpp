#include "known/cut_reading.h"

#include <algorithm>
#include <memory>
#include <optional>

std::string SectorName(const SectorAddress& at, bool withTrack) {
  std::string name = "sector " + std::to_string(at.id.c) + " " + std::to_string(at.id.h) + " " +
                     std::to_string(at.id.r) + " " + std::to_string(at.id.n);
  if (withTrack) {
    name += " of track " + std::to_string(at.track);
  }
  return name;
}

std::string MarkedSectorNote(const SectorAddress& at, SectorFlags flags,
                             std::uint8_t revolutionsGood, std::uint8_t revolutions) {
  std::string note = SectorName(at);
  const auto marks = static_cast<SectorFlags>(flags & ~kImageCheckFails);
  if (marks != 0) {
    note += " is marked as " + FlagWords(marks) + " in the image";
  }
  // The image's own check tells of the file, not of how the disk read.
  if ((flags & kImageCheckFails) != 0) {
    note += std::string(marks != 0 ? "; " : ": ") + kImageCheckWords;
  }
  // A mark that every revolution read well (deleted data) is no doubt of
  // the bytes; one that some revolution read badly is.
  if (revolutionsGood < revolutions) {
    note += "; read well in " +
            (revolutionsGood == 0 ? std::string("none") : std::to_string(revolutionsGood)) +
            " of " + std::to_string(revolutions) +
            (revolutions == 1 ? " revolution" : " revolutions");
  }
  return note;
}

std::string UnreadTrackNote(DiskImage& image, int disk, int track) {
  const std::shared_ptr<const Track> read = image.ReadTrack(disk, track);
  if (!read || !read->Reading() || !read->Sectors().empty()) {
    return {};
  }
  if (read->CutShort()) {
    return "the image file ends inside track " + std::to_string(track);
  }
  const std::string& why = read->Reading()->unread;
  return "track " + std::to_string(track) + " of the flux dump: no sector could be decoded" +
         (why.empty() ? std::string() : " (" + why + ")");
}

namespace {

// Where a run stopped inside a track that the end of the image file cuts
// short, the words that say why: "; the image file ends inside track 79".
std::string FileEndNote(DiskImage& image, int disk, const std::optional<SectorAddress>& stop) {
  if (!stop) {
    return {};
  }
  const std::shared_ptr<const Track> track = image.ReadTrack(disk, stop->track);
  return track && track->CutShort()
             ? "; the image file ends inside track " + std::to_string(stop->track)
             : std::string();
}

// What a flux dump's own records got wrong in the tracks a run read: the
// flux before each fault was decoded, so the bytes may still be whole, but a
// user recovering a marginal disk is told.
void FaultNotes(DiskImage& image, int disk, const SectorRun& run, std::vector<std::string>& notes) {
  int last = -1;
  for (const RunSector& sector : run.sectors) {
    if (sector.at.track == last) {
      continue;
    }
    last = sector.at.track;
    const std::shared_ptr<const Track> track = image.ReadTrack(disk, last);
    if (!track || !track->Reading()) {
      continue;
    }
    for (const std::string& fault : track->Reading()->faults) {
      // cppcheck-suppress useStlAlgorithm ; a loop reads as plainly
      notes.push_back("track " + std::to_string(last) + " of the flux dump: " + fault +
                      "; the flux read before it was used");
    }
  }
}

// Where a run stopped at a track read from flux that gave no sector, why;
// the end of the file is told with the stop itself.
void UnreadNote(DiskImage& image, int disk, const std::optional<SectorAddress>& stop,
                std::vector<std::string>& notes) {
  if (!stop) {
    return;
  }
  const std::shared_ptr<const Track> track = image.ReadTrack(disk, stop->track);
  if (track && !track->CutShort()) {
    std::string note = UnreadTrackNote(image, disk, stop->track);
    if (!note.empty()) {
      notes.push_back(std::move(note));
    }
  }
}

}  // namespace

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
                              std::to_string(std::min(wanted, NominalSize(at.id.n))) + " bytes" +
                              FileEndNote(image, disk, run.stop));
    } else {
      reading.notes.push_back("not written: " + SectorName(at) + " is not on the disk" +
                              FileEndNote(image, disk, run.stop));
    }
    UnreadNote(image, disk, run.stop, reading.notes);
    return reading;
  }
  reading.written = true;
  FaultNotes(image, disk, run, reading.notes);
  for (const RunSector& sector : run.sectors) {
    if (sector.flags != 0) {
      reading.notes.push_back(
          MarkedSectorNote(sector.at, sector.flags, sector.revolutionsGood, sector.revolutions));
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
                            std::to_string(cut.length) + " bytes could be read" +
                            FileEndNote(image, disk, run.stop));
    UnreadNote(image, disk, run.stop, reading.notes);
  }
  return reading;
}

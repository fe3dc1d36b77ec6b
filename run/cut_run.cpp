#include "run/cut_run.h"

#include <cstring>
#include <utility>

#include "known/cut_reading.h"
#include "known/known_disks.h"
#include "known/recognition.h"
#include "platform/paths.h"
#include "platform/text_form.h"
#include "run/text_renderer.h"

std::string GroupedNumber(std::int64_t value) {
  const std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  const std::string digits = std::to_string(magnitude);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) {
      grouped += ',';
    }
    grouped += digits[i];
  }
  return (value < 0 ? "-" : "") + grouped;
}

// Hands each image of an input to the run, and each problem to its report.
class CutRun::Visitor : public ImageVisitor {
 public:
  Visitor(CutRun& run, std::string folder) : run_(run), folder_(std::move(folder)) {}

  void Member(const std::string& name, const std::string& member) override {
    run_.report_.Started({name, member});
  }

  void Image(const std::string& name, const std::string& member, DiskImage& image) override {
    const ImageInfo info = image.DescribeImage();
    ImageOpened opened;
    opened.name = name;
    opened.member = member;
    opened.format = info.format;
    opened.formatRecognised = !info.formatUnrecognised;
    opened.size = info.fileSize;
    opened.diskCount = image.DiskCount();
    run_.report_.Opened(opened);
    run_.CutDisks(image, name, folder_);
    if (run_.watch_) {
      run_.watch_(name, image);
    }
  }

  void Problem(const InputProblem& problem) override { run_.TellProblem(problem); }

 private:
  CutRun& run_;
  std::string folder_;
};

CutRun::CutRun(RunOutput& output, const CutSettings& settings)
    : report_(output, TextStyle{settings.quiet, settings.nameEachImage, true}),
      settings_(settings) {}

void CutRun::TellProblem(const InputProblem& problem) { report_.Problem(problem); }

void CutRun::CutFile(const std::string& path, const std::string& folder) {
  report_.Started({path, ""});
  Visitor visitor(*this, folder);
  ForEachImage(path, visitor, settings_.limits);
}

void CutRun::CutBytes(const std::string& name, std::vector<unsigned char> bytes,
                      const std::string& folder) {
  report_.Started({name, ""});
  Visitor visitor(*this, folder);
  ForEachImage(name, std::move(bytes), visitor, settings_.limits);
}

void CutRun::CutBuffers(const std::string& name, std::vector<NamedBuffer> buffers,
                        const std::string& folder) {
  report_.Started({name, ""});
  Visitor visitor(*this, folder);
  ForEachImage(name, std::move(buffers), visitor, settings_.limits);
}

void CutRun::End() { report_.End(settings_.dryRun); }

bool CutRun::FolderReady(const std::string& folder) {
  if (settings_.dryRun || folder.empty()) {
    return true;
  }
  const auto known = memory_.made.find(folder);
  if (known != memory_.made.end()) {
    return known->second;
  }
  const std::string reason = report_.Output().MakeFolder(folder);
  if (!reason.empty()) {
    Note note;
    note.severity = Severity::Error;
    note.about = Subject::Folder;
    note.subject = folder;
    note.subjectInWords = true;
    note.words = "cannot create '" + ShownName(folder) + "': " + reason;
    note.code = "cannot-create";
    note.path = folder;
    report_.Tell(note);
  }
  memory_.made.emplace(folder, reason.empty());
  return reason.empty();
}

namespace {

// A note about an image, or something on one of its disks.
Note ImageNote(const std::string& name, const std::string& words, const char* code) {
  Note note;
  note.about = Subject::Image;
  note.subject = name;
  note.image = name;
  note.words = words;
  note.code = code;
  return note;
}

// A note about a file of a disk.
Note FileNote(const std::string& image, int disk, const std::string& file, const std::string& path,
              const std::string& words, const char* code) {
  Note note;
  note.about = Subject::File;
  note.subject = file;
  note.image = image;
  note.disk = disk;
  note.path = path;
  note.words = words;
  note.code = code;
  return note;
}

SectorRead SectorReadOf(const RunSector& sector) {
  SectorRead read;
  read.at = sector.at;
  read.flags = sector.flags;
  read.revolutionsGood = sector.revolutionsGood;
  read.revolutions = sector.revolutions;
  read.duplicated = sector.duplicated;
  return read;
}

SignatureEvidence EvidenceOf(const SignatureRead& read) {
  SignatureEvidence evidence;
  evidence.at = read.at;
  evidence.got = read.got;
  evidence.from = read.from;
  evidence.length = read.length;
  const int end = read.ShownEnd();
  evidence.bytes.assign(read.sector.begin() + read.from, read.sector.begin() + end);
  return evidence;
}

}  // namespace

void CutRun::CutDisks(DiskImage& image, const std::string& name, const std::string& folder) {
  const ImageInfo info = image.DescribeImage();
  if (info.formatUnrecognised) {
    report_.Tell(ImageNote(
        name,
        "no image format recognised (" + GroupedNumber(info.fileSize) + " bytes); read as D88",
        "format-unrecognised"));
  }
  for (const std::string& fault : info.faults) {
    report_.Tell(ImageNote(name, fault, "image-fault"));
  }
  const int diskCount = image.DiskCount();
  for (int disk = 0; disk < diskCount; ++disk) {
    CutDisk(image, disk, name, folder);
    report_.Advanced({name, disk + 1, diskCount, "disks"});
  }
  if (info.zeroSizeDisk) {
    Note note =
        ImageNote(name,
                  "disk " + std::to_string(*info.zeroSizeDisk + 1) + " of " +
                      std::to_string(diskCount) + " has a size of 0; no disk after it can be found",
                  "zero-size-disk");
    note.disk = *info.zeroSizeDisk;
    report_.Tell(note);
  }
  if (info.diskLimit) {
    report_.Tell(ImageNote(name,
                           "only the first " + std::to_string(*info.diskLimit) + " disks were read",
                           "disk-limit"));
  }
  if (diskCount == 0) {
    report_.Tell(ImageNote(name, "no disk found", "no-disk"));
  }
}

void CutRun::CutDisk(DiskImage& image, int disk, const std::string& name,
                     const std::string& folder) {
  const Recognition recognition = RecogniseDisk(image, disk);
  const KnownDiskRow* known = FindKnownDisk(recognition.kind);
  DiskFound found;
  found.image = name;
  found.index = disk;
  found.count = image.DiskCount();
  if (known == nullptr) {
    // A signature's track that gave no sector leaves the disk unknown for a
    // reason the user can act on.
    std::set<int> tracks;
    for (const KnownDiskRow& row : kKnownDisks) {
      tracks.insert(row.signature.sector.track);
    }
    for (const int track : tracks) {
      const std::string words = UnreadTrackNote(image, disk, track);
      if (!words.empty()) {
        Note note = ImageNote(name, words, "track-unread");
        note.about = Subject::Track;
        note.disk = disk;
        note.track = track;
        report_.Tell(note);
      }
    }
    for (const SignatureRead& read : ReadSignatureSectors(image, disk)) {
      found.evidence.push_back(EvidenceOf(read));
    }
    report_.Found(found);
    return;
  }
  found.known = true;
  found.title = known->title;
  found.disk = known->disk;
  found.files = static_cast<int>(known->cutCount);
  report_.Found(found);
  ++memory_.knownDisks;
  if (recognition.flags != 0) {
    Note note = ImageNote(name,
                          MarkedSectorNote(recognition.sector, recognition.flags,
                                           recognition.revolutionsGood, recognition.revolutions),
                          "signature-marked");
    note.about = Subject::Sector;
    note.disk = disk;
    note.track = recognition.sector.track;
    note.sector = recognition.sector;
    report_.Tell(note);
  }
  // Disks count from 1 in what the tool says.
  const std::string source = std::string(known->title) + " " + known->disk + " (disk " +
                             std::to_string(disk + 1) + " of " + std::to_string(image.DiskCount()) +
                             " in " + ShownName(name) + ")";
  std::string into = folder;
  if (settings_.perDisk && known->cutCount > 0) {
    // A folder of its own, unique in the run.
    const std::string base =
        SafeFolderName(FileNameOf(name) + " - " + known->title + " " + known->disk);
    into = folder + base;
    for (int copy = 2; memory_.folders.count(into) != 0; ++copy) {
      into = folder + base + " (" + std::to_string(copy) + ")";
    }
    memory_.folders.insert(into);
    into += "/";
  }
  for (std::size_t i = 0; i < known->cutCount; ++i) {
    const Cut& cut = known->cuts[i];
    const char* file = cut.name.data();
    const CutReading reading = ReadCut(image, disk, cut);
    const std::string path = into + file;
    // A folder that cannot be made is told once, before its first file; its
    // files are not tried.
    const bool ready = !reading.written || FolderReady(into);
    if (ready) {
      FileCut event;
      event.image = name;
      event.disk = disk;
      event.folder = into;
      event.name = file;
      event.path = path;
      event.read = reading.written;
      event.planned = settings_.dryRun;
      event.size = reading.size;
      for (const RunSector& sector : reading.run.sectors) {
        event.sectors.push_back(SectorReadOf(sector));
      }
      event.notes = reading.notes;
      if (reading.written) {
        event.bytes = reading.run.bytes.data() + reading.from;
      }
      report_.Cut(event);
    }
    for (const std::string& words : reading.notes) {
      report_.Tell(FileNote(name, disk, file, path, words, "file-note"));
    }
    if (!reading.written || !ready) {
      continue;
    }
    const auto earlier = memory_.written.find(path);
    if (earlier != memory_.written.end()) {
      report_.Tell(FileNote(name, disk, file, path,
                            std::string(settings_.dryRun ? "would replace" : "replaces") +
                                " the file cut from " + earlier->second +
                                " earlier in this run; use -d to keep each disk's files apart",
                            "replaced"));
    }
    if (!settings_.dryRun) {
      // Someone protected it: theirs, not the run's, to replace. A file of
      // this run's own is the run's, however the umask left it.
      if (earlier == memory_.written.end() && report_.Output().IsReadOnly(path)) {
        Note note = FileNote(name, disk, file, path,
                             "not replaced: '" + ShownName(path) + "' is read-only", "read-only");
        note.severity = Severity::Error;
        report_.Tell(note);
        continue;
      }
      const std::string reason =
          report_.Output().WriteFile(path, reading.run.bytes.data() + reading.from, reading.size);
      if (!reason.empty()) {
        Note note = FileNote(name, disk, path, path,
                             "cannot write '" + ShownName(path) + "': " + reason, "cannot-write");
        note.severity = Severity::Error;
        note.subjectInWords = true;
        report_.Tell(note);
        continue;
      }
    }
    if (earlier == memory_.written.end()) {
      report_.FileWritten();
    }
    memory_.written[path] = source;
  }
}

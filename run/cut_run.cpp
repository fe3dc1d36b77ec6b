#include "run/cut_run.h"

#include <cstring>
#include <utility>

#include "known/cut_reading.h"
#include "known/known_disks.h"
#include "known/recognition.h"
#include "platform/text_form.h"

namespace {

// The Japanese lines. The output writes them in its stream's form: in
// Shift-JIS they are the bytes the tool has always written.
// "ファイルをオープンできません.\n"
constexpr char kOpenFailed[] =
    "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE3\x82\xAA\xE3\x83\xBC"
    "\xE3\x83\x97\xE3\x83\xB3\xE3\x81\xA7\xE3\x81\x8D\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93.\n";
// "未対応の形式です.\n"
constexpr char kUnsupported[] =
    "\xE6\x9C\xAA\xE5\xAF\xBE\xE5\xBF\x9C\xE3\x81\xAE\xE5\xBD\xA2\xE5\xBC\x8F\xE3\x81\xA7"
    "\xE3\x81\x99.\n";
// A recognition line: the title, " の ", the disk, " を認識しました.\n".
constexpr char kOf[] = " \xE3\x81\xAE ";
constexpr char kRecognised[] =
    " \xE3\x82\x92\xE8\xAA\x8D\xE8\xAD\x98\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F.\n";

}  // namespace

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

std::string FileNameOf(const std::string& path) {
  const std::string::size_type slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string SafeFolderName(const std::string& name) {
  std::string safe;
  for (const char ch : name) {
    const auto byte = static_cast<unsigned char>(ch);
    safe += byte < 0x20 || std::strchr("<>:\"/\\|?*", ch) != nullptr ? '_' : ch;
  }
  while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) {
    safe.pop_back();
  }
  return safe.empty() ? "_" : safe;
}

// Hands each image of an input to the run, and each problem to its report.
class CutRun::Visitor : public ImageVisitor {
 public:
  Visitor(CutRun& run, std::string folder) : run_(run), folder_(std::move(folder)) {}

  void Member(const std::string& name, const std::string& /*member*/) override {
    // Which member the recognition lines that follow come from.
    run_.report_.Out("reading ... " + ShownName(name) + "\n");
  }

  void Image(const std::string& name, const std::string& /*member*/, DiskImage& image) override {
    run_.CutDisks(image, name, folder_);
  }

  void Problem(const InputProblem& problem) override { run_.TellProblem(problem); }

 private:
  CutRun& run_;
  std::string folder_;
};

CutRun::CutRun(RunOutput& output, const CutSettings& settings)
    : report_(output), settings_(settings) {}

void CutRun::TellProblem(const InputProblem& problem) {
  if (problem.kind == InputProblem::Kind::CannotOpen) {
    report_.Note({kOpenFailed});
  }
  report_.Problem(problem);
}

void CutRun::CutFile(const std::string& path, const std::string& folder) {
  if (settings_.nameEachImage) {
    // Which image the lines that follow are about, as for archive members.
    report_.Out("reading ... " + ShownName(path) + "\n");
  }
  Visitor visitor(*this, folder);
  ForEachImage(path, visitor, settings_.limits);
}

void CutRun::CutBytes(const std::string& name, std::vector<unsigned char> bytes,
                      const std::string& folder) {
  Visitor visitor(*this, folder);
  ForEachImage(name, std::move(bytes), visitor, settings_.limits);
}

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
    report_.ErrorLine("error: cannot create '" + ShownName(folder) + "': " + reason + "\n");
  }
  memory_.made.emplace(folder, reason.empty());
  return reason.empty();
}

void CutRun::CutDisks(DiskImage& image, const std::string& name, const std::string& folder) {
  const ImageInfo info = image.DescribeImage();
  const std::string shown = ShownName(name);
  if (info.formatUnrecognised) {
    report_.Warning(shown, "no image format recognised (" + GroupedNumber(info.fileSize) +
                               " bytes); read as D88");
  }
  for (const std::string& fault : info.faults) {
    report_.Warning(shown, fault);
  }
  const int diskCount = image.DiskCount();
  for (int disk = 0; disk < diskCount; ++disk) {
    CutDisk(image, disk, name, folder);
  }
  if (info.zeroSizeDisk) {
    report_.Warning(shown, "disk " + std::to_string(*info.zeroSizeDisk + 1) + " of " +
                               std::to_string(diskCount) +
                               " has a size of 0; no disk after it can be found");
  }
  if (info.diskLimit) {
    report_.Warning(shown,
                    "only the first " + std::to_string(*info.diskLimit) + " disks were read");
  }
  if (diskCount == 0) {
    report_.Warning(shown, "no disk found");
  }
}

void CutRun::CutDisk(DiskImage& image, int disk, const std::string& name,
                     const std::string& folder) {
  const Recognition recognition = RecogniseDisk(image, disk);
  const KnownDiskRow* known = FindKnownDisk(recognition.kind);
  if (known == nullptr) {
    // A signature's track that gave no sector leaves the disk unknown for a
    // reason the user can act on.
    std::set<int> tracks;
    for (const KnownDiskRow& row : kKnownDisks) {
      tracks.insert(row.signature.sector.track);
    }
    for (const int track : tracks) {
      const std::string note = UnreadTrackNote(image, disk, track);
      if (!note.empty()) {
        report_.Warning(ShownName(name), note);
      }
    }
    report_.Note({kUnsupported});
    return;
  }
  report_.Out({std::string(known->title) + kOf + known->disk + kRecognised});
  ++memory_.knownDisks;
  if (recognition.flags != 0) {
    report_.Warning(ShownName(name),
                    MarkedSectorNote(recognition.sector, recognition.flags,
                                     recognition.revolutionsGood, recognition.revolutions));
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
    if (reading.written && ready) {
      if (settings_.dryRun) {
        report_.Out("would write " + ShownName(path) + ": " + std::to_string(reading.size) +
                    " bytes from " + SectorName(reading.run.sectors.front().at) + "\n");
      } else if (!settings_.quiet) {
        report_.Out(std::string("cutting ... ") + file + "\n");
      }
    }
    for (const std::string& note : reading.notes) {
      report_.Warning(file, note);
    }
    if (!reading.written || !ready) {
      continue;
    }
    const auto earlier = memory_.written.find(path);
    if (earlier != memory_.written.end()) {
      report_.Warning(file, "replaces the file cut from " + earlier->second +
                                " earlier in this run; use -d to keep each disk's files apart");
    }
    if (!settings_.dryRun) {
      // Someone protected it: theirs, not the run's, to replace. A file of
      // this run's own is the run's, however the umask left it.
      if (earlier == memory_.written.end() && report_.Output().IsReadOnly(path)) {
        report_.ErrorLine("error: " + std::string(file) + ": not replaced: '" + ShownName(path) +
                          "' is read-only\n");
        continue;
      }
      const std::string reason =
          report_.Output().WriteFile(path, reading.run.bytes.data() + reading.from, reading.size);
      if (!reason.empty()) {
        std::string line = "error: cannot write '";
        line += ShownName(path);
        line += "': ";
        line += reason;
        report_.ErrorLine(line + "\n");
        continue;
      }
    }
    if (earlier == memory_.written.end()) {
      report_.FileWritten();
    }
    memory_.written[path] = source;
  }
}

#include "run/cut_run.h"

#include <cstring>
#include <utility>

#include "known/cut_reading.h"
#include "known/known_disks.h"
#include "known/recognition.h"

namespace {

// The Japanese texts, as Shift-JIS bytes and as UTF-8.
// "ファイルをオープンできません.\n"
constexpr char kOpenFailed[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93"
    "\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n";
constexpr char kOpenFailedUtf8[] =
    "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE3\x82\xAA\xE3\x83\xBC"
    "\xE3\x83\x97\xE3\x83\xB3\xE3\x81\xA7\xE3\x81\x8D\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93.\n";
// "未対応の形式です.\n"
constexpr char kUnsupported[] =
    "\x96\xA2\x91\xCE\x89\x9E\x82\xCC\x8C\x60\x8E\xAE\x82\xC5\x82\xB7.\n";
constexpr char kUnsupportedUtf8[] =
    "\xE6\x9C\xAA\xE5\xAF\xBE\xE5\xBF\x9C\xE3\x81\xAE\xE5\xBD\xA2\xE5\xBC\x8F\xE3\x81\xA7"
    "\xE3\x81\x99.\n";
// A recognition line: the title, " の ", the disk, " を認識しました.\n".
constexpr char kOf[] = " \x82\xCC ";
constexpr char kOfUtf8[] = " \xE3\x81\xAE ";
constexpr char kRecognised[] = " \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n";
constexpr char kRecognisedUtf8[] =
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
    run_.report_.Out("reading ... " + name + "\n");
  }

  void Image(const std::string& name, const std::string& /*member*/, DiskImage& image) override {
    run_.CutDisks(image, name, folder_);
  }

  void Problem(const InputProblem& problem) override {
    Report& report = run_.report_;
    if (problem.kind == InputProblem::Kind::CannotOpen) {
      report.Note({kOpenFailed, kOpenFailedUtf8});
    }
    if (problem.IsError()) {
      report.ErrorLine(ProblemLine(problem));
    } else {
      report.WarningLine(ProblemLine(problem));
    }
  }

 private:
  CutRun& run_;
  std::string folder_;
};

CutRun::CutRun(RunOutput& output, const CutSettings& settings)
    : report_(output), settings_(settings) {}

void CutRun::CutFile(const std::string& path, const std::string& folder) {
  Visitor visitor(*this, folder);
  ForEachImage(path, visitor, settings_.limits);
}

void CutRun::CutBytes(const std::string& name, std::vector<unsigned char> bytes,
                      const std::string& folder) {
  Visitor visitor(*this, folder);
  ForEachImage(name, std::move(bytes), visitor, settings_.limits);
}

bool CutRun::MakeFolder(const std::string& folder) {
  if (settings_.dryRun) {
    return true;
  }
  const std::string reason = report_.Output().MakeFolder(folder);
  if (!reason.empty()) {
    report_.ErrorLine("error: cannot create '" + folder + "': " + reason + "\n");
    return false;
  }
  return true;
}

void CutRun::CutDisks(DiskImage& image, const std::string& name, const std::string& folder) {
  const ImageInfo info = image.DescribeImage();
  if (info.formatUnrecognised) {
    report_.Warning(name, "no image format recognised (" + GroupedNumber(info.fileSize) +
                              " bytes); read as D88");
  }
  const int diskCount = image.DiskCount();
  for (int disk = 0; disk < diskCount; ++disk) {
    CutDisk(image, disk, name, folder);
  }
  if (info.zeroSizeDisk) {
    report_.Warning(name, "disk " + std::to_string(*info.zeroSizeDisk) +
                              " has a size of 0; no disk after it can be found");
  }
  if (info.diskLimit) {
    report_.Warning(name, "only the first " + std::to_string(*info.diskLimit) + " disks were read");
  }
  if (diskCount == 0) {
    report_.Warning(name, "no disk found");
  }
}

void CutRun::CutDisk(DiskImage& image, int disk, const std::string& name,
                     const std::string& folder) {
  const Recognition recognition = RecogniseDisk(image, disk);
  const KnownDiskRow* known = FindKnownDisk(recognition.kind);
  if (known == nullptr) {
    report_.Note({kUnsupported, kUnsupportedUtf8});
    return;
  }
  report_.Out({std::string(known->title) + kOf + known->disk + kRecognised,
               std::string(known->title) + kOfUtf8 + known->disk + kRecognisedUtf8});
  if (recognition.flags != 0) {
    report_.Warning(name, MarkedSectorNote(recognition.sector, recognition.flags));
  }
  const std::string source = std::string(known->title) + " " + known->disk + " (disk " +
                             std::to_string(disk) + " of " + name + ")";
  std::string into = folder;
  if (settings_.perDisk && known->cutCount > 0) {
    // A folder of its own, unique in the run.
    const std::string base =
        SafeFolderName(FileNameOf(name) + " - " + known->title + " " + known->disk);
    into = folder + base;
    for (int copy = 2; folders_.count(into) != 0; ++copy) {
      into = folder + base + " (" + std::to_string(copy) + ")";
    }
    folders_.insert(into);
    into += "/";
    if (!MakeFolder(into)) {
      return;
    }
  }
  for (std::size_t i = 0; i < known->cutCount; ++i) {
    const Cut& cut = known->cuts[i];
    const char* file = cut.name.data();
    const CutReading reading = ReadCut(image, disk, cut);
    const std::string path = into + file;
    if (reading.written) {
      if (settings_.dryRun) {
        report_.Out("would write " + path + ": " + std::to_string(reading.size) + " bytes from " +
                    SectorName(reading.run.sectors.front().at) + "\n");
      } else if (!settings_.quiet) {
        report_.Out(std::string("cutting ... ") + file + "\n");
      }
    }
    for (const std::string& note : reading.notes) {
      report_.Warning(file, note);
    }
    if (!reading.written) {
      continue;
    }
    const auto earlier = written_.find(path);
    if (earlier != written_.end()) {
      report_.Warning(file, "replaces the file cut from " + earlier->second +
                                " earlier in this run; use -d to keep each disk's files apart");
    }
    if (!settings_.dryRun) {
      const std::string reason =
          report_.Output().WriteFile(path, reading.run.bytes.data() + reading.from, reading.size);
      if (!reason.empty()) {
        report_.ErrorLine("error: cannot write " + std::string(file) + ": " + reason + "\n");
        continue;
      }
      report_.FileWritten();
    }
    written_[path] = source;
  }
}

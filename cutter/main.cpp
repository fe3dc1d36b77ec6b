#include "cutter/main.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cutter/command_line.h"
#include "cutter/cut.h"
#include "known/known_disks.h"
#include "known/recognition.h"
#include "formats/archive.h"
#include "formats/open_image.h"
#include "platform/portable.h"

#ifndef ZEFACUT_VERSION
#define ZEFACUT_VERSION "0.0.0"
#endif

namespace {

constexpr char kProgramName[] = "zefacut";
// The usage line of a command line that names no image.
constexpr char kUsage[] = "Usage: %s [d88file]\n";

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

constexpr char kHelp[] =
    "zefacut cuts the sound drivers and music data out of disk images of the\n"
    "ZEFA LOMRI games (titles 1, 2 and 3): it recognises each disk of each image\n"
    "and writes the files that disk holds, byte for byte.\n"
    "\n"
    "Usage: zefacut [options] IMAGE...\n"
    "\n"
    "Options:\n"
    "  -o, --output DIR     write the files into DIR (made if missing) instead of\n"
    "                       the current folder\n"
    "  -d, --per-disk       put every disk's files in a folder of their own in it,\n"
    "                       named after the image and the disk\n"
    "  -n, --dry-run        list what would be written; write nothing\n"
    "  -q, --quiet          no progress lines; warnings and errors still shown\n"
    "      --encoding=auto|sjis|utf-8\n"
    "                       how the Japanese lines are written (auto: Shift-JIS\n"
    "                       to files and pipes, UTF-8 to a UTF-8 terminal)\n"
    "  -h, --help           show this help\n"
    "  -V, --version        show the version\n"
    "  --                   end of options\n"
    "\n"
    "Exit status: 0 when every file was written whole from sound sectors, 2 after\n"
    "a warning, 1 on an error.\n";

TextForm FormFor(std::FILE* stream, Encoding encoding) {
  switch (encoding) {
    case Encoding::ShiftJis:
      return TextForm::ShiftJis;
    case Encoding::Utf8:
      return TextForm::Utf8;
    case Encoding::Auto:
      break;
  }
  switch (KindOfStream(stream)) {
    case StreamKind::Utf8Terminal:
      return TextForm::Utf8;
    case StreamKind::WindowsConsole:
      return TextForm::Console;
    case StreamKind::File:
    case StreamKind::OtherTerminal:
      break;
  }
  return TextForm::ShiftJis;
}

// The last part of a path: the image's file name.
std::string FileName(const std::string& path) {
  const std::string::size_type slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A folder name valid on Windows too: no characters it forbids, no trailing
// dot or blank.
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

// Makes a folder for files, with its parents; false after telling why not.
bool MakeFolder(Run& run, const std::string& folder) {
  if (run.dryRun) {
    return true;
  }
  const int error = CreateFolders(folder);
  if (error != 0) {
    PrintError(run, "error: cannot create '" + folder + "': " + std::strerror(error) + "\n");
    ++run.failures;
    return false;
  }
  return true;
}

// The folder of one disk's files, unique in the run, ending in a separator.
std::string DiskFolder(const std::string& base, const std::string& image, const KnownDiskRow& known,
                       std::set<std::string>& used) {
  const std::string name = SafeFolderName(FileName(image) + " - " + known.title + " " + known.disk);
  std::string folder = base + name;
  for (int copy = 2; used.count(folder) != 0; ++copy) {
    folder = base + name + " (" + std::to_string(copy) + ")";
  }
  used.insert(folder);
  return folder + "/";
}

// Cuts every disk of an opened image; `name` names the image in messages
// and folders: its path, or an archive's path and the member's name.
void CutDisks(Run& run, DiskImage& image, const std::string& name, const std::string& base,
              bool perDisk, std::set<std::string>& folders) {
  const int diskCount = image.DiskCount();
  for (int disk = 0; disk < diskCount; ++disk) {
    const Recognition recognition = RecogniseDisk(image, disk);
    const KnownDiskRow* known = FindKnownDisk(recognition.kind);
    if (known == nullptr) {
      std::fflush(run.console.out);
      WriteText(run.console.err, run.console.errForm, kUnsupported, kUnsupportedUtf8);
      continue;
    }
    WriteText(run.console.out, run.console.outForm,
              std::string(known->title) + kOf + known->disk + kRecognised,
              std::string(known->title) + kOfUtf8 + known->disk + kRecognisedUtf8);
    if (recognition.flags != 0) {
      Warn(run, name, MarkedSectorNote(recognition.sector, recognition.flags));
    }
    run.source = std::string(known->title) + " " + known->disk + " (disk " + std::to_string(disk) +
                 " of " + name + ")";
    run.outputFolder = base;
    if (perDisk && known->cutCount > 0) {
      run.outputFolder = DiskFolder(base, name, *known, folders);
      if (!MakeFolder(run, run.outputFolder)) {
        continue;
      }
    }
    RunCutList(run, image, disk, recognition.kind);
  }
  const ImageInfo info = image.DescribeImage();
  if (info.zeroSizeDisk) {
    Warn(run, name,
         "disk " + std::to_string(*info.zeroSizeDisk) +
             " has a size of 0; no disk after it can be found");
  }
  if (info.diskLimit) {
    Warn(run, name, "only the first " + std::to_string(*info.diskLimit) + " disks were read");
  }
  if (diskCount == 0) {
    Warn(run, name, "no disk found");
  }
}

// Says why an image could not be opened: the system's reason for a file
// that cannot be read, or what its content is. Counts a failure.
void OpenFailed(Run& run, const std::string& name, const OpenedImage& opened) {
  std::fflush(run.console.out);
  if (opened.error != 0) {
    WriteText(run.console.err, run.console.errForm, kOpenFailed, kOpenFailedUtf8);
    PrintError(run, "error: cannot open '" + name + "': " + std::strerror(opened.error) + "\n");
  } else {
    PrintError(run, "error: " + name + ": " + opened.message + "\n");
  }
  ++run.failures;
}

// Cuts every disk image inside an archive, in member order. A member's
// messages name it as ARCHIVE/MEMBER, and a line on standard output says
// which member the recognition lines that follow come from.
void CutArchive(Run& run, ByteSource& source, const std::string& path, const char* format,
                const std::string& base, bool perDisk, std::set<std::string>& folders) {
  int images = 0;
  const std::string reason = ForEachMember(source, path, [&](const ArchiveMember& member) {
    const std::string name = path + "/" + member.name;
    if (member.tooLarge) {
      Warn(run, name, "not read: it holds more than any disk image (over 64 MiB)");
      return;
    }
    ImageProbe probe;
    probe.head = member.bytes.data();
    probe.length = std::min(member.bytes.size(), ImageProbe::kHeadSize);
    probe.size = static_cast<std::int64_t>(member.bytes.size());
    if (!IsDiskImage(probe, member.name)) {
      return;
    }
    ++images;
    std::fflush(run.console.err);
    std::fputs(("reading ... " + name + "\n").c_str(), run.console.out);
    const OpenedImage opened = OpenImage(MemorySource(member.bytes));
    if (!opened.image) {
      OpenFailed(run, name, opened);
      return;
    }
    CutDisks(run, *opened.image, name, base, perDisk, folders);
  });
  if (!reason.empty()) {
    std::fflush(run.console.out);
    PrintError(run,
               "error: " + path + ": cannot read the " + format + " archive: " + reason + "\n");
    ++run.failures;
  } else if (images == 0) {
    Warn(run, path, std::string("no disk image in the ") + format + " archive");
  }
}

// Cuts every disk of one image file, or of every image in an archive.
// False when the file cannot be opened.
bool CutImage(Run& run, const std::string& path, const std::string& base, bool perDisk,
              std::set<std::string>& folders) {
  errno = 0;
  std::unique_ptr<ByteSource> source = OpenFileSource(path.c_str());
  OpenedImage opened;
  if (!source) {
    opened.error = errno != 0 ? errno : ENOENT;
    OpenFailed(run, path, opened);
    return false;
  }
  unsigned char head[ImageProbe::kHeadSize] = {};
  const std::size_t length = source->ReadAt(0, head, sizeof head);
  if (const char* archive = ArchiveFormat(head, length)) {
    CutArchive(run, *source, path, archive, base, perDisk, folders);
    return true;
  }
  opened = OpenImage(std::move(source));
  if (!opened.image) {
    OpenFailed(run, path, opened);
    return false;
  }
  CutDisks(run, *opened.image, path, base, perDisk, folders);
  return true;
}

// The folder beside an image named after it: "games/zefa2.d88" gives
// "games/zefa2/".
std::string BesideImage(const std::string& path) {
  const std::string name = FileName(path);
  const std::string::size_type dot = name.find_last_of('.');
  const std::string stem =
      dot == std::string::npos || dot == 0 ? name + " files" : name.substr(0, dot);
  return path.substr(0, path.size() - name.size()) + SafeFolderName(stem) + "/";
}

bool IsExistingFile(const std::string& path) {
  std::FILE* file = OpenFile(path.c_str(), "rb");
  if (file == nullptr) {
    return false;
  }
  // A folder opens on some systems; it is no image.
  const bool readable = std::fgetc(file) != EOF || std::ferror(file) == 0;
  std::fclose(file);
  return readable;
}

}  // namespace

int ZefacutMain(int argc, char** argv, Console console, RunPlace place) {
  const char* program =
      (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') ? argv[0] : kProgramName;
  const CommandLine line = ParseCommandLine(argc, argv);
  switch (line.action) {
    case CommandLine::Action::Help:
      std::fputs(kHelp, console.out);
      return std::fflush(console.out) == 0 ? 0 : 1;
    case CommandLine::Action::Version:
      std::fputs("zefacut " ZEFACUT_VERSION "\n", console.out);
      return std::fflush(console.out) == 0 ? 0 : 1;
    case CommandLine::Action::Error:
      std::fflush(console.out);
      std::fprintf(console.err, "error: %s\n", line.error.c_str());
      std::fprintf(console.err, kUsage, program);
      return 1;
    case CommandLine::Action::Usage:
      std::fflush(console.out);
      std::fprintf(console.err, kUsage, program);
      return 1;
    case CommandLine::Action::Cut:
      break;
  }
  const Options& options = line.options;
  console.outForm = FormFor(console.out, options.encoding);
  console.errForm = FormFor(console.err, options.encoding);
  Run run{console, {}, options.dryRun, options.quiet, {}, {}, {}, 0, 0, 0};

  // Several paths are several images when each names a file, as a drop of
  // several images on the program gives; otherwise the first is the image,
  // and a second is taken for an output folder given the old way.
  std::vector<std::string> images = line.paths;
  std::string ignored;
  if (images.size() >= 2) {
    bool allFiles = true;
    for (const std::string& path : images) {
      allFiles = allFiles && IsExistingFile(path);
    }
    if (!allFiles) {
      if (images.size() > 2) {
        std::fflush(console.out);
        std::fprintf(console.err, kUsage, program);
        return 1;
      }
      ignored = images[1];
      images.resize(1);
    }
  }
  if (!ignored.empty()) {
    PrintError(run, "warning: argument '" + ignored +
                        "' ignored; to choose the output folder use -o DIR\n");
    ++run.warnings;
  }

  std::string base;
  if (!options.outputFolder.empty()) {
    base = options.outputFolder;
    if (base.back() != '/' && base.back() != '\\') {
      base += '/';
    }
    if (!MakeFolder(run, base)) {
      return 1;
    }
  }
  // Every image of the run is kept from being written over, the ones already
  // cut as much as the one being read.
  for (const std::string& path : images) {
    if (const std::optional<FileIdentity> identity = IdentifyFile(path.c_str())) {
      run.images.push_back(*identity);
    }
  }
  std::set<std::string> folders;
  for (const std::string& path : images) {
    std::string folder = base;
    if (base.empty() && place == RunPlace::BesideEachImage) {
      folder = BesideImage(path);
      if (!MakeFolder(run, folder)) {
        continue;
      }
    }
    CutImage(run, path, folder, options.perDisk, folders);
  }

  // Where the files went, for a person watching.
  if (!options.quiet && run.filesWritten > 0 && KindOfStream(console.err) != StreamKind::File) {
    std::string where = "'" + (base.empty() ? "." : base.substr(0, base.size() - 1)) + "'";
    if (base.empty() && place == RunPlace::BesideEachImage) {
      where = "folders beside the images";
    }
    PrintError(run, std::to_string(run.filesWritten) +
                        (run.filesWritten == 1 ? " file" : " files") + " written " +
                        (options.perDisk ? "in folders under " : "into ") + where + "; " +
                        (run.warnings == 0 ? std::string("no warnings")
                                           : std::to_string(run.warnings) +
                                                 (run.warnings == 1 ? " warning" : " warnings")) +
                        "\n");
  }
  // A failure outweighs a doubt about what was written.
  if (run.failures > 0) {
    return 1;
  }
  return run.warnings > 0 ? 2 : 0;
}

#ifndef ZEFACUT_NO_MAIN
int main(int argc, char** argv) {
  UseBinaryStandardStreams();
  std::vector<std::string> arguments = ProgramArguments(argc, argv);
  std::vector<char*> pointers(arguments.size() + 1, nullptr);
  std::transform(arguments.begin(), arguments.end(), pointers.begin(),
                 [](std::string& argument) { return argument.data(); });
  // Images dropped on the program: its window is its own and closes when it
  // ends, so each image's files go beside it and the window waits.
  const bool dropped = ConsoleIsOurs();
  const int status =
      ZefacutMain(static_cast<int>(arguments.size()), pointers.data(), {stdout, stderr},
                  dropped ? RunPlace::BesideEachImage : RunPlace::AsAsked);
  if (dropped) {
    WaitForEnter(stdout);
  }
  return status;
}
#endif

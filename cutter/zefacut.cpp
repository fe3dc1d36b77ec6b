#include "cutter/zefacut.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cutter/command_line.h"
#include "cutter/file_writer.h"
#include "platform/portable.h"
#include "platform/text_form.h"
#include "run/console_lines.h"
#include "run/cut_run.h"

#ifndef ZEFACUT_VERSION
#define ZEFACUT_VERSION "0.0.0"
#endif

namespace {

constexpr char kProgramName[] = "zefacut";
// The usage line of a command line that names no image.
constexpr char kUsage[] = "Usage: %s [d88file]\n";

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

// The run's lines to the console, its folders and files to the disk.
class ConsoleOutput : public ConsoleLines {
 public:
  ConsoleOutput(Console& console, std::vector<FileIdentity> images)
      : ConsoleLines(console), writer_(std::move(images)) {}

  std::string MakeFolder(const std::string& folder) override { return writer_.MakeFolder(folder); }

  std::string WriteFile(const std::string& path, const unsigned char* data,
                        std::size_t size) override {
    return writer_.Write(path, data, size);
  }

 private:
  FileWriter writer_;
};

// The folder beside an image named after it: "games/zefa2.d88" gives
// "games/zefa2/".
std::string BesideImage(const std::string& path) {
  const std::string name = FileNameOf(path);
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

// The usage line, after an error line when there is one; status 1.
int BadUsage(Console& console, const char* program, const std::string& error) {
  if (!error.empty()) {
    console.Err("error: " + error + "\n");
  }
  char usage[512];
  std::snprintf(usage, sizeof usage, kUsage, program);
  console.Err(usage);
  console.Finish();
  return 1;
}

}  // namespace

int ZefacutMain(int argc, char** argv, Console console, RunPlace place) {
  const char* program =
      (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') ? argv[0] : kProgramName;
  const CommandLine line = ParseCommandLine(argc, argv);
  switch (line.action) {
    case CommandLine::Action::Help:
      console.Out(kHelp);
      return console.Finish() ? 0 : 1;
    case CommandLine::Action::Version:
      console.Out("zefacut " ZEFACUT_VERSION "\n");
      return console.Finish() ? 0 : 1;
    case CommandLine::Action::Error:
      return BadUsage(console, program, line.error);
    case CommandLine::Action::Usage:
      return BadUsage(console, program, "");
    case CommandLine::Action::Cut:
      break;
  }
  const Options& options = line.options;
  console.outForm = FormFor(console.out, options.encoding);
  console.errForm = FormFor(console.err, options.encoding);

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
        return BadUsage(console, program, "");
      }
      ignored = images[1];
      images.resize(1);
    }
  }
  // Every image of the run is kept from being written over, the ones already
  // cut as much as the one being read.
  std::vector<FileIdentity> identities;
  for (const std::string& path : images) {
    if (const std::optional<FileIdentity> identity = IdentifyFile(path.c_str())) {
      identities.push_back(*identity);
    }
  }
  ConsoleOutput output(console, std::move(identities));
  CutSettings settings;
  settings.perDisk = options.perDisk;
  settings.dryRun = options.dryRun;
  settings.quiet = options.quiet;
  settings.nameEachImage = images.size() > 1;
  CutRun run(output, settings);
  Report& report = run.GetReport();
  if (!ignored.empty()) {
    report.WarningLine("warning: argument '" + ShownName(ignored) +
                       "' ignored; to choose the output folder use -o DIR\n");
  }

  std::string base;
  if (!options.outputFolder.empty()) {
    base = options.outputFolder;
    if (base.back() != '/' && base.back() != '\\') {
      base += '/';
    }
    if (!run.MakeFolder(base)) {
      console.Finish();
      return 1;
    }
  }
  for (const std::string& path : images) {
    std::string folder = base;
    if (base.empty() && place == RunPlace::BesideEachImage) {
      folder = BesideImage(path);
      if (!run.MakeFolder(folder)) {
        continue;
      }
    }
    run.CutFile(path, folder);
  }

  // Where the files went, for a person watching.
  const int files = report.FilesWritten();
  const int warnings = report.Warnings();
  if (!options.quiet && files > 0 && KindOfStream(console.err) != StreamKind::File) {
    std::string where = "'" + (base.empty() ? "." : base.substr(0, base.size() - 1)) + "'";
    if (base.empty() && place == RunPlace::BesideEachImage) {
      where = "folders beside the images";
    }
    report.Note(Text::Ascii(
        std::to_string(files) + (files == 1 ? " file" : " files") + " written " +
        (options.perDisk ? "in folders under " : "into ") + where + "; " +
        (warnings == 0 ? std::string("no warnings")
                       : std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings")) +
        "\n"));
  }
  // Output that did not arrive is a failure, whatever the files.
  const bool delivered = console.Finish();
  return delivered ? run.Status() : 1;
}

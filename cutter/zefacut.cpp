#include "cutter/zefacut.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/options.h"
#include "cutter/collection.h"
#include "cutter/command_line.h"
#include "cutter/file_writer.h"
#include "cutter/parallel_run.h"
#include "cutter/progress.h"
#include "input/image_input.h"
#include "platform/input_file.h"
#include "platform/paths.h"
#include "platform/portable.h"
#include "platform/text_form.h"
#include "run/console_lines.h"
#include "run/cut_run.h"
#include "run/manifest.h"

#ifndef ZEFACUT_VERSION
#define ZEFACUT_VERSION "0.0.0"
#endif

namespace {

constexpr char kProgramName[] = "zefacut";
// The usage line of a command line that names no image: the form of the
// tool's first versions, which scripts may still look for.
constexpr char kSynopsis[] = " [d88file]";

// The run's lines to the console, its folders and files to the disk.
class ConsoleOutput : public ConsoleLines {
 public:
  ConsoleOutput(Console& console, std::vector<FileIdentity> images)
      : ConsoleLines(console), console_(console), writer_(std::move(images)) {}

  void Say(Channel channel, const Text& text) override {
    console_.Status("");  // the progress line, if shown, makes way
    ConsoleLines::Say(channel, text);
  }

  std::string MakeFolder(const std::string& folder) override { return writer_.MakeFolder(folder); }

  bool IsReadOnly(const std::string& path) override { return writer_.IsReadOnly(path); }

  std::string WriteFile(const std::string& path, const unsigned char* data,
                        std::size_t size) override {
    return writer_.Write(path, data, size);
  }

  // The run's manifest, written as safely as its files.
  std::string WriteManifest(const std::string& path, const std::string& text) {
    return writer_.Write(path, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  }

 private:
  Console& console_;
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

// The old form `zefacut IMAGE EXTRA`: scripts written for the tool's first
// versions give a second argument that is no image, mostly a folder meant for
// the files. It names nothing, or a folder; it is ignored with a warning, as
// it always was. Any other second path is an image, a folder of KryoFlux
// stream files too.
bool IsOldOutputFolderArgument(const std::string& path, bool recursive) {
  if (path == kStandardInputPath || recursive) {
    return false;
  }
  const PathKind kind = KindOfPath(path);
  return kind == PathKind::Missing || (kind == PathKind::Folder && !IsKryoFluxDumpFolder(path));
}

// The counts of the whole run: the run's report and what was played from
// records of inputs cut on other threads.
struct Totals {
  int files = 0;
  int warnings = 0;
  int errors = 0;
};

// "45 files written into 'out'; 13 warnings", "nothing written; 1 error",
// "4 files would be written into 'out'; no warnings" (a dry run); after a
// walk the files read first: "2,000 files read: 1,800 images, 12 known
// disks; 200 other files passed over; 36 files written in folders under
// 'out'; no warnings".
std::string Summary(const Totals& totals, const CollectionTally& tally, int knownDisks,
                    const Options& options, const std::string& base, RunPlace place) {
  const auto count = [](int n, const char* one, const char* many) {
    return GroupedNumber(n) + " " + (n == 1 ? one : many);
  };
  std::string read;
  if (options.recursive) {
    read = count(tally.inputs, "file", "files") +
           " read: " + count(tally.images, "image", "images") + ", " +
           count(knownDisks, "known disk", "known disks") + "; " +
           count(tally.passedOver, "other file", "other files") + " passed over; ";
  }
  const int files = totals.files;
  const char* written = options.dryRun ? "would be written" : "written";
  std::string summary;
  if (files == 0) {
    summary = std::string("nothing ") + written;
  } else {
    std::string where =
        "'" + (base.empty() ? "." : ShownName(base.substr(0, base.size() - 1))) + "'";
    if (base.empty() && place == RunPlace::BesideEachImage) {
      where = "folders beside the images";
    }
    summary = count(files, "file", "files") + " " + written + " " +
              (options.perDisk || options.recursive ? "in folders under " : "into ") + where;
  }
  const int errors = totals.errors;
  const int warnings = totals.warnings;
  if (errors > 0) {
    summary += "; " + count(errors, "error", "errors");
    if (warnings > 0) {
      summary += ", " + count(warnings, "warning", "warnings");
    }
  } else {
    summary += warnings == 0 ? std::string("; no warnings")
                             : "; " + count(warnings, "warning", "warnings");
  }
  return read + summary;
}

}  // namespace

int ZefacutMain(int argc, char** argv, Console console, RunPlace place) {
  // Lost output is told and the run goes on: the files are what it is for.
  IgnoreBrokenPipe();
  RemoveTemporaryOnSignals();
  const Usage usage{(argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') ? argv[0] : kProgramName,
                    kSynopsis};
  const CommandLine line = ParseCommandLine(argc, argv);
  switch (line.action) {
    case CommandLine::Action::Help:
      console.Out(HelpText());
      return console.Finish() ? 0 : 1;
    case CommandLine::Action::Version:
      console.Out("zefacut " ZEFACUT_VERSION "\n");
      return console.Finish() ? 0 : 1;
    case CommandLine::Action::Error:
      return CommandLineError(console, usage, line.error);
    case CommandLine::Action::Usage:
      return ShowUsage(console, usage);
    case CommandLine::Action::Cut:
      break;
  }
  const Options& options = line.options;
  console.outForm = FormFor(console.out, options.encoding);
  console.errForm = FormFor(console.err, options.encoding);

  // Every path is an image, save the second of exactly two when it is an
  // output folder given the old way.
  std::vector<std::string> images = line.paths;
  std::string ignored;
  if (images.size() == 2 && IsOldOutputFolderArgument(images[1], options.recursive)) {
    ignored = images[1];
    images.resize(1);
  }

  // The folders are made when their first file is written: a run that
  // writes nothing leaves nothing.
  std::string base;
  bool baseIsFile = false;
  if (!options.outputFolder.empty()) {
    base = options.outputFolder;
    const std::string bare = WithoutTrailingSeparators(base);
    const PathKind kind = KindOfPath(bare);
    baseIsFile = kind == PathKind::RegularFile || kind == PathKind::Other;
    if (base.back() != '/' && base.back() != '\\') {
      base += '/';
    }
  }

  // The inputs in the order they are read: a folder walked in its place.
  std::vector<CollectionItem> items;
  for (const std::string& path : images) {
    const bool folder = path != kStandardInputPath && KindOfPath(path) == PathKind::Folder &&
                        !IsKryoFluxDumpFolder(path);
    if (folder && options.recursive && !baseIsFile) {
      WalkFolder(path, base, items);
      continue;
    }
    CollectionItem item;
    item.kind = folder ? CollectionItem::Kind::FolderNotRead : CollectionItem::Kind::Input;
    item.path = path;
    item.shown = path;
    item.folder = base;
    if (base.empty() && place == RunPlace::BesideEachImage) {
      item.folder = BesideImage(path);
    }
    items.push_back(std::move(item));
  }

  // Every image of the run is kept from being written over, the ones already
  // cut as much as the one being read.
  std::vector<FileIdentity> identities;
  for (const CollectionItem& item : items) {
    if (item.kind != CollectionItem::Kind::Input || item.path == kStandardInputPath) {
      continue;  // standard input is held in memory: no file of the run can be it
    }
    if (const std::optional<FileIdentity> identity = IdentifyFile(item.path.c_str())) {
      identities.push_back(*identity);
    }
  }
  ConsoleOutput output(console, std::move(identities));
  CutSettings settings;
  settings.perDisk = options.perDisk || options.recursive;
  settings.dryRun = options.dryRun;
  settings.quiet = options.quiet;
  settings.nameEachImage = images.size() > 1 || options.recursive;
  CutRun run(output, settings);
  Report& report = run.GetReport();
  std::optional<Manifest> manifest;
  if (!options.manifest.empty()) {
    ManifestSettings about{ZEFACUT_VERSION, {}, base};
    for (int i = 0; i < argc; ++i) {
      about.commandLine.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
    manifest.emplace(std::move(about));
    report.Listen(*manifest);
  }
  if (!ignored.empty()) {
    Note note;
    note.about = Subject::Run;
    note.words =
        "argument '" + ShownName(ignored) + "' ignored; to choose the output folder use -o DIR";
    note.code = "argument-ignored";
    report.Tell(note);
  }
  if (baseIsFile) {
    Note note;
    note.severity = Severity::Error;
    note.about = Subject::Folder;
    note.subject = options.outputFolder;
    note.subjectInWords = true;
    note.words = "'" + ShownName(options.outputFolder) + "' is not a folder";
    note.code = "not-a-folder";
    note.path = options.outputFolder;
    report.Tell(note);
    console.Finish();
    return 1;
  }

  // How far the run is, for a person at a terminal.
  const bool showProgress = !options.quiet && KindOfStream(console.err) != StreamKind::File;
  const std::uint64_t bytes = std::accumulate(
      items.begin(), items.end(), std::uint64_t{0},
      [](std::uint64_t sum, const CollectionItem& item) { return sum + item.size; });
  ProgressLine progress(console, items.size(), bytes);
  unsigned jobs = options.jobs;
  if (jobs == 0) {
    jobs = std::max(1U, std::thread::hardware_concurrency());
  }
  if (manifest) {
    // The manifest hears the run's events as they happen, which inputs cut
    // on other threads do not give it: a run with one is read in turn.
    jobs = 1;
  }
  const CollectionTally tally =
      CutCollection(run, settings, items, jobs, showProgress ? &progress : nullptr);
  console.Status("");
  run.End();
  // The manifest comes last, with the counts and the status of the run; one
  // that cannot be written fails the run, though every file is in place.
  if (manifest) {
    const std::string reason = output.WriteManifest(options.manifest, manifest->Json());
    if (!reason.empty()) {
      Note note;
      note.severity = Severity::Error;
      note.about = Subject::Run;
      note.subjectInWords = true;
      note.words = "cannot write the manifest '" + ShownName(options.manifest) + "': " + reason;
      note.code = "cannot-write-manifest";
      note.path = options.manifest;
      report.Tell(note);
    }
  }

  const Totals totals{report.FilesWritten() + tally.files, report.Warnings() + tally.warnings,
                      report.Errors() + tally.errors};
  // Where the files went, for a person watching: the files there are now,
  // each once however often the run replaced it.
  if (!options.quiet && KindOfStream(console.err) != StreamKind::File) {
    report.Say(
        Text::Ascii(Summary(totals, tally, run.Memory().knownDisks, options, base, place) + "\n"));
  }
  // Output that did not arrive is a failure, whatever the files.
  const bool delivered = console.Finish();
  if (!delivered || totals.errors > 0) {
    return 1;
  }
  return totals.warnings > 0 ? 2 : 0;
}

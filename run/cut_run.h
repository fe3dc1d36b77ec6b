// One run of the tool over its inputs: each disk of each image recognised,
// the files of the known ones cut, everything that happens told as events
// (run/events.h) to the run's report, which renders them as lines.
// The front end chooses the inputs and the folders and gives the output; the
// run touches no console and no file itself.
#ifndef ZEFACUT_RUN_CUT_RUN_H
#define ZEFACUT_RUN_CUT_RUN_H

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "input/image_input.h"
#include "run/report.h"

struct CutSettings {
  // Every disk's files in a folder of their own, named after the image and
  // the disk.
  bool perDisk = false;
  // List what would be written instead of writing it.
  bool dryRun = false;
  // No progress lines.
  bool quiet = false;
  // A line naming each image before its own lines: for a run over several.
  bool nameEachImage = false;
  InputLimits limits;
};

// What a run carries from one input to the next.
struct CutRunMemory {
  // Every file written in this run, by path, with the disk it came from in
  // words: "ZEFA LOMRI 2 Disk B (disk 3 of 4 in game.d88)".
  std::map<std::string, std::string> written;
  // The per-disk folders chosen so far.
  std::set<std::string> folders;
  // The folders asked for so far, and whether each is there.
  std::map<std::string, bool> made;
  // The disks recognised.
  int knownDisks = 0;
};

class CutRun {
 public:
  CutRun(RunOutput& output, const CutSettings& settings);

  // Cuts every disk of every image of the file at `path` into `folder`
  // (empty for the current one, otherwise ending in a separator), made with
  // its parents when the first file goes into it.
  void CutFile(const std::string& path, const std::string& folder);
  // The same for a file held in memory under the name `name`.
  void CutBytes(const std::string& name, std::vector<unsigned char> bytes,
                const std::string& folder);

  // The same for several files in memory that are one input, named `name`
  // (see ForEachImage): a KryoFlux dump's stream files, say.
  void CutBuffers(const std::string& name, std::vector<NamedBuffer> buffers,
                  const std::string& folder);
  // Tells the run's end, with its counts and status, to the listeners.
  void End();
  // Hands each image, once its disks are cut and while it is still open, to
  // `watch`: a front end that draws what was read (the page's maps) reads
  // the tracks the run decoded, not the input again.
  void WatchImages(std::function<void(const std::string& name, DiskImage& image)> watch) {
    watch_ = std::move(watch);
  }

  Report& GetReport() { return report_; }
  const Report& GetReport() const { return report_; }
  int Status() const { return report_.Status(); }
  CutRunMemory& Memory() { return memory_; }
  // Tells a problem with an input as the run tells those it meets itself.
  void TellProblem(const InputProblem& problem);

 private:
  class Visitor;
  std::function<void(const std::string&, DiskImage&)> watch_;

  void CutDisks(DiskImage& image, const std::string& name, const std::string& folder);
  void CutDisk(DiskImage& image, int disk, const std::string& name, const std::string& folder);
  // Makes a folder for files, with its parents, when the first file goes
  // into it (never in a dry run): a run that writes nothing makes nothing.
  // False, after telling why once, when it cannot be made.
  bool FolderReady(const std::string& folder);

  Report report_;
  CutSettings settings_;
  CutRunMemory memory_;
};

// A count with its thousands apart, for messages: "737,280".
std::string GroupedNumber(std::int64_t value);

#endif  // ZEFACUT_RUN_CUT_RUN_H

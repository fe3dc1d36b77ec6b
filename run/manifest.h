// A manifest of a run: one JSON document that says what the run read and
// what it wrote, so that a folder of cut files can be checked later and each
// file traced back to the sectors it came from. It is built by hearing the
// run's events in the order they happened; it needs nothing else of the run.
//
// {
//   "tool": "zefacut", "version": "1.2.0",
//   "commandLine": ["zefacut", "-o", "out", "game.d88"],
//   "started": "2026-12-11T12:00:00Z", "ended": "2026-12-11T12:00:01Z",
//   "dryRun": false, "output": "out",
//   "counts": {"files": 4, "warnings": 0, "errors": 0, "status": 0,
//              "inputs": 1, "images": 1, "disks": 2, "knownDisks": 1},
//   "files": [{"path": "FMSE", "size": 1234, "crc32": "...", "md5": "...",
//              "sha1": "...", "sha256": "...",
//              "from": {"input": "game.d88", "member": "", "format": "D88",
//                       "disk": 1, "title": "ZEFA LOMRI 2", "kind": "Disk B",
//                       "first": {"track": 2, "c": 1, "h": 0, "r": 1, "n": 3},
//                       "sectors": [{..., "state": "good", "flags": [],
//                                    "revolutionsGood": 0, "revolutions": 0}]},
//              "notes": [{"severity": "warning", "code": "...", "text": "..."}]}],
//   "inputs": [{"path": "game.d88", "member": "", "format": "D88",
//               "disks": [{"disk": 1, "kind": "ZEFA LOMRI 2 Disk B"},
//                         {"disk": 2, "kind": "unknown"}],
//               "problems": [{"severity": ..., "code": ..., "text": ...}]}],
//   "notes": [...]
// }
//
// Paths of files are relative to the output folder; disks count from 1, as
// the tool's lines count them.
#ifndef ZEFACUT_RUN_MANIFEST_H
#define ZEFACUT_RUN_MANIFEST_H

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "run/digests.h"
#include "run/events.h"

struct ManifestSettings {
  std::string version;
  // Every argument as given, argument 0 included.
  std::vector<std::string> commandLine;
  // The folder the files go into: empty for the current one, otherwise
  // ending in a separator. File paths are given relative to it.
  std::string outputFolder;
};

class Manifest : public RunListener {
 public:
  explicit Manifest(ManifestSettings settings);

  // The run starts when the manifest is made and ends when its end is heard.
  void Started(const InputStarted& event) override;
  void Opened(const ImageOpened& event) override;
  void Found(const DiskFound& event) override;
  void Cut(const FileCut& event) override;
  void Told(const Note& event) override;
  void Ended(const RunEnded& event) override;

  // The whole document, ending in a line feed.
  std::string Json() const;

 private:
  struct NoteEntry {
    Severity severity = Severity::Warning;
    std::string code;
    std::string text;
    std::string path;
  };
  struct FileEntry {
    std::string path;
    std::size_t size = 0;
    Digests digests;
    std::size_t input = 0;
    std::string format;
    int disk = 0;
    std::string title;
    std::string kind;
    std::vector<SectorRead> sectors;
    std::vector<NoteEntry> notes;
    // Cut again later in the run under the same path.
    bool replaced = false;
  };
  struct DiskEntry {
    int disk = 0;
    bool known = false;
    std::string title;
    std::string kind;
  };
  struct InputEntry {
    // The input given to the run it belongs to: the archive of a member.
    std::string given;
    std::string path;
    std::string member;
    std::string format;
    bool opened = false;
    std::vector<DiskEntry> disks;
    std::vector<NoteEntry> problems;
  };

  // A file heard of is kept aside until the run goes on to something else:
  // a note that it could not be written may still follow.
  void Settle();

  ManifestSettings settings_;
  std::time_t started_;
  std::time_t ended_;
  std::vector<FileEntry> files_;
  // Where in files_ the file of each path is.
  std::map<std::string, std::size_t> byPath_;
  std::vector<InputEntry> inputs_;
  std::vector<NoteEntry> notes_;
  FileEntry pending_;
  // The pending file's path as the run gave it, output folder included.
  std::string pendingPath_;
  bool hasPending_ = false;
  // The input given to the run that is being read, for its members.
  std::string topInput_;
  RunEnded end_;
  int topInputs_ = 0;
  int images_ = 0;
  int disks_ = 0;
  int knownDisks_ = 0;
};

// A moment as ISO 8601 in UTC, to the second: "2026-12-11T12:00:00Z".
std::string IsoUtc(std::time_t when);

// What a sector's reading says of the bytes a file took from it: "good",
// "marked" (the image flags it), "recovered" (from flux, not in every
// revolution, or by comparing revolutions).
const char* SectorState(const SectorRead& sector);

#endif  // ZEFACUT_RUN_MANIFEST_H

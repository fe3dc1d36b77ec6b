// What happened in a run, as data: each input started and opened, each disk
// found, each file cut, each note, progress and the end. The run hands these
// to its listeners and composes no text itself; the lines both programs
// print are one rendering of them (run/text_renderer.h), the JSON the page
// reads another (run/event_json.h).
#ifndef ZEFACUT_RUN_EVENTS_H
#define ZEFACUT_RUN_EVENTS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk/model.h"

// An input about to be read: a path or a buffer given to the run, or a
// member of an archive. Names are as given (UTF-8 as far as they are); a
// renderer shows them safely.
struct InputStarted {
  // The path, or ARCHIVE/MEMBER for a member.
  std::string name;
  // The member's path inside the archive; empty for the input itself.
  std::string member;
};

// An input opened as a disk image.
struct ImageOpened {
  std::string name;
  std::string member;
  // The format's name as d88info gives it ("D88", "KryoFlux stream").
  std::string format;
  // False when no format claimed the file and it is read as D88.
  bool formatRecognised = true;
  std::int64_t size = 0;
  int diskCount = 0;
};

// A signature sector of an unknown disk as recognition read it: the bytes it
// compares and whether they could be read.
struct SignatureEvidence {
  SectorAddress at;
  // How many bytes of the sector could be read: 0 when it is not found.
  int got = 0;
  // The bytes compared are [from, from + length) of the sector.
  int from = 0;
  int length = 0;
  // The bytes compared that could be read: [from, min(from + length, got)).
  std::vector<unsigned char> bytes;
};

// A disk of an image, known or not.
struct DiskFound {
  std::string image;
  // From 0; `count` disks in the image.
  int index = 0;
  int count = 0;
  bool known = false;
  // For a known disk: "ZEFA LOMRI 2", "Disk B", and the files it holds.
  std::string title;
  std::string disk;
  int files = 0;
  // For an unknown disk: each signature sector, as read.
  std::vector<SignatureEvidence> evidence;
};

// A sector a file was read from, with what the image says of it.
struct SectorRead {
  SectorAddress at;
  SectorFlags flags = 0;
  // For flux: in how many of how many revolutions it read well.
  int revolutionsGood = 0;
  int revolutions = 0;
  bool duplicated = false;
};

// A file of a known disk, about to be written (or listed, in a dry run), or
// one that cannot be written because its first sector cannot be read. Its
// notes are told as notes after it as well; an error writing it comes as a
// note about the same path.
struct FileCut {
  std::string image;
  int disk = 0;
  // The folder (empty, or ending in a separator), the name, and both.
  std::string folder;
  std::string name;
  std::string path;
  // Whether it has bytes to write; false when its first sector cannot be
  // read, and the file is not written.
  bool read = false;
  // A dry run: listed, not written.
  bool planned = false;
  std::size_t size = 0;
  // Its `size` bytes when `read`, valid only during the call that hands the
  // event on (a manifest takes their checksums); null otherwise.
  const unsigned char* bytes = nullptr;
  // The sectors its bytes came from, in order; the first is where it starts.
  std::vector<SectorRead> sectors;
  std::vector<std::string> notes;
};

enum class Severity { Info, Warning, Error };

// What a note is about.
enum class Subject { Run, Image, Disk, File, Folder, Sector, Track };

// A warning or an error (or a line that is neither), as data.
struct Note {
  Severity severity = Severity::Warning;
  Subject about = Subject::Image;
  // The name the note is told under: an image's or a file's name, a folder;
  // empty for the run.
  std::string subject;
  // The words after "SUBJECT: ", or, when `subjectInWords`, the whole note,
  // which names its subject itself ("cannot open 'x.d88': No such file").
  std::string words;
  bool subjectInWords = false;
  // What kind of note this is, for programs: "cannot-open", "replaced",
  // "sector-marked" (the list is in event_json.h).
  std::string code;
  // Where it applies, as far as it is known: the image, its disk (from 0),
  // a track, a sector, the path of a file.
  std::string image;
  std::optional<int> disk;
  std::optional<int> track;
  std::optional<SectorAddress> sector;
  std::string path;
};

// How far a run has come: `done` of `total` in `unit` ("disks").
struct Progress {
  std::string image;
  int done = 0;
  int total = 0;
  std::string unit;
};

// The end of a run: what its report counted and the exit status.
struct RunEnded {
  int files = 0;
  int warnings = 0;
  int errors = 0;
  int status = 0;
  bool dryRun = false;
};

// What every front end implements to hear a run. Each event comes once, in
// the order things happened.
class RunListener {
 public:
  RunListener() = default;
  virtual ~RunListener() = default;
  RunListener(const RunListener&) = delete;
  RunListener& operator=(const RunListener&) = delete;

  virtual void Started(const InputStarted& /*event*/) {}
  virtual void Opened(const ImageOpened& /*event*/) {}
  virtual void Found(const DiskFound& /*event*/) {}
  virtual void Cut(const FileCut& /*event*/) {}
  virtual void Told(const Note& /*event*/) {}
  virtual void Advanced(const Progress& /*event*/) {}
  virtual void Ended(const RunEnded& /*event*/) {}
};

#endif  // ZEFACUT_RUN_EVENTS_H

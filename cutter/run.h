// What one run of the tool needs and what it counts, owned by that run:
// nothing of it outlives the run, so the tool can run again in the same
// process with the same result.
#ifndef ZEFACUT_CUTTER_RUN_H
#define ZEFACUT_CUTTER_RUN_H

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/portable.h"

// How text with Japanese in it reaches a stream: as Shift-JIS bytes (the
// tool's own form, and what files and pipes get), as UTF-8, or through a
// Windows console's Unicode interface.
enum class TextForm { ShiftJis, Utf8, Console };

// Where the messages go: recognition and progress lines to `out`, errors and
// warnings to `err`.
struct Console {
  std::FILE* out;
  std::FILE* err;
  TextForm outForm = TextForm::ShiftJis;
  TextForm errForm = TextForm::ShiftJis;
};

// Writes text whose Japanese parts come in both encodings, in the form the
// stream takes. ASCII text is the same in both.
void WriteText(std::FILE* stream, TextForm form, const std::string& shiftJis,
               const std::string& utf8);

struct Run {
  Console console;
  // The folder the files go to, ending in a separator; empty for the current
  // folder.
  std::string outputFolder;
  // List what would be written instead of writing it; leave out progress
  // lines.
  bool dryRun = false;
  bool quiet = false;
  // The images of the run, which no output file may replace.
  std::vector<FileIdentity> images;
  // The disk being cut, in words: "ZEFA LOMRI 2 Disk B (disk 3 of game.d88)".
  std::string source;
  // Every file written in this run, by path, with the disk it came from.
  std::map<std::string, std::string> written;
  int filesWritten = 0;
  int failures = 0;  // files that could not be written
  int warnings = 0;  // doubts told on the error stream
};

// Writes a line to the run's error stream, after what is pending on its
// output stream, so that the two keep their order when they go to one place.
void PrintError(Run& run, const std::string& text);

// "warning: SUBJECT: TEXT\n", counted.
void Warn(Run& run, const std::string& subject, const std::string& text);

#endif  // ZEFACUT_CUTTER_RUN_H

// What one run of the tool needs and what it counts, owned by that run:
// nothing of it outlives the run, so the tool can run again in the same
// process with the same result.
#ifndef ZEFACUT_CUTTER_RUN_H
#define ZEFACUT_CUTTER_RUN_H

#include <cstdio>
#include <optional>
#include <string>

#include "platform/portable.h"

// Where the messages go: recognition and progress lines to `out`, errors and
// warnings to `err`.
struct Console {
  std::FILE* out;
  std::FILE* err;
};

struct Run {
  Console console;
  // The folder the files go to, ending in a separator; empty for the current
  // folder.
  std::string outputFolder;
  // The image being read, which no output file may replace.
  std::optional<FileIdentity> image;
  int failures = 0;  // files that could not be written
  int warnings = 0;  // files written short
};

// Writes a line to the run's error stream, after what is pending on its
// output stream, so that the two keep their order when they go to one place.
void PrintError(Run& run, const char* text);

#endif  // ZEFACUT_CUTTER_RUN_H

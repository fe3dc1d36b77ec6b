// zefacut's command line: its table of options, read as cli/options reads
// every program's, and its help.
#ifndef ZEFACUT_CUTTER_COMMAND_LINE_H
#define ZEFACUT_CUTTER_COMMAND_LINE_H

#include <optional>
#include <string>
#include <vector>

#include "platform/console.h"

struct Options {
  std::string outputFolder;  // empty: the current folder
  bool perDisk = false;
  bool dryRun = false;
  bool quiet = false;
  bool recursive = false;
  unsigned jobs = 0;  // 0: one per core
  // Where the run's manifest goes; empty: none.
  std::string manifest;
  std::optional<TextForm> encoding;  // none: auto
};

struct CommandLine {
  enum class Action {
    Cut,      // cut the images
    Help,     // print the help text
    Version,  // print the name and version
    Usage,    // no image: the usage line, status 1
    Error,    // a bad option: `error`, then the usage line, status 1
  };
  Action action = Action::Cut;
  Options options;
  std::vector<std::string> paths;
  std::string error;
};

// Reads the arguments after argument 0. Which paths are images is decided
// by the caller, which can see which files exist.
CommandLine ParseCommandLine(int argc, char** argv);

// What -h/--help prints.
std::string HelpText();

#endif  // ZEFACUT_CUTTER_COMMAND_LINE_H

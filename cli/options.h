// The command line of both programs, read in one way: options and paths in
// any order, as GNU tools take them; `--` ends the options. Long options as
// --name, --name=value or --name value; short ones alone or together (-dq),
// a short option's value in the same argument or the next (-oDIR, -o DIR).
// Each program gives its options as a table; the help's option list, the
// errors and the usage line are written here.
#ifndef ZEFACUT_CLI_OPTIONS_H
#define ZEFACUT_CLI_OPTIONS_H

#include <string>
#include <vector>

#include "platform/console.h"

// Whether an option takes a value, and whether that value may be empty.
enum class OptionValue {
  kNone,      // a switch: --name=value is an unknown option
  kRequired,  // an empty value is a missing one
  kAnyText,   // an empty value too is handed on, for the program to judge
};

// One row of a program's option table.
struct OptionRow {
  int id;                // what the program knows the option by
  char shortName;        // '\0' for none
  const char* longName;  // without its dashes
  OptionValue value;
  // What the error says a missing value should have been: "a folder".
  const char* needs;
  // How the help shows the value after the long name: " DIR", "=NAME".
  const char* shownValue;
  // The help text; '\n' starts a line under the first.
  const char* help;
};

// The options every program takes, handled here.
constexpr int kHelpOption = -1;
constexpr int kVersionOption = -2;

struct GivenOption {
  int id;
  std::string value;  // empty for a switch
};

struct ParsedLine {
  enum class Action {
    kRun,      // the options and paths as given
    kHelp,     // asked for the help: nothing after it is checked
    kVersion,  // asked for the version
    kError,    // `error` says what is wrong
  };
  Action action = Action::kRun;
  std::vector<GivenOption> options;  // in the order given
  std::vector<std::string> paths;
  std::string error;
};

// Reads the arguments after argument 0 against the table. -h/--help and
// -V/--version are known without a row.
ParsedLine ParseOptions(const std::vector<std::string>& arguments,
                        const std::vector<OptionRow>& table);

// The help's list of the options: each row's names and value from column 2,
// its text from `column`, then -h, -V and `--`.
std::string OptionsHelp(const std::vector<OptionRow>& table, std::size_t column);

// A program's usage line and where more is told: the program as argument 0
// names it (its own name when argument 0 is empty) and what follows it.
struct Usage {
  std::string program;
  const char* synopsis;  // " [d88file]"
};

// "Usage: PROGRAM SYNOPSIS" on standard error; status 1.
int ShowUsage(Console& console, const Usage& usage);

// "error: ERROR", the usage line, and a pointer to --help; status 1.
int CommandLineError(Console& console, const Usage& usage, const std::string& error);

// The program's name as argument 0 gives it, or `fallback` when there is none.
std::string ProgramName(const std::vector<std::string>& arguments, const char* fallback);

#endif  // ZEFACUT_CLI_OPTIONS_H

// Runs a built program (zefacut or d88info) as a separate process in a
// scratch directory and hands back its exit status and both output streams
// as bytes; with helpers to compare the files it leaves. The tool's fixed
// messages are in tool_messages.h.
//
// zefacut is ZEFACUT_PATH, or the program named by the environment variable
// ZEFACUT_TEST_TOOL; d88info is D88INFO_PATH, or D88INFO_TEST_TOOL. When
// ZEFACUT_TEST_LAUNCHER names a program (for example a Windows build run
// under wine), each program is started through it: launcher program args...
// Tests that depend on what a launcher cannot pass on (argument 0, a
// file-size limit, the system's wording of an error) skip themselves under
// one with SKIP_UNDER_LAUNCHER().
#ifndef ZEFACUT_TESTS_SUPPORT_RUN_TOOL_H
#define ZEFACUT_TESTS_SUPPORT_RUN_TOOL_H

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/test_files.h"
#include "testkit/expected_cuts.h"
#include "testkit/image_builder.h"
#include "testkit/tool_messages.h"

// A fresh empty directory for one test, removed with its contents when the
// object goes. The tool runs in Path(); its captured output streams are kept
// beside that directory, not in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory the tool runs in.
  const std::string& Path() const { return work_; }
  // A file in Path().
  std::string File(const std::string& name) const { return work_ + "/" + name; }
  // Where RunTool captures the two streams.
  std::string StdoutFile() const { return base_ + "/stdout"; }
  std::string StderrFile() const { return base_ + "/stderr"; }

 private:
  std::string base_;
  std::string work_;
};

struct ToolResult {
  int status = -1;       // exit status, or 128 + the signal that ended the tool
  std::string out;       // standard output, byte for byte
  std::string err;       // standard error, byte for byte
  std::string terminal;  // what the terminal received, when one was asked for
};

struct RunOptions {
  // The whole argument vector the tool gets, argument 0 included; it may be
  // empty. Without it the tool gets {tool path, args...}.
  std::optional<std::vector<std::string>> argv;
  // Largest file size the tool may write (RLIMIT_FSIZE, with SIGXFSZ
  // ignored). The captured streams are files too: leave room for them.
  std::optional<std::uint64_t> fileSizeLimit;
  // The locale the tool runs in (LANG; LC_ALL and LC_CTYPE unset).
  std::optional<std::string> locale;
  // Standard output, standard error or both go to a terminal (a
  // pseudo-terminal in raw mode, so that "\n" stays a line feed); what it
  // receives comes back as ToolResult::terminal.
  bool terminalOut = false;
  bool terminalErr = false;
  // Standard input is that terminal, with nothing typed.
  bool terminalIn = false;
  // Standard output goes to this file, which must exist (kFullDevice, say),
  // instead of being captured; ToolResult::out is then empty.
  std::optional<std::string> outTo;
  // Standard input comes from this file (a path as the test sees it)
  // instead of /dev/null.
  std::optional<std::string> stdinFrom;
  // Standard output is a pipe whose reading end is closed before the tool
  // starts: every write to it is lost (EPIPE, or SIGPIPE where not ignored).
  // ToolResult::out is then empty.
  bool outToClosedPipe = false;
  // A signal sent to the tool this many microseconds after it starts.
  std::optional<int> signal;
  long signalAfterMicroseconds = 0;
};

// The programs the tests run.
enum class Program { kZefacut, kD88info };

// Runs the program in dir.Path() with `args` after argument 0, standard
// input from /dev/null (or options.stdinFrom), and waits for it.
ToolResult RunProgram(Program which, const ScratchDir& dir, const std::vector<std::string>& args,
                      const RunOptions& options = {});

// The same for zefacut.
inline ToolResult RunTool(const ScratchDir& dir, const std::vector<std::string>& args,
                          const RunOptions& options = {}) {
  return RunProgram(Program::kZefacut, dir, args, options);
}

// A program as the tests run it (an absolute path), zefacut's, and the
// launcher, empty when there is none.
const std::string& ProgramPath(Program program);
inline const std::string& ToolPath() { return ProgramPath(Program::kZefacut); }
const std::string& Launcher();
inline bool UnderLauncher() { return !Launcher().empty(); }

// A device every write to fails with "No space left on device": standard
// output sent there is lost output. Linux has it.
inline constexpr char kFullDevice[] = "/dev/full";
bool HasFullDevice();
// What both programs say when their standard output was lost there.
inline constexpr char kLostOutputError[] =
    "error: cannot write to standard output: No space left on device\n";

#define SKIP_WITHOUT_FULL_DEVICE()                                   \
  do {                                                               \
    if (UnderLauncher() || !HasFullDevice()) {                       \
      GTEST_SKIP() << "needs " << kFullDevice << " and no launcher"; \
    }                                                                \
  } while (false)

#define SKIP_UNDER_LAUNCHER()                                  \
  do {                                                         \
    if (UnderLauncher()) {                                     \
      GTEST_SKIP() << "not meaningful through " << Launcher(); \
    }                                                          \
  } while (false)

// "warning: NAME: not written: sector C H R N of track T is not on the disk\n"
// for a cut whose first sector the disk lacks.
std::string NotOnDiskWarning(const ExpectedCut& cut);
// The same for every file of known disk `index` (by kKnownSignatures): what a
// disk that holds nothing but its signature gives.
std::string NotOnDiskWarnings(int index);

// The id of a process that has ended and been reaped: no process has it,
// until the system hands it out again.
int EndedProcessId();

// The names of the entries of a directory, sorted.
std::set<std::string> EntriesIn(const std::string& dir);

// Success when the file holds exactly `expected`; otherwise says where the
// contents first differ, instead of printing them whole.
::testing::AssertionResult FileHolds(const std::string& path, const Bytes& expected);

// Bytes [from, from + length) of `bytes`; the range must lie inside.
Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t length);

#endif  // ZEFACUT_TESTS_SUPPORT_RUN_TOOL_H

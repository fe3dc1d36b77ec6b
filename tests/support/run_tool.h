// Runs the built zefacut as a separate process in a scratch directory and
// hands back its exit status and both output streams as bytes; with the
// tool's fixed messages as the bytes it must write, and helpers to compare
// the files it leaves.
//
// The tool run is ZEFACUT_PATH, or the program named by the environment
// variable ZEFACUT_TEST_TOOL. When ZEFACUT_TEST_LAUNCHER names a program (for
// example a Windows build run under wine), the tool is started through it:
// launcher tool args... Tests that depend on what a launcher cannot pass on
// (argument 0, a file-size limit, the system's wording of an error) skip
// themselves under one with SKIP_UNDER_LAUNCHER().
#ifndef ZEFACUT_TESTS_SUPPORT_RUN_TOOL_H
#define ZEFACUT_TESTS_SUPPORT_RUN_TOOL_H

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/expected_cuts.h"
#include "tests/support/image_builder.h"

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
};

// Runs the tool in dir.Path() with `args` after argument 0, standard input
// from /dev/null, and waits for it.
ToolResult RunTool(const ScratchDir& dir, const std::vector<std::string>& args,
                   const RunOptions& options = {});

// The tool program as the tests run it (an absolute path), and the launcher,
// empty when there is none.
const std::string& ToolPath();
const std::string& Launcher();
inline bool UnderLauncher() { return !Launcher().empty(); }

#define SKIP_UNDER_LAUNCHER()                                  \
  do {                                                         \
    if (UnderLauncher()) {                                     \
      GTEST_SKIP() << "not meaningful through " << Launcher(); \
    }                                                          \
  } while (false)

// The tool's fixed messages as the bytes it must write; the Japanese parts
// are Shift-JIS.
// "ファイルをオープンできません.\n"
inline const std::string kOpenFailedMessage =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB"
    "\x82\xDC\x82\xB9\x82\xF1\x2E\x0A";
// "未対応の形式です.\n"
inline const std::string kUnsupportedMessage =
    "\x96\xA2\x91\xCE\x89\x9E\x82\xCC\x8C\x60\x8E\xAE\x82\xC5\x82\xB7\x2E\x0A";
// " を認識しました.\n", the end of every recognition message.
inline constexpr char kRecognizedEnding[] =
    " \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x2E\x0A";
// "TITLE の DISK を認識しました.\n", by the index of kKnownSignatures.
inline const std::string kRecognitionMessages[8] = {
    std::string("ZEFA LOMRI \x82\xCC Disk A") + kRecognizedEnding,
    std::string("ZEFA LOMRI \x82\xCC Disk B") + kRecognizedEnding,
    std::string("ZEFA LOMRI 2 \x82\xCC Disk A") + kRecognizedEnding,
    std::string("ZEFA LOMRI 2 \x82\xCC Disk B") + kRecognizedEnding,
    std::string("ZEFA LOMRI 2 \x82\xCC User Disk") + kRecognizedEnding,
    std::string("ZEFA LOMRI 3 \x82\xCC Disk A") + kRecognizedEnding,
    std::string("ZEFA LOMRI 3 \x82\xCC Disk B") + kRecognizedEnding,
    std::string("ZEFA LOMRI 3 \x82\xCC User Disk") + kRecognizedEnding,
};

// "warning: NAME: not written: sector C H R N of track T is not on the disk\n"
// for a cut whose first sector the disk lacks.
std::string NotOnDiskWarning(const ExpectedCut& cut);
// The same for every file of known disk `index` (by kKnownSignatures): what a
// disk that holds nothing but its signature gives.
std::string NotOnDiskWarnings(int index);

// A file's whole contents; nullopt when it cannot be read as a file.
std::optional<Bytes> ReadFileBytes(const std::string& path);

// The names of the entries of a directory, sorted.
std::set<std::string> EntriesIn(const std::string& dir);

// Success when the file holds exactly `expected`; otherwise says where the
// contents first differ, instead of printing them whole.
::testing::AssertionResult FileHolds(const std::string& path, const Bytes& expected);

// Bytes [from, from + length) of `bytes`; the range must lie inside.
Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t length);

#endif  // ZEFACUT_TESTS_SUPPORT_RUN_TOOL_H

// zefacut when its standard output is lost (sent to a full device): the run
// ends with status 1 and standard error says why, whatever it was doing; a
// run that had nothing to say there is not touched by it.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/run_tool.h"
#include "testkit/image_builder.h"

namespace {

TEST(LostOutputTest, EndsTheRunWithStatus1) {
  SKIP_WITHOUT_FULL_DEVICE();
  const struct {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string err;
    std::set<std::string> written;  // files and folders the run leaves
  } cases[] = {
      {"a dry run", {"-n", "-d", "image.d88"}, 1, kLostOutputError, {}},
      // The files are written all the same.
      {"a cut", {"image.d88"}, 1, kLostOutputError, {"FMBGM", "FMSE", "BEEPBGM", "BEEPSE"}},
      {"the help", {"--help"}, 1, kLostOutputError, {}},
      {"the version", {"--version"}, 1, kLostOutputError, {}},
      // Nothing for standard output: an unsupported disk is told on standard
      // error only.
      {"a run with nothing to say", {"other.d88"}, 0, kUnsupportedMessage, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File("image.d88"), BuildImage({KnownDisk(3, 21)})));
    ASSERT_TRUE(WriteFileBytes(dir.File("other.d88"), BuildImage({PlainDisk(4, 22)})));
    RunOptions toFull;
    toFull.outTo = kFullDevice;
    const ToolResult result = RunTool(dir, c.args, toFull);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, c.err);
    std::set<std::string> written = c.written;
    written.insert({"image.d88", "other.d88"});
    EXPECT_EQ(EntriesIn(dir.Path()), written);
  }
}

// A pipe closed early, as `zefacut ... | head -1` leaves it: neither tool
// dies of it. zefacut goes on writing every file; both end with status 1
// and say once that their output was lost.
TEST(LostOutputTest, ClosedPipeEndsNoRun) {
  SKIP_UNDER_LAUNCHER();  // the launcher's own output meets the pipe first
  const std::string brokenPipe = "error: cannot write to standard output: Broken pipe\n";
  const struct {
    const char* what;
    Program program;
    std::vector<std::string> args;
    std::set<std::string> written;  // files and folders the run leaves in hp
  } cases[] = {
      {"a cut",
       Program::kZefacut,
       {"-o", "hp", "image.d88"},
       {"FMBGM", "FMSE", "BEEPBGM", "BEEPSE", "PROG"}},
      {"a cut of each disk apart",
       Program::kZefacut,
       {"-d", "-o", "hp", "image.d88"},
       {"image.d88 - ZEFA LOMRI 2 Disk B", "image.d88 - ZEFA LOMRI 3 Disk A"}},
      {"the help", Program::kZefacut, {"--help"}, {}},
      {"a listing", Program::kD88info, {"image.d88"}, {}},
      {"a listing in JSON", Program::kD88info, {"--json", "image.d88"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    ASSERT_TRUE(
        WriteFileBytes(dir.File("image.d88"), BuildImage({KnownDisk(3, 21), KnownDisk(5, 22)})));
    RunOptions closed;
    closed.outToClosedPipe = true;
    const ToolResult result = RunProgram(c.program, dir, c.args, closed);
    EXPECT_EQ(result.status, 1);
    // Said once, last: the replacing of the second disk's files is told
    // before it.
    ASSERT_GE(result.err.size(), brokenPipe.size());
    EXPECT_EQ(result.err.substr(result.err.size() - brokenPipe.size()), brokenPipe);
    EXPECT_EQ(result.err.find("standard output"), result.err.rfind("standard output"));
    if (!c.written.empty()) {
      EXPECT_EQ(EntriesIn(dir.File("hp")), c.written);
    }
  }
}

}  // namespace

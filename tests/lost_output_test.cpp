// zefacut when its standard output is lost (sent to a full device): the run
// ends with status 1 and standard error says why, whatever it was doing; a
// run that had nothing to say there is not touched by it.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/image_builder.h"
#include "support/run_tool.h"

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

}  // namespace

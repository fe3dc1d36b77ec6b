// Damaged dumps of a known disk: every doubt about a file is told on
// standard error, the files are still written where their first sector is
// there, and the exit status says whether anything was told.
#include <gtest/gtest.h>

#include "support/run_tool.h"
#include "testkit/damaged_dumps.h"

namespace {

class DamagedDumpTest : public ::testing::TestWithParam<DamagedDump> {};

TEST_P(DamagedDumpTest, TellsEveryDoubt) {
  const DamagedDump& dump = GetParam();
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("image.d88"), dump.image()));
  const ToolResult result = RunTool(dir, {"image.d88"});
  EXPECT_EQ(result.err, dump.err);
  EXPECT_EQ(result.status, dump.status);
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedDumpTest, ::testing::ValuesIn(DamagedDumps()),
                         [](const ::testing::TestParamInfo<DamagedDump>& info) {
                           return std::string(info.param.name);
                         });

// A file whose run holds a marked sector is written all the same, byte for
// byte, with the marked sector's data.
TEST(DamagedDumpFilesTest, MarkedSectorsAreCutAllTheSame) {
  ScratchDir dir;
  DiskSpec disk = DamagedBase();
  disk.tracks[12].sectors[5].status = 0xB0;
  ASSERT_TRUE(WriteFileBytes(dir.File("image.d88"), BuildDisk(disk)));
  const ToolResult result = RunTool(dir, {"image.d88"});
  EXPECT_EQ(result.status, 2);
  const Bytes linear = LinearBytes(disk, kKnownDiskTracks);
  for (const ExpectedCut& cut : kTitle2DiskB) {
    EXPECT_TRUE(FileHolds(dir.File(cut.name),
                          Slice(linear, LinearAddress(cut), static_cast<std::size_t>(cut.length))))
        << cut.name;
  }
}

}  // namespace

// The tool over images of every format: the same files from a known disk in
// any format as from its D88 form, and clear words for what it does not read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/format_test_helpers.h"
#include "support/run_tool.h"
#include "testkit/format_writers.h"
#include "testkit/image_builder.h"

namespace {

TEST(FormatsToolTest, EveryFormatCutsTheFilesItsD88FormGives) {
  // ZEFA LOMRI 2 Disk B: four files from tracks 5 to 13.
  const DiskSpec disk = KnownDisk(3, 0xF0F0);
  ScratchDir d88Run;
  ASSERT_TRUE(WriteFileBytes(d88Run.File("disk.d88"), BuildImage({disk})));
  const ToolResult want = RunTool(d88Run, {"disk.d88"});
  ASSERT_EQ(want.status, 0) << want.err;
  const std::vector<std::string> files = {"FMBGM", "FMSE", "BEEPBGM", "BEEPSE"};
  for (const WrittenFormatName& format : WrittenFormats()) {
    if (format.format == WrittenFormat::kD88 || !ReadInThisBuild(format.format)) {
      continue;
    }
    const std::string name = std::string("disk") + format.extension;
    SCOPED_TRACE(name + " written as " + format.name);
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File(name), BuildInFormat(format.format, disk)));
    const ToolResult got = RunTool(dir, {name});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, want.out);
    EXPECT_EQ(got.err, "");
    for (const std::string& file : files) {
      const std::optional<Bytes> expected = ReadFileBytes(d88Run.File(file));
      ASSERT_TRUE(expected) << file;
      EXPECT_TRUE(FileHolds(dir.File(file), *expected)) << file;
    }
    std::set<std::string> entries(files.begin(), files.end());
    entries.insert(name);
    EXPECT_EQ(EntriesIn(dir.Path()), entries);
  }
}

TEST(FormatsToolTest, FormatsItDoesNotReadAreNamedAndNothingIsWritten) {
  Bytes scp = {'S', 'C', 'P', 0x22, 0x80, 2, 0, 163, 0, 0, 0, 0, 0, 0, 0, 0};
  scp.resize(8192);
  const std::string text = "MV - CPCEMU Disk-File\r\nDisk-Info\r\n";
  Bytes cpc(text.begin(), text.end());
  cpc.resize(8192);
  const struct {
    const char* file;
    Bytes bytes;
    std::string message;
  } cases[] = {
      {"cpc.dsk", cpc,
       "CPC DSK images are not read; convert the disk to D88, a raw image or HFE first"},
      // The name says D88; the content decides, and an SCP dump that lists
      // no track is one that cannot be read.
      {"flux.d88", scp, "cannot be read as SCP: the track table lists no track"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File(c.file), c.bytes));
    const ToolResult result = RunTool(dir, {c.file});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, std::string("error: ") + c.file + ": " + c.message + "\n");
    EXPECT_EQ(EntriesIn(dir.Path()), std::set<std::string>{c.file});
  }
}

}  // namespace

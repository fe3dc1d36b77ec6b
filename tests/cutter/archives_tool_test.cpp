// The tool over images inside archives: every image member cut in member
// order, its lines named after it, the other members passed over, and clear
// words for an archive that holds no image or cannot be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/archive_writer.h"
#include "support/run_tool.h"
#include "testkit/format_writers.h"
#include "testkit/image_builder.h"

namespace {

// The files of a known disk as its D88 form gives them, by name.
std::vector<std::pair<std::string, Bytes>> CutFromD88(const DiskSpec& disk,
                                                      const std::vector<std::string>& files) {
  ScratchDir dir;
  EXPECT_TRUE(WriteFileBytes(dir.File("disk.d88"), BuildImage({disk})));
  const ToolResult result = RunTool(dir, {"disk.d88"});
  EXPECT_EQ(result.status, 0) << result.err;
  std::vector<std::pair<std::string, Bytes>> cut(files.size());
  std::transform(files.begin(), files.end(), cut.begin(), [&dir](const std::string& file) {
    return std::make_pair(file, ReadFileBytes(dir.File(file)).value_or(Bytes{}));
  });
  return cut;
}

const std::vector<std::string> kTitle2BFiles = {"FMBGM", "FMSE", "BEEPBGM", "BEEPSE"};

std::string CuttingLines(const std::vector<std::string>& files) {
  std::string lines;
  for (const std::string& file : files) {
    lines += "cutting ... " + file + "\n";
  }
  return lines;
}

TEST(ArchivesToolTest, AnImageInEachKindOfArchiveIsCutAsFromAFile) {
  const DiskSpec disk = KnownDisk(3, 0xA1C);
  const auto want = CutFromD88(disk, kTitle2BFiles);
  const struct {
    ArchiveKind kind;
    const char* archive;
    const char* member;  // as the tool names it
    Bytes image;
  } cases[] = {
      {ArchiveKind::kZip, "disk.zip", "zefa2/disk b.d88", BuildImage({disk})},
      {ArchiveKind::kSevenZip, "disk.7z", "disk.hfe", BuildHfe(disk, 1)},
      {ArchiveKind::kTarGz, "disk.tar.gz", "disk.nfd", BuildNfd(disk, 1)},
      {ArchiveKind::kGzip, "disk.hdm.gz", "disk.hdm", BuildRaw(disk)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.archive);
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File(c.archive), BuildArchive(c.kind, {{c.member, c.image}})));
    const ToolResult result = RunTool(dir, {c.archive});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, std::string("reading ... ") + c.archive + "/" + c.member + "\n" +
                              kRecognitionMessages[3] + CuttingLines(kTitle2BFiles));
    for (const auto& [file, bytes] : want) {
      EXPECT_TRUE(FileHolds(dir.File(file), bytes)) << file;
    }
  }
}

TEST(ArchivesToolTest, SeveralImagesAreCutInMemberOrderAndOtherMembersPassedOver) {
  const DiskSpec diskA = KnownDisk(2, 0xA2);  // PROG
  const DiskSpec diskB = KnownDisk(3, 0xB3);  // four files
  const auto wantA = CutFromD88(diskA, {"PROG"});
  const auto wantB = CutFromD88(diskB, kTitle2BFiles);
  ScratchDir dir;
  ASSERT_TRUE(
      WriteFileBytes(dir.File("set.zip"),
                     BuildArchive(ArchiveKind::kZip, {{"readme.txt", Bytes{'h', 'i', '\n'}},
                                                      {"b.imd", BuildImd(diskB)},
                                                      {"other.d88", BuildImage({PlainDisk(2, 9)})},
                                                      {"a.fdi", BuildFdi(diskA)}})));
  const ToolResult result = RunTool(dir, {"-d", "set.zip"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "reading ... set.zip/b.imd\n" + kRecognitionMessages[3] +
                            CuttingLines(kTitle2BFiles) + "reading ... set.zip/other.d88\n" +
                            "reading ... set.zip/a.fdi\n" + kRecognitionMessages[2] +
                            "cutting ... PROG\n");
  EXPECT_EQ(result.err, kUnsupportedMessage);
  for (const auto& [file, bytes] : wantB) {
    EXPECT_TRUE(FileHolds(dir.File("b.imd - ZEFA LOMRI 2 Disk B/" + file), bytes)) << file;
  }
  EXPECT_TRUE(FileHolds(dir.File("a.fdi - ZEFA LOMRI 2 Disk A/PROG"), wantA[0].second));
  EXPECT_EQ(EntriesIn(dir.Path()), (std::set<std::string>{"set.zip", "a.fdi - ZEFA LOMRI 2 Disk A",
                                                          "b.imd - ZEFA LOMRI 2 Disk B"}));
}

TEST(ArchivesToolTest, MembersThatCannotBeReadAreNamed) {
  // A CPC DSK member (a format the tool does not read), an FDI cut short
  // inside its header, and a good image after them: each member gets its own
  // words.
  const DiskSpec disk = KnownDisk(2, 0xC4);
  Bytes shortFdi = BuildFdi(disk);
  shortFdi.resize(3000);
  const std::string text = "EXTENDED CPC DSK File\r\nDisk-Info\r\n";
  Bytes cpc(text.begin(), text.end());
  cpc.resize(512);
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(
      dir.File("mixed.7z"),
      BuildArchive(ArchiveKind::kSevenZip,
                   {{"cpc.dsk", cpc}, {"short.fdi", shortFdi}, {"good.dim", BuildDim(disk)}})));
  const ToolResult result = RunTool(dir, {"mixed.7z"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            "reading ... mixed.7z/cpc.dsk\nreading ... mixed.7z/short.fdi\n"
            "reading ... mixed.7z/good.dim\n" +
                kRecognitionMessages[2] + "cutting ... PROG\n");
  EXPECT_EQ(result.err,
            "error: mixed.7z/cpc.dsk: CPC DSK images are not read; convert the disk to D88, a raw "
            "image or HFE first\n"
            "error: mixed.7z/short.fdi: cannot be read as FDI: the header size (4096 bytes) is "
            "beyond the end of the file (3000 bytes)\n");
  EXPECT_EQ(EntriesIn(dir.Path()), (std::set<std::string>{"mixed.7z", "PROG"}));
}

TEST(ArchivesToolTest, AnArchiveWithoutImagesOrDamagedIsTold) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(
      dir.File("notes.zip"),
      BuildArchive(ArchiveKind::kZip, {{"readme.txt", Bytes{'h', 'i'}}, {"empty/", Bytes{}}})));
  ToolResult result = RunTool(dir, {"notes.zip"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "warning: notes.zip: no disk image in the ZIP archive\n");

  // A ZIP archive cut short inside its second member: the first is cut, then
  // the archive's damage is an error.
  const DiskSpec disk = KnownDisk(2, 0xD5);
  Bytes cut = BuildArchive(ArchiveKind::kZip, {{"a.d88", BuildImage({disk})},
                                               {"b.d88", BuildImage({KnownDisk(5, 0xD6)})}});
  cut.resize(cut.size() * 3 / 4);
  ASSERT_TRUE(WriteFileBytes(dir.File("cut.zip"), cut));
  result = RunTool(dir, {"cut.zip"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out.rfind(
                "reading ... cut.zip/a.d88\n" + kRecognitionMessages[2] + "cutting ... PROG\n", 0),
            0U)
      << result.out;
  EXPECT_EQ(result.err.rfind("error: cut.zip: cannot read the ZIP archive: ", 0), 0U) << result.err;
  // libarchive's error numbers come as words.
  EXPECT_EQ(result.err.find("(-"), std::string::npos) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
}

}  // namespace

namespace {

// Member names reach each stream in its form: a Japanese name as Shift-JIS
// in a file (so that the whole output reads as CP932) or as UTF-8 when asked
// for, in d88info's JSON as UTF-8; control characters escaped, never raw.
TEST(ArchivesToolTest, MemberNamesAreShownInEachStreamsForm) {
  const std::string evil = "evil\x1b[31mRED\x1b]0;pwned\a.d88";
  const std::string evilShown = "evil\\x1b[31mRED\\x1b]0;pwned\\x07.d88";
  const std::string japanese =
      "\xE3\x82\xBC\xE3\x83\x95\xE3\x82\xA1 \xE3\x83\xAD\xE3\x83\xA0"
      "\xE3\x83\xAA\xEF\xBC\x92.d88";  // "ゼファ ロムリ２.d88"
  const std::string japaneseShiftJis =
      "\x83\x5B\x83\x74\x83\x40 \x83\x8D\x83\x80\x83\x8A\x82\x51.d88";
  ScratchDir dir;
  ASSERT_TRUE(
      WriteFileBytes(dir.File("names.zip"),
                     BuildArchive(ArchiveKind::kZip, {{evil, BuildImage({PlainDisk(2, 1)})},
                                                      {japanese, BuildImage({PlainDisk(2, 2)})}})));
  const struct {
    Program program;
    std::vector<std::string> args;
    std::string out;  // lines the output holds, in order
  } cases[] = {
      {Program::kZefacut,
       {"names.zip"},
       "reading ... names.zip/" + evilShown + "\nreading ... names.zip/" + japaneseShiftJis + "\n"},
      {Program::kZefacut,
       {"--encoding=utf-8", "names.zip"},
       "reading ... names.zip/" + evilShown + "\nreading ... names.zip/" + japanese + "\n"},
      {Program::kD88info, {"names.zip"}, "member: " + evilShown + "\n"},
      {Program::kD88info, {"names.zip"}, "member: " + japaneseShiftJis + "\n"},
      {Program::kD88info,
       {"--json", "names.zip"},
       "{\"member\": \"evil\\u001B[31mRED\\u001B]0;pwned\\u0007.d88\", \"image\":\n"},
      {Program::kD88info,
       {"--json", "names.zip"},
       "{\"member\": \"" + japanese + "\", \"image\":\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ToolResult result = RunProgram(c.program, dir, c.args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(result.out.find('\a'), std::string::npos);
    const bool named = c.out.find(japanese) != std::string::npos ||
                       c.out.find(japaneseShiftJis) != std::string::npos;
    if (UnderLauncher() && named) {
      // Known fault of the Windows build: libarchive there hands over a name
      // stored without ZIP's UTF-8 flag already decoded in the system's code
      // page, so a UTF-8 or Shift-JIS name arrives garbled unless that code
      // page is the name's own. Only the escaping is checked there for now.
      continue;
    }
    EXPECT_NE(result.out.find(c.out), std::string::npos) << result.out;
  }
}

}  // namespace

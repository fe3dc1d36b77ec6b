// The command line as people use it: options anywhere, output folders, which
// paths are images, standard input, several images,
// files replaced within a run, the encodings of the Japanese lines, and the
// summary a person at a terminal sees.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/run_tool.h"
#include "testkit/expected_cuts.h"
#include "testkit/flux_writers.h"
#include "testkit/image_builder.h"
#include "testkit/kryoflux_writer.h"
#ifdef ZEFACUT_TEST_ARCHIVES
#include "support/archive_writer.h"
#endif

namespace fs = std::filesystem;

namespace {

constexpr char kImage[] = "image.d88";

// "ZEFA LOMRI 2 の Disk B を認識しました.\n" in UTF-8, and "未対応の形式です.\n".
const std::string kTitle2DiskBUtf8 =
    "ZEFA LOMRI 2 \xE3\x81\xAE Disk B "
    "\xE3\x82\x92\xE8\xAA\x8D\xE8\xAD\x98\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F.\n";
const std::string kUnsupportedUtf8 =
    "\xE6\x9C\xAA\xE5\xAF\xBE\xE5\xBF\x9C\xE3\x81\xAE\xE5\xBD\xA2\xE5\xBC\x8F\xE3\x81\xA7"
    "\xE3\x81\x99.\n";

std::string ProgressLines(const std::vector<ExpectedCut>& cuts) {
  std::string lines;
  for (const ExpectedCut& cut : cuts) {
    lines += std::string("cutting ... ") + cut.name + "\n";
  }
  return lines;
}

std::set<std::string> Names(const std::vector<ExpectedCut>& cuts, std::set<std::string> more = {}) {
  for (const ExpectedCut& cut : cuts) {
    more.insert(cut.name);
  }
  return more;
}

void ExpectCuts(const std::string& folder, const std::vector<ExpectedCut>& cuts,
                const DiskSpec& disk) {
  const Bytes linear = LinearBytes(disk, kKnownDiskTracks);
  for (const ExpectedCut& cut : cuts) {
    EXPECT_TRUE(FileHolds(folder + "/" + cut.name,
                          Slice(linear, LinearAddress(cut), static_cast<std::size_t>(cut.length))))
        << cut.name;
  }
}

// --- Help, version and bad usage ---------------------------------------------

TEST(CommandLineTest, HelpAndVersionGoToStandardOutput) {
  ScratchDir dir;
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-h"}, {"--help"}, {"-q", "--help", "x.d88"}}) {
    const ToolResult result = RunTool(dir, args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_NE(result.out.find("Usage: zefacut [options] IMAGE...\n"), std::string::npos);
    for (const char* option : {"--output", "--per-disk", "--dry-run", "--quiet", "--encoding"}) {
      EXPECT_NE(result.out.find(option), std::string::npos) << option;
    }
  }
  for (const char* option : {"-V", "--version"}) {
    const ToolResult result = RunTool(dir, {option});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "zefacut " ZEFACUT_EXPECTED_VERSION "\n");
    EXPECT_EQ(result.err, "");
  }
  EXPECT_EQ(EntriesIn(dir.Path()), std::set<std::string>{});
}

TEST(CommandLineTest, BadOptionsNameWhatIsWrongAndShowTheUsage) {
  const struct {
    std::vector<std::string> args;
    const char* error;
  } kCases[] = {
      {{"--frobnicate", kImage}, "error: unknown option '--frobnicate'\n"},
      {{"-x", kImage}, "error: unknown option '-x'\n"},
      {{"-dqz", kImage}, "error: unknown option '-z'\n"},
      {{"--help=yes"}, "error: unknown option '--help=yes'\n"},
      {{"-o"}, "error: option '-o' needs a folder\n"},
      {{"--output"}, "error: option '--output' needs a folder\n"},
      {{"--output=", kImage}, "error: option '--output' needs a folder\n"},
      {{"--encoding=latin1", kImage},
       "error: unknown encoding 'latin1'; use auto, sjis or utf-8\n"},
      {{"--encoding"}, "error: option '--encoding' needs one of auto, sjis, utf-8\n"},
      {{"--manifest"}, "error: option '--manifest' needs a file\n"},
      {{"--manifest=", kImage}, "error: option '--manifest' needs a file\n"},
      // After the image, options are still options.
      {{kImage, "-o"}, "error: option '-o' needs a folder\n"},
      {{kImage, "-o", ""}, "error: option '-o' needs a folder\n"},
      {{kImage, "--frobnicate"}, "error: unknown option '--frobnicate'\n"},
      {{kImage, "-n", "-x"}, "error: unknown option '-x'\n"},
  };
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({KnownDisk(2, 1)})));
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ToolResult result = RunTool(dir, c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    const std::string error = c.error;
    EXPECT_EQ(result.err.substr(0, error.size()), error);
    // The usage line, then where more is told, both naming the program.
    const std::string usage = result.err.substr(std::min(error.size(), result.err.size()));
    EXPECT_EQ(usage.rfind("Usage: ", 0), 0U) << usage;
    const std::string::size_type end = usage.find(" [d88file]\n");
    ASSERT_NE(end, std::string::npos) << usage;
    const std::string program = usage.substr(7, end - 7);
    EXPECT_EQ(usage.substr(end + 11), "Try '" + program + " --help' for more.\n");
  }
  EXPECT_EQ(EntriesIn(dir.Path()), std::set<std::string>{kImage});
}

// After "--", and after the first path, everything is a path.
TEST(CommandLineTest, DoubleDashEndsTheOptions) {
  ScratchDir dir;
  const DiskSpec disk = KnownDisk(5, 3);
  ASSERT_TRUE(WriteFileBytes(dir.File("-q.d88"), BuildImage({disk})));
  const ToolResult result = RunTool(dir, {"--", "-q.d88"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kRecognitionMessages[5] + "cutting ... PROG\n");
  EXPECT_EQ(result.err, "");
  ExpectCuts(dir.Path(), kDiskA, disk);
}

// --- Where the files go --------------------------------------------------------

TEST(CommandLineTest, OutputFolderIsMadeWithItsParents) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-o", "out/a/b", kImage},
                                             {"-oout/a/b", kImage},
                                             {"--output", "out/a/b/", kImage},
                                             {"--output=out/a/b", kImage}}) {
    SCOPED_TRACE(args[0]);
    ScratchDir dir;
    const DiskSpec disk = KnownDisk(3, 4);
    ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({disk})));
    const ToolResult result = RunTool(dir, args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kRecognitionMessages[3] + ProgressLines(kTitle2DiskB));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(EntriesIn(dir.Path()), (std::set<std::string>{kImage, "out"}));
    EXPECT_EQ(EntriesIn(dir.File("out/a/b")), Names(kTitle2DiskB));
    ExpectCuts(dir.File("out/a/b"), kTitle2DiskB, disk);
  }
}

// A folder that cannot be made is told once, when the first file would go
// into it; an output folder that is a file is refused before any reading.
TEST(CommandLineTest, OutputFolderThatCannotBeMadeIsAnError) {
  const struct {
    const char* output;
    std::string out;
    std::string errStart;  // the whole error stream starts so, and has one line
  } cases[] = {
      {"taken/out", kRecognitionMessages[3], "error: cannot create 'taken/out/': "},
      {"taken", "", "error: 'taken' is not a folder\n"},
      {"taken/", "", "error: 'taken/' is not a folder\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({KnownDisk(3, 4)})));
    ASSERT_TRUE(WriteFileBytes(dir.File("taken"), Bytes(3, 1)));
    const ToolResult result = RunTool(dir, {"-o", c.output, kImage});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err.rfind(c.errStart, 0), 0U) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(EntriesIn(dir.Path()), (std::set<std::string>{kImage, "taken"}));
  }
}

// The output folder, and each disk's folder, is made when its first file is
// written: a run that writes nothing leaves nothing behind.
TEST(CommandLineTest, FolderIsMadeOnlyForAFile) {
  const struct {
    const char* what;
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {"a missing image", {"-o", "never/made", "missing.d88"}, 1},
      {"an unsupported disk", {"-o", "never/made", "other.d88"}, 0},
      {"a known disk none of whose files can be read", {"-d", "-o", "never/made", "bare.d88"}, 2},
      {"the same, beside", {"-d", "bare.d88"}, 2},
      {"a dry run", {"-n", "-d", "-o", "never/made", kImage}, 0},
#ifdef ZEFACUT_TEST_ARCHIVES
      {"an archive with no image", {"-o", "never/made", "text.zip"}, 2},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    std::set<std::string> entries = {kImage, "other.d88", "bare.d88"};
    ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({KnownDisk(3, 4)})));
    ASSERT_TRUE(WriteFileBytes(dir.File("other.d88"), BuildImage({PlainDisk(4, 5)})));
    // The signature's track, and none of the files'.
    ASSERT_TRUE(WriteFileBytes(dir.File("bare.d88"), BuildImage({KnownDisk(3, 6, 2)})));
#ifdef ZEFACUT_TEST_ARCHIVES
    ASSERT_TRUE(WriteFileBytes(dir.File("text.zip"),
                               BuildArchive(ArchiveKind::kZip, {{"readme.txt", Bytes{'h', 'i'}}})));
    entries.insert("text.zip");
#endif
    const ToolResult result = RunTool(dir, c.args);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(EntriesIn(dir.Path()), entries);
  }
}

// Each disk's files in a folder named after the image and the disk; a disk
// of a kind met before in the run gets a folder of its own too.
TEST(CommandLineTest, PerDiskFoldersKeepEachDisksFiles) {
  ScratchDir dir;
  const std::vector<DiskSpec> disks = {KnownDisk(3, 1), KnownDisk(4, 2), KnownDisk(1, 3),
                                       KnownDisk(3, 4), PlainDisk(2, 5)};
  ASSERT_TRUE(WriteFileBytes(dir.File("game: 2.d88"), BuildImage(disks)));
  const ToolResult result = RunTool(dir, {"-d", "-o", "out", "game: 2.d88"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, kUnsupportedMessage);
  const std::string diskB = "out/game_ 2.d88 - ZEFA LOMRI 2 Disk B";
  const std::string userDisk = "out/game_ 2.d88 - ZEFA LOMRI 2 User Disk";
  EXPECT_EQ(EntriesIn(dir.File("out")),
            (std::set<std::string>{"game_ 2.d88 - ZEFA LOMRI 2 Disk B",
                                   "game_ 2.d88 - ZEFA LOMRI 2 Disk B (2)",
                                   "game_ 2.d88 - ZEFA LOMRI 2 User Disk"}));
  ExpectCuts(dir.File(diskB), kTitle2DiskB, disks[0]);
  ExpectCuts(dir.File(userDisk), kTitle2DiskB, disks[1]);
  ExpectCuts(dir.File(diskB + " (2)"), kTitle2DiskB, disks[3]);
}

// --- Files replaced within a run -------------------------------------------------

TEST(CommandLineTest, FileReplacedWithinARunIsTold) {
  ScratchDir dir;
  const DiskSpec first = KnownDisk(5, 1);
  const DiskSpec second = KnownDisk(2, 2);
  ASSERT_TRUE(WriteFileBytes(dir.File("a.d88"), BuildImage({first})));
  ASSERT_TRUE(WriteFileBytes(dir.File("b.d88"), BuildImage({second})));
  const ToolResult result = RunTool(dir, {"a.d88", "b.d88"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "reading ... a.d88\n" + kRecognitionMessages[5] + "cutting ... PROG\n" +
                            "reading ... b.d88\n" + kRecognitionMessages[2] + "cutting ... PROG\n");
  EXPECT_EQ(result.err,
            "warning: PROG: replaces the file cut from ZEFA LOMRI 3 Disk A (disk 1 of 1 in a.d88) "
            "earlier in this run; use -d to keep each disk's files apart\n");
  ExpectCuts(dir.Path(), kDiskA, second);
  // A dry run tells what would happen, and replaces nothing.
  ScratchDir dry;
  ASSERT_TRUE(WriteFileBytes(dry.File("a.d88"), BuildImage({first})));
  ASSERT_TRUE(WriteFileBytes(dry.File("b.d88"), BuildImage({second})));
  const ToolResult dryRun = RunTool(dry, {"-n", "a.d88", "b.d88"});
  EXPECT_EQ(dryRun.status, 2);
  EXPECT_EQ(dryRun.err,
            "warning: PROG: would replace the file cut from ZEFA LOMRI 3 Disk A (disk 1 of 1 in "
            "a.d88) earlier in this run; use -d to keep each disk's files apart\n");
  EXPECT_EQ(EntriesIn(dry.Path()), (std::set<std::string>{"a.d88", "b.d88"}));
}

// --- Several images ----------------------------------------------------------------

// The line that names each image when several are given.
std::string Reading(const std::string& image) { return "reading ... " + image + "\n"; }

TEST(CommandLineTest, SeveralImagesAreCutInOrder) {
  ScratchDir dir;
  const DiskSpec a = KnownDisk(3, 1);
  const DiskSpec b = KnownDisk(6, 2);
  ASSERT_TRUE(WriteFileBytes(dir.File("a.d88"), BuildImage({a})));
  ASSERT_TRUE(WriteFileBytes(dir.File("b.d88"), BuildImage({PlainDisk(2, 3), b})));
  const ToolResult result = RunTool(dir, {"-d", "a.d88", "b.d88"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "reading ... a.d88\n" + kRecognitionMessages[3] +
                            ProgressLines(kTitle2DiskB) + "reading ... b.d88\n" +
                            kRecognitionMessages[6] + ProgressLines(kTitle3DiskB));
  EXPECT_EQ(result.err, kUnsupportedMessage);
  ExpectCuts(dir.File("a.d88 - ZEFA LOMRI 2 Disk B"), kTitle2DiskB, a);
  ExpectCuts(dir.File("b.d88 - ZEFA LOMRI 3 Disk B"), kTitle3DiskB, b);
}

// Every path is an image, save one: the second of exactly two, when it
// names nothing or a folder (other than a KryoFlux dump's), is the old way
// of naming an output folder and is ignored with a warning. An image that
// cannot be opened is told on its own, and the others are still cut.
TEST(CommandLineTest, WhichPathsAreImages) {
  const std::string prog = kRecognitionMessages[5] + "cutting ... PROG\n";
  const std::string diskB = kRecognitionMessages[3] + ProgressLines(kTitle2DiskB);
  const auto cannotOpen = [](const std::string& path) {
    return kOpenFailedMessage + "error: cannot open '" + path + "': No such file or directory\n";
  };
  const auto ignored = [](const std::string& path) {
    return "warning: argument '" + path + "' ignored; to choose the output folder use -o DIR\n";
  };
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
    std::set<std::string> written;  // beside the images and the folder
  } kCases[] = {
      {{kImage, "outdir"}, 2, prog, ignored("outdir"), {"PROG"}},
      {{kImage, "folder"}, 2, prog, ignored("folder"), {"PROG"}},
      {{kImage, "--", "-x"}, 2, prog, ignored("-x"), {"PROG"}},
      // A folder of KryoFlux stream files is an image (of no known disk:
      // its one track holds flux that is no MFM, which is told).
      {{kImage, "dump"},
       2,
       Reading(kImage) + prog + Reading("dump"),
       "warning: dump: track 0 of the flux dump: no sector could be decoded (no MFM found, no "
       "index pulse)\n" +
           kUnsupportedMessage,
       {"PROG"}},
      // With several images, each image's lines follow its name.
      {{kImage, "other.d88"},
       0,
       Reading(kImage) + prog + Reading("other.d88") + diskB,
       "",
       Names(kTitle2DiskB, {"PROG"})},
      // The first missing, the second an image: both are images.
      {{"missing.d88", "other.d88"},
       1,
       Reading("missing.d88") + Reading("other.d88") + diskB,
       cannotOpen("missing.d88"),
       Names(kTitle2DiskB)},
      {{"-q", kImage, "missing.d88", "other.d88"},
       1,
       Reading(kImage) + kRecognitionMessages[5] + Reading("missing.d88") + Reading("other.d88") +
           kRecognitionMessages[3],
       cannotOpen("missing.d88"),
       Names(kTitle2DiskB, {"PROG"})},
      {{"-d", "--", "-x", kImage},
       1,
       Reading("-x") + Reading(kImage) + prog,
       cannotOpen("-x"),
       {"image.d88 - ZEFA LOMRI 3 Disk A"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({KnownDisk(5, 1)})));
    ASSERT_TRUE(WriteFileBytes(dir.File("other.d88"), BuildImage({KnownDisk(3, 4)})));
    fs::create_directory(dir.File("folder"));
    fs::create_directory(dir.File("dump"));
    KryoFluxTrackSpec flux;
    flux.intervals.assign(100, 48);
    ASSERT_TRUE(WriteFileBytes(dir.File("dump/track00.0.raw"), KryoFluxStream(flux)));
    const ToolResult result = RunTool(dir, c.args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, c.out);
    if (UnderLauncher()) {
      // The system's reason is in its own words there.
      EXPECT_EQ(result.err.empty(), c.err.empty()) << result.err;
    } else {
      EXPECT_EQ(result.err, c.err);
    }
    std::set<std::string> entries = c.written;
    entries.insert({kImage, "other.d88", "folder", "dump"});
    EXPECT_EQ(EntriesIn(dir.Path()), entries);
  }
}

// Options are taken wherever they stand: after the images they do what they
// do before them.
TEST(CommandLineTest, OptionsAfterTheImagesAreTaken) {
  const struct {
    std::vector<std::string> before;
    std::vector<std::string> after;
  } kCases[] = {
      {{"-n", kImage}, {kImage, "-n"}},
      {{"-o", "out", kImage}, {kImage, "-o", "out"}},
      {{"-d", "-q", "--output=out", kImage}, {"-d", kImage, "-q", "--output=out"}},
      {{"--encoding=utf-8", kImage, "other.d88"}, {kImage, "--encoding=utf-8", "other.d88"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.after));
    ToolResult results[2];
    std::set<std::string> entries[2];
    for (int which = 0; which < 2; ++which) {
      ScratchDir dir;
      ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({KnownDisk(5, 1)})));
      ASSERT_TRUE(WriteFileBytes(dir.File("other.d88"), BuildImage({PlainDisk(2, 2)})));
      results[which] = RunTool(dir, which == 0 ? c.before : c.after);
      for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir.Path())) {
        entries[which].insert(fs::relative(entry.path(), dir.Path()).generic_string());
      }
    }
    EXPECT_EQ(results[1].status, results[0].status);
    EXPECT_EQ(results[1].out, results[0].out);
    EXPECT_EQ(results[1].err, results[0].err);
    EXPECT_EQ(entries[1], entries[0]);
  }
}

// Paths that lead to no plain file are refused before anything is read from
// them, so that nothing waits on a FIFO or reads a device for ever; the run
// goes on with the other images.
TEST(CommandLineTest, PathsThatAreNoPlainFilesAreRefusedAtOnce) {
  SKIP_UNDER_LAUNCHER();
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({KnownDisk(5, 1)})));
  ASSERT_EQ(mkfifo(dir.File("ff").c_str(), 0600), 0);
  std::vector<std::string> paths = {"ff"};
  for (const char* device : {"/dev/zero", "/dev/null"}) {
    if (fs::exists(device)) {
      paths.emplace_back(device);
    }
  }
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    const ToolResult result = RunTool(dir, {path, kImage});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out,
              Reading(path) + Reading(kImage) + kRecognitionMessages[5] + "cutting ... PROG\n");
    std::string refused = kOpenFailedMessage;
    refused += "error: cannot open '" + path + "': not a regular file\n";
    EXPECT_EQ(result.err, refused);
  }
  EXPECT_EQ(EntriesIn(dir.Path()), (std::set<std::string>{kImage, "ff", "PROG"}));
}

// `-` is an image read from standard input: cut as the file it came from is,
// under the name "standard input".
TEST(CommandLineTest, DashReadsTheImageFromStandardInput) {
  const std::vector<DiskSpec> disks = {KnownDisk(3, 1), PlainDisk(2, 2)};
  ScratchDir fromFile;
  ASSERT_TRUE(WriteFileBytes(fromFile.File(kImage), BuildImage(disks)));
  const ToolResult file = RunTool(fromFile, {"-d", kImage});
  ScratchDir fromInput;
  RunOptions options;
  options.stdinFrom = fromFile.File(kImage);
  const ToolResult input = RunTool(fromInput, {"-d", "-"}, options);
  EXPECT_EQ(input.status, 0);
  EXPECT_EQ(input.status, file.status);
  EXPECT_EQ(input.out, file.out);
  EXPECT_EQ(input.err, file.err);
  EXPECT_EQ(EntriesIn(fromInput.Path()),
            std::set<std::string>{"standard input - ZEFA LOMRI 2 Disk B"});
  ExpectCuts(fromInput.File("standard input - ZEFA LOMRI 2 Disk B"), kTitle2DiskB, disks[0]);

  // Messages name it so.
  ASSERT_TRUE(
      WriteFileBytes(fromFile.File("twice.d88"), BuildImage({KnownDisk(3, 1), KnownDisk(3, 2)})));
  options.stdinFrom = fromFile.File("twice.d88");
  const ToolResult named = RunTool(fromInput, {"-q", "-n", "-"}, options);
  EXPECT_EQ(named.status, 2);
  EXPECT_NE(named.err.find("standard input)"), std::string::npos) << named.err;
}

// No image is typed in: `-` at a terminal is refused instead of waiting.
TEST(CommandLineTest, DashDoesNotReadATerminal) {
  SKIP_UNDER_LAUNCHER();
  ScratchDir dir;
  RunOptions options;
  options.terminalIn = true;
  const ToolResult result = RunTool(dir, {"-"}, options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "error: standard input: not read from a terminal; pipe an image in, or give its "
            "path\n");
  EXPECT_EQ(EntriesIn(dir.Path()), std::set<std::string>{});
}

// Standard input is held in memory, up to the cap an archive member has.
TEST(CommandLineTest, StandardInputOverTheCapIsNotRead) {
  ScratchDir dir;
  const std::string big = dir.File("big");
  {
    std::FILE* file = std::fopen(big.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
  }
  constexpr std::uintmax_t kCap = std::uintmax_t{64} << 20U;
  fs::resize_file(big, kCap + 1);  // sparse: no 64 MiB written
  RunOptions options;
  options.stdinFrom = big;
  ToolResult result = RunTool(dir, {"-n", "-"}, options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "error: standard input: not read: it holds more than any disk image (over 64 MiB)\n");
  // At the cap it is read.
  fs::resize_file(big, kCap);
  result = RunTool(dir, {"-n", "-"}, options);
  EXPECT_EQ(result.err.find("not read"), std::string::npos) << result.err;
  EXPECT_EQ(EntriesIn(dir.Path()), std::set<std::string>{"big"});
}

// A flux dump on standard input, or an archive, may be larger: it goes to a
// scratch file instead of memory. An SCP dump whose tracks lie past the first
// 64 MiB cuts from standard input as from its file, and so does its gzip
// file.
TEST(CommandLineTest, AFluxDumpOnStandardInputMayHoldMoreThanAnyImage) {
  ScratchDir dir;
  ScpOptions padded;
  padded.flux.revolutions = 1;
  padded.gap = (std::size_t{64} << 20U) + (std::size_t{1} << 20U);
  const DiskSpec disk = KnownDisk(3, 1, 14);
  const Bytes scp = BuildScp(disk, padded);
  ASSERT_TRUE(WriteFileBytes(dir.File("disk.scp"), scp));
  const ToolResult file = RunTool(dir, {"-n", "-q", "disk.scp"});
  EXPECT_EQ(file.status, 0);
  EXPECT_EQ(file.err, "");
  std::vector<std::string> given = {"disk.scp"};
#ifdef ZEFACUT_TEST_ARCHIVES
  ASSERT_TRUE(WriteFileBytes(dir.File("disk.scp.gz"),
                             BuildArchive(ArchiveKind::kGzip, {{"disk.scp", scp}})));
  given.emplace_back("disk.scp.gz");
#endif
  for (const std::string& name : given) {
    SCOPED_TRACE(name);
    RunOptions options;
    options.stdinFrom = dir.File(name);
    const ToolResult input = RunTool(dir, {"-n", "-q", "-"}, options);
    EXPECT_EQ(input.status, 0);
    EXPECT_EQ(input.err, "");
    std::string out = file.out;
    for (std::string::size_type at = out.find("disk.scp"); at != std::string::npos;
         at = out.find("disk.scp", at)) {
      out.replace(at, 8, "standard input");
    }
    // A compressed file's one file is named after it: here after the input.
    if (name != "disk.scp") {
      out.insert(0, "reading ... standard input/standard input\n");
    }
    EXPECT_EQ(input.out, out);
  }
}

// --- Dry run and quiet -------------------------------------------------------------------

TEST(CommandLineTest, DryRunListsWhatWouldBeWrittenAndWritesNothing) {
  ScratchDir dir;
  DiskSpec disk = KnownDisk(3, 1);
  RemoveSector(disk, 12, 7);
  ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({disk})));
  const ToolResult result = RunTool(dir, {"-n", "-d", "-o", "out", kImage});
  EXPECT_EQ(result.status, 2);
  const std::string folder = "out/image.d88 - ZEFA LOMRI 2 Disk B/";
  EXPECT_EQ(result.out, kRecognitionMessages[3] + "would write " + folder +
                            "FMBGM: 41279 bytes from sector 2 1 3 3 of track 5\n"
                            "would write " +
                            folder +
                            "FMSE: 1551 bytes from sector 6 0 5 3 of track 12\n"
                            "would write " +
                            folder +
                            "BEEPBGM: 18610 bytes from sector 5 0 3 3 of track 10\n"
                            "would write " +
                            folder + "BEEPSE: 1196 bytes from sector 6 0 8 3 of track 12\n");
  EXPECT_EQ(result.err, "warning: FMSE: only 1551 of 3124 bytes could be read\n");
  EXPECT_EQ(EntriesIn(dir.Path()), std::set<std::string>{kImage});
}

TEST(CommandLineTest, QuietLeavesOutProgressButNotWarnings) {
  ScratchDir dir;
  DiskSpec disk = KnownDisk(3, 1);
  RemoveSector(disk, 12, 7);
  ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({disk, PlainDisk(2, 2)})));
  const ToolResult result = RunTool(dir, {"-q", kImage});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, kRecognitionMessages[3]);
  EXPECT_EQ(result.err,
            "warning: FMSE: only 1551 of 3124 bytes could be read\n" + kUnsupportedMessage);
  EXPECT_EQ(EntriesIn(dir.Path()), Names(kTitle2DiskB, {kImage}));
}

// --- Encodings and the terminal --------------------------------------------------------

TEST(CommandLineTest, EncodingOptionChoosesTheBytesOfTheJapaneseLines) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({KnownDisk(3, 1), PlainDisk(2, 2)})));
  ToolResult result = RunTool(dir, {"--encoding=utf-8", "-q", kImage});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kTitle2DiskBUtf8);
  EXPECT_EQ(result.err, kUnsupportedUtf8);
  for (const char* encoding : {"--encoding=sjis", "--encoding=auto"}) {
    result = RunTool(dir, {encoding, "-q", kImage});
    EXPECT_EQ(result.out, kRecognitionMessages[3]) << encoding;
    EXPECT_EQ(result.err, kUnsupportedMessage) << encoding;
  }
  // The names people write, in any case, with or without hyphens.
  const struct {
    const char* value;
    bool utf8;
  } kNames[] = {{"UTF8", true},      {"Utf_8", true},      {"utf-8", true},  {"SHIFT_JIS", false},
                {"shiftjis", false}, {"Shift-JIS", false}, {"CP932", false}, {"AUTO", false}};
  for (const auto& name : kNames) {
    result = RunTool(dir, {"-q", "--encoding", name.value, kImage});
    EXPECT_EQ(result.status, 0) << name.value << result.err;
    EXPECT_EQ(result.out, name.utf8 ? kTitle2DiskBUtf8 : kRecognitionMessages[3]) << name.value;
  }
  result = RunTool(dir, {"--encoding=utf-16", kImage});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err.rfind("error: unknown encoding 'utf-16'; use auto, sjis or utf-8\n", 0), 0U);
  result = RunTool(dir, {"-q", "missing.d88", "--encoding=utf-8"});
  EXPECT_EQ(result.status, 1);
}

// A terminal whose locale is UTF-8 gets UTF-8; any other terminal, and files,
// Shift-JIS. A person at a terminal also sees where the files went.
TEST(CommandLineTest, TerminalGetsItsEncodingAndTheSummary) {
  SKIP_UNDER_LAUNCHER();
  const struct {
    const char* locale;
    bool utf8;
  } kCases[] = {{"C.UTF-8", true}, {"ja_JP.utf8", true}, {"C", false}, {"ja_JP.SJIS", false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.locale);
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({KnownDisk(3, 1), PlainDisk(2, 2)})));
    RunOptions options;
    options.locale = c.locale;
    options.terminalOut = true;
    options.terminalErr = true;
    const ToolResult result = RunTool(dir, {kImage}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.terminal, (c.utf8 ? kTitle2DiskBUtf8 : kRecognitionMessages[3]) +
                                   ProgressLines(kTitle2DiskB) +
                                   (c.utf8 ? kUnsupportedUtf8 : kUnsupportedMessage) +
                                   "4 files written into '.'; no warnings\n");
  }
  // Output to a file, errors to a terminal: each stream by where it goes.
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({KnownDisk(3, 1), PlainDisk(2, 2)})));
  RunOptions options;
  options.locale = "C.UTF-8";
  options.terminalErr = true;
  const ToolResult result = RunTool(dir, {"-o", "out", kImage}, options);
  EXPECT_EQ(result.out, kRecognitionMessages[3] + ProgressLines(kTitle2DiskB));
  EXPECT_EQ(result.terminal, kUnsupportedUtf8 + "4 files written into 'out'; no warnings\n");
  // Quiet: no summary.
  const ToolResult quiet = RunTool(dir, {"-q", "-o", "out", kImage}, options);
  EXPECT_EQ(quiet.terminal, kUnsupportedUtf8);
}

// The summary counts the files there are after the run, each once however
// often the run replaced it, and says so when there is none.
TEST(CommandLineTest, SummaryCountsTheFilesThereAre) {
  SKIP_UNDER_LAUNCHER();
  const struct {
    const char* what;
    std::vector<std::string> args;
    // Folders that stand where these files would go; a read-only FMSE.
    std::vector<std::string> blocked;
    bool readOnlyFmse;
    std::string summary;
  } cases[] = {
      {"files replaced in the run",
       {"twice.d88"},
       {},
       false,
       "4 files written into '.'; 4 warnings"},
      {"each disk apart",
       {"-d", "-o", "out", "twice.d88"},
       {},
       false,
       "8 files written in folders under 'out'; no warnings"},
      {"a dry run",
       {"-n", "twice.d88"},
       {},
       false,
       "4 files would be written into '.'; 4 warnings"},
      {"a dry run of nothing",
       {"-n", "other.d88"},
       {},
       false,
       "nothing would be written; no warnings"},
      {"an unsupported disk", {"other.d88"}, {}, false, "nothing written; no warnings"},
      {"every write refused",
       {kImage},
       {"FMBGM", "FMSE", "BEEPBGM", "BEEPSE"},
       false,
       "nothing written; 4 errors"},
      {"a read-only file kept",
       {"twice.d88"},
       {},
       true,
       "3 files written into '.'; 2 errors, 3 warnings"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({KnownDisk(3, 1)})));
    ASSERT_TRUE(
        WriteFileBytes(dir.File("twice.d88"), BuildImage({KnownDisk(3, 1), KnownDisk(3, 2)})));
    ASSERT_TRUE(WriteFileBytes(dir.File("other.d88"), BuildImage({PlainDisk(4, 3)})));
    for (const std::string& name : c.blocked) {
      ASSERT_TRUE(fs::create_directory(dir.File(name)));
    }
    if (c.readOnlyFmse) {
      ASSERT_TRUE(WriteFileBytes(dir.File("FMSE"), Bytes(10, 7)));
      fs::permissions(dir.File("FMSE"),
                      fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    RunOptions options;
    options.locale = "C.UTF-8";
    options.terminalErr = true;
    const ToolResult result = RunTool(dir, c.args, options);
    const std::string want = c.summary + "\n";
    ASSERT_GE(result.terminal.size(), want.size()) << result.terminal;
    EXPECT_EQ(result.terminal.substr(result.terminal.size() - want.size()), want)
        << result.terminal;
  }
}

}  // namespace

namespace {

// Paths are taken whole whatever characters they hold: on Windows through
// the Unicode interface, so that a Japanese name opens under any code page.
TEST(CommandLineTest, JapaneseNamesOfImagesAndFolders) {
  ScratchDir dir;
  const std::string image = "\xE3\x82\xBC\xE3\x83\x95\xE3\x82\xA1 2.d88";  // "ゼファ 2.d88"
  const std::string folder = "\xE5\x87\xBA\xE5\x8A\x9B";                   // "出力"
  const DiskSpec disk = KnownDisk(2, 9);
  ASSERT_TRUE(WriteFileBytes(dir.File(image), BuildImage({disk})));
  const ToolResult result = RunTool(dir, {"-o", folder, image});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kRecognitionMessages[2] + "cutting ... PROG\n");
  EXPECT_EQ(result.err, "");
  ExpectCuts(dir.File(folder), kDiskA, disk);
  EXPECT_EQ(EntriesIn(dir.Path()), (std::set<std::string>{image, folder}));
}

// Paths reach each stream in its form: in Shift-JIS a character it cannot
// hold as \u00e9, a Japanese name as its Shift-JIS bytes; control characters
// and bytes that are no UTF-8 escaped in every form, never raw.
TEST(CommandLineTest, PathsAreShownInEachStreamsForm) {
  ScratchDir dir;
  const std::string cafe = "caf\xC3\xA9.d88";                           // "café.d88"
  const std::string zefa = "\xE3\x82\xBC\xE3\x83\x95\xE3\x82\xA1.d88";  // "ゼファ.d88"
  const std::string zefaShiftJis = "\x83\x5B\x83\x74\x83\x40.d88";
  ASSERT_TRUE(WriteFileBytes(dir.File(cafe), BuildImage({PlainDisk(2, 1)})));
  ASSERT_TRUE(WriteFileBytes(dir.File(zefa), BuildImage({PlainDisk(2, 2)})));
  const std::string noSuchFile = "': No such file or directory\n";
  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string err;
  };
  std::vector<Case> cases = {
      {{cafe, zefa},
       "reading ... caf\\u00e9.d88\nreading ... " + zefaShiftJis + "\n",
       kUnsupportedMessage + kUnsupportedMessage},
      {{"--encoding=utf-8", cafe, zefa},
       "reading ... " + cafe + "\nreading ... " + zefa + "\n",
       kUnsupportedUtf8 + kUnsupportedUtf8},
      {{"gone\x1b[2J\n.d88"},
       "",
       kOpenFailedMessage + "error: cannot open 'gone\\x1b[2J\\x0a.d88" + noSuchFile},
      {{cafe, "out\x1b]0;x\a"},
       "",
       "warning: argument 'out\\x1b]0;x\\x07' ignored; to choose the output folder use -o DIR\n" +
           kUnsupportedMessage},
  };
  if (!UnderLauncher()) {
    // Bytes that are no UTF-8 reach a Linux program as they are.
    cases.push_back({{"\xFF\xFE.d88"},
                     "",
                     kOpenFailedMessage + "error: cannot open '\\xff\\xfe.d88" + noSuchFile});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ToolResult result = RunTool(dir, c.args);
    EXPECT_EQ(result.out, c.out);
    const std::string::size_type reason = c.err.find(noSuchFile);
    if (UnderLauncher() && reason != std::string::npos) {
      // The system's reason is in its own words there (a name with control
      // characters is no valid Windows name at all).
      EXPECT_EQ(result.err.rfind(c.err.substr(0, reason), 0), 0U) << result.err;
    } else {
      EXPECT_EQ(result.err, c.err);
    }
  }
}

}  // namespace

namespace {

// An image already cut in the run is kept from being written over as much as
// the one being read.
TEST(CommandLineTest, NoImageOfTheRunIsWrittenOver) {
  ScratchDir dir;
  const Bytes first = BuildImage({KnownDisk(2, 1)});
  ASSERT_TRUE(WriteFileBytes(dir.File("PROG"), first));
  ASSERT_TRUE(WriteFileBytes(dir.File("b.d88"), BuildImage({KnownDisk(5, 2)})));
  const ToolResult result = RunTool(dir, {"PROG", "b.d88"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "reading ... PROG\n" + kRecognitionMessages[2] + "cutting ... PROG\n" +
                            "reading ... b.d88\n" + kRecognitionMessages[5] + "cutting ... PROG\n");
  EXPECT_EQ(result.err,
            "error: cannot write 'PROG': it is the image being read\n"
            "error: cannot write 'PROG': it is the image being read\n");
  EXPECT_TRUE(FileHolds(dir.File("PROG"), first));
  EXPECT_EQ(EntriesIn(dir.Path()), (std::set<std::string>{"PROG", "b.d88"}));
}

}  // namespace

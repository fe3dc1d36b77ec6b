// Folder trees read with -r, and runs on several threads: what is printed,
// what is written and the status of each tree, the same bytes on one thread
// and on two.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/run_tool.h"
#include "testkit/expected_cuts.h"
#include "testkit/image_builder.h"
#include "testkit/kryoflux_writer.h"
#ifdef ZEFACUT_TEST_ARCHIVES
#include "support/archive_writer.h"
#endif

namespace fs = std::filesystem;

namespace {

std::string Reading(const std::string& path) { return "reading ... " + path + "\n"; }

// The lines of a disk that holds PROG alone (title 2 or 3, Disk A).
std::string Prog(int kind) { return kRecognitionMessages[kind] + "cutting ... PROG\n"; }

std::string CannotOpen(const std::string& path, const std::string& reason) {
  return kOpenFailedMessage + "error: cannot open '" + path + "': " + reason + "\n";
}

// Every regular file under `root`, relative to the scratch folder.
std::set<std::string> FilesUnder(const ScratchDir& dir, const std::string& root) {
  std::set<std::string> files;
  if (!fs::is_directory(dir.File(root))) {
    return files;
  }
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir.File(root))) {
    if (entry.is_regular_file()) {
      files.insert(fs::relative(entry.path(), dir.Path()).generic_string());
    }
  }
  return files;
}

void Put(const ScratchDir& dir, const std::string& path, const Bytes& bytes) {
  fs::create_directories(fs::path(dir.File(path)).parent_path());
  ASSERT_TRUE(WriteFileBytes(dir.File(path), bytes));
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

struct TreeCase {
  const char* what;
  std::function<void(const ScratchDir&)> make;
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string err;
  std::set<std::string> written;
  bool needsArchives = false;
  bool needsNonRoot = false;
};

std::vector<TreeCase> TreeCases() {
  const std::string disk3a = " - ZEFA LOMRI 3 Disk A/PROG";
  const std::string disk2a = " - ZEFA LOMRI 2 Disk A/PROG";
  std::vector<TreeCase> cases;
  cases.push_back(
      {"nested folders in name order, depth first; files that are no images passed over",
       [](const ScratchDir& dir) {
         Put(dir, "tree/b.d88", BuildImage({KnownDisk(5, 1)}));
         Put(dir, "tree/a/z.d88", BuildImage({KnownDisk(2, 2)}));
         Put(dir, "tree/a/sub/y.d88", BuildImage({KnownDisk(5, 3)}));
         Put(dir, "tree/a/sub/cover.jpg", Text("\xFF\xD8\xFF\xE0 not a disk"));
         Put(dir, "tree/c.txt", Text("notes\n"));
         fs::create_directories(dir.File("tree/empty"));
       },
       {"-r", "tree", "-o", "out"},
       0,
       Reading("tree/a/sub/y.d88") + Prog(5) + Reading("tree/a/z.d88") + Prog(2) +
           Reading("tree/b.d88") + Prog(5),
       "",
       {"out/a/sub/y.d88" + disk3a, "out/a/z.d88" + disk2a, "out/b.d88" + disk3a}});
  cases.push_back({"a file named as an image that no format reads keeps its warning",
                   [](const ScratchDir& dir) {
                     Put(dir, "tree/broken.d88", Text("xx"));
                     Put(dir, "tree/notes.txt", Text("xx"));
                   },
                   {"-r", "tree", "-o", "out"},
                   2,
                   Reading("tree/broken.d88"),
                   "warning: tree/broken.d88: no image format recognised (2 bytes); read as D88\n"
                   "warning: tree/broken.d88: no disk found\n",
                   {}});
  cases.push_back(
      {"a folder of KryoFlux stream files is one dump",
       [](const ScratchDir& dir) {
         KryoFluxTrackSpec flux;
         flux.intervals.assign(100, 48);
         Put(dir, "tree/dump/track00.0.raw", KryoFluxStream(flux));
         Put(dir, "tree/x.d88", BuildImage({KnownDisk(5, 4)}));
       },
       {"-r", "tree", "-o", "out"},
       2,
       Reading("tree/dump") + Reading("tree/x.d88") + Prog(5),
       "warning: tree/dump: track 0 of the flux dump: no sector could be decoded (no MFM found, no "
       "index pulse)\n" +
           kUnsupportedMessage,
       {"out/x.d88" + disk3a}});
  cases.push_back({"links to files are read, links to folders and loops are not followed",
                   [](const ScratchDir& dir) {
                     Put(dir, "tree/real/x.d88", BuildImage({KnownDisk(5, 5)}));
                     fs::create_symlink("real/x.d88", dir.File("tree/alias.d88"));
                     fs::create_directory_symlink("..", dir.File("tree/real/up"));
                     fs::create_directory_symlink("real", dir.File("tree/same"));
                     fs::create_symlink("loop", dir.File("tree/loop"));
                   },
                   {"-r", "tree", "-o", "out"},
                   1,
                   Reading("tree/alias.d88") + Prog(5) + Reading("tree/loop") +
                       Reading("tree/real/x.d88") + Prog(5),
                   CannotOpen("tree/loop", "Too many levels of symbolic links"),
                   {"out/alias.d88" + disk3a, "out/real/x.d88" + disk3a}});
  cases.push_back(
      {"a file and a folder that cannot be read are told; the walk goes on",
       [](const ScratchDir& dir) {
         Put(dir, "tree/a.d88", Text("locked"));
         chmod(dir.File("tree/a.d88").c_str(), 0);
         Put(dir, "tree/b/x.d88", BuildImage({KnownDisk(5, 6)}));
         chmod(dir.File("tree/b").c_str(), 0);
         Put(dir, "tree/c.d88", BuildImage({KnownDisk(2, 7)}));
       },
       {"-r", "tree", "-o", "out"},
       1,
       Reading("tree/a.d88") + Reading("tree/c.d88") + Prog(2),
       CannotOpen("tree/a.d88", "Permission denied") + CannotOpen("tree/b", "Permission denied"),
       {"out/c.d88" + disk2a},
       false,
       true});
  cases.push_back({"two walks that mirror onto the same folders keep each disk apart",
                   [](const ScratchDir& dir) {
                     Put(dir, "one/x.d88", BuildImage({KnownDisk(5, 8)}));
                     Put(dir, "two/x.d88", BuildImage({KnownDisk(5, 9)}));
                   },
                   {"-r", "one", "two", "-o", "out"},
                   0,
                   Reading("one/x.d88") + Prog(5) + Reading("two/x.d88") + Prog(5),
                   "",
                   {"out/x.d88" + disk3a, "out/x.d88 - ZEFA LOMRI 3 Disk A (2)/PROG"}});
  cases.push_back(
      {"files replaced within the run are told as on one thread",
       [](const ScratchDir& dir) {
         Put(dir, "a.d88", BuildImage({KnownDisk(5, 10)}));
         Put(dir, "b.d88", BuildImage({KnownDisk(2, 11)}));
         Put(dir, "c.d88", BuildImage({KnownDisk(5, 12)}));
       },
       {"a.d88", "b.d88", "c.d88", "-o", "out"},
       2,
       Reading("a.d88") + Prog(5) + Reading("b.d88") + Prog(2) + Reading("c.d88") + Prog(5),
       "warning: PROG: replaces the file cut from ZEFA LOMRI 3 Disk A (disk 1 of 1 in "
       "a.d88) earlier in this run; use -d to keep each disk's files apart\n"
       "warning: PROG: replaces the file cut from ZEFA LOMRI 2 Disk A (disk 1 of 1 in "
       "b.d88) earlier in this run; use -d to keep each disk's files apart\n",
       {"out/PROG"}});
  cases.push_back(
      {"a folder that cannot be made is told once",
       [](const ScratchDir& dir) {
         Put(dir, "a.d88", BuildImage({KnownDisk(5, 13)}));
         Put(dir, "b.d88", BuildImage({KnownDisk(2, 14)}));
         Put(dir, "out", Text("a file"));
       },
       {"a.d88", "b.d88", "-o", "out/sub"},
       1,
       Reading("a.d88") + kRecognitionMessages[5] + Reading("b.d88") + kRecognitionMessages[2],
       "error: cannot create 'out/sub/': Not a directory\n",
       {}});
#ifdef ZEFACUT_TEST_ARCHIVES
  cases.push_back(
      {"an archive's disks go into a folder named after it",
       [](const ScratchDir& dir) {
         Put(dir, "tree/pc98/game.zip",
             BuildArchive(ArchiveKind::kZip, {{"disks/disk2.d88", BuildImage({KnownDisk(5, 15)})},
                                              {"readme.txt", Text("hello")}}));
       },
       {"-r", "tree", "-o", "out"},
       0,
       Reading("tree/pc98/game.zip") + Reading("tree/pc98/game.zip/disks/disk2.d88") + Prog(5),
       "",
       {"out/pc98/game.zip/disk2.d88" + disk3a},
       true});
#endif
  return cases;
}

// Each tree on one thread and on two: the same lines, files and status.
TEST(CollectionTest, TreesGiveTheSameOnAnyNumberOfThreads) {
  for (const TreeCase& c : TreeCases()) {
    SCOPED_TRACE(c.what);
    if (c.needsNonRoot && geteuid() == 0) {
      continue;  // root reads what the modes forbid
    }
    if (c.needsNonRoot && UnderLauncher()) {
      continue;
    }
    for (const char* jobs : {"1", "2"}) {
      SCOPED_TRACE(std::string("-j ") + jobs);
      ScratchDir dir;
      c.make(dir);
      std::vector<std::string> args = c.args;
      args.insert(args.end(), {"-j", jobs});
      const ToolResult result = RunTool(dir, args);
      EXPECT_EQ(result.status, c.status);
      EXPECT_EQ(result.out, c.out);
      EXPECT_EQ(result.err, c.err);
      EXPECT_EQ(FilesUnder(dir, "out"), c.written);
      // Modes back, so that the scratch folder can go.
      for (const char* path : {"tree/a.d88", "tree/b"}) {
        chmod(dir.File(path).c_str(), 0700);
      }
    }
  }
}

// Many inputs, more than the threads run ahead: the order holds.
TEST(CollectionTest, ManyInputsKeepTheirOrder) {
  ScratchDir dir;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "tree/" + std::string(1, static_cast<char>('a' + i % 26)) +
                             std::to_string(i) + (i % 3 == 0 ? ".txt" : ".d88");
    if (i % 3 == 0) {
      Put(dir, name, Text("not an image " + std::to_string(i)));
    } else {
      Put(dir, name, BuildImage({i % 2 == 0 ? KnownDisk(5, i) : PlainDisk(2, i)}));
    }
  }
  const ToolResult one = RunTool(dir, {"-r", "-n", "tree", "-j", "1"});
  const ToolResult four = RunTool(dir, {"-r", "-n", "tree", "-j", "4"});
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(four.status, one.status);
  EXPECT_EQ(four.out, one.out);
  EXPECT_EQ(four.err, one.err);
  EXPECT_NE(one.out.find("would write a26.d88 - ZEFA LOMRI 3 Disk A/PROG"), std::string::npos)
      << one.out;
}

// A folder without -r is no input, and says how to read it; a folder of
// KryoFlux stream files is still one.
TEST(CollectionTest, AFolderWithoutRecursionIsRefused) {
  ScratchDir dir;
  Put(dir, "tree/x.d88", BuildImage({KnownDisk(5, 1)}));
  const ToolResult result = RunTool(dir, {"tree"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, kOpenFailedMessage +
                            "error: cannot open 'tree': Is a directory; use -r to read every image "
                            "under it\n");
  EXPECT_EQ(EntriesIn(dir.Path()), std::set<std::string>{"tree"});
}

// The summary a person at a terminal sees counts what the walk found.
TEST(CollectionTest, TheSummaryCountsTheFilesRead) {
  ScratchDir dir;
  Put(dir, "tree/a.d88", BuildImage({KnownDisk(5, 1), KnownDisk(2, 2)}));
  Put(dir, "tree/b.d88", BuildImage({PlainDisk(2, 3)}));
  Put(dir, "tree/c.txt", Text("notes"));
  RunOptions options;
  options.locale = "C.UTF-8";
  options.terminalErr = true;
  const ToolResult result = RunTool(dir, {"-r", "tree", "-o", "out"}, options);
  EXPECT_EQ(result.status, 0);
  const std::string want =
      "3 files read: 2 images, 2 known disks; 1 other file passed over; 2 files written in "
      "folders under 'out'; no warnings\n";
  ASSERT_GE(result.terminal.size(), want.size()) << result.terminal;
  EXPECT_EQ(result.terminal.substr(result.terminal.size() - want.size()), want);
}

// The progress line is for a terminal: never in a file or a pipe, and never
// with -q.
TEST(CollectionTest, NoProgressIntoFilesOrPipes) {
  ScratchDir dir;
  for (int i = 0; i < 30; ++i) {
    Put(dir, "tree/" + std::to_string(i) + ".d88", BuildImage({PlainDisk(2, i)}));
  }
  const ToolResult piped = RunTool(dir, {"-r", "-n", "tree"});
  EXPECT_EQ(piped.out.find('\r'), std::string::npos);
  EXPECT_EQ(piped.err.find('\r'), std::string::npos);
  RunOptions options;
  options.terminalErr = true;
  const ToolResult quiet = RunTool(dir, {"-r", "-n", "-q", "tree"}, options);
  EXPECT_EQ(quiet.terminal.find('\r'), std::string::npos);
}

}  // namespace

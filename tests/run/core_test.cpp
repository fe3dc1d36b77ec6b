// The seams of the core, called in-process: the known-disk table held to the
// lists written out apart from it, runs of sectors over the model, and whole
// runs over images in memory (CutRun over an output that keeps its lines and
// files), one after another in one process.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "flux/kryoflux_image.h"
#include "input/byte_source.h"
#include "input/open_image.h"
#include "known/known_disks.h"
#include "known/sector_run.h"
#include "platform/text_form.h"
#include "run/cut_run.h"
#include "run/memory_output.h"
#ifdef ZEFACUT_TEST_ARCHIVES
#include "support/archive_writer.h"
#endif
#include "testkit/expected_cuts.h"
#include "testkit/flux_writers.h"
#include "testkit/image_builder.h"
#include "testkit/kryoflux_writer.h"
#include "testkit/tool_messages.h"

namespace fs = std::filesystem;

namespace {

// --- Text in each stream's form ------------------------------------------------

// What each form holds as it is, and the escapes for the rest: in Shift-JIS
// the bytes Windows writes, a character it lacks as \uXXXX; in every form
// controls and stray bytes escaped, line feeds kept.
TEST(TextFormTest, EachFormHoldsWhatItCanAndEscapesTheRest) {
  const struct {
    std::string utf8;
    std::string shiftJis;
    std::string inUtf8;  // TextInForm(utf8, Utf8)
  } cases[] = {
      {kUnsupportedMessageUtf8, kUnsupportedMessage, kUnsupportedMessageUtf8},
      {"a\\b~\n", "a\\b~\n", "a\\b~\n"},
      {"\xEF\xBD\xB1", "\xB1", "\xEF\xBD\xB1"},      // half-width katakana A
      {"\xE2\x89\x92", "\x81\xE0", "\xE2\x89\x92"},  // U+2252, also at 0x8790
      {"\xE2\x85\xB0", "\xFA\x40", "\xE2\x85\xB0"},  // U+2170, also at 0xEEEF
      {"\xEF\xBF\xA2", "\x81\xCA", "\xEF\xBF\xA2"},  // U+FFE2, also at 0xEEF9, 0xFA54
      {"caf\xC3\xA9", "caf\\u00e9", "caf\xC3\xA9"},
      {"\xC2\xA5", "\\u00a5", "\xC2\xA5"},  // the yen sign: 0x5C is the backslash
      {"\xF0\x9F\x98\x80", "\\U0001f600", "\xF0\x9F\x98\x80"},
      {"\x1b[31m\a\r\t", "\\x1b[31m\\x07\\x0d\\x09", "\\x1b[31m\\x07\\x0d\\x09"},
      {"\x7f\xC2\x9B", "\\x7f\\u009b", "\\x7f\\u009b"},  // DEL, the C1 CSI
      {"\xE2\x80\xAE"
       "abc",
       "\\u202eabc", "\\u202eabc"},
      {"\xFF\xC3", "\\xff\\xc3", "\\xff\\xc3"},  // no UTF-8, cut short
      {"\xC0\xAF\xED\xA0\x80", "\\xc0\\xaf\\xed\\xa0\\x80", "\\xc0\\xaf\\xed\\xa0\\x80"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.utf8));
    EXPECT_EQ(TextInForm(c.utf8, TextForm::ShiftJis), c.shiftJis);
    EXPECT_EQ(TextInForm(c.utf8, TextForm::Utf8), c.inUtf8);
    EXPECT_EQ(TextInForm(c.utf8, TextForm::Console), c.inUtf8);
  }
}

// A name keeps its characters; its line feed is escaped too, so that it
// cannot start a line of its own. A disk name is read as Shift-JIS.
TEST(TextFormTest, NamesAreShownWithTheirControlsEscaped) {
  const struct {
    std::string name;
    std::string shown;
  } names[] = {
      {"ok \xE3\x82\xBC", "ok \xE3\x82\xBC"},
      {"a\nb\x1b", "a\\x0ab\\x1b"},
      {"\xC2\x85\xE2\x80\xA8", "\\u0085\\u2028"},
      {"\xFF", "\\xff"},
  };
  for (const auto& c : names) {
    EXPECT_EQ(ShownName(c.name), c.shown) << ::testing::PrintToString(c.name);
  }
  const struct {
    std::string bytes;
    std::string shown;
  } diskNames[] = {
      {"\x95\x5C", "\xE8\xA1\xA8"},  // a backslash as a second byte: U+8868
      {"\xB1\x83\x5B", "\xEF\xBD\xB1\xE3\x82\xBC"},
      {"\x80\xA0\xFD", "\\x80\\xa0\\xfd"},
      {"A\x81", "A\\x81"},     // a first byte at the end
      {"\x81 ", "\\x81 "},     // a first byte before no second
      {"\xF0\x40", "\\xf0@"},  // the user-defined area stands for nothing
      {"\x1b\n", "\\x1b\\x0a"},
  };
  for (const auto& c : diskNames) {
    EXPECT_EQ(ShownShiftJisName(c.bytes), c.shown) << ::testing::PrintToString(c.bytes);
  }
}

// Every double-byte character read from Shift-JIS is written back as the
// same bytes, or (for the few held twice) as bytes read as the same
// character.
TEST(TextFormTest, ShiftJisCharactersComeBackAsTheyWere) {
  int characters = 0;
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead == 0xA0) {
      lead = 0xE0;  // past the single bytes of half-width katakana
    }
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      const std::string cell = {static_cast<char>(lead), static_cast<char>(trail)};
      const std::string utf8 = ShownShiftJisName(cell);
      if (utf8.find('\\') != std::string::npos) {
        continue;  // no character there
      }
      ++characters;
      const std::string back = TextInForm(utf8, TextForm::ShiftJis);
      ASSERT_EQ(ShownShiftJisName(back), utf8) << std::hex << lead << trail;
      const bool heldTwice = lead == 0x87 || lead == 0xED || lead == 0xEE || lead >= 0xFA;
      if (!heldTwice) {
        ASSERT_EQ(back, cell) << std::hex << lead << trail;
      }
    }
  }
  // JIS X 0208 with the NEC and IBM extensions, as Windows has them.
  EXPECT_EQ(characters, 7724);
}

// --- The known-disk table ----------------------------------------------------

TEST(KnownDiskTableTest, HoldsEachDisksMessageAndFilesInWritingOrder) {
  ASSERT_EQ(std::size(kKnownDisks), std::size(kKinds));
  for (std::size_t row = 0; row < std::size(kKnownDisks); ++row) {
    const KnownDiskRow& known = kKnownDisks[row];
    const ExpectedDisk& expected = kKinds[row];
    SCOPED_TRACE(expected.kind);
    EXPECT_EQ(known.kind, static_cast<DiskKind>(row));
    EXPECT_EQ(FindKnownDisk(known.kind), &known);
    EXPECT_STREQ(known.title, expected.title);
    EXPECT_STREQ(known.disk, expected.disk);
    ASSERT_EQ(known.cutCount, expected.cuts.size());
    for (std::size_t i = 0; i < known.cutCount; ++i) {
      const Cut& cut = known.cuts[i];
      const ExpectedCut& want = expected.cuts[i];
      SCOPED_TRACE(want.name);
      EXPECT_STREQ(cut.name.data(), want.name);
      EXPECT_EQ(cut.track, want.track);
      EXPECT_EQ(cut.r, want.r);
      EXPECT_EQ(cut.offset, want.offset);
      EXPECT_EQ(cut.length, want.length);
      const SectorAddress start = RunStart(cut);
      EXPECT_EQ(start.track, want.track);
      EXPECT_EQ(start.id, (SectorId{static_cast<std::uint8_t>(want.track / 2),
                                    static_cast<std::uint8_t>(want.track % 2),
                                    static_cast<std::uint8_t>(want.r), 3}));
    }
  }
  EXPECT_EQ(FindKnownDisk(DiskKind::Unsupported), nullptr);
}

TEST(KnownDiskTableTest, SignaturesAreTheOnesTheDisksCarry) {
  for (std::size_t row = 0; row < std::size(kKnownDisks); ++row) {
    const Signature& signature = kKnownDisks[row].signature;
    const KnownSignature& expected = kKnownSignatures[row];
    SCOPED_TRACE(expected.kind);
    EXPECT_EQ(std::string(signature.text, static_cast<std::size_t>(signature.length)),
              expected.text);
    const SectorAddress where =
        expected.inBootSector ? SectorAddress{0, {0, 0, 1, 3}} : SectorAddress{1, {0, 1, 5, 3}};
    EXPECT_EQ(signature.sector.track, where.track);
    EXPECT_EQ(signature.sector.id, where.id);
    EXPECT_EQ(signature.offset, expected.inBootSector ? 2 : 0);
  }
}

// --- Runs of sectors -----------------------------------------------------------

class SectorRunTest : public testing::Test {
 protected:
  DiskImage& Open(const DiskSpec& disk) {
    image_ = OpenImage(MemorySource(BuildDisk(disk))).image;
    EXPECT_NE(image_, nullptr);
    return *image_;
  }

 private:
  std::unique_ptr<DiskImage> image_;
};

TEST_F(SectorRunTest, StepsThroughSectorsHeadsAndCylindersByTheIds) {
  DiskSpec disk = PlainDisk(4, 1);
  DiskImage& image = Open(disk);
  // From track 1 (C0 H1) sector 7: sectors 7, 8, then track 2 (C1 H0).
  const SectorRun run = ReadRun(image, 0, {1, {0, 1, 7, 3}}, 2 * 1024 + 100);
  const Bytes linear = LinearBytes(disk, 4);
  const auto from = linear.begin() + (8192 + 6144);
  EXPECT_EQ(Bytes(run.bytes.begin(), run.bytes.end()), Bytes(from, from + 2148));
  ASSERT_EQ(run.sectors.size(), 3U);
  EXPECT_EQ(run.sectors[2].at.track, 2);
  EXPECT_EQ(run.sectors[2].at.id, (SectorId{1, 0, 1, 3}));
}

TEST_F(SectorRunTest, StopsWhereNoSectorCanFollow) {
  DiskSpec disk;
  SectorSpec last;
  last.c = 255;
  last.h = 1;
  last.r = 8;
  last.data = PatternSector(2, 0, 8);
  SectorSpec high = last;
  high.h = 0;
  high.r = 255;
  disk.tracks[0].sectors = {last, high};
  // What a wrap to C0 or R0 would find, were it taken.
  for (int r = 0; r <= 1; ++r) {
    SectorSpec wrapped;
    wrapped.r = static_cast<std::uint8_t>(r);
    wrapped.data = PatternSector(3, 1, r);
    disk.tracks[1].sectors.push_back(wrapped);
    disk.tracks[0].sectors.push_back(wrapped);
  }
  DiskImage& image = Open(disk);
  EXPECT_EQ(ReadRun(image, 0, {0, {255, 1, 8, 3}}, 4096).bytes.size(), 1024U);
  EXPECT_EQ(ReadRun(image, 0, {0, {255, 0, 255, 3}}, 4096).bytes.size(), 1024U);
  EXPECT_TRUE(ReadRun(image, 0, {0, {0, 0, 1, 9}}, 4096).bytes.empty());
  EXPECT_TRUE(ReadRun(image, 0, {0, {0, 0, 1, 3}}, 0).bytes.empty());
}

// --- Whole runs in memory ------------------------------------------------------

// Everything a run gives: its status, both streams, the folders it made and
// the files it wrote, by path in the order first written.
struct RunOutcome {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<std::string> folders;
  std::vector<std::pair<std::string, Bytes>> files;

  bool operator==(const RunOutcome& other) const {
    return status == other.status && out == other.out && err == other.err &&
           folders == other.folders && files == other.files;
  }
};

// A run that made no folder and wrote no file.
RunOutcome LinesOnly(int status, const std::string& out, const std::string& err) {
  RunOutcome outcome;
  outcome.status = status;
  outcome.out = out;
  outcome.err = err;
  return outcome;
}

void PrintTo(const RunOutcome& outcome, std::ostream* os) {
  *os << "status " << outcome.status << "\nout:\n"
      << outcome.out << "err:\n"
      << outcome.err << "folders:";
  for (const std::string& folder : outcome.folders) {
    *os << " [" << folder << "]";
  }
  *os << "\nfiles:";
  for (const auto& [path, bytes] : outcome.files) {
    *os << " [" << path << "] " << bytes.size();
  }
}

// Lines and files in memory, as MemoryOutput keeps them; the file or folder
// at `refused` is refused as a system refuses one.
class TestOutput : public MemoryOutput {
 public:
  TestOutput(TextForm encoding, std::string refused)
      : MemoryOutput(encoding), refused_(std::move(refused)) {}

  std::string MakeFolder(const std::string& folder) override {
    return folder == refused_ ? "Permission denied" : MemoryOutput::MakeFolder(folder);
  }

  std::string WriteFile(const std::string& path, const unsigned char* data,
                        std::size_t size) override {
    return path == refused_ ? "Is a directory" : MemoryOutput::WriteFile(path, data, size);
  }

 private:
  std::string refused_;
};

struct RunSetup {
  CutSettings settings;
  TextForm encoding = TextForm::ShiftJis;
  // The folder the files go into ("" for the current one, otherwise ending
  // in "/"), and a file or folder the output refuses to make.
  std::string folder;
  std::string refused;
};

// A whole run: `give` hands the run its inputs.
RunOutcome RunOver(const RunSetup& setup, const std::function<void(CutRun&)>& give) {
  TestOutput output(setup.encoding, setup.refused);
  CutRun run(output, setup.settings);
  give(run);
  RunOutcome outcome;
  outcome.status = run.Status();
  outcome.out = output.Out();
  outcome.err = output.Err();
  outcome.folders = output.Folders();
  for (const std::string& path : output.Order()) {
    outcome.files.emplace_back(path, output.Files().at(path));
  }
  return outcome;
}

// A run over images given as bytes, by name, in order.
RunOutcome CutImages(const std::vector<std::pair<std::string, Bytes>>& images,
                     const RunSetup& setup = {}) {
  return RunOver(setup, [&](CutRun& run) {
    for (const auto& [name, bytes] : images) {
      run.CutBytes(name, bytes, setup.folder);
    }
  });
}

RunOutcome CutImage(const std::string& name, const Bytes& bytes, const RunSetup& setup = {}) {
  return CutImages({{name, bytes}}, setup);
}

// The files of known disk `kind` (by kKnownSignatures) cut from `disk`, in
// writing order, each under folder + its name.
std::vector<std::pair<std::string, Bytes>> ExpectedFiles(const DiskSpec& disk, int kind,
                                                         const std::string& folder) {
  const Bytes linear = LinearBytes(disk, kKnownDiskTracks);
  std::vector<std::pair<std::string, Bytes>> files;
  for (const ExpectedCut& cut : kKinds[kind].cuts) {
    const auto from = linear.begin() + static_cast<std::ptrdiff_t>(LinearAddress(cut));
    files.emplace_back(folder + cut.name, Bytes(from, from + cut.length));
  }
  return files;
}

// "cutting ... NAME" for each file of known disk `kind`.
std::string CuttingLines(int kind) {
  std::string lines;
  for (const ExpectedCut& cut : kKinds[kind].cuts) {
    lines += std::string("cutting ... ") + cut.name + "\n";
  }
  return lines;
}

// A fresh directory for files a run reads, of this run of the test alone
// (other builds may run it at the same time), removed with what it holds.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::path(testing::TempDir()) / "core_test.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "cannot make a directory like " << pattern;
    }
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// Nothing of a run outlives it: a run with a failed write, then a clean run,
// then the first again, each give what they give in a run of their own.
TEST(ToolRunTest, RunsInOneProcessDoNotAffectEachOther) {
  DiskSpec title2b = KnownDisk(3, 1);
  // A short signature sector in the second disk: it must not see the bytes
  // of the first disk's reads.
  DiskSpec stale = KnownDisk(3, 2);
  SectorData(stale, 0, 1).resize(100);
  const Bytes failingImage = BuildImage({title2b, stale});
  const Bytes cleanImage = BuildImage({KnownDisk(5, 3)});
  RunSetup refusing;
  refusing.refused = "FMSE";  // as if a folder stood where FMSE would go
  const auto failingRun = [&] { return CutImage("image.d88", failingImage, refusing); };
  const auto cleanRun = [&] { return CutImage("image.d88", cleanImage); };

  // The second disk's signature lies in its short sector: unsupported.
  RunOutcome want = LinesOnly(1, kRecognitionMessages[3] + CuttingLines(3),
                              "error: cannot write 'FMSE': Is a directory\n" + kUnsupportedMessage);
  for (auto& file : ExpectedFiles(title2b, 3, "")) {
    if (file.first != "FMSE") {
      want.files.push_back(std::move(file));
    }
  }
  const RunOutcome first = failingRun();
  EXPECT_EQ(first, want);
  const RunOutcome clean = cleanRun();
  EXPECT_EQ(clean.status, 0);
  EXPECT_EQ(clean.err, "");
  EXPECT_EQ(clean.files, ExpectedFiles(KnownDisk(5, 3), 5, ""));
  EXPECT_EQ(failingRun(), first);
  EXPECT_EQ(cleanRun(), clean);
}

// --- The run's seam ----------------------------------------------------------------

TEST(CutRunTest, SaysItsLinesInTheOutputsEncoding) {
  const TempFolder temp;
  const std::string missing = temp.File("missing.d88");
  for (const TextForm encoding : {TextForm::ShiftJis, TextForm::Utf8}) {
    const bool utf8 = encoding == TextForm::Utf8;
    SCOPED_TRACE(utf8 ? "UTF-8" : "Shift-JIS");
    RunSetup setup;
    setup.encoding = encoding;
    for (int kind = 0; kind < 8; ++kind) {
      SCOPED_TRACE(kKinds[kind].kind);
      const DiskSpec disk = KnownDisk(kind, 0x5EED + static_cast<std::uint32_t>(kind));
      const RunOutcome got = CutImage("image.d88", BuildImage({disk}), setup);
      EXPECT_EQ(got.out, (utf8 ? RecognitionMessageUtf8(kind) : kRecognitionMessages[kind]) +
                             CuttingLines(kind));
      EXPECT_EQ(got.err, "");
      EXPECT_EQ(got.status, 0);
      EXPECT_EQ(got.files, ExpectedFiles(disk, kind, ""));
    }
    // An unsupported disk is said on the error stream, and counts as
    // neither a warning nor an error.
    const RunOutcome other = CutImage("other.d88", BuildImage({PlainDisk(4, 5)}), setup);
    EXPECT_EQ(other, LinesOnly(0, "", utf8 ? kUnsupportedMessageUtf8 : kUnsupportedMessage));
    // A file that cannot be opened: the fixed line, then the error.
    const RunOutcome cannotOpen = RunOver(setup, [&](CutRun& run) { run.CutFile(missing, ""); });
    EXPECT_EQ(cannotOpen,
              LinesOnly(1, "",
                        (utf8 ? kOpenFailedMessageUtf8 : kOpenFailedMessage) +
                            "error: cannot open '" + missing + "': No such file or directory\n"));
  }
}

// Per-disk folders: "IMAGE - TITLE DISK" under the run's folder, made through
// the output, numbered when a disk comes again, none for a disk with no
// files; characters no folder name may hold become "_".
TEST(CutRunTest, PerDiskFoldersAreNamedAfterTheImageAndTheDisk) {
  const DiskSpec first = KnownDisk(3, 11);
  const DiskSpec again = KnownDisk(3, 12);
  const DiskSpec title3a = KnownDisk(5, 13);
  RunSetup setup;
  setup.settings.perDisk = true;
  setup.folder = "out/";
  const RunOutcome got =
      CutImage("games\\a:b?.d88", BuildImage({first, KnownDisk(1, 14), again, title3a}), setup);
  const std::string disk2b = "out/a_b_.d88 - ZEFA LOMRI 2 Disk B";
  const std::string disk3a = "out/a_b_.d88 - ZEFA LOMRI 3 Disk A/";
  RunOutcome want = LinesOnly(0,
                              kRecognitionMessages[3] + CuttingLines(3) + kRecognitionMessages[1] +
                                  kRecognitionMessages[3] + CuttingLines(3) +
                                  kRecognitionMessages[5] + CuttingLines(5),
                              "");
  want.folders = {disk2b + "/", disk2b + " (2)/", disk3a};
  for (const auto& files :
       {ExpectedFiles(first, 3, disk2b + "/"), ExpectedFiles(again, 3, disk2b + " (2)/"),
        ExpectedFiles(title3a, 5, disk3a)}) {
    want.files.insert(want.files.end(), files.begin(), files.end());
  }
  EXPECT_EQ(got, want);
}

// A dry run says what it would write, where and from which sector, and
// makes neither files nor folders.
TEST(CutRunTest, ADryRunWritesNothing) {
  RunSetup setup;
  setup.settings.dryRun = true;
  setup.settings.perDisk = true;
  setup.folder = "out/";
  const RunOutcome got =
      CutImage("image.d88", BuildImage({KnownDisk(3, 21), KnownDisk(3, 22)}), setup);
  std::string out;
  for (const char* folder :
       {"out/image.d88 - ZEFA LOMRI 2 Disk B/", "out/image.d88 - ZEFA LOMRI 2 Disk B (2)/"}) {
    out += kRecognitionMessages[3];
    for (const ExpectedCut& cut : kTitle2DiskB) {
      out += "would write " + std::string(folder) + cut.name + ": " + std::to_string(cut.length) +
             " bytes from sector " + std::to_string(cut.track / 2) + " " +
             std::to_string(cut.track % 2) + " " + std::to_string(cut.r) + " 3 of track " +
             std::to_string(cut.track) + "\n";
    }
  }
  EXPECT_EQ(got, LinesOnly(0, out, ""));
}

// 0 when every file was written whole from sound sectors, 2 after a
// warning, 1 after an error, whatever else came.
TEST(CutRunTest, StatusIsZeroTwoOrOne) {
  const Bytes title2b = BuildImage({KnownDisk(3, 31)});
  const Bytes twice = BuildImage({KnownDisk(3, 31), KnownDisk(3, 32)});
  const auto replaced = [](const char* file) {
    return std::string("warning: ") + file +
           ": replaces the file cut from ZEFA LOMRI 2 Disk B (disk 1 of 2 in twice.d88) earlier in "
           "this run; use -d to keep each disk's files apart\n";
  };
  const std::string fmseRefused = "error: cannot write 'FMSE': Is a directory\n";
  // A table of cases, in the order they read best; its padding costs nothing.
  const struct {  // NOLINT(clang-analyzer-optin.performance.Padding)
    const char* what;
    std::vector<std::pair<std::string, Bytes>> images;
    bool perDisk;
    const char* refused;
    int status;
    std::string err;
  } cases[] = {
      {"files written whole", {{"disk.d88", title2b}}, false, "", 0, ""},
      {"an unsupported disk",
       {{"other.d88", BuildImage({PlainDisk(2, 1)})}},
       false,
       "",
       0,
       kUnsupportedMessage},
      {"an image with no disk",
       {{"empty.d88", {}}},
       false,
       "",
       2,
       "warning: empty.d88: no image format recognised (0 bytes); read as D88\n"
       "warning: empty.d88: no disk found\n"},
      {"files replaced in one run",
       {{"twice.d88", twice}},
       false,
       "",
       2,
       replaced("FMBGM") + replaced("FMSE") + replaced("BEEPBGM") + replaced("BEEPSE")},
      {"a file not written",
       {{"disk.d88", title2b}},
       false,
       "BEEPSE",
       1,
       "error: cannot write 'BEEPSE': Is a directory\n"},
      // A file not written is replaced by none.
      {"errors among warnings",
       {{"empty.d88", {}}, {"twice.d88", twice}},
       false,
       "FMSE",
       1,
       "warning: empty.d88: no image format recognised (0 bytes); read as D88\n"
       "warning: empty.d88: no disk found\n" +
           fmseRefused + replaced("FMBGM") + fmseRefused + replaced("BEEPBGM") +
           replaced("BEEPSE")},
      {"a folder not made",
       {{"disk.d88", title2b}},
       true,
       "disk.d88 - ZEFA LOMRI 2 Disk B/",
       1,
       "error: cannot create 'disk.d88 - ZEFA LOMRI 2 Disk B/': Permission denied\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RunSetup setup;
    setup.settings.perDisk = c.perDisk;
    setup.refused = c.refused;
    const RunOutcome got = CutImages(c.images, setup);
    EXPECT_EQ(got.err, c.err);
    EXPECT_EQ(got.status, c.status);
  }
}

#ifdef ZEFACUT_TEST_ARCHIVES
// An archive is one more way to hold an image: given as bytes or as a file,
// its image is cut as the image itself is, after a line naming the member.
TEST(CutRunTest, AnArchiveIsCutAsTheImageItHolds) {
  const Bytes image = BuildImage({KnownDisk(3, 41), KnownDisk(1, 42), KnownDisk(6, 43)});
  const Bytes zip =
      BuildArchive(ArchiveKind::kZip, {{"readme.txt", Bytes{'h', 'i'}}, {"disk.d88", image}});
  const TempFolder temp;
  ASSERT_TRUE(WriteFileBytes(temp.File("disk.d88"), image));
  ASSERT_TRUE(WriteFileBytes(temp.File("set.zip"), zip));
  RunSetup setup;
  setup.settings.perDisk = true;
  setup.folder = "out/";
  const RunOutcome want = CutImage("disk.d88", image, setup);
  ASSERT_EQ(want.status, 0) << want.err;
  ASSERT_EQ(want.folders.size(), 2U);
  ASSERT_EQ(want.files.size(), 8U);

  const struct {
    const char* what;
    std::function<void(CutRun&)> give;
    std::string member;  // the line that names the member; "" for none
  } cases[] = {
      {"the image file", [&](CutRun& run) { run.CutFile(temp.File("disk.d88"), setup.folder); },
       ""},
      {"the ZIP archive in memory",
       [&](CutRun& run) { run.CutBytes("set.zip", zip, setup.folder); },
       "reading ... set.zip/disk.d88\n"},
      {"the ZIP archive file",
       [&](CutRun& run) { run.CutFile(temp.File("set.zip"), setup.folder); },
       "reading ... " + temp.File("set.zip") + "/disk.d88\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RunOutcome expected = want;
    expected.out = c.member + want.out;
    EXPECT_EQ(RunOver(setup, c.give), expected);
  }
}

// Every archive follows one rule: a compressed file's one file is a member
// like a ZIP archive's, archives inside archives are read to a depth of 3,
// and one cap holds for every member.
TEST(CutRunTest, ArchivesFollowOneRule) {
  const Bytes image = BuildImage({KnownDisk(3, 41)});
  const Bytes blank(1261568, 0);  // a blank raw image: zero blocks to a tar reader
  const auto zip = [](const std::string& name, const Bytes& bytes) {
    return BuildArchive(ArchiveKind::kZip, {{name, bytes}});
  };
  const auto gz = [](const std::string& name, const Bytes& bytes) {
    return BuildArchive(ArchiveKind::kGzip, {{name, bytes}});
  };
  const std::string cut = kRecognitionMessages[3] + CuttingLines(3);
  const std::string emptyWarnings = "no image format recognised (0 bytes); read as D88\nwarning: ";
  // A flux dump is no sector image: it has a cap of its own, and is unpacked
  // to a scratch file rather than memory.
  ScpOptions oneRevolution;
  oneRevolution.flux.revolutions = 1;
  const Bytes scp = BuildScp(KnownDisk(3, 41, 14), oneRevolution);
  constexpr std::uint64_t kFluxCap = kMaxFluxBytes;
  const struct {
    const char* what;
    std::string name;
    Bytes bytes;
    std::uint64_t cap;
    std::string out;
    std::string err;
    int status;
    std::uint64_t fluxCap = kFluxCap;
  } cases[] = {
      {"a ZIP archive in a ZIP archive", "set.zip", zip("inner.zip", zip("disk.d88", image)),
       kMaxImageBytes, "reading ... set.zip/inner.zip/disk.d88\n" + cut, "", 0},
      {"three deep", "set.zip", zip("b.zip", zip("c.zip", zip("disk.d88", image))), kMaxImageBytes,
       "reading ... set.zip/b.zip/c.zip/disk.d88\n" + cut, "", 0},
      {"four deep", "set.zip", zip("b.zip", zip("c.zip", zip("d.zip", zip("disk.d88", image)))),
       kMaxImageBytes, "",
       "warning: set.zip/b.zip/c.zip/d.zip: not read: a ZIP archive nested more than 3 deep\n"
       "warning: set.zip: no disk image in the ZIP archive\n",
       2},
      {"an empty image in a ZIP archive", "set.zip", zip("z1.d88", {}), kMaxImageBytes,
       "reading ... set.zip/z1.d88\n",
       "warning: set.zip/z1.d88: " + emptyWarnings + "set.zip/z1.d88: no disk found\n", 2},
      {"an empty image compressed", "z1.d88.gz", gz("z1.d88", {}), kMaxImageBytes,
       "reading ... z1.d88.gz/z1.d88\n",
       "warning: z1.d88.gz/z1.d88: " + emptyWarnings + "z1.d88.gz/z1.d88: no disk found\n", 2},
      {"a blank raw image compressed", "blank.hdm.gz", gz("blank.hdm", blank), kMaxImageBytes,
       "reading ... blank.hdm.gz/blank.hdm\n", kUnsupportedMessage, 0},
      {"a ZIP member over the cap", "set.zip", zip("disk.d88", image), 65536, "",
       "warning: set.zip/disk.d88: not read: it holds more than any disk image (over 64 KiB)\n"
       "warning: set.zip: no disk image in the ZIP archive\n",
       2},
      {"a compressed file over the cap", "disk.d88.gz", gz("disk.d88", image), 65536, "",
       "warning: disk.d88.gz/disk.d88: not read: it holds more than any disk image (over 64 "
       "KiB)\nwarning: disk.d88.gz: no disk image in the gzip archive\n",
       2},
      {"a nested archive over the cap", "set.zip", zip("inner.zip", zip("disk.d88", image)), 65536,
       "",
       "warning: set.zip/inner.zip: not read: it holds more than any disk image (over 64 KiB)\n"
       "warning: set.zip: no disk image in the ZIP archive\n",
       2},
      {"an SCP dump over the cap in a ZIP archive", "set.zip", zip("disk.scp", scp), 65536,
       "reading ... set.zip/disk.scp\n" + cut, "", 0},
      {"an SCP dump over the cap compressed", "disk.scp.gz", gz("disk.scp", scp), 65536,
       "reading ... disk.scp.gz/disk.scp\n" + cut, "", 0},
      {"an SCP dump over the cap of dumps", "set.zip", zip("disk.scp", scp), 65536, "",
       "warning: set.zip/disk.scp: not read: it holds more than any disk image (over 1 MiB)\n"
       "warning: set.zip: no disk image in the ZIP archive\n",
       2, std::uint64_t{1} << 20U},
      {"a compressed SCP dump over the cap of dumps", "disk.scp.gz", gz("disk.scp", scp), 65536, "",
       "warning: disk.scp.gz/disk.scp: not read: it holds more than any disk image (over 1 "
       "MiB)\nwarning: disk.scp.gz: no disk image in the gzip archive\n",
       2, std::uint64_t{1} << 20U},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RunSetup setup;
    setup.settings.limits.memberCap = c.cap;
    setup.settings.limits.largeCap = c.fluxCap;
    const RunOutcome got = CutImage(c.name, c.bytes, setup);
    EXPECT_EQ(got.out, c.out);
    EXPECT_EQ(got.err, c.err);
    EXPECT_EQ(got.status, c.status);
  }
}

// At the tool's own caps: an SCP dump of more than any sector image, its
// tracks past the first 64 MiB, read out of a compressed file and a ZIP
// archive; and the KryoFlux stream files of a dump, each over a lowered cap.
TEST(CutRunTest, FluxDumpsPastTheImageCapAreReadFromArchives) {
  const DiskSpec disk = KnownDisk(3, 43, 14);
  ScpOptions padded;
  padded.flux.revolutions = 1;
  padded.gap = static_cast<std::size_t>(kMaxImageBytes) + (std::size_t{1} << 20U);
  const Bytes scp = BuildScp(disk, padded);
  ASSERT_GT(scp.size(), static_cast<std::size_t>(kMaxImageBytes));
  const std::string cut = kRecognitionMessages[3] + CuttingLines(3);
  const struct {
    const char* what;
    std::string name;
    ArchiveKind kind;
    std::string member;
  } cases[] = {
      {"gzip", "disk.scp.gz", ArchiveKind::kGzip, "disk.scp.gz/disk.scp"},
      {"ZIP", "set.zip", ArchiveKind::kZip, "set.zip/disk.scp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const RunOutcome got = CutImage(c.name, BuildArchive(c.kind, {{"disk.scp", scp}}), RunSetup());
    EXPECT_EQ(got.out, "reading ... " + c.member + "\n" + cut);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
  }

  std::map<int, KryoFluxTrackSpec> tracks;
  FluxOptions options;
  options.revolutions = 1;
  for (const auto& entry : disk.tracks) {
    const WrittenFlux flux = TrackFlux(disk, entry.first, options, kKryoFluxSampleClock);
    tracks[entry.first] = KryoFluxTrackSpec{flux.intervals, flux.indexes, kKryoFluxSampleClock};
  }
  RunSetup setup;
  setup.settings.limits.memberCap = 4096;
  const RunOutcome got = CutImage(
      "dump.zip", BuildArchive(ArchiveKind::kZip, KryoFluxDumpFiles(tracks, "disk")), setup);
  EXPECT_EQ(got.out, "reading ... dump.zip/disk\n" + cut);
  EXPECT_EQ(got.err, "");
  EXPECT_EQ(got.status, 0);
}
#endif

}  // namespace

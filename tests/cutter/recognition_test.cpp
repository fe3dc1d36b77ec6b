// The tool's command line, its messages and its recognition of disks, seen
// from outside: the built zefacut runs in a scratch directory and its
// standard output, standard error and exit status are compared byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/run_tool.h"
#include "testkit/image_builder.h"

namespace {

constexpr char kImage[] = "image.d88";

// Where the signatures live: the identification sector (track 1, C 0, H 1,
// R 5) and the boot sector (track 0, C 0, H 0, R 1).
constexpr int kIdTrack = 1;
constexpr int kIdSector = 5;
constexpr int kBootTrack = 0;
constexpr int kBootSector = 1;

// A disk that holds only its two signature sectors, patterned, so that no
// cut finds anything to read and the run prints recognition alone.
DiskSpec SignatureSectorsOnly(std::uint32_t seed) {
  DiskSpec disk = PlainDisk(2, seed);
  for (int r = 1; r <= 8; ++r) {
    if (r != kBootSector) {
      RemoveSector(disk, kBootTrack, r);
    }
    if (r != kIdSector) {
      RemoveSector(disk, kIdTrack, r);
    }
  }
  return disk;
}

// The same with the signature of kKnownSignatures[index] in place.
DiskSpec SignedDisk(int index, std::uint32_t seed) {
  DiskSpec disk = SignatureSectorsOnly(seed);
  const KnownSignature& signature = kKnownSignatures[index];
  if (signature.inBootSector) {
    PutBytes(disk, kBootTrack, kBootSector, 2, signature.text);
  } else {
    PutBytes(disk, kIdTrack, kIdSector, 0, signature.text);
  }
  disk.name = signature.kind;
  return disk;
}

// A disk of SignedDisk has none of the files of its kind: each is reported as
// not written, and the run ends with status 2, unless the kind has no files.
int StatusOfSignedDisk(int index) { return kKinds[index].cuts.empty() ? 0 : 2; }

class RecognitionTest : public ::testing::Test {
 protected:
  void WriteImage(const Bytes& bytes) { ASSERT_TRUE(WriteFileBytes(dir_.File(kImage), bytes)); }
  void WriteImage(const std::vector<DiskSpec>& disks) { WriteImage(BuildImage(disks)); }
  ToolResult Run() { return RunTool(dir_, {kImage}); }
  // Recognition alone writes nothing: the directory holds just the image.
  void ExpectNoFilesWritten() {
    EXPECT_EQ(EntriesIn(dir_.Path()), (std::set<std::string>{kImage}));
  }

  ScratchDir dir_;
};

// --- The command line ------------------------------------------------------

struct UsageCase {
  const char* what;
  std::vector<std::string> argv;
  std::string err;
};

// Argument 0 is printed as given; with no name in it, or no argument vector
// at all, the tool names itself.
const UsageCase kUsageCases[] = {
    {"no path", {"./zefacut"}, "Usage: ./zefacut [d88file]\n"},
    {"options and no path",
     {"/opt/bin/zefacut", "-n", "-d"},
     "Usage: /opt/bin/zefacut [d88file]\n"},
    {"other program name", {"./bin/zefa cut", "--"}, "Usage: ./bin/zefa cut [d88file]\n"},
    {"empty argument vector", {}, "Usage: zefacut [d88file]\n"},
    // What Linux makes of an empty vector.
    {"empty argument 0", {""}, "Usage: zefacut [d88file]\n"},
};

TEST_F(RecognitionTest, NoImagePrintsUsageAndReadsNothing) {
  SKIP_UNDER_LAUNCHER();
  // Were the image read, its disk would yield a file.
  WriteImage({KnownDisk(2, 1)});
  for (const UsageCase& c : kUsageCases) {
    SCOPED_TRACE(c.what);
    RunOptions options;
    options.argv = c.argv;
    const ToolResult result = RunTool(dir_, {}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err);
  }
  ExpectNoFilesWritten();
}

TEST_F(RecognitionTest, UsageNamesTheProgramAsInvoked) {
  const ToolResult result = RunTool(dir_, {});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  if (UnderLauncher()) {
    // The launcher chooses what the tool sees as argument 0.
    EXPECT_EQ(result.err.rfind("Usage: ", 0), 0U) << result.err;
    ASSERT_GE(result.err.size(), std::string(" [d88file]\n").size());
    EXPECT_EQ(result.err.substr(result.err.size() - 11), " [d88file]\n");
  } else {
    EXPECT_EQ(result.err, "Usage: " + ToolPath() + " [d88file]\n");
  }
}

TEST_F(RecognitionTest, OneExtraArgumentIsIgnored) {
  // A disk with a file to cut, so that the whole run is compared.
  WriteImage({KnownDisk(2, 5)});
  const ToolResult alone = Run();
  ScratchDir other;
  ASSERT_TRUE(WriteFileBytes(other.File(kImage), BuildImage({KnownDisk(2, 5)})));
  const ToolResult withExtra = RunTool(other, {kImage, "extra"});

  EXPECT_EQ(alone.status, 0);
  EXPECT_EQ(alone.out, kRecognitionMessages[2] + "cutting ... PROG\n");
  EXPECT_EQ(alone.err, "");
  // The same run, with a warning that the argument is not an output folder.
  EXPECT_EQ(withExtra.status, 2);
  EXPECT_EQ(withExtra.out, alone.out);
  EXPECT_EQ(withExtra.err,
            "warning: argument 'extra' ignored; to choose the output folder use -o DIR\n");
  EXPECT_EQ(EntriesIn(other.Path()), EntriesIn(dir_.Path()));
  const std::optional<Bytes> prog = ReadFileBytes(dir_.File("PROG"));
  ASSERT_TRUE(prog);
  EXPECT_TRUE(FileHolds(other.File("PROG"), *prog));
}

TEST_F(RecognitionTest, PathThatCannotBeOpenedAsAFileFails) {
  // "missing.d88" does not exist; "folder.d88" is a directory, which opens
  // on some systems but cannot be read, and is read whole only with -r.
  ASSERT_TRUE(std::filesystem::create_directory(dir_.File("folder.d88")));
  const struct {
    const char* path;
    const char* reason;
  } kCases[] = {{"missing.d88", "No such file or directory"},
                {"folder.d88", "Is a directory; use -r to read every image under it"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    const ToolResult result = RunTool(dir_, {c.path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    // The second line names the path and the system's reason, whose wording
    // a launcher's system may give otherwise.
    const std::string named = kOpenFailedMessage + "error: cannot open '" + c.path + "': ";
    EXPECT_EQ(result.err.substr(0, named.size()), named);
    if (!UnderLauncher()) {
      EXPECT_EQ(result.err, named + c.reason + "\n");
    }
  }
  EXPECT_EQ(EntriesIn(dir_.Path()), (std::set<std::string>{"folder.d88"}));
}

TEST_F(RecognitionTest, FileWithoutAWholeDiskHeaderSaysNoDiskIsFound) {
  // An empty file, and one byte short of a disk header.
  for (const std::size_t size : {std::size_t{0}, std::size_t{687}}) {
    SCOPED_TRACE(size);
    WriteImage(Bytes(size, 0));
    const ToolResult result = Run();
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "warning: image.d88: no image format recognised (" +
                              std::to_string(size) +
                              " bytes); read as D88\nwarning: image.d88: no disk found\n");
  }
  ExpectNoFilesWritten();
}

// --- The eight disks ------------------------------------------------------

TEST_F(RecognitionTest, EachKnownDiskGetsItsMessage) {
  for (int index = 0; index < 8; ++index) {
    SCOPED_TRACE(kKnownSignatures[index].kind);
    WriteImage({SignedDisk(index, 10U + static_cast<std::uint32_t>(index))});
    const ToolResult result = Run();
    EXPECT_EQ(result.status, StatusOfSignedDisk(index));
    EXPECT_EQ(result.out, kRecognitionMessages[index]);
    EXPECT_EQ(result.err, NotOnDiskWarnings(index));
  }
  ExpectNoFilesWritten();
}

// A disk whose header is whole is looked at even when its size field carries
// the walk to the next disk below 0 or past 2^31 - 1; the walk ends after it.
TEST_F(RecognitionTest, DiskWhoseSizeFieldEndsTheWalkIsStillRecognised) {
  const struct {
    const char* what;
    std::vector<int> kinds;  // the disks, by kKnownSignatures index
    std::uint32_t lastSize;  // the last disk's size field
  } kCases[] = {
      {"second disk of size 0x7FFFFFF0", {1, 3}, 0x7FFFFFF0U},
      {"one disk of size 2^31", {4}, 0x80000000U},
      {"one disk of size 2^32 - 1", {6}, 0xFFFFFFFFU},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::vector<DiskSpec> disks;
    std::string expected;
    std::string warnings;
    for (const int kind : c.kinds) {
      disks.push_back(SignedDisk(kind, 40U + static_cast<std::uint32_t>(kind)));
      expected += kRecognitionMessages[kind];
      warnings += NotOnDiskWarnings(kind);
    }
    disks.back().sizeField = c.lastSize;
    Bytes image = BuildImage(disks);
    // A disk after it is never reached.
    const Bytes after = BuildDisk(SignedDisk(0, 50));
    image.insert(image.end(), after.begin(), after.end());
    WriteImage(image);
    const ToolResult result = Run();
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.err, warnings);
  }
  ExpectNoFilesWritten();
}

TEST_F(RecognitionTest, UnrecognisedDisksEachGetTheUnsupportedMessage) {
  WriteImage({PlainDisk(24, 1), PlainDisk(2, 2), SignatureSectorsOnly(3)});
  const ToolResult result = Run();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, kUnsupportedMessage + kUnsupportedMessage + kUnsupportedMessage);
  ExpectNoFilesWritten();
}

TEST_F(RecognitionTest, DisksAreReportedInDiskOrder) {
  WriteImage({SignedDisk(7, 1), PlainDisk(2, 2), SignedDisk(1, 3), SignedDisk(2, 4),
              SignedDisk(0, 5), SignedDisk(7, 6), SignatureSectorsOnly(7)});
  const ToolResult result = Run();
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, kRecognitionMessages[7] + kRecognitionMessages[1] +
                            kRecognitionMessages[2] + kRecognitionMessages[0] +
                            kRecognitionMessages[7]);
  EXPECT_EQ(result.err, NotOnDiskWarnings(7) + kUnsupportedMessage + NotOnDiskWarnings(2) +
                            NotOnDiskWarnings(0) + NotOnDiskWarnings(7) + kUnsupportedMessage);
  ExpectNoFilesWritten();
}

// --- Which signature counts ------------------------------------------------

struct SignatureCase {
  const char* what;
  const char* idText;  // written into the identification sector at idOffset, or null
  int idOffset;
  const char* bootText;  // written into the boot sector at bootOffset, or null
  int bootOffset;
  int expected;  // index of kRecognised, or -1 for unsupported
};

const SignatureCase kSignatureCases[] = {
    // The identification sector is tested first, and decides.
    {"Disk B signature over a title 2 Disk A label", "ZEFA-LOMRI 2", 0, "ZefaLomri2      DISK-A", 2,
     1},
    {"Disk A signature over a title 3 User Disk label", "ZEFA-LOMRI 1", 0,
     "ZefaLomri3      User-disk", 2, 0},
    // A label decides once the identification sector holds neither signature.
    {"near miss in the identification sector, good label", "ZEFA-LOMRI 3", 0,
     "ZefaLomri3      DISK-B", 2, 6},
    // Near misses match nothing.
    {"five blanks", nullptr, 0, "ZefaLomri2     DISK-A", 2, -1},
    {"seven blanks", nullptr, 0, "ZefaLomri2       DISK-B", 2, -1},
    {"upper-case title word", nullptr, 0, "ZEFALOMRI3      DISK-A", 2, -1},
    {"lower-case disk name", nullptr, 0, "ZefaLomri2      disk-b", 2, -1},
    {"upper-case user disk", nullptr, 0, "ZefaLomri3      USER-DISK", 2, -1},
    {"label at byte 0", nullptr, 0, "ZefaLomri2      DISK-A", 0, -1},
    {"label at byte 3", nullptr, 0, "ZefaLomri3      User-disk", 3, -1},
    {"identification in lower case", "zefa-lomri 1", 0, nullptr, 0, -1},
    {"identification with a blank for the hyphen", "ZEFA LOMRI 2", 0, nullptr, 0, -1},
    {"identification at byte 1", "ZEFA-LOMRI 1", 1, nullptr, 0, -1},
    // Each signature counts only in its own sector.
    {"identification signature in the boot sector", nullptr, 0, "ZEFA-LOMRI 1", 0, -1},
    {"label in the identification sector", "ZefaLomri2      DISK-B", 2, nullptr, 0, -1},
};

TEST_F(RecognitionTest, SignaturesMatchExactlyAndInOrder) {
  for (const SignatureCase& c : kSignatureCases) {
    SCOPED_TRACE(c.what);
    DiskSpec disk = SignatureSectorsOnly(42);
    if (c.idText != nullptr) {
      PutBytes(disk, kIdTrack, kIdSector, c.idOffset, c.idText);
    }
    if (c.bootText != nullptr) {
      PutBytes(disk, kBootTrack, kBootSector, c.bootOffset, c.bootText);
    }
    WriteImage({disk});
    const ToolResult result = Run();
    EXPECT_EQ(result.status, c.expected < 0 ? 0 : StatusOfSignedDisk(c.expected));
    EXPECT_EQ(result.out, c.expected < 0 ? "" : kRecognitionMessages[c.expected]);
    EXPECT_EQ(result.err, c.expected < 0 ? kUnsupportedMessage : NotOnDiskWarnings(c.expected));
  }
}

// --- A signature read that comes up short ----------------------------------

// The identification sector replaced by one that holds only `text`.
DiskSpec WithShortIdSector(DiskSpec disk, const std::string& text) {
  Bytes& data = SectorData(disk, kIdTrack, kIdSector);
  data.assign(text.begin(), text.end());
  return disk;
}

// Disk 0's signature sector is read just before disk 1's (none of disk 0's
// cuts finds anything to read); disk 1's own read of that sector delivers
// less than a whole sector. Disk 1 must not be taken for disk 0's kind by
// bytes left from that earlier read, nor for a kind its short sector names.
TEST_F(RecognitionTest, ShortSignatureReadRecognisesNothing) {
  struct Case {
    const char* what;
    int first;  // kKnownSignatures index of disk 0
    DiskSpec second;
  };
  DiskSpec noSignatureSectors = PlainDisk(2, 2);
  RemoveSector(noSignatureSectors, kIdTrack, kIdSector);
  RemoveSector(noSignatureSectors, kBootTrack, kBootSector);
  DiskSpec noSignatureTracks = PlainDisk(4, 3);
  noSignatureTracks.tracks.erase(kIdTrack);
  noSignatureTracks.tracks.erase(kBootTrack);
  // A boot sector of 24 bytes holding all but the last 3 bytes of the label
  // disk 0 leaves behind.
  DiskSpec shortBoot = PlainDisk(2, 4);
  RemoveSector(shortBoot, kIdTrack, kIdSector);
  SectorData(shortBoot, kBootTrack, kBootSector).resize(24);
  PutBytes(shortBoot, kBootTrack, kBootSector, 2, "ZefaLomri3      User-d");

  const Case cases[] = {
      {"signature sectors absent", 0, noSignatureSectors},
      {"both signature tracks absent", 0, noSignatureTracks},
      // With the buffer's stale tail these four bytes would read as disk 0's
      // signature.
      {"identification sector of 4 bytes", 0, WithShortIdSector(SignatureSectorsOnly(5), "ZEFA")},
      // A whole signature in a sector of fewer than 1024 bytes.
      {"identification sector of 12 bytes", 0,
       WithShortIdSector(SignatureSectorsOnly(6), "ZEFA-LOMRI 2")},
      // Disk 0 leaves a boot sector with its label in the buffer.
      {"boot label left by a title 2 Disk B", 3, noSignatureTracks},
      {"boot sector of 24 bytes after a title 3 User Disk", 7, shortBoot},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteImage({SignedDisk(c.first, 1), c.second});
    const ToolResult result = Run();
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, kRecognitionMessages[c.first]);
    EXPECT_EQ(result.err, NotOnDiskWarnings(c.first) + kUnsupportedMessage);
  }
  ExpectNoFilesWritten();
}

TEST_F(RecognitionTest, SignatureSectorCutShortByTheEndOfTheFileRecognisesNothing) {
  // Disk 1 holds one sector, the identification sector, so the image can end
  // inside its data: at 688 (disk header) + 16 (sector header) + `kept`.
  DiskSpec second;
  second.tracks[kIdTrack].sectors.push_back(
      SectorSpec{0, 1, kIdSector, 3, PatternSector(9, kIdTrack, kIdSector), {}, {}});
  PutBytes(second, kIdTrack, kIdSector, 0, "ZEFA-LOMRI 2");
  const Bytes first = BuildDisk(SignedDisk(0, 1));
  for (const std::size_t kept : {std::size_t{4}, std::size_t{12}, std::size_t{1023}}) {
    SCOPED_TRACE(kept);
    Bytes image = BuildImage({SignedDisk(0, 1), second});
    image.resize(first.size() + 688 + 16 + kept);
    WriteImage(image);
    const ToolResult result = Run();
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, kRecognitionMessages[0]);
    EXPECT_EQ(result.err, NotOnDiskWarnings(0) + kUnsupportedMessage);
  }
}

}  // namespace

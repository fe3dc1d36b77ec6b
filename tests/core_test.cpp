// The seams of the core, called in-process: the known-disk table held to the
// lists written out apart from it, runs of sectors over the model, and whole
// runs of the tool one after another in one process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cutter/main.h"
#include "formats/open_image.h"
#include "known/known_disks.h"
#include "known/sector_run.h"
#include "tests/support/expected_cuts.h"
#include "tests/support/image_builder.h"

namespace fs = std::filesystem;

namespace {

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

// --- Whole runs in one process ----------------------------------------------------

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct InProcessResult {
  int status;
  std::string out;
  std::string err;
  std::vector<std::pair<std::string, std::string>> files;

  bool operator==(const InProcessResult& other) const {
    return status == other.status && out == other.out && err == other.err && files == other.files;
  }
};

// Runs the tool in `folder` on the image file `image` there, its streams into
// files beside the folder.
InProcessResult RunInProcess(const fs::path& folder, const std::string& image) {
  const fs::path previous = fs::current_path();
  fs::current_path(folder);
  const fs::path outPath = folder.parent_path() / (folder.filename().string() + ".out");
  const fs::path errPath = folder.parent_path() / (folder.filename().string() + ".err");
  std::FILE* out = std::fopen(outPath.string().c_str(), "wb");
  std::FILE* err = std::fopen(errPath.string().c_str(), "wb");
  std::string program = "zefacut";
  std::string path = image;
  char* argv[] = {program.data(), path.data(), nullptr};
  InProcessResult result{ZefacutMain(2, argv, Console{out, err}), "", "", {}};
  std::fclose(out);
  std::fclose(err);
  fs::current_path(previous);
  result.out = ReadText(outPath);
  result.err = ReadText(errPath);
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().filename() != image) {
      result.files.emplace_back(entry.path().filename().string(), ReadText(entry.path()));
    }
  }
  std::sort(result.files.begin(), result.files.end());
  return result;
}

// Nothing of a run outlives it: a run with a failed write, then a clean run,
// then the first again, each give what they give in a process of their own.
TEST(ToolRunTest, RunsInOneProcessDoNotAffectEachOther) {
  const fs::path base = fs::path(testing::TempDir()) / "tool_run_test";
  fs::remove_all(base);
  const fs::path failing = base / "failing";
  const fs::path clean = base / "clean";
  fs::create_directories(failing / "FMSE");  // a folder where FMSE would go
  fs::create_directories(clean);
  DiskSpec title2b = KnownDisk(3, 1);
  // A short signature sector in the second disk: it must not see the bytes
  // of the first disk's reads.
  DiskSpec stale = KnownDisk(3, 2);
  SectorData(stale, 0, 1).resize(100);
  ASSERT_TRUE(WriteFileBytes((failing / "image.d88").string(), BuildImage({title2b, stale})));
  ASSERT_TRUE(WriteFileBytes((clean / "image.d88").string(), BuildImage({KnownDisk(5, 3)})));

  const InProcessResult first = RunInProcess(failing, "image.d88");
  EXPECT_EQ(first.status, 1);
  EXPECT_NE(first.err.find("error: cannot write FMSE"), std::string::npos);
  const InProcessResult cleanRun = RunInProcess(clean, "image.d88");
  EXPECT_EQ(cleanRun.status, 0);
  EXPECT_EQ(cleanRun.err, "");
  ASSERT_EQ(cleanRun.files.size(), 1U);
  EXPECT_EQ(cleanRun.files[0].first, "PROG");
  EXPECT_EQ(RunInProcess(failing, "image.d88"), first);
  EXPECT_EQ(RunInProcess(clean, "image.d88"), cleanRun);
  fs::remove_all(base);
}

}  // namespace

// CutFile called directly, for what no disk of the catalogue can reach:
// offsets and lengths that do not fit the cut buffer, the largest cut that
// does, and a run that stops before the file's first byte.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cutter/cut.h"
#include "cutter/cut_buffer.h"
#include "cutter/main.h"
#include "tests/support/image_builder.h"

namespace {

Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The disk `disk` selected in the tool's reader, with the working directory
// a fresh scratch folder for the files CutFile writes.
class CutFileTest : public testing::Test {
 protected:
  void Load(const DiskSpec& disk) {
    std::filesystem::create_directories(folder_ / "out");
    ASSERT_TRUE(WriteFileBytes((folder_ / "image.d88").string(), BuildDisk(disk)));
    ASSERT_TRUE(Image.Open((folder_ / "image.d88").string().c_str()));
    ASSERT_TRUE(Image.SelectDisk(0));
    Image.SetSectorRange(1, 8);
    std::filesystem::current_path(folder_ / "out");
  }

  void TearDown() override {
    Image.Open(nullptr);
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(folder_);
  }

  std::filesystem::path Out() const { return folder_ / "out"; }

 private:
  std::filesystem::path previous_ = std::filesystem::current_path();
  std::filesystem::path folder_ =
      std::filesystem::path(testing::TempDir()) /
      ("cut_file_test_" +
       std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
};

TEST_F(CutFileTest, RefusesWhatDoesNotFitTheCutBuffer) {
  Load(PlainDisk(2, 1));
  const int size = static_cast<int>(kCutBufferSize);
  const struct {
    int offset;
    int length;
  } kCases[] = {
      {-1, 10},      {0, -1},   {INT_MIN, 10},      {10, INT_MIN}, {size - 100, 101},
      {0, size + 1}, {size, 1}, {INT_MAX, INT_MAX}, {INT_MAX, 1},
  };
  for (const auto& cut : kCases) {
    SCOPED_TRACE(testing::Message() << "offset " << cut.offset << ", length " << cut.length);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(CutFile("REFUSED", 0, 0, 0, 1, 3, cut.offset, cut.length));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(std::filesystem::exists(Out() / "REFUSED"));
  }
}

TEST_F(CutFileTest, LargestCutFillsTheWholeBuffer) {
  // 154 tracks of 8 sectors of 1024 bytes are exactly the cut buffer.
  constexpr int kTracks = 154;
  static_assert(std::size_t{kTracks} * 8 * 1024 == kCutBufferSize, "one disk fills the buffer");
  const DiskSpec disk = PlainDisk(kTracks, 5);
  Load(disk);
  const int size = static_cast<int>(kCutBufferSize);

  testing::internal::CaptureStdout();
  EXPECT_TRUE(CutFile("WHOLE", 0, 0, 0, 1, 3, 0, size));
  EXPECT_TRUE(CutFile("TAIL", 0, 0, 0, 1, 3, size - 1000, 1000));
  EXPECT_FALSE(CutFile("OVER", 0, 0, 0, 1, 3, size - 1000, 1001));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "cutting ... WHOLE\ncutting ... TAIL\n");

  const Bytes linear = LinearBytes(disk, kTracks);
  EXPECT_TRUE(ReadBytes(Out() / "WHOLE") == linear);
  EXPECT_TRUE(ReadBytes(Out() / "TAIL") == Bytes(linear.end() - 1000, linear.end()));
  EXPECT_FALSE(std::filesystem::exists(Out() / "OVER"));
}

TEST_F(CutFileTest, RunThatStopsBeforeTheFileBeginsWritesAnEmptyFile) {
  // Only sector 1 of track 0 is there: the run delivers 1024 bytes, all of
  // them before the file's offset of 2048.
  DiskSpec disk;
  disk.tracks[0].sectors.push_back(PlainDisk(1, 9).tracks[0].sectors[0]);
  Load(disk);

  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_TRUE(CutFile("EMPTY", 0, 0, 0, 1, 3, 2048, 100));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "cutting ... EMPTY\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "warning: EMPTY: only 0 of 100 bytes could be read\n");
  ASSERT_TRUE(std::filesystem::exists(Out() / "EMPTY"));
  EXPECT_EQ(std::filesystem::file_size(Out() / "EMPTY"), 0U);
}

}  // namespace

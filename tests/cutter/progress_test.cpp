// The progress line's words: counts grouped, the time left at the pace so
// far, and a name cut at its start to keep the line on one row.
#include "cutter/progress.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProgressTest, TheLine) {
  const struct {
    const char* what;
    std::size_t done;
    std::size_t inputs;
    std::uint64_t bytesDone;
    std::uint64_t bytes;
    int known;
    double elapsed;
    std::string current;
    std::string want;
  } kCases[] = {
      {"a quarter of the bytes in 10 s leaves 30 s", 1234, 10002, 812000000, 3248000000, 3, 10,
       "pc98/game.zip",
       "1,234 of 10,002 inputs, 812 MB, 3 known disks, 0:30 left \xE2\x80\x94 pc98/game.zip"},
      {"without sizes the inputs tell the pace", 1, 4, 0, 0, 1, 61, "a.d88",
       "1 of 4 inputs, 0 MB, 1 known disk, 3:03 left \xE2\x80\x94 a.d88"},
      {"nothing done yet: no time left is guessed", 0, 4, 0, 100, 0, 2, "",
       "0 of 4 inputs, 0 MB, 0 known disks"},
      {"a long name keeps its end", 5, 9, 1, 2, 0, 1,
       "collection/pc98/a folder with a very long name indeed/and another one/disk2.d88",
       "5 of 9 inputs, 0 MB, 0 known disks, 0:01 left \xE2\x80\x94 \xE2\x80\xA6"
       "deed/and another one/disk2.d88"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(
        ProgressLine::Line(c.done, c.inputs, c.bytesDone, c.bytes, c.known, c.elapsed, c.current),
        c.want);
  }
}

}  // namespace

// Runs the built d88info as a separate process (tests/support/run_tool.h)
// and compares its whole output.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "formats/d88_writer.h"
#include "input/byte_source.h"
#include "input/open_image.h"
#include "platform/text_form.h"
#ifdef ZEFACUT_TEST_ARCHIVES
#include "support/archive_writer.h"
#endif
#include "support/damaged_dumps.h"
#include "support/flux_writers.h"
#include "support/format_writers.h"
#include "support/image_builder.h"
#include "support/kryoflux_writer.h"
#include "support/run_tool.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

ToolResult RunD88info(const ScratchDir& dir, const std::vector<std::string>& args,
                      const RunOptions& options = {}) {
  return RunProgram(Program::kD88info, dir, args, options);
}

// Listing lines of tracks 0..tracks-1 laid out plainly: C = track / 2,
// H = track % 2, sectors 1..sectors of size code n.
std::string PlainTracks(int tracks, int sectors, int n) {
  std::string out;
  for (int track = 0; track < tracks; ++track) {
    out += "  track " + std::to_string(track) + ": " + std::to_string(sectors) + " sectors: C" +
           std::to_string(track / 2) + " H" + std::to_string(track % 2) + " R1-" +
           std::to_string(sectors) + " N" + std::to_string(n) + "\n";
  }
  return out;
}

constexpr char kBothSignatureSectorsMissing[] =
    "  zefacut: unsupported\n"
    "  identification sector, track 1 C0 H1 R5 N3: not found\n"
    "  boot sector, track 0 C0 H0 R1 N3: not found\n";

TEST(D88InfoTest, ListsTheSampleImage) {
  // The sample image: the eight known disks, then one other.
  const std::vector<DiskSpec> disks = SampleDisks();
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("sample.d88"), BuildImage(disks)));

  struct Expected {
    const char* header;
    const char* verdict;
  };
  const Expected expected[] = {
      {"offset: 0 (0x0)", "zefacut: recognises ZEFA LOMRI Disk A"},
      {"offset: 200368 (0x30EB0)", "zefacut: recognises ZEFA LOMRI Disk B"},
      {"offset: 400736 (0x61D60)", "zefacut: recognises ZEFA LOMRI 2 Disk A"},
      {"offset: 601104 (0x92C10)", "zefacut: recognises ZEFA LOMRI 2 Disk B"},
      {"offset: 801472 (0xC3AC0)", "zefacut: recognises ZEFA LOMRI 2 User Disk"},
      {"offset: 1001840 (0xF4970)", "zefacut: recognises ZEFA LOMRI 3 Disk A"},
      {"offset: 1202208 (0x125820)", "zefacut: recognises ZEFA LOMRI 3 Disk B"},
      {"offset: 1402576 (0x1566D0)", "zefacut: recognises ZEFA LOMRI 3 User Disk"},
  };
  std::string want = "format: D88, 1803312 bytes\ndisks: 9\n";
  for (int i = 0; i < 8; ++i) {
    want += "\ndisk " + std::to_string(i + 1) + "\n  " + expected[i].header +
            "\n  size: 200368 (0x30EB0)\n  name: \"" + kKnownSignatures[i].kind +
            "\"\n  media: 0x00 (2D); tracks: 24 x 8 x 1024 (2HD)\n"
            "  write protect: 0x00 (off)\n"
            "  geometry: 12 cylinders, 2 heads, 8 sectors of 1024 bytes\n" +
            PlainTracks(kKnownDiskTracks, 8, 3) + "  " + expected[i].verdict + "\n";
  }
  // The other disk's signature bytes are its made-up sector contents.
  want +=
      "\ndisk 9\n  offset: 1602944 (0x187580)\n  size: 200368 (0x30EB0)\n"
      "  name: \"OTHER GAME\"\n  media: 0x00 (2D); tracks: 24 x 8 x 1024 (2HD)\n"
      "  write protect: 0x00 (off)\n"
      "  geometry: 12 cylinders, 2 heads, 8 sectors of 1024 bytes\n" +
      PlainTracks(kKnownDiskTracks, 8, 3) +
      "  zefacut: unsupported\n"
      "  identification sector, track 1 C0 H1 R5 N3, bytes 0-11:\n"
      "    text |@.nG....nZ-]|\n"
      "    hex  40 CB 6E 47 82 DC 10 C0 6E 5A 2D 5D\n"
      "  boot sector, track 0 C0 H0 R1 N3, bytes 2-26:\n"
      "    text |5...]..v.X).^...z.].i\\q}{|\n"
      "    hex  35 96 13 1F 5D 80 C1 76 A6 58 29 91 5E C4 A2 DA 7A F7 5D BB 69 5C 71 7D 7B\n";

  const ToolResult result = RunD88info(dir, {"sample.d88"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, want);
}

TEST(D88InfoTest, NamesTheRateOfAFluxDumpAndTheSectorsRecovered) {
  // Two tracks of a 2HD disk (500 kbit/s at 360 rpm) read in a drive of
  // 300 rpm; R3 of track 1 read badly in every revolution, each time in
  // another byte, so that the bytes the reads agree on pass its CRC.
  const DiskSpec disk = PlainDisk(2, 0x2C);
  ScpOptions options;
  options.flux.driveRpm = 300;
  options.flux.drift = 0;
  options.flux.jitter = 0.02;
  options.flux.damage = {{1, 3, {}, {}, {}}};
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("disk.scp"), BuildScp(disk, options)));
  const ToolResult plain = RunD88info(dir, {"disk.scp"});
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.out.find("    flux: 3 revolutions, 416.7 kbit/s (a 500 kbit/s disk at 360 rpm, "
                           "read at 300 rpm), 300.0 rpm; every sector read well in 3 of 3\n"),
            std::string::npos)
      << plain.out;
  EXPECT_NE(plain.out.find("    flux: 3 revolutions, 416.7 kbit/s (a 500 kbit/s disk at 360 rpm, "
                           "read at 300 rpm), 300.0 rpm; read well: R1 3/3, R2 3/3, R3 0/3 "
                           "(recovered from 3 bad reads), R4 3/3,"),
            std::string::npos)
      << plain.out;
  const ToolResult json = RunD88info(dir, {"--json", "disk.scp"});
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("\"revolutionsGood\": 0, \"revolutions\": 3, \"recoveredFrom\": 3}"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"flux\": {\"revolutions\": 3, \"dataRate\": 416667, \"rpm\": 300.0"),
            std::string::npos)
      << json.out;
}

TEST(D88InfoTest, ListsARealDisk) {
  // A blank Hu-BASIC 2D disk: 80 tracks of 16 sectors of 256 bytes, and a
  // name field that fills all 16 bytes with no terminator.
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("hubasic.d88"), ReadFixture("hubasic-2d-blank.d88")));
  const std::string want = std::string(
                               "format: D88, 348848 bytes\n"
                               "disks: 1\n"
                               "\n"
                               "disk 1\n"
                               "  offset: 0 (0x0)\n"
                               "  size: 348848 (0x552B0)\n"
                               "  name: \"by_github_ORYZAP\"\n"
                               "  media: 0x00 (2D); tracks: 80 x 16 x 256 (2D)\n"
                               "  write protect: 0x00 (off)\n"
                               "  geometry: 40 cylinders, 2 heads, 16 sectors of 256 bytes\n") +
                           PlainTracks(80, 16, 1) + kBothSignatureSectorsMissing;

  const ToolResult result = RunD88info(dir, {"hubasic.d88"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, want);
}

SectorSpec Sector(int c, int h, int r, int n, std::size_t size = 1024) {
  SectorSpec sector;
  sector.c = static_cast<std::uint8_t>(c);
  sector.h = static_cast<std::uint8_t>(h);
  sector.r = static_cast<std::uint8_t>(r);
  sector.n = static_cast<std::uint8_t>(n);
  sector.data.assign(size, 0xE5);
  return sector;
}

struct DiskCase {
  // Read by the test-name generator of INSTANTIATE_TEST_SUITE_P below, a macro
  // cppcheck does not expand.
  // cppcheck-suppress unusedStructMember
  const char* name;
  const char* what;
  DiskSpec (*disk)();
  // The listing of the disk after its offset and size lines.
  const char* listing;
};

// Two plain tracks, so that the listings stay short.
DiskSpec TwoTracks() {
  DiskSpec disk = PlainDisk(2, 7);
  disk.name = "TWO";
  return disk;
}

constexpr DiskCase kDiskCases[] = {
    {"NameWithEscapes", "a name with bytes that are not printable ASCII",
     [] {
       DiskSpec disk = TwoTracks();
       disk.name = std::string("A\"B\\C\x01\xFF z", 9);
       PutBytes(disk, 1, 5, 0, "ZEFA-LOMRI 2");
       return disk;
     },
     "  name: \"A\\\"B\\C\\x01\\xff z\"\n"
     "  media: 0x00 (2D); tracks: 2 x 8 x 1024 (2HD)\n"
     "  write protect: 0x00 (off)\n"
     "  geometry: 1 cylinder, 2 heads, 8 sectors of 1024 bytes\n"
     "  track 0: 8 sectors: C0 H0 R1-8 N3\n"
     "  track 1: 8 sectors: C0 H1 R1-8 N3\n"
     "  zefacut: recognises ZEFA LOMRI Disk B\n"},
    // Files get Shift-JIS: the name's own bytes, a backslash that is the
    // second byte of a character (0x95 0x5C) among them.
    {"ShiftJisNameWriteProtected", "a Shift-JIS name, a write-protected disk",
     [] {
       DiskSpec disk = TwoTracks();
       disk.name = "\x83\x5B\x83\x74\x83\x40 \xDB\xD1\xD8\x95\x5C";  // "ゼファ ﾛﾑﾘ表"
       disk.writeProtect = 0x10;
       PutBytes(disk, 1, 5, 0, "ZEFA-LOMRI 2");
       return disk;
     },
     "  name: \"\x83\x5B\x83\x74\x83\x40 \xDB\xD1\xD8\x95\x5C\"\n"
     "  media: 0x00 (2D); tracks: 2 x 8 x 1024 (2HD)\n"
     "  write protect: 0x10 (on)\n"
     "  geometry: 1 cylinder, 2 heads, 8 sectors of 1024 bytes\n"
     "  track 0: 8 sectors: C0 H0 R1-8 N3\n"
     "  track 1: 8 sectors: C0 H1 R1-8 N3\n"
     "  zefacut: recognises ZEFA LOMRI Disk B\n"},
    {"TracksNotAPlainRun", "tracks that are not a plain run, one sector, no sector",
     [] {
       DiskSpec disk;
       disk.name = "ODD";
       disk.mediaType = 0x10;
       disk.tracks[0].sectors = {Sector(0, 0, 1, 3), Sector(0, 0, 3, 3), Sector(0, 0, 2, 3)};
       disk.tracks[1].sectors = {Sector(0, 1, 1, 3), Sector(0, 1, 2, 2, 512)};
       disk.tracks[2].sectors = {Sector(1, 0, 1, 3), Sector(1, 1, 2, 3)};
       disk.tracks[5].sectors = {Sector(9, 9, 9, 1, 256)};
       // Listed last, the empty track starts where the disk ends.
       disk.tracks[163].sectors = {};
       return disk;
     },
     "  name: \"ODD\"\n"
     "  media: 0x10 (2DD); tracks: 4 x 2 x 1024 (2D)\n"
     "  write protect: 0x00 (off)\n"
     "  geometry: 3 cylinders, 2 heads, 2 sectors of 1024 bytes\n"
     "  track 0: 3 sectors: C0 H0 R1 N3, C0 H0 R3 N3, C0 H0 R2 N3\n"
     "  track 1: 2 sectors: C0 H1 R1 N3, C0 H1 R2 N2\n"
     "  track 2: 2 sectors: C1 H0 R1 N3, C1 H1 R2 N3\n"
     "  track 5: 1 sector: C9 H9 R9 N1\n"
     "  track 163: 0 sectors\n"
     "  zefacut: unsupported\n"
     "  identification sector, track 1 C0 H1 R5 N3: not found\n"
     "  boot sector, track 0 C0 H0 R1 N3, bytes 2-26:\n"
     "    text |.........................|\n"
     "    hex  E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5 E5\n"},
    {"TrackOffsetsOutsideTheDisk", "track table entries past the disk's end, a 2HD disk",
     [] {
       DiskSpec disk = TwoTracks();
       disk.mediaType = 0x20;
       disk.trackTableOverrides[7] = 0x7FFFFF;
       disk.trackTableOverrides[9] = 0xFFFFFFF0;
       PutBytes(disk, 0, 1, 2, "ZefaLomri3      DISK-B");
       return disk;
     },
     "  name: \"TWO\"\n"
     "  media: 0x20 (2HD); tracks: 2 x 8 x 1024 (2HD)\n"
     "  write protect: 0x00 (off)\n"
     "  geometry: 1 cylinder, 2 heads, 8 sectors of 1024 bytes\n"
     "  track 0: 8 sectors: C0 H0 R1-8 N3\n"
     "  track 1: 8 sectors: C0 H1 R1-8 N3\n"
     "  track 7: offset 8388607 (0x7FFFFF) lies outside the disk\n"
     "  track 9: offset 4294967280 (0xFFFFFFF0) lies outside the disk\n"
     "  zefacut: recognises ZEFA LOMRI 3 Disk B\n"
     "    FMBGM: not written: sector 3 1 8 3 of track 7 is not on the disk\n"
     "    FMSE: not written: sector 7 1 2 3 of track 15 is not on the disk\n"
     "    BEEPBGM: not written: sector 6 0 2 3 of track 12 is not on the disk\n"
     "    BEEPSE: not written: sector 7 1 5 3 of track 15 is not on the disk\n"},
    {"NearMissLabel", "a near-miss label: five blanks",
     [] {
       DiskSpec disk = TwoTracks();
       disk.mediaType = 0x30;
       PutBytes(disk, 1, 5, 0, "ZEFA-LOMRI 3");
       PutBytes(disk, 0, 1, 2, std::string("ZefaLomri2     DISK-A\0#\0\0", 25));
       return disk;
     },
     "  name: \"TWO\"\n"
     "  media: 0x30 (1D); tracks: 2 x 8 x 1024 (2HD)\n"
     "  write protect: 0x00 (off)\n"
     "  geometry: 1 cylinder, 2 heads, 8 sectors of 1024 bytes\n"
     "  track 0: 8 sectors: C0 H0 R1-8 N3\n"
     "  track 1: 8 sectors: C0 H1 R1-8 N3\n"
     "  zefacut: unsupported\n"
     "  identification sector, track 1 C0 H1 R5 N3, bytes 0-11:\n"
     "    text |ZEFA-LOMRI 3|\n"
     "    hex  5A 45 46 41 2D 4C 4F 4D 52 49 20 33\n"
     "  boot sector, track 0 C0 H0 R1 N3, bytes 2-26:\n"
     "    text |ZefaLomri2     DISK-A.#..|\n"
     "    hex  5A 65 66 61 4C 6F 6D 72 69 32 20 20 20 20 20 44 49 53 4B 2D 41 00 23 00 00\n"},
    {"ShortSignatureSectors", "signature sectors shorter than 1024 bytes",
     [] {
       DiskSpec disk;
       disk.name = "SHORT";
       disk.mediaType = 0x40;
       disk.tracks[0].sectors = {Sector(0, 0, 1, 3, 6)};
       disk.tracks[1].sectors = {Sector(0, 1, 5, 3, 300)};
       PutBytes(disk, 1, 5, 0, "ZEFA-LOMRI 1");
       PutBytes(disk, 0, 1, 2, "Zefa");
       return disk;
     },
     "  name: \"SHORT\"\n"
     "  media: 0x40 (1DD); tracks: 2 x 1 x 1024 (2D)\n"
     "  write protect: 0x00 (off)\n"
     "  geometry: 1 cylinder, 2 heads, 1 sector of 1024 bytes\n"
     "  track 0: 1 sector: C0 H0 R1 N3\n"
     "  track 1: 1 sector: C0 H1 R5 N3\n"
     "  zefacut: unsupported\n"
     "  identification sector, track 1 C0 H1 R5 N3: only 300 of 1024 bytes, bytes 0-11:\n"
     "    text |ZEFA-LOMRI 1|\n"
     "    hex  5A 45 46 41 2D 4C 4F 4D 52 49 20 31\n"
     "  boot sector, track 0 C0 H0 R1 N3: only 6 of 1024 bytes, bytes 2-26:\n"
     "    text |Zefa|\n"
     "    hex  5A 65 66 61\n"},
    {"UnknownMediaAndAShortBootSector",
     "an unknown media type, a boot sector too short to hold a label",
     [] {
       DiskSpec disk;
       disk.mediaType = 0x05;
       disk.tracks[0].sectors = {Sector(0, 0, 1, 3, 2)};
       return disk;
     },
     "  name: \"\"\n"
     "  media: 0x05 (unknown); tracks: 1 x 1 x 1024 (2D)\n"
     "  write protect: 0x00 (off)\n"
     "  geometry: 1 cylinder, 1 head, 1 sector of 1024 bytes\n"
     "  track 0: 1 sector: C0 H0 R1 N3\n"
     "  zefacut: unsupported\n"
     "  identification sector, track 1 C0 H1 R5 N3: not found\n"
     "  boot sector, track 0 C0 H0 R1 N3: only 2 of 1024 bytes\n"},
};

void PrintTo(const DiskCase& c, std::ostream* os) { *os << c.what; }

class D88InfoDiskTest : public ::testing::TestWithParam<DiskCase> {};

TEST_P(D88InfoDiskTest, ListsTheDisk) {
  const DiskCase& c = GetParam();
  const DiskSpec disk = c.disk();
  // The disk comes second, after a plain one, and last in the file.
  const std::size_t offset = BuildDisk(TwoTracks()).size();
  const Bytes image = BuildImage({TwoTracks(), disk});
  const std::size_t size = image.size() - offset;
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("image.d88"), image));

  const ToolResult result = RunD88info(dir, {"image.d88"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  const std::size_t start = result.out.find("\ndisk 2\n");
  ASSERT_NE(start, std::string::npos) << result.out;
  char header[128];
  std::snprintf(header, sizeof header, "\ndisk 2\n  offset: %zu (0x%zX)\n  size: %zu (0x%zX)\n",
                offset, offset, size, size);
  EXPECT_EQ(result.out.substr(start), std::string(header) + c.listing) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, D88InfoDiskTest, ::testing::ValuesIn(kDiskCases),
                         [](const ::testing::TestParamInfo<DiskCase>& info) {
                           return std::string(info.param.name);
                         });

// d88info's usage line on standard error after `error` (whole lines, or
// none), nothing on standard output, status 1.
void ExpectUsage(const ToolResult& result, const std::string& error) {
  constexpr char kUsageEnd[] = " [--json] [--write-d88 OUT.d88] IMAGE\n";
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  if (!UnderLauncher()) {
    EXPECT_EQ(result.err, error + "Usage: " + ProgramPath(Program::kD88info) + kUsageEnd);
    return;
  }
  // Argument 0 is whatever the launcher makes of the path.
  EXPECT_EQ(result.err.rfind(error + "Usage: ", 0), 0U) << result.err;
  const std::string end = kUsageEnd;
  ASSERT_GE(result.err.size(), end.size()) << result.err;
  EXPECT_EQ(result.err.substr(result.err.size() - end.size()), end) << result.err;
}

// "error: cannot open 'PATH': REASON" alone, status 1.
void ExpectCannotOpen(const ToolResult& result, const std::string& path, const char* reason) {
  EXPECT_EQ(result.status, 1) << path;
  EXPECT_EQ(result.out, "") << path;
  const std::string prefix = "error: cannot open '" + path + "': ";
  if (!UnderLauncher()) {
    EXPECT_EQ(result.err, prefix + reason + "\n");
  } else {
    // The reason is in the words of the system the program runs on.
    EXPECT_EQ(result.err.rfind(prefix, 0), 0U) << result.err;
  }
}

TEST(D88InfoTest, WithoutOneArgumentPrintsUsage) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("image.d88"), BuildImage({TwoTracks()})));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"image.d88", "more"},
        std::vector<std::string>{"--json"}, std::vector<std::string>{"image.d88", "--", "--json"},
        std::vector<std::string>{"image.d88", "--json", "image.d88"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    ExpectUsage(RunD88info(dir, args), "");
  }
}

TEST(D88InfoTest, ReportsAnImageItCannotOpen) {
  ScratchDir dir;
  fs::create_directory(dir.File("folder.d88"));
  const struct {
    const char* path;
    const char* reason;
  } cases[] = {{"missing", "No such file or directory"},
               {"missing.d88", "No such file or directory"},
               {"folder.d88", "Is a directory"}};
  for (const auto& c : cases) {
    ExpectCannotOpen(RunD88info(dir, {c.path}), c.path, c.reason);
  }
}

// Nothing is read from a path that leads to no plain file: a FIFO would wait
// for ever, a device might never end.
TEST(D88InfoTest, RefusesPathsThatAreNoPlainFilesAtOnce) {
  SKIP_UNDER_LAUNCHER();
  ScratchDir dir;
  ASSERT_EQ(mkfifo(dir.File("ff").c_str(), 0600), 0);
  for (const char* path : {"ff", "/dev/zero", "/dev/null"}) {
    if (fs::exists(path) || path[0] != '/') {
      ExpectCannotOpen(RunD88info(dir, {path}), path, "not a regular file");
    }
  }
}

// `-` lists the image on standard input, as its file would be listed.
TEST(D88InfoTest, DashListsStandardInput) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("image.d88"), BuildImage({KnownDisk(3, 8), TwoTracks()})));
  RunOptions options;
  options.stdinFrom = dir.File("image.d88");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-"}, std::vector<std::string>{"--json", "-"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    std::vector<std::string> fromFile = args;
    fromFile.back() = "image.d88";
    const ToolResult file = RunD88info(dir, fromFile);
    const ToolResult input = RunD88info(dir, args, options);
    EXPECT_EQ(input.status, 0);
    EXPECT_EQ(input.out, file.out);
    EXPECT_EQ(input.err, file.err);
  }
}

// --write-d88 writes every disk of the input as read, one after another, as
// the D88 writer lays them out; the listing is the same as without it. It
// never writes over the image it reads, and leaves no temporary file.
TEST(D88InfoTest, WritesWhatItReadAsD88) {
  ScratchDir dir;
  const DiskSpec first = KnownDisk(3, 8);
  const Bytes hfe = BuildInFormat(WrittenFormat::kHfe1, first);
  ASSERT_TRUE(WriteFileBytes(dir.File("image.hfe"), hfe));
  const ToolResult listed = RunD88info(dir, {"image.hfe"});
  const ToolResult result = RunD88info(dir, {"--write-d88", "out.d88", "image.hfe"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, listed.out);
  const OpenedImage read = OpenImage(MemorySource(hfe));
  ASSERT_TRUE(read.image);
  Bytes want;
  ASSERT_EQ(AppendD88Disk(*read.image, 0, want), "");
  EXPECT_EQ(ReadFileBytes(dir.File("out.d88")), want);
  EXPECT_EQ(EntriesIn(dir.Path()), (std::set<std::string>{"image.hfe", "out.d88"}));

#ifdef ZEFACUT_TEST_ARCHIVES
  // The disks of every image of an archive, in member order, replacing the
  // file written before.
  const DiskSpec second = PlainDisk(2, 9);
  const Bytes d88 = BuildImage({second, second});
  ASSERT_TRUE(WriteFileBytes(dir.File("set.zip"),
                             BuildArchive(ArchiveKind::kZip, {{"a.hfe", hfe}, {"b.d88", d88}})));
  EXPECT_EQ(RunD88info(dir, {"image.hfe", "--write-d88=out.d88"}).status, 0);
  const ToolResult archive = RunD88info(dir, {"--write-d88", "out.d88", "set.zip"});
  EXPECT_EQ(archive.status, 0);
  const OpenedImage two = OpenImage(MemorySource(d88));
  ASSERT_TRUE(two.image);
  ASSERT_EQ(AppendD88Disk(*two.image, 0, want), "");
  ASSERT_EQ(AppendD88Disk(*two.image, 1, want), "");
  EXPECT_EQ(ReadFileBytes(dir.File("out.d88")), want);
#endif

  // Not over the image being read, under any of its names.
  for (const std::string target : {"image.hfe", "./image.hfe"}) {
    SCOPED_TRACE(target);
    const ToolResult refused = RunD88info(dir, {"--write-d88", target, "image.hfe"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "error: cannot write '" + target + "': it is the image being read\n");
    EXPECT_EQ(ReadFileBytes(dir.File("image.hfe")), hfe);
  }
  // A file that cannot be made: an error, and status 1.
  const ToolResult lost = RunD88info(dir, {"--write-d88", "no/such/out.d88", "image.hfe"});
  EXPECT_EQ(lost.status, 1);
  EXPECT_NE(lost.err.find("error: cannot write 'no/such/out.d88': "), std::string::npos)
      << lost.err;
  ExpectUsage(RunD88info(dir, {"image.hfe", "--write-d88"}),
              "error: option '--write-d88' needs a file\n");
}

// --svg draws the map of every disk read into one SVG file, through a
// temporary file; the listing is the same as without it. Never over the
// image it reads.
TEST(D88InfoTest, DrawsTheMapOfEveryDiskAsSvg) {
  ScratchDir dir;
  DiskSpec known = KnownDisk(3, 8);
  known.tracks[12].sectors[5].status = 0xB0;
  const Bytes image = BuildImage({known, PlainDisk(2, 9)});
  ASSERT_TRUE(WriteFileBytes(dir.File("image.d88"), image));
  const ToolResult listed = RunD88info(dir, {"image.d88"});
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--svg", "map.svg", "image.d88"},
        std::vector<std::string>{"image.d88", "--svg=map.svg"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    ASSERT_TRUE(!fs::exists(dir.File("map.svg")) || fs::remove(dir.File("map.svg")));
    const ToolResult result = RunD88info(dir, args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, listed.out);
    const std::optional<Bytes> written = ReadFileBytes(dir.File("map.svg"));
    ASSERT_TRUE(written);
    const std::string svg(written->begin(), written->end());
    EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0U);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    for (const char* part :
         {"image.d88, disk 1 &quot;Title2DiskB&quot;", "image.d88, disk 2",
          ">ZEFA LOMRI 2 Disk B</text>", "track 12, C6 H0 R6 N3: data CRC error; file FMSE"}) {
      EXPECT_NE(svg.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(EntriesIn(dir.Path()), (std::set<std::string>{"image.d88", "map.svg"}));
  }

  for (const std::string target : {"image.d88", "./image.d88"}) {
    SCOPED_TRACE(target);
    const ToolResult refused = RunD88info(dir, {"--svg", target, "image.d88"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "error: cannot write '" + target + "': it is the image being read\n");
    EXPECT_EQ(ReadFileBytes(dir.File("image.d88")), image);
  }
  const ToolResult lost = RunD88info(dir, {"--svg", "no/such/map.svg", "image.d88"});
  EXPECT_EQ(lost.status, 1);
  EXPECT_NE(lost.err.find("error: cannot write 'no/such/map.svg': "), std::string::npos)
      << lost.err;
  ExpectUsage(RunD88info(dir, {"image.d88", "--svg"}), "error: option '--svg' needs a file\n");
}

// --- The command line ------------------------------------------------------------

TEST(D88InfoCommandLineTest, HelpAndVersionGoToStandardOutput) {
  ScratchDir dir;
  const std::string version = "d88info (zefacut) " ZEFACUT_EXPECTED_VERSION "\n";
  std::string help;
  const struct {
    std::vector<std::string> args;
    bool help;  // the help, or else the version
  } cases[] = {
      {{"-h"}, true},
      {{"--help"}, true},
      // Asked for help, a command line is not checked further.
      {{"--json", "-h", "missing.d88", "more"}, true},
      {{"-V"}, false},
      {{"--version"}, false},
      {{"--json", "--version"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ToolResult result = RunD88info(dir, c.args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    if (!c.help) {
      EXPECT_EQ(result.out, version);
      continue;
    }
    if (help.empty()) {
      help = result.out;
    }
    EXPECT_EQ(result.out, help);
    EXPECT_EQ(result.out.rfind("d88info lists what a disk image holds", 0), 0U) << result.out;
    EXPECT_NE(result.out.find("\nUsage: d88info [options] IMAGE\n"), std::string::npos);
    EXPECT_EQ(result.out.back(), '\n');
  }
}

TEST(D88InfoCommandLineTest, UnknownOptionsAreRefusedBeforeAnyImageIsRead) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("image.d88"), BuildImage({TwoTracks()})));
  const struct {
    std::vector<std::string> args;
    const char* option;
  } cases[] = {
      {{"-x"}, "-x"},
      {{"-x", "image.d88"}, "-x"},
      {{"--jsonx", "image.d88"}, "--jsonx"},
      {{"--json", "-j", "image.d88"}, "-j"},
      {{"image.d88", "--jsonx"}, "--jsonx"},
      {{"--", "image.d88"}, nullptr},  // the control: `--` alone is no option
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ToolResult result = RunD88info(dir, c.args);
    if (c.option == nullptr) {
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.err, "");
      continue;
    }
    ExpectUsage(result, std::string("error: unknown option '") + c.option + "'\n");
  }
}

TEST(D88InfoCommandLineTest, TheUsageLineNamesTheProgramByArgumentZero) {
  SKIP_UNDER_LAUNCHER();
  ScratchDir dir;
  RunOptions options;
  options.argv = {"my-d88info", "-x"};
  ToolResult result = RunD88info(dir, {}, options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "error: unknown option '-x'\nUsage: my-d88info [--json] [--write-d88 OUT.d88] IMAGE\n");
  // With no argument 0, the program's own name.
  options.argv = {"", "a.d88", "b.d88"};
  result = RunD88info(dir, {}, options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Usage: d88info [--json] [--write-d88 OUT.d88] IMAGE\n");
}

// Options before or after the image, until `--`.
TEST(D88InfoCommandLineTest, DoubleDashEndsTheOptions) {
  ScratchDir dir;
  const Bytes image = BuildImage({KnownDisk(3, 8)});
  ASSERT_TRUE(WriteFileBytes(dir.File("image.d88"), image));
  ASSERT_TRUE(WriteFileBytes(dir.File("-x.d88"), image));
  ASSERT_TRUE(WriteFileBytes(dir.File("--json"), image));
  const ToolResult plain = RunD88info(dir, {"image.d88"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const ToolResult json = RunD88info(dir, {"--json", "image.d88"});
  ASSERT_EQ(json.status, 0) << json.err;
  const struct {
    std::vector<std::string> args;
    const ToolResult& want;
  } cases[] = {
      {{"--", "-x.d88"}, plain},
      {{"--json", "--", "-x.d88"}, json},
      {{"--", "--json"}, plain},
      // Before `--`, an option counts wherever it stands.
      {{"image.d88", "--json"}, json},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ToolResult result = RunD88info(dir, c.args);
    EXPECT_EQ(result.status, c.want.status);
    EXPECT_EQ(result.err, c.want.err);
    EXPECT_EQ(result.out, c.want.out);
  }
  // After `--`, even -h is a file's name.
  ExpectCannotOpen(RunD88info(dir, {"--", "-h"}), "-h", "No such file or directory");
}

// Output that does not arrive ends the run with status 1, whatever it was
// listing; standard error says so.
TEST(D88InfoCommandLineTest, LostOutputEndsWithStatus1) {
  SKIP_WITHOUT_FULL_DEVICE();
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("image.d88"), BuildImage({KnownDisk(3, 9)})));
  RunOptions toFull;
  toFull.outTo = kFullDevice;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"image.d88"}, std::vector<std::string>{"--json", "image.d88"},
        std::vector<std::string>{"--help"}, std::vector<std::string>{"--version"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const ToolResult result = RunD88info(dir, args, toFull);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, kLostOutputError);
  }
}

TEST(D88InfoTest, ListsAnEmptyImage) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("empty.d88"), Bytes()));
  const ToolResult result = RunD88info(dir, {"empty.d88"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "format: unknown (0 bytes), read as D88\ndisks: 0\n");
}

}  // namespace

// --- Damaged dumps -------------------------------------------------------------

// d88info shows, before any cut, what the tool will warn of: each damaged
// dump's listing holds the lines that name its damage.
class D88InfoDamagedDumpTest : public ::testing::TestWithParam<DamagedDump> {};

TEST_P(D88InfoDamagedDumpTest, ShowsTheDamage) {
  const DamagedDump& dump = GetParam();
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("image.d88"), dump.image()));
  const ToolResult result = RunD88info(dir, {"image.d88"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  const std::string listing = "\n" + result.out;
  for (const std::string& line : dump.listing) {
    EXPECT_NE(listing.find("\n" + line + "\n"), std::string::npos)
        << "missing line: " << line << "\nin:\n"
        << result.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, D88InfoDamagedDumpTest, ::testing::ValuesIn(DamagedDumps()),
                         [](const ::testing::TestParamInfo<DamagedDump>& info) {
                           return std::string(info.param.name);
                         });

// A disk name recorded in Shift-JIS reaches a UTF-8 terminal as UTF-8, and
// a file as its own bytes (see kDiskCases); JSON is UTF-8 wherever it goes.
TEST(D88InfoTest, DiskNamesInEachStreamsForm) {
  SKIP_UNDER_LAUNCHER();
  ScratchDir dir;
  DiskSpec disk = TwoTracks();
  disk.name = "\x83\x5B\x83\x74\x83\x40\x1b[2J";  // "ゼファ" and a control sequence
  ASSERT_TRUE(WriteFileBytes(dir.File("image.d88"), BuildImage({disk})));
  const std::string utf8 = "\xE3\x82\xBC\xE3\x83\x95\xE3\x82\xA1\\x1b[2J";
  RunOptions terminal;
  terminal.locale = "C.UTF-8";
  terminal.terminalOut = true;
  const ToolResult shown = RunD88info(dir, {"image.d88"}, terminal);
  EXPECT_NE(shown.terminal.find("\n  name: \"" + utf8 + "\"\n"), std::string::npos)
      << shown.terminal;
  const ToolResult json = RunD88info(dir, {"--json", "image.d88"});
  EXPECT_NE(json.out.find("\"name\": \"\xE3\x82\xBC\xE3\x83\x95\xE3\x82\xA1\\\\x1b[2J\""),
            std::string::npos)
      << json.out;
  // --encoding chooses the text's form as zefacut's does, by any spelling.
  const ToolResult piped = RunD88info(dir, {"image.d88", "--encoding=UTF8"});
  EXPECT_NE(piped.out.find("\n  name: \"" + utf8 + "\"\n"), std::string::npos) << piped.out;
  const ToolResult sjis = RunD88info(dir, {"--encoding", "Shift_JIS", "image.d88"}, terminal);
  EXPECT_NE(sjis.terminal.find("\n  name: \"\x83\x5B\x83\x74\x83\x40\\x1b[2J\"\n"),
            std::string::npos)
      << sjis.terminal;
  const ToolResult unknown = RunD88info(dir, {"--encoding=latin1", "image.d88"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err.rfind("error: unknown encoding 'latin1'; use auto, sjis or utf-8\n", 0), 0U)
      << unknown.err;
}

// The JSON form carries what the listing tells of a file cut short and of a
// file no format claims.
TEST(D88InfoTest, JsonTellsTracksCutShortAndAFormatNotRecognised) {
  ScratchDir dir;
  for (const DamagedDump& dump : DamagedDumps()) {
    if (std::string(dump.name) == "EndsAfterTheFirstSectorOfATrack") {
      ASSERT_TRUE(WriteFileBytes(dir.File("cut.d88"), dump.image()));
    }
  }
  ASSERT_TRUE(WriteFileBytes(dir.File("odd.img"), Bytes(700000, 0xE5)));
  ASSERT_TRUE(WriteFileBytes(dir.File("720k.img"), Bytes(737280, 0xE5)));
  ToolResult result = RunD88info(dir, {"--json", "cut.d88"});
  EXPECT_EQ(result.status, 0);
  for (const char* fragment : {
           "\"formatRecognised\": true",
           "{\"track\": 0, \"cutShort\": false, \"announcedSectors\": null, \"sectors\": [{",
           "{\"track\": 12, \"cutShort\": true, \"announcedSectors\": 8, \"sectors\": [{",
           "{\"track\": 13, \"cutShort\": true, \"announcedSectors\": null, \"sectors\": []}",
       }) {
    EXPECT_NE(result.out.find(fragment), std::string::npos) << fragment << "\nin:\n" << result.out;
  }
  result = RunD88info(dir, {"--json", "odd.img"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("\"format\": \"D88\",\n  \"formatRecognised\": false,"),
            std::string::npos)
      << result.out;
  // A raw image of a usual disk's size is one, and says how it was laid out.
  result = RunD88info(dir, {"--json", "720k.img"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("\"format\": \"raw\",\n  \"formatRecognised\": true,"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("\"layout\": \"80 cylinders, 2 heads, 9 sectors of 512 bytes: the "
                            "size of a 720 KB disk; its boot sector holds no BPB\","),
            std::string::npos)
      << result.out;
}

// --json gives one JSON document: here, checked for the facts a script looks
// for, and for being one balanced document of well-formed strings.
TEST(D88InfoTest, JsonListsDisksTracksSectorsAndTheVerdict) {
  ScratchDir dir;
  DiskSpec disk = KnownDisk(3, 77);
  disk.name = std::string("Q\"\\\x82\xA0", 5);
  disk.tracks[12].sectors[5].status = 0xB0;
  ASSERT_TRUE(WriteFileBytes(dir.File("image.d88"), BuildImage({disk, PlainDisk(1, 2)})));
  const ToolResult result = RunD88info(dir, {"--json", "image.d88"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  const std::string& out = result.out;
  for (const char* fragment : {
           "\"format\": \"D88\"",
           // "あ" from its Shift-JIS bytes 0x82 0xA0.
           "\"number\": 1,",
           "\"name\": \"Q\\\"\\\\\xE3\x81\x82\"",
           "\"writeProtect\": 0,",
           "\"number\": 2,",
           "\"geometry\": {\"tracks\": 24, \"sectors\": 8, \"size\": 1024, \"kind\": \"2HD\", "
           "\"cylinders\": 12, \"heads\": 2}",
           "{\"c\": 6, \"h\": 0, \"r\": 6, \"n\": 3, \"size\": 1024, \"recordedSize\": 1024, "
           "\"density\": \"MFM\", \"flags\": [\"data CRC error\"]}",
           "\"verdict\": {\"recognised\": true, \"title\": \"ZEFA LOMRI 2\", \"disk\": \"Disk B\"",
           "{\"file\": \"FMSE\", \"note\": \"sector 6 0 6 3 of track 12 is marked as a data CRC "
           "error "
           "in the image\"}",
           "\"verdict\": {\"recognised\": false,",
           "\"identificationSector\": {\"track\": 1, \"c\": 0, \"h\": 1, \"r\": 5, \"n\": 3, "
           "\"found\": false, \"read\": 0, \"from\": 0, \"length\": 12, \"hex\": \"\", "
           "\"text\": \"\"},",
           "\"bootSector\": {\"track\": 0, \"c\": 0, \"h\": 0, \"r\": 1, \"n\": 3, "
           "\"found\": true, \"read\": 1024, \"from\": 2, \"length\": 25, \"hex\": ",
       }) {
    EXPECT_NE(out.find(fragment), std::string::npos) << fragment << "\nin:\n" << out;
  }
  // The bytes of the signature sectors are the ones the text listing shows.
  const ToolResult text = RunD88info(dir, {"image.d88"});
  for (std::size_t at = text.out.find("    hex  "); at != std::string::npos;
       at = text.out.find("    hex  ", at + 1)) {
    const std::size_t from = at + 9;
    const std::string hex = text.out.substr(from, text.out.find('\n', from) - from);
    EXPECT_NE(out.find("\"hex\": \"" + hex + "\""), std::string::npos) << hex;
  }
  // Brackets balance outside strings, and every string is UTF-8 with no raw
  // control character.
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const char ch = out[i];
    if (inString) {
      const Utf8Step step = NextUtf8(out, i);
      ASSERT_TRUE(step.valid) << "at " << i;
      ASSERT_FALSE(ActsOnText(step.code)) << "at " << i;
      i += step.length - 1;
      if (ch == '\\') {
        ++i;
      } else if (ch == '"') {
        inString = false;
      }
    } else if (ch == '"') {
      inString = true;
    } else if (ch == '{' || ch == '[') {
      ++depth;
    } else if (ch == '}' || ch == ']') {
      ASSERT_GT(depth, 0) << "at " << i;
      --depth;
    }
  }
  EXPECT_EQ(depth, 0);
  EXPECT_FALSE(inString);
}

namespace {

// --- Other formats -------------------------------------------------------------

TEST(D88InfoFormatsTest, NamesTheFormatAndTheGeometryBesideTheHeadersClaim) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("disk.fdi"), BuildFdi(KnownDisk(2, 3))));
  ASSERT_TRUE(WriteFileBytes(dir.File("pc.hfe"), ReadFixture("pc-360k-sector-test.hfe")));
  ASSERT_TRUE(WriteFileBytes(dir.File("towns.bin"), ReadFixture("towns-ipl-2hd.bin")));
  ASSERT_TRUE(WriteFileBytes(dir.File("pc.imd"), ReadFixture("pc-1200k-sector-test.imd")));
  ASSERT_TRUE(WriteFileBytes(dir.File("pc.td0"), ReadFixture("pc-360k-sector-test.td0")));
  const struct {
    const char* file;
    std::vector<std::string> lines;  // lines the listing holds, in order
  } cases[] = {
      {"disk.fdi",
       {"format: FDI, 1265664 bytes", "disks: 1",
        std::string("  geometry: 77 cylinders, 2 heads, 8 sectors of 1024 bytes; ") +
            "the header claims 77 cylinders, 2 heads, 8 sectors of 1024 bytes",
        "  track 153: 8 sectors: C76 H1 R1-8 N3", "  zefacut: recognises ZEFA LOMRI 2 Disk A"}},
      {"pc.hfe",
       {"format: HFE, 1054720 bytes",
        std::string("  geometry: 40 cylinders, 2 heads, 9 sectors of 512 bytes; ") +
            "the header claims 42 cylinders, 2 heads",
        "  track 79: 9 sectors: C39 H1 R1-9 N2", "  zefacut: unsupported"}},
      {"towns.bin",
       {"format: raw, 1261568 bytes", "  geometry: 77 cylinders, 2 heads, 8 sectors of 1024 bytes",
        "  track 0: 8 sectors: C0 H0 R1-8 N3"}},
      {"pc.imd",
       {"format: IMD, 8573 bytes", "  geometry: 80 cylinders, 2 heads, 15 sectors of 512 bytes",
        "  track 159: 15 sectors: C79 H1 R1-15 N2"}},
      // Compressed; its comment names the disk.
      {"pc.td0",
       {"format: Teledisk, 4680 bytes", "  name: \"sector test - 360k\"",
        "  geometry: 40 cylinders, 2 heads, 9 sectors of 512 bytes; the header claims 2 heads",
        "  track 79: 9 sectors: C39 H1 R1-9 N2", "  zefacut: unsupported"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const ToolResult result = RunD88info(dir, {c.file});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    std::size_t at = 0;
    for (const std::string& line : c.lines) {
      const std::size_t found = ("\n" + result.out).find("\n" + line + "\n", at);
      ASSERT_NE(found, std::string::npos) << line << "\nin:\n" << result.out;
      at = found + 1;
    }
  }
}

TEST(D88InfoFormatsTest, SingleDensitySectorsAreNamed) {
  // Track 0 in FM with a bad data CRC and deleted data; in the D88 one
  // sector of track 1 is FM too.
  ScratchDir dir;
  DiskSpec disk = PlainDisk(2, 0x46);
  disk.tracks[0] = FmTrackZero(0x46);
  disk.tracks[0].sectors[2].status = 0xB0;
  disk.tracks[0].sectors[4].deletedMark = 0x10;
  ASSERT_TRUE(WriteFileBytes(dir.File("fm.hfe"), BuildHfe(disk, 1)));
  ASSERT_TRUE(WriteFileBytes(dir.File("fm.scp"), BuildScp(disk)));
  disk.tracks[1].sectors[1].density = kFmDensity;
  ASSERT_TRUE(WriteFileBytes(dir.File("fm.d88"), BuildImage({disk})));
  const std::string track0 =
      "  track 0: 26 sectors: C0 H0 R1-26 N0; single density (FM); C0 H0 R3 N0 marked as a data "
      "CRC error; C0 H0 R5 N0 marked as deleted data";
  const struct {
    const char* file;
    std::vector<std::string> lines;  // lines the listing holds, in order
    const char* json;                // a fragment of the JSON listing
  } cases[] = {
      {"fm.hfe", {track0, "  track 1: 8 sectors: C0 H1 R1-8 N3"}, "\"density\": \"FM\""},
      {"fm.scp", {track0}, "\"density\": \"FM\", \"flags\": [\"deleted data\"]"},
      {"fm.d88",
       {track0, "  track 1: 8 sectors: C0 H1 R1-8 N3; single density (FM): C0 H1 R2 N3"},
       "{\"c\": 0, \"h\": 1, \"r\": 2, \"n\": 3, \"size\": 1024, \"recordedSize\": 1024, "
       "\"density\": \"FM\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const ToolResult result = RunD88info(dir, {c.file});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    std::size_t at = 0;
    for (const std::string& line : c.lines) {
      const std::size_t found = ("\n" + result.out).find("\n" + line + "\n", at);
      ASSERT_NE(found, std::string::npos) << line << "\nin:\n" << result.out;
      at = found + 1;
    }
    const ToolResult json = RunD88info(dir, {"--json", c.file});
    EXPECT_NE(json.out.find(c.json), std::string::npos) << json.out;
  }
}

TEST(D88InfoFormatsTest, FormatsItDoesNotReadAreNamed) {
  ScratchDir dir;
  const std::string text = "EXTENDED CPC DSK File\r\nDisk-Info\r\n";
  Bytes cpc(text.begin(), text.end());
  cpc.resize(512);
  ASSERT_TRUE(WriteFileBytes(dir.File("cpc.dsk"), cpc));
  const ToolResult result = RunD88info(dir, {"cpc.dsk"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "error: cpc.dsk: CPC DSK images are not read; convert the disk to D88, a raw image or "
            "HFE first\n");
}

#ifdef ZEFACUT_TEST_ARCHIVES
TEST(D88InfoFormatsTest, ListsEveryImageOfAnArchive) {
  ScratchDir dir;
  ASSERT_TRUE(
      WriteFileBytes(dir.File("set.zip"),
                     BuildArchive(ArchiveKind::kZip, {{"readme.txt", Bytes{'h', 'i'}},
                                                      {"a.hdm", BuildRaw(KnownDisk(2, 4))},
                                                      {"b.d88", BuildImage({KnownDisk(3, 5)})}})));
  ToolResult result = RunD88info(dir, {"set.zip"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out.rfind("archive: ZIP\n\nmember: a.hdm\nformat: raw, 1261568 bytes\n", 0), 0U)
      << result.out;
  EXPECT_NE(result.out.find("\nmember: b.d88\nformat: D88, "), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("readme"), std::string::npos);

  result = RunD88info(dir, {"--json", "set.zip"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.rfind("{\n  \"archive\": \"ZIP\",\n  \"members\": [\n    {\"member\": "
                             "\"a.hdm\", \"image\":\n    {\n      \"format\": \"raw\",",
                             0),
            0U)
      << result.out;
  EXPECT_NE(result.out.find("    ,\n    {\"member\": \"b.d88\", \"image\":\n"), std::string::npos);
  EXPECT_EQ(result.out.substr(result.out.size() - 12), "    }\n  ]\n}\n");
}

// As zefacut words it: an archive with no image is a warning (status 2),
// and the listing still names the archive.
TEST(D88InfoFormatsTest, AnArchiveWithNoImageIsAWarning) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("x.zip"),
                             BuildArchive(ArchiveKind::kZip, {{"readme.txt", Bytes{'h', 'i'}}})));
  const struct {
    std::vector<std::string> args;
    const char* out;
  } cases[] = {
      {{"x.zip"}, "archive: ZIP\n"},
      {{"--json", "x.zip"}, "{\n  \"archive\": \"ZIP\",\n  \"members\": [\n  ]\n}\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ToolResult result = RunD88info(dir, c.args);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "warning: x.zip: no disk image in the ZIP archive\n");
  }
}
#endif

}  // namespace

namespace {

// What d88info tells of flux dumps that only it reads whole or lists track
// by track: a 48 tpi disk read in a 96 tpi drive, a KryoFlux track whose
// file is missing, an SCP track left out of its table, and an SCP file whose
// checksum fails (a warning, status 2).
TEST(D88InfoFluxTest, TellsHowAFluxDumpWasReadAndWhatItLacks) {
  const DiskSpec disk = KnownDisk(3, 0x1A71);
  FluxOptions flux;
  flux.revolutions = 1;
  ScpOptions doubleStepped;
  doubleStepped.flux = flux;
  doubleStepped.doubleStepped = true;
  ScpOptions badSum;
  badSum.flux = flux;
  badSum.badChecksum = true;
  const Bytes badScp = BuildScp(disk, badSum);
  std::uint32_t sum = 0;
  for (std::size_t i = 0x10; i < badScp.size(); ++i) {
    sum += badScp[i];
  }
  char checksum[160];
  std::snprintf(checksum, sizeof checksum,
                "warning: image.scp: the checksum in the header is 0x%X but the file sums to "
                "0x%X: it was changed or damaged after it was written\n",
                sum + 1, sum);
  // Track 12 left out of an SCP's track table, its checksum made good.
  ScpOptions plain;
  plain.flux = flux;
  Bytes gapScp = BuildScp(disk, plain);
  std::fill_n(gapScp.begin() + 0x10 + std::ptrdiff_t{4} * 12, 4, 0);
  std::uint32_t gapSum = 0;
  for (std::size_t i = 0x10; i < gapScp.size(); ++i) {
    gapSum += gapScp[i];
  }
  for (std::size_t i = 0; i < 4; ++i) {
    gapScp[0x0C + i] = static_cast<std::uint8_t>(gapSum >> (8 * i));
  }
  std::map<int, KryoFluxTrackSpec> tracks;
  for (const auto& entry : disk.tracks) {
    if (entry.first != 12) {
      const WrittenFlux written = TrackFlux(disk, entry.first, flux, kKryoFluxSampleClock);
      tracks[entry.first] = {written.intervals, written.indexes, kKryoFluxSampleClock};
    }
  }
  const struct {
    const char* what;
    std::vector<std::pair<std::string, Bytes>> files;
    const char* given;
    std::string line;
    std::string err;
    int status;
    const char* json;  // a fragment of the JSON listing
  } cases[] = {
      {"double-stepped SCP",
       {{"image.scp", BuildScp(disk, doubleStepped)}},
       "image.scp",
       "  read in a 96 tpi drive: cylinder C from physical track 2C",
       "",
       0,
       "\"doubleStepped\": true,\n"},
      {"a KryoFlux file missing", KryoFluxDumpFiles(tracks, "dump"), "dump",
       "  track 12: no file track06.0.raw", "", 0,
       "{\"track\": 12, \"cutShort\": false, \"announcedSectors\": null, \"sectors\": [], "
       "\"flux\": {\"revolutions\": 0, \"dataRate\": 0, \"rpm\": 0.0, \"faults\": [], "
       "\"unread\": \"no file track06.0.raw\"}}"},
      {"an SCP track table entry missing",
       {{"image.scp", gapScp}},
       "image.scp",
       "  track 12: no entry in the track table",
       "",
       0,
       "\"unread\": \"no entry in the track table\"}}"},
      {"a bad checksum",
       {{"image.scp", badScp}},
       "image.scp",
       "  track 12: 8 sectors: C6 H0 R1-8 N3",
       checksum,
       2,
       "\"doubleStepped\": false,\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    for (const auto& [name, bytes] : c.files) {
      fs::create_directories(fs::path(dir.File(name)).parent_path());
      ASSERT_TRUE(WriteFileBytes(dir.File(name), bytes));
    }
    const ToolResult result = RunD88info(dir, {c.given});
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
    EXPECT_NE(("\n" + result.out).find("\n" + c.line + "\n"), std::string::npos) << result.out;
    const ToolResult json = RunD88info(dir, {"--json", c.given});
    EXPECT_EQ(json.status, c.status);
    EXPECT_NE(json.out.find(c.json), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"unread\": null}"), std::string::npos) << json.out;
  }
}

}  // namespace

// The manifest zefacut writes with --manifest: valid JSON, and true to the
// files the run left in the folder (their sizes and checksums computed here
// from the bytes on disk), to the sectors they came from and to the inputs
// read; and the listener that builds it, fed events directly.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "run/digests.h"
#include "run/manifest.h"
#include "support/json_reader.h"
#include "support/run_tool.h"
#include "testkit/expected_cuts.h"
#include "testkit/image_builder.h"
#ifdef ZEFACUT_TEST_ARCHIVES
#include "support/archive_writer.h"
#endif

namespace {

constexpr char kImage[] = "image.d88";
constexpr char kManifest[] = "manifest.json";
// Title 2's Disk B in the builder's table of known disks.
constexpr int kDiskB = 3;

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The manifest the run left in the scratch folder, parsed.
JsonValue ReadManifest(const ScratchDir& dir, const std::string& name = kManifest) {
  const std::optional<Bytes> bytes = ReadFileBytes(dir.File(name));
  if (!bytes) {
    ADD_FAILURE() << "no manifest " << name;
    return {};
  }
  std::string error;
  const std::optional<JsonValue> parsed = ParseJson(Text(*bytes), &error);
  if (!parsed) {
    ADD_FAILURE() << "the manifest is not JSON: " << error;
    return {};
  }
  return *parsed;
}

// Every file the manifest lists is in `folder` with the size and checksums
// it gives, and the folder holds no other file (a dry run: none at all).
void ExpectFolderMatches(const JsonValue& manifest, const std::string& folder) {
  std::set<std::string> listed;
  for (const JsonValue& file : manifest["files"].items) {
    const std::string path = file["path"].text;
    SCOPED_TRACE(path);
    listed.insert(path);
    if (manifest["dryRun"].boolean) {
      continue;
    }
    const std::optional<Bytes> bytes = ReadFileBytes(std::string(folder).append("/").append(path));
    ASSERT_TRUE(bytes.has_value());
    const Digests digests = DigestsOf(bytes->data(), bytes->size());
    EXPECT_EQ(file["size"].Integer(), static_cast<long long>(bytes->size()));
    EXPECT_EQ(file["crc32"].text, digests.crc32Hex);
    EXPECT_EQ(file["md5"].text, digests.md5);
    EXPECT_EQ(file["sha1"].text, digests.sha1);
    EXPECT_EQ(file["sha256"].text, digests.sha256);
  }
  EXPECT_EQ(static_cast<long long>(listed.size()), manifest["counts"]["files"].Integer());
  std::set<std::string> present;
  const std::function<void(const std::string&)> walk = [&](const std::string& under) {
    const std::string at = under.empty() ? folder : folder + "/" + under;
    for (const std::string& name : EntriesIn(at)) {
      const std::string path = under.empty() ? name : std::string(under).append("/").append(name);
      const std::string full = std::string(folder).append("/").append(path);
      struct stat facts {};
      if (stat(full.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode)) {
        walk(path);
      } else {
        present.insert(path);
      }
    }
  };
  if (!manifest["dryRun"].boolean) {
    walk("");
    EXPECT_EQ(present, listed);
  }
}

std::vector<std::string> Paths(const JsonValue& manifest) {
  const std::vector<JsonValue>& files = manifest["files"].items;
  std::vector<std::string> paths(files.size());
  std::transform(files.begin(), files.end(), paths.begin(),
                 [](const JsonValue& file) { return file["path"].text; });
  return paths;
}

std::vector<std::string> Names(const std::vector<ExpectedCut>& cuts, const std::string& folder) {
  std::vector<std::string> names(cuts.size());
  std::transform(cuts.begin(), cuts.end(), names.begin(),
                 [&folder](const ExpectedCut& cut) { return folder + cut.name; });
  return names;
}

// The file of that path in the manifest; a null value when it lists none.
const JsonValue& FileNamed(const JsonValue& manifest, const std::string& path) {
  const std::vector<JsonValue>& files = manifest["files"].items;
  const auto found = std::find_if(files.begin(), files.end(), [&path](const JsonValue& file) {
    return file["path"].text == path;
  });
  if (found != files.end()) {
    return *found;
  }
  ADD_FAILURE() << "no file " << path << " in the manifest";
  return manifest["no such member"];
}

// --- Runs of the tool ---------------------------------------------------------

TEST(ManifestTest, AKnownDiskCutCleanIsListedWithItsSourceAndChecksums) {
  const struct {
    const char* what;
    std::vector<std::string> options;
    std::string folder;  // where the files go inside "out"
  } kCases[] = {
      {"into the output folder", {}, ""},
      {"a folder per disk", {"-d"}, "image.d88 - ZEFA LOMRI 2 Disk B/"},
  };
  const DiskSpec disk = KnownDisk(kDiskB, 5);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({disk})));
    std::vector<std::string> args = {"-q", "-o", "out", "--manifest", kManifest};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(kImage);
    const ToolResult result = RunTool(dir, args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const JsonValue manifest = ReadManifest(dir);
    ExpectFolderMatches(manifest, dir.File("out"));
    EXPECT_EQ(Paths(manifest), Names(kTitle2DiskB, c.folder));

    EXPECT_EQ(manifest["tool"].text, "zefacut");
    EXPECT_EQ(manifest["version"].text, ZEFACUT_EXPECTED_VERSION);
    std::vector<std::string> given;
    for (std::size_t i = 1; i < manifest["commandLine"].items.size(); ++i) {
      given.push_back(manifest["commandLine"][i].text);
    }
    EXPECT_EQ(given, args);
    for (const char* moment : {"started", "ended"}) {
      EXPECT_TRUE(::testing::internal::RE::FullMatch(manifest[moment].text,
                                                     "[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]T"
                                                     "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]Z"))
          << manifest[moment].text;
    }
    EXPECT_LE(manifest["started"].text, manifest["ended"].text);
    EXPECT_FALSE(manifest["dryRun"].boolean);
    EXPECT_EQ(manifest["output"].text, "out");
    const JsonValue& counts = manifest["counts"];
    EXPECT_EQ(counts["files"].Integer(), 4);
    EXPECT_EQ(counts["warnings"].Integer(), 0);
    EXPECT_EQ(counts["errors"].Integer(), 0);
    EXPECT_EQ(counts["status"].Integer(), 0);
    EXPECT_EQ(counts["inputs"].Integer(), 1);
    EXPECT_EQ(counts["knownDisks"].Integer(), 1);

    // FMSE: 497 + 3124 bytes from track 12 sector 5, so sectors 5 to 8.
    const JsonValue& fmse = FileNamed(manifest, c.folder + "FMSE");
    const JsonValue& from = fmse["from"];
    EXPECT_EQ(from["input"].text, kImage);
    EXPECT_EQ(from["member"].text, "");
    EXPECT_EQ(from["format"].text, "D88");
    EXPECT_EQ(from["disk"].Integer(), 1);
    EXPECT_EQ(from["title"].text, "ZEFA LOMRI 2");
    EXPECT_EQ(from["kind"].text, "Disk B");
    EXPECT_EQ(from["first"]["track"].Integer(), 12);
    EXPECT_EQ(from["first"]["c"].Integer(), 6);
    EXPECT_EQ(from["first"]["h"].Integer(), 0);
    EXPECT_EQ(from["first"]["r"].Integer(), 5);
    EXPECT_EQ(from["first"]["n"].Integer(), 3);
    ASSERT_EQ(from["sectors"].items.size(), 4U);
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(from["sectors"][i]["r"].Integer(), static_cast<long long>(5 + i));
      EXPECT_EQ(from["sectors"][i]["state"].text, "good");
      EXPECT_TRUE(from["sectors"][i]["flags"].items.empty());
    }
    EXPECT_TRUE(fmse["notes"].items.empty());

    ASSERT_EQ(manifest["inputs"].items.size(), 1U);
    const JsonValue& input = manifest["inputs"][0];
    EXPECT_EQ(input["path"].text, kImage);
    EXPECT_EQ(input["format"].text, "D88");
    ASSERT_EQ(input["disks"].items.size(), 1U);
    EXPECT_EQ(input["disks"][0]["kind"].text, "ZEFA LOMRI 2 Disk B");
    EXPECT_TRUE(input["problems"].items.empty());
  }
}

// A sector the image marks: the file is written from it, with a warning, and
// the manifest says which sector and what the mark is.
TEST(ManifestTest, AMarkedSectorIsNamedWithItsFlagsAndTheFileKeepsItsNote) {
  ScratchDir dir;
  DiskSpec disk = KnownDisk(kDiskB, 6);
  for (SectorSpec& sector : disk.tracks[12].sectors) {
    if (sector.r == 6) {
      sector.status = 0xB0;  // data CRC error
    }
  }
  ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({disk})));
  const ToolResult result = RunTool(dir, {"-q", "-o", "out", "--manifest", kManifest, kImage});
  EXPECT_EQ(result.status, 2);
  const JsonValue manifest = ReadManifest(dir);
  ExpectFolderMatches(manifest, dir.File("out"));
  EXPECT_EQ(manifest["counts"]["status"].Integer(), 2);
  EXPECT_EQ(manifest["counts"]["warnings"].Integer(), 1);

  const JsonValue& fmse = FileNamed(manifest, "FMSE");
  const std::vector<JsonValue>& sectors = fmse["from"]["sectors"].items;
  ASSERT_EQ(sectors.size(), 4U);
  for (const JsonValue& sector : sectors) {
    const bool marked = sector["r"].Integer() == 6;
    EXPECT_EQ(sector["state"].text, marked ? "marked" : "good");
    ASSERT_EQ(sector["flags"].items.size(), marked ? 1U : 0U);
    if (marked) {
      EXPECT_EQ(sector["flags"][0].text, "data CRC error");
    }
  }
  ASSERT_EQ(fmse["notes"].items.size(), 1U);
  const JsonValue& note = fmse["notes"][0];
  EXPECT_EQ(note["severity"].text, "warning");
  EXPECT_EQ(note["text"].text.rfind("warning: FMSE: ", 0), 0U) << note["text"].text;
  EXPECT_EQ(result.err, note["text"].text + "\n");
  // The input's problems hold it too.
  ASSERT_EQ(manifest["inputs"][0]["problems"].items.size(), 1U);
  EXPECT_EQ(manifest["inputs"][0]["problems"][0]["text"].text, note["text"].text);
  EXPECT_TRUE(FileNamed(manifest, "FMBGM")["notes"].items.empty());
}

// A disk of no known kind, beside a known one in the same image: the input
// lists both, the unknown one as such, and only the known one's files.
TEST(ManifestTest, AnUnknownDiskIsListedAsUnknown) {
  ScratchDir dir;
  ASSERT_TRUE(
      WriteFileBytes(dir.File(kImage), BuildImage({PlainDisk(4, 7), KnownDisk(kDiskB, 8)})));
  const ToolResult result = RunTool(dir, {"-q", "-o", "out", "--manifest", kManifest, kImage});
  EXPECT_EQ(result.status, 0) << result.err;
  const JsonValue manifest = ReadManifest(dir);
  ExpectFolderMatches(manifest, dir.File("out"));
  EXPECT_EQ(Paths(manifest), Names(kTitle2DiskB, ""));
  EXPECT_EQ(FileNamed(manifest, "FMSE")["from"]["disk"].Integer(), 2);
  const JsonValue& disks = manifest["inputs"][0]["disks"];
  ASSERT_EQ(disks.items.size(), 2U);
  EXPECT_EQ(disks[0]["disk"].Integer(), 1);
  EXPECT_FALSE(disks[0]["known"].boolean);
  EXPECT_EQ(disks[0]["kind"].text, "unknown");
  EXPECT_EQ(disks[1]["disk"].Integer(), 2);
  EXPECT_EQ(disks[1]["kind"].text, "ZEFA LOMRI 2 Disk B");
  EXPECT_EQ(manifest["counts"]["disks"].Integer(), 2);
  EXPECT_EQ(manifest["counts"]["knownDisks"].Integer(), 1);
}

// A dry run writes only the manifest: it lists what would be written, with
// the checksums of the bytes the run would write (computed here from the
// disk's own bytes).
TEST(ManifestTest, ADryRunListsWhatWouldBeWrittenWithItsChecksums) {
  ScratchDir dir;
  const DiskSpec disk = KnownDisk(kDiskB, 9);
  ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({disk})));
  const ToolResult result =
      RunTool(dir, {"-n", "-q", "-o", "out", "--manifest", kManifest, kImage});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(EntriesIn(dir.Path()), (std::set<std::string>{kImage, kManifest}));
  const JsonValue manifest = ReadManifest(dir);
  EXPECT_TRUE(manifest["dryRun"].boolean);
  EXPECT_EQ(Paths(manifest), Names(kTitle2DiskB, ""));
  EXPECT_EQ(manifest["counts"]["files"].Integer(), 4);
  const Bytes linear = LinearBytes(disk, kKnownDiskTracks);
  for (const ExpectedCut& cut : kTitle2DiskB) {
    SCOPED_TRACE(cut.name);
    const Bytes bytes = Slice(linear, LinearAddress(cut), static_cast<std::size_t>(cut.length));
    const Digests digests = DigestsOf(bytes.data(), bytes.size());
    const JsonValue& file = FileNamed(manifest, cut.name);
    EXPECT_EQ(file["size"].Integer(), cut.length);
    EXPECT_EQ(file["sha256"].text, digests.sha256);
    EXPECT_EQ(file["md5"].text, digests.md5);
  }
}

// The same path cut twice in a run is one file in the folder, the later one;
// so is it in the manifest. A file the run may not replace is not listed.
TEST(ManifestTest, ListsEachPathOnceAsTheFolderHoldsIt) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("first.d88"), BuildImage({KnownDisk(kDiskB, 10)})));
  ASSERT_TRUE(WriteFileBytes(dir.File("second.d88"), BuildImage({KnownDisk(kDiskB, 11)})));
  ASSERT_EQ(mkdir(dir.File("out").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFileBytes(dir.File("out/BEEPSE"), Bytes(10, 0x55)));
  ASSERT_EQ(chmod(dir.File("out/BEEPSE").c_str(), 0444), 0);
  const ToolResult result =
      RunTool(dir, {"-q", "-o", "out", "--manifest", kManifest, "first.d88", "second.d88"});
  EXPECT_EQ(result.status, 1);
  const JsonValue manifest = ReadManifest(dir);
  EXPECT_EQ(Paths(manifest), (std::vector<std::string>{"FMBGM", "FMSE", "BEEPBGM"}));
  for (const std::string name : {"FMBGM", "FMSE", "BEEPBGM"}) {
    EXPECT_EQ(FileNamed(manifest, name)["from"]["input"].text, "second.d88");
  }
  // Each file the folder holds, the protected one aside, is as listed.
  ASSERT_EQ(chmod(dir.File("out/BEEPSE").c_str(), 0644), 0);
  ASSERT_EQ(unlink(dir.File("out/BEEPSE").c_str()), 0);
  ExpectFolderMatches(manifest, dir.File("out"));
}

#ifdef ZEFACUT_TEST_ARCHIVES
TEST(ManifestTest, AFileOfAnArchiveMemberNamesTheArchiveAndTheMember) {
  ScratchDir dir;
  const std::string member = "zefa2/disk b.d88";
  ASSERT_TRUE(WriteFileBytes(
      dir.File("disk.zip"),
      BuildArchive(ArchiveKind::kZip, {{member, BuildImage({KnownDisk(kDiskB, 12)})}})));
  const ToolResult result = RunTool(dir, {"-q", "-o", "out", "--manifest", kManifest, "disk.zip"});
  EXPECT_EQ(result.status, 0) << result.err;
  const JsonValue manifest = ReadManifest(dir);
  ExpectFolderMatches(manifest, dir.File("out"));
  const JsonValue& from = FileNamed(manifest, "FMSE")["from"];
  EXPECT_EQ(from["input"].text, "disk.zip");
  EXPECT_EQ(from["member"].text, member);
  EXPECT_EQ(from["format"].text, "D88");
  EXPECT_EQ(manifest["counts"]["inputs"].Integer(), 1);
  // The archive, then its member.
  const JsonValue& inputs = manifest["inputs"];
  ASSERT_EQ(inputs.items.size(), 2U);
  EXPECT_EQ(inputs[0]["path"].text, "disk.zip");
  EXPECT_TRUE(inputs[0]["format"].IsNull());
  EXPECT_EQ(inputs[1]["path"].text, "disk.zip/" + member);
  EXPECT_EQ(inputs[1]["member"].text, member);
  EXPECT_EQ(inputs[1]["disks"][0]["kind"].text, "ZEFA LOMRI 2 Disk B");
}
#endif

// A manifest that cannot be written fails the run, after the files are cut.
TEST(ManifestTest, AManifestThatCannotBeWrittenIsAnError) {
  SKIP_UNDER_LAUNCHER();  // the system's wording of the reason
  const struct {
    const char* path;
    const char* reason;
  } kCases[] = {
      {"no/such/folder/m.json", "No such file or directory"},
      {"out", "Is a directory"},
      {kImage, "it is the image being read"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File(kImage), BuildImage({KnownDisk(kDiskB, 13)})));
    const ToolResult result = RunTool(dir, {"-q", "-o", "out", "--manifest", c.path, kImage});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              std::string("error: cannot write the manifest '") + c.path + "': " + c.reason + "\n");
    EXPECT_EQ(EntriesIn(dir.File("out")),
              (std::set<std::string>{"FMBGM", "FMSE", "BEEPBGM", "BEEPSE"}));
  }
}

// --- The listener, fed events ---------------------------------------------------

FileCut CutOf(const std::string& path, const std::vector<unsigned char>& bytes) {
  FileCut cut;
  cut.image = "a.d88";
  cut.path = path;
  cut.name = path;
  cut.read = true;
  cut.size = bytes.size();
  cut.bytes = bytes.data();
  SectorRead sector;
  sector.at.track = 2;
  sector.at.id = {1, 0, 1, 3};
  cut.sectors.push_back(sector);
  return cut;
}

Note NoteAbout(const std::string& path, const char* code, Severity severity) {
  Note note;
  note.severity = severity;
  note.about = Subject::File;
  note.subject = path;
  note.path = path;
  note.words = code;
  note.code = code;
  return note;
}

// A file is listed only once nothing said it was not written: the checks of
// the run come after the file's event.
TEST(ManifestTest, ListsOnlyFilesThatReachedTheFolder) {
  Manifest manifest(ManifestSettings{"9.9", {"zefacut", "a.d88"}, "out/"});
  const std::vector<unsigned char> bytes = {'a', 'b', 'c'};
  manifest.Started({"a.d88", ""});
  ImageOpened opened;
  opened.name = "a.d88";
  opened.format = "D88";
  manifest.Opened(opened);
  DiskFound found;
  found.known = true;
  found.title = "T";
  found.disk = "Disk B";
  manifest.Found(found);
  manifest.Cut(CutOf("out/KEPT", bytes));
  manifest.Told(NoteAbout("out/KEPT", "file-note", Severity::Warning));
  manifest.Cut(CutOf("out/FAILED", bytes));
  manifest.Told(NoteAbout("out/FAILED", "cannot-write", Severity::Error));
  manifest.Cut(CutOf("out/PROTECTED", bytes));
  manifest.Told(NoteAbout("out/PROTECTED", "read-only", Severity::Error));
  FileCut unread = CutOf("out/UNREAD", {});
  unread.read = false;
  unread.bytes = nullptr;
  manifest.Cut(unread);
  manifest.Cut(CutOf("out/LAST", {}));
  manifest.Ended({});
  std::string error;
  const std::optional<JsonValue> json = ParseJson(manifest.Json(), &error);
  ASSERT_TRUE(json.has_value()) << error << "\n" << manifest.Json();
  EXPECT_EQ(Paths(*json), (std::vector<std::string>{"KEPT", "LAST"}));
  const JsonValue& kept = FileNamed(*json, "KEPT");
  EXPECT_EQ(kept["crc32"].text, "352441c2");
  EXPECT_EQ(kept["sha256"].text,
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(kept["notes"].items.size(), 1U);
  EXPECT_EQ(kept["from"]["kind"].text, "Disk B");
  // An empty file has the checksums of no bytes.
  EXPECT_EQ(FileNamed(*json, "LAST")["md5"].text, "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ((*json)["inputs"][0]["problems"].items.size(), 3U);
}

// Names that are not plain text stay valid JSON.
TEST(ManifestTest, ArgumentsOfAnyBytesAreValidJson) {
  Manifest manifest(ManifestSettings{
      "1", {"zefacut", "tab\there", "quote\"back\\slash", std::string("\x82\xa0\xff", 3), ""}, ""});
  manifest.Ended({});
  std::string error;
  const std::optional<JsonValue> json = ParseJson(manifest.Json(), &error);
  ASSERT_TRUE(json.has_value()) << error << "\n" << manifest.Json();
  EXPECT_EQ((*json)["commandLine"][1].text, "tab\there");
  EXPECT_EQ((*json)["commandLine"][2].text, "quote\"back\\slash");
  EXPECT_EQ((*json)["commandLine"].items.size(), 5U);
  EXPECT_EQ((*json)["output"].text, ".");
}

TEST(ManifestTest, MomentsAreIsoUtc) {
  const struct {
    std::time_t when;
    const char* text;
  } kCases[] = {
      {0, "1970-01-01T00:00:00Z"},
      {951782400, "2000-02-29T00:00:00Z"},  // a leap day of a century
      {1781179199, "2026-06-11T11:59:59Z"},
      {4107542400, "2100-03-01T00:00:00Z"},  // 2100 is no leap year
      {-1, "1969-12-31T23:59:59Z"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(IsoUtc(c.when), c.text) << c.when;
  }
}

TEST(ManifestTest, SectorStates) {
  const struct {
    SectorFlags flags;
    int good;
    int of;
    const char* state;
  } kCases[] = {
      {0, 0, 0, "good"},
      {0, 5, 5, "good"},
      {0, 3, 5, "recovered"},
      {0, 0, 5, "recovered"},
      {kDataCrcError, 0, 0, "marked"},
      {kDeletedData, 5, 5, "marked"},
  };
  for (const auto& c : kCases) {
    SectorRead sector;
    sector.flags = c.flags;
    sector.revolutionsGood = c.good;
    sector.revolutions = c.of;
    EXPECT_STREQ(SectorState(sector), c.state);
  }
}

}  // namespace

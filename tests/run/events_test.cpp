// The run told as events: what a listener hears for the main paths (a known
// disk cut, an unknown disk with its signature sectors as read, a file with a
// bad sector, an archive member, progress and the end), the events as JSON,
// several named buffers read as one input, and d88info's listing built once
// and rendered twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "input/byte_source.h"
#include "input/open_image.h"
#include "known/known_disks.h"
#include "run/cut_run.h"
#include "run/event_json.h"
#include "run/events.h"
#include "run/listing.h"
#include "run/memory_output.h"
#ifdef ZEFACUT_TEST_ARCHIVES
#include "support/archive_writer.h"
#endif
#include "testkit/expected_cuts.h"
#include "testkit/flux_writers.h"
#include "testkit/image_builder.h"
#include "testkit/kryoflux_writer.h"

namespace fs = std::filesystem;

namespace {

// Every event a run tells, in order: each kind by its letter (S started,
// O opened, D disk, F file, N note, P progress, E end), and each kind's
// events.
class Recorder : public RunListener {
 public:
  void Started(const InputStarted& event) override {
    order += 'S';
    started.push_back(event);
  }
  void Opened(const ImageOpened& event) override {
    order += 'O';
    opened.push_back(event);
  }
  void Found(const DiskFound& event) override {
    order += 'D';
    disks.push_back(event);
  }
  void Cut(const FileCut& event) override {
    order += 'F';
    files.push_back(event);
  }
  void Told(const Note& event) override {
    order += 'N';
    notes.push_back(event);
  }
  void Advanced(const Progress& event) override {
    order += 'P';
    progress.push_back(event);
  }
  void Ended(const RunEnded& event) override {
    order += 'E';
    ended.push_back(event);
  }

  std::string order;
  std::vector<InputStarted> started;
  std::vector<ImageOpened> opened;
  std::vector<DiskFound> disks;
  std::vector<FileCut> files;
  std::vector<Note> notes;
  std::vector<Progress> progress;
  std::vector<RunEnded> ended;
};

struct Heard {
  Recorder events;
  std::string json;
  std::string out;
  std::string err;
  int status = -1;
};

// A run over bytes named `name`, heard by a recorder and as JSON.
std::unique_ptr<Heard> Hear(const std::string& name, const Bytes& bytes,
                            const CutSettings& settings = {}) {
  auto heard = std::make_unique<Heard>();
  MemoryOutput output(TextForm::Utf8);
  EventJson json;
  CutRun run(output, settings);
  run.GetReport().Listen(heard->events);
  run.GetReport().Listen(json);
  run.CutBytes(name, bytes, "");
  run.End();
  heard->json = json.Document();
  heard->out = output.Out();
  heard->err = output.Err();
  heard->status = run.Status();
  return heard;
}

SectorAddress At(int track, int r) {
  return {track,
          {static_cast<std::uint8_t>(track / 2), static_cast<std::uint8_t>(track % 2),
           static_cast<std::uint8_t>(r), kSizeCode}};
}

bool operator==(const SectorAddress& a, const SectorAddress& b) {
  return a.track == b.track && a.id.c == b.id.c && a.id.h == b.id.h && a.id.r == b.id.r &&
         a.id.n == b.id.n;
}

TEST(RunEventsTest, AKnownDiskIsFoundAndItsFilesCutWithTheirSectors) {
  const DiskSpec disk = KnownDisk(3, 11);
  const auto heard = Hear("game.d88", BuildImage({disk}));
  const ExpectedDisk& kind = kKinds[3];
  const std::size_t count = kind.cuts.size();
  EXPECT_EQ(heard->events.order, "SOD" + std::string(count, 'F') + "PE");

  ASSERT_EQ(heard->events.started.size(), 1U);
  EXPECT_EQ(heard->events.started[0].name, "game.d88");
  EXPECT_EQ(heard->events.started[0].member, "");
  ASSERT_EQ(heard->events.opened.size(), 1U);
  EXPECT_EQ(heard->events.opened[0].format, "D88");
  EXPECT_TRUE(heard->events.opened[0].formatRecognised);
  EXPECT_EQ(heard->events.opened[0].size, static_cast<std::int64_t>(BuildImage({disk}).size()));
  EXPECT_EQ(heard->events.opened[0].diskCount, 1);

  ASSERT_EQ(heard->events.disks.size(), 1U);
  const DiskFound& found = heard->events.disks[0];
  EXPECT_TRUE(found.known);
  EXPECT_EQ(found.title, kind.title);
  EXPECT_EQ(found.disk, kind.disk);
  EXPECT_EQ(found.files, static_cast<int>(count));
  EXPECT_EQ(found.index, 0);
  EXPECT_EQ(found.count, 1);
  EXPECT_TRUE(found.evidence.empty());

  ASSERT_EQ(heard->events.files.size(), count);
  for (std::size_t i = 0; i < count; ++i) {
    const ExpectedCut& cut = kind.cuts[i];
    const FileCut& file = heard->events.files[i];
    SCOPED_TRACE(cut.name);
    EXPECT_EQ(file.name, cut.name);
    EXPECT_EQ(file.path, cut.name);
    EXPECT_TRUE(file.read);
    EXPECT_FALSE(file.planned);
    EXPECT_EQ(file.size, static_cast<std::size_t>(cut.length));
    ASSERT_FALSE(file.sectors.empty());
    EXPECT_TRUE(file.sectors.front().at == At(cut.track, cut.r));
    // The sectors cover the file's bytes, from its offset in the first.
    const std::size_t covered = file.sectors.size() * static_cast<std::size_t>(kSectorSize);
    EXPECT_GE(covered, static_cast<std::size_t>(cut.offset + cut.length));
    EXPECT_LT(covered - static_cast<std::size_t>(kSectorSize),
              static_cast<std::size_t>(cut.offset + cut.length));
    EXPECT_TRUE(file.notes.empty());
  }

  ASSERT_EQ(heard->events.progress.size(), 1U);
  EXPECT_EQ(heard->events.progress[0].done, 1);
  EXPECT_EQ(heard->events.progress[0].total, 1);
  EXPECT_EQ(heard->events.progress[0].unit, "disks");
  ASSERT_EQ(heard->events.ended.size(), 1U);
  EXPECT_EQ(heard->events.ended[0].files, static_cast<int>(count));
  EXPECT_EQ(heard->events.ended[0].warnings, 0);
  EXPECT_EQ(heard->events.ended[0].errors, 0);
  EXPECT_EQ(heard->events.ended[0].status, 0);
}

// A dry run plans the same files; the text says where each comes from.
TEST(RunEventsTest, ADryRunPlansTheFiles) {
  CutSettings dry;
  dry.dryRun = true;
  const auto heard = Hear("game.d88", BuildImage({KnownDisk(3, 11)}), dry);
  ASSERT_FALSE(heard->events.files.empty());
  for (const FileCut& file : heard->events.files) {
    EXPECT_TRUE(file.planned);
  }
  EXPECT_TRUE(heard->events.ended.at(0).dryRun);
  EXPECT_EQ(heard->events.ended.at(0).files, static_cast<int>(heard->events.files.size()));
}

// An unknown disk carries the signature sectors' bytes as recognition read
// them: the compared bytes of a whole sector, none of a missing one.
TEST(RunEventsTest, AnUnknownDiskCarriesItsSignatureSectorsAsRead) {
  DiskSpec disk = PlainDisk(4, 5);
  RemoveSector(disk, 0, 1);  // no boot sector
  const auto heard = Hear("other.d88", BuildImage({disk}));
  EXPECT_EQ(heard->events.order, "SODPE");
  const DiskFound& found = heard->events.disks.at(0);
  EXPECT_FALSE(found.known);
  EXPECT_EQ(found.title, "");
  ASSERT_EQ(found.evidence.size(), 2U);

  const SignatureEvidence& identification = found.evidence[0];
  EXPECT_TRUE(identification.at == kIdentificationSector);
  EXPECT_EQ(identification.got, kSectorSize);
  ASSERT_GT(identification.length, 0);
  const Bytes& sector = SectorData(disk, 1, 5);
  EXPECT_EQ(identification.bytes,
            Bytes(sector.begin() + identification.from,
                  sector.begin() + identification.from + identification.length));

  const SignatureEvidence& boot = found.evidence[1];
  EXPECT_TRUE(boot.at == kBootSector);
  EXPECT_EQ(boot.got, 0);
  EXPECT_TRUE(boot.bytes.empty());
  EXPECT_NE(heard->json.find("\"evidence\": [{\"track\": 1, \"c\": 0, \"h\": 1, \"r\": 5, "
                             "\"n\": 3, \"found\": true, \"read\": 1024"),
            std::string::npos)
      << heard->json;
  EXPECT_EQ(heard->events.ended.at(0).status, 0);
}

// A sector marked bad: the file is cut, its sector carries the mark, and
// the note about it names the file, the path and the severity.
TEST(RunEventsTest, AFileWithABadSectorCarriesItsNote) {
  DiskSpec disk = KnownDisk(3, 11);
  const ExpectedCut& cut = kKinds[3].cuts[0];
  for (SectorSpec& sector : disk.tracks[cut.track].sectors) {
    if (sector.r == cut.r) {
      sector.status = 0xB0;  // data CRC error
    }
  }
  const auto heard = Hear("game.d88", BuildImage({disk}));
  const FileCut& file = heard->events.files.at(0);
  EXPECT_EQ(file.name, cut.name);
  EXPECT_NE(file.sectors.at(0).flags, 0);
  ASSERT_EQ(file.notes.size(), 1U);
  ASSERT_EQ(heard->events.notes.size(), 1U);
  const Note& note = heard->events.notes[0];
  EXPECT_EQ(note.severity, Severity::Warning);
  EXPECT_EQ(note.about, Subject::File);
  EXPECT_EQ(note.subject, cut.name);
  EXPECT_EQ(note.path, cut.name);
  EXPECT_EQ(note.code, "file-note");
  EXPECT_EQ(note.words, file.notes[0]);
  EXPECT_EQ(note.disk, 0);
  // The note follows its file, and the text tells it as ever.
  EXPECT_EQ(heard->events.order.substr(0, 5), "SODFN");
  EXPECT_EQ(heard->err, "warning: " + std::string(cut.name) + ": " + note.words + "\n");
  EXPECT_NE(heard->json.find("\"flags\": [\"data CRC error\"]"), std::string::npos);
  EXPECT_EQ(heard->events.ended.at(0).warnings, 1);
  EXPECT_EQ(heard->events.ended.at(0).status, 2);
}

// The whole document for an input that is no disk image: every field of
// the events it has, in the order they came.
TEST(RunEventsTest, TheJsonDocumentHoldsEveryEvent) {
  const std::string text = "hello world\n";
  const auto heard = Hear("notes\x01.txt", Bytes(text.begin(), text.end()));
  EXPECT_EQ(heard->json,
            "{\"events\": [\n"
            "  {\"event\": \"started\", \"name\": \"notes\\u0001.txt\", \"member\": \"\"},\n"
            "  {\"event\": \"opened\", \"name\": \"notes\\u0001.txt\", \"member\": \"\", "
            "\"format\": \"D88\", \"formatRecognised\": false, \"size\": 12, \"disks\": 0},\n"
            "  {\"event\": \"note\", \"severity\": \"warning\", \"about\": \"image\", "
            "\"subject\": \"notes\\u0001.txt\", \"words\": \"no image format recognised (12 "
            "bytes); read as D88\", \"text\": \"warning: notes\\\\x01.txt: no image format "
            "recognised (12 bytes); read as D88\", \"code\": \"format-unrecognised\", "
            "\"image\": \"notes\\u0001.txt\", \"disk\": null, \"track\": null, \"sector\": null, "
            "\"path\": \"\"},\n"
            "  {\"event\": \"note\", \"severity\": \"warning\", \"about\": \"image\", "
            "\"subject\": \"notes\\u0001.txt\", \"words\": \"no disk found\", \"text\": "
            "\"warning: notes\\\\x01.txt: no disk found\", \"code\": \"no-disk\", \"image\": "
            "\"notes\\u0001.txt\", \"disk\": null, \"track\": null, \"sector\": null, \"path\": "
            "\"\"},\n"
            "  {\"event\": \"end\", \"files\": 0, \"warnings\": 2, \"errors\": 0, \"status\": 2, "
            "\"dryRun\": false}\n"
            "]}\n");
  EXPECT_EQ(heard->err,
            "warning: notes\\x01.txt: no image format recognised (12 bytes); read as D88\n"
            "warning: notes\\x01.txt: no disk found\n");
}

// A file that cannot be opened: the error note, with the line that comes
// before it in the text.
TEST(RunEventsTest, AnInputThatCannotBeOpenedIsAnErrorNote) {
  Recorder events;
  MemoryOutput output(TextForm::Utf8);
  CutRun run(output, CutSettings{});
  run.GetReport().Listen(events);
  const std::string missing = (fs::path(testing::TempDir()) / "no such image.d88").string();
  run.CutFile(missing, "");
  run.End();
  EXPECT_EQ(events.order, "SNE");
  const Note& note = events.notes.at(0);
  EXPECT_EQ(note.severity, Severity::Error);
  EXPECT_EQ(note.code, "cannot-open");
  EXPECT_TRUE(note.subjectInWords);
  EXPECT_EQ(note.words, "cannot open '" + missing + "': No such file or directory");
  EXPECT_EQ(events.ended.at(0).status, 1);
}

#ifdef ZEFACUT_TEST_ARCHIVES
// An archive's member starts as an input of its own, named by its path
// inside the archive.
TEST(RunEventsTest, AnArchiveMemberStartsWithItsPath) {
  const Bytes zip =
      BuildArchive(ArchiveKind::kZip, {{"disks/game.d88", BuildImage({KnownDisk(5, 3)})}});
  const auto heard = Hear("set.zip", zip);
  ASSERT_EQ(heard->events.started.size(), 2U);
  EXPECT_EQ(heard->events.started[0].name, "set.zip");
  EXPECT_EQ(heard->events.started[0].member, "");
  EXPECT_EQ(heard->events.started[1].name, "set.zip/disks/game.d88");
  EXPECT_EQ(heard->events.started[1].member, "disks/game.d88");
  EXPECT_EQ(heard->events.order.substr(0, 4), "SSOD");
  ASSERT_EQ(heard->events.opened.size(), 1U);
  EXPECT_EQ(heard->events.opened[0].member, "disks/game.d88");
  EXPECT_EQ(heard->events.disks.at(0).image, "set.zip/disks/game.d88");
  EXPECT_EQ(heard->out.substr(0, 35), "reading ... set.zip/disks/game.d88\n");
}
#endif

// A KryoFlux dump's stream files given as named buffers are cut as the
// folder that holds them is: the same lines, the same files.
TEST(RunEventsTest, NamedStreamBuffersAreCutLikeTheirFolder) {
  const DiskSpec disk = KnownDisk(3, 43, 14);
  std::map<int, KryoFluxTrackSpec> tracks;
  FluxOptions options;
  options.revolutions = 1;
  for (const auto& entry : disk.tracks) {
    const WrittenFlux flux = TrackFlux(disk, entry.first, options, kKryoFluxSampleClock);
    tracks[entry.first] = KryoFluxTrackSpec{flux.intervals, flux.indexes, kKryoFluxSampleClock};
  }
  // One track left out, so that the lines tell of a missing file too.
  tracks.erase(13);
  const auto files = KryoFluxDumpFiles(tracks, "dump");
  const fs::path folder = fs::path(testing::TempDir()) / "events_test_dump" / "dump";
  fs::remove_all(folder.parent_path());
  fs::create_directories(folder);
  std::vector<NamedBuffer> buffers;
  for (const auto& [name, bytes] : files) {
    ASSERT_TRUE(WriteFileBytes((folder.parent_path() / name).string(), bytes));
    buffers.push_back({name, bytes});
  }
  // Given in another order than the folder lists them.
  std::reverse(buffers.begin(), buffers.end());

  MemoryOutput fromFolder(TextForm::Utf8);
  CutRun folderRun(fromFolder, CutSettings{});
  folderRun.CutFile(folder.string(), "");
  MemoryOutput fromBuffers(TextForm::Utf8);
  CutRun bufferRun(fromBuffers, CutSettings{});
  bufferRun.CutBuffers(folder.string(), std::move(buffers), "");
  fs::remove_all(folder.parent_path());

  EXPECT_EQ(fromBuffers.Out(), fromFolder.Out());
  EXPECT_EQ(fromBuffers.Err(), fromFolder.Err());
  EXPECT_EQ(fromBuffers.Files(), fromFolder.Files());
  EXPECT_EQ(bufferRun.Status(), folderRun.Status());
  EXPECT_NE(fromBuffers.Out().find("cutting ... "), std::string::npos);
}

// Buffers that are not stream files are read each as its own input.
TEST(RunEventsTest, OtherBuffersAreReadOneByOne) {
  MemoryOutput output(TextForm::Utf8);
  Recorder events;
  CutRun run(output, CutSettings{});
  run.GetReport().Listen(events);
  std::vector<NamedBuffer> buffers;
  buffers.push_back({"a.d88", BuildImage({KnownDisk(5, 3)})});
  buffers.push_back({"b.d88", BuildImage({PlainDisk(2, 1)})});
  run.CutBuffers("chosen", std::move(buffers), "");
  ASSERT_EQ(events.opened.size(), 2U);
  EXPECT_EQ(events.opened[0].name, "a.d88");
  EXPECT_EQ(events.opened[1].name, "b.d88");
  EXPECT_EQ(events.disks.size(), 2U);
}

// The listing is built once: its text and JSON are those of the image, and
// the signature sectors it shows for an unknown disk are recognition's.
TEST(ImageListingTest, TextAndJsonComeFromOneListing) {
  DiskSpec unknown = PlainDisk(6, 9);
  SectorData(unknown, 0, 1).resize(100);  // a short boot sector
  const Bytes image = BuildImage({KnownDisk(3, 11), unknown});
  const auto open = [&image] { return OpenImage(MemorySource(Bytes(image))); };
  const OpenedImage once = open();
  ASSERT_TRUE(once.image);
  const ImageListing listing = BuildListing(*once.image);
  std::string text;
  std::string json;
  ListImage(listing, [&text](const std::string& line) { text += line + "\n"; });
  ListImageJson(listing, [&json](const std::string& line) { json += line + "\n"; });

  std::string freshText;
  std::string freshJson;
  ListImage(*open().image, [&freshText](const std::string& line) { freshText += line + "\n"; });
  ListImageJson(*open().image, [&freshJson](const std::string& line) { freshJson += line + "\n"; });
  EXPECT_EQ(text, freshText);
  EXPECT_EQ(json, freshJson);

  ASSERT_EQ(listing.disks.size(), 2U);
  EXPECT_EQ(listing.disks[0].geometry.sectors, 8);
  EXPECT_EQ(listing.disks[0].geometry.size, 1024);
  ASSERT_NE(listing.disks[0].verdict.known, nullptr);
  EXPECT_STREQ(listing.disks[0].verdict.known->title, kKinds[3].title);
  EXPECT_EQ(listing.disks[1].verdict.known, nullptr);
  ASSERT_EQ(listing.disks[1].verdict.evidence.size(), 2U);
  EXPECT_EQ(listing.disks[1].verdict.evidence[1].got, 100);
  EXPECT_NE(text.find("  boot sector, track 0 C0 H0 R1 N3: only 100 of 1024 bytes"),
            std::string::npos)
      << text;
  EXPECT_NE(json.find("\"bootSector\": {\"track\": 0, \"c\": 0, \"h\": 0, \"r\": 1, \"n\": 3, "
                      "\"found\": true, \"read\": 100"),
            std::string::npos);

  // The run's evidence for the same disk is the listing's.
  const auto heard = Hear("two.d88", image);
  const DiskFound& found = heard->events.disks.at(1);
  ASSERT_EQ(found.evidence.size(), 2U);
  for (std::size_t i = 0; i < 2; ++i) {
    const SignatureRead& read = listing.disks[1].verdict.evidence[i];
    EXPECT_EQ(found.evidence[i].got, read.got);
    EXPECT_EQ(found.evidence[i].bytes,
              Bytes(read.sector.begin() + read.from, read.sector.begin() + read.ShownEnd()));
  }
}

}  // namespace

// Every format read through the one model: the format chosen by content, and
// each known disk recognised and cut from every format to the bytes and notes
// its D88 form gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "flux/kryoflux_image.h"
#include "input/image_input.h"
#include "input/open_image.h"
#include "known/cut_reading.h"
#include "known/known_disks.h"
#include "known/recognition.h"
#include "support/format_test_helpers.h"
#include "support/scratch_folder.h"
#include "support/test_files.h"
#include "testkit/flux_writers.h"
#include "testkit/format_writers.h"
#include "testkit/image_builder.h"
#include "testkit/kryoflux_writer.h"

namespace {

// The bytes a cut gives and what is said of them.
struct CutOutcome {
  bool written = false;
  Bytes bytes;
  std::vector<std::string> notes;
};

std::vector<CutOutcome> CutAll(DiskImage& image, DiskKind kind) {
  std::vector<CutOutcome> outcomes;
  const KnownDiskRow* known = FindKnownDisk(kind);
  for (std::size_t i = 0; known != nullptr && i < known->cutCount; ++i) {
    const CutReading reading = ReadCut(image, 0, known->cuts[i]);
    CutOutcome outcome;
    outcome.written = reading.written;
    if (reading.written) {
      const auto from = reading.run.bytes.begin() + static_cast<std::ptrdiff_t>(reading.from);
      outcome.bytes.assign(from, from + static_cast<std::ptrdiff_t>(reading.size));
    }
    outcome.notes = reading.notes;
    outcomes.push_back(outcome);
  }
  return outcomes;
}

// The image's cuts of a known disk give what its D88 form's give.
void ExpectTheCutsOf(DiskImage& image, DiskKind kind, const std::vector<CutOutcome>& want) {
  const std::vector<CutOutcome> got = CutAll(image, kind);
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(FindKnownDisk(kind)->cuts[i].name.data());
    EXPECT_EQ(got[i].written, want[i].written);
    EXPECT_TRUE(got[i].bytes == want[i].bytes);
    EXPECT_EQ(got[i].notes, want[i].notes);
  }
}

// The disk as a KryoFlux dump, each track's flux as a drifting drive read
// it, in the files of a folder; `use` gets the dump as the tool reads it
// from there.
void WithKryoFluxDump(const DiskSpec& disk, const FluxOptions& options,
                      const std::function<void(DiskImage&)>& use) {
  std::map<int, KryoFluxTrackSpec> tracks;
  for (const auto& entry : disk.tracks) {
    const WrittenFlux flux = TrackFlux(disk, entry.first, options, kKryoFluxSampleClock);
    tracks[entry.first] = KryoFluxTrackSpec{flux.intervals, flux.indexes, kKryoFluxSampleClock};
  }
  const std::filesystem::path folder = MakeScratchFolder("kryoflux");
  for (const auto& [name, bytes] : KryoFluxDumpFiles(tracks)) {
    ASSERT_TRUE(WriteFileBytes((folder / name).string(), bytes));
  }
  class Visitor : public ImageVisitor {
   public:
    explicit Visitor(const std::function<void(DiskImage&)>& use) : use_(use) {}
    void Image(const std::string& /*name*/, const std::string& /*member*/,
               DiskImage& image) override {
      ++images;
      use_(image);
    }
    void Problem(const InputProblem& problem) override { ADD_FAILURE() << ProblemLine(problem); }
    int images = 0;

   private:
    const std::function<void(DiskImage&)>& use_;
  } visitor(use);
  ForEachImage(folder.string(), visitor);
  EXPECT_EQ(visitor.images, 1);
  std::filesystem::remove_all(folder);
}

TEST(EveryFormatTest, EachWriterIsReadAsItsFormat) {
  const DiskSpec disk = KnownDisk(2, 91);
  for (const WrittenFormatName& format : WrittenFormats()) {
    SCOPED_TRACE(format.name);
    if (!ReadInThisBuild(format.format)) {
      continue;
    }
    const OpenedImage opened = Open(BuildInFormat(format.format, disk));
    ASSERT_TRUE(opened.image) << opened.message;
    EXPECT_STREQ(opened.image->DescribeImage().format, format.name);
    EXPECT_EQ(opened.image->DiskCount(), 1);
  }
}

TEST(EveryFormatTest, KnownDisksCutToTheirD88BytesInEveryFormat) {
  for (int kind = 0; kind < 8; ++kind) {
    const DiskSpec disk = KnownDisk(kind, 0x600D + static_cast<std::uint32_t>(kind));
    const OpenedImage d88 = Open(BuildImage({disk}));
    ASSERT_TRUE(d88.image) << d88.message;
    const Recognition want = RecogniseDisk(*d88.image, 0);
    ASSERT_EQ(want.kind, static_cast<DiskKind>(kind));
    const std::vector<CutOutcome> wantCuts = CutAll(*d88.image, want.kind);
    for (const WrittenFormatName& format : WrittenFormats()) {
      if (!ReadInThisBuild(format.format)) {
        continue;
      }
      SCOPED_TRACE(std::string(kKnownSignatures[kind].kind) + " as " + format.name +
                   (format.format == WrittenFormat::kNfd1   ? " revision 1"
                    : format.format == WrittenFormat::kHfe3 ? " revision 3"
                                                            : ""));
      const OpenedImage opened = Open(BuildInFormat(format.format, disk));
      ASSERT_TRUE(opened.image) << opened.message;
      const Recognition got = RecogniseDisk(*opened.image, 0);
      EXPECT_EQ(got.kind, want.kind);
      EXPECT_EQ(got.flags, want.flags);
      ExpectTheCutsOf(*opened.image, want.kind, wantCuts);
    }
  }
}

TEST(EveryFormatTest, KnownDisksCutToTheirD88BytesAsKryoFluxDumps) {
  // Each disk's FMSE-bearing or first file sector read badly in one
  // revolution of three: cut clean all the same.
  for (int kind = 0; kind < 8; ++kind) {
    SCOPED_TRACE(kKnownSignatures[kind].kind);
    const DiskSpec disk = KnownDisk(kind, 0x4B00U + static_cast<std::uint32_t>(kind));
    const OpenedImage d88 = Open(BuildImage({disk}));
    ASSERT_TRUE(d88.image) << d88.message;
    const Recognition want = RecogniseDisk(*d88.image, 0);
    const std::vector<CutOutcome> wantCuts = CutAll(*d88.image, want.kind);
    FluxOptions options;
    options.seed = static_cast<std::uint32_t>(kind) + 7;
    for (int track = 5; track <= 13; ++track) {
      options.damage.push_back({track, 6, {1}, std::nullopt, std::nullopt});
    }
    WithKryoFluxDump(disk, options, [&](DiskImage& image) {
      EXPECT_STREQ(image.DescribeImage().format, "KryoFlux stream");
      const Recognition got = RecogniseDisk(image, 0);
      EXPECT_EQ(got.kind, want.kind);
      ExpectTheCutsOf(image, want.kind, wantCuts);
    });
  }
}

TEST(EveryFormatTest, KnownDisksWithAnFmTrackZeroCutAsTheirD88Form) {
  // Track 0 in FM, as PC-98 2HD disks have it, the rest MFM: the disks
  // identified from track 1 are recognised and cut from HFE and flux as
  // from D88, track 0's sectors read as FM.
  for (int kind = 0; kind < 8; ++kind) {
    if (kKnownSignatures[kind].inBootSector) {
      continue;  // the boot sector lies in track 0, which FM takes
    }
    SCOPED_TRACE(kKnownSignatures[kind].kind);
    DiskSpec disk = KnownDisk(kind, 0x4600U + static_cast<std::uint32_t>(kind));
    disk.tracks[0] = FmTrackZero(0x4600U);
    const OpenedImage d88 = Open(BuildImage({disk}));
    ASSERT_TRUE(d88.image) << d88.message;
    const Recognition want = RecogniseDisk(*d88.image, 0);
    ASSERT_EQ(want.kind, static_cast<DiskKind>(kind));
    const std::vector<CutOutcome> wantCuts = CutAll(*d88.image, want.kind);
    const auto check = [&](DiskImage& image) {
      const std::shared_ptr<const Track> track0 = image.ReadTrack(0, 0);
      ASSERT_NE(track0, nullptr);
      ASSERT_EQ(track0->Sectors().size(), static_cast<std::size_t>(kFmTrackZeroSectors));
      for (const Sector& sector : track0->Sectors()) {
        EXPECT_TRUE(sector.singleDensity);
        EXPECT_EQ(sector.flags, 0);
      }
      EXPECT_EQ(RecogniseDisk(image, 0).kind, want.kind);
      ExpectTheCutsOf(image, want.kind, wantCuts);
    };
    for (const WrittenFormat format :
         {WrittenFormat::kHfe1, WrittenFormat::kHfe3, WrittenFormat::kScp}) {
      SCOPED_TRACE(static_cast<int>(format));
      const OpenedImage opened = Open(BuildInFormat(format, disk));
      ASSERT_TRUE(opened.image) << opened.message;
      check(*opened.image);
    }
    FluxOptions options;
    options.seed = static_cast<std::uint32_t>(kind) + 3;
    WithKryoFluxDump(disk, options, check);
  }
}

TEST(EveryFormatTest, MarkedSectorsGiveTheNotesOfTheirD88Form) {
  // ZEFA LOMRI 2 Disk B: FMSE is cut from track 12, R5 to R8. The formats
  // that hold a track as a drive reads it record the marks as the drive
  // found them; the flux dump found them so in every revolution.
  const struct {
    const char* what;
    std::uint8_t deletedMark;
    std::uint8_t status;
    const char* fluxNote;  // what the flux dump adds to the note
  } marks[] = {
      {"a data CRC error", 0, 0xB0, "; read well in none of 3 revolutions"},
      {"an ID CRC error", 0, 0xA0, "; read well in none of 3 revolutions"},
      {"deleted data", 0x10, 0, ""},
      // (A D88 image marked "no data mark" holds the data all the same;
      // these formats hold none: not the same cut.)
  };
  for (const auto& mark : marks) {
    DiskSpec disk = KnownDisk(3, 0xD1, 14);  // the files lie in tracks 5 to 13
    for (SectorSpec& sector : disk.tracks[12].sectors) {
      if (sector.r == 6) {
        sector.deletedMark = mark.deletedMark;
        sector.status = mark.status;
      }
    }
    const OpenedImage d88 = Open(BuildImage({disk}));
    ASSERT_TRUE(d88.image);
    const std::vector<CutOutcome> want = CutAll(*d88.image, DiskKind::Title2DiskB);
    for (const WrittenFormat format :
         {WrittenFormat::kHfe1, WrittenFormat::kScp, WrittenFormat::kPsi}) {
      SCOPED_TRACE(std::string(mark.what) + (format == WrittenFormat::kScp   ? " in SCP"
                                             : format == WrittenFormat::kPsi ? " in PSI"
                                                                             : " in HFE"));
      const OpenedImage opened = Open(BuildInFormat(format, disk));
      ASSERT_TRUE(opened.image) << opened.message;
      const std::vector<CutOutcome> got = CutAll(*opened.image, DiskKind::Title2DiskB);
      ASSERT_EQ(got.size(), want.size());
      for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].written, want[i].written);
        EXPECT_TRUE(got[i].bytes == want[i].bytes);
        std::vector<std::string> notes = want[i].notes;
        if (format == WrittenFormat::kScp) {
          for (std::string& note : notes) {
            note += mark.fluxNote;
          }
        }
        EXPECT_EQ(got[i].notes, notes);
      }
    }
    SCOPED_TRACE(std::string(mark.what) + " in a KryoFlux dump");
    WithKryoFluxDump(disk, FluxOptions{}, [&](DiskImage& image) {
      const std::vector<CutOutcome> got = CutAll(image, DiskKind::Title2DiskB);
      ASSERT_EQ(got.size(), want.size());
      for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_TRUE(got[i].bytes == want[i].bytes);
        std::vector<std::string> notes = want[i].notes;
        for (std::string& note : notes) {
          note += mark.fluxNote;
        }
        EXPECT_EQ(got[i].notes, notes);
      }
    });
  }
}

// --- The choice of format ----------------------------------------------------

constexpr std::size_t kRawSize = 1261568;

TEST(FormatChoiceTest, ContentDecidesNeverTheName) {
  // A raw image whose first bytes happen to make a plausible D88 header is
  // read as D88: the header weighs more than the size.
  Bytes plausibleD88 = BuildImage({PlainDisk(2, 5)});
  plausibleD88.resize(kRawSize, 0xE5);
  Bytes d88AtRawSize = plausibleD88;
  // Patch the size field to the file's size, so that the header stays
  // plausible at this length.
  PutLe32(d88AtRawSize, 0x1C, kRawSize);

  Bytes rawPattern(kRawSize);
  for (std::size_t i = 0; i < rawPattern.size(); ++i) {
    rawPattern[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
  }
  Bytes oneByteShort(rawPattern.begin(), rawPattern.end() - 1);
  Bytes scp = {'S', 'C', 'P', 0x22, 0x80, 2, 0, 163, 0, 0, 0, 0, 0, 0, 0, 0};
  scp.resize(4096);
  Bytes kryoFlux = {0x0D, 0x04, 0x20, 0x00};
  const std::string info = "host_date=2024.01.01, host_time=12:00:00, name=KryoFlux DiskSystem";
  kryoFlux.insert(kryoFlux.end(), info.begin(), info.end());
  Bytes scpNamedD88 = BuildImage({PlainDisk(2, 5)});
  scpNamedD88[0] = 'S';
  scpNamedD88[1] = 'C';
  scpNamedD88[2] = 'P';

  Bytes cutD88 = BuildImage({PlainDisk(4, 5)});
  cutD88.resize(cutD88.size() - 3000);
  Bytes zeroSizeD88 = BuildImage({PlainDisk(2, 5)});
  PutLe32(zeroSizeD88, 0x1C, 0);
  Bytes ipl = {'I', 'P', 'L', '4', 0xEB, 0x3C, 0x90};
  ipl.resize(4096, 0x00);

  const struct {
    const char* what;
    Bytes bytes;
    const char* format;  // "": nothing claims it
  } cases[] = {
      {"a D88 image", BuildImage({PlainDisk(2, 5)}), "D88"},
      {"a D88 image of a raw image's size", d88AtRawSize, "D88"},
      {"raw bytes of a raw image's size", rawPattern, "raw"},
      {"raw bytes one short of a raw image", oneByteShort, ""},
      {"the real D77 image", ReadFixture("tsugaru-util-2hd.d77"), "D88"},
      {"the real raw image", ReadFixture("towns-ipl-2hd.bin"), "raw"},
      {"the real IMD image", ReadFixture("pc-1200k-sector-test.imd"), "IMD"},
      {"the real HFE image", ReadFixture("pc-360k-sector-test.hfe"), "HFE"},
      {"the real Teledisk image", ReadFixture("pc-360k-sector-test.td0"), "Teledisk"},
      {"the real PSI image", ReadFixture("pc-360k-sector-test.psi"), "PSI"},
      {"the real MFI image", ReadFixture("pc-360k-sector-test.mfi"), "MFI"},
      {"an SCP flux image", scp, "SCP"},
      {"a KryoFlux stream", kryoFlux, "KryoFlux stream"},
      {"a D88 disk named SCP", scpNamedD88, "D88"},
      {"a D88 image cut short of its size field", cutD88, "D88"},
      {"a D88 image whose size field is 0", zeroSizeD88, "D88"},
      {"an empty file", {}, ""},
      {"a 720 KB image", Bytes(737280, 0xE5), "raw"},
      {"a 1.44 MB image", Bytes(1474560, 0xF6), "raw"},
      {"the real 360 KB raw image", ReadFixture("pc-360k-sector-test.img"), "raw"},
      {"a file of no disk's size", Bytes(700000, 0xE5), ""},
      {"boot code", ipl, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(IdentifiedFormat(c.bytes), c.format);
    // What nothing claims is read as D88, and says so.
    const OpenedImage opened = Open(c.bytes);
    if (opened.image) {
      const ImageInfo about = opened.image->DescribeImage();
      EXPECT_EQ(about.formatUnrecognised, std::string(c.format).empty());
      if (about.formatUnrecognised) {
        EXPECT_EQ(std::string(about.format), "D88");
      }
    }
  }
}

TEST(FormatChoiceTest, FormatsThatAreNotReadAreNamed) {
  Bytes ipf = {'C', 'A', 'P', 'S', 0, 0, 0, 12};
  ipf.resize(4096);
  const OpenedImage opened = Open(ipf);
  EXPECT_FALSE(opened.image);
  EXPECT_EQ(opened.error, 0);
  EXPECT_EQ(opened.message,
            "IPF images are not read; convert the disk to D88, a raw image or HFE first");
}

TEST(FormatChoiceTest, TheRealD77DiskReadsAsItsGeometrySays) {
  const OpenedImage opened = Open(ReadFixture("tsugaru-util-2hd.d77"));
  ASSERT_TRUE(opened.image) << opened.message;
  DiskImage& image = *opened.image;
  ASSERT_EQ(image.DiskCount(), 1);
  EXPECT_EQ(image.Describe(0).mediaType, 0x00);
  for (int track = 0; track < 154; ++track) {
    const std::shared_ptr<const Track> sectors = image.ReadTrack(0, track);
    ASSERT_TRUE(sectors) << track;
    ASSERT_EQ(sectors->Sectors().size(), 8U) << track;
    for (const Sector& sector : sectors->Sectors()) {
      EXPECT_EQ(sector.id.c, track / 2);
      EXPECT_EQ(sector.id.h, track % 2);
      EXPECT_EQ(sector.id.n, 3);
      EXPECT_EQ(sector.size, 1024U);
      EXPECT_EQ(sector.flags, 0);
    }
  }
}

}  // namespace

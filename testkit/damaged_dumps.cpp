#include "testkit/damaged_dumps.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "testkit/format_writers.h"
#include "testkit/tool_messages.h"

namespace {

std::string FmseMarked(const std::string& reason) {
  return "sector 6 0 6 3 of track 12 is marked as " + reason + " in the image";
}

// FMSE's third sector marked with the flags of header bytes 7 and 8.
DamagedDump Marked(const char* name, Bytes (*image)(), const std::string& reason) {
  return {name,
          image,
          "warning: FMSE: " + FmseMarked(reason) + "\n",
          2,
          {"  track 12: 8 sectors: C6 H0 R1-8 N3; C6 H0 R6 N3 marked as " + reason,
           "    FMSE: " + FmseMarked(reason)}};
}

Bytes WithoutSector(int track, int r) {
  DiskSpec disk = DamagedBase();
  RemoveSector(disk, track, r);
  return BuildDisk(disk);
}

// Track 12 with a second sector 6 after its others, holding the same data
// as the first or other data.
Bytes DuplicateOfSectorSix(bool sameData) {
  DiskSpec disk = DamagedBase();
  SectorSpec copy = disk.tracks[12].sectors[5];
  if (!sameData) {
    copy.data = PatternSector(1, 1, 1);
  }
  disk.tracks[12].sectors.push_back(copy);
  return BuildDisk(disk);
}

// Title 2 Disk B ending after `sectors` sectors of `track`, whose headers
// announce 8: the tracks after it start past the end of the file.
Bytes EndingInTrack(int track, int sectors) {
  Bytes image = BuildDisk(DamagedBase());
  const std::size_t entry = 0x20 + 4 * static_cast<std::size_t>(track);
  const std::size_t start = image[entry] | image[entry + 1] << 8U | image[entry + 2] << 16U |
                            static_cast<std::size_t>(image[entry + 3]) << 24U;
  image.resize(start + static_cast<std::size_t>(sectors) * (16 + 1024));
  return image;
}

// Title 2 Disk B as IMD, ending `into` bytes into the data of sector
// `sector` (from 0) of track `track`.
Bytes ImdEndingInTrack(int track, int sector, std::size_t into) {
  Bytes image = BuildImd(DamagedBase());
  std::size_t at = static_cast<std::size_t>(
                       std::find(image.begin(), image.end(), std::uint8_t{0x1A}) - image.begin()) +
                   1;
  constexpr std::size_t kRecord = 5 + 8 + 8 * (1 + 1024);
  at += static_cast<std::size_t>(track) * kRecord + 5 + 8 +
        static_cast<std::size_t>(sector) * (1 + 1024) + 1 + into;
  image.resize(at);
  return image;
}

// Title 2 Disk B as a Teledisk image of raw blocks, and where in it the
// header of track `track` lies and, with `r` from 1, the header of that
// track's sector `r`.
struct Td0Place {
  Bytes image;
  std::size_t at = 0;
};

Td0Place Td0Of(int track, int r) {
  Td0Options options;
  options.encoding = Td0Encoding::kRaw;
  Td0Place place{BuildTd0(DamagedBase(), options)};
  const Bytes& image = place.image;
  std::size_t at = 12;  // no comment
  while (at + 4 <= image.size() && image[at] != 0xFF) {
    const std::size_t count = image[at];
    const int index = 2 * image[at + 1] + (image[at + 2] & 1);
    if (index == track && r == 0) {
      place.at = at;
      return place;
    }
    at += 4;
    for (std::size_t i = 0; i < count; ++i) {
      if (index == track && image[at + 2] == r) {
        place.at = at;
        return place;
      }
      const bool block = (image[at + 4] & 0x30) == 0 && image[at + 3] < 8;
      at += 6;
      if (block) {
        at += 2 + (image[at] | static_cast<std::size_t>(image[at + 1]) << 8U);
      }
    }
  }
  return place;
}

const char* const kOwnCheckFails =
    "sector 6 0 6 3 of track 12: the image's own check of its data fails (the image file is "
    "damaged)";

}  // namespace

std::vector<DamagedDump> DamagedDumps() {
  const std::string bothWords = "deleted data and a data CRC error";
  return {
      Marked(
          "DataCrcError", [] { return MarkedSector(12, 6, 0x00, 0xB0); }, "a data CRC error"),
      Marked(
          "IdCrcError", [] { return MarkedSector(12, 6, 0x00, 0xA0); }, "an ID CRC error"),
      Marked(
          "DeletedMark", [] { return MarkedSector(12, 6, 0x10, 0x00); }, "deleted data"),
      Marked(
          "DeletedStatus", [] { return MarkedSector(12, 6, 0x00, 0x10); }, "deleted data"),
      Marked(
          "NoAddressMark", [] { return MarkedSector(12, 6, 0x00, 0xE0); }, "no address mark"),
      Marked(
          "NoDataMark", [] { return MarkedSector(12, 6, 0x00, 0xF0); }, "no data mark"),
      Marked(
          "DeletedWithDataCrcError", [] { return MarkedSector(12, 6, 0x10, 0xB0); }, bothWords),
      {"MarkedBootSector",
       [] { return MarkedSector(0, 1, 0x00, 0xB0); },
       "warning: image.d88: sector 0 0 1 3 of track 0 is marked as a data CRC error in the "
       "image\n",
       2,
       {"  track 0: 8 sectors: C0 H0 R1-8 N3; C0 H0 R1 N3 marked as a data CRC error",
        "    signature: sector 0 0 1 3 of track 0 is marked as a data CRC error in the image"}},
      {"MissingFirstSector",
       [] { return WithoutSector(12, 5); },
       "warning: FMSE: not written: sector 6 0 5 3 of track 12 is not on the disk\n"
       "warning: BEEPBGM: only 18113 of 18610 bytes could be read\n",
       2,
       {"    FMSE: not written: sector 6 0 5 3 of track 12 is not on the disk",
        "    BEEPBGM: only 18113 of 18610 bytes could be read"}},
      {"MissingMiddleSector",
       [] { return WithoutSector(12, 7); },
       "warning: FMSE: only 1551 of 3124 bytes could be read\n",
       2,
       {"    FMSE: only 1551 of 3124 bytes could be read"}},
      {"DuplicateIdWithOtherData",
       [] { return DuplicateOfSectorSix(false); },
       "warning: FMSE: track 12 holds more than one sector 6 0 6 3 with different data; the first "
       "was used\n",
       2,
       {"    FMSE: track 12 holds more than one sector 6 0 6 3 with different data; the first was "
        "used"}},
      {"DuplicateIdWithTheSameData",
       [] { return DuplicateOfSectorSix(true); },
       "",
       0,
       {"  zefacut: recognises ZEFA LOMRI 2 Disk B"}},
      {"SizeZeroFirst",
       [] { return SizeZeroIn(0); },
       "warning: image.d88: disk 1 of 1 has a size of 0; no disk after it can be found\n",
       2,
       {"disks: 1", "disk 1 has a size of 0: no disk after it can be found"}},
      {"SizeZeroMiddle",
       [] { return SizeZeroIn(1); },
       "warning: image.d88: disk 2 of 2 has a size of 0; no disk after it can be found\n",
       2,
       {"disks: 2", "disk 2 has a size of 0: no disk after it can be found"}},
      {"SizeZeroLast",
       [] { return SizeZeroIn(2); },
       "warning: image.d88: disk 3 of 3 has a size of 0; no disk after it can be found\n",
       2,
       {"disks: 3", "disk 3 has a size of 0: no disk after it can be found"}},
      {"SixtyFiveDisks",
       [] {
         std::vector<DiskSpec> disks;
         for (std::uint32_t i = 0; i < 65; ++i) {
           disks.push_back(KnownDisk(1, i, 2));
         }
         return BuildImage(disks);
       },
       "warning: image.d88: only the first 64 disks were read\n",
       2,
       {"disks: 64", "more disks follow: only the first 64 are read"}},
      {"EmptyFile",
       [] { return Bytes{}; },
       "warning: image.d88: no image format recognised (0 bytes); read as D88\n"
       "warning: image.d88: no disk found\n",
       2,
       {"format: unknown (0 bytes), read as D88", "disks: 0"}},
      // Damage no cut reads is shown by d88info alone.
      {"CutShortInTheLastTrack",
       [] {
         Bytes image = BuildDisk(DamagedBase());
         image.resize(image.size() - 2000);
         return image;
       },
       "",
       0,
       {"  track 23: 7 sectors: C11 H1 R1-7 N3; runs past the end of the file, which holds 7 "
        "of its 8 sectors"}},
      {"EndsAfterTheFirstSectorOfATrack",
       [] { return EndingInTrack(12, 1); },
       "warning: FMSE: not written: sector 6 0 5 3 of track 12 is not on the disk; the image "
       "file ends inside track 12\n"
       "warning: BEEPBGM: only 15041 of 18610 bytes could be read; the image file ends inside "
       "track 12\n"
       "warning: BEEPSE: not written: sector 6 0 8 3 of track 12 is not on the disk; the image "
       "file ends inside track 12\n",
       2,
       {"  track 12: 1 sector: C6 H0 R1 N3; runs past the end of the file, which holds 1 of its "
        "8 sectors",
        "  track 13: offset 108848 (0x1A930) lies past the end of the file"}},
      {"ImdCutInsideATrack",
       [] { return ImdEndingInTrack(12, 5, 200); },
       "warning: FMSE: only 527 of 3124 bytes could be read; the image file ends inside track "
       "12\n"
       "warning: BEEPSE: not written: sector 6 0 8 3 of track 12 is not on the disk; the image "
       "file ends inside track 12\n",
       2,
       {"  track 12: 6 sectors: C6 H0 R1-6 N3; runs past the end of the file, which holds 6 of "
        "its 8 sectors"}},
      {"FdiCutInsideATrack",
       [] {
         const Bytes whole = BuildFdi(DamagedBase());
         constexpr std::ptrdiff_t kEnd =
             4096 + std::ptrdiff_t{12} * 8192 + std::ptrdiff_t{5} * 1024 + 200;
         return Bytes(whole.begin(), whole.begin() + kEnd);
       },
       "warning: FMSE: only 527 of 3124 bytes could be read; the image file ends inside track "
       "12\n"
       "warning: BEEPSE: not written: sector 6 0 8 3 of track 12 holds only 0 of 1024 bytes; "
       "the image file ends inside track 12\n",
       2,
       {"  track 12: 8 sectors: C6 H0 R1-8 N3; runs past the end of the file",
        "  track 13: 8 sectors: C6 H1 R1-8 N3; runs past the end of the file"}},
      {"NoFormatClaimsIt",
       [] { return Bytes(700000, 0xE5); },
       "warning: image.d88: no image format recognised (700,000 bytes); read as D88\n" +
           kUnsupportedMessage,
       2,
       {"format: unknown (700000 bytes), read as D88"}},
      // Teledisk's own checks fail: the image file is damaged, not the disk.
      {"Td0SectorFailsItsOwnCheck",
       [] {
         Td0Place place = Td0Of(12, 6);
         place.image[place.at + 5] ^= 1;
         return place.image;
       },
       std::string("warning: FMSE: ") + kOwnCheckFails + "\n",
       2,
       {std::string("  track 12: 8 sectors: C6 H0 R1-8 N3; C6 H0 R6 N3: ") +
            "the image's own check of its data fails (the image file is damaged)",
        std::string("    FMSE: ") + kOwnCheckFails}},
      {"Td0TrackHeaderFailsItsCrc",
       [] {
         Td0Place place = Td0Of(12, 0);
         place.image[place.at + 3] ^= 1;
         return place.image;
       },
       "warning: image.d88: the header of track 12 at byte 99,228 fails its CRC; its sectors "
       "were read as it gives them\n",
       2,
       {"damage: the header of track 12 at byte 99,228 fails its CRC; its sectors were read as "
        "it gives them",
        "  track 12: 8 sectors: C6 H0 R1-8 N3"}},
      {"BytesAfterTheLastDisk",
       [] {
         Bytes image = BuildDisk(DamagedBase());
         image.resize(image.size() + 100, 0xE5);
         return image;
       },
       "",
       0,
       {"after the last disk: 100 bytes that hold no disk"}},
      {"SizeFieldShortOfTheTracks",
       [] {
         DiskSpec disk = DamagedBase();
         disk.sizeField = static_cast<std::uint32_t>(BuildDisk(disk).size() - 500);
         return BuildDisk(disk);
       },
       "",
       0,
       {"  track 23: 8 sectors: C11 H1 R1-8 N3; runs past the disk's size",
        "after the last disk: 500 bytes that hold no disk"}},
  };
}

// A cut as a disk gives it: the bytes of its file and, as data, what a user
// should know of them. No console and no files: the front ends say and write.
#ifndef ZEFACUT_KNOWN_CUT_READING_H
#define ZEFACUT_KNOWN_CUT_READING_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/model.h"
#include "known/known_disks.h"
#include "known/sector_run.h"

struct CutReading {
  SectorRun run;
  // The file's bytes are run.bytes [from, from + size); there is no file
  // when the run's first sector cannot be read.
  bool written = false;
  std::size_t from = 0;
  std::size_t size = 0;
  // Each doubt in words: "sector 6 0 7 3 of track 12 is marked as a data CRC
  // error in the image".
  std::vector<std::string> notes;
};

CutReading ReadCut(DiskImage& image, int disk, const Cut& cut);

// "sector C H R N of track T", or without the track.
std::string SectorName(const SectorAddress& at, bool withTrack = true);

// "sector C H R N of track T is marked as REASON in the image" (or
// "sector C H R N of track T: the image's own check of its data fails (the
// image file is damaged)", for kImageCheckFails), and for a
// sector read from flux that some revolution read badly "; read well in
// none of 3 revolutions".
std::string MarkedSectorNote(const SectorAddress& at, SectorFlags flags,
                             std::uint8_t revolutionsGood = 0, std::uint8_t revolutions = 0);

// Why track `track`, read from flux, gave no sector: "track 12 of the flux
// dump: no sector could be decoded (no file track06.0.raw)", or "the image
// file ends inside track 12". Empty when it holds sectors, and for the
// formats that hold no flux.
std::string UnreadTrackNote(DiskImage& image, int disk, int track);

#endif  // ZEFACUT_KNOWN_CUT_READING_H

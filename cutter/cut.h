#ifndef ZEFACUT_CUTTER_CUT_H
#define ZEFACUT_CUTTER_CUT_H

#include <cstddef>
#include <string>
#include <vector>

#include "cutter/known_disks.h"
#include "cutter/run.h"
#include "cutter/sector_run.h"
#include "disk/model.h"

// A cut as the disk gives it: the bytes of its file, and what a user should
// know of them, in words ("sector 6 0 7 3 of track 12 is marked as a data
// CRC error in the image").
struct CutReading {
  SectorRun run;
  // The file's bytes are run.bytes [from, from + size); no file is written
  // when the run's first sector cannot be read.
  bool written = false;
  std::size_t from = 0;
  std::size_t size = 0;
  std::vector<std::string> notes;
};

CutReading ReadCut(DiskImage& image, int disk, const Cut& cut);

// What sector flags say, in words: "deleted data and a data CRC error".
std::string FlagWords(SectorFlags flags);

// "sector C H R N of track T is marked as REASON in the image".
std::string MarkedSectorNote(const SectorAddress& at, SectorFlags flags);

// Reads the run of `cut` from disk `disk` of the image and writes its bytes
// [offset, offset + length) to the file of the cut's name in the run's output
// folder, with a warning for every doubt about them. True when a file was
// written; a run whose first sector cannot be read writes nothing.
bool CutFile(Run& run, DiskImage& image, int disk, const Cut& cut);

// Cuts every file that disk `disk`, recognised as `kind`, holds, in the
// order of the known-disk table.
void RunCutList(Run& run, DiskImage& image, int disk, DiskKind kind);

#endif  // ZEFACUT_CUTTER_CUT_H

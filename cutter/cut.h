#ifndef ZEFACUT_CUTTER_CUT_H
#define ZEFACUT_CUTTER_CUT_H

#include <cstddef>
#include <string>
#include <vector>

#include "known/known_disks.h"
#include "cutter/run.h"
#include "known/cut_reading.h"
#include "known/sector_run.h"
#include "disk/model.h"

// Reads the run of `cut` from disk `disk` of the image and writes its bytes
// [offset, offset + length) to the file of the cut's name in the run's output
// folder, with a warning for every doubt about them. True when a file was
// written; a run whose first sector cannot be read writes nothing.
bool CutFile(Run& run, DiskImage& image, int disk, const Cut& cut);

// Cuts every file that disk `disk`, recognised as `kind`, holds, in the
// order of the known-disk table.
void RunCutList(Run& run, DiskImage& image, int disk, DiskKind kind);

#endif  // ZEFACUT_CUTTER_CUT_H

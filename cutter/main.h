#ifndef ZEFACUT_CUTTER_MAIN_H
#define ZEFACUT_CUTTER_MAIN_H

#include "cutter/recognition.h"
#include "d88/d88_image.h"

// The one image of the run; cuts read the disk selected in it.
extern D88Image Image;

// Tells which disk the selected one is, from its two signature sectors read
// into the CutBuffer.
DiskKind RecogniseDisk();

// The whole tool: arguments, the walk over the disks, the exit status.
int ZefacutMain(int argc, char** argv);

#endif  // ZEFACUT_CUTTER_MAIN_H

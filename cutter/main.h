#ifndef ZEFACUT_CUTTER_MAIN_H
#define ZEFACUT_CUTTER_MAIN_H

#include <cstdio>

#include "cutter/run.h"

// The whole tool: arguments, the walk over the disks, the exit status. Each
// call is a run of its own.
int ZefacutMain(int argc, char** argv, Console console = {stdout, stderr});

#endif  // ZEFACUT_CUTTER_MAIN_H

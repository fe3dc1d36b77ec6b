#ifndef ZEFACUT_CUTTER_MAIN_H
#define ZEFACUT_CUTTER_MAIN_H

#include <cstdio>

#include "cutter/run.h"

// Where the files go when no output folder is given: the current folder, or
// (for images dropped on the program) a folder beside each image named after
// it.
enum class RunPlace { AsAsked, BesideEachImage };

// The whole tool: arguments, the walk over the disks, the exit status. Each
// call is a run of its own.
int ZefacutMain(int argc, char** argv, Console console = {stdout, stderr},
                RunPlace place = RunPlace::AsAsked);

#endif  // ZEFACUT_CUTTER_MAIN_H

// The zefacut program over the core: its command line, its console and its
// files on disk. main() only hands it the arguments and the streams.
#ifndef ZEFACUT_CUTTER_ZEFACUT_H
#define ZEFACUT_CUTTER_ZEFACUT_H

#include "platform/console.h"

// Where the files go when no output folder is given: the current folder, or
// (for images dropped on the program) a folder beside each image named after
// it.
enum class RunPlace { AsAsked, BesideEachImage };

// The whole tool: arguments, the run over the images, the exit status. Each
// call is a run of its own.
int ZefacutMain(int argc, char** argv, Console console = {}, RunPlace place = RunPlace::AsAsked);

#endif  // ZEFACUT_CUTTER_ZEFACUT_H

// The inputs of a run cut in their order, on one thread or on several, with
// the same lines, files and status either way.
//
// With several threads each input is read, recognised and cut on a worker
// into a record of what it would say, which folders it would make and which
// files it would write, starting from a run that has seen no input before.
// One committer takes the records in input order and plays each through the
// real output, after checking that the run so far changes nothing in it:
// a file of the same path written earlier, a per-disk folder of the same
// name chosen earlier, a folder that could not be made, a file found
// read-only, a file that could not be written. Where it would, the input is
// cut again on the committer by the real run, which knows all that came
// before, exactly as a run on one thread cuts it. Workers go at most a few
// inputs ahead of the committer, so memory is bounded whatever the tree.
#ifndef ZEFACUT_CUTTER_PARALLEL_RUN_H
#define ZEFACUT_CUTTER_PARALLEL_RUN_H

#include <cstdint>
#include <vector>

#include "cutter/collection.h"
#include "run/cut_run.h"

class ProgressLine;

// What the inputs gave, beyond what the run's own report counts.
struct CollectionTally {
  int inputs = 0;      // inputs found by walks
  int images = 0;      // of those, the ones read
  int passedOver = 0;  // of those, files nothing reads
  // Lines, warnings, errors and files of inputs played from a record,
  // which the run's own report did not count.
  int files = 0;
  int warnings = 0;
  int errors = 0;
  std::uint64_t bytes = 0;
};

// Cuts each item through `run` (whose output is the real one), on `jobs`
// threads; progress, when given, is stepped after each input.
CollectionTally CutCollection(CutRun& run, const CutSettings& settings,
                              const std::vector<CollectionItem>& items, unsigned jobs,
                              ProgressLine* progress);

#endif  // ZEFACUT_CUTTER_PARALLEL_RUN_H

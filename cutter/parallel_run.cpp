#include "cutter/parallel_run.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "cutter/progress.h"
#include "input/image_input.h"
#include "input/open_image.h"
#include "platform/input_file.h"
#include "platform/paths.h"
#include "platform/portable.h"
#include "platform/text_form.h"

namespace {

// How many inputs the workers may run ahead of the committer, per worker.
constexpr std::size_t kAheadPerJob = 4;

// What a run would do to its output, recorded in order. Folders are taken
// as made and files as written; the committer finds out.
class RecordingOutput : public RunOutput {
 public:
  struct Event {
    enum class Kind { Say, MakeFolder, IsReadOnly, Write };
    Kind kind = Kind::Say;
    Channel channel = Channel::Out;
    std::string text;  // the line, the folder or the path
    bool readOnly = false;
    std::vector<unsigned char> bytes;
  };

  void Say(Channel channel, const Text& text) override {
    Event event;
    event.channel = channel;
    event.text = text.utf8;
    events_.push_back(std::move(event));
  }

  std::string MakeFolder(const std::string& folder) override {
    Event event;
    event.kind = Event::Kind::MakeFolder;
    event.text = folder;
    events_.push_back(std::move(event));
    return {};
  }

  bool IsReadOnly(const std::string& path) override {
    Event event;
    event.kind = Event::Kind::IsReadOnly;
    event.text = path;
    event.readOnly = IsReadOnlyFile(path);
    events_.push_back(std::move(event));
    return events_.back().readOnly;
  }

  std::string WriteFile(const std::string& path, const unsigned char* data,
                        std::size_t size) override {
    Event event;
    event.kind = Event::Kind::Write;
    event.text = path;
    event.bytes.assign(data, data + size);
    events_.push_back(std::move(event));
    return {};
  }

  std::vector<Event>& Events() { return events_; }

 private:
  std::vector<Event> events_;
};

// One input as a worker left it.
struct Outcome {
  bool passedOver = false;
  std::string folder;
  // Left to the committer: standard input, which only one may read.
  bool onCommitter = false;
  std::vector<RecordingOutput::Event> events;
  CutRunMemory memory;
  int files = 0;
  int warnings = 0;
  int errors = 0;
};

// What a walk makes of a file before reading it: whether it is passed over
// (nothing reads it, and its name is no image's either), and the folder its
// disks' files go to: an archive's go into a folder named after it, as the
// images lie in it ("out/pc98/game.zip/disk2.d88 - ZEFA LOMRI 2 Disk B/").
struct Plan {
  bool passedOver = false;
  std::string folder;
};

Plan PlanOf(const CollectionItem& item) {
  Plan plan;
  plan.folder = item.folder;
  if (!item.walked || item.kind != CollectionItem::Kind::Input) {
    return plan;
  }
  switch (ProbeFileContent(item.path)) {
    case FileContent::Archive:
      plan.folder += SafeFolderName(FileNameOf(item.path)) + "/";
      break;
    case FileContent::Nothing:
      plan.passedOver = !HasImageName(FileNameOf(item.path));
      break;
    case FileContent::Unread:
    case FileContent::Image:
      break;
  }
  return plan;
}

// Cuts one input into `run`, and tells of a file that changed while it was
// read: its files may hold bytes of two versions.
void CutInput(CutRun& run, const CollectionItem& item, const std::string& folder) {
  FileStamp before;
  const bool stamped = item.path != kStandardInputPath && StampOf(item.path, before);
  run.CutFile(item.path, folder);
  FileStamp after;
  if (stamped && (!StampOf(item.path, after) || !(after == before))) {
    run.GetReport().Warning(ShownName(item.path),
                            "changed while it was read; its files may mix old and new bytes: "
                            "read it again when it is still");
  }
}

// What the committer does with an item that is no input to cut.
void TellItem(CutRun& run, const CollectionItem& item) {
  InputProblem problem;
  problem.kind = InputProblem::Kind::CannotOpen;
  problem.name = item.path;
  if (item.kind == CollectionItem::Kind::Unlisted) {
    problem.systemError = item.error;
  } else {
    run.GetReport().Started({item.path, ""});
    problem.text = std::string(std::strerror(EISDIR)) + "; use -r to read every image under it";
  }
  run.TellProblem(problem);
}

Outcome Work(const CutSettings& settings, const CollectionItem& item) {
  Outcome outcome;
  if (item.kind != CollectionItem::Kind::Input) {
    return outcome;
  }
  if (item.path == kStandardInputPath) {
    outcome.onCommitter = true;
    outcome.folder = item.folder;
    return outcome;
  }
  const Plan plan = PlanOf(item);
  outcome.folder = plan.folder;
  if (plan.passedOver) {
    outcome.passedOver = true;
    return outcome;
  }
  RecordingOutput record;
  CutRun local(record, settings);
  CutInput(local, item, plan.folder);
  outcome.events = std::move(record.Events());
  outcome.memory = std::move(local.Memory());
  outcome.files = local.GetReport().FilesWritten();
  outcome.warnings = local.GetReport().Warnings();
  outcome.errors = local.GetReport().Errors();
  return outcome;
}

// Plays a record through the run's output when the run so far changes
// nothing in it; false, having said nothing, when it would.
bool Play(CutRun& run, Outcome& outcome, CollectionTally& tally) {
  CutRunMemory& memory = run.Memory();
  for (const auto& entry : outcome.memory.written) {
    if (memory.written.count(entry.first) != 0) {
      return false;
    }
  }
  for (const std::string& folder : outcome.memory.folders) {
    if (memory.folders.count(folder) != 0) {
      return false;
    }
  }
  for (const auto& entry : outcome.memory.made) {
    const auto known = memory.made.find(entry.first);
    if (known != memory.made.end() && !known->second) {
      return false;
    }
  }
  // Folders and files first, in the order the input made them; its lines
  // only once all are there.
  RunOutput& output = run.GetReport().Output();
  for (RecordingOutput::Event& event : outcome.events) {
    switch (event.kind) {
      case RecordingOutput::Event::Kind::Say:
        break;
      case RecordingOutput::Event::Kind::MakeFolder:
        if (memory.made.count(event.text) == 0 && !output.MakeFolder(event.text).empty()) {
          return false;
        }
        break;
      case RecordingOutput::Event::Kind::IsReadOnly:
        if (output.IsReadOnly(event.text) != event.readOnly) {
          return false;
        }
        break;
      case RecordingOutput::Event::Kind::Write:
        if (!output.WriteFile(event.text, event.bytes.data(), event.bytes.size()).empty()) {
          return false;
        }
        break;
    }
  }
  for (const RecordingOutput::Event& event : outcome.events) {
    if (event.kind == RecordingOutput::Event::Kind::Say) {
      output.Say(event.channel, Text{event.text});
    }
  }
  for (auto& entry : outcome.memory.written) {
    memory.written.insert(std::move(entry));
  }
  memory.folders.insert(outcome.memory.folders.begin(), outcome.memory.folders.end());
  for (const auto& entry : outcome.memory.made) {
    memory.made[entry.first] = true;
  }
  memory.knownDisks += outcome.memory.knownDisks;
  tally.files += outcome.files;
  tally.warnings += outcome.warnings;
  tally.errors += outcome.errors;
  return true;
}

// The counts of an item once committed, and the progress line after it.
void Counted(const CollectionItem& item, bool passedOver, CutRun& run, CollectionTally& tally,
             std::size_t done, ProgressLine* progress) {
  if (item.walked && item.kind == CollectionItem::Kind::Input) {
    ++tally.inputs;
    ++(passedOver ? tally.passedOver : tally.images);
  }
  tally.bytes += item.size;
  if (progress != nullptr) {
    progress->Step(done, tally.bytes, run.Memory().knownDisks, item.shown);
  }
}

// The shared state of workers and committer.
struct Queue {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::size_t, Outcome> outcomes;  // by item, while held
  std::size_t next = 0;                     // the next item a worker takes
  std::size_t committed = 0;                // items the committer is done with
  std::size_t ahead = 0;
};

void Worker(Queue& queue, const CutSettings& settings, const std::vector<CollectionItem>& items) {
  for (;;) {
    std::size_t index = 0;
    {
      std::unique_lock<std::mutex> lock(queue.mutex);
      queue.changed.wait(lock, [&queue, &items] {
        return queue.next >= items.size() || queue.next < queue.committed + queue.ahead;
      });
      if (queue.next >= items.size()) {
        return;
      }
      index = queue.next++;
    }
    Outcome outcome = Work(settings, items[index]);
    {
      const std::lock_guard<std::mutex> lock(queue.mutex);
      queue.outcomes.emplace(index, std::move(outcome));
    }
    queue.changed.notify_all();
  }
}

}  // namespace

CollectionTally CutCollection(CutRun& run, const CutSettings& settings,
                              const std::vector<CollectionItem>& items, unsigned jobs,
                              ProgressLine* progress) {
  CollectionTally tally;
  Queue queue;
  queue.ahead = static_cast<std::size_t>(jobs) * kAheadPerJob;
  std::vector<std::thread> workers;
  if (jobs > 1 && items.size() > 1) {
    workers.reserve(jobs);
    for (unsigned i = 0; i < jobs; ++i) {
      // A system that gives fewer threads than asked runs on those it gives,
      // and on none as on one.
      try {
        workers.emplace_back(Worker, std::ref(queue), std::cref(settings), std::cref(items));
      } catch (const std::system_error&) {
        break;
      }
    }
  }
  if (workers.empty()) {
    for (std::size_t i = 0; i < items.size(); ++i) {
      const CollectionItem& item = items[i];
      const Plan plan = PlanOf(item);
      if (item.kind != CollectionItem::Kind::Input) {
        TellItem(run, item);
      } else if (!plan.passedOver) {
        CutInput(run, item, plan.folder);
      }
      Counted(item, plan.passedOver, run, tally, i + 1, progress);
    }
    return tally;
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    Outcome outcome;
    {
      std::unique_lock<std::mutex> lock(queue.mutex);
      queue.changed.wait(lock, [&queue, i] { return queue.outcomes.count(i) != 0; });
      const auto held = queue.outcomes.find(i);
      outcome = std::move(held->second);
      queue.outcomes.erase(held);
    }
    const CollectionItem& item = items[i];
    if (item.kind != CollectionItem::Kind::Input) {
      TellItem(run, item);
    } else if (!outcome.passedOver && (outcome.onCommitter || !Play(run, outcome, tally))) {
      CutInput(run, item, outcome.folder);
    }
    Counted(item, outcome.passedOver, run, tally, i + 1, progress);
    {
      const std::lock_guard<std::mutex> lock(queue.mutex);
      queue.committed = i + 1;
    }
    queue.changed.notify_all();
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
  return tally;
}

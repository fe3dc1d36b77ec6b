// The page's way into the tool: a plain C interface that the worker calls.
// One call cuts (or plans, or lists) one dropped input held in memory, a
// file or several files that are one input; its lines, files and events
// stay here, readable one by one, until the next call.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <emscripten/emscripten.h>

#include "input/image_input.h"
#include "platform/text_form.h"
#include "run/cut_run.h"
#include "run/disk_map.h"
#include "run/event_json.h"
#include "run/input_lister.h"
#include "run/listing.h"
#include "run/memory_output.h"
#include "run/report.h"

namespace {

// Tells the worker, while a long archive is read, which member comes next:
// the only moment a run can speak before it ends.
// clang-format off
EM_JS(void, TellProgress, (const char* text, int length), {
  if (typeof self !== "undefined" && self.zefacutProgress) {
    self.zefacutProgress(UTF8ToString(text, length));
  }
});
// clang-format on

// The run's lines and files in memory, its progress to the worker as it
// goes.
class PageOutput : public MemoryOutput {
 public:
  PageOutput() : MemoryOutput(TextForm::Utf8) {}

  void Say(Channel channel, const Text& text) override {
    MemoryOutput::Say(channel, text);
    static const std::string kReading = "reading ... ";
    if (text.utf8.compare(0, kReading.size(), kReading) == 0) {
      TellProgress(text.utf8.data(), static_cast<int>(text.utf8.size()));
    }
  }
};

// Hands each event to the worker as it happens, as its JSON object.
// clang-format off
EM_JS(void, TellEvent, (const char* json, int length), {
  if (typeof self !== "undefined" && self.zefacutEvent) {
    self.zefacutEvent(UTF8ToString(json, length));
  }
});
// clang-format on

// The maps of each disk of each image of an input; problems are the
// listing's to tell.
class Mapper : public ImageVisitor {
 public:
  void Image(const std::string& name, const std::string& /*member*/, DiskImage& image) override {
    maps.push_back(MapImage(image, ShownName(name)));
  }
  void Problem(const InputProblem& /*problem*/) override {}

  std::vector<ImageMap> maps;
};

struct Result {
  PageOutput output;
  EventJson events{
      [](const std::string& event) { TellEvent(event.data(), static_cast<int>(event.size())); }};
  std::string json;
  int status = 0;
  // The input, kept for its map, which is drawn only when asked for.
  std::string name;
  std::vector<unsigned char> input;
};

Result* last = nullptr;
// The last map drawn, kept until the next.
std::string* lastMap = nullptr;

// The files given since the last run, for the next one.
std::vector<NamedBuffer>* given = nullptr;

// What a call does with the file.
enum Mode : int { kCut = 0, kPlan = 1, kList = 2 };

const MemoryOutput::Line* LineAt(int index) {
  if (last == nullptr || index < 0 ||
      static_cast<std::size_t>(index) >= last->output.Lines().size()) {
    return nullptr;
  }
  return &last->output.Lines()[static_cast<std::size_t>(index)];
}

const std::vector<unsigned char>* FileAt(int index) {
  if (last == nullptr || index < 0 ||
      static_cast<std::size_t>(index) >= last->output.Order().size()) {
    return nullptr;
  }
  const std::string& path = last->output.Order()[static_cast<std::size_t>(index)];
  return &last->output.Files().at(path);
}

}  // namespace

extern "C" {

// Runs over the `size` bytes at `data`, a file named `name` (UTF-8), in the
// given mode; the bytes are the caller's still. Every disk's files go into
// a folder of their own, as zefacut -d puts them. Returns the exit status
// the command line would give.
EMSCRIPTEN_KEEPALIVE int zc_run(int mode, const char* name, const unsigned char* data,
                                std::size_t size) {
  delete last;
  last = new Result;
  std::vector<unsigned char> bytes(data, data + size);
  last->name = name;
  last->input = bytes;
  if (mode == kList) {
    // The text, as the page has always shown it.
    InputLister lister(last->output, InputLister::Settings{false, false});
    ForEachImage(name, std::move(bytes), lister);
    last->status = lister.Status();
    return last->status;
  }
  CutSettings settings;
  settings.perDisk = true;
  settings.dryRun = mode == kPlan;
  CutRun run(last->output, settings);
  run.CutBytes(name, std::move(bytes), "");
  last->status = run.Status();
  return last->status;
}

// Adds a file of `size` bytes at `data` named `name` (UTF-8, a path such as
// "dump/track00.0.raw") to the input that zc_run_input reads next; the
// bytes are the caller's still.
EMSCRIPTEN_KEEPALIVE void zc_add_file(const char* name, const unsigned char* data,
                                      std::size_t size) {
  if (given == nullptr) {
    given = new std::vector<NamedBuffer>;
  }
  given->push_back({name, std::vector<unsigned char>(data, data + size)});
}

// Runs once over the files added since the last run, one input named
// `name` (a folder's name for a KryoFlux dump's stream files, which are one
// dump), in the given mode. Every disk's files go into a folder of their
// own, as zefacut -d puts them. Cut and plan: the lines, the files (none in a
// plan) and the events as JSON (run/event_json.h), each event told to the
// worker's zefacutEvent as it happens. List: d88info's lines, and its JSON
// listing of each image as the JSON. Returns the exit status the command
// line would give.
EMSCRIPTEN_KEEPALIVE int zc_run_input(int mode, const char* name) {
  delete last;
  last = new Result;
  std::vector<NamedBuffer> buffers;
  if (given != nullptr) {
    buffers = std::move(*given);
    delete given;
    given = nullptr;
  }
  if (mode == kList) {
    InputLister lister(last->output, InputLister::Settings{false, true});
    ForEachImage(name, std::move(buffers), lister);
    lister.End();
    last->status = lister.Status();
    last->json = lister.Json();
    return last->status;
  }
  CutSettings settings;
  settings.perDisk = true;
  settings.dryRun = mode == kPlan;
  CutRun run(last->output, settings);
  run.GetReport().Listen(last->events);
  // The map of each image is drawn from the tracks the cut decoded: a flux
  // dump is decoded once.
  std::vector<ImageMap> maps;
  run.WatchImages([&maps](const std::string& image, DiskImage& disks) {
    maps.push_back(MapImage(disks, ShownName(image)));
  });
  run.CutBuffers(name, std::move(buffers), "");
  run.End();
  delete lastMap;
  lastMap = new std::string(DiskMapSvg(maps));
  last->status = run.Status();
  last->json = last->events.Document();
  return last->status;
}

// The last run's JSON: its events, or in a listing, the listing.
EMSCRIPTEN_KEEPALIVE const char* zc_json_text() {
  return last == nullptr ? nullptr : last->json.c_str();
}

EMSCRIPTEN_KEEPALIVE int zc_json_size() {
  return last == nullptr ? 0 : static_cast<int>(last->json.size());
}

EMSCRIPTEN_KEEPALIVE int zc_line_count() {
  return last == nullptr ? 0 : static_cast<int>(last->output.Lines().size());
}

// 0 for the standard output's lines, 1 for the error stream's.
EMSCRIPTEN_KEEPALIVE int zc_line_channel(int index) {
  const MemoryOutput::Line* line = LineAt(index);
  return line != nullptr && line->channel == Channel::Err ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE const char* zc_line_text(int index) {
  const MemoryOutput::Line* line = LineAt(index);
  return line == nullptr ? nullptr : line->text.data();
}

EMSCRIPTEN_KEEPALIVE int zc_line_size(int index) {
  const MemoryOutput::Line* line = LineAt(index);
  return line == nullptr ? 0 : static_cast<int>(line->text.size());
}

EMSCRIPTEN_KEEPALIVE int zc_file_count() {
  return last == nullptr ? 0 : static_cast<int>(last->output.Order().size());
}

EMSCRIPTEN_KEEPALIVE const char* zc_file_path(int index) {
  if (FileAt(index) == nullptr) {
    return nullptr;
  }
  return last->output.Order()[static_cast<std::size_t>(index)].c_str();
}

EMSCRIPTEN_KEEPALIVE const unsigned char* zc_file_data(int index) {
  const std::vector<unsigned char>* file = FileAt(index);
  return file == nullptr ? nullptr : file->data();
}

EMSCRIPTEN_KEEPALIVE int zc_file_size(int index) {
  const std::vector<unsigned char>* file = FileAt(index);
  return file == nullptr ? 0 : static_cast<int>(file->size());
}

// The map of every disk of an input as one SVG document (UTF-8, ending in a
// NUL): of the `size` bytes at `data`, a file named `name`, or, when `data`
// is null, of the input of the last zc_run. Kept until the next call; its
// length in bytes from zc_map_svg_size. Null when there is no input.
EMSCRIPTEN_KEEPALIVE const char* zc_map_svg(const char* name, const unsigned char* data,
                                            std::size_t size) {
  delete lastMap;
  lastMap = nullptr;
  Mapper mapper;
  if (data != nullptr) {
    ForEachImage(name == nullptr ? "" : name, std::vector<unsigned char>(data, data + size),
                 mapper);
  } else if (last != nullptr) {
    ForEachImage(last->name, last->input, mapper);
  } else {
    return nullptr;
  }
  lastMap = new std::string(DiskMapSvg(mapper.maps));
  return lastMap->c_str();
}

// The map of every disk of the files added since the last run (see
// zc_add_file), one input named `name` as zc_run_input reads it: a KryoFlux
// dump's stream files are one disk. Kept until the next map; null when no
// file was added.
EMSCRIPTEN_KEEPALIVE const char* zc_map_svg_input(const char* name) {
  delete lastMap;
  lastMap = nullptr;
  if (given == nullptr) {
    return nullptr;
  }
  std::vector<NamedBuffer> buffers = std::move(*given);
  delete given;
  given = nullptr;
  Mapper mapper;
  ForEachImage(name == nullptr ? "" : name, std::move(buffers), mapper);
  lastMap = new std::string(DiskMapSvg(mapper.maps));
  return lastMap->c_str();
}

// The map of every disk of the input of the last zc_run_input that cut or
// planned (kept until the next map); null when there is none.
EMSCRIPTEN_KEEPALIVE const char* zc_run_map() {
  return lastMap == nullptr ? nullptr : lastMap->c_str();
}

EMSCRIPTEN_KEEPALIVE int zc_map_svg_size() {
  return lastMap == nullptr ? 0 : static_cast<int>(lastMap->size());
}

// Whether this build reads archives.
EMSCRIPTEN_KEEPALIVE int zc_reads_archives() {
#ifdef ZEFACUT_PAGE_ARCHIVES
  return 1;
#else
  return 0;
#endif
}

}  // extern "C"

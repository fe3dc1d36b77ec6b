// The page's way into the tool: a plain C interface that the worker calls.
// One call cuts (or plans, or lists) one dropped file held in memory; its
// lines and files stay here, readable one by one, until the next call.
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
  PageOutput() : MemoryOutput(Encoding::Utf8) {}

  void Say(Channel channel, const Text& text) override {
    MemoryOutput::Say(channel, text);
    static const std::string kReading = "reading ... ";
    if (text.utf8.compare(0, kReading.size(), kReading) == 0) {
      TellProgress(text.utf8.data(), static_cast<int>(text.utf8.size()));
    }
  }
};

// d88info's text listing of each image of an input, problems told in the
// tool's words.
class Lister : public ImageVisitor {
 public:
  explicit Lister(MemoryOutput& output) : output_(output), report_(output) {}

  void Archive(const std::string& /*path*/, const char* format) override {
    archive_ = true;
    Print(std::string("archive: ") + format);
  }

  void Image(const std::string& /*name*/, const std::string& member, DiskImage& image) override {
    if (archive_) {
      Print("");
      Print("member: " + ShownName(member));
    }
    ListImage(image, [this](const std::string& line) { Print(line); });
  }

  void Problem(const InputProblem& problem) override { report_.Problem(problem); }

  int Status() const { return report_.Status(); }

 private:
  void Print(const std::string& line) { output_.Say(Channel::Out, Text::Ascii(line + "\n")); }

  MemoryOutput& output_;
  Report report_;
  bool archive_ = false;
};

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
  int status = 0;
  // The input, kept for its map, which is drawn only when asked for.
  std::string name;
  std::vector<unsigned char> input;
};

Result* last = nullptr;
// The last map drawn, kept until the next.
std::string* lastMap = nullptr;

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
    Lister lister(last->output);
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

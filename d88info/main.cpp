// d88info [--json] IMAGE: lists the disks of a disk image, the sector IDs of
// their tracks, and what zefacut makes of each disk.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "flux/flux.h"
#include "formats/d88_writer.h"
#include "input/image_input.h"
#include "platform/console.h"
#include "platform/portable.h"
#include "platform/text_form.h"
#include "run/console_lines.h"
#include "run/disk_map.h"
#include "run/input_lister.h"
#include "run/listing.h"
#include "run/report.h"

#ifndef ZEFACUT_VERSION
#define ZEFACUT_VERSION "0.0.0"
#endif

namespace {

// The usage line's words after the program.
constexpr char kSynopsis[] = " [--json] [--write-d88 OUT.d88] IMAGE";

enum OptionId { kJson, kEncoding, kWriteD88, kSvg };

const std::vector<OptionRow>& Table() {
  static const std::vector<OptionRow> table = {
      {kJson, '\0', "json", OptionValue::kNone, "", "",
       "one JSON document instead of text, for scripts\n(always UTF-8)"},
      {kEncoding, '\0', "encoding", OptionValue::kAnyText, "one of auto, sjis, utf-8", "=NAME",
       "the text's encoding: auto (Shift-JIS, or the\nterminal's own), sjis or utf-8"},
      {kWriteD88, '\0', "write-d88", OptionValue::kRequired, "a file", " FILE",
       "write every disk as read, each track and sector\nwith its ID, marks and data, to FILE as "
       "D88"},
      {kSvg, '\0', "svg", OptionValue::kRequired, "a file", " FILE",
       "draw a map of every disk to FILE as SVG: each\nsector's state, the files cut from it"},
  };
  return table;
}

// Where the option list's text starts.
constexpr std::size_t kHelpColumn = 25;

std::string HelpText() {
  return "d88info lists what a disk image holds: its format, every disk with its\n"
         "header fields and geometry, the sector IDs of each track with what the\n"
         "image marks of them, and what zefacut makes of each disk.\n"
         "\n"
         "Usage: d88info [options] IMAGE\n"
         "\n"
         "Options:\n" +
         OptionsHelp(Table(), kHelpColumn) +
         "\n"
         "Options may come before or after the image. An IMAGE of - is read from\n"
         "standard input.\n"
         "\n"
         "Exit status: 0 when the image was listed, 2 after a warning (an archive\n"
         "with no image, a member passed over), 1 on an error.\n";
}

struct Arguments {
  enum class Action { List, Help, Version, Usage, Error };
  Action action = Action::List;
  bool json = false;
  std::optional<TextForm> encoding;  // none: auto
  std::string path;
  std::string writeD88;  // where to write the disks as D88; empty for nowhere
  std::string svg;       // where to draw the disks' map; empty for nowhere
  std::string error;
};

// The options of the table, before or after the image; exactly one image.
Arguments ParseArguments(const std::vector<std::string>& arguments) {
  Arguments parsed;
  const ParsedLine line = ParseOptions(arguments, Table());
  switch (line.action) {
    case ParsedLine::Action::kHelp:
      parsed.action = Arguments::Action::Help;
      return parsed;
    case ParsedLine::Action::kVersion:
      parsed.action = Arguments::Action::Version;
      return parsed;
    case ParsedLine::Action::kError:
      parsed.action = Arguments::Action::Error;
      parsed.error = line.error;
      return parsed;
    case ParsedLine::Action::kRun:
      break;
  }
  for (const GivenOption& option : line.options) {
    switch (option.id) {
      case kJson:
        parsed.json = true;
        break;
      case kEncoding:
        if (!ParseEncoding(option.value, parsed.encoding)) {
          parsed.action = Arguments::Action::Error;
          parsed.error = "unknown encoding '" + option.value + "'; use auto, sjis or utf-8";
          return parsed;
        }
        break;
      case kWriteD88:
        parsed.writeD88 = option.value;
        break;
      case kSvg:
        parsed.svg = option.value;
        break;
      default:
        break;
    }
  }
  if (line.paths.empty()) {
    parsed.action = Arguments::Action::Usage;
    return parsed;
  }
  if (line.paths.size() > 1) {
    parsed.action = Arguments::Action::Error;
    parsed.error = "d88info takes one image, not " + std::to_string(line.paths.size());
    return parsed;
  }
  parsed.path = line.paths.front();
  return parsed;
}

// Lists each image of the input (see InputLister), and with -w collects
// its disks as D88.
class Lister : public InputLister {
 public:
  Lister(Console& console, bool json)
      : InputLister(lines_, Settings{json, true}), console_(console), lines_(console) {}

  int Status() const { return failed_ ? 1 : InputLister::Status(); }

  // The disks go as D88 into `bytes`, one after another.
  void CollectD88(std::vector<unsigned char>* bytes) { d88_ = bytes; }
  int DisksCollected() const { return disks_; }
  // Each image's map goes into `maps`.
  void CollectMaps(std::vector<ImageMap>* maps) { maps_ = maps; }

 protected:
  void Listing(const std::string& name, const std::string& /*member*/, DiskImage& image) override {
    if (maps_ != nullptr) {
      maps_->push_back(MapImage(image, ShownName(name)));
    }
    if (d88_ == nullptr) {
      return;
    }
    for (int disk = 0; disk < image.DiskCount(); ++disk) {
      const std::string why = AppendD88Disk(image, disk, *d88_);
      if (!why.empty()) {
        std::string line = "error: " + name;
        line += ": disk " + std::to_string(disk + 1);
        line += " not written as D88: " + why;
        line += "\n";
        console_.Err(line);
        failed_ = true;
      }
    }
    disks_ += image.DiskCount();
  }

 private:
  Console& console_;
  ConsoleLines lines_;
  std::vector<unsigned char>* d88_ = nullptr;
  std::vector<ImageMap>* maps_ = nullptr;
  int disks_ = 0;
  bool failed_ = false;
};

// Writes the D88 bytes to `path` through a temporary file beside it, which
// takes the name only when whole. Empty when written, otherwise why not.
std::string WriteD88File(const std::string& path, const std::vector<unsigned char>& bytes) {
  TemporaryNamer namer;
  TemporaryFile temporary;
  int error = OpenTemporaryBeside(path, temporary, namer);
  if (error == 0) {
    error = WriteAll(temporary.descriptor, bytes.data(), bytes.size());
    if (error != 0) {
      DiscardTemporary(temporary);
    } else {
      error = PlaceTemporary(temporary, path, namer);
    }
  }
  return error == 0 ? std::string() : std::strerror(error);
}

}  // namespace

int main(int argc, char** argv) {
  UseBinaryStandardStreams();
  // A listing piped into a pager that quits early is told as lost output.
  IgnoreBrokenPipe();
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);
  const Usage usage{ProgramName(arguments, "d88info"), kSynopsis};
  Console console(stdout, stderr);
  const Arguments parsed = ParseArguments(arguments);
  switch (parsed.action) {
    case Arguments::Action::Help:
      console.Out(HelpText());
      return console.Finish() ? 0 : 1;
    case Arguments::Action::Version:
      console.Out("d88info (zefacut) " ZEFACUT_VERSION "\n");
      return console.Finish() ? 0 : 1;
    case Arguments::Action::Error:
      return CommandLineError(console, usage, parsed.error);
    case Arguments::Action::Usage:
      return ShowUsage(console, usage);
    case Arguments::Action::List:
      break;
  }
  // Names in each stream's form, as zefacut writes them; JSON is UTF-8
  // wherever it goes.
  console.outForm = FormFor(console.out, parsed.encoding);
  console.errForm = FormFor(console.err, parsed.encoding);
  if (parsed.json && console.outForm == TextForm::ShiftJis) {
    console.outForm = TextForm::Utf8;
  }
  Lister lister(console, parsed.json);
  std::vector<unsigned char> d88;
  if (!parsed.writeD88.empty()) {
    // Renaming over the image would destroy it, under whatever name it goes.
    const std::optional<FileIdentity> target = IdentifyFile(parsed.writeD88.c_str());
    const std::optional<FileIdentity> image =
        parsed.path == kStandardInputPath ? std::nullopt : IdentifyFile(parsed.path.c_str());
    if (target && image && *target == *image) {
      console.Err("error: cannot write '" + parsed.writeD88 + "': it is the image being read\n");
      console.Finish();
      return 1;
    }
    RemoveTemporaryOnSignals();
    lister.CollectD88(&d88);
  }
  // Every track is listed: a flux dump's are decoded on all cores at once.
  DecodeWholeFluxDisks(true);
  std::vector<ImageMap> maps;
  if (!parsed.svg.empty()) {
    const std::optional<FileIdentity> target = IdentifyFile(parsed.svg.c_str());
    const std::optional<FileIdentity> image =
        parsed.path == kStandardInputPath ? std::nullopt : IdentifyFile(parsed.path.c_str());
    if (target && image && *target == *image) {
      console.Err("error: cannot write '" + parsed.svg + "': it is the image being read\n");
      console.Finish();
      return 1;
    }
    RemoveTemporaryOnSignals();
    lister.CollectMaps(&maps);
  }
  ForEachImage(parsed.path, lister);
  lister.End();
  bool written = true;
  if (!parsed.writeD88.empty() && lister.DisksCollected() > 0) {
    const std::string why = WriteD88File(parsed.writeD88, d88);
    if (!why.empty()) {
      console.Err("error: cannot write '" + parsed.writeD88 + "': " + why + "\n");
      written = false;
    }
  }
  if (!parsed.svg.empty() && !maps.empty()) {
    const std::string svg = DiskMapSvg(maps);
    const std::string why = WriteD88File(parsed.svg, {svg.begin(), svg.end()});
    if (!why.empty()) {
      console.Err("error: cannot write '" + parsed.svg + "': " + why + "\n");
      written = false;
    }
  }
  const bool delivered = console.Finish();
  return delivered && written ? lister.Status() : 1;
}

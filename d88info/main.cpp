// d88info [--json] IMAGE: lists the disks of a disk image, the sector IDs of
// their tracks, and what zefacut makes of each disk.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

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

constexpr char kUsage[] = " [--json] [--write-d88 OUT.d88] IMAGE\n";

constexpr char kHelp[] =
    "d88info lists what a disk image holds: its format, every disk with its\n"
    "header fields and geometry, the sector IDs of each track with what the\n"
    "image marks of them, and what zefacut makes of each disk.\n"
    "\n"
    "Usage: d88info [options] IMAGE\n"
    "\n"
    "Options:\n"
    "      --json             one JSON document instead of text, for scripts\n"
    "                         (always UTF-8)\n"
    "      --encoding=NAME    the text's encoding: auto (Shift-JIS, or the\n"
    "                         terminal's own), sjis or utf-8\n"
    "      --write-d88 FILE   write every disk as read, each track and sector\n"
    "                         with its ID, marks and data, to FILE as D88\n"
    "      --svg FILE         draw a map of every disk to FILE as SVG: each\n"
    "                         sector's state, the files cut from it\n"
    "  -h, --help             show this help\n"
    "  -V, --version          show the version\n"
    "  --                     end of options\n"
    "\n"
    "Options may come before or after the image. An IMAGE of - is read from\n"
    "standard input.\n"
    "\n"
    "Exit status: 0 when the image was listed, 2 after a warning (an archive\n"
    "with no image, a member passed over), 1 on an error.\n";

struct Arguments {
  enum class Action { List, Help, Version, Usage, Error };
  Action action = Action::List;
  bool json = false;
  Encoding encoding = Encoding::Auto;
  std::string path;
  std::string writeD88;  // where to write the disks as D88; empty for nowhere
  std::string svg;       // where to draw the disks' map; empty for nowhere
  std::string error;
};

// Options before or after the image, as zefacut takes them, until `--`;
// exactly one image.
Arguments ParseArguments(const std::vector<std::string>& arguments) {
  Arguments parsed;
  std::vector<std::string> paths;
  bool options = true;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (options && argument == "--") {
      options = false;
    } else if (options && argument.size() > 1 && argument[0] == '-') {
      if (argument == "-h" || argument == "--help") {
        parsed.action = Arguments::Action::Help;
        return parsed;
      }
      if (argument == "-V" || argument == "--version") {
        parsed.action = Arguments::Action::Version;
        return parsed;
      }
      const std::string::size_type equals = argument.find('=');
      const std::string name = argument.substr(0, equals);
      if (argument == "--json") {
        parsed.json = true;
      } else if (name == "--write-d88") {
        if (equals != std::string::npos) {
          parsed.writeD88 = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
          parsed.writeD88 = arguments[++i];
        }
        if (parsed.writeD88.empty()) {
          parsed.action = Arguments::Action::Error;
          parsed.error = "option '--write-d88' needs a file";
          return parsed;
        }
      } else if (name == "--svg") {
        if (equals != std::string::npos) {
          parsed.svg = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
          parsed.svg = arguments[++i];
        }
        if (parsed.svg.empty()) {
          parsed.action = Arguments::Action::Error;
          parsed.error = "option '--svg' needs a file";
          return parsed;
        }
      } else if (name == "--encoding") {
        std::string value;
        if (equals != std::string::npos) {
          value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
          value = arguments[++i];
        } else {
          parsed.action = Arguments::Action::Error;
          parsed.error = "option '--encoding' needs one of auto, sjis, utf-8";
          return parsed;
        }
        if (!ParseEncoding(value, parsed.encoding)) {
          parsed.action = Arguments::Action::Error;
          parsed.error = "unknown encoding '" + value + "'; use auto, sjis or utf-8";
          return parsed;
        }
      } else {
        parsed.action = Arguments::Action::Error;
        parsed.error = "unknown option '" + argument + "'";
        return parsed;
      }
    } else {
      paths.push_back(argument);
    }
  }
  if (paths.size() != 1) {
    parsed.action = Arguments::Action::Usage;
    return parsed;
  }
  parsed.path = paths.front();
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
  const std::string program =
      !arguments.empty() && !arguments[0].empty() ? arguments[0] : "d88info";
  Console console(stdout, stderr);
  const Arguments parsed = ParseArguments(arguments);
  switch (parsed.action) {
    case Arguments::Action::Help:
      console.Out(kHelp);
      return console.Finish() ? 0 : 1;
    case Arguments::Action::Version:
      console.Out("d88info (zefacut) " ZEFACUT_VERSION "\n");
      return console.Finish() ? 0 : 1;
    case Arguments::Action::Error:
      console.Err("error: " + parsed.error + "\n");
      console.Err("Usage: " + program + kUsage);
      console.Finish();
      return 1;
    case Arguments::Action::Usage:
      console.Err("Usage: " + program + kUsage);
      console.Finish();
      return 1;
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

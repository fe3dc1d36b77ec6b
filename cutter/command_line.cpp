#include "cutter/command_line.h"

#include <string>

#include "cli/options.h"

namespace {

// A count of threads: 1 to 256, in decimal digits only.
bool ParseJobs(const std::string& text, unsigned& jobs) {
  if (text.empty() || text.size() > 3 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const unsigned value = static_cast<unsigned>(std::stoul(text));
  if (value < 1 || value > 256) {
    return false;
  }
  jobs = value;
  return true;
}

enum OptionId { kOutput, kPerDisk, kRecursive, kJobs, kDryRun, kQuiet, kManifest, kEncoding };

const std::vector<OptionRow>& Table() {
  static const std::vector<OptionRow> table = {
      {kOutput, 'o', "output", OptionValue::kRequired, "a folder", " DIR",
       "write the files into DIR (made if missing) instead of\nthe current folder"},
      {kPerDisk, 'd', "per-disk", OptionValue::kNone, "", "",
       "put every disk's files in a folder of their own in it,\nnamed after the image and the "
       "disk"},
      {kRecursive, 'r', "recursive", OptionValue::kNone, "", "",
       "read every image under each folder given, its files\nin folders that mirror the tree"},
      {kJobs, 'j', "jobs", OptionValue::kRequired, "a number of threads from 1 to 256", " N",
       "read N inputs at once (default: one per core); the\noutput is the same"},
      {kDryRun, 'n', "dry-run", OptionValue::kNone, "", "",
       "list what would be written; write nothing"},
      {kQuiet, 'q', "quiet", OptionValue::kNone, "", "",
       "no progress lines; warnings and errors still shown"},
      {kManifest, '\0', "manifest", OptionValue::kRequired, "a file", " FILE",
       "write FILE at the end: a JSON record of every file\nwritten (with its checksums and the "
       "sectors it came\nfrom) and every image read"},
      {kEncoding, '\0', "encoding", OptionValue::kAnyText, "one of auto, sjis, utf-8",
       "=auto|sjis|utf-8",
       "how the Japanese lines are written (auto: Shift-JIS\nto files and pipes, UTF-8 to a UTF-8 "
       "terminal)"},
  };
  return table;
}

// Where the option list's text starts.
constexpr std::size_t kHelpColumn = 23;

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
  std::vector<std::string> arguments;
  arguments.reserve(argc > 0 ? static_cast<std::size_t>(argc) : 0);
  for (int i = 0; i < argc; ++i) {
    arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  }
  const ParsedLine parsed = ParseOptions(arguments, Table());
  CommandLine line;
  switch (parsed.action) {
    case ParsedLine::Action::kHelp:
      line.action = CommandLine::Action::Help;
      return line;
    case ParsedLine::Action::kVersion:
      line.action = CommandLine::Action::Version;
      return line;
    case ParsedLine::Action::kError:
      line.action = CommandLine::Action::Error;
      line.error = parsed.error;
      return line;
    case ParsedLine::Action::kRun:
      break;
  }
  Options& options = line.options;
  for (const GivenOption& option : parsed.options) {
    switch (option.id) {
      case kOutput:
        options.outputFolder = option.value;
        break;
      case kPerDisk:
        options.perDisk = true;
        break;
      case kRecursive:
        options.recursive = true;
        break;
      case kJobs:
        if (!ParseJobs(option.value, options.jobs)) {
          line.action = CommandLine::Action::Error;
          line.error = "option '--jobs' needs a number of threads from 1 to 256";
          return line;
        }
        break;
      case kDryRun:
        options.dryRun = true;
        break;
      case kQuiet:
        options.quiet = true;
        break;
      case kManifest:
        options.manifest = option.value;
        break;
      case kEncoding:
        if (!ParseEncoding(option.value, options.encoding)) {
          line.action = CommandLine::Action::Error;
          line.error = "unknown encoding '" + option.value + "'; use auto, sjis or utf-8";
          return line;
        }
        break;
      default:
        break;
    }
  }
  line.paths = parsed.paths;
  if (line.paths.empty()) {
    line.action = CommandLine::Action::Usage;
  }
  return line;
}

std::string HelpText() {
  return "zefacut cuts the sound drivers and music data out of disk images of the\n"
         "ZEFA LOMRI games (titles 1, 2 and 3): it recognises each disk of each image\n"
         "and writes the files that disk holds, byte for byte.\n"
         "\n"
         "Usage: zefacut [options] IMAGE...\n"
         "\n"
         "Options:\n" +
         OptionsHelp(Table(), kHelpColumn) +
         "\n"
         "Options may come before or after the images. An IMAGE of - is read from\n"
         "standard input.\n"
         "\n"
         "Exit status: 0 when every file was written whole from sound sectors, 2 after\n"
         "a warning, 1 on an error.\n";
}

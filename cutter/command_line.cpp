#include "cutter/command_line.h"

#include <cstring>
#include <string>

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

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine line;
  const auto fail = [&line](const std::string& error) {
    line.action = CommandLine::Action::Error;
    line.error = error;
    return line;
  };
  int i = 1;
  for (; i < argc; ++i) {
    const std::string argument = argv[i] != nullptr ? argv[i] : "";
    if (argument == "--") {
      ++i;
      break;
    }
    // A lone "-" (standard input) and anything not starting with "-" is a
    // path; options may still follow it, as with GNU tools.
    if (argument.size() < 2 || argument[0] != '-') {
      line.paths.push_back(argument);
      continue;
    }
    if (argument[1] == '-') {
      const std::string::size_type equals = argument.find('=');
      const std::string name = argument.substr(0, equals);
      const bool hasValue = equals != std::string::npos;
      const std::string inlineValue = hasValue ? argument.substr(equals + 1) : "";
      const auto value = [&](std::string& out) {
        if (hasValue) {
          out = inlineValue;
          return true;
        }
        if (i + 1 < argc && argv[i + 1] != nullptr) {
          out = argv[++i];
          return true;
        }
        return false;
      };
      if (name == "--help" && !hasValue) {
        line.action = CommandLine::Action::Help;
        return line;
      }
      if (name == "--version" && !hasValue) {
        line.action = CommandLine::Action::Version;
        return line;
      }
      if (name == "--per-disk" && !hasValue) {
        line.options.perDisk = true;
      } else if (name == "--dry-run" && !hasValue) {
        line.options.dryRun = true;
      } else if (name == "--quiet" && !hasValue) {
        line.options.quiet = true;
      } else if (name == "--recursive" && !hasValue) {
        line.options.recursive = true;
      } else if (name == "--jobs") {
        std::string jobs;
        if (!value(jobs) || !ParseJobs(jobs, line.options.jobs)) {
          return fail("option '--jobs' needs a number of threads from 1 to 256");
        }
      } else if (name == "--output") {
        if (!value(line.options.outputFolder) || line.options.outputFolder.empty()) {
          return fail("option '--output' needs a folder");
        }
      } else if (name == "--encoding") {
        std::string encoding;
        if (!value(encoding)) {
          return fail("option '--encoding' needs one of auto, sjis, utf-8");
        }
        if (!ParseEncoding(encoding, line.options.encoding)) {
          return fail("unknown encoding '" + encoding + "'; use auto, sjis or utf-8");
        }
      } else {
        return fail("unknown option '" + argument + "'");
      }
      continue;
    }
    // Short options, which may share one argument: -dq, -oDIR.
    for (std::size_t at = 1; at < argument.size(); ++at) {
      const char option = argument[at];
      switch (option) {
        case 'h':
          line.action = CommandLine::Action::Help;
          return line;
        case 'V':
          line.action = CommandLine::Action::Version;
          return line;
        case 'd':
          line.options.perDisk = true;
          break;
        case 'n':
          line.options.dryRun = true;
          break;
        case 'q':
          line.options.quiet = true;
          break;
        case 'r':
          line.options.recursive = true;
          break;
        case 'j': {
          std::string jobs;
          if (at + 1 < argument.size()) {
            jobs = argument.substr(at + 1);
          } else if (i + 1 < argc && argv[i + 1] != nullptr) {
            jobs = argv[++i];
          }
          if (!ParseJobs(jobs, line.options.jobs)) {
            return fail("option '-j' needs a number of threads from 1 to 256");
          }
          at = argument.size();
          break;
        }
        case 'o':
          line.options.outputFolder.clear();
          if (at + 1 < argument.size()) {
            line.options.outputFolder = argument.substr(at + 1);
          } else if (i + 1 < argc && argv[i + 1] != nullptr) {
            line.options.outputFolder = argv[++i];
          }
          if (line.options.outputFolder.empty()) {
            return fail("option '-o' needs a folder");
          }
          at = argument.size();
          break;
        default:
          return fail(std::string("unknown option '-") + option + "'");
      }
    }
  }
  for (; i < argc; ++i) {
    line.paths.emplace_back(argv[i] != nullptr ? argv[i] : "");
  }
  if (line.paths.empty()) {
    line.action = CommandLine::Action::Usage;
  }
  return line;
}

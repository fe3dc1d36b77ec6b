#include "cutter/command_line.h"

#include <cstring>

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
      } else if (name == "--output") {
        if (!value(line.options.outputFolder) || line.options.outputFolder.empty()) {
          return fail("option '--output' needs a folder");
        }
      } else if (name == "--manifest") {
        if (!value(line.options.manifest) || line.options.manifest.empty()) {
          return fail("option '--manifest' needs a file");
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

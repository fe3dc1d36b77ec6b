#include "cli/options.h"

#include <algorithm>

namespace {

// -h/--help and -V/--version, which every program takes and which end the
// reading of the line at once.
const OptionRow kHelpRow{kHelpOption, 'h', "help", OptionValue::kNone, "", "", "show this help"};
const OptionRow kVersionRow{kVersionOption,    'V', "version", OptionValue::kNone, "", "",
                            "show the version"};

const OptionRow* FindLong(const std::vector<OptionRow>& table, const std::string& name) {
  if (name == kHelpRow.longName) {
    return &kHelpRow;
  }
  if (name == kVersionRow.longName) {
    return &kVersionRow;
  }
  const auto found = std::find_if(table.begin(), table.end(), [&name](const OptionRow& row) {
    return row.longName != nullptr && name == row.longName;
  });
  return found == table.end() ? nullptr : &*found;
}

const OptionRow* FindShort(const std::vector<OptionRow>& table, char name) {
  if (name == kHelpRow.shortName) {
    return &kHelpRow;
  }
  if (name == kVersionRow.shortName) {
    return &kVersionRow;
  }
  const auto found = std::find_if(table.begin(), table.end(), [name](const OptionRow& row) {
    return row.shortName != '\0' && name == row.shortName;
  });
  return found == table.end() ? nullptr : &*found;
}

}  // namespace

ParsedLine ParseOptions(const std::vector<std::string>& arguments,
                        const std::vector<OptionRow>& table) {
  ParsedLine line;
  const auto fail = [&line](const std::string& error) {
    line.action = ParsedLine::Action::kError;
    line.error = error;
    return line;
  };
  // A switch ends the reading when it is -h or -V; false then.
  const auto take = [&line](const OptionRow& row, std::string value) {
    if (row.id == kHelpOption || row.id == kVersionOption) {
      line.action =
          row.id == kHelpOption ? ParsedLine::Action::kHelp : ParsedLine::Action::kVersion;
      return false;
    }
    line.options.push_back({row.id, std::move(value)});
    return true;
  };
  std::size_t i = 1;
  for (; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--") {
      ++i;
      break;
    }
    // A lone "-" (standard input) and anything not starting with "-" is a
    // path; options may still follow it.
    if (argument.size() < 2 || argument[0] != '-') {
      line.paths.push_back(argument);
      continue;
    }
    if (argument[1] == '-') {
      const std::string::size_type equals = argument.find('=');
      const bool inlineValue = equals != std::string::npos;
      const std::string name = argument.substr(2, inlineValue ? equals - 2 : std::string::npos);
      const OptionRow* row = FindLong(table, name);
      if (row == nullptr || (row->value == OptionValue::kNone && inlineValue)) {
        return fail("unknown option '" + argument + "'");
      }
      std::string value;
      if (row->value != OptionValue::kNone) {
        if (inlineValue) {
          value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
          value = arguments[++i];
        } else {
          return fail("option '--" + name + "' needs " + row->needs);
        }
        if (value.empty() && row->value == OptionValue::kRequired) {
          return fail("option '--" + name + "' needs " + row->needs);
        }
      }
      if (!take(*row, std::move(value))) {
        return line;
      }
      continue;
    }
    // Short options, which may share one argument: -dq, -oDIR.
    for (std::size_t at = 1; at < argument.size(); ++at) {
      const char name = argument[at];
      const OptionRow* row = FindShort(table, name);
      if (row == nullptr) {
        return fail(std::string("unknown option '-") + name + "'");
      }
      std::string value;
      if (row->value != OptionValue::kNone) {
        const bool missing = at + 1 == argument.size() && i + 1 == arguments.size();
        value = at + 1 < argument.size() ? argument.substr(at + 1) : missing ? "" : arguments[++i];
        if (missing || (value.empty() && row->value == OptionValue::kRequired)) {
          return fail(std::string("option '-") + name + "' needs " + row->needs);
        }
        at = argument.size();
      }
      if (!take(*row, std::move(value))) {
        return line;
      }
    }
  }
  for (; i < arguments.size(); ++i) {
    line.paths.push_back(arguments[i]);
  }
  return line;
}

std::string OptionsHelp(const std::vector<OptionRow>& table, std::size_t column) {
  std::string help;
  // The names from column 2, the text from `column`, or on the next line
  // when the names reach it.
  const auto entry = [&help, column](const std::string& names, const char* text) {
    help += "  " + names;
    if (2 + names.size() < column) {
      help.append(column - 2 - names.size(), ' ');
    } else {
      help += '\n';
      help.append(column, ' ');
    }
    for (const char* at = text; *at != '\0'; ++at) {
      help += *at;
      if (*at == '\n') {
        help.append(column, ' ');
      }
    }
    help += '\n';
  };
  const auto row = [&entry](const OptionRow& option) {
    std::string names =
        option.shortName != '\0' ? std::string("-") + option.shortName + ", " : std::string("    ");
    names += std::string("--") + option.longName + option.shownValue;
    entry(names, option.help);
  };
  for (const OptionRow& option : table) {
    row(option);
  }
  row(kHelpRow);
  row(kVersionRow);
  entry("--", "end of options");
  return help;
}

int ShowUsage(Console& console, const Usage& usage) {
  console.Err("Usage: " + usage.program + usage.synopsis + "\n");
  console.Finish();
  return 1;
}

int CommandLineError(Console& console, const Usage& usage, const std::string& error) {
  console.Err("error: " + error + "\n");
  console.Err("Usage: " + usage.program + usage.synopsis + "\n");
  console.Err("Try '" + usage.program + " --help' for more.\n");
  console.Finish();
  return 1;
}

std::string ProgramName(const std::vector<std::string>& arguments, const char* fallback) {
  return !arguments.empty() && !arguments[0].empty() ? arguments[0] : fallback;
}

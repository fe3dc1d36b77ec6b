// The reading of a command line against a table of options, as both
// programs read theirs: the forms of a value, `--`, the errors, help's
// option list and the lines of a bad command line.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

enum { kOut, kFlag, kOther, kText };

const std::vector<OptionRow> kTable = {
    {kOut, 'o', "output", OptionValue::kRequired, "a folder", " DIR", "the folder"},
    {kFlag, 'f', "flag", OptionValue::kNone, "", "", "a switch"},
    {kOther, 'g', "other", OptionValue::kNone, "", "", "another"},
    {kText, '\0', "text", OptionValue::kAnyText, "some text", "=TEXT", "two lines\nof help"},
};

// A parsed line in short: "help", "version", "error: ...", or each option
// as ID=VALUE and each path as [PATH], in order of kind.
std::string Shown(const ParsedLine& line) {
  switch (line.action) {
    case ParsedLine::Action::kHelp:
      return "help";
    case ParsedLine::Action::kVersion:
      return "version";
    case ParsedLine::Action::kError:
      return "error: " + line.error;
    case ParsedLine::Action::kRun:
      break;
  }
  std::string shown;
  for (const GivenOption& option : line.options) {
    shown += std::to_string(option.id) + "=" + option.value + " ";
  }
  for (const std::string& path : line.paths) {
    shown += "[" + path + "]";
  }
  return shown;
}

TEST(OptionsTest, ReadsEveryFormOfTheCommandLine) {
  const struct {
    std::vector<std::string> args;  // after argument 0
    const char* parsed;
  } kCases[] = {
      // Values: --name=value, --name value, -xVALUE, -x VALUE; a value may
      // start with '-'.
      {{"--output=out", "a"}, "0=out [a]"},
      {{"--output", "out", "a"}, "0=out [a]"},
      {{"-oout", "a"}, "0=out [a]"},
      {{"-o", "out", "a"}, "0=out [a]"},
      {{"-o", "-f", "a"}, "0=-f [a]"},
      {{"--output", "--flag"}, "0=--flag "},
      // Switches together, a value after them in the same argument.
      {{"-fg", "a"}, "1= 2= [a]"},
      {{"-fgoout"}, "1= 2= 0=out "},
      // Options after paths, in the order given; paths in theirs.
      {{"a", "-f", "b", "--other"}, "1= 2= [a][b]"},
      // `--` ends the options; "-" and "" are paths.
      {{"--", "-f", "--output"}, "[-f][--output]"},
      {{"-", "", "--", "--"}, "[-][][--]"},
      // An empty value: missing where it is required, handed on otherwise.
      {{"--text=", "a"}, "3= [a]"},
      {{"--text", "", "a"}, "3= [a]"},
      {{"--output="}, "error: option '--output' needs a folder"},
      {{"-o", ""}, "error: option '-o' needs a folder"},
      {{"a", "-o"}, "error: option '-o' needs a folder"},
      {{"--output"}, "error: option '--output' needs a folder"},
      {{"--text"}, "error: option '--text' needs some text"},
      // Unknown options, as given; a switch given a value is unknown too.
      {{"--frob", "a"}, "error: unknown option '--frob'"},
      {{"--flag=yes"}, "error: unknown option '--flag=yes'"},
      {{"--help=yes"}, "error: unknown option '--help=yes'"},
      {{"-fz"}, "error: unknown option '-z'"},
      {{"--fla"}, "error: unknown option '--fla'"},
      // -h and -V end the reading: nothing after them is checked.
      {{"-f", "-h", "--frob"}, "help"},
      {{"-fh"}, "help"},
      {{"a", "--version", "-o"}, "version"},
      {{"-V"}, "version"},
      // ... but what comes before them is.
      {{"--frob", "-h"}, "error: unknown option '--frob'"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::vector<std::string> arguments = {"program"};
    arguments.insert(arguments.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Shown(ParseOptions(arguments, kTable)), c.parsed);
  }
  // No argument at all, not even argument 0.
  EXPECT_EQ(Shown(ParseOptions({}, kTable)), "");
}

TEST(OptionsTest, HelpListsTheTableThenHelpVersionAndTheEndOfOptions) {
  EXPECT_EQ(OptionsHelp(kTable, 16),
            "  -o, --output DIR\n"
            "                the folder\n"
            "  -f, --flag    a switch\n"
            "  -g, --other   another\n"
            "      --text=TEXT\n"
            "                two lines\n"
            "                of help\n"
            "  -h, --help    show this help\n"
            "  -V, --version show the version\n"
            "  --            end of options\n");
}

// What a program says of a bad command line, read back from a file that
// stands for standard error.
std::string ErrorLines(bool error) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) {
    ADD_FAILURE() << "no temporary file";
    return {};
  }
  Console console(file, file);
  console.errForm = TextForm::Utf8;
  const Usage usage{"./tool", " [IMAGE]"};
  const int status =
      error ? CommandLineError(console, usage, "unknown option '-x'") : ShowUsage(console, usage);
  EXPECT_EQ(status, 1);
  std::rewind(file);
  std::string text;
  for (int ch = std::fgetc(file); ch != EOF; ch = std::fgetc(file)) {
    text += static_cast<char>(ch);
  }
  std::fclose(file);
  return text;
}

TEST(OptionsTest, AnErrorIsFollowedByTheUsageLineAndWhereMoreIsTold) {
  EXPECT_EQ(ErrorLines(true),
            "error: unknown option '-x'\n"
            "Usage: ./tool [IMAGE]\n"
            "Try './tool --help' for more.\n");
  EXPECT_EQ(ErrorLines(false), "Usage: ./tool [IMAGE]\n");
  EXPECT_EQ(ProgramName({"./tool", "a"}, "tool"), "./tool");
  EXPECT_EQ(ProgramName({"", "a"}, "tool"), "tool");
  EXPECT_EQ(ProgramName({}, "tool"), "tool");
}

}  // namespace

#include "run/report.h"

#include "input/image_input.h"
#include "platform/text_form.h"

void Report::Warning(const std::string& subject, const std::string& text) {
  WarningLine("warning: " + subject + ": " + text + "\n");
}

void Report::WarningLine(const std::string& line) {
  output_.Say(Channel::Err, Text::Ascii(line));
  ++warnings_;
}

void Report::ErrorLine(const std::string& line) {
  output_.Say(Channel::Err, Text::Ascii(line));
  ++errors_;
}

int Report::Status() const {
  if (errors_ > 0) {
    return 1;
  }
  return warnings_ > 0 ? 2 : 0;
}

void Report::Problem(const InputProblem& problem) {
  InputProblem shown = problem;
  shown.name = ShownName(problem.name);
  if (problem.IsError()) {
    ErrorLine(ProblemLine(shown));
  } else {
    WarningLine(ProblemLine(shown));
  }
}

#include "run/report.h"

#include "input/image_input.h"
#include "platform/text_form.h"
#include "run/text_renderer.h"

namespace {

const char* ProblemCode(InputProblem::Kind kind) {
  switch (kind) {
    case InputProblem::Kind::CannotOpen:
      return "cannot-open";
    case InputProblem::Kind::CannotRead:
      return "cannot-read";
    case InputProblem::Kind::NoArchiveSupport:
      return "no-archive-support";
    case InputProblem::Kind::ArchiveDamaged:
      return "archive-damaged";
    case InputProblem::Kind::NoImageInArchive:
      return "no-image-in-archive";
    case InputProblem::Kind::MemberTooLarge:
      return "member-too-large";
    case InputProblem::Kind::NestedTooDeep:
      return "nested-too-deep";
  }
  return "cannot-read";
}

}  // namespace

Report::Report(RunOutput& output) : Report(output, TextStyle{}) {}

Report::Report(RunOutput& output, const TextStyle& style)
    : output_(output), text_(std::make_unique<TextRenderer>(output, style)) {}

Report::~Report() = default;

template <typename Event>
void Report::Send(void (RunListener::*hear)(const Event&), const Event& event) {
  ((*text_).*hear)(event);
  for (RunListener* listener : listeners_) {
    (listener->*hear)(event);
  }
}

void Report::Started(const InputStarted& event) { Send(&RunListener::Started, event); }

void Report::Opened(const ImageOpened& event) { Send(&RunListener::Opened, event); }

void Report::Found(const DiskFound& event) { Send(&RunListener::Found, event); }

void Report::Cut(const FileCut& event) { Send(&RunListener::Cut, event); }

void Report::Advanced(const Progress& event) { Send(&RunListener::Advanced, event); }

void Report::Tell(const Note& note) {
  if (note.severity == Severity::Warning) {
    ++warnings_;
  } else if (note.severity == Severity::Error) {
    ++errors_;
  }
  Send(&RunListener::Told, note);
}

void Report::End(bool dryRun) {
  RunEnded ended;
  ended.files = files_;
  ended.warnings = warnings_;
  ended.errors = errors_;
  ended.status = Status();
  ended.dryRun = dryRun;
  Send(&RunListener::Ended, ended);
}

void Report::Warning(const std::string& subject, const std::string& text) {
  Note note;
  note.about = Subject::Image;
  note.subject = subject;
  note.image = subject;
  note.words = text;
  Tell(note);
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
  std::string line = ProblemLine(shown);
  Note note;
  note.severity = problem.IsError() ? Severity::Error : Severity::Warning;
  note.about = Subject::Image;
  note.code = ProblemCode(problem.kind);
  note.image = problem.name;
  // The words after the severity, without the line feed; most lines name
  // the input first, as every other note of an image does.
  const std::string prefix = problem.IsError() ? "error: " : "warning: ";
  if (line.compare(0, prefix.size(), prefix) == 0) {
    line.erase(0, prefix.size());
  }
  if (!line.empty() && line.back() == '\n') {
    line.pop_back();
  }
  const std::string named = shown.name + ": ";
  if (line.compare(0, named.size(), named) == 0) {
    note.subject = problem.name;
    note.words = line.substr(named.size());
  } else {
    note.subject = problem.name;
    note.subjectInWords = true;
    note.words = line;
  }
  Tell(note);
}

// The report of one run of the tool, built in one place: the events it
// hears, the warnings and errors it counts, the files it writes, and the exit
// status they decide. Where lines and files go is the front end's: a
// console and a folder, or memory.
#ifndef ZEFACUT_RUN_REPORT_H
#define ZEFACUT_RUN_REPORT_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "run/events.h"

// Lines as the run composes them: in UTF-8, with every name in them shown
// (ShownName). The output writes them in its stream's form, Shift-JIS or
// UTF-8 (TextInForm).
struct Text {
  std::string utf8;

  // ASCII is UTF-8 as it is.
  static Text Ascii(const std::string& text) { return {text}; }
};

// Where a line goes: recognition and progress to Out, warnings and errors
// to Err.
enum class Channel { Out, Err };

// What a front end gives a run: where its lines and files go.
class RunOutput {
 public:
  RunOutput() = default;
  virtual ~RunOutput() = default;
  RunOutput(const RunOutput&) = delete;
  RunOutput& operator=(const RunOutput&) = delete;

  // One or more whole lines, each ending in a line feed.
  virtual void Say(Channel channel, const Text& text) = 0;
  // Makes a folder with its parents; empty when it is there, otherwise why
  // not.
  virtual std::string MakeFolder(const std::string& folder) = 0;
  // Whether the file at `path` is one that its owner protected from being
  // written (mode 444, say), which a run leaves as it is.
  virtual bool IsReadOnly(const std::string& /*path*/) { return false; }
  // Writes a whole file under `path` (folder + name), replacing one of that
  // name; empty when written, otherwise why not.
  virtual std::string WriteFile(const std::string& path, const unsigned char* data,
                                std::size_t size) = 0;
};

struct InputProblem;
class TextRenderer;

// How the run's lines are written: see TextRenderer.
struct TextStyle;

// The report of a run: it hears the run's events, counts the warnings, the
// errors and the files, and hands every event on to the lines of the run's
// output and to each listener a front end adds.
class Report {
 public:
  explicit Report(RunOutput& output);
  Report(RunOutput& output, const TextStyle& style);
  ~Report();
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  RunOutput& Output() { return output_; }

  // Hears every event after the lines have been said; the listener is the
  // caller's and outlives the report's use.
  void Listen(RunListener& listener) { listeners_.push_back(&listener); }

  void Started(const InputStarted& event);
  void Opened(const ImageOpened& event);
  void Found(const DiskFound& event);
  void Cut(const FileCut& event);
  // A warning or an error is counted.
  void Tell(const Note& note);
  void Advanced(const Progress& event);
  // Tells the end with the counts and the status so far.
  void End(bool dryRun);

  // A line on the error stream that is no event and counts as neither (a
  // front end's own summary).
  void Say(const Text& text) { output_.Say(Channel::Err, text); }
  // "warning: SUBJECT: TEXT" about an image, counted.
  void Warning(const std::string& subject, const std::string& text);
  // A problem with an input, as an error or a warning by its kind: every
  // front end tells them alike.
  void Problem(const InputProblem& problem);
  // A file of a path not written before in the run (in a dry run, one that
  // would be): files replaced within the run count once.
  void FileWritten() { ++files_; }

  int FilesWritten() const { return files_; }
  int Warnings() const { return warnings_; }
  int Errors() const { return errors_; }
  // 0 when every file was written whole from sound sectors, 2 after a
  // warning, 1 after an error: a failure outweighs a doubt.
  int Status() const;

 private:
  template <typename Event>
  void Send(void (RunListener::*hear)(const Event&), const Event& event);

  RunOutput& output_;
  std::unique_ptr<TextRenderer> text_;
  std::vector<RunListener*> listeners_;
  int files_ = 0;
  int warnings_ = 0;
  int errors_ = 0;
};

#endif  // ZEFACUT_RUN_REPORT_H

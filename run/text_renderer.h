// The lines both programs print, rendered from a run's events: recognition
// and the files cut on standard output, warnings and errors on the error
// stream, in the words and bytes the tools have always written (scripts
// read them).
#ifndef ZEFACUT_RUN_TEXT_RENDERER_H
#define ZEFACUT_RUN_TEXT_RENDERER_H

#include <string>

#include "run/events.h"
#include "run/report.h"

struct TextStyle {
  // No "cutting ..." lines.
  bool quiet = false;
  // A "reading ... " line naming each input given to the run, not only each
  // archive member.
  bool nameEachInput = false;
  // zefacut's own line before an input that cannot be opened, in Japanese as
  // the tool has always said it; d88info has none.
  bool openFailedLine = false;
};

// A note's line without its line feed: "warning: FMSE: sector 6 0 5 3 of
// track 12 is marked as a data CRC error in the image", "error: cannot open
// 'x.d88': No such file or directory"; an info note is its words.
std::string NoteLine(const Note& note);

class TextRenderer : public RunListener {
 public:
  TextRenderer(RunOutput& output, const TextStyle& style) : output_(output), style_(style) {}

  void Started(const InputStarted& event) override;
  void Found(const DiskFound& event) override;
  void Cut(const FileCut& event) override;
  void Told(const Note& event) override;

 private:
  RunOutput& output_;
  TextStyle style_;
};

#endif  // ZEFACUT_RUN_TEXT_RENDERER_H

#include "run/text_renderer.h"

#include "known/cut_reading.h"
#include "platform/text_form.h"

namespace {

// The Japanese lines. The output writes them in its stream's form: in
// Shift-JIS they are the bytes the tool has always written.
// "ファイルをオープンできません.\n"
constexpr char kOpenFailed[] =
    "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE3\x82\xAA\xE3\x83\xBC"
    "\xE3\x83\x97\xE3\x83\xB3\xE3\x81\xA7\xE3\x81\x8D\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93.\n";
// "未対応の形式です.\n"
constexpr char kUnsupported[] =
    "\xE6\x9C\xAA\xE5\xAF\xBE\xE5\xBF\x9C\xE3\x81\xAE\xE5\xBD\xA2\xE5\xBC\x8F\xE3\x81\xA7"
    "\xE3\x81\x99.\n";
// A recognition line: the title, " の ", the disk, " を認識しました.\n".
constexpr char kOf[] = " \xE3\x81\xAE ";
constexpr char kRecognised[] =
    " \xE3\x82\x92\xE8\xAA\x8D\xE8\xAD\x98\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F.\n";

}  // namespace

std::string NoteLine(const Note& note) {
  std::string line;
  if (note.severity == Severity::Warning) {
    line = "warning: ";
  } else if (note.severity == Severity::Error) {
    line = "error: ";
  }
  if (!note.subjectInWords && !note.subject.empty()) {
    line += ShownName(note.subject) + ": ";
  }
  return line + note.words;
}

void TextRenderer::Started(const InputStarted& event) {
  // Which input the lines that follow are about: every archive member, and
  // each input of a run over several.
  if (!event.member.empty() || style_.nameEachInput) {
    output_.Say(Channel::Out, Text::Ascii("reading ... " + ShownName(event.name) + "\n"));
  }
}

void TextRenderer::Found(const DiskFound& event) {
  if (event.known) {
    output_.Say(Channel::Out, {event.title + kOf + event.disk + kRecognised});
  } else {
    output_.Say(Channel::Err, {kUnsupported});
  }
}

void TextRenderer::Cut(const FileCut& event) {
  if (!event.read || event.sectors.empty()) {
    return;
  }
  if (event.planned) {
    output_.Say(Channel::Out, Text::Ascii("would write " + ShownName(event.path) + ": " +
                                          std::to_string(event.size) + " bytes from " +
                                          SectorName(event.sectors.front().at) + "\n"));
  } else if (!style_.quiet) {
    output_.Say(Channel::Out, Text::Ascii("cutting ... " + event.name + "\n"));
  }
}

void TextRenderer::Told(const Note& event) {
  if (style_.openFailedLine && event.code == "cannot-open") {
    output_.Say(Channel::Err, {kOpenFailed});
  }
  output_.Say(Channel::Err, Text::Ascii(NoteLine(event) + "\n"));
}

#include "platform/console.h"

#include <cerrno>
#include <cstring>

#include "platform/portable.h"

namespace {

// Writes UTF-8 text in a stream's form; the system's error number when it
// was lost, 0 otherwise.
int Write(std::FILE* stream, TextForm form, const std::string& utf8) {
  const std::string text = TextInForm(utf8, form);
  if (form == TextForm::Console && WriteToConsole(stream, text)) {
    return 0;
  }
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stream) != text.size()) {
    return errno != 0 ? errno : EIO;
  }
  return 0;
}

// Flushes a stream: the system's error number of a failure, including one
// of an earlier write the stream remembers.
int Flush(std::FILE* stream) {
  errno = 0;
  if (std::fflush(stream) != 0) {
    return errno != 0 ? errno : EIO;
  }
  return std::ferror(stream) != 0 ? EIO : 0;
}

}  // namespace

// The names people write an encoding by, in any case, with or without
// hyphens and underscores: "Shift_JIS", "shift-jis", "UTF8", "utf-8".
bool ParseEncoding(const std::string& value, std::optional<TextForm>& asked) {
  std::string key;
  for (const char ch : value) {
    if (ch == '-' || ch == '_') {
      continue;
    }
    key += ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
  }
  if (key == "auto") {
    asked.reset();
  } else if (key == "sjis" || key == "shiftjis" || key == "cp932") {
    asked = TextForm::ShiftJis;
  } else if (key == "utf8") {
    asked = TextForm::Utf8;
  } else {
    return false;
  }
  return true;
}

TextForm FormFor(std::FILE* stream, std::optional<TextForm> asked) {
  if (asked) {
    return *asked;
  }
  switch (KindOfStream(stream)) {
    case StreamKind::Utf8Terminal:
      return TextForm::Utf8;
    case StreamKind::WindowsConsole:
      return TextForm::Console;
    case StreamKind::File:
    case StreamKind::OtherTerminal:
      break;
  }
  return TextForm::ShiftJis;
}

void Console::Out(const std::string& utf8) {
  const int error = Write(out, outForm, utf8);
  if (outError == 0) {
    outError = error;
  }
}

void Console::Err(const std::string& utf8) {
  if (const int error = Flush(out); error != 0 && outError == 0) {
    outError = error;
  }
  const int error = Write(err, errForm, utf8);
  if (errError == 0) {
    errError = error;
  }
}

void Console::Status(const std::string& utf8) {
  if (utf8.empty() && statusColumns == 0) {
    return;
  }
  if (const int error = Flush(out); error != 0 && outError == 0) {
    outError = error;
  }
  // Columns as a terminal shows them: the wide characters of East Asian
  // scripts take two.
  std::size_t columns = 0;
  for (std::size_t at = 0; at < utf8.size();) {
    const Utf8Step step = NextUtf8(utf8, at);
    columns += step.valid && step.code >= 0x1100 ? 2 : 1;
    at += step.length;
  }
  std::string line = "\r" + TextInForm(utf8, errForm);
  if (columns < statusColumns) {
    line.append(statusColumns - columns, ' ');
    line.append(statusColumns - columns, '\b');
  }
  statusColumns = columns;
  if (errForm == TextForm::Console && WriteToConsole(err, line)) {
    return;
  }
  std::fwrite(line.data(), 1, line.size(), err);
  std::fflush(err);
}

bool Console::Finish() {
  if (const int error = Flush(out); error != 0 && outError == 0) {
    outError = error;
  }
  if (const int error = Flush(err); error != 0 && errError == 0) {
    errError = error;
  }
  if (outError != 0 && errError == 0) {
    Err(std::string("error: cannot write to standard output: ") + std::strerror(outError) + "\n");
    if (const int error = Flush(err); error != 0 && errError == 0) {
      errError = error;
    }
  }
  return outError == 0 && errError == 0;
}

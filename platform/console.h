// The programs' two standard streams: text written in the form each stream
// takes, and every lost write remembered, so that a run whose output did not
// arrive does not end as a success.
#ifndef ZEFACUT_PLATFORM_CONSOLE_H
#define ZEFACUT_PLATFORM_CONSOLE_H

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/text_form.h"

// The form for a stream: the one asked for (Shift-JIS or UTF-8), or when
// none was (auto), UTF-8 to a UTF-8 terminal, the Unicode interface to a
// Windows console and Shift-JIS to the rest.
TextForm FormFor(std::FILE* stream, std::optional<TextForm> asked);

// An encoding by any of the names people write it with, in any case, with or
// without hyphens and underscores ("Shift_JIS", "cp932", "UTF8", "utf-8"),
// or "auto", which asks for none; false for any other name.
bool ParseEncoding(const std::string& value, std::optional<TextForm>& asked);

struct Console {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  TextForm outForm = TextForm::ShiftJis;
  TextForm errForm = TextForm::ShiftJis;
  // The system's error number of the first write to each stream that
  // failed; 0 while none has.
  int outError = 0;
  int errError = 0;
  // How many columns the status line on the error stream covers now.
  std::size_t statusColumns = 0;

  Console() = default;
  Console(std::FILE* outStream, std::FILE* errStream) : out(outStream), err(errStream) {}

  // Lines in UTF-8, written in the form the stream takes (see TextInForm).
  void Out(const std::string& utf8);
  // To the error stream, after what is pending on the output stream, so that
  // the two keep their order when they go to one place.
  void Err(const std::string& utf8);

  // A status line on the error stream (a terminal), which the next one
  // replaces in place: written from the line's start, blanking what the one
  // before left; empty clears it. Lost writes here lose no output: it is
  // only a view of the run.
  void Status(const std::string& utf8);

  // Flushes both streams. False when any write to either was lost; then,
  // where the error stream still works, a line says so.
  bool Finish();
};

#endif  // ZEFACUT_PLATFORM_CONSOLE_H

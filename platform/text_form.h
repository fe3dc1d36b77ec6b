// Text in the form a stream takes, and names made safe to show in it.
//
// The tools compose every line in UTF-8. A stream gets it as UTF-8 or as
// Shift-JIS (code page 932), converted as it is written; a character the
// stream's form cannot hold, and anything that would act on a terminal
// instead of showing, is written as a visible escape:
//   \x1b         a control character (U+0000-U+001F, U+007F), or a byte that
//                is no part of any character (a name that is not UTF-8)
//   \u0085       another character that moves or reorders text rather than
//                showing (C1 controls, line and paragraph separators, bidi
//                overrides), or one Shift-JIS cannot hold (\u00e9 for "é")
//   \U0001f600   the same above U+FFFF
// A backslash in a name stays as it is: Windows paths are full of them.
#ifndef ZEFACUT_PLATFORM_TEXT_FORM_H
#define ZEFACUT_PLATFORM_TEXT_FORM_H

#include <cstddef>
#include <string>

// How text reaches a stream: as Shift-JIS bytes (the tool's own form, and
// what files and pipes get), as UTF-8, or through a Windows console's Unicode
// interface (given UTF-8).
enum class TextForm { ShiftJis, Utf8, Console };

// One step through UTF-8 text: the character at a place and how many bytes
// it takes, or (valid false, length 1) a byte that begins no well-formed
// character.
struct Utf8Step {
  char32_t code = 0;
  std::size_t length = 1;
  bool valid = false;
};
Utf8Step NextUtf8(const std::string& text, std::size_t at);

// Whether a character acts on text instead of showing: a control, a line or
// paragraph separator, a mark that reorders text around it.
bool ActsOnText(char32_t code);

// A name (a path, an archive member's name, UTF-8 as far as it is UTF-8) as
// a line may hold it: every control character and every stray byte escaped,
// the line feed too, so that a name can neither act on a terminal nor break
// a line in two. The rest stays as it is.
std::string ShownName(const std::string& name);

// A name recorded in Shift-JIS (a D88 disk name) as UTF-8, shown as
// ShownName shows names: bytes that make no Shift-JIS character escaped.
std::string ShownShiftJisName(const std::string& bytes);

// Lines composed in UTF-8 in the given form. Line feeds stay; every other
// control character and stray byte is escaped as ShownName does, and in
// Shift-JIS every character it cannot hold.
std::string TextInForm(const std::string& utf8, TextForm form);

#endif  // ZEFACUT_PLATFORM_TEXT_FORM_H

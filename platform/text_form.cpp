#include "platform/text_form.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <utility>
#include <vector>

namespace {

#include "platform/cp932_table.inc"

constexpr std::size_t kTrails = 188;  // 0x40-0xFC without 0x7F

std::string Hex(const char* format, unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string EscapedByte(unsigned char byte) { return Hex("\\x%02lx", byte); }

std::string EscapedCharacter(char32_t code) {
  return code > 0xFFFF ? Hex("\\U%08lx", code) : Hex("\\u%04lx", code);
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The row of kCp932Cells for a lead byte; -1 for none.
int RowOf(unsigned char lead) {
  const auto* end = std::end(kCp932Leads);
  const auto* found = std::lower_bound(std::begin(kCp932Leads), end, lead);
  return found != end && *found == lead ? static_cast<int>(found - std::begin(kCp932Leads)) : -1;
}

// The character of the double-byte cell lead/trail; 0 for none.
char32_t DoubleByteCharacter(unsigned char lead, unsigned char trail) {
  const int row = RowOf(lead);
  if (row < 0 || trail < 0x40 || trail == 0x7F) {
    return 0;
  }
  const std::size_t column = trail - 0x40u - (trail > 0x7F ? 1u : 0u);
  return column < kTrails ? kCp932Cells[static_cast<std::size_t>(row)][column] : 0;
}

// Whether cell `a` is written rather than `b` for the character both hold:
// the lower, except that the NEC-selected copies of IBM's characters (leads
// ED, EE) give way to IBM's own (FA-FC), as Windows writes them.
bool Preferred(std::uint16_t a, std::uint16_t b) {
  const auto necSelected = [](std::uint16_t cell) {
    return (cell >> 8) == 0xED || (cell >> 8) == 0xEE;
  };
  if (necSelected(a) != necSelected(b)) {
    return !necSelected(a);
  }
  return a < b;
}

// Every character of the table with the cell it is written as, by
// character.
const std::vector<std::pair<std::uint16_t, std::uint16_t>>& CellsByCharacter() {
  static const std::vector<std::pair<std::uint16_t, std::uint16_t>> cells = [] {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> all;
    for (std::size_t row = 0; row < std::size(kCp932Leads); ++row) {
      for (std::size_t column = 0; column < kTrails; ++column) {
        const std::uint16_t code = kCp932Cells[row][column];
        if (code != 0) {
          const std::size_t trail = 0x40 + column + (column >= 0x3F ? 1 : 0);
          all.emplace_back(code, static_cast<std::uint16_t>(kCp932Leads[row] << 8 | trail));
        }
      }
    }
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
      return a.first != b.first ? a.first < b.first : Preferred(a.second, b.second);
    });
    // The first of each character is its preferred cell.
    all.erase(std::unique(all.begin(), all.end(),
                          [](const auto& a, const auto& b) { return a.first == b.first; }),
              all.end());
    return all;
  }();
  return cells;
}

// The Shift-JIS bytes of a character; empty when it has none. Controls are
// the caller's.
std::string ShiftJisOf(char32_t code) {
  if (code < 0x80) {
    return std::string(1, static_cast<char>(code));
  }
  if (code >= 0xFF61 && code <= 0xFF9F) {  // half-width katakana
    return std::string(1, static_cast<char>(code - 0xFF61 + 0xA1));
  }
  if (code > 0xFFFF) {
    return {};
  }
  const auto& cells = CellsByCharacter();
  const auto found = std::lower_bound(cells.begin(), cells.end(), code,
                                      [](const std::pair<std::uint16_t, std::uint16_t>& cell,
                                         char32_t c) { return cell.first < c; });
  if (found == cells.end() || found->first != code) {
    return {};
  }
  return {static_cast<char>(found->second >> 8), static_cast<char>(found->second & 0xFF)};
}

// A character as a name shows it in UTF-8.
void AppendShown(std::string& out, char32_t code) {
  if (code < 0x20 || code == 0x7F) {
    out += EscapedByte(static_cast<unsigned char>(code));
  } else if (ActsOnText(code)) {
    out += EscapedCharacter(code);
  } else {
    AppendUtf8(out, code);
  }
}

}  // namespace

bool ActsOnText(char32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029 ||
         (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069) ||
         code == 0x200E || code == 0x200F || code == 0x061C;
}

Utf8Step NextUtf8(const std::string& text, std::size_t at) {
  Utf8Step step;
  if (at >= text.size()) {
    return step;
  }
  const auto lead = static_cast<unsigned char>(text[at]);
  step.code = lead;
  if (lead < 0x80) {
    step.valid = true;
    return step;
  }
  std::size_t length = 0;
  char32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07u;
  } else {
    return step;
  }
  if (text.size() - at < length) {
    return step;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0u) != 0x80u) {
      return step;
    }
    value = (value << 6) | (next & 0x3Fu);
  }
  const char32_t least = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0x80;
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return step;
  }
  step.code = value;
  step.length = length;
  step.valid = true;
  return step;
}

std::string ShownName(const std::string& name) {
  std::string out;
  for (std::size_t at = 0; at < name.size();) {
    const Utf8Step step = NextUtf8(name, at);
    if (step.valid) {
      AppendShown(out, step.code);
    } else {
      out += EscapedByte(static_cast<unsigned char>(name[at]));
    }
    at += step.length;
  }
  return out;
}

std::string ShownShiftJisName(const std::string& bytes) {
  std::string out;
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    if (byte < 0x80) {
      AppendShown(out, byte);
    } else if (byte >= 0xA1 && byte <= 0xDF) {
      AppendUtf8(out, 0xFF61 + (byte - 0xA1u));
    } else if (at + 1 < bytes.size()) {
      const char32_t code = DoubleByteCharacter(byte, static_cast<unsigned char>(bytes[at + 1]));
      if (code != 0) {
        AppendShown(out, code);
        ++at;
      } else {
        out += EscapedByte(byte);
      }
    } else {
      out += EscapedByte(byte);
    }
  }
  return out;
}

std::string TextInForm(const std::string& utf8, TextForm form) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    const Utf8Step step = NextUtf8(utf8, at);
    const char32_t code = step.code;
    if (!step.valid) {
      out += EscapedByte(static_cast<unsigned char>(utf8[at]));
    } else if (code == '\n') {
      out += '\n';
    } else if (ActsOnText(code)) {
      AppendShown(out, code);
    } else if (form != TextForm::ShiftJis) {
      out.append(utf8, at, step.length);
    } else if (const std::string bytes = ShiftJisOf(code); !bytes.empty()) {
      out += bytes;
    } else {
      out += EscapedCharacter(code);
    }
    at += step.length;
  }
  return out;
}

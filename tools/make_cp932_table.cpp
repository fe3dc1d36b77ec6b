// Writes platform/cp932_table.inc: the double-byte characters of Shift-JIS
// as Windows and Japanese archivers write it (code page 932), as the system's
// iconv maps them to Unicode. Run once when the table is to be made again;
// the build never runs it:
//
//   g++ -std=c++17 -o make_cp932_table tools/make_cp932_table.cpp
//   ./make_cp932_table > platform/cp932_table.inc
//
// glibc's iconv was used. The user-defined area (leads F0-F9, which iconv
// maps into the private use area) is left out: in a name it stands for no
// character anyone can see. The program also checks the rule the tool uses
// to choose among the cells that hold one character (see ShiftJisOf in
// platform/text_form.cpp) against iconv's own choice, and fails if they
// differ.
#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>

namespace {

constexpr int kLeads[] = {0x81, 0x82, 0x83, 0x84, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E,
                          0x8F, 0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A,
                          0x9B, 0x9C, 0x9D, 0x9E, 0x9F, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6,
                          0xE7, 0xE8, 0xE9, 0xEA, 0xED, 0xEE, 0xFA, 0xFB, 0xFC};

// The character of one cell, or 0 when iconv holds none there.
unsigned Decode(iconv_t toUnicode, int lead, int trail) {
  char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  unsigned char out[8];
  char* inAt = in;
  std::size_t inLeft = sizeof in;
  char* outAt = reinterpret_cast<char*>(out);
  std::size_t outLeft = sizeof out;
  iconv(toUnicode, nullptr, nullptr, nullptr, nullptr);
  if (iconv(toUnicode, &inAt, &inLeft, &outAt, &outLeft) == static_cast<std::size_t>(-1) ||
      inLeft != 0 || sizeof out - outLeft != 4) {
    return 0;
  }
  const unsigned code = static_cast<unsigned>(out[0]) << 24 | static_cast<unsigned>(out[1]) << 16 |
                        static_cast<unsigned>(out[2]) << 8 | out[3];
  return code >= 0xE000 && code < 0xF900 ? 0 : code;
}

// The cell iconv writes for a character.
unsigned Encode(iconv_t fromUnicode, unsigned code) {
  unsigned char in[4] = {static_cast<unsigned char>(code >> 24),
                         static_cast<unsigned char>(code >> 16),
                         static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code)};
  unsigned char out[8];
  char* inAt = reinterpret_cast<char*>(in);
  std::size_t inLeft = sizeof in;
  char* outAt = reinterpret_cast<char*>(out);
  std::size_t outLeft = sizeof out;
  iconv(fromUnicode, nullptr, nullptr, nullptr, nullptr);
  if (iconv(fromUnicode, &inAt, &inLeft, &outAt, &outLeft) == static_cast<std::size_t>(-1) ||
      sizeof out - outLeft != 2) {
    return 0;
  }
  return static_cast<unsigned>(out[0]) << 8 | out[1];
}

// The tool's rule: the lowest cell, except that the NEC-selected copies of
// IBM's characters (leads ED, EE) give way to IBM's own (FA-FC).
bool Preferred(unsigned cell, unsigned over) {
  const auto necSelected = [](unsigned c) { return (c >> 8) == 0xED || (c >> 8) == 0xEE; };
  if (necSelected(cell) != necSelected(over)) {
    return !necSelected(cell);
  }
  return cell < over;
}

}  // namespace

int main() {
  const iconv_t toUnicode = iconv_open("UTF-32BE", "CP932");
  const iconv_t fromUnicode = iconv_open("CP932", "UTF-32BE");
  // iconv_open's (iconv_t)-1
  if (reinterpret_cast<std::intptr_t>(toUnicode) == -1 ||
      reinterpret_cast<std::intptr_t>(fromUnicode) == -1) {
    std::fprintf(stderr, "iconv has no CP932\n");
    return 1;
  }
  std::map<unsigned, unsigned> chosen;
  std::printf(
      "// Made by tools/make_cp932_table.cpp from glibc's iconv: do not edit.\n"
      "// The double-byte cells of code page 932, one row of trail bytes 0x40-0xFC\n"
      "// (0x7F left out) per lead byte of kCp932Leads; 0 where no character is.\n"
      "constexpr unsigned char kCp932Leads[] = {");
  for (std::size_t i = 0; i < sizeof kLeads / sizeof kLeads[0]; ++i) {
    std::printf("%s0x%02X", i % 12 == 0 ? "\n    " : " ", kLeads[i]);
    std::printf(i + 1 < sizeof kLeads / sizeof kLeads[0] ? "," : "");
  }
  std::printf("};\n\nconstexpr std::uint16_t kCp932Cells[][188] = {\n");
  for (const int lead : kLeads) {
    std::printf("    // lead 0x%02X\n    {", lead);
    int column = 0;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) {
        continue;
      }
      const unsigned code = Decode(toUnicode, lead, trail);
      if (code > 0xFFFF) {
        std::fprintf(stderr, "cell %02X%02X is outside the BMP\n", lead, trail);
        return 1;
      }
      if (code != 0) {
        const unsigned cell = static_cast<unsigned>(lead << 8 | trail);
        const auto found = chosen.find(code);
        if (found == chosen.end() || Preferred(cell, found->second)) {
          chosen[code] = cell;
        }
      }
      std::printf("%s0x%04X,", column % 11 == 0 ? (column == 0 ? "" : "\n     ") : " ", code);
      ++column;
    }
    std::printf("},\n");
  }
  std::printf("};\n");
  for (const auto& [code, cell] : chosen) {
    if (Encode(fromUnicode, code) != cell) {
      std::fprintf(stderr, "U+%04X: iconv writes %04X, the rule %04X\n", code,
                   Encode(fromUnicode, code), cell);
      return 1;
    }
  }
  return 0;
}

#include "input/member_names.h"

#include <archive_entry.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/text_form.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <locale.h>
#endif

bool IsUtf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const Utf8Step step = NextUtf8(text, at);
    if (!step.valid) {
      return false;
    }
    at += step.length;
  }
  return true;
}

#ifdef _WIN32

struct Utf8Locale::Locales {};

Utf8Locale::Utf8Locale() = default;
Utf8Locale::~Utf8Locale() = default;
void Utf8Locale::Enter() {}
void Utf8Locale::Leave() {}

namespace {

std::string Utf8OfWide(const std::wstring& wide) {
  if (wide.empty()) {
    return std::string();
  }
  const int length = static_cast<int>(wide.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) {
    return std::string();
  }
  std::string text(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text.data(), size, nullptr, nullptr) !=
      size) {
    return std::string();
  }
  return text;
}

// The bytes read as Shift-JIS (CP932), in UTF-8; false where they are not
// that throughout.
bool ShiftJisAsUtf8(const std::string& bytes, std::string& utf8) {
  const int length = static_cast<int>(bytes.size());
  const int size = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
  if (size <= 0) {
    return false;
  }
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), length, wide.data(), size) !=
      size) {
    return false;
  }
  utf8 = Utf8OfWide(wide);
  return !utf8.empty();
}

}  // namespace

std::string NameAsUtf8(const std::string& stored) {
  std::string utf8;
  if (IsUtf8(stored) || !ShiftJisAsUtf8(stored, utf8)) {
    return stored;
  }
  return utf8;
}

#else

struct Utf8Locale::Locales {
  locale_t utf8 = static_cast<locale_t>(nullptr);
  locale_t caller = static_cast<locale_t>(nullptr);
};

Utf8Locale::Utf8Locale() : locales_(std::make_unique<Locales>()) {
  locales_->utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  Enter();
}

Utf8Locale::~Utf8Locale() {
  Leave();
  if (locales_->utf8 != static_cast<locale_t>(nullptr)) {
    freelocale(locales_->utf8);
  }
}

void Utf8Locale::Enter() {
  if (locales_->utf8 != static_cast<locale_t>(nullptr) &&
      locales_->caller == static_cast<locale_t>(nullptr)) {
    locales_->caller = uselocale(locales_->utf8);
  }
}

void Utf8Locale::Leave() {
  if (locales_->caller != static_cast<locale_t>(nullptr)) {
    uselocale(locales_->caller);
    locales_->caller = static_cast<locale_t>(nullptr);
  }
}

std::string NameAsUtf8(const std::string& stored) {
  if (IsUtf8(stored)) {
    return stored;
  }
  const iconv_t converter = iconv_open("UTF-8", "CP932");
  if (reinterpret_cast<std::intptr_t>(converter) == -1) {  // iconv_open's (iconv_t)-1
    return stored;
  }
  std::vector<char> in(stored.begin(), stored.end());
  std::vector<char> out(stored.size() * 3);  // one byte of CP932 gives at most three of UTF-8
  char* inAt = in.data();
  std::size_t inLeft = in.size();
  char* outAt = out.data();
  std::size_t outLeft = out.size();
  const std::size_t status = iconv(converter, &inAt, &inLeft, &outAt, &outLeft);
  iconv_close(converter);
  if (status == static_cast<std::size_t>(-1) || inLeft != 0) {
    return stored;
  }
  return std::string(out.data(), out.size() - outLeft);
}

#endif

std::string MemberName(archive_entry* entry) {
#ifdef _WIN32
  // On Windows libarchive keeps names in UTF-16: the ANSI code page may hold
  // none of their characters, and then it gives them in no other form. A
  // name stored in no declared character set (an unmarked ZIP name, read as
  // ISO-8859-1 as archive.cpp asks; a tar name, in the C locale) comes one
  // stored byte to a character: those bytes are named by the rule of every
  // system (NameAsUtf8), but for bytes that are neither UTF-8 nor Shift-JIS,
  // which stay as those characters, as no Windows path holds other bytes. A
  // name marked as UTF-8 of such characters alone (an accented Latin name)
  // is read the same way, and comes out the same unless its bytes happen
  // to be Shift-JIS.
  if (const wchar_t* wide = archive_entry_pathname_w(entry)) {
    const std::wstring name = wide;
    const bool bytes = std::all_of(name.begin(), name.end(), [](wchar_t ch) { return ch <= 0xFF; });
    if (bytes) {
      std::string stored;
      for (const wchar_t ch : name) {
        stored += static_cast<char>(static_cast<unsigned char>(ch));
      }
      std::string utf8;
      if (IsUtf8(stored)) {
        return stored;
      }
      if (ShiftJisAsUtf8(stored, utf8)) {
        return utf8;
      }
    }
    std::string utf8 = Utf8OfWide(name);
    if (!utf8.empty()) {
      return utf8;
    }
  }
#endif
  if (const char* utf8 = archive_entry_pathname_utf8(entry)) {
    return utf8;
  }
  if (const char* stored = archive_entry_pathname(entry)) {
    return NameAsUtf8(stored);
  }
  return std::string();
}

std::string SingleFileName(const std::string& archiveName, ArchiveKind kind) {
  std::string name = archiveName;
#ifdef _WIN32
  const std::size_t slash = name.find_last_of("/\\");
#else
  const std::size_t slash = name.rfind('/');
#endif
  if (slash != std::string::npos) {
    name.erase(0, slash + 1);
  }
  static const struct {
    ArchiveKind kind;
    const char* suffix;
  } kSuffixes[] = {{ArchiveKind::kGzip, ".gz"},  {ArchiveKind::kGzip, ".gzip"},
                   {ArchiveKind::kGzip, ".z"},   {ArchiveKind::kBzip2, ".bz2"},
                   {ArchiveKind::kBzip2, ".bz"}, {ArchiveKind::kXz, ".xz"}};
  for (const auto& entry : kSuffixes) {
    const std::size_t length = std::strlen(entry.suffix);
    if (entry.kind != kind || name.size() <= length) {
      continue;
    }
    const bool matches =
        std::equal(name.end() - static_cast<std::ptrdiff_t>(length), name.end(), entry.suffix,
                   [](char a, char b) {
                     return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
                   });
    if (matches) {
      name.resize(name.size() - length);
      break;
    }
  }
  return name;
}

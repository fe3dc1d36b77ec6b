// The names of archive members in UTF-8, whatever character set the archive
// stored them in, and the name of a compressed file's single file.
#ifndef ZEFACUT_INPUT_MEMBER_NAMES_H
#define ZEFACUT_INPUT_MEMBER_NAMES_H

#include <memory>
#include <string>

#include "input/archive_magic.h"

struct archive_entry;

// libarchive turns the names an archive stores in a known character set
// (ZIP names marked as UTF-8, 7-Zip's UTF-16, pax's UTF-8, RAR 5's UTF-8)
// into the locale's, which in a program that sets none is ASCII: names
// outside it would be lost. Its calls are made in a UTF-8 locale of this
// thread (C.UTF-8), entered from construction to destruction, and the
// caller's own is put back around each visit (Leave, then Enter). On Windows
// libarchive gives names through the system's Unicode conversions, and this
// does nothing.
class Utf8Locale {
 public:
  Utf8Locale();
  ~Utf8Locale();
  Utf8Locale(const Utf8Locale&) = delete;
  Utf8Locale& operator=(const Utf8Locale&) = delete;

  void Enter();
  void Leave();

 private:
  struct Locales;
  std::unique_ptr<Locales> locales_;
};

// Whether the bytes are well-formed UTF-8: no overlong form, no surrogate,
// nothing past U+10FFFF.
bool IsUtf8(const std::string& text);

// A name stored in no declared character set (a ZIP name not marked as
// UTF-8, a tar name), as libarchive gives its bytes, made UTF-8: as it is
// when it is UTF-8 already, otherwise read as Shift-JIS (CP932, what Japanese
// archivers wrote) where it is that, otherwise the stored bytes unchanged.
std::string NameAsUtf8(const std::string& stored);

// The member's name in UTF-8 (see ArchiveMember::name); empty when
// libarchive could not read it.
std::string MemberName(archive_entry* entry);

// The name of a compressed file's single file: the compressed file's own
// name (`archiveName`, a path or a file name) without its folder and without
// the suffix its compression adds (".gz", ".bz2", ".xz"... of `kind`), in
// any case.
std::string SingleFileName(const std::string& archiveName, ArchiveKind kind);

#endif  // ZEFACUT_INPUT_MEMBER_NAMES_H

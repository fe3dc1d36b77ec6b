#include "formats/archive.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <unistd.h>

#ifndef ZEFACUT_NO_LIBARCHIVE
#include <archive.h>
#include <archive_entry.h>
#define ZLIB_CONST  // input bytes as const
#include <zlib.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <locale.h>
#endif
#endif

#include "platform/portable.h"

namespace {

enum class Kind { kNone, kZip, kLzh, kSevenZip, kRar, kTar, kGzip, kBzip2, kXz };

// How many bytes of a file's start ArchiveFormat is given by ForEachMember.
constexpr std::size_t kHeadSize = 4096;

bool StartsWith(const unsigned char* head, std::size_t length, std::size_t offset,
                const char* magic, std::size_t magicLength) {
  return length >= offset && length - offset >= magicLength &&
         std::memcmp(head + offset, magic, magicLength) == 0;
}

// A ZIP member's local header at `offset`: "PK\3\4" and a compression method
// that some archiver writes (stored, the old shrink/reduce/implode methods,
// deflate, deflate64, bzip2, LZMA, zstd, xz, JPEG, WavPack, PPMd, AES).
bool IsZipMember(const unsigned char* head, std::size_t length, std::size_t offset) {
  constexpr std::size_t kFixedPart = 30;
  if (!StartsWith(head, length, offset, "PK\x03\x04", 4) || length - offset < kFixedPart ||
      head[offset + 9] != 0) {
    return false;
  }
  static const unsigned char kMethods[] = {0,  1,  2,  3,  4,  5,  6,  8, 9,
                                           12, 14, 93, 95, 96, 97, 98, 99};
  return std::find(std::begin(kMethods), std::end(kMethods), head[offset + 8]) !=
         std::end(kMethods);
}

// A ZIP archive: a member first, or after the mark of a split archive of one
// part ("PK\7\8" or "PK00"); or the end record of an archive of no member,
// whose counts and offsets are all 0.
bool IsZip(const unsigned char* head, std::size_t length) {
  if (IsZipMember(head, length, 0)) {
    return true;
  }
  if (StartsWith(head, length, 0, "PK\x07\x08", 4) || StartsWith(head, length, 0, "PK00", 4)) {
    return IsZipMember(head, length, 4);
  }
  constexpr std::size_t kEndRecord = 22;
  return StartsWith(head, length, 0, "PK\x05\x06", 4) && length >= kEndRecord &&
         std::all_of(head + 4, head + 20, [](unsigned char byte) { return byte == 0; });
}

// An LZH member header, as libarchive takes one: its method ID at 2 ("-lh0-"
// to "-lh7-", "-lhd-"; LArc's "-lzs-", "-lz4-", "-lz5-" in level 0 headers
// only) and its header level at 20. A level 0 or 1 header starts with its
// size (from byte 2) and the sum of those bytes, which must hold; a level 2
// or 3 header has 0x20 at 19 (the attribute byte of MS-DOS).
bool IsLzh(const unsigned char* head, std::size_t length) {
  constexpr std::size_t kAttributeAt = 19;
  constexpr std::size_t kLevelAt = 20;
  if (length < 22 || head[2] != '-' || head[3] != 'l' || head[6] != '-') {
    return false;
  }
  const unsigned char method = head[5];
  const unsigned char level = head[kLevelAt];
  if (head[4] == 'z') {
    if (level != 0 || (method != 's' && method != '4' && method != '5')) {
      return false;
    }
  } else if (head[4] != 'h' || ((method < '0' || method > '7') && method != 'd') || level > 3) {
    return false;
  }
  if (level >= 2) {
    return head[kAttributeAt] == 0x20;
  }
  const std::size_t end = std::size_t{head[0]} + 2;
  if (head[0] < 22 || end > length) {
    return false;
  }
  unsigned sum = 0;
  for (std::size_t i = 2; i < end; ++i) {
    sum += head[i];
  }
  return (sum & 0xFF) == head[1];
}

// A POSIX or GNU tar header: "ustar" at 257, and the checksum at 148 (octal,
// ended by NUL or space) equal to the sum of the header's 512 bytes with the
// checksum field counted as spaces.
bool IsTar(const unsigned char* head, std::size_t length) {
  constexpr std::size_t kBlock = 512;
  constexpr std::size_t kChecksumAt = 148;
  constexpr std::size_t kChecksumLength = 8;
  if (length < kBlock || !StartsWith(head, length, 257, "ustar", 5)) {
    return false;
  }
  unsigned long sum = 0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    const bool inField = i >= kChecksumAt && i < kChecksumAt + kChecksumLength;
    sum += inField ? ' ' : head[i];
  }
  std::size_t i = kChecksumAt;
  const std::size_t end = kChecksumAt + kChecksumLength;
  while (i < end && head[i] == ' ') {
    ++i;
  }
  unsigned long stored = 0;
  std::size_t digits = 0;
  for (; i < end && head[i] >= '0' && head[i] <= '7'; ++i, ++digits) {
    stored = stored * 8 + (head[i] - '0');
  }
  const bool ended = i < end && (head[i] == '\0' || head[i] == ' ');
  return digits > 0 && ended && stored == sum;
}

bool IsBzip2(const unsigned char* head, std::size_t length) {
  if (length < 10 || !StartsWith(head, length, 0, "BZh", 3) || head[3] < '1' || head[3] > '9') {
    return false;
  }
  return StartsWith(head, length, 4, "\x31\x41\x59\x26\x53\x59", 6) ||  // a block
         StartsWith(head, length, 4, "\x17\x72\x45\x38\x50\x90", 6);    // end of stream
}

Kind Classify(const unsigned char* head, std::size_t length) {
  if (head == nullptr) {
    return Kind::kNone;
  }
  if (IsZip(head, length)) {
    return Kind::kZip;
  }
  if (StartsWith(head, length, 0, "7z\xBC\xAF\x27\x1C", 6)) {
    return Kind::kSevenZip;
  }
  if (StartsWith(head, length, 0, "Rar!\x1A\x07\x00", 7) ||
      StartsWith(head, length, 0, "Rar!\x1A\x07\x01\x00", 8)) {
    return Kind::kRar;
  }
  if (StartsWith(head, length, 0, "\x1F\x8B\x08", 3)) {
    return Kind::kGzip;
  }
  if (IsBzip2(head, length)) {
    return Kind::kBzip2;
  }
  if (StartsWith(head, length, 0,
                 "\xFD"
                 "7zXZ\x00",
                 6)) {
    return Kind::kXz;
  }
  if (IsLzh(head, length)) {
    return Kind::kLzh;
  }
  if (IsTar(head, length)) {
    return Kind::kTar;
  }
  return Kind::kNone;
}

const char* NameOf(Kind kind) {
  switch (kind) {
    case Kind::kZip:
      return "ZIP";
    case Kind::kLzh:
      return "LZH";
    case Kind::kSevenZip:
      return "7-Zip";
    case Kind::kRar:
      return "RAR";
    case Kind::kTar:
      return "tar";
    case Kind::kGzip:
      return "gzip";
    case Kind::kBzip2:
      return "bzip2";
    case Kind::kXz:
      return "xz";
    case Kind::kNone:
      break;
  }
  return nullptr;
}

}  // namespace

const char* ArchiveFormat(const unsigned char* head, std::size_t length) {
  return NameOf(Classify(head, length));
}

#ifdef ZEFACUT_NO_LIBARCHIVE

std::string ForEachMember(const char* /*path*/,
                          const std::function<void(const ArchiveMember&)>& /*visit*/) {
  return "this build of the tool reads no archives; unpack the archive first";
}

bool ArchivesRead() { return false; }

#else

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct ArchiveFreer {
  void operator()(archive* reader) const { archive_read_free(reader); }
};
using Reader = std::unique_ptr<archive, ArchiveFreer>;

// libarchive turns the names an archive stores in a known character set
// (ZIP names marked as UTF-8, 7-Zip's UTF-16, pax's UTF-8, RAR 5's UTF-8)
// into the locale's, which in a program that sets none is ASCII: names
// outside it would be lost. Its calls are made in a UTF-8 locale of this
// thread (C.UTF-8), and the caller's own is put back around each visit. On
// Windows libarchive gives names through the system's Unicode conversions.
class Utf8Locale {
 public:
#ifdef _WIN32
  void Enter() {}
  void Leave() {}
#else
  Utf8Locale() : utf8_(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))) {
    Enter();
  }
  ~Utf8Locale() {
    Leave();
    if (utf8_ != static_cast<locale_t>(nullptr)) {
      freelocale(utf8_);
    }
  }
  Utf8Locale(const Utf8Locale&) = delete;
  Utf8Locale& operator=(const Utf8Locale&) = delete;

  void Enter() {
    if (utf8_ != static_cast<locale_t>(nullptr) && caller_ == static_cast<locale_t>(nullptr)) {
      caller_ = uselocale(utf8_);
    }
  }
  void Leave() {
    if (caller_ != static_cast<locale_t>(nullptr)) {
      uselocale(caller_);
      caller_ = static_cast<locale_t>(nullptr);
    }
  }

 private:
  locale_t utf8_;
  locale_t caller_ = static_cast<locale_t>(nullptr);
#endif
};

// A name stored in no declared character set (a ZIP name not marked as
// UTF-8, a tar name), as libarchive gives its bytes, made UTF-8: as it is
// when it is UTF-8 already, otherwise read as Shift-JIS (CP932, what Japanese
// archivers wrote) where it is that, otherwise the stored bytes unchanged. On
// Windows libarchive has already read it in the system's code page.
#ifdef _WIN32
std::string NameAsUtf8(const std::string& stored) { return stored; }
#else
// Whether the bytes are well-formed UTF-8.
bool IsUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    unsigned long value = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    }
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
      return false;
    }
    if (text.size() - i < length) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0u) != 0x80u) {
        return false;
      }
      value = (value << 6) | (next & 0x3Fu);
    }
    const unsigned long least = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0x80;
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
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

// The member's name in UTF-8 (see ArchiveMember::name).
std::string MemberName(archive_entry* entry) {
#ifdef _WIN32
  // On Windows libarchive keeps names in UTF-16: the ANSI code page may hold
  // none of their characters, and then it gives them in no other form.
  if (const wchar_t* wide = archive_entry_pathname_w(entry)) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size > 1) {
      std::string name(static_cast<std::size_t>(size), '\0');
      if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, name.data(), size, nullptr, nullptr) == size) {
        name.resize(static_cast<std::size_t>(size - 1));  // less the NUL
        return name;
      }
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

// 64-bit positions in a file on either system.
bool Seek(std::FILE* file, std::int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(file, offset, whence) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), whence) == 0;
#endif
}

std::int64_t Tell(std::FILE* file) {
#ifdef _WIN32
  return _ftelli64(file);
#else
  return static_cast<std::int64_t>(ftello(file));
#endif
}

// What libarchive reads through: the open archive file, read in blocks and
// moved about in for the formats that seek (ZIP's central directory, 7-Zip's
// header at the end).
struct Source {
  std::FILE* file = nullptr;
  std::int64_t size = 0;
  std::vector<unsigned char> block = std::vector<unsigned char>(std::size_t{64} << 10);
};

la_ssize_t ReadBlock(archive* reader, void* data, const void** buffer) {
  auto* source = static_cast<Source*>(data);
  const std::size_t got = std::fread(source->block.data(), 1, source->block.size(), source->file);
  if (got == 0 && std::ferror(source->file) != 0) {
    archive_set_error(reader, EIO, "the archive file cannot be read");
    return -1;
  }
  *buffer = source->block.data();
  return static_cast<la_ssize_t>(got);
}

la_int64_t SeekTo(archive* reader, void* data, la_int64_t offset, int whence) {
  auto* source = static_cast<Source*>(data);
  std::int64_t base = 0;
  if (whence == SEEK_CUR) {
    base = Tell(source->file);
  } else if (whence == SEEK_END) {
    base = source->size;
  } else if (whence != SEEK_SET) {
    return ARCHIVE_FATAL;
  }
  // Kept within the file: libarchive is never shown a position past its end.
  if (base < 0 || (offset < 0 && -offset > base)) {
    archive_set_error(reader, EINVAL, "a position before the start of the archive file");
    return ARCHIVE_FATAL;
  }
  const std::int64_t target =
      offset > 0 && offset > source->size - base ? source->size : base + offset;
  if (!Seek(source->file, target, SEEK_SET)) {
    archive_set_error(reader, errno, "the archive file cannot be read");
    return ARCHIVE_FATAL;
  }
  return target;
}

la_int64_t Skip(archive* reader, void* data, la_int64_t request) {
  auto* source = static_cast<Source*>(data);
  const std::int64_t from = Tell(source->file);
  if (from < 0 || request < 0) {
    return 0;  // libarchive reads through instead
  }
  const std::int64_t to = SeekTo(reader, data, request, SEEK_CUR);
  return to < from ? 0 : to - from;
}

// gzip data, unpacked here with zlib rather than by libarchive's gzip filter,
// which does not check the CRC and length each gzip member ends with: a
// damaged .gz would give wrong bytes without a word. zlib checks both.
// libarchive is given the unpacked bytes, a tar archive or the single file.
// Members follow one another as gzip(1) allows; bytes after the last that
// start no member (tape padding) end the data, as gzip(1) ignores them.
class Inflater {
 public:
  explicit Inflater(Source& source) : source_(source) {}
  ~Inflater() {
    if (ready_) {
      inflateEnd(&stream_);
    }
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Empty when zlib is ready, otherwise why not.
  std::string Start() {
    if (inflateInit2(&stream_, 16 + MAX_WBITS) != Z_OK) {  // 16: gzip members only
      return "gzip decompression cannot start";
    }
    ready_ = true;
    return std::string();
  }

  static la_ssize_t Read(archive* reader, void* data, const void** buffer) {
    return static_cast<Inflater*>(data)->ReadSome(reader, buffer);
  }

 private:
  la_ssize_t ReadSome(archive* reader, const void** buffer) {
    *buffer = out_.data();
    stream_.next_out = out_.data();
    stream_.avail_out = static_cast<uInt>(out_.size());
    while (!ended_ && stream_.avail_out == out_.size()) {
      if (stream_.avail_in == 0 && !Refill(reader)) {
        return -1;
      }
      if (betweenMembers_) {
        if (stream_.avail_in == 0 || stream_.next_in[0] != 0x1F) {
          ended_ = true;  // the end of the file, or bytes that start no member
          break;
        }
        betweenMembers_ = false;
      }
      if (stream_.avail_in == 0) {
        archive_set_error(reader, EILSEQ, "the gzip data is cut short");
        return -1;
      }
      const int status = inflate(&stream_, Z_NO_FLUSH);
      if (status == Z_STREAM_END) {
        // The member's CRC and length held.
        if (inflateReset(&stream_) != Z_OK) {
          archive_set_error(reader, EIO, "gzip decompression failed");
          return -1;
        }
        betweenMembers_ = true;
      } else if (status != Z_OK && status != Z_BUF_ERROR) {
        archive_set_error(reader, EILSEQ, "damaged gzip data (%s)",
                          stream_.msg != nullptr ? stream_.msg : "no detail");
        return -1;
      }
    }
    return static_cast<la_ssize_t>(out_.size() - stream_.avail_out);
  }

  // Reads the next block of the file as input; false on a read error. At
  // the end of the file the input stays empty.
  bool Refill(archive* reader) {
    const void* block = nullptr;
    const la_ssize_t got = ReadBlock(reader, &source_, &block);
    if (got < 0) {
      return false;
    }
    stream_.next_in = static_cast<const Bytef*>(block);
    stream_.avail_in = static_cast<uInt>(got);
    return true;
  }

  Source& source_;
  z_stream stream_{};
  bool ready_ = false;
  bool betweenMembers_ = false;
  bool ended_ = false;
  std::vector<unsigned char> out_ = std::vector<unsigned char>(std::size_t{64} << 10);
};

std::string ErrorOf(archive* reader, const char* otherwise) {
  const char* text = archive_error_string(reader);
  return text != nullptr && *text != '\0' ? std::string(text) : std::string(otherwise);
}

// The name of a compressed file's single file: the compressed file's own
// name without its directory and without the suffix its compression adds.
std::string SingleFileName(const char* path, Kind kind) {
  std::string name(path);
#ifdef _WIN32
  const std::size_t slash = name.find_last_of("/\\");
#else
  const std::size_t slash = name.rfind('/');
#endif
  if (slash != std::string::npos) {
    name.erase(0, slash + 1);
  }
  static const struct {
    Kind kind;
    const char* suffix;
  } kSuffixes[] = {{Kind::kGzip, ".gz"},   {Kind::kGzip, ".gzip"}, {Kind::kGzip, ".z"},
                   {Kind::kBzip2, ".bz2"}, {Kind::kBzip2, ".bz"},  {Kind::kXz, ".xz"}};
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

// Sets up `reader` for the formats of `kind` alone: a file that starts as a
// ZIP archive is read as nothing else. A compressed file is read as a tar
// archive or, failing that, as one file (libarchive's raw format, which takes
// anything and so is offered only here), or as nothing when it unpacks to
// nothing (the empty format, the same). Empty when done, otherwise why not.
std::string Support(archive* reader, Kind kind) {
  int status = ARCHIVE_OK;
  switch (kind) {
    case Kind::kZip:
      status = archive_read_support_format_zip(reader);
      break;
    case Kind::kLzh:
      status = archive_read_support_format_lha(reader);
      // Names in Shift-JIS unless a header says otherwise: LZH is the
      // archive of Japanese MS-DOS and Windows, and LHa for UNIX writes
      // Shift-JIS too. libarchive reads no LZH name it cannot convert. Where
      // the system has no CP932, the option is refused and names stay as
      // libarchive reads them.
      if (status == ARCHIVE_OK) {
        archive_read_set_format_option(reader, "lha", "hdrcharset", "CP932");
      }
      break;
    case Kind::kSevenZip:
      status = archive_read_support_format_7zip(reader);
      break;
    case Kind::kRar:
      status = archive_read_support_format_rar(reader);
      if (status == ARCHIVE_OK) {
        status = archive_read_support_format_rar5(reader);
      }
      break;
    case Kind::kTar:
      status = archive_read_support_format_tar(reader);
      break;
    case Kind::kGzip:  // unpacked by an Inflater
    case Kind::kBzip2:
    case Kind::kXz: {
      // ARCHIVE_WARN: libarchive would run an outside program for it.
      const int filter = kind == Kind::kGzip    ? ARCHIVE_OK
                         : kind == Kind::kBzip2 ? archive_read_support_filter_bzip2(reader)
                                                : archive_read_support_filter_xz(reader);
      if (filter != ARCHIVE_OK) {
        return std::string(NameOf(kind)) + " decompression is not built into this program";
      }
      status = archive_read_support_format_tar(reader);
      if (status == ARCHIVE_OK) {
        status = archive_read_support_format_raw(reader);
      }
      if (status == ARCHIVE_OK) {
        status = archive_read_support_format_empty(reader);  // raw takes no empty file
      }
      break;
    }
    case Kind::kNone:
      return "not an archive";
  }
  return status == ARCHIVE_OK ? std::string() : ErrorOf(reader, "the archive cannot be read");
}

// Reads the current member's data, at most kMaxMemberSize bytes of it, into
// member.bytes; sets tooLarge past that. Empty when done, otherwise why not.
std::string ReadData(archive* reader, ArchiveMember& member) {
  std::vector<unsigned char>& bytes = member.bytes;
  std::size_t used = 0;
  for (;;) {
    // Room for one byte past the cap, to tell a member of exactly the cap
    // from a larger one.
    constexpr std::size_t kStep = std::size_t{256} << 10;
    const std::size_t limit = static_cast<std::size_t>(kMaxMemberSize) + 1;
    if (used == bytes.size()) {
      bytes.resize(std::min(limit, bytes.size() + kStep));
    }
    const la_ssize_t got = archive_read_data(reader, bytes.data() + used, bytes.size() - used);
    if (got < 0) {
      bytes.clear();
      return ErrorOf(reader, "the member cannot be read");
    }
    if (got == 0) {
      bytes.resize(used);
      return std::string();
    }
    used += static_cast<std::size_t>(got);
    if (used > kMaxMemberSize) {
      bytes.clear();
      bytes.shrink_to_fit();
      member.tooLarge = true;
      return std::string();
    }
  }
}

}  // namespace

std::string ForEachMember(const char* path,
                          const std::function<void(const ArchiveMember&)>& visit) {
  if (path == nullptr) {
    return "no archive named";
  }
  const File file(OpenFile(path, "rb"));
  if (!file) {
    return std::strerror(errno);
  }
  std::vector<unsigned char> head(kHeadSize);
  const std::size_t headLength = std::fread(head.data(), 1, head.size(), file.get());
  if (std::ferror(file.get()) != 0 || !Seek(file.get(), 0, SEEK_END)) {
    return "the archive file cannot be read";
  }
  Source source;
  source.file = file.get();
  source.size = Tell(file.get());
  if (source.size < 0 || !Seek(file.get(), 0, SEEK_SET)) {
    return "the archive file cannot be read";
  }
  const Kind kind = Classify(head.data(), headLength);

  Utf8Locale locale;  // before the reader, which is freed in it
  const Reader reader(archive_read_new());
  if (!reader) {
    return "out of memory";
  }
  std::string reason = Support(reader.get(), kind);
  if (!reason.empty()) {
    return reason;
  }
  // The file itself, or for gzip the bytes it unpacks to, read from the start.
  Inflater inflater(source);
  int status = ARCHIVE_OK;
  if (kind == Kind::kGzip) {
    reason = inflater.Start();
    if (!reason.empty()) {
      return reason;
    }
    status = archive_read_set_callback_data(reader.get(), &inflater);
    if (status == ARCHIVE_OK) {
      status = archive_read_set_read_callback(reader.get(), Inflater::Read);
    }
  } else {
    status = archive_read_set_callback_data(reader.get(), &source);
    if (status == ARCHIVE_OK) {
      status = archive_read_set_read_callback(reader.get(), ReadBlock);
    }
    if (status == ARCHIVE_OK) {
      status = archive_read_set_seek_callback(reader.get(), SeekTo);
    }
    if (status == ARCHIVE_OK) {
      status = archive_read_set_skip_callback(reader.get(), Skip);
    }
  }
  if (status != ARCHIVE_OK || archive_read_open1(reader.get()) != ARCHIVE_OK) {
    return ErrorOf(reader.get(), "the archive cannot be read");
  }

  for (;;) {
    archive_entry* entry = nullptr;
    status = archive_read_next_header(reader.get(), &entry);
    if (status == ARCHIVE_EOF) {
      return std::string();
    }
    // ARCHIVE_WARN: read, with something noted (a name not in the expected
    // character set, for one).
    if ((status != ARCHIVE_OK && status != ARCHIVE_WARN) || entry == nullptr) {
      return ErrorOf(reader.get(), "the archive is damaged");
    }
    if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_hardlink(entry) != nullptr) {
      continue;
    }
    const bool single = archive_format(reader.get()) == ARCHIVE_FORMAT_RAW;
    ArchiveMember member;
    member.name = single ? SingleFileName(path, kind) : MemberName(entry);
    if (archive_entry_size_is_set(entry) != 0 && archive_entry_size(entry) > 0 &&
        static_cast<std::uint64_t>(archive_entry_size(entry)) > kMaxMemberSize) {
      member.tooLarge = true;
    } else {
      reason = ReadData(reader.get(), member);
      if (!reason.empty()) {
        return member.name.empty() ? reason : member.name + ": " + reason;
      }
    }
    locale.Leave();
    visit(member);
    locale.Enter();
    if (single) {
      return std::string();  // nothing follows a compressed file's one file
    }
  }
}

bool ArchivesRead() { return true; }

#endif

#ifndef ZEFACUT_NO_LIBARCHIVE
// interim
#include <filesystem>
#include <fstream>
std::string ForEachMember(ByteSource& source, const std::string& archiveName,
                          const std::function<void(const ArchiveMember&)>& visit,
                          std::uint64_t /*cap*/) {
  std::vector<unsigned char> bytes;
  if (!ReadWhole(source, std::int64_t{1} << 30, bytes)) {
    return "cannot read";
  }
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("zefacut-interim-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string::size_type slash = archiveName.find_last_of("/\\");
  const fs::path file = dir / archiveName.substr(slash == std::string::npos ? 0 : slash + 1);
  {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  const std::string reason = ForEachMember(file.string().c_str(), visit);
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return reason;
}
#else
std::string ForEachMember(ByteSource& /*source*/, const std::string& archiveName,
                          const std::function<void(const ArchiveMember&)>& visit,
                          std::uint64_t /*cap*/) {
  return ForEachMember(archiveName.c_str(), visit);
}
#endif

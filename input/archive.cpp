// Reading an archive's members with libarchive: set up for the one kind the
// magic bytes tell (archive_magic.cpp), fed from a ByteSource
// (archive_input.cpp), members named in UTF-8 (member_names.cpp).
#include "input/archive.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>

#include "input/archive_input.h"
#include "input/archive_magic.h"
#include "input/byte_source.h"
#include "input/member_names.h"

namespace {

struct ArchiveFreer {
  void operator()(archive* reader) const { archive_read_free(reader); }
};
using Reader = std::unique_ptr<archive, ArchiveFreer>;

// Sets up `reader` for the formats of `kind` alone: a file that starts as a
// ZIP archive is read as nothing else. A compressed file is read as a tar
// archive or, failing that, as one file (libarchive's raw format, which takes
// anything and so is offered only here), or as nothing when it unpacks to
// nothing (the empty format, the same); `singleOnly` leaves out tar. Empty
// when done, otherwise why not.
std::string Support(archive* reader, ArchiveKind kind, bool singleOnly) {
  int status = ARCHIVE_OK;
  switch (kind) {
    case ArchiveKind::kZip:
      status = archive_read_support_format_zip(reader);
#ifdef _WIN32
      // A name not marked as UTF-8 is read in the system's code page
      // otherwise, which mangles a Shift-JIS or UTF-8 name beyond repair.
      // Read as ISO-8859-1, each stored byte comes as the character of its
      // value, and MemberName takes the bytes from there.
      if (status == ARCHIVE_OK) {
        archive_read_set_format_option(reader, "zip", "hdrcharset", "ISO-8859-1");
      }
#endif
      break;
    case ArchiveKind::kLzh:
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
    case ArchiveKind::kSevenZip:
      status = archive_read_support_format_7zip(reader);
      break;
    case ArchiveKind::kRar:
      status = archive_read_support_format_rar(reader);
      if (status == ARCHIVE_OK) {
        status = archive_read_support_format_rar5(reader);
      }
      break;
    case ArchiveKind::kTar:
      status = archive_read_support_format_tar(reader);
      break;
    case ArchiveKind::kGzip:  // unpacked by the input (archive_input.cpp)
    case ArchiveKind::kBzip2:
    case ArchiveKind::kXz: {
      // ARCHIVE_WARN: libarchive would run an outside program for it.
      const int filter = kind == ArchiveKind::kGzip    ? ARCHIVE_OK
                         : kind == ArchiveKind::kBzip2 ? archive_read_support_filter_bzip2(reader)
                                                       : archive_read_support_filter_xz(reader);
      if (filter != ARCHIVE_OK) {
        return std::string(ArchiveKindName(kind)) + " decompression is not built into this program";
      }
      status = singleOnly ? ARCHIVE_OK : archive_read_support_format_tar(reader);
      if (status == ARCHIVE_OK) {
        status = archive_read_support_format_raw(reader);
      }
      if (status == ARCHIVE_OK) {
        status = archive_read_support_format_empty(reader);  // raw takes no empty file
      }
      break;
    }
    case ArchiveKind::kNone:
      return "not an archive";
  }
  return status == ARCHIVE_OK ? std::string() : ArchiveError(reader, "the archive cannot be read");
}

constexpr std::size_t kDataStep = std::size_t{256} << 10;

// Unpacks the rest of the current member to the spool, after the first
// bytes already read into member.bytes; sets member.source, or tooLarge past
// the large cap. Empty when done, otherwise why not.
std::string Unpack(archive* reader, const LargeMembers& large, ArchiveMember& member) {
  Spool& spool = *large.spool;
  member.cap = large.cap;
  int error = spool.Write(member.bytes.data(), member.bytes.size());
  member.bytes.clear();
  member.bytes.shrink_to_fit();
  std::vector<unsigned char> block(kDataStep);
  while (error == 0) {
    const la_ssize_t got = archive_read_data(reader, block.data(), block.size());
    if (got < 0) {
      return ArchiveError(reader, "the member cannot be read");
    }
    if (got == 0) {
      member.source = spool.End();
      return std::string();
    }
    if (static_cast<std::uint64_t>(got) > large.cap - static_cast<std::uint64_t>(spool.Length())) {
      member.tooLarge = true;  // the piece is begun again by the next member
      return std::string();
    }
    error = spool.Write(block.data(), static_cast<std::size_t>(got));
  }
  return std::string("cannot be unpacked to a temporary file: ") + std::strerror(error);
}

// Reads the current member's data into member.bytes, at most `cap` bytes of
// it; or, when `large` takes its first bytes for those of a member that may
// be large, to the spool (member.source), at most large->cap bytes. Sets
// tooLarge past the cap; `declared` is the size the archive gives (-1 for
// none), which spares reading a member that is too large anyway. Empty when
// done, otherwise why not.
std::string ReadData(archive* reader, std::uint64_t cap, const LargeMembers* large,
                     std::int64_t declared, ArchiveMember& member) {
  std::vector<unsigned char>& bytes = member.bytes;
  std::size_t used = 0;
  bool ended = false;
  if (large != nullptr) {
    // The first bytes, which tell what the member is.
    bytes.resize(std::min<std::uint64_t>(kProbeSize, std::max(cap, large->cap) + 1));
    while (used < bytes.size()) {
      const la_ssize_t got = archive_read_data(reader, bytes.data() + used, bytes.size() - used);
      if (got < 0) {
        bytes.clear();
        return ArchiveError(reader, "the member cannot be read");
      }
      if (got == 0) {
        ended = true;
        break;
      }
      used += static_cast<std::size_t>(got);
    }
    bytes.resize(used);
    if (large->mayBeLarge && large->mayBeLarge(bytes.data(), used)) {
      const int error = large->spool != nullptr ? large->spool->Begin() : ENOSYS;
      if (error == 0) {
        return Unpack(reader, *large, member);
      }
      if (error == ENOSYS) {
        cap = std::max(cap, large->cap);  // no scratch files: memory it is
      }
    }
  }
  member.cap = cap;
  if (used > cap || (!ended && declared > 0 && static_cast<std::uint64_t>(declared) > cap)) {
    bytes.clear();
    bytes.shrink_to_fit();
    member.tooLarge = true;
    return std::string();
  }
  if (ended) {
    return std::string();
  }
  // Room for one byte past the cap, to tell a member of exactly the cap from
  // a larger one; a cap beyond what memory can hold is no cap.
  const std::size_t limit = static_cast<std::size_t>(std::min<std::uint64_t>(
                                cap, std::numeric_limits<std::size_t>::max() - 1)) +
                            1;
  for (;;) {
    if (used == bytes.size()) {
      bytes.resize(std::min(limit, bytes.size() + kDataStep));
    }
    const la_ssize_t got = archive_read_data(reader, bytes.data() + used, bytes.size() - used);
    if (got < 0) {
      bytes.clear();
      return ArchiveError(reader, "the member cannot be read");
    }
    if (got == 0) {
      bytes.resize(used);
      return std::string();
    }
    used += static_cast<std::size_t>(got);
    if (used > cap) {
      bytes.clear();
      bytes.shrink_to_fit();
      member.tooLarge = true;
      return std::string();
    }
  }
}

}  // namespace

namespace {

// Whether a compressed file's name says it holds a tar archive: "x.tar.gz",
// "x.tgz", in any case.
bool NamedAsTar(const std::string& name) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char ch) {
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
  });
  static constexpr const char* kEndings[] = {".tar.gz", ".tar.bz2", ".tar.xz", ".tar.z", ".tgz",
                                             ".tbz",    ".tbz2",    ".txz",    ".taz"};
  return std::any_of(std::begin(kEndings), std::end(kEndings), [&lower](const char* ending) {
    const std::size_t length = std::strlen(ending);
    return lower.size() >= length && lower.compare(lower.size() - length, length, ending) == 0;
  });
}

bool IsCompressedFile(ArchiveKind kind) {
  return kind == ArchiveKind::kGzip || kind == ArchiveKind::kBzip2 || kind == ArchiveKind::kXz;
}

// One pass over the members. `singleOnly`: a compressed file read as one
// file whatever it unpacks to. `visited` counts the members handed over;
// `ended` tells the format libarchive read once the pass reached the end.
std::string ReadMembers(ByteSource& source, const std::string& archiveName, ArchiveKind kind,
                        bool singleOnly, const std::function<void(ArchiveMember&)>& visit,
                        std::uint64_t cap, const LargeMembers* large, int& visited, int& ended) {
  Utf8Locale locale;  // before the reader, which is freed in it
  // The source itself, or for gzip the bytes it unpacks to, read from the
  // start; it outlives the reader.
  ArchiveInput input(source, kind == ArchiveKind::kGzip);
  const Reader reader(archive_read_new());
  if (!reader) {
    return "out of memory";
  }
  std::string reason = Support(reader.get(), kind, singleOnly);
  if (!reason.empty()) {
    return reason;
  }
  reason = input.Open(reader.get());
  if (!reason.empty()) {
    return reason;
  }

  for (;;) {
    archive_entry* entry = nullptr;
    const int status = archive_read_next_header(reader.get(), &entry);
    if (status == ARCHIVE_EOF) {
      ended = archive_format(reader.get());
      if (ended == ARCHIVE_FORMAT_EMPTY && IsCompressedFile(kind)) {
        // A compressed empty file is an empty file, named as its one file
        // would be: a member like any other, as an empty member of a ZIP
        // archive is.
        ArchiveMember member;
        member.name = SingleFileName(archiveName, kind);
        locale.Leave();
        visit(member);
        locale.Enter();
        ++visited;
      }
      return std::string();
    }
    // ARCHIVE_WARN: read, with something noted (a name not in the expected
    // character set, for one).
    if ((status != ARCHIVE_OK && status != ARCHIVE_WARN) || entry == nullptr) {
      return ArchiveError(reader.get(), "the archive is damaged");
    }
    if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_hardlink(entry) != nullptr) {
      continue;
    }
    const bool single = archive_format(reader.get()) == ARCHIVE_FORMAT_RAW;
    ArchiveMember member;
    member.name = single ? SingleFileName(archiveName, kind) : MemberName(entry);
    const std::int64_t declared =
        archive_entry_size_is_set(entry) != 0 ? archive_entry_size(entry) : -1;
    const std::uint64_t widest = large != nullptr ? std::max(cap, large->cap) : cap;
    if (declared > 0 && static_cast<std::uint64_t>(declared) > widest) {
      member.tooLarge = true;
      member.cap = widest;
    } else {
      reason = ReadData(reader.get(), cap, large, declared, member);
      if (!reason.empty()) {
        return member.name.empty() ? reason : member.name + ": " + reason;
      }
    }
    locale.Leave();
    visit(member);
    locale.Enter();
    ++visited;
    if (single) {
      return std::string();  // nothing follows a compressed file's one file
    }
  }
}

}  // namespace

std::string ForEachMember(ByteSource& source, const std::string& archiveName,
                          const std::function<void(ArchiveMember&)>& visit, std::uint64_t cap,
                          const LargeMembers* large) {
  std::vector<unsigned char> head(kProbeSize);
  const std::size_t headLength = source.ReadAt(0, head.data(), head.size());
  if (source.Error() != 0 || source.Size() < 0) {
    return "the archive file cannot be read";
  }
  const ArchiveKind kind = ClassifyArchive(head.data(), headLength);
  int visited = 0;
  int ended = 0;
  std::string reason =
      ReadMembers(source, archiveName, kind, false, visit, cap, large, visited, ended);
  // A compressed file that unpacks to bytes the tar reader takes for an
  // empty archive (a file that starts with zero blocks: a blank raw image)
  // is one file all the same, unless its name says it is a tar archive.
  if (reason.empty() && visited == 0 && IsCompressedFile(kind) && ended != ARCHIVE_FORMAT_EMPTY &&
      !NamedAsTar(archiveName)) {
    reason = ReadMembers(source, archiveName, kind, true, visit, cap, large, visited, ended);
  }
  return reason;
}

bool ArchivesRead() { return true; }

// Disk images that travel inside archives (.zip, .lzh/.lha, .7z, .rar, .tar)
// or compressed files (.gz, .bz2, .xz, and .tar.gz and the like), read with
// libarchive from the archive's bytes where they are: nothing is unpacked to
// disk. The magic bytes are told in archive_magic.cpp (every build); the
// members are read in archive.cpp over archive_input.cpp and member_names.cpp
// with libarchive, or by archive_none.cpp in a build without it.
#ifndef ZEFACUT_INPUT_ARCHIVE_H
#define ZEFACUT_INPUT_ARCHIVE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "input/byte_source.h"

class ByteSource;

// Whether the first bytes of a file (`length` of them, as many of the first
// kProbeSize as the file has) are those of an archive or compressed file whose
// members the tool reads: the format's name for messages ("ZIP", "LZH",
// "7-Zip", "RAR", "tar", "gzip", "bzip2", "xz"), or nullptr. Decided by the
// magic bytes alone, never by the file's name, and strictly enough that a
// disk image is never taken for an archive:
//   ZIP    "PK\3\4" at 0 (or at 4 after "PK\7\8" or "PK00") with a known method,
//          or "PK\5\6" at 0 with no member (an empty archive)
//   LZH    "-lh?-" or "-lz?-" at 2 with a known method, header level 0-3 at 20,
//          and a header sum that holds (levels 0 and 1) or 0x20 at 19 (2, 3)
//   7-Zip  37 7A BC AF 27 1C at 0
//   RAR    "Rar!" 1A 07 00 (RAR 4) or "Rar!" 1A 07 01 00 (RAR 5) at 0
//   tar    "ustar" at 257 in a first header whose checksum holds
//   gzip   1F 8B 08 (deflate) at 0
//   bzip2  "BZh1"-"BZh9" at 0 followed by a block or end-of-stream magic
//   xz     FD "7zXZ" 00 at 0
// A compressed file holds a tar archive or a single file: both are read.
const char* ArchiveFormat(const unsigned char* head, std::size_t length);

struct ArchiveMember {
  // The member's path inside the archive as stored, in UTF-8: names that
  // carry their character set (ZIP names marked as UTF-8, 7-Zip, pax, RAR)
  // as libarchive converts them; LZH names, which carry none, read as
  // Shift-JIS; other names without one (a ZIP name not marked, a tar name) as
  // they are when they are UTF-8, otherwise read as Shift-JIS, otherwise the
  // stored bytes (on Windows, those bytes read as ISO-8859-1). Empty
  // when libarchive could not read the name. The single file of a compressed
  // file is named after the compressed file without its suffix ("game.d88"
  // for "game.d88.gz").
  std::string name;
  // Its whole content; empty when tooLarge or unpacked to the spool.
  std::vector<unsigned char> bytes;
  // Its whole content when it was unpacked to the spool (see LargeMembers);
  // null otherwise. The visit may take it.
  std::unique_ptr<ByteSource> source;
  // The member holds more than the cap (kMaxImageBytes unless the caller
  // gives another, or the large cap for a member that may be large) and was
  // not read.
  bool tooLarge = false;
  // The cap it was held to.
  std::uint64_t cap = 0;
};

// Members that may be larger than the cap: flux dumps, which run to hundreds
// of MiB. A member whose first bytes (up to kProbeSize) `mayBeLarge` accepts
// is unpacked to `spool` instead of memory, up to `cap`; where the system
// has no scratch files (ENOSYS), into memory up to `cap`; where making one
// fails otherwise, into memory up to the usual cap.
struct LargeMembers {
  std::function<bool(const unsigned char* head, std::size_t length)> mayBeLarge;
  std::uint64_t cap = static_cast<std::uint64_t>(kMaxFluxBytes);
  Spool* spool = nullptr;
};

// Reads the regular-file members of the archive or compressed file that
// `source` holds, in archive order, calling visit for each; directories,
// links and other special entries are skipped. `archiveName` is the
// archive's path or file name (UTF-8), which names the single file of a
// compressed file; `cap` is the size past which a member is not read
// (tooLarge): kMaxImageBytes in the tool, smaller in tests; `large`, when
// given, lets some members be larger. Returns an empty
// string when the whole archive was read, otherwise the reason reading
// stopped (not an archive, damaged, truncated, unsupported compression or
// encryption...): the members visited before then stay visited, the one
// being read is not visited.
std::string ForEachMember(ByteSource& source, const std::string& archiveName,
                          const std::function<void(ArchiveMember&)>& visit,
                          std::uint64_t cap = kMaxImageBytes, const LargeMembers* large = nullptr);

// Whether this build reads archives at all. Without libarchive ForEachMember
// visits nothing and returns the reason.
bool ArchivesRead();

#endif  // ZEFACUT_INPUT_ARCHIVE_H

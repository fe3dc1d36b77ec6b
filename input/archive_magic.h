// The kinds of archive the magic bytes tell (see ArchiveFormat in
// input/archive.h), for the archive reader to set libarchive up for the
// one kind it has.
#ifndef ZEFACUT_INPUT_ARCHIVE_MAGIC_H
#define ZEFACUT_INPUT_ARCHIVE_MAGIC_H

#include <cstddef>

#include "input/byte_source.h"

enum class ArchiveKind { kNone, kZip, kLzh, kSevenZip, kRar, kTar, kGzip, kBzip2, kXz };

// The kind of archive whose first bytes these are (`length` of them, as many
// of the first kProbeSize as the file has); kNone for anything else.
ArchiveKind ClassifyArchive(const unsigned char* head, std::size_t length);

// The kind's name for messages ("ZIP", "gzip"...); nullptr for kNone.
const char* ArchiveKindName(ArchiveKind kind);

#endif  // ZEFACUT_INPUT_ARCHIVE_MAGIC_H

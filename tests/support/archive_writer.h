// Archives and compressed files written in memory with libarchive, holding
// images the builder made, for the tests of images read out of archives.
#ifndef ZEFACUT_TESTS_SUPPORT_ARCHIVE_WRITER_H
#define ZEFACUT_TESTS_SUPPORT_ARCHIVE_WRITER_H

#include <string>
#include <utility>
#include <vector>

#include "testkit/image_builder.h"

enum class ArchiveKind { kZip, kSevenZip, kTarGz, kGzip };

// The members in order, as (name, bytes). A gzip file holds the first only.
Bytes BuildArchive(ArchiveKind kind, const std::vector<std::pair<std::string, Bytes>>& members);

#endif  // ZEFACUT_TESTS_SUPPORT_ARCHIVE_WRITER_H

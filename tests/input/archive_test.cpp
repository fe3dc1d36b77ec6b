// Tests of the archive reader: archives and compressed files written in
// memory with libarchive's own writer in every format it writes, then read
// back from a scratch folder or from memory; an LZH archive from tests/data
// (libarchive writes no LZH); damaged and truncated archives and sources
// that fail; the member size cap; member names in UTF-8; and the magic bytes
// that tell an archive from a disk image.
#include "input/archive.h"
#include "input/archive_input.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <locale.h>
#endif

#include "input/byte_source.h"
#include "input/member_names.h"
#include "support/scratch_folder.h"
#include "testkit/image_builder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// What ForEachMember gave: the members in the order visited, and the reason.
struct Reading {
  std::vector<ArchiveMember> members;
  std::string reason;
};

Reading ReadSource(ByteSource& source, const std::string& name,
                   std::uint64_t cap = kMaxImageBytes) {
  Reading reading;
  reading.reason = ForEachMember(
      source, name,
      [&reading](ArchiveMember& member) { reading.members.push_back(std::move(member)); }, cap);
  return reading;
}

// The archive file at `path` (UTF-8), opened as the tool opens it.
Reading ReadArchive(const std::string& path, std::uint64_t cap = kMaxImageBytes) {
  errno = 0;
  const std::unique_ptr<ByteSource> source = OpenFileSource(path.c_str());
  if (!source) {
    return {{}, std::string("cannot open: ") + std::strerror(errno != 0 ? errno : ENOENT)};
  }
  return ReadSource(*source, path, cap);
}

// Bytes no other member of a test holds: derived from the seed and position,
// with runs that compress.
Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] =
        static_cast<std::uint8_t>((i % 97) * 3 + (i / 300) + static_cast<std::size_t>(seed) * 31);
  }
  return bytes;
}

// An entry to write: a regular file by default.
struct Entry {
  Entry(std::string entryName, Bytes entryBytes, unsigned entryType = AE_IFREG,
        std::string entryLink = {})
      : name(std::move(entryName)),
        bytes(std::move(entryBytes)),
        type(entryType),
        link(std::move(entryLink)) {}

  std::string name;  // UTF-8
  Bytes bytes;
  unsigned type;
  std::string link;  // a symbolic link's target, or the name a hard link repeats
};

// How an archive of one kind is written, and what reading it gives.
struct Writer {
  const char* label;
  int (*format)(archive*);
  int (*filter)(archive*);  // null: none
  const char* options;      // for archive_write_set_options; null: none
  const char* suffix;
  const char* expectedFormat;  // ArchiveFormat of the result
  bool symbolicLinks;          // stores symbolic links as such
  bool hardLinks;              // stores hard links as such
  bool marksUtf8;              // names carry their character set (UTF-8, UTF-16)
  bool emptyLast;              // members without data are stored after the others
};

int NoFilter(archive* /*writer*/) { return ARCHIVE_OK; }

constexpr bool kYes = true;
constexpr bool kNo = false;

const Writer kWriters[] = {
    // label, format, filter, options, suffix, expected format,
    // symbolic links, hard links, marks UTF-8, empty last
    {"zip_deflate", archive_write_set_format_zip, nullptr, "zip:compression=deflate", ".zip", "ZIP",
     kYes, kNo, kYes, kNo},
    {"zip_store", archive_write_set_format_zip, nullptr, "zip:compression=store", ".zip", "ZIP",
     kYes, kNo, kYes, kNo},
    {"sevenzip_lzma2", archive_write_set_format_7zip, nullptr, "7zip:compression=lzma2", ".7z",
     "7-Zip", kYes, kNo, kYes, kYes},
    {"sevenzip_lzma1", archive_write_set_format_7zip, nullptr, "7zip:compression=lzma1", ".7z",
     "7-Zip", kYes, kNo, kYes, kYes},
    {"sevenzip_deflate", archive_write_set_format_7zip, nullptr, "7zip:compression=deflate", ".7z",
     "7-Zip", kYes, kNo, kYes, kYes},
    {"sevenzip_bzip2", archive_write_set_format_7zip, nullptr, "7zip:compression=bzip2", ".7z",
     "7-Zip", kYes, kNo, kYes, kYes},
    {"sevenzip_ppmd", archive_write_set_format_7zip, nullptr, "7zip:compression=ppmd", ".7z",
     "7-Zip", kYes, kNo, kYes, kYes},
    {"sevenzip_copy", archive_write_set_format_7zip, nullptr, "7zip:compression=copy", ".7z",
     "7-Zip", kYes, kNo, kYes, kYes},
    {"ustar", archive_write_set_format_ustar, nullptr, nullptr, ".tar", "tar", kYes, kYes, kNo,
     kNo},
    {"pax", archive_write_set_format_pax_restricted, nullptr, nullptr, ".tar", "tar", kYes, kYes,
     kYes, kNo},
    {"gnutar", archive_write_set_format_gnutar, nullptr, nullptr, ".tar", "tar", kYes, kYes, kNo,
     kNo},
    {"tar_gz", archive_write_set_format_pax_restricted, archive_write_add_filter_gzip, nullptr,
     ".tar.gz", "gzip", kYes, kYes, kYes, kNo},
    {"tar_bz2", archive_write_set_format_pax_restricted, archive_write_add_filter_bzip2, nullptr,
     ".tar.bz2", "bzip2", kYes, kYes, kYes, kNo},
    {"tar_xz", archive_write_set_format_pax_restricted, archive_write_add_filter_xz, nullptr,
     ".tar.xz", "xz", kYes, kYes, kYes, kNo},
};
const Writer& kZip = kWriters[0];
const Writer& kSevenZip = kWriters[2];
const Writer& kUstar = kWriters[8];
const Writer& kTarGz = kWriters[11];

// A compressed file of one file: libarchive's raw format through a filter.
const Writer kSingleFileWriters[] = {
    {"gz", archive_write_set_format_raw, archive_write_add_filter_gzip, nullptr, ".d88.gz", "gzip",
     kNo, kNo, kNo, kNo},
    {"bz2", archive_write_set_format_raw, archive_write_add_filter_bzip2, nullptr, ".d88.bz2",
     "bzip2", kNo, kNo, kNo, kNo},
    {"xz", archive_write_set_format_raw, archive_write_add_filter_xz, nullptr, ".d88.xz", "xz", kNo,
     kNo, kNo, kNo},
};
const Writer& kGz = kSingleFileWriters[0];
const Writer& kXz = kSingleFileWriters[2];

// The entries in the order the archive stores them.
std::vector<Entry> StoredOrder(const Writer& kind, std::vector<Entry> entries) {
  if (kind.emptyLast) {
    std::stable_partition(entries.begin(), entries.end(),
                          [](const Entry& entry) { return !entry.bytes.empty(); });
  }
  return entries;
}

std::string ErrorOf(archive* handle) {
  const char* text = archive_error_string(handle);
  return text != nullptr ? text : "(no message)";
}

#ifndef _WIN32
// Names written in UTF-8 whatever the test's locale, as the reader reads
// them (see input/member_names.h).
class Utf8Locale {
 public:
  Utf8Locale() : utf8_(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))) {
    EXPECT_NE(utf8_, static_cast<locale_t>(nullptr));
    caller_ = uselocale(utf8_);
  }
  ~Utf8Locale() {
    uselocale(caller_);
    freelocale(utf8_);
  }
  Utf8Locale(const Utf8Locale&) = delete;
  Utf8Locale& operator=(const Utf8Locale&) = delete;

 private:
  locale_t utf8_;
  locale_t caller_;
};
#else
// Windows: libarchive converts names through the system's Unicode calls.
struct Utf8Locale {};
#endif

la_ssize_t Append(archive* /*writer*/, void* data, const void* buffer, size_t length) {
  auto* out = static_cast<Bytes*>(data);
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  out->insert(out->end(), bytes, bytes + length);
  return static_cast<la_ssize_t>(length);
}

// The archive of the entries, in memory. Fails the test on any error.
Bytes WriteArchive(const Writer& kind, const std::vector<Entry>& entries) {
  // cppcheck-suppress unusedVariable  // held for its scope
  [[maybe_unused]] const Utf8Locale locale;
  Bytes out;
  archive* writer = archive_write_new();
  EXPECT_EQ(kind.format(writer), ARCHIVE_OK) << ErrorOf(writer);
  EXPECT_EQ((kind.filter != nullptr ? kind.filter : NoFilter)(writer), ARCHIVE_OK)
      << ErrorOf(writer);
  if (kind.options != nullptr) {
    EXPECT_EQ(archive_write_set_options(writer, kind.options), ARCHIVE_OK) << ErrorOf(writer);
  }
  EXPECT_EQ(archive_write_set_bytes_in_last_block(writer, 1), ARCHIVE_OK);
  EXPECT_EQ(archive_write_open2(writer, &out, nullptr, Append, nullptr, nullptr), ARCHIVE_OK)
      << ErrorOf(writer);
  for (const Entry& item : entries) {
    archive_entry* entry = archive_entry_new();
    // Set as UTF-8 and in the forms made from it (UTF-16 on Windows, where
    // the ANSI code page holds no Japanese), as a program that has the name
    // in UTF-8 gives it to libarchive.
    archive_entry_update_pathname_utf8(entry, item.name.c_str());
    archive_entry_set_filetype(entry, item.type);
    archive_entry_set_perm(entry, item.type == AE_IFDIR ? 0755 : 0644);
    archive_entry_set_mtime(entry, 946684800, 0);
    if (item.type == AE_IFLNK) {
      archive_entry_update_symlink_utf8(entry, item.link.c_str());
    } else if (!item.link.empty()) {
      archive_entry_update_hardlink_utf8(entry, item.link.c_str());
    }
    if (item.type == AE_IFREG && item.link.empty()) {
      archive_entry_set_size(entry, static_cast<la_int64_t>(item.bytes.size()));
    }
    EXPECT_EQ(archive_write_header(writer, entry), ARCHIVE_OK)
        << item.name << ": " << ErrorOf(writer);
    if (!item.bytes.empty()) {
      EXPECT_EQ(archive_write_data(writer, item.bytes.data(), item.bytes.size()),
                static_cast<la_ssize_t>(item.bytes.size()))
          << ErrorOf(writer);
    }
    archive_entry_free(entry);
  }
  EXPECT_EQ(archive_write_close(writer), ARCHIVE_OK) << ErrorOf(writer);
  archive_write_free(writer);
  return out;
}

class ArchiveTest : public testing::Test {
 protected:
  void SetUp() override { dir_ = MakeScratchFolder("archive_test"); }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Writes the bytes to a file of the test's folder (name in UTF-8); returns
  // its path in UTF-8.
  std::string Write(const std::string& name, const Bytes& bytes) const {
    const fs::path path = dir_ / fs::u8path(name);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << path;
    return path.u8string();
  }

  fs::path dir_;
};

// The members visited, as name and bytes, against those expected.
void ExpectMembers(const Reading& reading, const std::vector<Entry>& expected) {
  ASSERT_EQ(reading.members.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("member " + std::to_string(i));
    EXPECT_EQ(reading.members[i].name, expected[i].name);
    EXPECT_FALSE(reading.members[i].tooLarge);
    EXPECT_TRUE(reading.members[i].bytes == expected[i].bytes)
        << reading.members[i].bytes.size() << " bytes read, " << expected[i].bytes.size()
        << " expected";
  }
}

Bytes HeadOf(const Bytes& file) {
  return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(
                                                std::min<std::size_t>(file.size(), 4096)));
}

// ---------------------------------------------------------------------------
// Archives of every kind libarchive writes

TEST_F(ArchiveTest, OneMemberReadsWhole) {
  const std::vector<Entry> entries = {{"GAME.D88", Pattern(348848, 1)}};
  for (const Writer& kind : kWriters) {
    SCOPED_TRACE(kind.label);
    const Bytes file = WriteArchive(kind, entries);
    const Bytes head = HeadOf(file);
    EXPECT_STREQ(ArchiveFormat(head.data(), head.size()), kind.expectedFormat);
    const Reading reading = ReadArchive(Write(std::string("one") + kind.suffix, file));
    EXPECT_EQ(reading.reason, "");
    ExpectMembers(reading, entries);
  }
}

TEST_F(ArchiveTest, SeveralMembersKeepTheArchiveOrder) {
  // Not in name order, one of them empty, one in a folder.
  const std::vector<Entry> entries = {{"zefa2/DISK B.d88", Pattern(70000, 2)},
                                      {"a.d88", Pattern(1, 3)},
                                      {"empty.d88", {}},
                                      {"MUSIC.D88", Pattern(200000, 4)}};
  for (const Writer& kind : kWriters) {
    SCOPED_TRACE(kind.label);
    const Reading reading =
        ReadArchive(Write(std::string("several") + kind.suffix, WriteArchive(kind, entries)));
    EXPECT_EQ(reading.reason, "");
    ExpectMembers(reading, StoredOrder(kind, entries));
  }
}

TEST_F(ArchiveTest, FoldersAndLinksAreSkipped) {
  const Entry first = {"disks/first.d88", Pattern(5000, 5)};
  const Entry second = {"disks/sub/second.d88", Pattern(7000, 6)};
  for (const Writer& kind : kWriters) {
    SCOPED_TRACE(kind.label);
    std::vector<Entry> entries = {
        {"disks", {}, AE_IFDIR}, first, {"disks/sub", {}, AE_IFDIR}, second};
    if (kind.symbolicLinks) {
      entries.push_back({"disks/symbolic.d88", {}, AE_IFLNK, "first.d88"});
    }
    if (kind.hardLinks) {
      entries.push_back({"disks/hard.d88", {}, AE_IFREG, "disks/first.d88"});
    }
    const Reading reading =
        ReadArchive(Write(std::string("folders") + kind.suffix, WriteArchive(kind, entries)));
    EXPECT_EQ(reading.reason, "");
    ExpectMembers(reading, {first, second});
  }
}

TEST_F(ArchiveTest, EmptyArchiveVisitsNothing) {
  for (const Writer& kind : kWriters) {
    SCOPED_TRACE(kind.label);
    const Bytes file = WriteArchive(kind, {});
    const Reading reading = ReadArchive(Write(std::string("empty") + kind.suffix, file));
    // An empty tar holds no "ustar" header: only a compressed one is taken
    // for an archive. Read all the same, it holds nothing. A compressed
    // file of nothing holds its one file, empty (below).
    if (std::string(kind.suffix).rfind(".d88.", 0) == 0) {
      ExpectMembers(reading, {{"empty.d88", {}}});
    } else {
      EXPECT_TRUE(reading.members.empty());
    }
    const Bytes head = HeadOf(file);
    if (ArchiveFormat(head.data(), head.size()) != nullptr) {
      EXPECT_EQ(reading.reason, "");
    } else {
      EXPECT_EQ(reading.reason, "not an archive");
    }
  }
}

// A ZIP archive whose names are the bytes given, marked as UTF-8 (flag bit
// 11 in each local and central header) or not. libarchive's ZIP writer
// cannot write a name that the Windows ANSI code page does not hold, so the
// archive is written under ASCII names of the same length (which it leaves
// unmarked), stored, and the names and marks put in after.
Bytes ZipWithNames(const std::vector<Entry>& entries, bool markedUtf8) {
  std::vector<Entry> placeholders;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    placeholders.emplace_back(std::string(entries[i].name.size(), static_cast<char>('A' + i)),
                              entries[i].bytes);
  }
  Writer stored = kZip;
  stored.options = "zip:compression=store";
  Bytes file = WriteArchive(stored, placeholders);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string& from = placeholders[i].name;
    int found = 0;
    for (auto at = file.begin();
         (at = std::search(at, file.end(), from.begin(), from.end())) != file.end(); ++found) {
      at = std::copy(entries[i].name.begin(), entries[i].name.end(), at);
    }
    EXPECT_EQ(found, 2) << "the name in the local and the central header";
  }
  const struct {
    const char* signature;
    std::size_t flagsHigh;  // the offset of the flags' upper byte
  } kHeaders[] = {{"PK\x03\x04", 7}, {"PK\x01\x02", 9}};
  for (const auto& header : kHeaders) {
    int found = 0;
    for (auto at = file.begin();
         (at = std::search(at, file.end(), header.signature, header.signature + 4)) != file.end();
         ++at, ++found) {
      if (markedUtf8) {
        at[static_cast<std::ptrdiff_t>(header.flagsHigh)] |= 0x08;
      }
    }
    EXPECT_EQ(found, static_cast<int>(entries.size()));
  }
  return file;
}

Bytes ZipMarkedUtf8(const std::vector<Entry>& entries) { return ZipWithNames(entries, true); }

TEST_F(ArchiveTest, NamesComeAsUtf8) {
  // "ゼファ/ディスクＡ.d88": a folder and a name outside ASCII, marked as UTF-8
  // where the format has a mark for it.
  const std::vector<Entry> entries = {
      {"\xE3\x82\xBC\xE3\x83\x95\xE3\x82\xA1/\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xB9\xE3\x82\xAF"
       "\xEF\xBC\xA1.d88",
       Pattern(3000, 7)},
      {"plain.d88", Pattern(2000, 8)}};
  for (const Writer& kind : kWriters) {
    if (!kind.marksUtf8) {
      continue;  // names as the writer's system had them: not this test's matter
    }
#ifdef _WIN32
    // libarchive's 7-Zip and tar writers cannot write a name outside the
    // ANSI code page on Windows; such archives are read from tests/data
    // (below).
    if (kind.format != archive_write_set_format_zip) {
      continue;
    }
#endif
    SCOPED_TRACE(kind.label);
    const Bytes file = kind.format == archive_write_set_format_zip ? ZipMarkedUtf8(entries)
                                                                   : WriteArchive(kind, entries);
    const Reading reading = ReadArchive(Write(std::string("names") + kind.suffix, file));
    EXPECT_EQ(reading.reason, "");
    ExpectMembers(reading, entries);
  }
}

TEST_F(ArchiveTest, NamesComeAsUtf8FromArchivesOfTestData) {
  // Written by libarchive's 7-Zip and pax writers on Linux (tests/data/README.md).
  const std::vector<Entry> entries = {
      {"\xE3\x82\xBC\xE3\x83\x95\xE3\x82\xA1/\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xB9\xE3\x82\xAF"
       "\xEF\xBC\xA1.d88",
       {'Z', 'E', 'F', 'A', ' ', 'L', 'O', 'M', 'R', 'I', '\n'}},
      {"plain.d88", {'p', 'l', 'a', 'i', 'n', '\n'}}};
  for (const char* file : {"utf8-names.7z", "utf8-names.tar.gz"}) {
    SCOPED_TRACE(file);
    const Reading reading = ReadArchive(std::string(ZEFACUT_TEST_DATA "/") + file);
    EXPECT_EQ(reading.reason, "");
    ExpectMembers(reading, entries);
  }
}

#ifndef _WIN32
TEST_F(ArchiveTest, VisitsRunInTheCallersLocale) {
  // The reader's calls run in a UTF-8 locale of the thread; what the caller
  // does with each member (writing messages, for one) runs in its own.
  const std::vector<Entry> entries = {{"a.d88", Pattern(100, 21)}, {"b.d88", Pattern(100, 22)}};
  const std::unique_ptr<ByteSource> source = MemorySource(WriteArchive(kZip, entries));
  const locale_t caller = uselocale(static_cast<locale_t>(nullptr));
  int visits = 0;
  const std::string reason = ForEachMember(*source, "locale.zip", [&](const ArchiveMember&) {
    EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), caller);
    ++visits;
  });
  EXPECT_EQ(reason, "");
  EXPECT_EQ(visits, 2);
  EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), caller);
}
#endif

TEST_F(ArchiveTest, ArchiveWithAJapaneseNameOpens) {
  const std::vector<Entry> entries = {{"A.D88", Pattern(2000, 8)}};
  // "ゼファ.zip"
  const std::string path =
      Write("\xE3\x82\xBC\xE3\x83\x95\xE3\x82\xA1.zip", WriteArchive(kZip, entries));
  const Reading reading = ReadArchive(path);
  EXPECT_EQ(reading.reason, "");
  ExpectMembers(reading, entries);
}

// ---------------------------------------------------------------------------
// A compressed file of one file

TEST_F(ArchiveTest, CompressedFileIsOneMemberNamedWithoutItsSuffix) {
  const Bytes image = Pattern(348848, 9);
  for (const Writer& kind : kSingleFileWriters) {
    SCOPED_TRACE(kind.label);
    const Bytes file = WriteArchive(kind, {{"data", image}});
    const Bytes head = HeadOf(file);
    EXPECT_STREQ(ArchiveFormat(head.data(), head.size()), kind.expectedFormat);
    const std::string stem = std::string("ZEFA2") + kind.suffix;  // ZEFA2.d88.gz
    const std::string upper = [&] {
      std::string name = stem;
      std::transform(name.begin(), name.end(), name.begin(),
                     [](char ch) { return static_cast<char>(std::toupper(ch)); });
      return name;
    }();
    const struct {
      std::string file;
      std::string member;
    } kNames[] = {
        {stem, "ZEFA2.d88"},
        {upper, "ZEFA2.D88"},
        {std::string("ZEFA2") + kind.label, std::string("ZEFA2") + kind.label},  // no suffix
        {std::string("d88") + kind.suffix + ".bin", std::string("d88") + kind.suffix + ".bin"},
    };
    for (const auto& names : kNames) {
      SCOPED_TRACE(names.file);
      const Reading reading = ReadArchive(Write(names.file, file));
      EXPECT_EQ(reading.reason, "");
      ExpectMembers(reading, {{names.member, image}});
    }
  }
}

TEST_F(ArchiveTest, GzipMembersFollowOneAnother) {
  // gzip(1) reads members one after another as one file, and ignores what
  // follows the last when it starts no member (zeros of tape padding).
  const Bytes first = Pattern(70000, 27);
  const Bytes second = Pattern(50000, 28);
  const Bytes one = WriteArchive(kGz, {{"data", first}});
  const Bytes two = WriteArchive(kGz, {{"data", second}});
  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());
  const auto join = [](std::initializer_list<Bytes> parts) {
    Bytes joined;
    for (const Bytes& part : parts) {
      joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
  };
  Bytes damagedTwo = two;
  damagedTwo[damagedTwo.size() - 6] ^= 0x01;  // its CRC
  const struct {
    const char* label;
    Bytes file;
    const Bytes* expected;  // null: a reason and no member
  } kCases[] = {
      {"two members", join({one, two}), &both},
      {"then zeros", join({one, Bytes(512, 0)}), &first},
      {"then bytes that start no member", join({one, Bytes{'e', 'n', 'd'}}), &first},
      {"second member damaged", join({one, damagedTwo}), nullptr},
      {"second member cut short", join({one, Bytes(two.begin(), two.begin() + 30)}), nullptr},
  };
  for (const auto& item : kCases) {
    SCOPED_TRACE(item.label);
    const Reading reading = ReadArchive(Write("joined.d88.gz", item.file));
    if (item.expected != nullptr) {
      EXPECT_EQ(reading.reason, "");
      ExpectMembers(reading, {{"joined.d88", *item.expected}});
    } else {
      EXPECT_NE(reading.reason, "");
      EXPECT_TRUE(reading.members.empty());
    }
  }
}

// A compressed empty file is an empty file, as an empty ZIP member is; one
// that unpacks to zero blocks, which a tar reader takes for the end of an
// archive, is the one file all the same.
TEST_F(ArchiveTest, CompressedFileOfNothingOrOfZerosHoldsItsOneFile) {
  const Bytes zeros(20000, 0);
  for (const Writer& kind : kSingleFileWriters) {
    SCOPED_TRACE(kind.label);
    Reading reading = ReadArchive(
        Write(std::string("nothing") + kind.suffix, WriteArchive(kind, {{"data", {}}})));
    EXPECT_EQ(reading.reason, "");
    ExpectMembers(reading, {{"nothing.d88", {}}});
    reading = ReadArchive(
        Write(std::string("blank") + kind.suffix, WriteArchive(kind, {{"data", zeros}})));
    EXPECT_EQ(reading.reason, "");
    ExpectMembers(reading, {{"blank.d88", zeros}});
  }
}

// ---------------------------------------------------------------------------
// LZH, which libarchive reads but does not write

TEST_F(ArchiveTest, LzhArchiveOfTwoMembers) {
  const std::string path = ZEFACUT_TEST_DATA "/lzh-two-members.lzh";
  std::ifstream in(fs::u8path(path), std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(file.size(), 287u);
  EXPECT_STREQ(ArchiveFormat(file.data(), file.size()), "LZH");

  const std::string text = "zefacut LZH test archive: first member\n";
  Bytes second(3000);
  for (std::size_t i = 0; i < second.size(); ++i) {
    second[i] = static_cast<std::uint8_t>(i % 97 + i / 500);
  }
  const Reading reading = ReadArchive(path);
  EXPECT_EQ(reading.reason, "");
  ExpectMembers(reading, {{"FIRST.TXT", Bytes(text.begin(), text.end())}, {"SECOND.BIN", second}});
}

// The CRC-16 that LZH archives keep of each member's data (polynomial 0xA001,
// reflected, starting from 0).
std::uint16_t LzhCrc(const Bytes& bytes) {
  std::uint16_t crc = 0;
  for (const std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                           : static_cast<std::uint16_t>(crc >> 1);
    }
  }
  return crc;
}

// An LZH archive of one stored member in a level 0 header, whose name is the
// bytes given, in no declared character set, as MS-DOS archivers wrote them.
Bytes StoredLzh(const std::string& name, const Bytes& data) {
  Bytes file = {0, 0, '-', 'l', 'h', '0', '-'};
  for (int field = 0; field < 2; ++field) {  // packed and original size
    for (int shift = 0; shift < 32; shift += 8) {
      file.push_back(static_cast<std::uint8_t>(data.size() >> shift));
    }
  }
  file.insert(file.end(), {0x00, 0x60, 0x21, 0x28});  // 2000-01-01 12:00 in MS-DOS form
  file.insert(file.end(), {0x20, 0x00, static_cast<std::uint8_t>(name.size())});
  file.insert(file.end(), name.begin(), name.end());
  const std::uint16_t crc = LzhCrc(data);
  file.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  file.push_back(static_cast<std::uint8_t>(crc >> 8));
  file[0] = static_cast<std::uint8_t>(file.size() - 2);
  unsigned sum = 0;
  for (std::size_t i = 2; i < file.size(); ++i) {
    sum += file[i];
  }
  file[1] = static_cast<std::uint8_t>(sum);
  file.insert(file.end(), data.begin(), data.end());
  file.push_back(0);  // the end of the archive
  return file;
}

// "ゼファ.D88" in UTF-8 and in Shift-JIS.
const std::string kUtf8Name = "\xE3\x82\xBC\xE3\x83\x95\xE3\x82\xA1.D88";
const std::string kShiftJisName = "\x83\x5B\x83\x74\x83\x40.D88";

TEST_F(ArchiveTest, LzhNamesAreShiftJis) {
  const Bytes data = Pattern(500, 23);
  const Bytes file = StoredLzh(kShiftJisName, data);
  EXPECT_STREQ(ArchiveFormat(file.data(), file.size()), "LZH");
  const Reading reading = ReadArchive(Write("sjis.lzh", file));
  EXPECT_EQ(reading.reason, "");
  ExpectMembers(reading, {{kUtf8Name, data}});

  // The same with its stored data changed: the member's CRC does not hold.
  Bytes damaged = file;
  damaged[damaged.size() - 10] ^= 0x01;
  const Reading bad = ReadArchive(Write("damaged.lzh", damaged));
  EXPECT_NE(bad.reason, "");
  EXPECT_TRUE(bad.members.empty());
}

// Names stored in no declared character set come in UTF-8 by one rule on
// every system: as they are when they are UTF-8, read as Shift-JIS when they
// are that, otherwise as stored (on Windows, where no path holds such bytes,
// each byte read as ISO-8859-1).
struct StoredName {
  std::string stored;
  std::string read;
};
const StoredName kStoredNames[] = {{kUtf8Name, kUtf8Name},
                                   {kShiftJisName, kUtf8Name},
#ifdef _WIN32
                                   {"\xFF\xFE.D88", "\xC3\xBF\xC3\xBE.D88"},
#else
                                   {"\xFF\xFE.D88", "\xFF\xFE.D88"},
#endif
                                   {"plain.d88", "plain.d88"}};

TEST_F(ArchiveTest, UnmarkedZipNamesAreUtf8ShiftJisOrAsStored) {
  const Bytes data = Pattern(300, 24);
  // A ZIP as Japanese Windows writes one: Shift-JIS names, not marked UTF-8;
  // and the others, each with a second member after it.
  for (const StoredName& name : kStoredNames) {
    SCOPED_TRACE(name.stored);
    const Bytes zip = ZipWithNames({{name.stored, data}, {"after.d88", data}}, false);
    const Reading reading = ReadArchive(Write("names.zip", zip));
    EXPECT_EQ(reading.reason, "");
    ExpectMembers(reading, {{name.read, data}, {"after.d88", data}});
  }
  // Marked as UTF-8, a name is UTF-8 whatever its characters.
  const std::string accented = "caf\xC3\xA9.d88";
  const Reading marked = ReadArchive(Write("marked.zip", ZipMarkedUtf8({{accented, data}})));
  EXPECT_EQ(marked.reason, "");
  ExpectMembers(marked, {{accented, data}});
}

#ifndef _WIN32
// A ustar archive of one member whose name is the bytes given, unconverted.
Bytes TarWithStoredName(const std::string& name, const Bytes& data) {
  // cppcheck-suppress unusedVariable  // held for its scope
  [[maybe_unused]] const Utf8Locale locale;
  Bytes out;
  archive* writer = archive_write_new();
  EXPECT_EQ(archive_write_set_format_ustar(writer), ARCHIVE_OK);
  EXPECT_EQ(archive_write_open2(writer, &out, nullptr, Append, nullptr, nullptr), ARCHIVE_OK);
  archive_entry* entry = archive_entry_new();
  archive_entry_set_pathname(entry, name.c_str());
  archive_entry_set_filetype(entry, AE_IFREG);
  archive_entry_set_perm(entry, 0644);
  archive_entry_set_size(entry, static_cast<la_int64_t>(data.size()));
  EXPECT_EQ(archive_write_header(writer, entry), ARCHIVE_OK) << ErrorOf(writer);
  EXPECT_EQ(archive_write_data(writer, data.data(), data.size()),
            static_cast<la_ssize_t>(data.size()));
  archive_entry_free(entry);
  EXPECT_EQ(archive_write_close(writer), ARCHIVE_OK) << ErrorOf(writer);
  archive_write_free(writer);
  return out;
}

TEST_F(ArchiveTest, UnmarkedNamesAreUtf8ShiftJisOrAsStored) {
  const Bytes data = Pattern(300, 24);
  // A ZIP as Japanese Windows writes one, by libarchive's own writer.
  Writer shiftJisZip = kZip;
  shiftJisZip.options = "zip:hdrcharset=CP932";
  const Bytes zip = WriteArchive(shiftJisZip, {{kUtf8Name, data}});
  const Bytes stored(kShiftJisName.begin(), kShiftJisName.end());
  ASSERT_NE(std::search(zip.begin(), zip.end(), stored.begin(), stored.end()), zip.end());
  Reading reading = ReadArchive(Write("sjis.zip", zip));
  EXPECT_EQ(reading.reason, "");
  ExpectMembers(reading, {{kUtf8Name, data}});

  // tar names carry no character set: UTF-8 and Shift-JIS come as UTF-8,
  // bytes that are neither (0xFF and 0xFE begin nothing in either) as stored.
  for (const StoredName& name : kStoredNames) {
    SCOPED_TRACE(name.stored);
    reading = ReadArchive(Write("names.tar", TarWithStoredName(name.stored, data)));
    EXPECT_EQ(reading.reason, "");
    ExpectMembers(reading, {{name.read, data}});
  }
}
#endif

TEST(MemberNamesTest, WellFormedUtf8IsToldFromOtherBytes) {
  // A stored name is taken as UTF-8 only when it is well-formed: anything
  // else is read as Shift-JIS or kept as stored.
  const struct {
    const char* label;
    std::string bytes;
    bool utf8;
  } kCases[] = {
      {"ASCII", "GAME.D88", true},
      {"two bytes", "\xC3\xA9", true},
      {"three bytes", kUtf8Name, true},
      {"four bytes", "\xF0\x9F\x92\xBE", true},
      {"U+10FFFF", "\xF4\x8F\xBF\xBF", true},
      {"empty", "", true},
      {"Shift-JIS", kShiftJisName, false},
      {"overlong in two", "\xC0\xAF", false},
      {"overlong in three", "\xE0\x80\xAF", false},
      {"overlong in four", "\xF0\x80\x80\xAF", false},
      {"a surrogate", "\xED\xA0\x80", false},
      {"past U+10FFFF", "\xF4\x90\x80\x80", false},
      {"lead byte F5", "\xF5\x80\x80\x80", false},
      {"cut short at the end", "A\xE3\x82", false},
      {"a lone continuation byte", "\x80", false},
      {"a continuation missing", "\xE3\x41\x41", false},
  };
  for (const auto& item : kCases) {
    SCOPED_TRACE(item.label);
    EXPECT_EQ(IsUtf8(item.bytes), item.utf8);
  }
}

// ---------------------------------------------------------------------------
// Damaged archives: a reason, never a fault

// Members visited before the damage are whole: each one read is one of those
// written, in order.
void ExpectAPrefixOf(const Reading& reading, const std::vector<Entry>& entries) {
  ASSERT_LE(reading.members.size(), entries.size());
  for (std::size_t i = 0; i < reading.members.size(); ++i) {
    SCOPED_TRACE("member " + std::to_string(i));
    EXPECT_EQ(reading.members[i].name, entries[i].name);
    EXPECT_TRUE(reading.members[i].bytes == entries[i].bytes);
  }
}

TEST_F(ArchiveTest, TruncatedArchiveGivesAReason) {
  const std::vector<Entry> entries = {{"first.d88", Pattern(40000, 10)},
                                      {"second.d88", Pattern(60000, 11)}};
  for (const Writer& kind : kWriters) {
    const Bytes file = WriteArchive(kind, entries);
    // Cut at the first byte, inside the first member's header, and halfway:
    // member data is missing, which every kind notices.
    for (const std::size_t keep : {std::size_t{1}, std::size_t{20}, file.size() / 2}) {
      SCOPED_TRACE(std::string(kind.label) + " cut to " + std::to_string(keep) + " of " +
                   std::to_string(file.size()));
      const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep));
      const Reading reading = ReadArchive(Write(std::string("cut") + kind.suffix, cut));
      EXPECT_NE(reading.reason, "");
      EXPECT_LT(reading.members.size(), entries.size());
      ExpectAPrefixOf(reading, entries);
    }
    // Cut by one byte: what is lost may be no member's (a ZIP's end record,
    // read past from the members' own headers; a tar's padding), so either a
    // reason or every member, whole.
    SCOPED_TRACE(std::string(kind.label) + " one byte short");
    const Bytes cut(file.begin(), file.end() - 1);
    const Reading reading = ReadArchive(Write(std::string("short") + kind.suffix, cut));
    ExpectAPrefixOf(reading, entries);
    if (reading.reason.empty()) {
      EXPECT_EQ(reading.members.size(), entries.size());
    }
  }
}

TEST_F(ArchiveTest, ZipCutInItsSecondMemberKeepsTheFirst) {
  const std::vector<Entry> entries = {{"first.d88", Pattern(40000, 12)},
                                      {"second.d88", Pattern(60000, 13)}};
  for (const char* options : {"zip:compression=deflate", "zip:compression=store"}) {
    SCOPED_TRACE(options);
    Writer kind = kZip;
    kind.options = options;
    const Bytes file = WriteArchive(kind, entries);
    // The second member's local header, then some of its data: no central
    // directory at the end, so the members are read from their own headers.
    const std::string name = "second.d88";
    const auto at = std::search(file.begin(), file.end(), name.begin(), name.end());
    const auto end = static_cast<std::size_t>(at - file.begin()) + 1000;
    ASSERT_LT(end, file.size());
    const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(end));
    const Reading reading = ReadArchive(Write("cut.zip", cut));
    EXPECT_NE(reading.reason, "");
    ExpectMembers(reading, {entries[0]});
  }
}

TEST_F(ArchiveTest, CorruptedDataGivesAReason) {
  // Bytes of the compressed data changed: the checks of each format (CRC,
  // the stream's own structure) catch it; nothing wrong is visited.
  const std::vector<Entry> entries = {{"only.d88", Pattern(100000, 14)}};
  const Writer* kinds[] = {&kZip, &kSevenZip, &kTarGz, &kGz, &kSingleFileWriters[1], &kXz};
  for (const Writer* kind : kinds) {
    Bytes file = WriteArchive(*kind, entries);
    for (std::size_t at = file.size() / 3; at < file.size() * 2 / 3; at += file.size() / 12) {
      SCOPED_TRACE(std::string(kind->label) + " changed at " + std::to_string(at));
      Bytes changed = file;
      for (std::size_t i = at; i < at + 8 && i < changed.size(); ++i) {
        changed[i] ^= 0x5A;
      }
      const Reading reading = ReadArchive(Write(std::string("changed") + kind->suffix, changed));
      EXPECT_NE(reading.reason, "");
      EXPECT_TRUE(reading.members.empty());
    }
  }
}

TEST_F(ArchiveTest, EncryptedMemberGivesAReasonNamingIt) {
  // The tool takes no passphrase: an encrypted member stops the reading, and
  // the reason names it.
  Bytes out;
  archive* writer = archive_write_new();
  ASSERT_EQ(archive_write_set_format_zip(writer), ARCHIVE_OK);
  ASSERT_EQ(archive_write_set_options(writer, "zip:encryption=zipcrypt"), ARCHIVE_OK)
      << ErrorOf(writer);
  ASSERT_EQ(archive_write_set_passphrase(writer, "zefa"), ARCHIVE_OK);
  ASSERT_EQ(archive_write_open2(writer, &out, nullptr, Append, nullptr, nullptr), ARCHIVE_OK);
  const Bytes data = Pattern(3000, 25);
  archive_entry* entry = archive_entry_new();
  archive_entry_set_pathname(entry, "secret.d88");
  archive_entry_set_filetype(entry, AE_IFREG);
  archive_entry_set_perm(entry, 0644);
  archive_entry_set_size(entry, static_cast<la_int64_t>(data.size()));
  ASSERT_EQ(archive_write_header(writer, entry), ARCHIVE_OK) << ErrorOf(writer);
  ASSERT_EQ(archive_write_data(writer, data.data(), data.size()),
            static_cast<la_ssize_t>(data.size()));
  archive_entry_free(entry);
  ASSERT_EQ(archive_write_close(writer), ARCHIVE_OK) << ErrorOf(writer);
  archive_write_free(writer);

  const Reading reading = ReadArchive(Write("secret.zip", out));
  EXPECT_EQ(reading.reason.rfind("secret.d88: ", 0), 0u) << reading.reason;
  EXPECT_GT(reading.reason.size(), std::string("secret.d88: ").size());
  EXPECT_TRUE(reading.members.empty());
}

TEST_F(ArchiveTest, NoArchiveGivesAReason) {
  DiskSpec disk = PlainDisk(4, 15);
  disk.name = "PK\x03\x04-lh5-";
  const Bytes image = BuildImage({disk});
  const struct {
    const char* label;
    std::string path;
  } kCases[] = {
      {"missing file", (dir_ / "missing.zip").u8string()},
      {"a folder", dir_.u8string()},
      {"a D88 image", Write("image.d88", image)},
      {"an empty file", Write("empty.zip", {})},
  };
  for (const auto& item : kCases) {
    SCOPED_TRACE(item.label);
    const Reading reading = ReadArchive(item.path);
    EXPECT_NE(reading.reason, "");
    EXPECT_TRUE(reading.members.empty());
  }
}

// Bytes in memory whose reads fail from `failAt` on, as a file on a failing
// disk does: the bytes before it come, then an error.
class FailingSource : public ByteSource {
 public:
  FailingSource(Bytes bytes, std::size_t failAt) : bytes_(std::move(bytes)), failAt_(failAt) {}

  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  int Error() const override { return error_; }

  std::size_t ReadAt(std::int64_t offset, unsigned char* dest, std::size_t length) override {
    if (offset < 0 || static_cast<std::size_t>(offset) >= bytes_.size()) {
      return 0;
    }
    const auto start = static_cast<std::size_t>(offset);
    std::size_t count = std::min(length, bytes_.size() - start);
    if (start + count > failAt_) {
      count = start < failAt_ ? failAt_ - start : 0;
      error_ = EIO;
    }
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(start), count, dest);
    return count;
  }

 private:
  Bytes bytes_;
  std::size_t failAt_;
  int error_ = 0;
};

TEST_F(ArchiveTest, ReadErrorsGiveAReason) {
  // A source that cannot be read at its start is no archive read; one that
  // fails partway stops the reading there, with the members before whole.
  const std::vector<Entry> entries = {{"first.d88", Pattern(40000, 32)},
                                      {"second.d88", Pattern(60000, 33)}};
  const std::string kCannotRead = "the archive file cannot be read";
  for (const Writer* kind : {&kZip, &kUstar, &kTarGz, &kSevenZip}) {
    const Bytes file = WriteArchive(*kind, entries);
    for (const std::size_t failAt : {std::size_t{0}, file.size() / 2, file.size() - 1}) {
      SCOPED_TRACE(std::string(kind->label) + " failing at " + std::to_string(failAt) + " of " +
                   std::to_string(file.size()));
      FailingSource source(file, failAt);
      const Reading reading = ReadSource(source, std::string("failing") + kind->suffix);
      if (failAt == 0) {
        EXPECT_EQ(reading.reason, kCannotRead);
      } else {
        ASSERT_GE(reading.reason.size(), kCannotRead.size());
        EXPECT_EQ(reading.reason.substr(reading.reason.size() - kCannotRead.size()), kCannotRead);
      }
      EXPECT_LT(reading.members.size(), entries.size());
      ExpectAPrefixOf(reading, entries);
    }
  }
}

// ---------------------------------------------------------------------------
// The member size cap

// The cap the tests give, small enough that members around it are cheap to
// write; the tool's own is kMaxImageBytes, and the reader holds any cap alike.
constexpr std::uint64_t kSmallCap = std::uint64_t{64} << 10;

TEST_F(ArchiveTest, MembersAboveTheCapAreNotRead) {
  const std::size_t cap = static_cast<std::size_t>(kSmallCap);
  Bytes big(cap + 1, 0xE5);  // a blank disk's filler, compressing well
  big[cap / 2] = 1;
  Bytes exact = big;
  exact.resize(cap);
  const Bytes small = Pattern(1000, 16);

  // In archives, the size each member's header gives: the big member is
  // not read, the members after it still are.
  for (const Writer* kind : {&kZip, &kSevenZip, &kTarGz}) {
    SCOPED_TRACE(kind->label);
    const Reading reading = ReadArchive(
        Write(std::string("big") + kind->suffix,
              WriteArchive(*kind, {{"big.d88", big}, {"exact.d88", exact}, {"small.d88", small}})),
        kSmallCap);
    EXPECT_EQ(reading.reason, "");
    ASSERT_EQ(reading.members.size(), 3u);
    EXPECT_EQ(reading.members[0].name, "big.d88");
    EXPECT_TRUE(reading.members[0].tooLarge);
    EXPECT_TRUE(reading.members[0].bytes.empty());
    EXPECT_FALSE(reading.members[1].tooLarge);
    EXPECT_TRUE(reading.members[1].bytes == exact);
    EXPECT_FALSE(reading.members[2].tooLarge);
    EXPECT_TRUE(reading.members[2].bytes == small);
  }

  // A compressed file tells no size: reading stops one byte past the cap.
  Reading reading = ReadArchive(Write("big.d88.gz", WriteArchive(kGz, {{"data", big}})), kSmallCap);
  EXPECT_EQ(reading.reason, "");
  ASSERT_EQ(reading.members.size(), 1u);
  EXPECT_EQ(reading.members[0].name, "big.d88");
  EXPECT_TRUE(reading.members[0].tooLarge);
  EXPECT_TRUE(reading.members[0].bytes.empty());

  reading = ReadArchive(Write("exact.d88.gz", WriteArchive(kGz, {{"data", exact}})), kSmallCap);
  EXPECT_EQ(reading.reason, "");
  ASSERT_EQ(reading.members.size(), 1u);
  EXPECT_FALSE(reading.members[0].tooLarge);
  EXPECT_TRUE(reading.members[0].bytes == exact);
}

// Members whose first bytes say they may be large (flux dumps, here those
// that start with "FLUX") have a cap of their own, and go to the spool rather
// than memory; where there is no spool (the web page), into memory up to
// that cap. The others keep the small cap, and the members after a large one
// are read as ever.
TEST_F(ArchiveTest, LargeMembersGoToTheSpool) {
  const std::size_t cap = static_cast<std::size_t>(kSmallCap);
  Bytes large = Pattern(3 * cap, 40);
  std::copy_n("FLUX", 4, large.begin());
  Bytes tooLarge = Pattern(5 * cap, 41);
  std::copy_n("FLUX", 4, tooLarge.begin());
  const Bytes sector = Pattern(2 * cap, 42);
  const Bytes small = Pattern(100, 43);
  LargeMembers rule;
  rule.mayBeLarge = [](const unsigned char* head, std::size_t length) {
    return length >= 4 && std::equal(head, head + 4, "FLUX");
  };
  rule.cap = 4 * kSmallCap;
  const std::vector<Entry> entries = {
      {"large.scp", large}, {"too.scp", tooLarge}, {"sector.d88", sector}, {"small.d88", small}};
  for (const Writer* kind : {&kZip, &kTarGz}) {
    for (const bool spooled : {true, false}) {
      SCOPED_TRACE(std::string(kind->label) + (spooled ? ", a spool" : ", no spool"));
      Spool spool;
      rule.spool = spooled ? &spool : nullptr;
      const std::unique_ptr<ByteSource> source = MemorySource(WriteArchive(*kind, entries));
      std::vector<std::pair<std::string, Bytes>> read;
      std::vector<std::uint64_t> capsPassed;
      const std::string reason = ForEachMember(
          *source, "large.zip",
          [&](ArchiveMember& member) {
            if (member.tooLarge) {
              capsPassed.push_back(member.cap);
              return;
            }
            EXPECT_EQ(member.source != nullptr, spooled && member.name == "large.scp");
            Bytes bytes = member.bytes;
            if (member.source) {
              EXPECT_TRUE(member.bytes.empty());
              ASSERT_TRUE(ReadWhole(*member.source, kMaxFluxBytes, bytes));
            }
            read.emplace_back(member.name, bytes);
          },
          kSmallCap, &rule);
      EXPECT_EQ(reason, "");
      ASSERT_EQ(read.size(), 2U);
      EXPECT_EQ(read[0].first, "large.scp");
      EXPECT_TRUE(read[0].second == large);
      EXPECT_EQ(read[1].first, "small.d88");
      EXPECT_TRUE(read[1].second == small);
      EXPECT_EQ(capsPassed, (std::vector<std::uint64_t>{4 * kSmallCap, kSmallCap}));
    }
  }
}

void PutLe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

TEST_F(ArchiveTest, MemberClaimingMoreThanTheToolsCapIsNotRead) {
  // The tool's own cap, without 64 MiB of data: a ZIP whose first member's
  // headers (local and central) claim one byte past it. The reader goes by
  // the claim and reads none of its data; the next member is still read.
  const Bytes first = Pattern(3000, 30);
  const Bytes second = Pattern(2000, 31);
  Bytes file = WriteArchive(kZip, {{"big.d88", first}, {"next.d88", second}});
  const auto claim = static_cast<std::uint32_t>(kMaxImageBytes + 1);
  const struct {
    const char* signature;
    std::size_t sizeAt;  // the uncompressed size's offset in the header
  } kHeaders[] = {{"PK\x03\x04", 22}, {"PK\x01\x02", 24}};
  for (const auto& header : kHeaders) {
    const auto at = std::search(file.begin(), file.end(), header.signature, header.signature + 4);
    ASSERT_NE(at, file.end()) << header.signature;
    PutLe32(file, static_cast<std::size_t>(at - file.begin()) + header.sizeAt, claim);
  }
  const std::unique_ptr<ByteSource> source = MemorySource(file);
  const Reading reading = ReadSource(*source, "claims.zip");
  EXPECT_EQ(reading.reason, "");
  ASSERT_EQ(reading.members.size(), 2u);
  EXPECT_EQ(reading.members[0].name, "big.d88");
  EXPECT_TRUE(reading.members[0].tooLarge);
  EXPECT_TRUE(reading.members[0].bytes.empty());
  EXPECT_FALSE(reading.members[1].tooLarge);
  EXPECT_TRUE(reading.members[1].bytes == second);
}

TEST_F(ArchiveTest, MemberOfNoStatedSizeIsCappedAsItIsRead) {
  // A ZIP member streamed with no size in its local header (libarchive's
  // writer leaves it out when the entry has none), and the archive cut where
  // its central directory starts: the reader has only the data to go by, as
  // with a bomb whose headers lie. It stops one byte past the cap.
  const std::size_t cap = static_cast<std::size_t>(kSmallCap);
  Bytes out;
  archive* writer = archive_write_new();
  ASSERT_EQ(archive_write_set_format_zip(writer), ARCHIVE_OK);
  ASSERT_EQ(archive_write_open2(writer, &out, nullptr, Append, nullptr, nullptr), ARCHIVE_OK);
  archive_entry* entry = archive_entry_new();
  archive_entry_set_pathname(entry, "bomb.d88");
  archive_entry_set_filetype(entry, AE_IFREG);
  archive_entry_set_perm(entry, 0644);
  ASSERT_EQ(archive_write_header(writer, entry), ARCHIVE_OK) << ErrorOf(writer);
  const Bytes block(std::size_t{4} << 10, 0);
  for (std::size_t written = 0; written <= cap; written += block.size()) {
    ASSERT_EQ(archive_write_data(writer, block.data(), block.size()),
              static_cast<la_ssize_t>(block.size()));
  }
  archive_entry_free(entry);
  ASSERT_EQ(archive_write_close(writer), ARCHIVE_OK);
  archive_write_free(writer);

  const std::string directory = "PK\x01\x02";
  const auto at = std::search(out.begin(), out.end(), directory.begin(), directory.end());
  ASSERT_NE(at, out.end());
  const Reading reading = ReadArchive(Write("bomb.zip", Bytes(out.begin(), at)), kSmallCap);
  ASSERT_EQ(reading.members.size(), 1u) << reading.reason;
  EXPECT_EQ(reading.members[0].name, "bomb.d88");
  EXPECT_TRUE(reading.members[0].tooLarge);
  EXPECT_TRUE(reading.members[0].bytes.empty());
}

// ---------------------------------------------------------------------------
// Magic bytes

Bytes Head(const std::string& bytes, std::size_t size = 4096) {
  Bytes head(std::max(size, bytes.size()), 0);
  std::copy(bytes.begin(), bytes.end(), head.begin());
  return head;
}

// A tar header block for `name`, with its checksum field as given, or right.
Bytes TarHeader(const char* magic, int checksumChange = 0) {
  Bytes head = Head("image.d88", 512);
  std::copy_n("0000644", 8, head.begin() + 100);
  std::copy_n("00000001000", 12, head.begin() + 124);
  std::copy_n(magic, 8, head.begin() + 257);
  head[156] = '0';
  unsigned sum = 0;
  for (std::size_t i = 0; i < 512; ++i) {
    sum += i >= 148 && i < 156 ? ' ' : head[i];
  }
  sum += static_cast<unsigned>(checksumChange);
  const std::string field = [sum] {
    std::string octal;
    for (unsigned value = sum; octal.size() < 6; value /= 8) {
      octal.insert(octal.begin(), static_cast<char>('0' + value % 8));
    }
    return octal;
  }();
  std::copy(field.begin(), field.end(), head.begin() + 148);
  head[154] = '\0';
  head[155] = ' ';
  return head;
}

// The first header of an LZH archive: levels 0 and 1 with their size and
// header sum (off by `sumChange`), levels 2 and 3 with 0x20 at 19.
Bytes Lzh(const char* method, std::uint8_t level, int sumChange = 0,
          std::uint8_t attribute = 0x20) {
  Bytes head =
      Head(std::string("\x00\x00", 2) + method + std::string(14, '\0') + "\x08TEST.D88", 64);
  head[19] = attribute;
  head[20] = level;
  if (level >= 2) {
    head[0] = 40;  // the whole header's size, little-endian
    return head;
  }
  head[0] = 30;  // bytes 2..31: up to the name's end and its CRC
  unsigned sum = 0;
  for (std::size_t i = 2; i < 32; ++i) {
    sum += head[i];
  }
  head[1] = static_cast<std::uint8_t>(sum + static_cast<unsigned>(sumChange));
  return head;
}

TEST(ArchiveFormatTest, EachMagicNamesItsFormat) {
  const struct {
    const char* label;
    Bytes head;
    const char* expected;
  } kCases[] = {
      {"zip member, stored", Head("PK\x03\x04\x0A\x00\x00\x00\x00\x00"s), "ZIP"},
      {"zip member, deflate", Head("PK\x03\x04\x14\x00\x08\x00\x08\x00"s), "ZIP"},
      {"zip member, AES", Head("PK\x03\x04\x33\x00\x01\x00\x63\x00"s), "ZIP"},
      {"zip split mark, then a member", Head("PK\x07\x08PK\x03\x04\x14\x00\x00\x00\x08"s), "ZIP"},
      {"zip old split mark, then a member", Head("PK00PK\x03\x04\x14\x00\x00\x00\x08"s), "ZIP"},
      {"empty zip", Head(std::string("PK\x05\x06", 4), 22), "ZIP"},
      {"lzh -lh5- level 0", Lzh("-lh5-", 0), "LZH"},
      {"lzh -lh5- level 0, MS-DOS attribute 0", Lzh("-lh5-", 0, 0, 0), "LZH"},
      {"lzh -lh0- level 1", Lzh("-lh0-", 1), "LZH"},
      {"lzh -lh7- level 2", Lzh("-lh7-", 2), "LZH"},
      {"lzh -lhd- level 2", Lzh("-lhd-", 2), "LZH"},
      {"lzh -lzs- level 0", Lzh("-lzs-", 0), "LZH"},
      {"lzh -lz4- level 0", Lzh("-lz4-", 0), "LZH"},
      {"lzh -lz5- level 0", Lzh("-lz5-", 0), "LZH"},
      {"7z", Head("7z\xBC\xAF\x27\x1C\x00\x04"s), "7-Zip"},
      {"rar 4", Head(std::string("Rar!\x1A\x07\x00", 7)), "RAR"},
      {"rar 5", Head(std::string("Rar!\x1A\x07\x01\x00", 8)), "RAR"},
      {"posix tar",
       TarHeader("ustar\0"
                 "00"),
       "tar"},
      {"gnu tar", TarHeader("ustar  \0"), "tar"},
      {"gzip", Head("\x1F\x8B\x08\x00"s), "gzip"},
      {"bzip2", Head("BZh91AY&SY"s), "bzip2"},
      {"empty bzip2", Head("BZh1\x17\x72\x45\x38\x50\x90"s), "bzip2"},
      {"xz",
       Head(std::string("\xFD"
                        "7zXZ\x00",
                        6)),
       "xz"},
  };
  for (const auto& item : kCases) {
    SCOPED_TRACE(item.label);
    EXPECT_STREQ(ArchiveFormat(item.head.data(), item.head.size()), item.expected);
  }
}

TEST(ArchiveFormatTest, NearMissesAreNoArchive) {
  const struct {
    const char* label;
    Bytes head;
  } kCases[] = {
      {"zip other record", Head("PK\x01\x02"s)},
      {"zip unknown method", Head("PK\x03\x04\x14\x00\x00\x00\x07\x00"s)},
      {"zip method past 255", Head("PK\x03\x04\x14\x00\x00\x00\x08\x01"s)},
      {"zip end record with members", Head("PK\x05\x06\x00\x00\x00\x00\x01\x00\x01"s)},
      {"zip split mark alone", Head("PK\x07\x08"s)},
      {"lzh unknown method", Lzh("-lh8-", 0)},
      {"lzh unknown family", Lzh("-lx5-", 0)},
      {"lzh header level 4", Lzh("-lh5-", 4)},
      {"lzh level 0 sum one off", Lzh("-lh5-", 0, 1)},
      {"lzh level 1 sum one off", Lzh("-lh5-", 1, -1)},
      {"lzh level 2 without attribute 0x20", Lzh("-lh5-", 2, 0, 0)},
      {"lzh -lzs- level 1", Lzh("-lzs-", 1)},
      {"lzh -lhs-", Lzh("-lhs-", 0)},
      {"lzh method at 0", Head("-lh5-"s)},
      {"7z short of its signature", Head("7z\xBC\xAF\x27\x1D"s)},
      {"rar 4 without its last byte", Head("Rar!\x1A\x07\x02"s)},
      {"tar checksum one off", TarHeader("ustar\0"
                                         "00",
                                         1)},
      {"tar without magic", TarHeader("\0\0\0\0\0\0\0\0")},
      {"gzip other method", Head("\x1F\x8B\x07"s)},
      {"bzip2 level 0", Head("BZh01AY&SY"s)},
      {"bzip2 without block magic", Head("BZh9hello!"s)},
      {"xz without its NUL", Head("\xFD"
                                  "7zXZ\x01"s)},
      {"zeros", Head(""s)},
  };
  for (const auto& item : kCases) {
    SCOPED_TRACE(item.label);
    EXPECT_EQ(ArchiveFormat(item.head.data(), item.head.size()), nullptr);
  }
}

TEST(ArchiveFormatTest, ShortHeadsAreNoArchive) {
  // Every magic cut short of its last byte, read from a buffer of exactly
  // that length (AddressSanitizer sees a read past it).
  const std::string kMagics[] = {
      std::string("PK\x03\x04\x14\x00\x00\x00\x08\x00", 10) + std::string(20, '\0'),
      std::string("PK\x05\x06", 4) + std::string(18, '\0'),
      std::string("\x24\x00-lh5-\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                  "\x20\x02\x00",
                  22),
      "7z\xBC\xAF\x27\x1C",
      std::string("Rar!\x1A\x07\x00", 7),
      std::string("Rar!\x1A\x07\x01\x00", 8),
      "\x1F\x8B\x08",
      "BZh91AY&SY",
      std::string("\xFD"
                  "7zXZ\x00",
                  6)};
  for (const std::string& magic : kMagics) {
    SCOPED_TRACE(magic);
    const Bytes whole(magic.begin(), magic.end());
    EXPECT_NE(ArchiveFormat(whole.data(), whole.size()), nullptr);
    for (std::size_t length = 0; length < magic.size(); ++length) {
      const Bytes cut(magic.begin(), magic.begin() + static_cast<std::ptrdiff_t>(length));
      EXPECT_EQ(ArchiveFormat(cut.data(), cut.size()), nullptr) << length;
    }
  }
  const Bytes tar = TarHeader(
      "ustar\0"
      "00");
  EXPECT_EQ(ArchiveFormat(tar.data(), 511), nullptr);
  EXPECT_EQ(ArchiveFormat(nullptr, 4096), nullptr);
}

TEST(ArchiveFormatTest, DiskImagesAreNoArchive) {
  // Built images, one with a name that starts like a ZIP member and holds an
  // LZH method where one would be; and the real image in tests/data.
  DiskSpec zipLike = PlainDisk(10, 17);
  zipLike.name = std::string("PK\x03\x04-lh5-\x00", 10);
  DiskSpec lzhLike = PlainDisk(10, 18);
  lzhLike.name = std::string("\x24\x00-lh5-", 7);
  std::vector<Bytes> images = {BuildImage({PlainDisk(80, 19)}), BuildImage({zipLike}),
                               BuildImage({lzhLike}), BuildImage({PlainDisk(2, 20), zipLike})};
  std::ifstream in(fs::u8path(ZEFACUT_TEST_DATA "/hubasic-2d-blank.d88"), std::ios::binary);
  images.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(images.back().size(), 348848u);
  for (const Bytes& image : images) {
    const Bytes head = HeadOf(image);
    EXPECT_EQ(ArchiveFormat(head.data(), head.size()), nullptr);
  }
}

TEST(ArchiveFormatTest, RandomBytesAreNoArchive) {
  // The same bytes on every run and system: a 64-bit linear congruential
  // sequence, its top byte taken.
  std::uint64_t state = 20240601;
  Bytes head(4096);
  for (int trial = 0; trial < 2000; ++trial) {
    for (std::uint8_t& byte : head) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      byte = static_cast<std::uint8_t>(state >> 56);
    }
    EXPECT_EQ(ArchiveFormat(head.data(), head.size()), nullptr) << "trial " << trial;
  }
}

TEST(ArchiveFormatTest, ThisBuildReadsArchives) { EXPECT_TRUE(ArchivesRead()); }

// libarchive's error numbers come as words: zlib's for data cut short or
// damaged as those words, any other left out, messages without one as they
// are.
TEST(ArchiveErrorWordsTest, NumbersBecomeWords) {
  const struct {
    const char* message;
    const char* words;
  } kCases[] = {
      {"ZIP decompression failed (-5)", "the ZIP data is cut short"},
      {"ZIP decompression failed (-3)", "the ZIP data is damaged"},
      {"ZIP decompression failed (-2)", "ZIP decompression failed"},
      {"Decompression failed(-5)", "the data is cut short"},
      {"lzma data error (error 9)", "lzma data error"},
      {"Truncated ZIP file data", "Truncated ZIP file data"},
      {"the gzip data is cut short", "the gzip data is cut short"},
      {"Damaged tar archive (header)", "Damaged tar archive (header)"},
      {"()", "()"},
      {"(-)", "(-)"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ErrorInWords(c.message), c.words) << c.message;
  }
}

}  // namespace

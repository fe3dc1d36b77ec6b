#include "support/archive_writer.h"

#include <archive.h>
#include <archive_entry.h>

namespace {

la_ssize_t Append(archive* /*writer*/, void* data, const void* buffer, size_t length) {
  auto* out = static_cast<Bytes*>(data);
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  out->insert(out->end(), bytes, bytes + length);
  return static_cast<la_ssize_t>(length);
}

}  // namespace

Bytes BuildArchive(ArchiveKind kind, const std::vector<std::pair<std::string, Bytes>>& members) {
  Bytes out;
  archive* writer = archive_write_new();
  switch (kind) {
    case ArchiveKind::kZip:
      archive_write_set_format_zip(writer);
      break;
    case ArchiveKind::kSevenZip:
      archive_write_set_format_7zip(writer);
      break;
    case ArchiveKind::kTarGz:
      archive_write_set_format_pax_restricted(writer);
      archive_write_add_filter_gzip(writer);
      break;
    case ArchiveKind::kGzip:
      archive_write_set_format_raw(writer);
      archive_write_add_filter_gzip(writer);
      break;
  }
  archive_write_set_bytes_in_last_block(writer, 1);
  if (archive_write_open2(writer, &out, nullptr, Append, nullptr, nullptr) != ARCHIVE_OK) {
    archive_write_free(writer);
    return {};
  }
  for (const auto& [name, bytes] : members) {
    archive_entry* entry = archive_entry_new();
    archive_entry_update_pathname_utf8(entry, name.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(bytes.size()));
    archive_write_header(writer, entry);
    if (!bytes.empty()) {
      archive_write_data(writer, bytes.data(), bytes.size());
    }
    archive_entry_free(entry);
    if (kind == ArchiveKind::kGzip) {
      break;
    }
  }
  archive_write_close(writer);
  archive_write_free(writer);
  return out;
}

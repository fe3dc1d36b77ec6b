#include "d88info/listing.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "cutter/recognition.h"

namespace {

// A track's sector count is a 16-bit field, so no listing that follows the
// count is longer; ReadSectorIds stops at the room given otherwise.
constexpr int kMaxSectorIds = 65535;

// printf-style formatting into a string.
template <typename... Args>
std::string Format(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length <= 0) {
    return std::string();
  }
  std::string text(static_cast<std::size_t>(length), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

// A 32-bit field as the unsigned value it holds, in decimal and hex.
std::string Number(std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  return Format("%lu (0x%lX)", static_cast<unsigned long>(bits), static_cast<unsigned long>(bits));
}

bool IsPrintable(unsigned char byte) { return byte >= 0x20 && byte <= 0x7E; }

// The disk name as a quoted string; bytes that are not printable ASCII, the
// quote and the backslash as C escapes.
std::string QuotedName(const char* name) {
  std::string out = "\"";
  for (const char* p = name; *p != '\0'; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (IsPrintable(byte)) {
      out += static_cast<char>(byte);
    } else {
      out += Format("\\x%02X", byte);
    }
  }
  return out + "\"";
}

std::string SectorId(const unsigned char* id) {
  return Format("C%u H%u R%u N%u", id[0], id[1], id[2], id[3]);
}

// "C0 H1 R1-8 N3" for a plain run (one C, H and N, R counting up by one),
// every ID in full otherwise.
std::string TrackIds(const unsigned char* ids, std::size_t count) {
  bool plain = count > 0;
  for (std::size_t i = 1; i < count && plain; ++i) {
    const unsigned char* id = ids + 4 * i;
    plain = id[0] == ids[0] && id[1] == ids[1] && id[3] == ids[3] &&
            static_cast<std::size_t>(id[2]) == ids[2] + i;
  }
  if (plain && count > 1) {
    return Format("C%u H%u R%u-%u N%u", ids[0], ids[1], ids[2], ids[4 * (count - 1) + 2], ids[3]);
  }
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) {
      out += ", ";
    }
    out += SectorId(ids + 4 * i);
  }
  return out;
}

void ListTracks(D88Image& image, const std::function<void(const std::string&)>& emit) {
  std::vector<unsigned char> ids(static_cast<std::size_t>(kMaxSectorIds) * 4);
  for (int track = 0; track < D88Image::kMaxTracks; ++track) {
    const std::int32_t offset = image.TrackOffset(track);
    if (offset == 0) {
      continue;
    }
    if (offset < 0 || offset > image.DiskSize()) {
      emit(Format("  track %d: offset %s lies outside the disk", track, Number(offset).c_str()));
      continue;
    }
    const int count = image.ReadSectorIds(track, ids.data(), static_cast<int>(ids.size())) / 4;
    std::string line = Format("  track %d: %d sector%s", track, count, count == 1 ? "" : "s");
    if (count > 0) {
      line += ": " + TrackIds(ids.data(), static_cast<std::size_t>(count));
    }
    emit(line);
  }
}

// Bytes [from, from + length) of a sector that holds `size` bytes, as text
// (printable ASCII, a dot for anything else) and as hex.
void ShowBytes(const unsigned char* sector, int size, int from, int length,
               const std::function<void(const std::string&)>& emit) {
  std::string text;
  std::string hex;
  for (int i = from; i < from + length && i < size; ++i) {
    text += IsPrintable(sector[i]) ? static_cast<char>(sector[i]) : '.';
    hex += Format(i == from ? "%02X" : " %02X", sector[i]);
  }
  emit("    text |" + text + "|");
  emit("    hex  " + hex);
}

// A signature sector as zefacut reads it, and the bytes it compares.
void ShowSignatureSector(D88Image& image, const char* what, const SectorAddress& at, int from,
                         int length, const std::function<void(const std::string&)>& emit) {
  std::vector<unsigned char> sector(kSignatureSectorSize);
  const int got =
      image.ReadSector(at.track, at.c, at.h, at.r, at.n, sector.data(), kSignatureSectorSize);
  std::string line =
      Format("  %s, track %d C%d H%d R%d N%d", what, at.track, at.c, at.h, at.r, at.n);
  if (got == 0) {
    emit(line + ": not found");
    return;
  }
  if (got < kSignatureSectorSize) {
    line += Format(": only %d of %d bytes", got, kSignatureSectorSize);
    if (got <= from) {
      emit(line);
      return;
    }
  }
  emit(line + Format(", bytes %d-%d:", from, from + length - 1));
  ShowBytes(sector.data(), got, from, length, emit);
}

void ListVerdict(D88Image& image, const std::function<void(const std::string&)>& emit) {
  std::vector<unsigned char> buffer(kSignatureSectorSize);
  const DiskKind kind = RecogniseDisk(image, buffer.data());
  if (kind != DiskKind::Unsupported) {
    emit(Format("  zefacut: recognises %s %s", KnownDiskTitle(kind), KnownDiskName(kind)));
    return;
  }
  emit("  zefacut: unsupported");
  ShowSignatureSector(image, "identification sector", kIdentificationSector,
                      kIdentificationSignatureOffset, kIdentificationSignatureLength, emit);
  ShowSignatureSector(image, "boot sector", kBootSector, kBootLabelOffset, kBootLabelLength, emit);
}

}  // namespace

const char* MediaTypeName(int mediaType) {
  switch (mediaType) {
    case 0x00:
      return "2D";
    case 0x10:
      return "2DD";
    case 0x20:
      return "2HD";
    case 0x30:
      return "1D";
    case 0x40:
      return "1DD";
    default:
      return "unknown";
  }
}

void ListImage(D88Image& image, const std::function<void(const std::string&)>& emit) {
  const int disks = image.DiskCount();
  emit(Format("disks: %d", disks));
  for (int disk = 0; disk < disks; ++disk) {
    emit("");
    emit(Format("disk %d", disk));
    if (!image.SelectDisk(disk)) {
      emit("  header cannot be read");
      continue;
    }
    image.SetSectorRange(1, 8);
    emit("  offset: " + Number(image.DiskOffset()));
    emit("  size: " + Number(image.DiskSize()));
    emit("  name: " + QuotedName(image.DiskName()));
    emit(Format("  media: 0x%02X (%s)", static_cast<unsigned>(image.MediaType()),
                MediaTypeName(image.MediaType())));
    ListTracks(image, emit);
    ListVerdict(image, emit);
  }
}

#include "run/listing.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "formats/d88_image.h"
#include "known/cut_reading.h"
#include "known/known_disks.h"
#include "known/recognition.h"
#include "platform/text_form.h"

namespace {

// printf-style formatting into a string.
// The compiler checks every format against its arguments.
#if defined(__MINGW32__)
__attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
Format(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): printf-checked
  va_list args;
  va_start(args, format);
  // The analyzer loses track of va_start across calls here.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (length > 0) {
    text.assign(static_cast<std::size_t>(length), '\0');
    va_start(args, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
  }
  return text;
}

// A 32-bit field as the unsigned value it holds, in decimal and hex.
std::string Number(std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  return Format("%lu (0x%lX)", static_cast<unsigned long>(bits), static_cast<unsigned long>(bits));
}

bool IsPrintable(unsigned char byte) { return byte >= 0x20 && byte <= 0x7E; }

// The disk name as a quoted string: read as Shift-JIS, in which the disks'
// own tools wrote it, with the quote escaped and everything ShownName escapes
// (bytes that make no character as \xNN). A backslash stays: in Shift-JIS
// it may be the second byte of a character.
std::string QuotedName(const std::string& name) {
  std::string out = "\"";
  std::size_t from = 0;
  for (std::size_t quote = name.find('"'); quote != std::string::npos;
       quote = name.find('"', from)) {
    out += ShownShiftJisName(name.substr(from, quote - from)) + "\\\"";
    from = quote + 1;
  }
  return out + ShownShiftJisName(name.substr(from)) + "\"";
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

// A data rate in kbit/s: "250", or "416.7" for one of no whole kbit/s.
std::string RateText(std::uint32_t rate) {
  constexpr std::uint32_t kPerKilo = 1000;
  return rate % kPerKilo == 0 ? Format("%u", static_cast<unsigned>(rate / kPerKilo))
                              : Format("%.1f", static_cast<double>(rate) / kPerKilo);
}

// A standard disk read in a drive of the other speed gives a rate of its
// own; it is named with the disk it comes from when the drive turned at that
// speed (or no speed was measured).
std::string OtherSpeedNote(std::uint32_t rate, double rpm) {
  const struct {
    std::uint32_t rate;
    double driveRpm;
    const char* note;
  } kOtherSpeeds[] = {
      {416667, 300, " (a 500 kbit/s disk at 360 rpm, read at 300 rpm)"},
      {300000, 360, " (a 250 kbit/s disk at 300 rpm, read at 360 rpm)"},
  };
  constexpr double kSpeedShare = 0.05;
  for (const auto& other : kOtherSpeeds) {
    const bool nearSpeed =
        rpm == 0 || std::fabs(rpm - other.driveRpm) <= kSpeedShare * other.driveRpm;
    // cppcheck-suppress useStlAlgorithm ; a loop reads as plainly
    if (rate == other.rate && nearSpeed) {
      return other.note;
    }
  }
  return {};
}

// How a track read from flux was read: "    flux: 3 revolutions, 250 kbit/s,
// 300.0 rpm; every sector read well in 3 of 3", or each sector's count when
// they differ (with "(recovered from 3 bad reads)" for a sector whose bad
// reads agree on bytes that pass its CRC); then each fault of the dump's
// records.
void ListFluxReading(const Track& track, const std::function<void(const std::string&)>& emit) {
  const TrackReading& reading = *track.Reading();
  std::string line = Format("    flux: %d revolution%s, ", reading.revolutions,
                            reading.revolutions == 1 ? "" : "s") +
                     RateText(reading.dataRate) + " kbit/s" +
                     OtherSpeedNote(reading.dataRate, reading.rpm) +
                     Format(", %.1f rpm", reading.rpm);
  const std::vector<Sector>& sectors = track.Sectors();
  const bool allWell = std::all_of(sectors.begin(), sectors.end(), [](const Sector& sector) {
    return sector.revolutionsGood == sector.revolutions;
  });
  if (sectors.empty()) {
    line += "; no sector found" + (reading.unread.empty() ? "" : " (" + reading.unread + ")");
  } else if (allWell && reading.revolutions > 0 &&
             sectors.front().revolutions == static_cast<unsigned>(reading.revolutions)) {
    line +=
        Format("; every sector read well in %d of %d", reading.revolutions, reading.revolutions);
  } else {
    line += "; read well:";
    for (const Sector& sector : sectors) {
      line += Format("%s R%u %u/%u", &sector == &sectors.front() ? "" : ",", sector.id.r,
                     sector.revolutionsGood, sector.revolutions);
      if (sector.recoveredFrom > 0) {
        line += Format(" (recovered from %u bad read%s)", sector.recoveredFrom,
                       sector.recoveredFrom == 1 ? "" : "s");
      }
    }
  }
  emit(line);
  for (const std::string& fault : reading.faults) {
    emit("    fault: " + fault);
  }
}

void ListTracks(const DiskListing& disk, const std::function<void(const std::string&)>& emit) {
  const DiskInfo& info = disk.info;
  std::vector<unsigned char> ids;
  for (const TrackListing& listing : disk.tracks) {
    const int track = listing.track;
    // Formats that record where each track lies say so for every index.
    const bool recorded = listing.location.has_value();
    const std::int64_t location = listing.location.value_or(0);
    if (recorded && location == 0) {
      continue;
    }
    const std::shared_ptr<const Track>& sectors = listing.read;
    if (!sectors) {
      if (recorded) {
        emit(Format("  track %d: offset %s lies outside the disk", track,
                    Number(static_cast<std::int32_t>(location)).c_str()));
      }
      continue;
    }
    const std::optional<TrackCutShort>& cut = sectors->CutShort();
    const std::optional<TrackReading>& reading = sectors->Reading();
    if (reading && reading->revolutions == 0 && sectors->Sectors().empty() && !cut &&
        !reading->unread.empty()) {
      // A track of a flux dump with no flux: why (a missing file).
      emit(Format("  track %d: ", track) + reading->unread);
      for (const std::string& fault : reading->faults) {
        emit("    fault: " + fault);
      }
      continue;
    }
    if (recorded && cut && sectors->Sectors().empty() && !cut->announced) {
      emit(Format("  track %d: offset %s lies past the end of the file", track,
                  Number(static_cast<std::int32_t>(location)).c_str()));
      continue;
    }
    ids.clear();
    std::string marks;
    std::string singleDensity;
    std::size_t singleCount = 0;
    bool cutShort = false;
    for (const Sector& sector : sectors->Sectors()) {
      ids.insert(ids.end(), {sector.id.c, sector.id.h, sector.id.r, sector.id.n});
      if (sector.singleDensity) {
        const unsigned char id[] = {sector.id.c, sector.id.h, sector.id.r, sector.id.n};
        singleDensity += (singleCount++ == 0 ? ": " : ", ") + SectorId(id);
      }
      if (sector.flags != 0) {
        const unsigned char id[] = {sector.id.c, sector.id.h, sector.id.r, sector.id.n};
        const auto marked = static_cast<SectorFlags>(sector.flags & ~kImageCheckFails);
        if (marked != 0) {
          marks += "; " + SectorId(id) + " marked as " + FlagWords(marked);
        }
        if ((sector.flags & kImageCheckFails) != 0) {
          marks += "; " + SectorId(id) + ": " + kImageCheckWords;
        }
      }
      cutShort = cutShort || sector.size < sector.recordedSize;
    }
    const std::size_t count = sectors->Sectors().size();
    std::string line =
        Format("  track %d: %d sector%s", track, static_cast<int>(count), count == 1 ? "" : "s");
    if (count > 0) {
      line += ": " + TrackIds(ids.data(), count);
    }
    // FM sectors: a whole track of them is said once, a few among MFM ones
    // are named.
    if (singleCount > 0) {
      line += "; single density (FM)" + (singleCount == count ? std::string() : singleDensity);
    }
    line += marks;
    if (cutShort || cut) {
      line += "; runs past the end of the file";
    }
    if (cut && cut->announced) {
      line += Format(", which holds %d of its %lu sectors", static_cast<int>(count),
                     static_cast<unsigned long>(*cut->announced));
    }
    const std::optional<TrackExtent>& extent = sectors->Extent();
    if (extent && info.sizeField && *info.sizeField != 0 &&
        extent->end > info.offset + *info.sizeField) {
      line += "; runs past the disk's size";
    }
    emit(line);
    if (sectors->Reading()) {
      ListFluxReading(*sectors, emit);
    }
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

void ShowSignatureSector(const char* what, const SignatureRead& read,
                         const std::function<void(const std::string&)>& emit) {
  const SectorAddress& at = read.at;
  std::string line =
      Format("  %s, track %d C%u H%u R%u N%u", what, at.track, at.id.c, at.id.h, at.id.r, at.id.n);
  if (read.got == 0) {
    emit(line + ": not found");
    return;
  }
  if (read.got < kSignatureSectorSize) {
    line += Format(": only %d of %d bytes", read.got, kSignatureSectorSize);
    if (read.got <= read.from) {
      emit(line);
      return;
    }
  }
  emit(line + Format(", bytes %d-%d:", read.from, read.from + read.length - 1));
  ShowBytes(read.sector.data(), read.got, read.from, read.length, emit);
}

// The same as a JSON object: where the sector is, how much of it was read,
// and the bytes compared that could be, as hex and as text.
std::string SignatureJson(const SignatureRead& read) {
  const SectorAddress& at = read.at;
  std::string hex;
  std::string text;
  for (int i = read.from; i < read.ShownEnd(); ++i) {
    const unsigned char byte = read.sector[static_cast<std::size_t>(i)];
    hex += Format(i == read.from ? "%02X" : " %02X", byte);
    text += IsPrintable(byte) ? static_cast<char>(byte) : '.';
  }
  return Format(
             "{\"track\": %d, \"c\": %u, \"h\": %u, \"r\": %u, \"n\": %u, \"found\": %s, "
             "\"read\": %d, \"from\": %d, \"length\": %d, \"hex\": ",
             at.track, at.id.c, at.id.h, at.id.r, at.id.n, read.got > 0 ? "true" : "false",
             read.got, read.from, read.length) +
         JsonString(hex) + ", \"text\": " + JsonString(text) + "}";
}

// What the verdict's signature lines call each sector.
const char* SignatureSectorName(const SignatureRead& read) {
  return read.at.track == kBootSector.track ? "boot sector" : "identification sector";
}

void ListVerdict(const Verdict& verdict, const std::function<void(const std::string&)>& emit) {
  if (verdict.known != nullptr) {
    emit(Format("  zefacut: recognises %s %s", verdict.known->title, verdict.known->disk));
    // What the tool would warn of when it cuts this disk.
    if (!verdict.signatureNote.empty()) {
      emit("    signature: " + verdict.signatureNote);
    }
    for (const FileNoteListing& note : verdict.notes) {
      emit("    " + note.file + ": " + note.note);
    }
    return;
  }
  emit("  zefacut: unsupported");
  for (const SignatureRead& read : verdict.evidence) {
    ShowSignatureSector(SignatureSectorName(read), read, emit);
  }
}

}  // namespace

Geometry GeometryOf(const std::vector<TrackListing>& listed) {
  int tracks = 0;
  int lastTrack = 0;
  int heads = 1;
  std::map<std::size_t, int> counts;
  std::map<std::size_t, int> sizes;
  for (const TrackListing& listing : listed) {
    const int track = listing.track;
    const std::shared_ptr<const Track>& sectors = listing.read;
    if (!sectors || sectors->Sectors().empty()) {
      continue;
    }
    ++tracks;
    lastTrack = track;
    heads = track % 2 == 1 ? 2 : heads;
    ++counts[sectors->Sectors().size()];
    for (const Sector& sector : sectors->Sectors()) {
      ++sizes[NominalSize(sector.id.n)];
    }
  }
  if (tracks == 0) {
    return {};
  }
  const auto commonest = [](const std::map<std::size_t, int>& tally) {
    return std::max_element(tally.begin(), tally.end(),
                            [](const auto& a, const auto& b) { return a.second < b.second; })
        ->first;
  };
  const std::size_t count = commonest(counts);
  const std::size_t size = commonest(sizes);
  // A 2HD track holds 6.5 KiB or more (26 x 256 on 8-inch disks up to
  // 18 x 512); double-density disks have 40 or 80 cylinders.
  constexpr std::size_t kHighDensityTrack = 6656;
  const char* kind = count * size >= kHighDensityTrack ? "2HD" : tracks > 100 ? "2DD" : "2D";
  return {tracks, static_cast<int>(count), static_cast<int>(size), kind, lastTrack / 2 + 1, heads};
}

// "77 cylinders, 2 heads, 8 sectors of 1024 bytes", leaving out what is not
// known.
std::string ShapeText(std::optional<int> cylinders, std::optional<int> heads,
                      std::optional<int> sectors, std::optional<int> size) {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  if (cylinders) {
    add(Format("%d cylinder%s", *cylinders, *cylinders == 1 ? "" : "s"));
  }
  if (heads) {
    add(Format("%d head%s", *heads, *heads == 1 ? "" : "s"));
  }
  if (sectors) {
    add(Format("%d sector%s", *sectors, *sectors == 1 ? "" : "s") +
        (size ? Format(" of %d bytes", *size) : std::string()));
  } else if (size) {
    add(Format("sectors of %d bytes", *size));
  }
  return text;
}

// The geometry the tracks show, beside what the header claims where the
// format's header claims one.
std::string GeometryLine(const DiskListing& disk) {
  const DiskInfo& info = disk.info;
  const Geometry& found = disk.geometry;
  std::string line = "  geometry: ";
  line += found.tracks == 0 ? std::string("no sectors")
                            : ShapeText(found.cylinders, found.heads, found.sectors, found.size);
  const ClaimedGeometry& claimed = info.claimed;
  const std::string claims =
      ShapeText(claimed.cylinders, claimed.heads, claimed.sectorsPerTrack, claimed.sectorSize);
  if (!claims.empty()) {
    line += "; the header claims " + claims;
  }
  return line;
}

std::string GeometryText(const Geometry& geometry) {
  if (geometry.tracks == 0) {
    return "tracks: none";
  }
  return Format("tracks: %d x %d x %d (%s)", geometry.tracks, geometry.sectors, geometry.size,
                geometry.kind);
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const Utf8Step step = NextUtf8(text, at);
    const char32_t code = step.code;
    if (!step.valid) {
      // JSON holds characters, not bytes: a byte that makes none is written
      // as zefacut's lines show it.
      out += Format("\\\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(text[at])));
    } else if (code == '"' || code == '\\') {
      out += '\\';
      out += static_cast<char>(code);
    } else if (ActsOnText(code)) {
      out += Format("\\u%04X", static_cast<unsigned>(code));
    } else {
      out.append(text, at, step.length);
    }
    at += step.length;
  }
  return out + "\"";
}

std::string JsonFlags(SectorFlags flags) {
  std::string out = "[";
  for (const std::string& name : FlagNames(flags)) {
    out += (out.size() > 1 ? "," : "") + JsonString(name);
  }
  return out + "]";
}

template <typename T>
std::string JsonOptional(const std::optional<T>& value) {
  return value ? std::to_string(*value) : "null";
}

ImageListing BuildListing(DiskImage& image) {
  ImageListing listing;
  listing.about = image.DescribeImage();
  const int disks = image.DiskCount();
  for (int disk = 0; disk < disks; ++disk) {
    DiskListing& listed = listing.disks.emplace_back();
    listed.info = image.Describe(disk);
    const std::vector<std::int64_t>& locations = listed.info.trackLocations;
    for (int track = 0; track < DiskImage::kMaxTracks; ++track) {
      TrackListing read;
      read.track = track;
      if (static_cast<std::size_t>(track) < locations.size()) {
        read.location = locations[static_cast<std::size_t>(track)];
      }
      read.read = image.ReadTrack(disk, track);
      if (read.location || read.read) {
        listed.tracks.push_back(std::move(read));
      }
    }
    listed.geometry = GeometryOf(listed.tracks);
    Verdict& verdict = listed.verdict;
    const Recognition recognition = RecogniseDisk(image, disk);
    verdict.known = FindKnownDisk(recognition.kind);
    if (verdict.known == nullptr) {
      verdict.evidence = ReadSignatureSectors(image, disk);
      continue;
    }
    if (recognition.flags != 0) {
      verdict.signatureNote =
          MarkedSectorNote(recognition.sector, recognition.flags, recognition.revolutionsGood,
                           recognition.revolutions);
    }
    for (std::size_t i = 0; i < verdict.known->cutCount; ++i) {
      const Cut& cut = verdict.known->cuts[i];
      for (std::string& note : ReadCut(image, disk, cut).notes) {
        verdict.notes.push_back({cut.name.data(), std::move(note)});
      }
    }
  }
  return listing;
}

void ListImage(DiskImage& image, const std::function<void(const std::string&)>& emit) {
  ListImage(BuildListing(image), emit);
}

void ListImageJson(DiskImage& image, const std::function<void(const std::string&)>& emit) {
  ListImageJson(BuildListing(image), emit);
}

void ListImage(const ImageListing& listing, const std::function<void(const std::string&)>& emit) {
  const int disks = static_cast<int>(listing.disks.size());
  const ImageInfo& about = listing.about;
  if (about.formatUnrecognised) {
    emit(Format("format: unknown (%lld bytes), read as %s", static_cast<long long>(about.fileSize),
                about.format));
  } else {
    emit(Format("format: %s, %lld bytes", about.format, static_cast<long long>(about.fileSize)));
  }
  if (!about.layout.empty()) {
    emit("layout: " + about.layout);
  }
  emit(Format("disks: %d", disks));
  for (const std::string& fault : about.faults) {
    emit("damage: " + fault);
  }
  if (about.zeroSizeDisk) {
    emit(Format("disk %d has a size of 0: no disk after it can be found", *about.zeroSizeDisk + 1));
  }
  if (about.diskLimit) {
    emit(Format("more disks follow: only the first %d are read", *about.diskLimit));
  }
  if (about.bytesAfterLastDisk && *about.bytesAfterLastDisk > 0) {
    emit(Format("after the last disk: %lld bytes that hold no disk",
                static_cast<long long>(*about.bytesAfterLastDisk)));
  }
  for (int disk = 0; disk < disks; ++disk) {
    emit("");
    emit(Format("disk %d", disk + 1));
    const DiskListing& listed = listing.disks[static_cast<std::size_t>(disk)];
    const DiskInfo& info = listed.info;
    emit("  offset: " + Number(static_cast<std::int32_t>(info.offset)));
    if (info.sizeField) {
      emit("  size: " + Number(static_cast<std::int32_t>(*info.sizeField)));
    }
    emit("  name: " + QuotedName(info.name));
    if (info.mediaType) {
      emit(Format("  media: 0x%02X (%s); ", static_cast<unsigned>(*info.mediaType),
                  MediaTypeName(*info.mediaType)) +
           GeometryText(listed.geometry));
    } else {
      emit("  " + GeometryText(listed.geometry));
    }
    if (info.writeProtect) {
      emit(Format("  write protect: 0x%02X (%s)", static_cast<unsigned>(*info.writeProtect),
                  *info.writeProtect == 0 ? "off" : "on"));
    }
    emit(GeometryLine(listed));
    if (info.doubleStepped) {
      emit("  read in a 96 tpi drive: cylinder C from physical track 2C");
    }
    ListTracks(listed, emit);
    ListVerdict(listed.verdict, emit);
  }
}

void ListImageJson(const ImageListing& listing,
                   const std::function<void(const std::string&)>& emit) {
  const ImageInfo& about = listing.about;
  emit("{");
  emit("  \"format\": " + JsonString(about.format) + ",");
  emit(std::string("  \"formatRecognised\": ") + (about.formatUnrecognised ? "false" : "true") +
       ",");
  emit("  \"fileSize\": " + std::to_string(about.fileSize) + ",");
  emit("  \"bytesAfterLastDisk\": " + JsonOptional(about.bytesAfterLastDisk) + ",");
  emit("  \"zeroSizeDisk\": " +
       JsonOptional(about.zeroSizeDisk ? std::optional<int>(*about.zeroSizeDisk + 1)
                                       : std::nullopt) +
       ",");
  emit("  \"diskLimit\": " + JsonOptional(about.diskLimit) + ",");
  std::string faults;
  for (const std::string& fault : about.faults) {
    faults += (faults.empty() ? "" : ",") + JsonString(fault);
  }
  emit("  \"faults\": [" + faults + "],");
  if (!about.layout.empty()) {
    emit("  \"layout\": " + JsonString(about.layout) + ",");
  }
  emit("  \"disks\": [");
  const int disks = static_cast<int>(listing.disks.size());
  for (int disk = 0; disk < disks; ++disk) {
    const DiskListing& listed = listing.disks[static_cast<std::size_t>(disk)];
    const DiskInfo& info = listed.info;
    const Geometry& geometry = listed.geometry;
    emit("    {");
    emit("      \"number\": " + std::to_string(disk + 1) + ",");
    emit("      \"offset\": " + std::to_string(info.offset) + ",");
    emit("      \"sizeField\": " + JsonOptional(info.sizeField) + ",");
    emit("      \"name\": " + JsonString(ShownShiftJisName(info.name)) + ",");
    emit("      \"media\": " + JsonOptional(info.mediaType) + ",");
    emit("      \"writeProtect\": " + JsonOptional(info.writeProtect) + ",");
    emit(
        Format("      \"geometry\": {\"tracks\": %d, \"sectors\": %d, \"size\": %d, "
               "\"kind\": %s, \"cylinders\": %d, \"heads\": %d},",
               geometry.tracks, geometry.sectors, geometry.size,
               geometry.tracks == 0 ? "null" : JsonString(geometry.kind).c_str(),
               geometry.cylinders, geometry.heads));
    emit("      \"claimed\": {\"cylinders\": " + JsonOptional(info.claimed.cylinders) +
         ", \"heads\": " + JsonOptional(info.claimed.heads) +
         ", \"sectors\": " + JsonOptional(info.claimed.sectorsPerTrack) +
         ", \"size\": " + JsonOptional(info.claimed.sectorSize) + "},");
    emit(std::string("      \"doubleStepped\": ") + (info.doubleStepped ? "true" : "false") + ",");
    emit("      \"tracks\": [");
    std::string pending;
    for (const TrackListing& read : listed.tracks) {
      const int track = read.track;
      const std::shared_ptr<const Track>& sectors = read.read;
      if (!sectors) {
        continue;
      }
      if (!pending.empty()) {
        emit(pending + ",");
      }
      const std::optional<TrackCutShort>& cut = sectors->CutShort();
      pending = Format(
          "        {\"track\": %d, \"cutShort\": %s, \"announcedSectors\": %s, "
          "\"sectors\": [",
          track, cut ? "true" : "false",
          cut && cut->announced ? std::to_string(*cut->announced).c_str() : "null");
      bool first = true;
      for (const Sector& sector : sectors->Sectors()) {
        pending +=
            Format(
                "%s{\"c\": %u, \"h\": %u, \"r\": %u, \"n\": %u, \"size\": %u, "
                "\"recordedSize\": %u, \"density\": \"%s\", \"flags\": ",
                first ? "" : ", ", sector.id.c, sector.id.h, sector.id.r, sector.id.n,
                static_cast<unsigned>(sector.size), static_cast<unsigned>(sector.recordedSize),
                sector.singleDensity ? "FM" : "MFM") +
            JsonFlags(sector.flags) +
            (sectors->Reading()
                 ? Format(", \"revolutionsGood\": %u, \"revolutions\": %u, \"recoveredFrom\": %u",
                          sector.revolutionsGood, sector.revolutions, sector.recoveredFrom)
                 : std::string()) +
            "}";
        first = false;
      }
      pending += "]";
      if (sectors->Reading()) {
        const TrackReading& reading = *sectors->Reading();
        pending += Format(
            ", \"flux\": {\"revolutions\": %d, \"dataRate\": %u, \"rpm\": %.1f, "
            "\"faults\": [",
            reading.revolutions, static_cast<unsigned>(reading.dataRate), reading.rpm);
        for (std::size_t i = 0; i < reading.faults.size(); ++i) {
          pending += (i == 0 ? "" : ", ") + JsonString(reading.faults[i]);
        }
        pending += "], \"unread\": " +
                   (reading.unread.empty() ? std::string("null") : JsonString(reading.unread)) +
                   "}";
      }
      pending += "}";
    }
    if (!pending.empty()) {
      emit(pending);
    }
    emit("      ],");
    const Verdict& verdict = listed.verdict;
    if (verdict.known == nullptr) {
      emit("      \"verdict\": {\"recognised\": false,");
      for (const SignatureRead& read : verdict.evidence) {
        const bool boot = read.at.track == kBootSector.track;
        emit(std::string(boot ? "        \"bootSector\": " : "        \"identificationSector\": ") +
             SignatureJson(read) + (boot ? "}" : ","));
      }
    } else {
      emit("      \"verdict\": {\"recognised\": true, \"title\": " +
           JsonString(verdict.known->title) + ", \"disk\": " + JsonString(verdict.known->disk) +
           ", \"notes\": [");
      std::string notes;
      if (!verdict.signatureNote.empty()) {
        notes = "        {\"file\": null, \"note\": " + JsonString(verdict.signatureNote) + "}";
      }
      for (const FileNoteListing& note : verdict.notes) {
        if (!notes.empty()) {
          emit(notes + ",");
        }
        notes = "        {\"file\": " + JsonString(note.file) +
                ", \"note\": " + JsonString(note.note) + "}";
      }
      if (!notes.empty()) {
        emit(notes);
      }
      emit("      ]}");
    }
    emit(disk + 1 < disks ? "    }," : "    }");
  }
  emit("  ]");
  emit("}");
}

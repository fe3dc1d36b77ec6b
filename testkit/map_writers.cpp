// Writers of the formats with sector maps: NFD (revisions 0 and 1) and FDD.
// Every sector is written as the disk records it, its data cut or padded to
// 128 << N bytes, with what the format holds of its flags.
#include <algorithm>
#include <cstring>

#include "testkit/format_writers.h"

namespace {

constexpr std::uint8_t kD88Fm = 0x40;
constexpr std::uint8_t kD88Deleted = 0x10;
constexpr std::uint8_t kStatusIdCrc = 0xA0;
constexpr std::uint8_t kStatusDataCrc = 0xB0;
constexpr std::uint8_t kStatusNoAddressMark = 0xE0;
constexpr std::uint8_t kStatusNoDataMark = 0xF0;

void PutLe(Bytes& out, std::size_t at, std::uint32_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) {
    out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

void PutText(Bytes& out, std::size_t at, const std::string& text, std::size_t room) {
  std::memcpy(out.data() + at, text.data(), std::min(text.size(), room));
}

Bytes SectorBytes(const SectorSpec& sector) {
  Bytes data = sector.data;
  data.resize(std::size_t{128} << std::min<int>(sector.n, 8));
  return data;
}

bool Deleted(const SectorSpec& sector) {
  return sector.deletedMark == kD88Deleted || sector.status == kD88Deleted;
}

// The 16-byte NFD entry of a sector: ID, MFM, DDAM, then the status and
// ST0-ST2 the drive would give for the D88 status.
void PutNfdEntry(Bytes& out, std::size_t at, const SectorSpec& sector, std::uint8_t retries,
                 bool revision1) {
  out[at] = sector.c;
  out[at + 1] = sector.h;
  out[at + 2] = sector.r;
  out[at + 3] = sector.n;
  out[at + 4] = sector.density == kD88Fm ? 0 : 1;
  out[at + 5] = Deleted(sector) ? 1 : 0;
  out[at + 6] = sector.status;
  std::uint8_t st1 = 0;
  std::uint8_t st2 = 0;
  switch (sector.status) {
    case kStatusIdCrc:
      st1 = 0x20;
      break;
    case kStatusDataCrc:
      st1 = 0x20;
      st2 = 0x20;
      break;
    case kStatusNoAddressMark:
      st1 = 0x01;
      break;
    case kStatusNoDataMark:
      st1 = 0x01;
      st2 = 0x01;
      break;
    default:
      break;
  }
  out[at + 7] = (st1 | st2) != 0 ? 0x40 : 0;
  out[at + 8] = st1;
  out[at + 9] = st2;
  out[at + 10] = revision1 ? retries : 0x90;
  out[at + 11] = revision1 ? 0x90 : 0;
}

Bytes BuildNfd0(const DiskSpec& disk) {
  constexpr std::size_t kTracks = 163;
  constexpr std::size_t kEntries = 26;
  constexpr std::size_t kHeaderSize = 0x120 + kTracks * kEntries * 16 + 16;
  Bytes out(kHeaderSize);
  std::memcpy(out.data(), "T98FDDIMAGE.R0", 14);
  PutText(out, 0x10, disk.name, 0xFF);
  PutLe(out, 0x110, kHeaderSize, 4);
  out[0x115] = 2;
  for (std::size_t track = 0; track < kTracks; ++track) {
    const auto found = disk.tracks.find(static_cast<int>(track));
    const std::size_t count = found == disk.tracks.end() ? 0 : found->second.sectors.size();
    for (std::size_t i = 0; i < kEntries; ++i) {
      const std::size_t at = 0x120 + (track * kEntries + i) * 16;
      if (i >= count) {
        out[at] = 0xFF;
        continue;
      }
      const SectorSpec& sector = found->second.sectors[i];
      PutNfdEntry(out, at, sector, 0, false);
      const Bytes data = SectorBytes(sector);
      out.insert(out.end(), data.begin(), data.end());
    }
  }
  return out;
}

}  // namespace

Bytes BuildNfd1(const DiskSpec& disk, const NfdReads& reads) {
  constexpr std::size_t kTracks = 164;
  constexpr std::size_t kTableEnd = 0x120 + kTracks * 4 + 16;
  Bytes out(kTableEnd);
  std::memcpy(out.data(), "T98FDDIMAGE.R1", 14);
  PutText(out, 0x10, disk.name, 0xFF);
  out[0x115] = 2;
  for (const auto& [index, track] : disk.tracks) {
    if (index < 0 || static_cast<std::size_t>(index) >= kTracks) {
      continue;
    }
    const std::size_t block = out.size();
    PutLe(out, 0x120 + static_cast<std::size_t>(index) * 4, static_cast<std::uint32_t>(block), 4);
    out.resize(block + 16 + (track.sectors.size() + static_cast<std::size_t>(reads.specials)) * 16);
    PutLe(out, block, static_cast<std::uint32_t>(track.sectors.size()), 2);
    PutLe(out, block + 2, static_cast<std::uint32_t>(reads.specials), 2);
    std::size_t at = block + 16;
    for (const SectorSpec& sector : track.sectors) {
      PutNfdEntry(out, at, sector, static_cast<std::uint8_t>(reads.retries), true);
      at += 16;
    }
    for (int i = 0; i < reads.specials; ++i, at += 16) {
      out[at] = 0x02;  // a read
      out[at + 9] = static_cast<std::uint8_t>(reads.specialRetries);
      PutLe(out, at + 10, reads.specialLength, 4);
    }
  }
  PutLe(out, 0x110, static_cast<std::uint32_t>(out.size()), 4);
  for (const auto& [index, track] : disk.tracks) {
    if (index < 0 || static_cast<std::size_t>(index) >= kTracks) {
      continue;
    }
    for (const SectorSpec& sector : track.sectors) {
      const Bytes data = SectorBytes(sector);
      out.insert(out.end(), data.begin(), data.end());
      out.insert(out.end(), data.size() * static_cast<std::size_t>(reads.retries), 0xEE);
    }
    out.insert(out.end(),
               std::size_t{reads.specialLength} * static_cast<std::size_t>(reads.specials) *
                   static_cast<std::size_t>(reads.specialRetries + 1),
               0xDD);
  }
  return out;
}

Bytes BuildNfd(const DiskSpec& disk, int revision) {
  return revision == 0 ? BuildNfd0(disk) : BuildNfd1(disk, {});
}

// FDD: a sector whose data is one byte throughout is written as that fill
// byte and no data, as Virtual98 writes it.
Bytes BuildFdd(const DiskSpec& disk) {
  constexpr std::size_t kTracks = 160;
  constexpr std::size_t kEntries = 26;
  constexpr std::size_t kHeaderSize = 0xC3FC;
  Bytes out(kHeaderSize);
  std::memcpy(out.data(), "VFD1.00", 7);
  PutText(out, 0x08, disk.name, 127);
  for (std::size_t track = 0; track < kTracks; ++track) {
    const auto found = disk.tracks.find(static_cast<int>(track));
    const std::size_t count = found == disk.tracks.end() ? 0 : found->second.sectors.size();
    for (std::size_t i = 0; i < kEntries; ++i) {
      const std::size_t at = 0xDC + (track * kEntries + i) * 12;
      if (i >= count) {
        std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(at), 12, 0xFF);
        continue;
      }
      const SectorSpec& sector = found->second.sectors[i];
      const Bytes data = SectorBytes(sector);
      const bool uniform =
          std::all_of(data.begin(), data.end(), [&](std::uint8_t b) { return b == data[0]; });
      out[at] = sector.c;
      out[at + 1] = sector.h;
      out[at + 2] = sector.r;
      out[at + 3] = sector.n;
      out[at + 4] = uniform ? data[0] : 0xFF;
      out[at + 5] = Deleted(sector) ? 1 : 0;
      out[at + 6] = sector.density == kD88Fm ? 0 : 1;
      out[at + 7] = 1;
      if (uniform) {
        PutLe(out, at + 8, 0xFFFFFFFF, 4);
      } else {
        PutLe(out, at + 8, static_cast<std::uint32_t>(out.size()), 4);
        out.insert(out.end(), data.begin(), data.end());
      }
    }
  }
  return out;
}

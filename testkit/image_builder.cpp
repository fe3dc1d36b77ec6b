#include "testkit/image_builder.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <stdexcept>

#include "known/known_disks.h"

namespace {

constexpr int kHeaderSize = 0x2B0;
constexpr int kTrackCount = 164;

void StoreLe16(Bytes& out, std::size_t at, std::uint32_t value) {
  out[at] = static_cast<std::uint8_t>(value & 0xFFU);
  out[at + 1] = static_cast<std::uint8_t>((value >> 8U) & 0xFFU);
}

void StoreLe32(Bytes& out, std::size_t at, std::uint32_t value) {
  StoreLe16(out, at, value & 0xFFFFU);
  StoreLe16(out, at + 2, value >> 16U);
}

// The first sector of the track whose R is `r`.
std::vector<SectorSpec>::iterator FindSector(DiskSpec& disk, int track, int r) {
  std::vector<SectorSpec>& sectors = disk.tracks.at(track).sectors;
  const auto found = std::find_if(sectors.begin(), sectors.end(),
                                  [r](const SectorSpec& sector) { return sector.r == r; });
  if (found == sectors.end()) {
    throw std::out_of_range("no such sector");
  }
  return found;
}

}  // namespace

Bytes PatternSector(std::uint32_t seed, int track, int r, int size) {
  Bytes data(static_cast<std::size_t>(size));
  std::uint32_t state = seed * 2654435761U ^ static_cast<std::uint32_t>(track) * 40503U ^
                        static_cast<std::uint32_t>(r) * 97U ^ 0x9E3779B9U;
  for (auto& byte : data) {
    // xorshift32: cheap, seeded, and unlike any real disk's contents.
    state ^= state << 13U;
    state ^= state >> 17U;
    state ^= state << 5U;
    byte = static_cast<std::uint8_t>(state >> 24U);
  }
  return data;
}

TrackSpec FmTrackZero(std::uint32_t seed) {
  TrackSpec track;
  for (int r = 1; r <= kFmTrackZeroSectors; ++r) {
    SectorSpec sector;
    sector.c = 0;
    sector.h = 0;
    sector.r = static_cast<std::uint8_t>(r);
    sector.n = 0;
    sector.data = PatternSector(seed, 0, r, 128);
    sector.density = kFmDensity;
    track.sectors.push_back(sector);
  }
  return track;
}

DiskSpec PlainDisk(int tracks, std::uint32_t seed) {
  DiskSpec disk;
  disk.name = "PLAIN";
  for (int track = 0; track < tracks; ++track) {
    TrackSpec& spec = disk.tracks[track];
    for (int r = 1; r <= 8; ++r) {
      SectorSpec sector;
      sector.c = static_cast<std::uint8_t>(track / 2);
      sector.h = static_cast<std::uint8_t>(track % 2);
      sector.r = static_cast<std::uint8_t>(r);
      sector.n = 3;
      sector.data = PatternSector(seed, track, r);
      spec.sectors.push_back(sector);
    }
  }
  return disk;
}

Bytes& SectorData(DiskSpec& disk, int track, int r) { return FindSector(disk, track, r)->data; }

void RemoveSector(DiskSpec& disk, int track, int r) {
  disk.tracks.at(track).sectors.erase(FindSector(disk, track, r));
}

void PutBytes(DiskSpec& disk, int track, int r, int offset, const std::string& bytes) {
  Bytes& data = SectorData(disk, track, r);
  if (offset < 0 || static_cast<std::size_t>(offset) + bytes.size() > data.size()) {
    throw std::out_of_range("bytes do not fit the sector");
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    data[static_cast<std::size_t>(offset) + i] = static_cast<std::uint8_t>(bytes[i]);
  }
}

Bytes LinearBytes(const DiskSpec& disk, int tracks) {
  Bytes out(static_cast<std::size_t>(tracks) * 8 * 1024);
  for (const auto& [index, track] : disk.tracks) {
    if (index < 0 || index >= tracks) {
      continue;
    }
    for (const SectorSpec& sector : track.sectors) {
      if (sector.r < 1 || sector.r > 8 || sector.c != index / 2 || sector.h != index % 2) {
        continue;
      }
      const std::size_t at =
          static_cast<std::size_t>(index) * 8192 + static_cast<std::size_t>(sector.r - 1) * 1024;
      for (std::size_t i = 0; i < sector.data.size() && i < 1024; ++i) {
        out[at + i] = sector.data[i];
      }
    }
  }
  return out;
}

const KnownSignature kKnownSignatures[8] = {
    {"Title1DiskA", false, "ZEFA-LOMRI 1"},
    {"Title1DiskB", false, "ZEFA-LOMRI 2"},
    {"Title2DiskA", true, "ZefaLomri2      DISK-A"},
    {"Title2DiskB", true, "ZefaLomri2      DISK-B"},
    {"Title2UserDisk", true, "ZefaLomri2      User-disk"},
    {"Title3DiskA", true, "ZefaLomri3      DISK-A"},
    {"Title3DiskB", true, "ZefaLomri3      DISK-B"},
    {"Title3UserDisk", true, "ZefaLomri3      User-disk"},
};

DiskSpec KnownDisk(int index, std::uint32_t seed, int tracks) {
  const KnownDiskRow& known = kKnownDisks[index];
  DiskSpec disk = PlainDisk(tracks, seed);
  disk.name = kKnownSignatures[index].kind;
  const Signature& signature = known.signature;
  PutBytes(disk, signature.sector.track, signature.sector.id.r, signature.offset,
           std::string(signature.text, static_cast<std::size_t>(signature.length)));
  return disk;
}

std::vector<DiskSpec> SampleDisks() {
  std::vector<DiskSpec> disks;
  disks.reserve(9);
  for (int i = 0; i < 8; ++i) {
    disks.push_back(KnownDisk(i, static_cast<std::uint32_t>(i + 1)));
  }
  DiskSpec other = PlainDisk(kKnownDiskTracks, 99);
  other.name = "OTHER GAME";
  disks.push_back(other);
  return disks;
}

Bytes BuildDisk(const DiskSpec& disk) {
  Bytes out(kHeaderSize, 0);
  for (std::size_t i = 0; i < disk.name.size() && i < 16; ++i) {
    out[i] = static_cast<std::uint8_t>(disk.name[i]);
  }
  out[0x1A] = disk.writeProtect;
  out[0x1B] = disk.mediaType;
  for (const auto& [index, track] : disk.tracks) {
    if (index < 0 || index >= kTrackCount) {
      throw std::out_of_range("track index");
    }
    StoreLe32(out, 0x20 + 4 * static_cast<std::size_t>(index),
              static_cast<std::uint32_t>(out.size()));
    const auto count = static_cast<std::uint16_t>(track.sectors.size());
    for (const SectorSpec& sector : track.sectors) {
      const std::size_t at = out.size();
      out.resize(at + 16 + sector.data.size(), 0);
      out[at] = sector.c;
      out[at + 1] = sector.h;
      out[at + 2] = sector.r;
      out[at + 3] = sector.n;
      StoreLe16(out, at + 4, sector.count.value_or(count));
      out[at + 6] = sector.density;
      out[at + 7] = sector.deletedMark;
      out[at + 8] = sector.status;
      StoreLe16(out, at + 14,
                sector.dataSize.value_or(static_cast<std::uint16_t>(sector.data.size())));
      std::copy(sector.data.begin(), sector.data.end(), out.begin() + static_cast<long>(at) + 16);
    }
  }
  for (const auto& [index, value] : disk.trackTableOverrides) {
    StoreLe32(out, 0x20 + 4 * static_cast<std::size_t>(index), value);
  }
  StoreLe32(out, 0x1C, disk.sizeField.value_or(static_cast<std::uint32_t>(out.size())));
  for (const auto& [at, bytes] : disk.headerPatches) {
    std::copy(bytes.begin(), bytes.end(), out.begin() + at);
  }
  return out;
}

std::size_t SectorHeaderOffset(const DiskSpec& disk, int track, std::size_t position) {
  std::size_t at = kHeaderSize;
  for (const auto& [index, spec] : disk.tracks) {
    if (index == track) {
      if (position > spec.sectors.size()) {
        throw std::out_of_range("no such sector position");
      }
      for (std::size_t i = 0; i < position; ++i) {
        at += 16 + spec.sectors[i].data.size();
      }
      return at;
    }
    at = std::accumulate(
        spec.sectors.begin(), spec.sectors.end(), at,
        [](std::size_t sum, const SectorSpec& sector) { return sum + 16 + sector.data.size(); });
  }
  throw std::out_of_range("no such track");
}

Bytes BuildImage(const std::vector<DiskSpec>& disks) {
  Bytes out;
  for (const DiskSpec& disk : disks) {
    const Bytes bytes = BuildDisk(disk);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  return out;
}

bool WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  const bool written =
      bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

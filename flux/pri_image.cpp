// Reader for PRI images (the PCE emulators' raw bitstream images): each
// track as the cells a drive head reads, decoded here as MFM (flux/mfm.h).
// All fields are big-endian.
//
//   The file is a run of chunks, as in PSI (formats/psi_image.cpp):
//     0  4  the chunk's name
//     4  4  its size
//     8  -  its data
//     -  4  a CRC over the name, the size and the data (polynomial
//           0x1EDC6F41, preset 0, the top bit first)
//
//   "PRI "  first: version (2 bytes, 0) and 2 bytes reserved
//   "TRAK"  a track: its cylinder (4 bytes), head (4), cell count (4) and
//           cell rate in Hz (4)
//   "DATA"  the cells of the track before, 8 to a byte, the first in the
//           most significant bit
//   "END "  last
//   and "TEXT" (a comment), "WEAK" (cells that read at random), "BCLK"
//   (changes of the rate) and others, which are passed over.
//
// Track index = 2 x cylinder + head of the TRAK chunk; a track past the
// model's tracks is passed over. A chunk whose CRC fails, or that the file
// ends inside, stops the reading with the reason.
#include "flux/pri_image.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "disk/le_fields.h"
#include "flux/mfm.h"
#include "formats/sector_image.h"

namespace {

constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kChunkCrcSize = 4;
constexpr std::uint32_t kCrcPolynomial = 0x1EDC6F41;

constexpr std::uint32_t ChunkName(const char (&name)[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(name[0])) << 24U |
         static_cast<std::uint32_t>(static_cast<unsigned char>(name[1])) << 16U |
         static_cast<std::uint32_t>(static_cast<unsigned char>(name[2])) << 8U |
         static_cast<std::uint32_t>(static_cast<unsigned char>(name[3]));
}
constexpr std::uint32_t kChunkPri = ChunkName("PRI ");
constexpr std::uint32_t kChunkTrack = ChunkName("TRAK");
constexpr std::uint32_t kChunkData = ChunkName("DATA");
constexpr std::uint32_t kChunkEnd = ChunkName("END ");
constexpr std::size_t kHeaderFields = 4;
constexpr std::size_t kTrackFields = 16;
constexpr int kMaxHeads = 2;

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    std::uint32_t crc = byte << 24U;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000U) != 0 ? (crc << 1U) ^ kCrcPolynomial : crc << 1U;
    }
    table[byte] = crc;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

std::uint32_t ChunkCrc(const unsigned char* bytes, std::size_t length) {
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < length; ++i) {
    crc = crc << 8U ^ kCrcTable[(crc >> 24U ^ bytes[i]) & 0xFFU];
  }
  return crc;
}

std::string NameOf(std::uint32_t name) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto ch = static_cast<char>(name >> static_cast<unsigned>(shift) & 0xFFU);
    text += ch >= 0x20 && ch < 0x7F ? ch : '?';
  }
  return text;
}

Confidence Identify(const ImageProbe& probe) {
  return probe.length >= kChunkHeaderSize && LoadBe32(probe.head) == kChunkPri &&
                 LoadBe32(probe.head + 4) >= kHeaderFields
             ? kSignature
             : kNotThisFormat;
}

LoadResult Load(std::unique_ptr<ByteSource> source) {
  LoadResult result;
  std::vector<unsigned char> file;
  if (!LoadWhole(*source, file, result)) {
    return result;
  }
  const auto fileSize = static_cast<std::int64_t>(file.size());
  auto image = std::make_unique<SectorImage>("PRI", fileSize);
  DiskInfo info;
  info.trackLocations.assign(DiskImage::kMaxTracks, 0);
  std::vector<std::pair<int, std::vector<Sector>>> decoded;
  // The track the next DATA chunk holds the cells of; -1: none, or one past
  // the model's tracks.
  std::int64_t track = -1;
  std::int64_t highestTrack = -1;
  std::int64_t cellCount = 0;
  std::vector<unsigned char> cells;
  std::int64_t at = 0;
  bool ended = false;
  while (!ended && at < fileSize) {
    const std::string where = " at offset " + std::to_string(at);
    if (fileSize - at < static_cast<std::int64_t>(kChunkHeaderSize + kChunkCrcSize)) {
      result.error = "the file ends inside the chunk" + where;
      return result;
    }
    const unsigned char* chunk = file.data() + at;
    const std::uint32_t name = LoadBe32(chunk);
    const std::int64_t size = LoadBe32(chunk + 4);
    if (size > fileSize - at - static_cast<std::int64_t>(kChunkHeaderSize + kChunkCrcSize)) {
      result.error = "the chunk '" + NameOf(name) + "'" + where +
                     " runs past the end of the file (" + std::to_string(fileSize) + " bytes)";
      return result;
    }
    const auto covered = static_cast<std::size_t>(size) + kChunkHeaderSize;
    if (ChunkCrc(chunk, covered) != LoadBe32(chunk + covered)) {
      result.error = "the CRC of the chunk '" + NameOf(name) + "'" + where + " fails";
      return result;
    }
    const unsigned char* body = chunk + kChunkHeaderSize;
    if (at == 0) {
      if (name != kChunkPri || size < static_cast<std::int64_t>(kHeaderFields)) {
        result.error = "the file does not start with a 'PRI ' chunk";
        return result;
      }
      if (LoadBe16(body) != 0) {
        result.error = "version " + std::to_string(LoadBe16(body)) + " is not read";
        return result;
      }
    } else if (name == kChunkTrack) {
      if (size < static_cast<std::int64_t>(kTrackFields)) {
        result.error = "the chunk 'TRAK'" + where + " is too short";
        return result;
      }
      const std::int64_t cylinder = LoadBe32(body);
      const std::int64_t head = LoadBe32(body + 4);
      const std::int64_t index = kMaxHeads * cylinder + head;
      track = head < kMaxHeads && index < DiskImage::kMaxTracks ? index : -1;
      if (head < kMaxHeads) {
        highestTrack = std::max(highestTrack, index);
      }
      cellCount = LoadBe32(body + 8);
      if (track >= 0) {
        info.trackLocations[static_cast<std::size_t>(track)] = at;
      }
    } else if (name == kChunkData && track >= 0) {
      // The cells the chunk holds, however many the track claims.
      const std::int64_t count = std::min(cellCount, size * 8);
      cells.assign(body, body + (count + 7) / 8);
      cells.resize(cells.size() + kMfmCellPadding, 0);
      decoded.emplace_back(static_cast<int>(track),
                           DecodeMfmTrack(cells, static_cast<std::size_t>(count), image->Data()));
      track = -1;
    } else if (name == kChunkEnd) {
      ended = true;
    }
    at += static_cast<std::int64_t>(covered + kChunkCrcSize);
  }
  if (at == 0) {
    result.error = "the file does not start with a 'PRI ' chunk";
    return result;
  }
  const int disk = image->AddDisk(info);
  if (highestTrack >= DiskImage::kMaxTracks) {
    // A cylinder field of 32 bits gives a count past an int: told as the most.
    image->AddFault(TracksPastLimit(static_cast<int>(
        std::min<std::int64_t>(highestTrack + 1, std::numeric_limits<int>::max()))));
  }
  for (auto& [index, sectors] : decoded) {
    image->SetTrack(disk, index, std::move(sectors));
  }
  if (at < fileSize) {
    image->SetBytesAfterLastDisk(fileSize - at);
  }
  result.image = std::move(image);
  return result;
}

}  // namespace

const ImageFormat kPriFormat = {"PRI", "pri", Identify, Load};

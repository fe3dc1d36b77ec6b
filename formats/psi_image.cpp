// Reader for PSI images (the PCE emulators' sector images). All fields are
// big-endian.
//
//   The file is a run of chunks:
//     0  4  the chunk's name ("PSI ", "SECT", ...)
//     4  4  its size
//     8  -  its data
//     -  4  a CRC over the name, the size and the data (polynomial
//           0x1EDC6F41, preset 0, the top bit first)
//
//   "PSI "  first: version (2 bytes, 0), then the encoding of the sectors
//           (2 bytes: 0x0100 FM, 0x0200/0x0201/0x0202 MFM at DD/HD/ED,
//           0x0300 Macintosh GCR)
//   "SECT"  a sector, on the track of its cylinder (2 bytes) and head (1);
//           then its number (1), its size (2), flags (1: 0x01 filled with
//           the next byte, 0x02 another reading of the sector before, 0x04
//           a data CRC error) and the fill byte (1)
//   "IBMM"  the ID of the sector before as recorded in MFM: C H R N (1
//           byte each), flags (0x01 ID CRC error, 0x02 data CRC error, 0x04
//           deleted data, 0x08 no data mark), and the data rate
//   "DATA"  the data of the sector before, as many bytes as the chunk
//   "END "  last
//   and "TEXT" (a comment), "OFFS" and "TIME" (where on the track the
//   sector lies), "MACG" and others, which are passed over.
//
// Track index = 2 x cylinder + head of the SECT chunk; a sector's ID is
// that cylinder, head and number until an IBMM chunk gives it. A sector
// with no IBMM chunk has the size code its size gives; one with no data
// mark holds no data, whatever follows it. The other readings
// of a sector (flag 0x02) are passed over: the first is the sector. A chunk
// whose CRC fails, or that the file ends inside, stops the reading with the
// reason.
#include "formats/psi_image.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "disk/le_fields.h"
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
constexpr std::uint32_t kChunkPsi = ChunkName("PSI ");
constexpr std::uint32_t kChunkSect = ChunkName("SECT");
constexpr std::uint32_t kChunkIbmMfm = ChunkName("IBMM");
constexpr std::uint32_t kChunkData = ChunkName("DATA");
constexpr std::uint32_t kChunkEnd = ChunkName("END ");

constexpr std::size_t kHeaderFields = 4;
constexpr std::uint32_t kEncodingFm = 0x0100;
constexpr std::size_t kSectFields = 8;
constexpr unsigned kSectFilled = 0x01;
constexpr unsigned kSectAlternate = 0x02;
constexpr unsigned kSectDataCrc = 0x04;
constexpr std::size_t kIbmFields = 6;
constexpr unsigned kIbmIdCrc = 0x01;
constexpr unsigned kIbmDataCrc = 0x02;
constexpr unsigned kIbmDeleted = 0x04;
constexpr unsigned kIbmNoDataMark = 0x08;
constexpr std::uint8_t kMaxSizeCode = 8;
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

// The size code of a data size: the N with 128 << N == size, else the
// smallest that holds it.
std::uint8_t SizeCode(std::uint32_t size) {
  std::uint8_t n = 0;
  while (n < kMaxSizeCode && NominalSize(n) < size) {
    ++n;
  }
  return n;
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
  return probe.length >= kChunkHeaderSize && LoadBe32(probe.head) == kChunkPsi &&
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
  auto image = std::make_unique<SectorImage>("PSI", fileSize);
  std::vector<unsigned char>& data = image->Data();
  std::map<int, std::vector<Sector>> tracks;
  // The sector the chunks after a SECT describe; none after another
  // reading of a sector or a sector past the model's tracks.
  Sector* last = nullptr;
  bool singleDensity = false;
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
      if (name != kChunkPsi || size < static_cast<std::int64_t>(kHeaderFields)) {
        result.error = "the file does not start with a 'PSI ' chunk";
        return result;
      }
      if (LoadBe16(body) != 0) {
        result.error = "version " + std::to_string(LoadBe16(body)) + " is not read";
        return result;
      }
      singleDensity = LoadBe16(body + 2) == kEncodingFm;
    } else if (name == kChunkSect) {
      if (size < static_cast<std::int64_t>(kSectFields)) {
        result.error = "the chunk 'SECT'" + where + " is too short";
        return result;
      }
      const std::uint32_t cylinder = LoadBe16(body);
      const unsigned head = body[2];
      const unsigned flags = body[6];
      const std::uint32_t length = LoadBe16(body + 4);
      const std::int64_t index = std::int64_t{kMaxHeads} * cylinder + head;
      last = nullptr;
      if ((flags & kSectAlternate) == 0 && head < kMaxHeads && index < DiskImage::kMaxTracks) {
        if (static_cast<std::int64_t>(data.size()) + length > kMaxImageBytes) {
          result.error = "the sectors hold more than " + std::to_string(kMaxImageBytes) + " bytes";
          return result;
        }
        Sector sector;
        sector.id = {static_cast<std::uint8_t>(cylinder & 0xFFU), static_cast<std::uint8_t>(head),
                     body[3], SizeCode(length)};
        sector.singleDensity = singleDensity;
        sector.flags = (flags & kSectDataCrc) != 0 ? kDataCrcError : 0;
        sector.recordedSize = length;
        sector.size = length;
        sector.location = static_cast<std::int64_t>(data.size());
        // Not filled, the data comes in a DATA chunk; until it does, zeros.
        data.resize(data.size() + length, (flags & kSectFilled) != 0 ? body[7] : 0);
        std::vector<Sector>& track = tracks[static_cast<int>(index)];
        track.push_back(sector);
        last = &track.back();
      }
    } else if (name == kChunkIbmMfm && last != nullptr) {
      if (size < static_cast<std::int64_t>(kIbmFields)) {
        result.error = "the chunk 'IBMM'" + where + " is too short";
        return result;
      }
      last->id = {body[0], body[1], body[2], body[3]};
      const unsigned flags = body[4];
      last->flags = static_cast<SectorFlags>(((flags & kIbmIdCrc) != 0 ? kIdCrcError : 0) |
                                             ((flags & kIbmDataCrc) != 0 ? kDataCrcError : 0) |
                                             ((flags & kIbmDeleted) != 0 ? kDeletedData : 0) |
                                             ((flags & kIbmNoDataMark) != 0 ? kNoDataMark : 0));
      last->singleDensity = false;
      if ((flags & kIbmNoDataMark) != 0) {
        last->size = 0;  // the fill stands for no data
      }
    } else if (name == kChunkData && last != nullptr && (last->flags & kNoDataMark) == 0) {
      if (static_cast<std::int64_t>(data.size()) + size > kMaxImageBytes) {
        result.error = "the sectors hold more than " + std::to_string(kMaxImageBytes) + " bytes";
        return result;
      }
      last->location = static_cast<std::int64_t>(data.size());
      last->size = static_cast<std::uint32_t>(size);
      data.insert(data.end(), body, body + size);
    } else if (name == kChunkEnd) {
      ended = true;
    }
    at += static_cast<std::int64_t>(covered + kChunkCrcSize);
  }
  if (at == 0) {
    result.error = "the file does not start with a 'PSI ' chunk";
    return result;
  }

  // PSI records no place for a track as a whole (its sectors are chunks
  // anywhere in the file): the listing asks for every track.
  const int disk = image->AddDisk(DiskInfo{});
  for (auto& [index, sectors] : tracks) {
    image->SetTrack(disk, index, std::move(sectors));
  }
  if (at < fileSize) {
    image->SetBytesAfterLastDisk(fileSize - at);
  }
  result.image = std::move(image);
  return result;
}

}  // namespace

const ImageFormat kPsiFormat = {"PSI", "psi", Identify, Load};

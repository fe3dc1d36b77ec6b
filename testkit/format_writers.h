// Writers of every image format the tool reads, each from the same in-memory
// disk the D88 builder takes (DiskSpec), for tests that hold the readers of
// all formats to one another, and for the fuzz seeds and the benchmark.
//
// A writer lays out what its format can hold of the disk: the flat formats
// (raw, FDI, DIM) hold the 2HD geometry of the known disks only, 77
// cylinders x 2 heads x 8 sectors of 1024 bytes, with sector R of track T at
// its place (a sector the disk lacks is written as zeros); the formats with
// sector maps (NFD, FDD, IMD) and the bitstream format (HFE) hold each
// track's sectors in recorded order with their IDs and what they can record
// of the flags; so does Teledisk (TD0), in its normal form in the tables;
// the flux format (SCP, testkit/flux_writers.h) holds the HFE writer's
// cells read three times by a drive that drifts.
#ifndef ZEFACUT_TESTKIT_FORMAT_WRITERS_H
#define ZEFACUT_TESTKIT_FORMAT_WRITERS_H

#include <string>
#include <vector>

#include "testkit/image_builder.h"

enum class WrittenFormat {
  kD88,
  kRaw,
  kFdi,
  kDim,
  kNfd0,
  kNfd1,
  kFdd,
  kImd,
  kHfe1,
  kHfe3,
  kTd0,
  kScp,
  kHxcMfm,
  kMfi,
  kPsi,
  k86f,
  kPri
};

// The 2HD geometry of the flat formats.
constexpr int kFlatCylinders = 77;
constexpr int kFlatHeads = 2;
constexpr int kFlatSectors = 8;
constexpr int kFlatSectorSize = 1024;
constexpr int kFlatTracks = kFlatCylinders * kFlatHeads;

Bytes BuildRaw(const DiskSpec& disk);
// A raw image of any geometry, sector (C, H, R) holding bytes that name it
// (FlatSectorBytes); with `bpb`, its boot sector carries a BIOS parameter
// block that gives `bpb`'s sector size, sectors per track and heads, and the
// image's sectors in all.
struct RawGeometry {
  int cylinders;
  int heads;
  int sectors;
  int sectorSize;
};
Bytes BuildRawOf(const RawGeometry& geometry, const RawGeometry* bpb = nullptr);
Bytes FlatSectorBytes(int c, int h, int r, int size);
Bytes BuildFdi(const DiskSpec& disk);
Bytes BuildDim(const DiskSpec& disk);
Bytes BuildNfd(const DiskSpec& disk, int revision);
Bytes BuildFdd(const DiskSpec& disk);
Bytes BuildImd(const DiskSpec& disk);
// `fmAtOwnRate`: tracks whose sectors are all FM are written as FM cells,
// at half the bit rate (as a single-density disk's HFE holds them), rather
// than each FM cell as two MFM cells.
Bytes BuildHfe(const DiskSpec& disk, int revision, bool fmAtOwnRate = false);

// The bitstream images of testkit/bitstream_writers.cpp: each track the HFE
// writer's cells for one turn. MFI in its current form or the old one of
// MESS (`old`), with whole (0), half (1) or quarter (2) track steps in its
// track list, and each flux change moved at random by up to `jitter` of a
// cell.
Bytes BuildHxcMfm(const DiskSpec& disk);
struct MfiOptions {
  bool old = false;
  unsigned step = 0;
  double jitter = 0;
};
Bytes BuildMfi(const DiskSpec& disk, const MfiOptions& options = {});
// PSI (PCE sector image): each sector's chunks, with its ID, status and
// deleted mark as PSI records them.
Bytes BuildPsi(const DiskSpec& disk);
// 86F (86Box): both sides, each track's cells stored with the index at
// `indexCell`.
Bytes Build86f(const DiskSpec& disk, std::uint32_t indexCell = 0);
// PRI (PCE raw bitstream image): the tracks of the disk as chunks.
Bytes BuildPri(const DiskSpec& disk);

// Teledisk: how each sector's data block is encoded (kChoose: a 2-byte
// pattern when the data is one, else runs when they make it shorter, else
// raw, as Teledisk chooses), whether the stream after the header is
// compressed (LZHUF), and the comment (none when empty).
enum class Td0Encoding { kChoose, kRaw, kPattern, kRun };
struct Td0Options {
  Td0Encoding encoding = Td0Encoding::kChoose;
  bool compressed = false;
  std::string comment;
};
Bytes BuildTd0(const DiskSpec& disk, const Td0Options& options = {});
// The pieces of a Teledisk image, for images made by hand: the header (its
// CRC right, version 2.1, 500 kbit/s, two sides), a track header (its CRC right; `head` with bit 7
// for FM), a sector's header and data block, and the CRC byte of a sector's data.
Bytes Td0Header(bool compressed, bool comment);
// Writes the CRC of an image's first 10 bytes over bytes 10 and 11.
void SetTd0HeaderCrc(Bytes& image);
Bytes Td0Track(std::uint8_t count, std::uint8_t cylinder, std::uint8_t head);
Bytes Td0Sector(const SectorSpec& sector, Td0Encoding encoding);
std::uint8_t Td0SectorCrc(const Bytes& data);
// LZHUF as Teledisk 2.x compresses: a 4096-byte ring buffer, matches of 3
// to 60 bytes, adaptive Huffman codes; the last byte padded with zero bits.
Bytes Lzhuf(const Bytes& plain);
// LZHUF of `unit` repeated for `length` bytes (the unit at most 4036 bytes),
// made in a time that goes with the symbols, not the bytes.
Bytes LzhufRepeating(const Bytes& unit, std::size_t length);

// NFD revision 1 with the records of repeated reads: every sector followed
// by `retries` more copies of 0xEE bytes, and every track's sectors by
// `specials` special-read records of `specialLength` bytes read
// `specialRetries` + 1 times (0xDD bytes).
struct NfdReads {
  int retries = 0;
  int specials = 0;
  std::uint32_t specialLength = 0;
  int specialRetries = 0;
};
Bytes BuildNfd1(const DiskSpec& disk, const NfdReads& reads);

// The disk in a format, by the writer above (D88: BuildImage of the one disk).
Bytes BuildInFormat(WrittenFormat format, const DiskSpec& disk);

struct WrittenFormatName {
  WrittenFormat format;
  const char* name;                      // as the tool names the format it read
  const char* extension;                 // a usual file extension, with the dot
  Bytes (*build)(const DiskSpec& disk);  // its writer, as BuildInFormat runs it
};
// Every format, D88 first: the one list a new writer joins.
const std::vector<WrittenFormatName>& WrittenFormats();

#endif  // ZEFACUT_TESTKIT_FORMAT_WRITERS_H

// The neutral model of a disk image, the one view of a disk that recognition,
// cutting and d88info read through, whatever format the image file is in.
//
// An image holds one or more disks. A disk holds up to kMaxTracks tracks by
// track index (2 x cylinder + head on the disks the tool knows). A track holds
// its sectors in the order the image records them, each with its ID
// (C, H, R, N), its data, and what the image says about it (flags).
//
// A format reader implements DiskImage. Tracks are parsed when first asked
// for and kept, so that reading many sectors of one track costs one parse.
#ifndef ZEFACUT_DISK_MODEL_H
#define ZEFACUT_DISK_MODEL_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct SectorId {
  std::uint8_t c = 0;  // cylinder as recorded
  std::uint8_t h = 0;  // head as recorded
  std::uint8_t r = 0;  // sector number
  std::uint8_t n = 0;  // size code: nominal data size 128 << n
};

// The four bytes of an ID in one number, C first: equal IDs, equal numbers.
constexpr std::uint32_t PackedId(SectorId id) {
  return static_cast<std::uint32_t>(id.c) << 24U | static_cast<std::uint32_t>(id.h) << 16U |
         static_cast<std::uint32_t>(id.r) << 8U | id.n;
}

constexpr bool operator==(SectorId a, SectorId b) {
  return a.c == b.c && a.h == b.h && a.r == b.r && a.n == b.n;
}
constexpr bool operator!=(SectorId a, SectorId b) { return !(a == b); }

// A sector named by the track it lies in and the ID it must carry. The track
// index is given apart from C and H: a reader never derives one from the other.
struct SectorAddress {
  int track = 0;
  SectorId id;
};

// What an image says about a sector besides its ID and data. Formats that
// record nothing leave the flags empty.
enum SectorFlag : std::uint8_t {
  kDeletedData = 1U << 0U,
  kIdCrcError = 1U << 1U,
  kDataCrcError = 1U << 2U,
  kNoAddressMark = 1U << 3U,
  kNoDataMark = 1U << 4U,
  // The image file's own check of the sector's data fails (Teledisk's check
  // byte, or a block that does not expand to the sector): the file is
  // damaged, whatever the disk held. Not a mark of the disk's reading.
  kImageCheckFails = 1U << 5U,
};
using SectorFlags = std::uint8_t;

// What flags say, in words, for messages: "deleted data and a data CRC
// error". kImageCheckFails is no mark of the disk and is left out: it is
// told in words of its own (kImageCheckWords).
std::string FlagWords(SectorFlags flags);

// "the image's own check of its data fails (the image file is damaged)".
extern const char* const kImageCheckWords;

// The name of each flag that is set, in flag order ("ID CRC error"), for
// listings.
std::vector<std::string> FlagNames(SectorFlags flags);

// The data size a size code names, 128 << n; 0 for a code past 8, a size no
// 16-bit data size field can hold.
constexpr std::size_t NominalSize(std::uint8_t n) { return n <= 8 ? std::size_t{128} << n : 0; }

struct Sector {
  SectorId id;
  SectorFlags flags = 0;
  // Recorded in single density (FM) rather than double (MFM).
  bool singleDensity = false;
  // The data size the image records, and how many of those bytes it holds:
  // fewer when the file ends inside the data.
  std::uint32_t recordedSize = 0;
  std::uint32_t size = 0;
  // Where the format reader finds the data; meaningful to that reader only.
  std::int64_t location = 0;
  // For a sector read from flux: in how many of the revolutions that held
  // it both its ID and its data CRC were good. 0 of 0 for every format that
  // records no revolutions.
  std::uint8_t revolutionsGood = 0;
  std::uint8_t revolutions = 0;
  // For a sector read from flux that no revolution read well: how many bad
  // reads were voted on, byte by byte, to bytes whose data CRC holds. The
  // sector is then good (no CRC flag); 0 for every other sector.
  std::uint8_t recoveredFrom = 0;
};

// Where a track's bytes lie in the image file, for formats that lay tracks
// out there: from its first byte to just past the end its sectors record.
struct TrackExtent {
  std::int64_t start = 0;
  std::int64_t end = 0;
};

// The image file ends inside a track's records: the track holds fewer
// sectors, or less of their data, than it was written with.
struct TrackCutShort {
  // How many sectors the track's records announce (a header's count), where
  // they say and announce more than the track holds.
  std::optional<std::uint32_t> announced;
};

// How a track was read from flux, for the formats that hold flux: how many
// whole revolutions, at what data rate and rotation speed, and what the
// dump's own records got wrong for this track (empty when nothing).
struct TrackReading {
  int revolutions = 0;
  // The data rate the flux gives, in bit/s: the cell width measured over
  // the track (a drive at another speed than the disk's gives another rate,
  // 416,667 for a 500 kbit/s disk of 360 rpm read at 300 rpm); 0 when the
  // flux holds no MFM.
  std::uint32_t dataRate = 0;
  double rpm = 0;  // from the index-to-index time
  std::vector<std::string> faults;
  // Why no sector could be decoded, when none was: "no index pulse", "no
  // file track06.0.raw". Empty when the track holds sectors.
  std::string unread;
};

// The sectors of one track in recorded order. Finding a sector by its ID
// gives the first in that order, as a drive reading by ID finds it.
class Track {
 public:
  Track() = default;
  explicit Track(std::vector<Sector> sectors, std::optional<TrackExtent> extent = std::nullopt,
                 std::optional<TrackCutShort> cutShort = std::nullopt);
  Track(std::vector<Sector> sectors, TrackReading reading,
        std::optional<TrackCutShort> cutShort = std::nullopt);

  const std::vector<Sector>& Sectors() const { return sectors_; }
  const std::optional<TrackExtent>& Extent() const { return extent_; }
  // Set when the end of the file cut the track short; a sector whose data
  // the file cuts (size below recordedSize) sets it too.
  const std::optional<TrackCutShort>& CutShort() const { return cut_short_; }
  // Set for a track read from flux.
  const std::optional<TrackReading>& Reading() const { return reading_; }
  const Sector* Find(SectorId id) const;
  // The sectors after `sector` (one of this track's) that carry its ID, in
  // recorded order.
  std::vector<const Sector*> LaterWithSameId(const Sector& sector) const;

 private:
  std::vector<Sector> sectors_;
  std::optional<TrackExtent> extent_;
  std::optional<TrackCutShort> cut_short_;
  std::optional<TrackReading> reading_;
  // Position + 1 of the next sector with the same ID; 0 for none.
  std::vector<std::uint32_t> next_same_;
  // Open addressing over the IDs of long tracks: position + 1 of the first
  // sector with each ID, 0 for an empty slot. Empty for short tracks, which
  // are searched in order.
  std::vector<std::uint32_t> index_;
};

// The shape of a disk as a format's header claims it. Fields the header does
// not give stay empty.
struct ClaimedGeometry {
  std::optional<int> cylinders;
  std::optional<int> heads;
  std::optional<int> sectorsPerTrack;
  std::optional<int> sectorSize;
};

// What the image records about a disk as a whole, for listings. Fields a
// format does not have stay empty.
struct DiskInfo {
  std::string name;                        // as recorded, without padding
  std::optional<int> mediaType;            // the media byte
  std::optional<int> writeProtect;         // the write-protect byte
  std::int64_t offset = 0;                 // where the disk starts in the file
  std::optional<std::uint32_t> sizeField;  // the size the header gives
  // The location the image records for each track index; 0 = no track.
  std::vector<std::int64_t> trackLocations;
  ClaimedGeometry claimed;
  // A flux dump of a 48 tpi disk read in a 96 tpi drive: cylinder C was
  // taken from physical track 2C (the model's index stays 2 x C + head).
  bool doubleStepped = false;
};

// What the image file says as a whole.
struct ImageInfo {
  const char* format = "";
  std::int64_t fileSize = 0;
  // Bytes of the file after the end of the last disk, where the format
  // places disks one after another and the walk over them reached the end.
  std::optional<std::int64_t> bytesAfterLastDisk;
  // The disk whose size field of 0 ended the walk over the disks: no disk
  // after it can be found.
  std::optional<int> zeroSizeDisk;
  // More disks follow than a reader takes (kMaxDisks of the format).
  std::optional<int> diskLimit;
  // What the file's own records get wrong, or what of the file is not read,
  // each in words for after "IMAGE: ": "the header of track 12 at byte 4,242
  // fails its CRC; its sectors were read as it gives them".
  std::vector<std::string> faults;
  // How the reader took a layout that the file does not state itself, in
  // words: "80 cylinders, 2 heads, 9 sectors of 512 bytes: the size of a 720
  // KB disk, as its boot sector's BPB says". Empty when the file states it.
  std::string layout;
  // No format claimed the file: it was read as D88, the tool's own format,
  // whatever it holds.
  bool formatUnrecognised = false;
};

class DiskImage {
 public:
  // 86 cylinders of two heads: a disk read past its 80 or 84 cylinders.
  static constexpr int kMaxTracks = 172;

  DiskImage() = default;
  virtual ~DiskImage() = default;
  DiskImage(const DiskImage&) = delete;
  DiskImage& operator=(const DiskImage&) = delete;

  virtual ImageInfo DescribeImage() const = 0;
  virtual int DiskCount() const = 0;
  // The recorded facts of disk `disk`, 0 <= disk < DiskCount().
  virtual DiskInfo Describe(int disk) const = 0;
  // The sectors of a track of a disk; null when the disk has no such track
  // (out of range, absent, or recorded outside the disk).
  virtual std::shared_ptr<const Track> ReadTrack(int disk, int track) = 0;
  // Copies up to `length` bytes of a sector's data, from its start, to dest;
  // returns the bytes copied: at most the sector's size.
  virtual std::size_t ReadData(const Sector& sector, unsigned char* dest, std::size_t length) = 0;
  // What only a reading of the whole file finds wrong (a checksum over the
  // file), one phrase each; a lazy reader never asks. Empty for the formats
  // that record no such check.
  virtual std::vector<std::string> CheckWholeFile() { return {}; }

 protected:
  // The checks a reader makes before it indexes its tables with a caller's
  // numbers: disk `disk` is one of the image's, and track `track` one of the
  // `tracks` its table holds for each disk.
  bool HasDisk(int disk) const { return disk >= 0 && disk < DiskCount(); }
  bool HasTrack(int disk, int track, int tracks) const {
    return HasDisk(disk) && track >= 0 && track < tracks;
  }
};

#endif  // ZEFACUT_DISK_MODEL_H

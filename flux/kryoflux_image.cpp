// A KryoFlux stream file is the bytes the device sent while the track turned
// under the head, blocks one after another, each told by its first byte:
//   00-07  Flux2  2 bytes: ((first << 8) | second) ticks
//   08     Nop1   1 byte   } filler the device sends to keep its buffers in
//   09     Nop2   2 bytes  } step; nothing
//   0A     Nop3   3 bytes  }
//   0B     Ovl16  1 byte: the next flux value is 0x10000 ticks longer
//   0C     Flux3  3 bytes: 0C, then the value, big-endian 16 bits
//   0D     OOB    out of band: 0D, type, size (LE16), `size` bytes
//   0E-FF  Flux1  1 byte: its own value in ticks
// A flux value is the time from one flux change to the next, in ticks of the
// sample clock. The "stream position" counts every byte but those of OOB
// blocks: what the device buffered. The OOB blocks:
//   1  stream info: stream position (LE32), transfer time in ms (LE32); the
//      position must be the one the file reached, or bytes went missing
//   2  index: stream position (LE32) of the flux value the index pulse fell
//      in, sample counter (LE32, ticks from that value's start to the
//      pulse), index counter (LE32, ticks of the index clock)
//   3  stream end: stream position (LE32), result (LE32: 0 good, 1 the
//      device's buffer overflowed, 2 no index pulse came)
//   4  KFInfo: text, "name=value, name=value", NUL-ended; sck= and ick= give
//      the sample and index clocks in Hz when they differ from the defaults.
//      Streams without it are streams all the same, timed by the device's
//      own clocks: sck = 18.432 MHz x 73 / 14 / 4, ick = sck / 8
//   0D end of file: its size field holds 0D0D; nothing after it is read
// Index blocks are sent as the pulse comes and may name a position the file
// reaches only later, so they are placed once the whole stream is read.
#include "flux/kryoflux_image.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "disk/le_fields.h"
#include "formats/image_format.h"
#include "formats/sector_image.h"

namespace {

constexpr unsigned char kLastFlux2 = 0x07;
constexpr unsigned char kNop1 = 0x08;
constexpr unsigned char kNop2 = 0x09;
constexpr unsigned char kNop3 = 0x0A;
constexpr unsigned char kOvl16 = 0x0B;
constexpr unsigned char kFlux3 = 0x0C;
constexpr unsigned char kOutOfBand = 0x0D;

constexpr unsigned kStreamInfo = 0x01;
constexpr unsigned kIndex = 0x02;
constexpr unsigned kStreamEnd = 0x03;
constexpr unsigned kKfInfo = 0x04;
constexpr unsigned kEndOfFile = 0x0D;

constexpr std::size_t kOobHeaderSize = 4;
constexpr std::size_t kStreamInfoSize = 8;
constexpr std::size_t kIndexSize = 12;
constexpr std::size_t kStreamEndSize = 8;
constexpr std::uint32_t kOverflowStep = 0x10000;

constexpr unsigned kEndBufferOverflow = 1;
constexpr unsigned kEndNoIndex = 2;

// The sample clocks a KFInfo block may name and still be believed.
constexpr double kLowestClock = 1e6;
constexpr double kHighestClock = 1e9;

// Flux2: the block's first byte gives the value's top three bits.
constexpr std::uint32_t Flux2Value(unsigned char first, unsigned char second) {
  return static_cast<std::uint32_t>(first) << 8U | second;
}

// Flux3: the one big-endian field of the format.
constexpr std::uint32_t Flux3Value(const unsigned char* p) { return LoadBe16(p); }

// 51234 -> "51,234", as the tool writes sizes and offsets.
std::string Grouped(std::uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) {
      grouped += ',';
    }
    grouped += digits[i];
  }
  return grouped;
}

std::string AtByte(std::size_t offset) { return " at byte " + Grouped(offset); }

// A value of the file's text as a message may show it: printable ASCII, the
// rest as '?', and no longer than a clock's digits need.
std::string Printable(const std::string& text) {
  constexpr std::size_t kLongest = 24;
  std::string shown = text.substr(0, kLongest);
  for (char& ch : shown) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte > 0x7E) {
      ch = '?';
    }
  }
  return text.size() > kLongest ? shown + "..." : shown;
}

// A clock in Hz from a KFInfo value: digits with at most one point, read
// without the locale (whose decimal sign may be a comma). Zero when the
// value is no such number.
double ClockValue(const std::string& text) {
  double whole = 0;
  double scale = 0;  // 0 before the point; then the weight of the next digit
  bool digits = false;
  for (const char ch : text) {
    if (ch == '.' && scale == 0) {
      scale = 0.1;
    } else if (std::isdigit(static_cast<unsigned char>(ch)) != 0) {
      const int digit = ch - '0';
      if (scale == 0) {
        whole = whole * 10 + digit;
      } else {
        whole += digit * scale;
        scale /= 10;
      }
      digits = true;
    } else {
      return 0;
    }
    if (whole > kHighestClock * 10) {
      return 0;
    }
  }
  return digits ? whole : 0;
}

// The value of `name` in a KFInfo text ("name=KryoFlux, sck=24027428.57"),
// empty when the text names none.
std::string InfoValue(const std::string& text, const std::string& name) {
  std::string::size_type from = 0;
  while (from < text.size()) {
    std::string::size_type end = text.find(',', from);
    if (end == std::string::npos) {
      end = text.size();
    }
    std::string pair = text.substr(from, end - from);
    const std::string::size_type start = pair.find_first_not_of(' ');
    pair.erase(0, start == std::string::npos ? pair.size() : start);
    if (pair.size() > name.size() && pair.compare(0, name.size(), name) == 0 &&
        pair[name.size()] == '=') {
      std::string value = pair.substr(name.size() + 1);
      while (!value.empty() && value.back() == ' ') {
        value.pop_back();
      }
      return value;
    }
    from = end + 1;
  }
  return {};
}

class StreamReader {
 public:
  StreamReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {
    flux_.sampleClock = kKryoFluxSampleClock;
  }

  // Whether the stream showed itself one: a KFInfo block, or a stream
  // information or stream end block whose position check held.
  bool Checked() const { return checked_; }

  FluxTrack Read() {
    while (at_ < size_ && !stopped_) {
      const unsigned char header = data_[at_];
      if (header <= kLastFlux2) {
        if (Take(2)) {
          Flux(Flux2Value(header, data_[at_ + 1]), 2);
        }
      } else if (header == kNop1 || header == kNop2 || header == kNop3) {
        const std::size_t length = header - kNop1 + 1U;
        if (Take(length)) {
          Advance(length);
        }
      } else if (header == kOvl16) {
        if (pending_ > std::numeric_limits<std::uint32_t>::max() - 2 * kOverflowStep) {
          Fault("a flux interval too long to hold" + AtByte(at_));
        } else {
          pending_ += kOverflowStep;
          Advance(1);
        }
      } else if (header == kFlux3) {
        if (Take(3)) {
          Flux(Flux3Value(data_ + at_ + 1), 3);
        }
      } else if (header == kOutOfBand) {
        OutOfBand();
      } else {
        Flux(header, 1);
      }
    }
    if (!stopped_ && !ended_) {
      Fault("the stream stops" + AtByte(at_) + ", before its end");
    }
    PlaceIndexes();
    return std::move(flux_);
  }

 private:
  // Whether the block at `at_` has `length` bytes; a fault when the file
  // ends inside it.
  bool Take(std::size_t length) {
    if (size_ - at_ >= length) {
      return true;
    }
    Fault("the stream ends inside a block" + AtByte(at_));
    return false;
  }

  void Advance(std::size_t length) {
    at_ += length;
    position_ += length;
  }

  void Flux(std::uint32_t value, std::size_t length) {
    flux_.intervals.push_back(pending_ + value);
    pending_ = 0;
    Advance(length);
    ends_.push_back(position_);
  }

  void Fault(std::string phrase) {
    flux_.faults.push_back(std::move(phrase));
    stopped_ = true;
  }

  void OutOfBand() {
    const std::size_t block = at_;
    if (!Take(2)) {
      return;
    }
    const unsigned type = data_[at_ + 1];
    if (type == kEndOfFile) {
      // Its size field is no size; the stream ends here, whatever follows.
      ended_ = true;
      stopped_ = true;
      return;
    }
    if (!Take(kOobHeaderSize)) {
      return;
    }
    const std::size_t length = LoadLe16(data_ + at_ + 2);
    if (size_ - at_ - kOobHeaderSize < length) {
      Fault("the stream ends inside a block" + AtByte(block));
      return;
    }
    const unsigned char* body = data_ + at_ + kOobHeaderSize;
    const auto needs = [&](std::size_t fields, const char* what) {
      if (length >= fields) {
        return true;
      }
      Fault(std::string(what) + " block of " + std::to_string(length) + " bytes" + AtByte(block));
      return false;
    };
    switch (type) {
      case kStreamInfo:
        if (!needs(kStreamInfoSize, "a stream information")) {
          return;
        }
        if (LoadLe32(body) != position_) {
          Fault("the stream position check fails" + AtByte(block));
          return;
        }
        checked_ = true;
        break;
      case kIndex:
        if (!needs(kIndexSize, "an index")) {
          return;
        }
        if (!indexPositions_.empty() && LoadLe32(body) < indexPositions_.back()) {
          Fault("an index comes before the one sent earlier" + AtByte(block));
          return;
        }
        indexPositions_.push_back(LoadLe32(body));
        break;
      case kStreamEnd:
        if (!needs(kStreamEndSize, "a stream end")) {
          return;
        }
        if (LoadLe32(body) != position_) {
          Fault("the stream position check fails" + AtByte(block));
          return;
        }
        ended_ = true;
        checked_ = true;
        if (const std::uint32_t result = LoadLe32(body + 4); result != 0) {
          // The flux before it is whole; what the device missed is not.
          flux_.faults.push_back(
              result == kEndBufferOverflow ? "the device's buffer overflowed: flux was lost"
              : result == kEndNoIndex      ? "the device saw no index pulse"
                                      : "the stream ends with error " + std::to_string(result));
        }
        break;
      case kKfInfo:
        checked_ = true;
        Info(std::string(reinterpret_cast<const char*>(body),
                         std::find(body, body + length, '\0') - body),
             block);
        break;
      default:
        Fault("an out-of-band block of unknown type " + std::to_string(type) + AtByte(block));
        return;
    }
    at_ += kOobHeaderSize + length;
  }

  void Info(const std::string& text, std::size_t block) {
    const std::string sck = InfoValue(text, "sck");
    if (sck.empty()) {
      return;
    }
    const double clock = ClockValue(sck);
    if (clock < kLowestClock || clock > kHighestClock) {
      // The flux is still timed, by the device's usual clock, and the
      // decoder's CRCs tell whether that held.
      flux_.faults.push_back("the stream names a sample clock of '" + Printable(sck) + "'" +
                             AtByte(block) + "; the usual one was taken");
      return;
    }
    flux_.sampleClock = clock;
  }

  // Each index lies in the first interval that ends after its position:
  // intervals that end at or before it come before the pulse. An index past
  // the flux read lies after it, unless reading stopped short of it.
  void PlaceIndexes() {
    for (const std::uint64_t position : indexPositions_) {
      if (position > position_ && !ended_) {
        break;
      }
      flux_.indexes.push_back(static_cast<std::size_t>(
          std::upper_bound(ends_.begin(), ends_.end(), position) - ends_.begin()));
    }
  }

  const unsigned char* data_;
  std::size_t size_;
  std::size_t at_ = 0;
  std::uint64_t position_ = 0;
  std::uint32_t pending_ = 0;
  bool stopped_ = false;
  bool ended_ = false;
  bool checked_ = false;
  FluxTrack flux_;
  // The stream position just past each interval's last byte.
  std::vector<std::uint64_t> ends_;
  std::vector<std::uint64_t> indexPositions_;
};

FluxTrack ParseStream(const unsigned char* data, std::size_t size, bool& checked) {
  StreamReader reader(data, size);
  FluxTrack flux = reader.Read();
  checked = reader.Checked();
  return flux;
}

// A KryoFlux stream file starts with an out-of-band block (0x0D, a type from
// 1 to 4 or 0x0D) and names its maker or host in the information blocks near
// the start.
bool StartsLikeAStream(const ImageProbe& probe) {
  constexpr unsigned char kLastBlockType = kKfInfo;
  if (probe.length < kOobHeaderSize || probe.head[0] != kOutOfBand ||
      (probe.head[1] > kLastBlockType && probe.head[1] != kEndOfFile)) {
    return false;
  }
  for (const char* text : {"KryoFlux", "host_date=", "sck="}) {
    const std::size_t length = std::strlen(text);
    for (std::size_t at = 0; at + length <= probe.length; ++at) {
      if (std::memcmp(probe.head + at, text, length) == 0) {
        return true;
      }
    }
  }
  return false;
}

// A stream without KFInfo blocks starts with its flux or with a stream
// information or index block: claimed by the second only, whose size field
// is that of its type.
bool StartsWithABlockOfItsSize(const ImageProbe& probe) {
  if (probe.length < kOobHeaderSize || probe.head[0] != kOutOfBand) {
    return false;
  }
  const std::size_t length = LoadLe16(probe.head + 2);
  return (probe.head[1] == kStreamInfo && length == kStreamInfoSize) ||
         (probe.head[1] == kIndex && length == kIndexSize);
}

Confidence IdentifyKryoFlux(const ImageProbe& probe) {
  return StartsLikeAStream(probe) || StartsWithABlockOfItsSize(probe) ? kSignature : kNotThisFormat;
}

// "track06.0.raw": the name a dump gives track index `track`.
std::string FileNameOfTrack(int track) {
  const int cylinder = track / 2;
  return std::string("track") + (cylinder < 10 ? "0" : "") + std::to_string(cylinder) + "." +
         std::to_string(track % 2) + ".raw";
}

class KryoFluxSource : public FluxSource {
 public:
  explicit KryoFluxSource(std::vector<KryoFluxStreamFile> files) : files_(std::move(files)) {
    std::stable_sort(files_.begin(), files_.end(), [](const auto& a, const auto& b) {
      return a.track != b.track ? a.track < b.track : a.name < b.name;
    });
  }

  int TrackCount() const override { return files_.empty() ? 0 : files_.back().track + 1; }

  bool ReadFlux(int track, FluxTrack& flux) override {
    const auto first = std::find_if(files_.begin(), files_.end(),
                                    [track](const auto& file) { return file.track == track; });
    if (first == files_.end()) {
      // A track of a head the dump holds, short of its last cylinder, is a
      // file gone missing; any other is a track the drive did not read.
      // A dump of one file is that track alone.
      const bool headRead =
          files_.size() > 1 && std::any_of(files_.begin(), files_.end(), [track](const auto& file) {
            return file.track % 2 == track % 2;
          });
      if (track < 0 || track >= TrackCount() || !headRead) {
        return false;
      }
      flux = FluxTrack();
      flux.absent = "no file " + FileNameOfTrack(track);
      return true;
    }
    const KryoFluxStreamFile& file = *first;
    std::vector<unsigned char> read;
    const std::vector<unsigned char>* bytes = &file.bytes;
    const std::string name = file.name.empty() ? "the stream" : file.name;
    if (!file.path.empty()) {
      std::string why;
      if (!ReadFile(file.path, read, why)) {
        flux = FluxTrack();
        flux.absent = name + " cannot be read: " + why;
        return true;
      }
      bytes = &read;
    } else if (file.source) {
      if (!ReadWhole(*file.source, kMaxImageBytes, read)) {
        flux = FluxTrack();
        flux.faults.push_back(
            file.name + " cannot be read: " +
            std::strerror(file.source->Error() != 0 ? file.source->Error() : EIO));
        return true;
      }
      bytes = &read;
    }
    bool checked = false;
    flux = bytes->empty() ? FluxTrack() : ParseStream(bytes->data(), bytes->size(), checked);
    if (!checked && !StartsLikeAStream(ProbeOf(bytes->data(), bytes->size()))) {
      flux = FluxTrack();
      flux.absent = name + (bytes->empty() ? " is empty" : " is no KryoFlux stream");
      return true;
    }
    for (auto other = first + 1; other != files_.end() && other->track == track; ++other) {
      flux.faults.push_back(other->name + " holds this track too and was not read");
    }
    return true;
  }

 private:
  static bool ReadFile(const std::string& path, std::vector<unsigned char>& bytes,
                       std::string& why) {
    errno = 0;
    const std::unique_ptr<ByteSource> source = OpenFileSource(path.c_str());
    if (!source) {
      why = std::strerror(errno != 0 ? errno : ENOENT);
      return false;
    }
    if (source->Size() > kMaxImageBytes) {
      why = "it holds more than any stream of one track";
      return false;
    }
    if (!ReadWhole(*source, kMaxImageBytes, bytes)) {
      why = std::strerror(source->Error() != 0 ? source->Error() : EIO);
      return false;
    }
    return true;
  }

  std::vector<KryoFluxStreamFile> files_;
};

LoadResult LoadKryoFlux(std::unique_ptr<ByteSource> source) {
  LoadResult result;
  KryoFluxStreamFile file;
  if (!LoadWhole(*source, file.bytes, result)) {
    return result;
  }
  std::vector<KryoFluxStreamFile> files;
  files.push_back(std::move(file));
  result.image = MakeKryoFluxDump(std::move(files));
  return result;
}

}  // namespace

const ImageFormat kKryoFluxFormat = {"KryoFlux stream", "raw", IdentifyKryoFlux, LoadKryoFlux,
                                     true};

FluxTrack ParseKryoFluxStream(const unsigned char* data, std::size_t size) {
  bool checked = false;
  return ParseStream(data, size, checked);
}

int KryoFluxTrackOfName(const std::string& fileName) {
  constexpr char kPrefix[] = "track";
  constexpr char kSuffix[] = ".raw";
  constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;
  constexpr std::size_t kSuffixLength = sizeof kSuffix - 1;
  const auto sameLetters = [&fileName](std::size_t at, const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
      if (std::tolower(static_cast<unsigned char>(fileName[at + i])) != text[i]) {
        return false;
      }
    }
    return true;
  };
  // track, two digits or more, a point, the head, .raw
  if (fileName.size() < kPrefixLength + 2 + 2 + kSuffixLength ||
      !sameLetters(0, kPrefix, kPrefixLength) ||
      !sameLetters(fileName.size() - kSuffixLength, kSuffix, kSuffixLength)) {
    return -1;
  }
  const std::size_t headAt = fileName.size() - kSuffixLength - 1;
  const char head = fileName[headAt];
  if (fileName[headAt - 1] != '.' || (head != '0' && head != '1')) {
    return -1;
  }
  const std::size_t digitsEnd = headAt - 1;
  if (digitsEnd - kPrefixLength < 2) {
    return -1;
  }
  int cylinder = 0;
  for (std::size_t i = kPrefixLength; i < digitsEnd; ++i) {
    const auto ch = static_cast<unsigned char>(fileName[i]);
    if (std::isdigit(ch) == 0) {
      return -1;
    }
    cylinder = cylinder * 10 + (ch - '0');
    if (cylinder > kMaxNamedCylinder) {
      return -1;
    }
  }
  return 2 * cylinder + (head - '0');
}

std::unique_ptr<FluxSource> MakeKryoFluxSource(std::vector<KryoFluxStreamFile> files) {
  return std::make_unique<KryoFluxSource>(std::move(files));
}

std::unique_ptr<DiskImage> MakeKryoFluxDump(std::vector<KryoFluxStreamFile> files) {
  std::int64_t size = 0;
  DiskInfo info;
  // The files of tracks past the model's are not read, but told.
  int highestTrack = -1;
  for (const KryoFluxStreamFile& file : files) {
    highestTrack = std::max(highestTrack, file.track);
  }
  std::vector<std::string> faults;
  if (highestTrack >= DiskImage::kMaxTracks) {
    faults.push_back(TracksPastLimit(highestTrack + 1));
    files.erase(std::remove_if(files.begin(), files.end(),
                               [](const KryoFluxStreamFile& file) {
                                 return file.track >= DiskImage::kMaxTracks;
                               }),
                files.end());
  }
  // A dump has no header to claim a shape: the tracks its files hold are
  // listed as they read.
  for (const KryoFluxStreamFile& file : files) {
    if (file.source) {
      size += std::max<std::int64_t>(file.source->Size(), 0);
    } else if (file.path.empty()) {
      size += static_cast<std::int64_t>(file.bytes.size());
    } else if (const std::unique_ptr<ByteSource> source = OpenFileSource(file.path.c_str())) {
      size += std::max<std::int64_t>(source->Size(), 0);
    }
  }
  return MakeFluxImage(kKryoFluxFormat.name, size, std::move(info),
                       MakeKryoFluxSource(std::move(files)), std::move(faults));
}

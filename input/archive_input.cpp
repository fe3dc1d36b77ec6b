// libarchive's input callbacks over a ByteSource, and the gzip inflater.
//
// gzip data is unpacked here with zlib rather than by libarchive's gzip
// filter, which does not check the CRC and length each gzip member ends
// with: a damaged .gz would give wrong bytes without a word. zlib checks
// both. libarchive is given the unpacked bytes, a tar archive or the single
// file. A gzip file is members one after another, as gzip(1) writes them:
//   10-byte header 1F 8B 08 FLG MTIME(4) XFL OS, optional fields by FLG,
//   deflate data, CRC-32 (4, little-endian), length mod 2^32 (4)
// Bytes after the last member that start no member (tape padding) end the
// data, as gzip(1) ignores them.
#include "input/archive_input.h"

#include <archive.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

#define ZLIB_CONST  // input bytes as const
#include <zlib.h>

#include "input/byte_source.h"

// The source read in blocks: libarchive is shown each block it asks for, and
// a position kept here (the source has none), never past the source's end.
struct ArchiveInput::Blocks {
  explicit Blocks(ByteSource& from) : source(from), size(std::max<std::int64_t>(from.Size(), 0)) {}

  static la_ssize_t Read(archive* reader, void* data, const void** buffer) {
    auto* blocks = static_cast<Blocks*>(data);
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(
        blocks->size - blocks->position, static_cast<std::int64_t>(blocks->block.size())));
    const std::size_t got =
        wanted == 0 ? 0 : blocks->source.ReadAt(blocks->position, blocks->block.data(), wanted);
    if (got < wanted && blocks->source.Error() != 0) {
      archive_set_error(reader, blocks->source.Error(), "the archive file cannot be read");
      return -1;
    }
    blocks->position += static_cast<std::int64_t>(got);
    *buffer = blocks->block.data();
    return static_cast<la_ssize_t>(got);
  }

  static la_int64_t Seek(archive* reader, void* data, la_int64_t offset, int whence) {
    auto* blocks = static_cast<Blocks*>(data);
    std::int64_t base = 0;
    if (whence == SEEK_CUR) {
      base = blocks->position;
    } else if (whence == SEEK_END) {
      base = blocks->size;
    } else if (whence != SEEK_SET) {
      return ARCHIVE_FATAL;
    }
    // Kept within the source: libarchive is never shown a position past its
    // end.
    if (offset < -base) {
      archive_set_error(reader, EINVAL, "a position before the start of the archive file");
      return ARCHIVE_FATAL;
    }
    blocks->position = offset > blocks->size - base ? blocks->size : base + offset;
    return blocks->position;
  }

  static la_int64_t Skip(archive* reader, void* data, la_int64_t request) {
    auto* blocks = static_cast<Blocks*>(data);
    const std::int64_t from = blocks->position;
    if (request < 0) {
      return 0;  // libarchive reads through instead
    }
    const std::int64_t to = Seek(reader, data, request, SEEK_CUR);
    return to < from ? 0 : to - from;
  }

  ByteSource& source;
  const std::int64_t size;
  std::int64_t position = 0;
  std::vector<unsigned char> block = std::vector<unsigned char>(std::size_t{64} << 10);
};

// The bytes of a gzip file's members, unpacked one after another (see the top
// of this file).
class ArchiveInput::Inflater {
 public:
  explicit Inflater(Blocks& blocks) : blocks_(blocks) {}
  ~Inflater() {
    if (ready_) {
      inflateEnd(&stream_);
    }
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Empty when zlib is ready, otherwise why not.
  std::string Start() {
    if (inflateInit2(&stream_, 16 + MAX_WBITS) != Z_OK) {  // 16: gzip members only
      return "gzip decompression cannot start";
    }
    ready_ = true;
    return std::string();
  }

  static la_ssize_t Read(archive* reader, void* data, const void** buffer) {
    return static_cast<Inflater*>(data)->ReadSome(reader, buffer);
  }

 private:
  la_ssize_t ReadSome(archive* reader, const void** buffer) {
    *buffer = out_.data();
    stream_.next_out = out_.data();
    stream_.avail_out = static_cast<uInt>(out_.size());
    while (!ended_ && stream_.avail_out == out_.size()) {
      if (stream_.avail_in == 0 && !Refill(reader)) {
        return -1;
      }
      if (betweenMembers_) {
        if (stream_.avail_in == 0 || stream_.next_in[0] != 0x1F) {
          ended_ = true;  // the end of the file, or bytes that start no member
          break;
        }
        betweenMembers_ = false;
      }
      if (stream_.avail_in == 0) {
        archive_set_error(reader, EILSEQ, "the gzip data is cut short");
        return -1;
      }
      const int status = inflate(&stream_, Z_NO_FLUSH);
      if (status == Z_STREAM_END) {
        // The member's CRC and length held.
        if (inflateReset(&stream_) != Z_OK) {
          archive_set_error(reader, EIO, "gzip decompression failed");
          return -1;
        }
        betweenMembers_ = true;
      } else if (status != Z_OK && status != Z_BUF_ERROR) {
        archive_set_error(reader, EILSEQ, "damaged gzip data (%s)",
                          stream_.msg != nullptr ? stream_.msg : "no detail");
        return -1;
      }
    }
    return static_cast<la_ssize_t>(out_.size() - stream_.avail_out);
  }

  // Reads the next block of the source as input; false on a read error. At
  // the end of the source the input stays empty.
  bool Refill(archive* reader) {
    const void* block = nullptr;
    const la_ssize_t got = Blocks::Read(reader, &blocks_, &block);
    if (got < 0) {
      return false;
    }
    stream_.next_in = static_cast<const Bytef*>(block);
    stream_.avail_in = static_cast<uInt>(got);
    return true;
  }

  Blocks& blocks_;
  z_stream stream_{};
  bool ready_ = false;
  bool betweenMembers_ = false;
  bool ended_ = false;
  std::vector<unsigned char> out_ = std::vector<unsigned char>(std::size_t{64} << 10);
};

ArchiveInput::ArchiveInput(ByteSource& source, bool gzip)
    : blocks_(std::make_unique<Blocks>(source)),
      inflater_(gzip ? std::make_unique<Inflater>(*blocks_) : nullptr) {}

ArchiveInput::~ArchiveInput() = default;

std::string ArchiveInput::Open(archive* reader) {
  int status = ARCHIVE_OK;
  if (inflater_) {
    std::string reason = inflater_->Start();
    if (!reason.empty()) {
      return reason;
    }
    status = archive_read_set_callback_data(reader, inflater_.get());
    if (status == ARCHIVE_OK) {
      status = archive_read_set_read_callback(reader, Inflater::Read);
    }
  } else {
    status = archive_read_set_callback_data(reader, blocks_.get());
    if (status == ARCHIVE_OK) {
      status = archive_read_set_read_callback(reader, Blocks::Read);
    }
    if (status == ARCHIVE_OK) {
      status = archive_read_set_seek_callback(reader, Blocks::Seek);
    }
    if (status == ARCHIVE_OK) {
      status = archive_read_set_skip_callback(reader, Blocks::Skip);
    }
  }
  if (status != ARCHIVE_OK || archive_read_open1(reader) != ARCHIVE_OK) {
    return ArchiveError(reader, "the archive cannot be read");
  }
  return std::string();
}

namespace {

// A code in parentheses at the end of a message, "(-5)" or "(error 9)":
// the code, with the message before it; false when there is none.
bool TrailingCode(const std::string& text, std::string& before, long& code) {
  const std::string::size_type open = text.rfind('(');
  if (open == std::string::npos || text.empty() || text.back() != ')') {
    return false;
  }
  std::string inside = text.substr(open + 1, text.size() - open - 2);
  if (inside.rfind("error ", 0) == 0) {
    inside.erase(0, 6);
  }
  const std::size_t digits = inside.size() - (!inside.empty() && inside[0] == '-' ? 1 : 0);
  if (digits == 0 || digits > 9 ||
      inside.find_first_not_of("0123456789", inside.size() - digits) != std::string::npos) {
    return false;
  }
  code = std::stol(inside);
  before = text.substr(0, open);
  while (!before.empty() && before.back() == ' ') {
    before.pop_back();
  }
  return true;
}

}  // namespace

std::string ErrorInWords(const std::string& text) {
  std::string before;
  long code = 0;
  if (!TrailingCode(text, before, code)) {
    return text;
  }
  // zlib's codes, which libarchive's deflate readers give as they are.
  constexpr long kZlibBufError = -5;  // the input ended before the data did
  constexpr long kZlibDataError = -3;
  constexpr char kFailed[] = "decompression failed";
  const std::size_t failedLength = sizeof kFailed - 1;
  if (before.size() >= failedLength &&
      (before.compare(before.size() - failedLength, failedLength, kFailed) == 0 ||
       before.compare(before.size() - failedLength, failedLength, "Decompression failed") == 0) &&
      (code == kZlibBufError || code == kZlibDataError)) {
    std::string what = before.substr(0, before.size() - failedLength);
    while (!what.empty() && what.back() == ' ') {
      what.pop_back();
    }
    return "the " + (what.empty() ? std::string() : what + " ") + "data is " +
           (code == kZlibBufError ? "cut short" : "damaged");
  }
  return before;
}

std::string ArchiveError(archive* reader, const char* otherwise) {
  const char* text = archive_error_string(reader);
  return text != nullptr && *text != '\0' ? ErrorInWords(text) : std::string(otherwise);
}

#include "input/byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/input_file.h"
#include "platform/portable.h"

namespace {

class FileSource : public ByteSource {
 public:
  FileSource(std::FILE* stream, std::int64_t size) : stream_(stream), size_(size) {}
  ~FileSource() override { std::fclose(stream_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  std::int64_t Size() const override { return size_; }
  int Error() const override { return error_; }

  std::size_t ReadAt(std::int64_t offset, unsigned char* dest, std::size_t length) override {
    if (dest == nullptr || offset < 0 || offset >= size_) {
      return 0;
    }
    length = static_cast<std::size_t>(std::min<std::int64_t>(
        static_cast<std::int64_t>(std::min<std::size_t>(length, kMaxRead)), size_ - offset));
    errno = 0;
    if (!SeekFile(stream_, offset)) {
      Fail();
      return 0;
    }
    const std::size_t got = std::fread(dest, 1, length, stream_);
    if (got < length && std::ferror(stream_) != 0) {
      Fail();
    }
    return got;
  }

 private:
  // One read takes at most this much; callers ask for blocks far smaller.
  static constexpr std::size_t kMaxRead = std::size_t{1} << 30;

  void Fail() {
    if (error_ == 0) {
      error_ = errno != 0 ? errno : EIO;
    }
  }

  std::FILE* stream_;
  std::int64_t size_;
  int error_ = 0;
};

class BytesSource : public ByteSource {
 public:
  explicit BytesSource(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}

  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  int Error() const override { return 0; }

  std::size_t ReadAt(std::int64_t offset, unsigned char* dest, std::size_t length) override {
    if (dest == nullptr || offset < 0 || offset >= Size()) {
      return 0;
    }
    const auto start = static_cast<std::size_t>(offset);
    const std::size_t count = std::min(length, bytes_.size() - start);
    std::memcpy(dest, bytes_.data() + start, count);
    return count;
  }

 private:
  std::vector<unsigned char> bytes_;
};

}  // namespace

struct Spool::File {
  explicit File(std::FILE* opened) : stream(opened) {}
  ~File() { std::fclose(stream); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  std::FILE* stream;
};

namespace {

// One piece of a spool's file: [start, start + size).
class SpoolSource : public ByteSource {
 public:
  SpoolSource(std::shared_ptr<Spool::File> file, std::int64_t start, std::int64_t size)
      : file_(std::move(file)), start_(start), size_(size) {}

  std::int64_t Size() const override { return size_; }
  int Error() const override { return error_; }

  std::size_t ReadAt(std::int64_t offset, unsigned char* dest, std::size_t length) override {
    if (dest == nullptr || offset < 0 || offset >= size_) {
      return 0;
    }
    length = static_cast<std::size_t>(std::min<std::int64_t>(
        static_cast<std::int64_t>(std::min(length, kMaxRead)), size_ - offset));
    errno = 0;
    if (!SeekFile(file_->stream, start_ + offset)) {
      Fail();
      return 0;
    }
    const std::size_t got = std::fread(dest, 1, length, file_->stream);
    if (got < length) {
      // The spool wrote these bytes: any shortfall is a failed read.
      Fail();
      std::clearerr(file_->stream);
    }
    return got;
  }

 private:
  static constexpr std::size_t kMaxRead = std::size_t{1} << 30;

  void Fail() {
    if (error_ == 0) {
      error_ = errno != 0 ? errno : EIO;
    }
  }

  std::shared_ptr<Spool::File> file_;
  std::int64_t start_;
  std::int64_t size_;
  int error_ = 0;
};

}  // namespace

int Spool::Begin() {
  if (!file_) {
    int error = 0;
    std::FILE* stream = OpenScratchFile(error);
    if (stream == nullptr) {
      return error != 0 ? error : EIO;
    }
    file_ = std::make_shared<File>(stream);
  }
  end_ = start_;
  return 0;
}

int Spool::Write(const unsigned char* data, std::size_t length) {
  if (!file_) {
    return EBADF;
  }
  if (length == 0) {
    return 0;
  }
  if (static_cast<std::uint64_t>(length) >
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() - end_)) {
    return EFBIG;
  }
  errno = 0;
  // A source of an earlier piece may have read since: back to the end.
  if (!SeekFile(file_->stream, end_) || std::fwrite(data, 1, length, file_->stream) != length) {
    const int error = errno != 0 ? errno : EIO;
    std::clearerr(file_->stream);
    return error;
  }
  end_ += static_cast<std::int64_t>(length);
  return 0;
}

std::unique_ptr<ByteSource> Spool::End() {
  if (!file_) {
    return MemorySource({});
  }
  // Written out before any source reads it back (a seek flushes too).
  static_cast<void>(std::fflush(file_->stream));
  auto piece = std::make_unique<SpoolSource>(file_, start_, end_ - start_);
  start_ = end_;
  return piece;
}

std::unique_ptr<ByteSource> OpenFileSource(const char* path, bool* notRegular) {
  const InputFile file = OpenInputFile(path);
  if (file.stream == nullptr) {
    if (notRegular != nullptr) {
      *notRegular = file.notRegular;
    }
    errno = file.notRegular ? EINVAL : file.error;
    return nullptr;
  }
  std::FILE* stream = file.stream;
  // Readers keep their own blocks: a second buffer would only copy twice.
  static_cast<void>(std::setvbuf(stream, nullptr, _IONBF, 0));
  const std::int64_t size = FileLength(stream);
  if (size < 0) {
    const int error = errno != 0 ? errno : EIO;
    std::fclose(stream);
    errno = error;
    return nullptr;
  }
  return std::make_unique<FileSource>(stream, size);
}

std::unique_ptr<ByteSource> MemorySource(std::vector<unsigned char> bytes) {
  return std::make_unique<BytesSource>(std::move(bytes));
}

bool ReadWhole(ByteSource& source, std::int64_t limit, std::vector<unsigned char>& bytes) {
  const std::int64_t size = source.Size();
  if (size < 0 || size > limit) {
    return false;
  }
  bytes.assign(static_cast<std::size_t>(size), 0);
  return source.ReadAt(0, bytes.data(), bytes.size()) == bytes.size() || size == 0;
}

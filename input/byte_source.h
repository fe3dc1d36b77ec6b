// Where a format reader takes an image's bytes from: a file on disk, or the
// bytes of an archive member already in memory.
#ifndef ZEFACUT_INPUT_BYTE_SOURCE_H
#define ZEFACUT_INPUT_BYTE_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

// How many of a file's first bytes tell what it is: an image of which
// format, or an archive of which kind.
constexpr std::size_t kProbeSize = 4096;

// No image of a floppy disk, even a file of many disks, comes near this
// size. Readers that take a whole file into memory stop at it, and so does
// the archive reader, for which a member that claims more (or unpacks to
// more) is most likely a decompression bomb.
constexpr std::int64_t kMaxImageBytes = std::int64_t{64} << 20;

class ByteSource {
 public:
  ByteSource() = default;
  virtual ~ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  virtual std::int64_t Size() const = 0;
  // Copies what the source holds of [offset, offset + length) to dest;
  // returns the bytes copied, fewer where the source ends or a read fails.
  virtual std::size_t ReadAt(std::int64_t offset, unsigned char* dest, std::size_t length) = 0;
  // The system's error number of the first read that failed for another
  // reason than the end of the bytes; 0 when none did.
  virtual int Error() const = 0;
};

// The file at `path`, read unbuffered; null (with errno set) when it cannot
// be opened or its size cannot be found, as for a folder (EISDIR). A path
// that leads to no plain file (a FIFO, a device) is not read from at all: null,
// with `notRegular` set when given (errno EINVAL).
std::unique_ptr<ByteSource> OpenFileSource(const char* path, bool* notRegular = nullptr);

// Bytes in memory.
std::unique_ptr<ByteSource> MemorySource(std::vector<unsigned char> bytes);

// The whole of a source in memory, when it holds at most `limit` bytes and
// reads whole; false otherwise.
bool ReadWhole(ByteSource& source, std::int64_t limit, std::vector<unsigned char>& bytes);

#endif  // ZEFACUT_INPUT_BYTE_SOURCE_H

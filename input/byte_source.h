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

// A flux dump is larger: a few revolutions of each track of a high-density
// disk come to about 100 MiB, and many more to several hundred. Such a dump,
// when it comes out of an archive or standard input, is unpacked to a
// scratch file (see Spool) up to this size.
constexpr std::int64_t kMaxFluxBytes = std::int64_t{1} << 30;

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

// Bytes unpacked from an archive or read from standard input that may be too
// many for memory, written in order into one scratch file with no name
// (OpenScratchFile) and read back as sources of their own: each piece is
// what was written from a Begin to its End. The file is made at the first
// Begin, and goes once the spool and every source of it are gone.
class Spool {
 public:
  Spool() = default;
  ~Spool() = default;
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  // Starts a new piece, in place of one begun and never ended; 0, or the
  // system's error number when no scratch file can be made (ENOSYS where the
  // system has no files).
  int Begin();
  // Adds to the piece; 0, or the system's error number (ENOSPC, say).
  int Write(const unsigned char* data, std::size_t length);
  // The bytes of the piece so far.
  std::int64_t Length() const { return end_ - start_; }
  // The piece, as a source of its own.
  std::unique_ptr<ByteSource> End();

  struct File;  // the scratch file, shared with the sources of its pieces

 private:
  std::shared_ptr<File> file_;
  std::int64_t start_ = 0;
  std::int64_t end_ = 0;
};

// The whole of a source in memory, when it holds at most `limit` bytes and
// reads whole; false otherwise.
bool ReadWhole(ByteSource& source, std::int64_t limit, std::vector<unsigned char>& bytes);

#endif  // ZEFACUT_INPUT_BYTE_SOURCE_H

#include "cutter/cut.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "cutter/cut_buffer.h"
#include "cutter/main.h"
#include "platform/portable.h"

namespace {

int writeFailures = 0;

void ReportWriteError(const char* name, int error) {
  std::fflush(stdout);
  std::fprintf(stderr, "error: cannot write %s: %s\n", name, std::strerror(error));
}

// The bytes go to a temporary file first, which takes the name only once it
// is complete: a failed write never leaves a file that looks whole, and an
// older good file of that name survives it.
bool WriteWholeFile(const char* name, const unsigned char* data, std::size_t size) {
  const std::string temporary = std::string(name) + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    ReportWriteError(name, errno);
    return false;
  }
  // The bytes go out in one write; a stream buffer would only copy them.
  static_cast<void>(std::setvbuf(file, nullptr, _IONBF, 0));
  int error = 0;
  if (size > 0 && std::fwrite(data, 1, size, file) != size) {
    error = errno;
  }
  if (std::fclose(file) != 0 && error == 0) {
    error = errno;
  }
  if (error == 0 && RenameReplacing(temporary.c_str(), name) != 0) {
    error = errno;
  }
  if (error != 0) {
    std::remove(temporary.c_str());
    ReportWriteError(name, error);
    return false;
  }
  return true;
}

}  // namespace

bool CutFile(const char* name, int track, int c, int h, int r, int n, int offset, int length) {
  if (offset < 0 || length < 0 ||
      static_cast<std::int64_t>(offset) + length > static_cast<std::int64_t>(kCutBufferSize)) {
    return false;
  }
  const int got = Image.ReadSectors(track, c, h, r, n, CutBuffer, offset + length);
  if (got <= 0) {
    return false;
  }
  std::printf("cutting ... %s\n", name);
  // Only bytes this run delivered go to the file; the rest of the buffer
  // holds data of earlier reads.
  int own = got - offset;
  if (own < 0) {
    own = 0;
  }
  if (own < length) {
    std::fflush(stdout);
    std::fprintf(stderr, "warning: %s: only %d of %d bytes could be read\n", name, own, length);
  }
  if (!WriteWholeFile(name, CutBuffer + offset, static_cast<std::size_t>(own))) {
    ++writeFailures;
    return false;
  }
  return true;
}

int CutWriteFailures() { return writeFailures; }

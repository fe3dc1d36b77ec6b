#include "platform/portable.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#ifdef _WIN32

void UseBinaryStandardStreams() {
  static_cast<void>(_setmode(_fileno(stdout), _O_BINARY));
  static_cast<void>(_setmode(_fileno(stderr), _O_BINARY));
}

namespace {

int ErrnoFromWindowsError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return EIO;
  }
}

}  // namespace

// rename() on Windows refuses to replace an existing file. MoveFileEx does,
// and takes names in the same ANSI code page that fopen() does.
int RenameReplacing(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0) {
    return 0;
  }
  errno = ErrnoFromWindowsError(GetLastError());
  return -1;
}

#else

void UseBinaryStandardStreams() {}

// POSIX rename() replaces the target in one step.
int RenameReplacing(const char* from, const char* to) { return std::rename(from, to); }

#endif

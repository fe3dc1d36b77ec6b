#include "platform/portable.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#else
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/random.h>
#endif

namespace {

// How many names CreateTemporaryBeside tries before it gives up.
constexpr int kTemporaryAttempts = 100;

// Where the folder part of a path ends: after its last separator.
std::string::size_type FolderEnd(const std::string& path) {
#ifdef _WIN32
  const auto at = path.find_last_of("/\\:");
#else
  const auto at = path.find_last_of('/');
#endif
  return at == std::string::npos ? 0 : at + 1;
}

// A seed for the names of one run's temporary files. random_device may be
// deterministic on some systems; the clock keeps runs apart there, and the
// exclusive create and its retries keep a clash harmless.
std::uint64_t Seed() {
  const auto now =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::uint64_t random = 0;
#ifdef __linux__
  if (getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    random = 0;
  }
#else
  std::random_device device;
  random = static_cast<std::uint64_t>(device()) << 32U ^ device();
#endif
  const std::uint64_t seed = random ^ (now * 0x9E3779B97F4A7C15ULL);
  return seed != 0 ? seed : 0x9E3779B97F4A7C15ULL;
}

int CreateFoldersAt(const std::filesystem::path& path, bool* created) {
  std::error_code error;
  const bool made = std::filesystem::create_directories(path, error);
  if (created != nullptr) {
    *created = made && !error;
  }
  if (error) {
    return error.value() != 0 ? error.value() : EIO;
  }
  return std::filesystem::is_directory(path, error) ? 0 : ENOTDIR;
}

}  // namespace

#ifdef _WIN32

namespace {

std::wstring Widen(const std::string& utf8) {
  const int size = static_cast<int>(utf8.size());
  const int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), wide);
  return text;
}

std::string Narrow(const wchar_t* wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) {
    return std::string();
  }
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
  text.resize(static_cast<std::size_t>(size - 1));
  return text;
}

}  // namespace

std::FILE* OpenFile(const char* path, const char* mode) {
  return _wfopen(Widen(path).c_str(), Widen(mode).c_str());
}

bool SeekFile(std::FILE* stream, std::int64_t offset) {
  return _fseeki64(stream, offset, SEEK_SET) == 0;
}

std::int64_t FileLength(std::FILE* stream) {
  return _fseeki64(stream, 0, SEEK_END) == 0 ? _ftelli64(stream) : -1;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr && count == argc) {
    for (int i = 0; i < count; ++i) {
      arguments.push_back(Narrow(wide[i]));
    }
  } else {
    for (int i = 0; i < argc; ++i) {
      arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
  }
  if (wide != nullptr) {
    LocalFree(wide);
  }
  return arguments;
}

int RemoveFile(const char* path) { return _wremove(Widen(path).c_str()); }

int CreateFolders(const std::string& path, bool* created) {
  // A path made from the wide string: UTF-8 does not reach the system whole
  // through std::filesystem's narrow conversions here.
  return CreateFoldersAt(std::filesystem::path(Widen(path)), created);
}

bool ConsoleIsOurs() {
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

void WaitForEnter(std::FILE* prompt) {
  std::fputs("Press Enter to close this window.\n", prompt);
  std::fflush(prompt);
  int ch = 0;
  while ((ch = std::getchar()) != EOF && ch != '\n') {
  }
}

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

// rename() on Windows refuses to replace an existing file. MoveFileEx does.
int RenameReplacing(const char* from, const char* to) {
  if (MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0) {
    return 0;
  }
  errno = ErrnoFromWindowsError(GetLastError());
  return -1;
}

StreamKind KindOfStream(std::FILE* stream) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0) {
    return StreamKind::WindowsConsole;
  }
  return StreamKind::File;
}

bool WriteToConsole(std::FILE* stream, const std::string& utf8) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || GetConsoleMode(handle, &mode) == 0) {
    return false;
  }
  const int size = static_cast<int>(utf8.size());
  const int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), wide);
  std::fflush(stream);
  DWORD written = 0;
  return WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) !=
         0;
}

std::optional<FileIdentity> IdentifyFile(const char* path) {
  // Opening for no access at all still gives the file's index, even for a
  // file that another program has open.
  HANDLE handle =
      CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  BY_HANDLE_FILE_INFORMATION information;
  const bool known = GetFileInformationByHandle(handle, &information) != 0;
  CloseHandle(handle);
  if (!known) {
    return std::nullopt;
  }
  FileIdentity identity;
  identity.device = information.dwVolumeSerialNumber;
  identity.file =
      static_cast<std::uint64_t>(information.nFileIndexHigh) << 32U | information.nFileIndexLow;
  return identity;
}

namespace {

// A new file only: an existing one of that name is never taken over.
int CreateNewFile(const std::string& name) {
  return _wopen(Widen(name).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                _S_IREAD | _S_IWRITE);
}

int WriteSome(int descriptor, const unsigned char* data, std::size_t size) {
  // _write takes an unsigned int count.
  constexpr std::size_t kMost = std::size_t{1} << 30U;
  return _write(descriptor, data, static_cast<unsigned>(size < kMost ? size : kMost));
}

int CloseRaw(int descriptor) { return _close(descriptor); }

// Windows has no convention of hidden names.
constexpr char kTemporaryPrefix[] = "";

}  // namespace

#else

void UseBinaryStandardStreams() {}

std::FILE* OpenFile(const char* path, const char* mode) { return std::fopen(path, mode); }

bool SeekFile(std::FILE* stream, std::int64_t offset) {
  return offset <= std::numeric_limits<off_t>::max() &&
         fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::int64_t FileLength(std::FILE* stream) {
  return fseeko(stream, 0, SEEK_END) == 0 ? static_cast<std::int64_t>(ftello(stream)) : -1;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  arguments.reserve(argc > 0 ? static_cast<std::size_t>(argc) : 0);
  for (int i = 0; i < argc; ++i) {
    arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  }
  return arguments;
}

int RemoveFile(const char* path) { return std::remove(path); }

int CreateFolders(const std::string& path, bool* created) {
  return CreateFoldersAt(std::filesystem::path(path), created);
}

bool ConsoleIsOurs() { return false; }

void WaitForEnter(std::FILE* /*prompt*/) {}

StreamKind KindOfStream(std::FILE* stream) {
  if (isatty(fileno(stream)) == 0) {
    return StreamKind::File;
  }
  // The locale's character set as the environment names it, the first of
  // LC_ALL, LC_CTYPE and LANG that is set.
  const char* locale = nullptr;
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
    if (value != nullptr && value[0] != '\0') {
      locale = value;
      break;
    }
  }
  if (locale == nullptr) {
    return StreamKind::OtherTerminal;
  }
  std::string lower;
  for (const char* p = locale; *p != '\0'; ++p) {
    lower += static_cast<char>(*p >= 'A' && *p <= 'Z' ? *p - 'A' + 'a' : *p);
  }
  return lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos
             ? StreamKind::Utf8Terminal
             : StreamKind::OtherTerminal;
}

bool WriteToConsole(std::FILE* /*stream*/, const std::string& /*utf8*/) { return false; }

// POSIX rename() replaces the target in one step.
int RenameReplacing(const char* from, const char* to) { return std::rename(from, to); }

std::optional<FileIdentity> IdentifyFile(const char* path) {
  struct stat status {};
  if (stat(path, &status) != 0) {
    return std::nullopt;
  }
  FileIdentity identity;
  identity.device = static_cast<std::uint64_t>(status.st_dev);
  identity.file = static_cast<std::uint64_t>(status.st_ino);
  return identity;
}

namespace {

// A new file only: an existing one of that name is never taken over.
int CreateNewFile(const std::string& name) {
  return open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

ssize_t WriteSome(int descriptor, const unsigned char* data, std::size_t size) {
  return write(descriptor, data, size);
}

int CloseRaw(int descriptor) { return close(descriptor); }

// A name that directory listings leave out.
constexpr char kTemporaryPrefix[] = ".";

}  // namespace

#endif

TemporaryNamer::TemporaryNamer() : state_(Seed()) {}

std::string TemporaryNamer::Next() {
  // xorshift64*: a different name each call from the one seed.
  state_ ^= state_ >> 12U;
  state_ ^= state_ << 25U;
  state_ ^= state_ >> 27U;
  std::uint64_t value = state_ * 0x2545F4914F6CDD1DULL;
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string part;
  for (int i = 0; i < 8; ++i) {
    part += kDigits[value % 36];
    value /= 36;
  }
  return part;
}

int CreateTemporaryBeside(const std::string& target, std::string& name, TemporaryNamer& namer) {
  const std::string folder = target.substr(0, FolderEnd(target));
  const std::string base = target.substr(FolderEnd(target));
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    name = folder;
    name += kTemporaryPrefix;
    name += base;
    name += '.';
    name += namer.Next();
    name += ".zefacut-tmp";
    const int descriptor = CreateNewFile(name);
    if (descriptor >= 0 || errno != EEXIST) {
      return descriptor;
    }
  }
  errno = EEXIST;
  return -1;
}

int WriteAll(int descriptor, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const auto done = WriteSome(descriptor, data, size);
    if (done < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno != 0 ? errno : EIO;
    }
    if (done == 0) {
      return EIO;
    }
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return 0;
}

int CloseDescriptor(int descriptor) { return CloseRaw(descriptor) == 0 ? 0 : errno; }

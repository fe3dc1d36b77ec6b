#include "platform/portable.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
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

constexpr char kTemporarySuffix[] = ".zefacut-tmp";

// The temporary file being written, for a signal handler to remove: its
// path, and whether it holds one. Written only while the flag is clear.
char g_temporary[4096];
volatile std::sig_atomic_t g_holdsTemporary = 0;

void HoldTemporary(const std::string& name) {
  g_holdsTemporary = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  // A name too long for the buffer is left to a later run.
  if (name.size() < sizeof g_temporary) {
    std::memcpy(g_temporary, name.c_str(), name.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g_holdsTemporary = 1;
  }
}

void ReleaseTemporary() {
  g_holdsTemporary = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

// The process id a temporary's name carries: ".NAME.PID-RANDOM" and the
// suffix (without the dot on Windows); 0 when the name is no temporary's.
unsigned long RunOfTemporary(const std::string& name, const char* prefix) {
  const std::size_t prefixSize = std::strlen(prefix);
  const std::size_t suffixSize = sizeof kTemporarySuffix - 1;
  if (name.size() <= prefixSize + suffixSize || name.compare(0, prefixSize, prefix) != 0 ||
      name.compare(name.size() - suffixSize, suffixSize, kTemporarySuffix) != 0) {
    return 0;
  }
  const std::string stem = name.substr(0, name.size() - suffixSize);
  const std::string::size_type dot = stem.find_last_of('.');
  if (dot == std::string::npos || dot < prefixSize + 1) {
    return 0;
  }
  const std::string part = stem.substr(dot + 1);
  const std::string::size_type dash = part.find('-');
  // Ten digits hold any process id; more would overflow.
  if (dash == std::string::npos || dash == 0 || dash > 10 || part.size() - dash - 1 != 8) {
    return 0;
  }
  unsigned long run = 0;
  for (std::size_t i = 0; i < dash; ++i) {
    if (part[i] < '0' || part[i] > '9') {
      return 0;
    }
    run = run * 10 + static_cast<unsigned long>(part[i] - '0');
  }
  return run;
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

unsigned long OwnRun() { return GetCurrentProcessId(); }

bool RunIsGone(unsigned long run) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(run));
  if (process == nullptr) {
    return GetLastError() == ERROR_INVALID_PARAMETER;
  }
  DWORD code = 0;
  const bool ended = GetExitCodeProcess(process, &code) != 0 && code != STILL_ACTIVE;
  CloseHandle(process);
  return ended;
}

// Windows has no file without a name.
int OpenUnnamed(const std::string& /*folder*/) {
  errno = EOPNOTSUPP;
  return -1;
}

int LinkUnnamed(int /*descriptor*/, const std::string& /*name*/) { return EOPNOTSUPP; }

std::filesystem::path SystemPath(const std::string& path) {
  return std::filesystem::path(Widen(path));
}

std::string NameOf(const std::filesystem::path& path) { return path.filename().u8string(); }

}  // namespace

bool IsReadOnlyFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

FileFacts FactsOf(const std::string& path) {
  FileFacts facts;
  facts.identity = IdentifyFile(path.c_str());
  facts.readOnly = facts.identity && IsReadOnlyFile(path);
  return facts;
}

void RemoveTemporaryOnSignals() {}

void IgnoreBrokenPipe() {}

std::FILE* OpenScratchFile(int& error) {
  wchar_t folder[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) {
    error = ErrnoFromWindowsError(GetLastError());
    return nullptr;
  }
  TemporaryNamer namer;
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    const std::wstring name = std::wstring(folder) + L"zefacut-" + Widen(namer.Next()) + L".tmp";
    // Deleted by the system when its last handle closes, however the
    // program ends; shared with no one meanwhile.
    const HANDLE handle =
        CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD failure = GetLastError();
      if (failure == ERROR_FILE_EXISTS || failure == ERROR_ALREADY_EXISTS) {
        continue;
      }
      error = ErrnoFromWindowsError(failure);
      return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (descriptor < 0) {
      CloseHandle(handle);
      error = EMFILE;
      return nullptr;
    }
    std::FILE* stream = _fdopen(descriptor, "w+b");
    if (stream == nullptr) {
      error = errno != 0 ? errno : EMFILE;
      _close(descriptor);
      return nullptr;
    }
    return stream;
  }
  error = EEXIST;
  return nullptr;
}

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

unsigned long OwnRun() { return static_cast<unsigned long>(getpid()); }

bool RunIsGone(unsigned long run) {
  // An id that is no pid_t's is no process's either.
  const auto pid = static_cast<pid_t>(run);
  if (pid <= 0 || static_cast<unsigned long>(pid) != run) {
    return false;
  }
  return kill(pid, 0) != 0 && errno == ESRCH;
}

#if defined(__linux__) && defined(O_TMPFILE)

// A file with no name in `folder`, which a link names once it is whole: one
// that the program ends before that leaves nothing behind, however it ends.
// Linked through /proc, so only where /proc is there.
int OpenUnnamed(const std::string& folder) {
  static const bool linkable = access("/proc/self/fd", X_OK) == 0;
  if (!linkable) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
}

// Gives an unnamed file a new name; 0, or the system's error number.
int LinkUnnamed(int descriptor, const std::string& name) {
  char own[64];
  std::snprintf(own, sizeof own, "/proc/self/fd/%d", descriptor);
  return linkat(AT_FDCWD, own, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

#else

int OpenUnnamed(const std::string& /*folder*/) {
  errno = EOPNOTSUPP;
  return -1;
}

int LinkUnnamed(int /*descriptor*/, const std::string& /*name*/) { return EOPNOTSUPP; }

#endif

std::filesystem::path SystemPath(const std::string& path) { return std::filesystem::path(path); }

std::string NameOf(const std::filesystem::path& path) { return path.filename().string(); }

extern "C" void RemoveTemporaryAndEnd(int signal) {
  if (g_holdsTemporary != 0) {
    unlink(g_temporary);
  }
  // The handler was reset on entry: the signal, pending until the handler
  // returns, ends the program as it would have.
  raise(signal);
}

}  // namespace

bool IsReadOnlyFile(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         (status.st_mode & S_IWUSR) == 0;
}

FileFacts FactsOf(const std::string& path) {
  FileFacts facts;
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return facts;
  }
  facts.identity = FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                                static_cast<std::uint64_t>(status.st_ino)};
  facts.readOnly = S_ISREG(status.st_mode) && (status.st_mode & S_IWUSR) == 0;
  return facts;
}

void RemoveTemporaryOnSignals() {
  for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU,
                           SIGXFSZ, SIGVTALRM, SIGPROF}) {
    struct sigaction action {};
    if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) {
      continue;
    }
    action = {};
    action.sa_handler = RemoveTemporaryAndEnd;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(signal, &action, nullptr);
  }
}

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

std::FILE* OpenScratchFile(int& error) {
#ifdef __EMSCRIPTEN__
  error = ENOSYS;
  return nullptr;
#else
  const char* variable = std::getenv("TMPDIR");
  const std::string folder = variable != nullptr && *variable != '\0' ? variable : "/tmp";
  int descriptor = -1;
#if defined(__linux__) && defined(O_TMPFILE)
  descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
  // cppcheck-suppress knownConditionTrueFalse ; not where O_TMPFILE is
  if (descriptor < 0) {
    // No unnamed files there: a named one, removed at once; only its
    // descriptor keeps it.
    std::string name = folder + "/zefacut-XXXXXX";
    descriptor = mkstemp(name.data());
    if (descriptor < 0) {
      error = errno != 0 ? errno : EIO;
      return nullptr;
    }
    static_cast<void>(unlink(name.c_str()));
    static_cast<void>(fcntl(descriptor, F_SETFD, FD_CLOEXEC));
  }
  std::FILE* stream = fdopen(descriptor, "w+b");
  if (stream == nullptr) {
    error = errno != 0 ? errno : EIO;
    close(descriptor);
  }
  return stream;
#endif
}

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

namespace {

// A name for a temporary beside `target`, new each call.
std::string TemporaryName(const std::string& target, TemporaryNamer& namer) {
  const std::string::size_type end = FolderEnd(target);
  std::string name = target.substr(0, end);
  name += kTemporaryPrefix;
  name += target.substr(end);
  name += '.';
  // The process id cannot change during the run.
  static const std::string run = std::to_string(OwnRun());
  name += run;
  name += '-';
  name += namer.Next();
  name += kTemporarySuffix;
  return name;
}

}  // namespace

int OpenTemporaryBeside(const std::string& target, TemporaryFile& file, TemporaryNamer& namer) {
  file = TemporaryFile();
  file.descriptor = OpenUnnamed(target.substr(0, FolderEnd(target)));
  if (file.descriptor >= 0) {
    return 0;
  }
  // The file system, or the system, has no unnamed files: a named one,
  // which a signal handler or a later run removes if this run cannot.
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    file.name = TemporaryName(target, namer);
    HoldTemporary(file.name);
    file.descriptor = CreateNewFile(file.name);
    if (file.descriptor >= 0) {
      return 0;
    }
    const int error = errno;
    ReleaseTemporary();
    file.name.clear();
    if (error != EEXIST) {
      return error != 0 ? error : EIO;
    }
  }
  return EEXIST;
}

int PlaceTemporary(TemporaryFile& file, const std::string& target, TemporaryNamer& namer,
                   bool targetIsLikelyNew) {
  int error = 0;
  if (file.name.empty() && targetIsLikelyNew) {
    // A link never replaces a file: where none is there, the whole file takes
    // its name at once; where one is, it is replaced as below.
    error = LinkUnnamed(file.descriptor, target);
    if (error == 0) {
      error = CloseRaw(file.descriptor) == 0 ? 0 : errno;
      file.descriptor = -1;
      ReleaseTemporary();
      return error;
    }
    error = 0;
  }
  if (file.name.empty()) {
    // An unnamed file cannot replace a file, only be linked under a new
    // name: a name of its own first, then the rename.
    error = EEXIST;
    for (int attempt = 0; attempt < kTemporaryAttempts && error == EEXIST; ++attempt) {
      const std::string name = TemporaryName(target, namer);
      HoldTemporary(name);
      error = LinkUnnamed(file.descriptor, name);
      if (error == 0) {
        file.name = name;
      } else {
        ReleaseTemporary();
      }
    }
  }
  const int closed = CloseRaw(file.descriptor) == 0 ? 0 : errno;
  file.descriptor = -1;
  if (error == 0) {
    error = closed;
  }
  if (error == 0 && RenameReplacing(file.name.c_str(), target.c_str()) != 0) {
    error = errno != 0 ? errno : EIO;
  }
  if (error != 0 && !file.name.empty()) {
    RemoveFile(file.name.c_str());
  }
  ReleaseTemporary();
  file.name.clear();
  return error;
}

void DiscardTemporary(TemporaryFile& file) {
  if (file.descriptor >= 0) {
    CloseRaw(file.descriptor);
    file.descriptor = -1;
  }
  if (!file.name.empty()) {
    RemoveFile(file.name.c_str());
  }
  ReleaseTemporary();
  file.name.clear();
}

void RemoveStaleTemporaries(const std::string& folder) {
  std::error_code error;
  const unsigned long own = OwnRun();
  std::vector<std::string> stale;
  for (std::filesystem::directory_iterator entry(SystemPath(folder.empty() ? "." : folder), error),
       end;
       !error && entry != end; entry.increment(error)) {
    // Only a file of its own: a link of that name is someone's. The name is
    // looked at first, which costs no system call.
    const std::string name = NameOf(entry->path());
    const unsigned long run = RunOfTemporary(name, kTemporaryPrefix);
    if (run == 0 || run == own) {
      continue;
    }
    std::error_code kindError;
    if (entry->symlink_status(kindError).type() != std::filesystem::file_type::regular) {
      continue;
    }
    if (RunIsGone(run)) {
      stale.push_back(name);
    }
  }
  for (const std::string& name : stale) {
    RemoveFile((folder + name).c_str());
  }
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

#include "platform/input_file.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>

#include <filesystem>
#include <system_error>
#else
#include <dirent.h>
#include <unistd.h>
#endif

#include "platform/portable.h"

#ifdef _WIN32

PathKind KindOfPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status =
      std::filesystem::status(std::filesystem::u8path(path), error);
  if (error || !std::filesystem::exists(status)) {
    return PathKind::Missing;
  }
  if (std::filesystem::is_regular_file(status)) {
    return PathKind::RegularFile;
  }
  return std::filesystem::is_directory(status) ? PathKind::Folder : PathKind::Other;
}

bool IsLink(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status =
      std::filesystem::symlink_status(std::filesystem::u8path(path), error);
  return !error && std::filesystem::is_symlink(status);
}

bool StampOf(const std::string& path, FileStamp& stamp) {
  struct _stat64 status {};
  if (_wstat64(std::filesystem::u8path(path).c_str(), &status) != 0) {
    return false;
  }
  stamp.size = static_cast<std::uint64_t>(status.st_size);
  stamp.changed = static_cast<std::int64_t>(status.st_mtime);
  return true;
}

bool ListFolder(const std::string& path, std::vector<std::string>& names, int& error) {
  names.clear();
  std::error_code failure;
  std::filesystem::directory_iterator entry(std::filesystem::u8path(path), failure);
  for (; !failure && entry != std::filesystem::directory_iterator(); entry.increment(failure)) {
    names.push_back(entry->path().filename().u8string());
  }
  if (failure) {
    error = failure.value() != 0 ? failure.value() : EIO;
    return false;
  }
  return true;
}

std::string FolderOwnName(const std::string& path) {
  std::error_code failure;
  const std::filesystem::path full =
      std::filesystem::weakly_canonical(std::filesystem::u8path(path), failure);
  if (failure) {
    return {};
  }
  return full.filename().u8string();
}

InputFile OpenInputFile(const std::string& path) {
  InputFile file;
  // A folder does not open here at all, and would only say "Permission
  // denied": it is told by its kind first.
  const PathKind kind = KindOfPath(path);
  if (kind == PathKind::Folder) {
    file.error = EISDIR;
    return file;
  }
  if (kind == PathKind::Other) {
    file.notRegular = true;
    return file;
  }
  errno = 0;
  std::FILE* stream = OpenFile(path.c_str(), "rb");
  if (stream == nullptr) {
    file.error = errno != 0 ? errno : ENOENT;
    return file;
  }
  // Opening never waits here; what was opened is checked again, as the name
  // may have changed hands since.
  struct _stat64 status {};
  if (_fstat64(_fileno(stream), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) {
    std::fclose(stream);
    file.notRegular = true;
    return file;
  }
  file.stream = stream;
  return file;
}

#else

PathKind KindOfPath(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return PathKind::Missing;
  }
  if (S_ISREG(status.st_mode)) {
    return PathKind::RegularFile;
  }
  return S_ISDIR(status.st_mode) ? PathKind::Folder : PathKind::Other;
}

bool IsLink(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

bool StampOf(const std::string& path, FileStamp& stamp) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return false;
  }
  stamp.size = static_cast<std::uint64_t>(status.st_size);
  stamp.changed = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 +
                  static_cast<std::int64_t>(status.st_mtim.tv_nsec);
  return true;
}

bool ListFolder(const std::string& path, std::vector<std::string>& names, int& error) {
  names.clear();
  DIR* folder = opendir(path.c_str());
  if (folder == nullptr) {
    error = errno != 0 ? errno : ENOENT;
    return false;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(folder);
    if (entry == nullptr) {
      break;
    }
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      names.push_back(name);
    }
  }
  const int failed = errno;
  closedir(folder);
  if (failed != 0) {
    error = failed;
    return false;
  }
  return true;
}

std::string FolderOwnName(const std::string& path) {
  char* full = realpath(path.c_str(), nullptr);
  if (full == nullptr) {
    return {};
  }
  const std::string whole = full;
  std::free(full);  // NOLINT(cppcoreguidelines-no-malloc): realpath's own allocation
  const std::string::size_type slash = whole.find_last_of('/');
  return slash == std::string::npos ? whole : whole.substr(slash + 1);
}

InputFile OpenInputFile(const std::string& path) {
  InputFile file;
  // Without O_NONBLOCK, opening a FIFO waits for a writer that may never
  // come; with it, whatever the name leads to opens at once and is examined
  // as opened.
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) {
    file.error = errno != 0 ? errno : ENOENT;
    return file;
  }
  const auto fail = [&](int error, bool notRegular) {
    close(descriptor);
    file.error = error;
    file.notRegular = notRegular;
    return file;
  };
  struct stat status {};
  if (fstat(descriptor, &status) != 0) {
    return fail(errno, false);
  }
  if (S_ISDIR(status.st_mode)) {
    return fail(EISDIR, false);
  }
  if (!S_ISREG(status.st_mode)) {
    return fail(0, true);
  }
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags < 0 || fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return fail(errno, false);
  }
  std::FILE* stream = fdopen(descriptor, "rb");
  if (stream == nullptr) {
    return fail(errno, false);
  }
  file.stream = stream;
  return file;
}

#endif

StandardInput ReadStandardInput(
    const std::function<bool(const unsigned char*, std::size_t)>& take) {
  StandardInput input;
#ifdef _WIN32
  static_cast<void>(_setmode(_fileno(stdin), _O_BINARY));
  const bool terminal = _isatty(_fileno(stdin)) != 0;
#else
  const bool terminal = isatty(STDIN_FILENO) != 0;
#endif
  if (terminal) {
    input.result = StandardInput::Result::Terminal;
    return input;
  }
  std::vector<unsigned char> block(std::size_t{1} << 16U);
  for (;;) {
    errno = 0;
    const std::size_t got = std::fread(block.data(), 1, block.size(), stdin);
    if (got > 0 && !take(block.data(), got)) {
      input.result = StandardInput::Result::TooLarge;
      return input;
    }
    if (got < block.size()) {
      if (std::ferror(stdin) != 0) {
        input.result = StandardInput::Result::Failed;
        input.error = errno != 0 ? errno : EIO;
      }
      return input;
    }
  }
}

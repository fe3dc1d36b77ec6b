#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <system_error>

#include <unistd.h>

const std::string& ScratchDirectory() {
  static const std::string directory = [] {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("zefacut-fuzz-" + std::to_string(getpid()));
    std::error_code error;
    std::filesystem::remove_all(path, error);
    std::filesystem::create_directories(path);
    // Removed again when the process ends normally.
    static const std::filesystem::path cleanup = path;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(cleanup, ignored);
    });
    return path.string();
  }();
  return directory;
}

const std::string& ScratchFile(const char* name) {
  static std::map<std::string, std::string> paths;
  auto [entry, inserted] = paths.try_emplace(name);
  if (inserted) {
    entry->second = ScratchDirectory() + "/" + name;
  }
  return entry->second;
}

bool WriteScratchFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

void Require(bool holds) {
  if (!holds) {
    std::abort();
  }
}

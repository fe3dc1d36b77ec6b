#include "platform/paths.h"

#include <cstring>

namespace {

constexpr char kSeparators[] = "/\\";

bool IsSeparator(char ch) { return ch == '/' || ch == '\\'; }

}  // namespace

std::string FileNameOf(const std::string& path) {
  const std::string::size_type slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
  const std::string::size_type slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string WithoutTrailingSeparators(std::string path, std::size_t keep) {
  while (path.size() > keep && IsSeparator(path.back())) {
    path.pop_back();
  }
  return path;
}

std::string SafeFolderName(const std::string& name) {
  std::string safe;
  for (const char ch : name) {
    const auto byte = static_cast<unsigned char>(ch);
    safe += byte < 0x20 || std::strchr("<>:\"/\\|?*", ch) != nullptr ? '_' : ch;
  }
  while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) {
    safe.pop_back();
  }
  return safe.empty() ? "_" : safe;
}

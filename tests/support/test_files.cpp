#include "support/test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

namespace fs = std::filesystem;

std::optional<Bytes> ReadFileBytes(const std::string& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) {
    return std::nullopt;
  }
  std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    return std::nullopt;
  }
  Bytes bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
  if (stream.bad()) {
    return std::nullopt;
  }
  return bytes;
}

std::string FixturePath(const std::string& name) {
  return std::string(ZEFACUT_TEST_DATA) + "/" + name;
}

Bytes ReadFixture(const std::string& name) {
  std::optional<Bytes> bytes = ReadFileBytes(FixturePath(name));
  if (!bytes) {
    ADD_FAILURE() << "cannot read the test file " << FixturePath(name);
    return {};
  }
  return std::move(*bytes);
}

#include "support/test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#ifdef ZEFACUT_TEST_ZLIB
#include <zlib.h>
#endif

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

bool CanGunzipFixtures() {
#ifdef ZEFACUT_TEST_ZLIB
  return true;
#else
  return false;
#endif
}

Bytes ReadGzipFixture(const std::string& name) {
#ifdef ZEFACUT_TEST_ZLIB
  const Bytes packed = ReadFixture(name);
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {  // 16: gzip
    ADD_FAILURE() << "zlib does not start";
    return {};
  }
  Bytes out;
  Bytes chunk(1 << 16);
  stream.next_in = const_cast<unsigned char*>(packed.data());
  stream.avail_in = static_cast<uInt>(packed.size());
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = chunk.data();
    stream.avail_out = static_cast<uInt>(chunk.size());
    status = inflate(&stream, Z_NO_FLUSH);
    out.insert(out.end(), chunk.begin(), chunk.end() - stream.avail_out);
  }
  inflateEnd(&stream);
  if (status != Z_STREAM_END) {
    ADD_FAILURE() << "cannot unpack the test file " << FixturePath(name);
    return {};
  }
  return out;
#else
  ADD_FAILURE() << "this build unpacks no gzip files: " << FixturePath(name);
  return {};
#endif
}

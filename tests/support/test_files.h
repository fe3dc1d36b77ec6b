// Whole files for the tests: any file's bytes, and the images of other tools
// kept in tests/data (ZEFACUT_TEST_DATA, which every test program that reads
// them defines).
#ifndef ZEFACUT_TESTS_SUPPORT_TEST_FILES_H
#define ZEFACUT_TESTS_SUPPORT_TEST_FILES_H

#include <optional>
#include <string>

#include "testkit/image_builder.h"

// A file's whole contents; nullopt when it cannot be read as a file.
std::optional<Bytes> ReadFileBytes(const std::string& path);

// The path of a file in tests/data.
std::string FixturePath(const std::string& name);

// The bytes of a file in tests/data; a test failure, and no bytes, when it
// cannot be read.
Bytes ReadFixture(const std::string& name);

// Whether this build unpacks gzip files for the tests (with zlib).
bool CanGunzipFixtures();

// The unpacked bytes of a gzip file in tests/data (the bitstream images,
// which shrink a hundredfold); a test failure, and no bytes, when it cannot
// be read or unpacked.
Bytes ReadGzipFixture(const std::string& name);

#endif  // ZEFACUT_TESTS_SUPPORT_TEST_FILES_H

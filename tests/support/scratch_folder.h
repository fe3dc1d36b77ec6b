// A folder of the running test's own under the test temporary folder, named
// after the test and made unique, so that tests and builds that run at the
// same time never share one. Header-only: the archive test of the Windows
// build links no other test support.
#ifndef ZEFACUT_TESTS_SUPPORT_SCRATCH_FOLDER_H
#define ZEFACUT_TESTS_SUPPORT_SCRATCH_FOLDER_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <random>
#include <string>

// Makes and returns PREFIX_SUITE_TEST_RANDOM in testing::TempDir().
inline std::filesystem::path MakeScratchFolder(const std::string& prefix) {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  std::replace_if(
      name.begin(), name.end(),
      [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) == 0; }, '_');
  std::filesystem::path folder =
      std::filesystem::path(testing::TempDir()) /
      (prefix + "_" + name + "_" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(folder);
  return folder;
}

#endif  // ZEFACUT_TESTS_SUPPORT_SCRATCH_FOLDER_H

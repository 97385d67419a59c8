// Temporary folders for tests, one per running test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

// A fresh, empty folder under the system's temporary folder, named after the process and the
// running test ("Suite/Case" of a parameterised test becomes "Suite_Case").
inline std::filesystem::path FreshTestDir(const std::string& prefix) {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  const auto dir =
      std::filesystem::temp_directory_path() / (prefix + std::to_string(getpid()) + "-" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

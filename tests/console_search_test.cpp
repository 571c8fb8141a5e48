// Console searching: analysis, statistics, stopping, settings, table PV.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_process.h"

namespace {
bool has_prefix(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const auto& l : lines)
    if (l.rfind(prefix, 0) == 0) return true;
  return false;
}
}  // namespace

TEST(ConsoleSearch, AnalysisStatisticsAndSettings) {
  EngineProcess e({"-c"});
  e.send("go 6");
  auto lines = e.read_until("move=", 10000, true);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("move= ", 0), 0u);
  EXPECT_TRUE(has_prefix(lines, "00] 06"));
  std::string stats;
  ASSERT_TRUE(e.read_line(stats));
  EXPECT_EQ(stats.rfind("Hash fill= ", 0), 0u) << stats;

  // "." ends an endless analysis, which is then reported.
  e.send("go");
  ASSERT_FALSE(e.wait_for("00] 05").empty());
  e.send(".");
  lines = e.read_until("move=", 10000, true);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("move= ", 0), 0u);

  e.send("pv");
  lines = e.read_until("white");
  EXPECT_TRUE(has_prefix(lines, "PV: ")) << (lines.empty() ? "" : lines.front());

  e.send("set level 40 5:00 0");
  lines = e.read_until("set level to 40 moves in 300.00 seconds, inc 0.00");
  EXPECT_FALSE(lines.empty());
  e.send("set ss 0");
  EXPECT_FALSE(e.read_until("selectivity set to OFF").empty());
  e.send("set NMP_depth 5");
  EXPECT_FALSE(e.read_until("NMP_depth set to 5").empty());
  e.send("lmr");
  lines = e.read_until("LMR_depth= 99");
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(has_prefix(lines, "NMP_depth= 5"));
  e.send("quit");
  EXPECT_EQ(e.wait_exit(), 0);
}

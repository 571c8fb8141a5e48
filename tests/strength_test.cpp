// Strength limiting: the rating model, UCI_Elo turned into a speed cap, the
// cap in force only while UCI_LimitStrength is on, and the throttle holding a
// real search to it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/options.h"
#include "engine/strength.h"
#include "engine_process.h"
#include "platform/output.h"
#include "search/control.h"
#include "search/options.h"
#include "test_util.h"

namespace {

// Runs inside the test program's engine (started without the speed
// measurement) with a made-up measured speed, and puts everything back.
class Strength : public ::testing::Test {
 protected:
  void SetUp() override {
    const SpeedLimit& s = g_control.speed;
    saved_control_ = {s.calibration_nps, s.max_elo, s.target_nps, s.limit_nps};
    saved_limit_ = g_options[SLOT_LIMIT_STRENGTH];
    saved_elo_ = g_options[SLOT_ELO];
    g_control.speed.calibration_nps = 2000000;
    g_control.speed.max_elo = elo_from_nps(2000000);
    set_output_sink(capture_sink);
  }
  void TearDown() override {
    set_output_sink(nullptr);
    g_control.speed.calibration_nps = saved_control_[0];
    g_control.speed.max_elo = saved_control_[1];
    g_control.speed.target_nps = saved_control_[2];
    g_control.speed.limit_nps = saved_control_[3];
    g_options[SLOT_LIMIT_STRENGTH] = saved_limit_;
    g_options[SLOT_ELO] = saved_elo_;
  }
  std::vector<std::string> set(const char* name, const char* value) {
    g_captured.clear();
    set_option(name, value);
    return g_captured;
  }
  static f64 prepared_target() {
    prepare_search();
    g_control.search_state = STATE_IDLE;
    return g_control.speed.target_nps;
  }

 private:
  std::vector<f64> saved_control_;
  i16 saved_limit_ = 0, saved_elo_ = 0;
};

// Nodes of the last info line that reports them.
long long last_nodes(const std::vector<std::string>& lines) {
  long long nodes = -1;
  for (const auto& l : lines) {
    auto w = words(l);
    for (size_t i = 0; i + 1 < w.size(); ++i)
      if (w[i] == "nodes") nodes = std::stoll(w[i + 1]);
  }
  return nodes;
}

}  // namespace

TEST(StrengthModel, RatingsAndTheirSpeeds) {
  EXPECT_EQ(int(elo_from_nps(30000)), 2481);
  EXPECT_EQ(int(elo_from_nps(100000)), 2633);
  EXPECT_NEAR(elo_from_nps(1000000), 2923.7, 0.05);
  for (int elo : {1500, 1800, 2000, 2200, 2600, 2900}) {
    f64 n = nps_for_elo(elo);
    EXPECT_LT(std::fabs(elo_from_nps(n) - elo), 0.5) << elo;
  }
  EXPECT_NEAR(nps_for_elo(2000), 688, 2);
  EXPECT_NEAR(nps_for_elo(1500), 40, 1);
}

TEST_F(Strength, UciEloSetsTheCapButNotTheSwitch) {
  const int ceiling = int(g_control.speed.max_elo);
  g_options[SLOT_LIMIT_STRENGTH] = 0;
  // 1000 is raised to the floor of 1500; the switch stays as it was.
  EXPECT_EQ(set("UCI_Elo", "1000"),
            (std::vector<std::string>{"info string UCI_Elo set to 1500", "info string target nps = 40"}));
  EXPECT_EQ(g_options[SLOT_LIMIT_STRENGTH], 0);

  // Eleven below the ceiling still limits; ten below switches the limit off.
  set("UCI_LimitStrength", "true");
  set("UCI_Elo", std::to_string(ceiling - 11).c_str());
  EXPECT_EQ(g_options[SLOT_LIMIT_STRENGTH], 1);
  EXPECT_EQ(g_options[SLOT_ELO], ceiling - 11);
  std::vector<std::string> out = set("UCI_Elo", std::to_string(ceiling - 10).c_str());
  EXPECT_EQ(out, (std::vector<std::string>{"info string UCI_Elo set to " + std::to_string(ceiling - 10),
                                           "info string target nps = 2000000"}));
  EXPECT_EQ(g_options[SLOT_LIMIT_STRENGTH], 0);
  EXPECT_EQ(g_options[SLOT_ELO], ceiling);
}

// The cap applies to the searches started while the switch is on, in
// whichever order a GUI sends the two options, with searches in between.
TEST_F(Strength, CapHoldsOnlyWhileLimitStrengthIsOn) {
  set("UCI_LimitStrength", "false");
  set("UCI_Elo", "2000");
  EXPECT_EQ(prepared_target(), NO_NPS_LIMIT);
  set("UCI_LimitStrength", "true");
  EXPECT_NEAR(prepared_target(), 688, 2);
  set("UCI_LimitStrength", "false");
  EXPECT_EQ(prepared_target(), NO_NPS_LIMIT);
  set("UCI_LimitStrength", "true");
  EXPECT_NEAR(prepared_target(), 688, 2);
}

TEST(StrengthUci, EloOptionRepliesAndTheNpsSwitch) {
  {
    EngineProcess e({"-nps", "30000"});
    std::string line;
    ASSERT_TRUE(e.read_line(line));
    EXPECT_EQ(line, "Elo= 2481");
    e.send("quit");
    EXPECT_EQ(e.wait_exit(), 0);
  }
  {
    // The switch's rating survives the start-up measurement.
    EngineProcess e({"-nps", "500"});
    e.sync();
    e.send("setoption name Hash value 64");
    e.send("uci");
    std::vector<std::string> lines = e.read_until("uciok");
    int found = 0;
    for (const auto& l : lines) {
      found += l.rfind("option name UCI_Elo type spin default 1956 min 0 max ", 0) == 0;
      found += l == "option name UCI_LimitStrength type check default true";
    }
    EXPECT_EQ(found, 2);
    e.send("quit");
    EXPECT_EQ(e.wait_exit(), 0);
  }
  {
    // A configuration file may ask for a rating: it is read after the measurement.
    char cfg[] = "/tmp/vorn_elo_cfg_XXXXXX";
    int fd = mkstemp(cfg);
    FILE* f = fdopen(fd, "w");
    std::fputs("UCI_Elo = 2000\n", f);
    std::fclose(f);
    EngineProcess e({"-cfg", cfg});
    std::vector<std::string> lines = e.sync();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"info string UCI_Elo set to 2000", "info string target nps = 688"}));
    e.send("uci");
    lines = e.read_until("uciok");
    bool on = false;
    for (const auto& l : lines) on |= l == "option name UCI_LimitStrength type check default true";
    EXPECT_TRUE(on);
    e.send("quit");
    EXPECT_EQ(e.wait_exit(), 0);
    std::remove(cfg);
  }
  EngineProcess e;
  std::vector<std::string> start = e.sync();
  double et = 0, nps = 0;
  ASSERT_GE(start.size(), 2u);
  ASSERT_EQ(std::sscanf(start[1].c_str(), "info string et= %lf, calibration nps= %lf", &et, &nps), 2) << start[1];
  const int ceiling = int(elo_from_nps(nps));
  e.send("setoption name UCI_Elo value 2000");
  EXPECT_EQ(e.sync(), (std::vector<std::string>{"info string UCI_Elo set to 2000", "info string target nps = 688"}));
  // The listed maximum is the ceiling; nothing above it is accepted.
  e.send("setoption name UCI_Elo value 99999");
  std::string reply = e.sync().front();
  ASSERT_EQ(reply.rfind("info string UCI_Elo set to ", 0), 0u) << reply;
  EXPECT_NEAR(std::stoi(reply.substr(27)), ceiling, 1);  // the speed line is rounded
  e.send("quit");
  EXPECT_EQ(e.wait_exit(), 0);
}

// Held to 40 nodes per second, a one-second search spends a few hundred
// nodes at most; the first iteration runs at full speed.
TEST(StrengthUci, ThrottleHoldsTheSearchToTheTarget) {
  EngineProcess e;
  e.sync();
  e.send("setoption name UCI_LimitStrength value true");
  e.send("setoption name UCI_Elo value 1500");
  e.send("position startpos moves e2e4 e7e5");
  e.sync();
  e.send("go movetime 1000");
  std::vector<std::string> lines = e.read_until("bestmove", 5000, true);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("bestmove ", 0), 0u);
  long long nodes = last_nodes(lines);
  EXPECT_GT(nodes, 0);
  EXPECT_LT(nodes, 400);

  e.send("setoption name UCI_LimitStrength value false");
  e.send("go movetime 300");
  lines = e.read_until("bestmove", 5000, true);
  EXPECT_GT(last_nodes(lines), 2000) << "no cap once the switch is off";
  e.send("quit");
  EXPECT_EQ(e.wait_exit(), 0);
}

// Strength limiting: rating model, UCI_Elo as a speed cap, the throttle.

#include <cmath>
#include <cstdio>

#include "engine/strength.h"
#include "engine_process.h"

TEST(StrengthModel, RatingsAndTheirSpeeds) {
  EXPECT_EQ(int(elo_from_nps(30000)), 2481);
  EXPECT_NEAR(elo_from_nps(1000000), 2923.7, 0.05);
  for (int elo : {1500, 1800, 2000, 2200, 2600, 2900}) EXPECT_LT(std::fabs(elo_from_nps(nps_for_elo(elo)) - elo), 0.5);
  EXPECT_NEAR(nps_for_elo(2000), 688, 2);
  EXPECT_NEAR(nps_for_elo(1500), 40, 1);
}

// The "-nps" switch prints its rating, which survives the start-up measurement.
TEST(StrengthUci, TheNpsSwitchSetsARating) {
  EngineProcess e({"-nps", "500"});
  std::string line;
  ASSERT_TRUE(e.read_line(line));
  EXPECT_EQ(line, "info string Elo= 1956");
  e.sync();
  e.send("setoption name Hash value 64");
  e.send("uci");
  std::vector<std::string> lines = e.read_until("uciok");
  EXPECT_TRUE(any_starts_with(lines, "option name UCI_Elo type spin default 1956 min 0 max ")) << lines.size();
  EXPECT_TRUE(has_line(lines, "option name UCI_LimitStrength type check default true"));
  e.quit();
}

// The measured ceiling, UCI_Elo setting the cap but not the switch, the cap in
// force only while the switch is on, in either order.  Held to 40 nodes per
// second a one-second search spends a few hundred nodes at most (a loaded
// machine only lowers that); without the cap a depth takes far more.
TEST(StrengthUci, CapAndSwitchHoldTheSearchToTheTarget) {
  EngineProcess e;
  std::vector<std::string> start = e.sync();
  double et = 0, nps = 0;
  ASSERT_GE(start.size(), 2u);
  ASSERT_EQ(std::sscanf(start[1].c_str(), "info string et= %lf, calibration nps= %lf", &et, &nps), 2) << start[1];
  EXPECT_GE(et, 0.3);  // measured for its full time; a loaded machine may take longer
  auto set = [&e](const std::string& name, const std::string& value) {
    e.send("setoption name " + name + " value " + value);
    return e.sync();
  };
  // The listed maximum is the measured ceiling; nothing above it is accepted.
  std::string reply = set("UCI_Elo", "99999").front();
  ASSERT_TRUE(starts_with(reply, "info string UCI_Elo set to ")) << reply;
  const int ceiling = std::stoi(reply.substr(27));
  EXPECT_NEAR(ceiling, int(elo_from_nps(nps)), 1);  // the speed line is rounded
  // 1000 is raised to the floor of 1500; the switch stays off.
  EXPECT_EQ(set("UCI_Elo", "1000"),
            (std::vector<std::string>{"info string UCI_Elo set to 1500", "info string target nps = 40"}));
  e.send("uci");
  const std::vector<std::string> listing = e.read_until("uciok");
  EXPECT_TRUE(has_line(listing, "option name UCI_LimitStrength type check default false"));
  EXPECT_TRUE(has_line(listing, "option name UCI_Elo type spin default 1500 min 0 max " + std::to_string(ceiling)));
  // Eleven below the ceiling still limits; ten below switches the limit off.
  set("UCI_LimitStrength", "true");
  EXPECT_EQ(set("UCI_Elo", std::to_string(ceiling - 11)).front(),
            "info string UCI_Elo set to " + std::to_string(ceiling - 11));
  EXPECT_EQ(set("UCI_Elo", std::to_string(ceiling - 10)).back(), "info string target nps = " + words(start[1]).back());
  e.send("uci");
  EXPECT_TRUE(has_line(e.read_until("uciok"), "option name UCI_LimitStrength type check default false"));

  e.send("position startpos moves e2e4 e7e5");
  auto nodes = [&e](const std::string& go) { return std::stoll("0" + last_value(go_reply(e, go).lines, "nodes")); };
  auto expect_held = [&nodes] {
    const long long held = nodes("go movetime 1000");
    EXPECT_GT(held, 0);
    EXPECT_LT(held, 400);
  };
  // The switch first, then the rating; later the switch alone turns the cap back on.
  set("UCI_LimitStrength", "true");
  set("UCI_Elo", "1500");
  expect_held();
  set("UCI_LimitStrength", "false");
  EXPECT_GT(nodes("go depth 7"), 2000) << "no cap once the switch is off";
  set("UCI_LimitStrength", "true");
  expect_held();
  e.quit();
}

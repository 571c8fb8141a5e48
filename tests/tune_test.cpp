// Tuning against labelled positions: the error measure and its filters,
// the console line search, "-mktune" and "-tune" run as tool modes.

#include <cmath>

#include "engine/engine.h"
#include "engine/tuning_modes.h"
#include "engine/uci.h"
#include "engine_process.h"
#include "eval/params.h"
#include "search/control.h"
#include "board_test.h"
#include "tools/bench.h"
#include "tools/selfplay.h"
#include "tools/tune.h"

namespace {

// The benchmark positions as tuning lines, results cycling through win, loss and draw.
std::string bench_tuning_lines(int copies) {
  const char* results[] = {"1-0", "0-1", "1/2-1/2"};
  std::string text;
  for (int k = 0; k < copies; ++k)
    for (int i = 0; i < 20; ++i)
      text += std::string(BENCH_FENS[i]) + " bm a3; ce 10; c6 20; c9 \"" + results[(i + k) % 3] + "\";\n";
  return text;
}

// Runs inside a fresh directory (the tuner writes its samples to the working
// directory) with the search set up as the tool modes set it.
class Tuning : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = new_temp_dir();
    ASSERT_NE(getcwd(old_dir_, sizeof old_dir_), nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    saved_depth_ = g_control.limits.max_depth;
    g_control.limits.max_depth = 0;
    g_flags.quit = 0;
    // The tuner polls the test program's own input, which may be at its end.
    set_end_of_input_quits(false);
  }
  void TearDown() override {
    set_end_of_input_quits(true);
    g_flags.quit = 0;
    g_control.limits.max_depth = saved_depth_;
    g_control.config.hash_enabled = 1;
    ASSERT_EQ(chdir(old_dir_), 0);
  }
  double error_of(const std::string& text) {
    std::ofstream("t.epd") << text;
    return tuning_error("t.epd", engine_tune_hooks());
  }
  std::string dir_;
  char old_dir_[512];
  u8 saved_depth_ = 0;
};

const std::string BARE_KINGS = "8/8/8/4k3/8/8/8/4K3";

}  // namespace

TEST_F(Tuning, ErrorCountsResultsFromTheSideToMoveAndLeavesOutDecidedLines) {
  CaptureOutput quiet;
  // Bare kings score 0: expectation 0.5 against the result.
  EXPECT_DOUBLE_EQ(error_of(BARE_KINGS + " w - - ce 0; c9 \"1-0\";\n"), 0.5);
  EXPECT_DOUBLE_EQ(error_of(BARE_KINGS + " b - - ce 0; c9 \"0-1\";\n"), 0.5);
  EXPECT_DOUBLE_EQ(error_of(BARE_KINGS + " w - - ce 0; c9 \"1/2-1/2\";\n"), 0.0);
  // Without a result, or with a comment mark, a line does not count.
  EXPECT_DOUBLE_EQ(error_of(BARE_KINGS + " w - - ce 0;\n# " + BARE_KINGS + " w - - c9 \"1-0\";\n"), 0.0);
  EXPECT_DOUBLE_EQ(error_of("\n"), 0.0);
  EXPECT_DOUBLE_EQ(tuning_error("missing.epd", engine_tune_hooks()), 1.0);

  const std::string draw = BARE_KINGS + " w - - ce 0; c6 0; c9 \"1/2-1/2\";\n";
  const std::string win = BARE_KINGS + " w - - ce 0; c6 0; c9 \"1-0\";\n";
  // Three queens up: beyond 900, ignored.
  EXPECT_DOUBLE_EQ(error_of(draw + "4k3/8/8/8/8/8/8/QQQ1K3 w - - ce 0; c9 \"1/2-1/2\";\n"), 0.0);
  // A win whose later score says it was lost is ignored; so is a loss scored as won.
  EXPECT_DOUBLE_EQ(error_of(draw + BARE_KINGS + " w - - ce 0; c6 -500; c9 \"1-0\";\n"), 0.0);
  EXPECT_DOUBLE_EQ(error_of(draw + BARE_KINGS + " b - - ce 0; c6 500; c9 \"1-0\";\n"), 0.0);
  // A position the engine refuses (no black king) is left out; the others count.
  EXPECT_DOUBLE_EQ(error_of("8/8/8/8/8/8/8/4K3 w - - ce 0; c9 \"1-0\";\n" + win + draw), 0.25);
}

TEST_F(Tuning, LineSearchReportsButKeepsTheParameter) {
  std::ofstream("tune.epd") << bench_tuning_lines(1);
  {
    CaptureOutput out;
    tune_one_parameter("no_such_parameter", "tune.epd", 100, engine_tune_hooks());
    EXPECT_EQ(g_captured, (std::vector<std::string>{"tune file= tune.epd",
                                                    "no evaluation parameter is named 'no_such_parameter' (\"sp\" lists them)",
                                                    "done!"}));
  }
  // The tables the evaluation reads are the ones from before.
  auto listing = [] {
    CaptureOutput out;
    print_eval_tables();
    return g_captured;
  };
  const std::vector<std::string> before = listing();
  const int shield = find_eval_param("pawn_shield");
  const i16 value = *g_eval_params.entries[shield].value;
  CaptureOutput out;
  console_tune("pawn_shield", "", "");
  EXPECT_EQ(*g_eval_params.entries[shield].value, value);
  EXPECT_EQ(listing(), before);
}

TEST(TuningModes, TunerLogsItsPassesAndEndsOnQuit) {
  const std::string dir = new_temp_dir();
  std::ofstream(dir + "/t300.epd") << bench_tuning_lines(15);
  EngineProcess e({"-tune", "t300.epd"}, dir);
  std::vector<std::string> lines = e.read_until("pass= 0", 60000, true);
  ASSERT_FALSE(lines.empty());
  ASSERT_EQ(lines.back().rfind("pass= 0, k0= 3.000e+03", 0), 0u);
  e.read_until("err= ", 60000, true);
  e.quit(10000);
  const std::vector<std::string> log = read_lines(dir + "/tune.log");
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "tuning file is t300.epd");
  EXPECT_EQ(log[2].rfind("pass= 0", 0), 0u);
}

TEST(SelfPlay, EstimatesMoveOnlyWithUnequalWins) {
  for (double x : {380.0, -9.0, 54.4, 1200.0})
    for (int r : {0, 199, 201, 399}) {
      const int p = perturbed_setting(x, r);
      EXPECT_DOUBLE_EQ(updated_estimate(x, p, 0), x);
      EXPECT_GE(std::abs(p - x), 1.0) << x << " " << r;  // never less than 1.5 away, rounded
      EXPECT_LE(std::abs(p - x), 0.2 * std::abs(x) + 1.5);
      // The estimate follows the perturbation when it won, and leaves it when it lost.
      EXPECT_GT((updated_estimate(x, p, 2) - x) * (p - std::lround(x)), 0);
      EXPECT_LT((updated_estimate(x, p, -1) - x) * (p - std::lround(x)), 0);
    }
  EXPECT_EQ(perturbed_setting(380, 200), 380);  // no change at all stays none
  for (int r : {0, 200, 399}) {
    EXPECT_EQ(perturbed_setting(0, r), 0);
    EXPECT_DOUBLE_EQ(updated_estimate(0, perturbed_setting(0, r), 6), 0);
  }
}

// Before a side searches, only a third repetition ends a match game: past
// the fifty-move limit the search still has its say.
TEST(SelfPlay, OnlyARepetitionEndsAGameBeforeItsSearch) {
  TestBoard limit("4k3/8/8/8/8/8/8/R3K3 w - -");
  limit.pos.fifty_count = 100;
  EXPECT_FALSE(drawn_before_search(limit.pos));
  limit.pos.fifty_count = 120;
  EXPECT_FALSE(drawn_before_search(limit.pos));
  TestBoard b(START_FEN);
  for (const char* m : {"Nf3", "Nf6", "Ng1", "Ng8"}) b.play(m);
  EXPECT_FALSE(drawn_before_search(b.pos));  // the second time only
  for (const char* m : {"Nf3", "Nf6", "Ng1", "Ng8"}) b.play(m);
  EXPECT_TRUE(drawn_before_search(b.pos));
}

TEST(SelfPlay, MatchWritesWholeLegalGamesAndEndsOnQuit) {
  const std::string dir = new_temp_dir(), pgn = dir + "/self.pgn";
  EngineProcess e({"-d", "2", "-tune4"}, dir);
  ASSERT_EQ(e.read_until("Starting match...", 60000).back(), "Starting match...");
  // Wait for the first whole game, however slowly the machine plays it.
  for (int i = 0; i < 1200 && read_text(pgn).find("\n\n") == std::string::npos; ++i) usleep(100000);
  e.quit(10000);

  const std::string text = read_text(pgn);
  ASSERT_EQ(text.substr(0, 17), "[Event selfplay]\n");
  ASSERT_EQ(text.substr(text.size() - 2), "\n\n");
  int games = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find("[Event selfplay]", start + 1);
    if (end == std::string::npos) end = text.size();
    std::istringstream game(text.substr(start, end - start));
    ++games;
    TestBoard b(START_FEN);
    int moves = 0;
    for (std::string w; game >> w;) {
      if (w[0] == '[' || w[0] == '{' || w.back() == ']' || w.back() == '"') continue;
      ASSERT_NE(b.parse(w.c_str()), 0) << "game " << games << " move " << moves + 1 << ": " << w;
      b.play(w.c_str());
      ++moves;
    }
    EXPECT_GT(moves, 0);
    start = end;
  }
  EXPECT_GE(games, 1);
}

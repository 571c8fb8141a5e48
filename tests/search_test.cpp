// The search on known positions: mates, stalemate, forced replies, stability.
#include <gtest/gtest.h>

#include <cstring>

#include "board/notation.h"
#include "board/position.h"
#include "engine/options.h"
#include "eval/eval.h"
#include "eval/params.h"
#include "platform/platform.h"
#include "search/control.h"
#include "search/driver.h"
#include "search/params.h"
#include "search/picker.h"
#include "search/thread.h"
#include "search/tt.h"
#include "test_util.h"

#include <fstream>

namespace {

struct SearchEnv : ::testing::Test {
  static void SetUpTestSuite() {
    init_attacks();
    init_zobrist();
    search_control_defaults(g_control);
    option_defaults(g_options);
    register_eval_params(g_options.slots);
    build_eval_tables(g_options.slots);
    set_search_params(g_options.slots);
    g_control.config.hash_mb = 16;
    tt_allocate();
    if (thread_count() == 0) create_search_threads(1);
    g_info_threshold = 9999;
  }

  GameHistory history;
  Position pos;

  // Searches fen to the given depth with one thread; returns the score.
  int run(const char* fen, int depth, u64 nodes = 0) {
    position_init(pos, history);
    set_position(pos, fen);
    SearchControl& c = g_control;
    reset_search_results(c);
    c.clock.search_start = now_seconds();
    c.clock.elapsed = 0;
    c.limits.max_depth = u8(depth);
    c.limits.limit_mode = 1;
    c.limits.fixed_time = 99;
    c.clock.target_time = 99;
    c.config.multipv = 1;
    c.limits.node_limit = i64(nodes);
    c.limits.root_side = pos.side;
    c.search_state = STATE_SEARCH;
    c.config.tt_age = u16(c.config.tt_age % 15 + 1);
    tool_search(pos);
    c.search_state = STATE_IDLE;
    return c.result.best_score;
  }
  std::string best() const {
    char buf[16];
    move_to_text(g_control.result.best_move(), buf, Notation::UCI);
    return buf;
  }
};

}  // namespace

TEST_F(SearchEnv, FindsMatesWithTheRightDistance) {
  // Mate in one.
  EXPECT_EQ(run("6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - -", 4), 9998);
  EXPECT_EQ(best(), "d1d8");
  // Mate in two (1. Nf6+ gxf6 2. Bxf7#) and mate in three.
  EXPECT_EQ(run("r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq -", 8), 10000 - 4);
  EXPECT_EQ(best(), "d5f6");
  EXPECT_EQ(run("1k5r/pP3ppp/3p2b1/1BN1n3/1Q2P3/P1B5/KP3P1P/7q w - -", 10), 10000 - 6);
  EXPECT_EQ(best(), "c5a6");
  // The side being mated sees the mate coming: after 1. Nf6+ it is Black to move.
  EXPECT_EQ(run("r2qkb1r/pp2nppp/3p1N2/2p1N1B1/2BnP3/3P4/PPP2PPP/R2bK2R b KQkq -", 8), -(10000 - 3));
}

TEST_F(SearchEnv, StalemateAndSingleReply) {
  // Black to move has no legal move and is not in check: nothing to play.
  run("7k/5Q2/6K1/8/8/8/8/8 b - -", 4);
  EXPECT_EQ(g_control.result.best_move(), 0);
  // Only one legal move.
  run("7k/8/8/8/8/8/r7/1r5K w - -", 4);
}

TEST_F(SearchEnv, SearchIsDeterministicAndLeavesPositionIntact) {
  const char* fen = "r1bqkb1r/pp1ppppp/2n2n2/8/3NP3/2N5/PPP2PPP/R1BQKB1R b KQkq -";
  clear_hash();
  run(fen, 7);
  u64 n1 = g_control.result.nodes_by_depth[7];
  std::string m1 = best();
  clear_hash();
  run(fen, 7);
  EXPECT_EQ(g_control.result.nodes_by_depth[7], n1);
  EXPECT_EQ(best(), m1);
  EXPECT_TRUE(position_is_consistent(g_threads[0]->pos));
}

// The picker hands out exactly the legal moves: perft through it matches the
// published counts.
TEST_F(SearchEnv, PerftThroughThePickerMatchesTheSuite) {
  REQUIRE_TESTDATA("perft/perftsuite.epd");
  std::ifstream in(testdata_path("perft/perftsuite.epd"));
  std::string line;
  int checked = 0;
  while (std::getline(in, line)) {
    size_t semi = line.find(';');
    if (semi == std::string::npos) continue;
    unsigned long long d3 = 0;
    size_t at = line.find(";D3 ");
    if (at == std::string::npos) continue;
    d3 = std::stoull(line.substr(at + 4));
    GameHistory h;
    Position p;
    position_init(p, h);
    set_position(p, line.substr(0, semi).c_str());
    copy_root_to_threads(p);
    ASSERT_EQ(perft_picker(*g_threads[0], 3), d3) << line;
    ++checked;
  }
  EXPECT_GT(checked, 100);
}

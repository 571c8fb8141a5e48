// The search run in-process: repeatable, leaving the position intact, and
// the move picker handing out exactly the legal moves.
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
    g_control.hash_mb = 16;
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
    c.search_start = now_seconds();
    c.elapsed = 0;
    c.max_depth = u8(depth);
    c.limit_mode = 1;
    c.fixed_time = 99;
    c.target_time = 99;
    c.multipv = 1;
    c.node_limit = i64(nodes);
    c.root_side = pos.side;
    c.search_state = STATE_SEARCH;
    c.tt_age = u16(c.tt_age % 15 + 1);
    tool_search(pos);
    c.search_state = STATE_IDLE;
    return c.best_score;
  }
  std::string best() const {
    char buf[16];
    move_to_text(g_control.best_move(), buf);
    return buf;
  }
};

}  // namespace

// Mates, stalemate and single replies are checked through the protocol
// (SearchUci.MateStalemateRepetitionAndForcedMoves).
TEST_F(SearchEnv, SearchIsDeterministicAndLeavesPositionIntact) {
  const char* fen = "r1bqkb1r/pp1ppppp/2n2n2/8/3NP3/2N5/PPP2PPP/R1BQKB1R b KQkq -";
  clear_hash();
  run(fen, 7);
  u64 n1 = g_control.nodes_by_depth[7];
  std::string m1 = best();
  clear_hash();
  run(fen, 7);
  EXPECT_EQ(g_control.nodes_by_depth[7], n1);
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
    const size_t semi = line.find(';'), at = line.find(";D3 ");
    if (semi == std::string::npos || at == std::string::npos) continue;
    GameHistory h;
    Position p;
    position_init(p, h);
    set_position(p, line.substr(0, semi).c_str());
    copy_root_to_threads(p);
    ASSERT_EQ(perft_picker(*g_threads[0], 3), std::stoull(line.substr(at + 4))) << line;
    ++checked;
  }
  EXPECT_GT(checked, 100);
}

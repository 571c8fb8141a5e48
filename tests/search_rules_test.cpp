// Time allotment, transposition-table scores and history bounds, checked on
// worked examples.

#include <cmath>

#include "board_test.h"
#include "search/control.h"
#include "search/stack.h"
#include "search/timeman.h"
#include "search/tt.h"
#include "search/ttprobe.h"

namespace {

// The target time for White's move at the given ply, from fresh defaults.
f64 target_time(int limit_mode, f64 clock, f64 inc, int moves_to_go, f64 overhead, int ply, int elo = 2800) {
  search_control_defaults(g_control);
  g_control.limits.limit_mode = u8(limit_mode);
  g_control.limits.root_side = WHITE;
  g_control.limits.side_time[WHITE] = clock;
  g_control.limits.increment = inc;
  g_control.limits.moves_to_go = i16(moves_to_go);
  g_control.config.move_overhead = overhead;
  g_control.config.ponder_allowed = true;
  g_control.config.gui_ponders = true;
  return compute_target_time(ply, true, elo);
}

}  // namespace

TEST(TimeAllotment, WorkedExamples) {
  // Sudden death, 60 s, first move, ponder on: 60 / 34 * 1.3; weaker ratings think a little less.
  EXPECT_NEAR(target_time(0, 60, 0, 0, 0.05, 0), 60.0 / 34 * 1.3, 1e-9);
  EXPECT_EQ(g_control.limits.moves_to_go, 33);
  EXPECT_NEAR(target_time(0, 60, 0, 0, 0.05, 0, 2000), 60.0 / 34 * 1.3 * 0.85, 1e-9);
  // Ply 40, 10 s left: 10 / 24 * 1.3; an increment of 2 s adds 2 * 10 / 14.
  EXPECT_NEAR(target_time(0, 10, 0, 0, 0.05, 40), 10.0 / 24 * 1.3, 1e-9);
  EXPECT_NEAR(target_time(0, 10, 2, 0, 0.05, 40), 10.0 / 24 * 1.3 + 20.0 / 14, 1e-9);
  // One move to the control with 5 s: min(5 / 2, 0.65 * 5 - 0.25), no ponder bonus.
  EXPECT_NEAR(target_time(40, 5, 0, 1, 0.05, 30), 2.5, 1e-9);
  // A huge move overhead leaves only the floor.
  EXPECT_NEAR(target_time(0, 20, 0, 0, 5.0, 10), 0.002, 1e-12);
  // Fixed move time: the target is the time, and the clock becomes it.
  target_time(1, 3, 0, 0, 0.05, 0);
  g_control.limits.fixed_time = 0.7;
  EXPECT_NEAR(compute_target_time(0, true, 2800), 0.7, 1e-12);
  EXPECT_NEAR(g_control.limits.side_time[WHITE], 0.7, 1e-12);
}

TEST(TimeAllotment, PonderBonusNeedsAClientThatPonders) {
  target_time(0, 60, 0, 0, 0.05, 0);
  g_control.config.gui_ponders = false;
  EXPECT_NEAR(compute_target_time(0, true, 2800), 60.0 / 34, 1e-9);
  g_control.config.ponder_allowed = false;
  g_control.config.gui_ponders = true;
  EXPECT_NEAR(compute_target_time(0, true, 2800), 60.0 / 34, 1e-9);
}

TEST(TimeAllotment, HardLimitIsAFewTargetsWithinTheClock) {
  // Sudden death, 60 s: four targets, far inside the clock.
  f64 t = target_time(0, 60, 0, 0, 0.05, 0);
  EXPECT_NEAR(compute_hard_time(t), 4 * t, 1e-9);
  // 10 s + 0.1 at ply 40: still four targets.
  t = target_time(0, 10, 0.1, 0, 0.05, 40);
  EXPECT_NEAR(compute_hard_time(t), 4 * t, 1e-9);
  // One move to the control with 5 s: the clock caps it at 0.75 * 5 - 5 * 0.05.
  t = target_time(40, 5, 0, 1, 0.05, 30);
  EXPECT_NEAR(compute_hard_time(t), 3.5, 1e-9);
  // 0.3 s left with a 2 s increment: the target is capped, the hard limit no larger.
  t = target_time(0, 0.3, 2, 0, 0.01, 60);
  EXPECT_LE(compute_hard_time(t), 0.75 * 0.3);
  EXPECT_GE(compute_hard_time(t), t);
  // A move overhead larger than the clock allows: the hard limit is the target floor.
  t = target_time(0, 20, 0, 0, 5.0, 10);
  EXPECT_NEAR(compute_hard_time(t), 0.002, 1e-12);
  // Fixed move time: the hard limit is the time itself.
  target_time(1, 3, 0, 0, 0.05, 0);
  g_control.limits.fixed_time = 0.7;
  EXPECT_NEAR(compute_hard_time(compute_target_time(0, true, 2800)), 0.7, 1e-12);
}

TEST(TimeAllotment, SoftLimitFollowsStabilityScoreAndNodeShare) {
  target_time(0, 60, 0, 0, 0.05, 20);
  SearchResult& r = g_control.result;
  g_control.clock.target_time = 1.0;
  r.best_score = 30;
  r.score_by_depth[7] = 30;
  // A best move that changed in this iteration gets more time than one that held for five.
  r.change_depth = 10;
  const f64 changed = soft_limit_scale(10, 0.6);
  r.change_depth = 5;
  const f64 held = soft_limit_scale(10, 0.6);
  EXPECT_GT(changed, held);
  // A falling score gets more, a rising one less.
  r.best_score = -20;
  EXPECT_GT(soft_limit_scale(10, 0.6), held);
  r.best_score = 80;
  EXPECT_LT(soft_limit_scale(10, 0.6), held);
  r.best_score = 30;
  // A best move that took most of the tree needs less time.
  EXPECT_LT(soft_limit_scale(10, 0.95), soft_limit_scale(10, 0.3));
  // Tested against three quarters of the scaled target, only from iteration 4 on.
  g_control.clock.elapsed = 0.75 * held - 0.01;
  EXPECT_FALSE(soft_limit_reached(10, 0.6));
  g_control.clock.elapsed = 0.75 * held + 0.01;
  EXPECT_TRUE(soft_limit_reached(10, 0.6));
  EXPECT_FALSE(soft_limit_reached(3, 0.6));
  // Fixed limits never stop between iterations.
  g_control.limits.limit_mode = LIMIT_FIXED;
  EXPECT_FALSE(soft_limit_reached(10, 0.6));
}

TEST(TranspositionTable, MateScoresAndCheckWords) {
  // Mate scores are stored relative to the node and read back relative to the root.
  EXPECT_EQ(score_to_tt(9990, 3), 9993);
  EXPECT_EQ(score_from_tt(9993, 5), 9988);
  EXPECT_EQ(score_to_tt(-9990, 3), -9993);
  EXPECT_EQ(score_from_tt(-9993, 5), -9988);
  EXPECT_EQ(score_to_tt(9650, 4), 9650);  // below the store threshold...
  EXPECT_EQ(score_from_tt(9650, 4), 9646);  // ...but above the read one
  EXPECT_EQ(score_to_tt(150, 9), 150);

  search_control_defaults(g_control);
  g_control.config.hash_mb = 1;
  ASSERT_TRUE(tt_allocate());
  g_control.config.tt_age = 1;
  TestBoard b(KIWIPETE_FEN);
  Move m = make_move_code(E2, A6);

  tt_store(b.pos, 3, 10, m, 9990, -100, 100);
  TTHit e = tt_probe(b.pos);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->move, m);
  EXPECT_EQ(e->bound, BOUND_LOWER);
  EXPECT_EQ(score_from_tt(e->score, 5), 9988);

  // A corrupted entry fails its check word.
  TTEntry corrupt = tt_probe(b.pos).entry;
  corrupt.score ^= 1;
  tt_probe(b.pos).slot->store(corrupt);
  EXPECT_FALSE(tt_probe(b.pos));

  // Without a table nothing is found and nothing fills.
  g_control.config.hash_mb = 0;
  ASSERT_TRUE(tt_allocate());
  tt_hashfull();
  EXPECT_EQ(g_control.stats.hash_fill, 0.0);
  EXPECT_FALSE(tt_probe(b.pos));
}

// Quiet-move history saturates: the deepest bonus or malus, however often it
// repeats, keeps an entry inside 0..HISTORY_MAX, and the entry still climbs
// close enough to the top (or the bottom) to order moves by it.
TEST(History, RewardsAndPenaltiesStayInsideTheirRange) {
  for (int depth = 1; depth <= 8; ++depth) {
    const int bonus = 16 * depth, malus = 8 * depth;
    i16 h = 2048;
    for (int i = 0; i < 5000; ++i) {
      const i16 before = h;
      history_reward(h, bonus);
      ASSERT_GE(h, before);
      ASSERT_LE(h, HISTORY_MAX);
    }
    EXPECT_GE(h, HISTORY_MAX - 2048 / bonus) << depth;
    for (int i = 0; i < 5000; ++i) {
      const i16 before = h;
      history_penalty(h, malus);
      ASSERT_LE(h, before);
      ASSERT_GE(h, 0);
    }
    EXPECT_LE(h, 2048 / malus) << depth;
  }
  // Alternating at full strength never leaves the range either.
  i16 h = HISTORY_MAX;
  for (int i = 0; i < 1000; ++i) {
    history_penalty(h, 64);
    history_reward(h, 128);
    ASSERT_GE(h, 0);
    ASSERT_LE(h, HISTORY_MAX);
  }
}

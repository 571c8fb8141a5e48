// Leaf counts of the legal move tree against published values, by the
// generator, by the fast counter and through the search's move picker.
#include <algorithm>

#include "board/movegen.h"
#include "board/perft.h"
#include "board/position.h"
#include "board/see.h"
#include "board_test.h"
#include "search/picker.h"
#include "search/thread.h"
#include "test_util.h"

namespace {

#ifdef VORN_DEBUG_CHECKS
constexpr int DEPTH_CUT = 2;  // every make/unmake is re-verified from scratch in this build
#else
constexpr int DEPTH_CUT = 0;
#endif

std::vector<Move> sorted_moves(const Move* moves, int n) {
  std::vector<Move> v(moves, moves + n);
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace

// The suite to depth 4 (its six classic positions, or all with VORN_LONG_TESTS=1,
// to 5) by generator and bulk counter, and through the move picker to depth 3.
TEST(Perft, SuiteByGeneratorFastCounterAndPicker) {
  REQUIRE_TESTDATA("perft/perftsuite.epd");
  const std::vector<PerftCase> cases = perft_cases("perft/perftsuite.epd");
  ASSERT_GT(cases.size(), 100u);
  if (thread_count() == 0) create_search_threads(1);
  int index = 0;
  for (const auto& c : cases) {
    TestBoard b(c.fen.c_str());
    const std::string fen = b.fen();
    const u64 key = b.pos.hash_key;
    const int max_depth = index++ < 6 ? 5 - DEPTH_CUT : (long_tests_enabled() ? 5 : 4) - (DEPTH_CUT ? 1 : 0);
    for (int d = 1; d <= max_depth && d <= int(c.counts.size()); ++d)
      ASSERT_EQ(perft(b.pos, d), c.counts[d - 1]) << c.fen << " depth " << d;
    const int fast_depth = std::min(max_depth, int(c.counts.size()));
    ASSERT_EQ(perft_fast(b.pos, fast_depth), c.counts[fast_depth - 1]) << c.fen << " fast, depth " << fast_depth;
    ASSERT_TRUE(b.fen() == fen && b.pos.hash_key == key) << c.fen;
    Move fast[MAX_MOVES], slow[MAX_MOVES];
    const int n = gen_legal_fast(b.pos, fast);
    ASSERT_EQ(sorted_moves(fast, n), sorted_moves(slow, gen_legal(b.pos, slow))) << c.fen;
    ASSERT_EQ(count_legal(b.pos), n) << c.fen;
    copy_root_to_threads(b.pos);
    ASSERT_EQ(perft_picker(*g_threads[0], 3), c.counts[2]) << c.fen << " through the picker";
  }
}

namespace {

int g_polls = 0;
bool stop_at_first_poll() { return ++g_polls >= 1; }

}  // namespace

// A stop request abandons even a very deep count and leaves the position intact.
TEST(PerftFast, StopsWhenAsked) {
  TestBoard b("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
  const std::string fen = b.fen();
  bool stopped = false;
  g_polls = 0;
  const u64 partial = perft_fast(b.pos, 8, stop_at_first_poll, &stopped);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(g_polls, 1);
  EXPECT_GT(partial, 0u);
  EXPECT_EQ(b.fen(), fen);

  g_polls = 0;
  int reported = 0;
  perft_divide(b.pos, 8, [&](Move, u64) { ++reported; }, stop_at_first_poll, &stopped);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(reported, 0);
  EXPECT_EQ(b.fen(), fen);

  perft_fast(b.pos, 2, stop_at_first_poll, &stopped);
  EXPECT_FALSE(stopped);
}

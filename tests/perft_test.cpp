// Leaf counts of the legal move tree against published values, by the
// generator, by the fast counter and through the search's move picker.
#include "board_test.h"

// The suite to depth 4 (its six classic positions, or all with VORN_LONG_TESTS=1,
// to 5) by generator and bulk counter, and through the move picker to depth 3.
TEST(Perft, SuiteByGeneratorFastCounterAndPicker) {
  REQUIRE_TESTDATA("perft/perftsuite.epd");
  const std::vector<PerftCase> cases = perft_cases("perft/perftsuite.epd");
  ASSERT_GT(cases.size(), 100u);
  int index = 0;
  for (const auto& c : cases) {
    const bool classic = index++ < 6;
    const int depth = std::min((classic || long_tests_enabled() ? 5 : 4) - (DEBUG_CHECKS ? 1 + classic : 0),
                               int(c.counts.size()));
    check_perft_case(c, depth, depth, 3);
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

// Leaf counts of the legal move tree against published values, by the
// generator, by the fast counter and through the search's move picker.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

struct PerftCase {
  std::string fen;
  std::vector<u64> counts;  // counts[d-1] for depth d
};

// Lines look like: <fen> ;D1 20 ;D2 400 ...
std::vector<PerftCase> read_suite() {
  std::vector<PerftCase> cases;
  std::ifstream in(testdata_path("perft/perftsuite.epd"));
  for (std::string line; std::getline(in, line);) {
    if (line.find(';') == std::string::npos) continue;
    PerftCase c{line.substr(0, line.find(';')), {}};
    std::stringstream rest(line.substr(line.find(';')));
    int d;
    unsigned long long n;
    for (std::string tok; std::getline(rest, tok, ';');)
      if (std::sscanf(tok.c_str(), " D%d %llu", &d, &n) == 2) c.counts.push_back(n);
    cases.push_back(c);
  }
  return cases;
}

}  // namespace

TEST(Perft, ClassicPositionsToDepth5) {
  struct {
    const char* fen;
    u64 nodes[5];
  } cases[] = {
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", {20, 400, 8902, 197281, 4865609}},
      {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -", {48, 2039, 97862, 4085603, 193690690}},
      {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -", {14, 191, 2812, 43238, 674624}},
      {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq -", {6, 264, 9467, 422333, 15833292}},
      {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ -", {44, 1486, 62379, 2103487, 89941194}},
      {"r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - -", {46, 2079, 89890, 3894594, 164075551}},
  };
  for (const auto& c : cases) {
    TestBoard b(c.fen);
    for (int d = 1; d <= 5 - DEPTH_CUT; ++d) ASSERT_EQ(perft(b.pos, d), c.nodes[d - 1]) << c.fen << " depth " << d;
  }
}

// The whole suite to depth 4 (5 with VORN_LONG_TESTS=1), and through the
// move picker to depth 3: it hands out exactly the legal moves.
TEST(Perft, SuiteByGeneratorAndPicker) {
  REQUIRE_TESTDATA("perft/perftsuite.epd");
  const std::vector<PerftCase> cases = read_suite();
  ASSERT_GT(cases.size(), 100u);
  const int max_depth = (long_tests_enabled() ? 5 : 4) - (DEPTH_CUT ? 1 : 0);
  if (thread_count() == 0) create_search_threads(1);
  for (const auto& c : cases) {
    TestBoard b(c.fen.c_str());
    for (int d = 1; d <= max_depth && d <= int(c.counts.size()); ++d)
      ASSERT_EQ(perft(b.pos, d), c.counts[d - 1]) << c.fen << " depth " << d;
    copy_root_to_threads(b.pos);
    ASSERT_EQ(perft_picker(*g_threads[0], 3), c.counts[2]) << c.fen << " through the picker";
  }
}

namespace {

int g_polls = 0;
bool stop_at_first_poll() { return ++g_polls >= 1; }

std::vector<Move> sorted_moves(const Move* moves, int n) {
  std::vector<Move> v(moves, moves + n);
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace

// The legal generator lists the same moves as the pseudo-legal one filtered by
// the full legality test, and the bulk count agrees with the slow perft.
TEST(PerftFast, AgreesWithPerftOverSuite) {
  REQUIRE_TESTDATA("perft/perftsuite.epd");
  auto cases = read_suite();
  ASSERT_GT(cases.size(), 100u);
  int index = 0;
  for (const auto& c : cases) {
    TestBoard b(c.fen.c_str());
    const std::string fen = b.fen();
    const u64 key = b.pos.hash_key;
    Move fast[MAX_MOVES], slow[MAX_MOVES];
    const int n = gen_legal_fast(b.pos, fast);
    ASSERT_EQ(sorted_moves(fast, n), sorted_moves(slow, gen_legal(b.pos, slow))) << c.fen;
    ASSERT_EQ(count_legal(b.pos), n) << c.fen;
    const int depth = index++ < 8 ? 4 : 3;
    ASSERT_EQ(perft_fast(b.pos, depth), perft(b.pos, depth)) << c.fen << " depth " << depth;
    ASSERT_EQ(b.fen(), fen);
    ASSERT_EQ(b.pos.hash_key, key);
  }
}

// Each root move's count is the slow perft one ply less after that move, the
// moves come in generation order, and they add up to the suite's total.
TEST(PerftFast, DivideSplitsTheTotal) {
  const char* fens[] = {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
                        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"};
  const u64 totals[] = {8902, 97862};
  for (int i = 0; i < 2; ++i) {
    TestBoard b(fens[i]);
    std::vector<std::pair<Move, u64>> split;
    const u64 total = perft_divide(b.pos, 3, [&](Move m, u64 n) { split.emplace_back(m, n); });
    EXPECT_EQ(total, totals[i]);
    Move moves[MAX_MOVES];
    const int n = gen_legal_fast(b.pos, moves);
    ASSERT_EQ(int(split.size()), n);
    u64 sum = 0;
    for (int j = 0; j < n; ++j) {
      ASSERT_EQ(split[j].first, moves[j]);
      make_move(b.pos, moves[j]);
      EXPECT_EQ(split[j].second, perft(b.pos, 2)) << fens[i] << " move " << j;
      unmake_move(b.pos);
      sum += split[j].second;
    }
    EXPECT_EQ(sum, total);
  }
}

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

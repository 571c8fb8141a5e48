// What GUIs, match runners and testing frameworks expect of the binary.

#include "engine_process.h"

namespace {

const char* const KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";

void start_uci(EngineProcess& e) {
  e.send("uci");
  ASSERT_TRUE(has_line(e.read_until("uciok"), "uciok"));
}

std::string best_move(EngineProcess& e, const std::string& go) {
  e.send(go);
  return e.bestmove(60000);
}

}  // namespace

TEST(ClientExpectations, HelpVersionAndSwitchesThatGoWrong) {
  EXPECT_EQ(run_to_exit({"--version"}), std::vector<std::string>{"Vorn 4.0"});
  for (const char* h : {"--help", "-h"}) {
    std::vector<std::string> out = run_to_exit({h});
    EXPECT_TRUE(any_starts_with(out, "  -hash")) << h;
    EXPECT_TRUE(any_starts_with(out, "See README.md")) << h;
  }
  // Unknown switches and a missing value are reported on stderr and the
  // engine starts as usual, with its default table rather than none.
  EngineProcess e({"-nonsense", "-threads", "x", "-hash"});
  e.send("uci");
  std::vector<std::string> out = e.read_until("uciok");
  EXPECT_TRUE(has_line(out, "uciok"));
  EXPECT_TRUE(any_starts_with(out, "info string allocated 64 Mbytes"));
  e.quit();
}

TEST(ClientExpectations, SearchmovesRestrictTheRootInEveryMode) {
  EngineProcess e;
  start_uci(e);
  e.send("setoption name Threads value 2");
  struct Case { std::string fen, allowed; } cases[] = {
      {"startpos", "a2a3 h2h3"},
      {"fen r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 0 1", "g1f3 b1c3 d2d3"},  // not Qxf7#
      {std::string("fen ") + KIWIPETE, "a2a3 zz e7e5 b2b3"},  // unknown and illegal words are dropped
  };
  for (int multipv : {1, 2}) {
    e.send("setoption name MultiPV value " + std::to_string(multipv));
    for (const Case& c : cases) {
      e.send("position " + c.fen);
      std::string m = best_move(e, "go depth 6 searchmoves " + c.allowed);
      EXPECT_NE((" " + c.allowed + " ").find(" " + m + " "), std::string::npos) << c.fen << ": " << m;
    }
  }
  e.send("setoption name MultiPV value 1");
  // An adapter's exclusion list: every legal move but two.
  e.send(std::string("position fen ") + KIWIPETE);
  unsigned long long total = 0;
  std::map<std::string, unsigned long long> legal = divide(e, 1, &total);
  ASSERT_EQ(legal.size(), 48u);
  ASSERT_TRUE(legal.count("e2a6") && legal.count("d5e6"));
  std::string list;
  for (const auto& [move, count] : legal)
    if (move != "e2a6" && move != "d5e6") list += " " + move;
  std::string m = best_move(e, "go depth 6 searchmoves" + list);
  EXPECT_TRUE(m != "e2a6" && m != "d5e6" && legal.count(m)) << m;
  // Nothing legal in the list: the whole root.
  EXPECT_EQ(legal.count(best_move(e, "go depth 4 searchmoves a1a8 zz")), 1u);
  e.quit();
}

TEST(ClientExpectations, GoMateWithoutAMateWaitsForStop) {
  EngineProcess e;
  start_uci(e);
  // No mate to find: "go mate" searches on until "stop", like "go infinite".
  e.send("position startpos");
  e.send("go mate 2");
  std::vector<std::string> out = e.wait_for(" depth 6 ");
  EXPECT_FALSE(any_starts_with(out, "bestmove"));
  EXPECT_FALSE(any_starts_with(e.sync(), "bestmove"));
  e.send("stop");
  EXPECT_EQ(e.bestmove().size(), 4u);
  e.quit();
}

TEST(ClientExpectations, PerftDivideAndInterruption) {
  EngineProcess e;
  start_uci(e);
  // Each root move's count is the next-shallower total after that move; the
  // totals are the standard counts of these positions.
  struct Case { std::string position; int depth; std::size_t moves; unsigned long long total; } cases[] = {{"startpos", 4, 20, 197281}, {std::string("fen ") + KIWIPETE, 3, 48, 97862}};
  for (const Case& c : cases) {
    e.send("position " + c.position);
    unsigned long long total = 0, sum = 0;
    std::map<std::string, unsigned long long> counts = divide(e, c.depth, &total);
    EXPECT_EQ(total, c.total) << c.position;
    ASSERT_EQ(counts.size(), c.moves) << c.position;
    for (const auto& [move, count] : counts) {
      sum += count;
      e.send("position " + c.position + " moves " + move);
      unsigned long long child = 0;
      divide(e, c.depth - 1, &child);
      EXPECT_EQ(count, child) << c.position << " " << move;
    }
    EXPECT_EQ(sum, total);
  }
  // A count far too big to finish gives way to "stop" (and to "." at the
  // console prompt: HostileInput.ConsoleJobsGiveTheInputBack).
  // Its partial count is no perft figure and is not printed as one.
  e.send("position startpos\ngo perft 8\nstop");
  std::vector<std::string> cut = e.read_until("info string perft interrupted", 30000);
  ASSERT_FALSE(cut.empty());
  EXPECT_EQ(cut.back(), "info string perft interrupted");
  EXPECT_FALSE(any_starts_with(cut, "Nodes searched"));
  EXPECT_TRUE(e.sync().empty());
  e.quit();
}

TEST(ClientExpectations, FailedFilesAreReported) {
  EngineProcess e({"-cfg", "/nope.cfg"});
  e.send("uci");
  EXPECT_TRUE(has_line(e.read_until("uciok"), "info string configuration file /nope.cfg cannot be opened"));
  e.send("setoption name OwnBook value true");
  e.send("setoption name OwnBook_File value /nonexistent/book.bin");
  int messages = 0;
  for (int i = 0; i < 2; ++i) {
    e.send("position startpos");
    e.send("go depth 2");
    for (const std::string& l : e.read_until("bestmove", 30000, true))
      messages += l == "info string book file /nonexistent/book.bin cannot be read";
  }
  EXPECT_EQ(messages, 1);
  // A path longer than the option holds is refused, not cut.
  e.send("setoption name OwnBook_File value /" + std::string(150, 'b'));
  EXPECT_TRUE(any_starts_with(e.sync(), "info string OwnBook_File not changed"));
  e.quit();
}

// Four search threads through the real binary (the ThreadSanitizer build
// runs this suite): waits on output, never on the clock.

#include "board_test.h"
#include "engine_process.h"

namespace {

constexpr int SLOW = 30000;  // instrumented builds run many times slower

// Waits until the running search has printed a line with a score, so the
// helpers are surely searching when the next command arrives.
void wait_for_score(EngineProcess& e) {
  std::string line;
  while (e.read_line(line, SLOW))
    if (line.find(" score ") != std::string::npos) return;
  ADD_FAILURE() << "no info line from the running search";
}

TEST(Threads, GoStopPonderAndClockSearches) {
  EngineProcess e({"-threads", "4"});
  e.sync(SLOW);
  const std::vector<std::string> moves = {"e2e4", "c7c5", "g1f3"};
  e.send("position startpos moves e2e4 c7c5 g1f3");
  // Each search, released by the second command once it prints a score
  // (when it has one), ends in one legal bestmove.
  const std::pair<const char*, const char*> searches[] = {
      {"go infinite", "stop"}, {"go infinite", "stop"}, {"go infinite", "stop"}, {"go infinite", "stop"},
      {"go ponder wtime 2000 btime 2000", "ponderhit"}, {"go ponder wtime 2000 btime 2000", "stop"},
      {"go wtime 1500 btime 1500 winc 20 binc 20", ""}, {"go movestogo 5 wtime 1000 btime 1000", ""},
      {"go depth 7", ""}, {"go movetime 300", ""}};
  for (const auto& [go, release] : searches) {
    e.send(go);
    if (release[0]) {
      wait_for_score(e);
      e.send(release);
    }
    const std::string best = e.bestmove(SLOW);
    EXPECT_TRUE(is_legal_text(START_FEN, moves, best)) << go << " / " << release << ": '" << best << "'";
    for (const std::string& l : e.sync(SLOW)) EXPECT_FALSE(starts_with(l, "bestmove")) << go << ": second " << l;
  }
  // Mates are still found with helpers searching the same tree.
  e.send("position fen 1k5r/pP3ppp/3p2b1/1BN1n3/1Q2P3/P1B5/KP3P1P/7q w - -");
  const GoReply r = go_reply(e, "go depth 8", SLOW);
  EXPECT_EQ(r.best, "c5a6");
  EXPECT_EQ(r.score, "mate 3");
  e.quit(SLOW);  // a sanitizer report ends the engine with 66
}

// Roots the tables decide (searched by thread 0 alone, or answered at once
// from a fifty-move count of 20) alternate with roots they do not cover,
// where the helpers must search again.
TEST(Threads, TablebaseRootsBetweenSearches) {
  REQUIRE_TESTDATA("syzygy/KQvK.rtbw");
  EngineProcess e({"-threads", "4"});
  e.send("setoption name SyzygyPath value " + testdata_path("syzygy"));
  e.sync(SLOW);
  const char* const fens[] = {"8/8/8/8/8/2k5/8/KQ6 w - - 0 1", START_FEN, "8/8/8/8/8/2k5/8/KQ6 w - - 20 30",
                              "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3",
                              "4k3/8/8/8/8/8/r7/4K2R w - - 0 1"};
  for (const char* fen : fens) {
    e.send(std::string("position fen ") + fen);
    e.send("go depth 8");
    std::string best = e.bestmove(SLOW);
    EXPECT_TRUE(is_legal_text(fen, {}, best)) << fen << ": '" << best << "'";
    e.sync(SLOW);
  }
  e.quit(SLOW);
}

}  // namespace

// Searches driven through the real binary: every "go" ends in exactly one
// legal "bestmove", at the right time, with scores a GUI can trust.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "board_test.h"
#include "engine_process.h"

namespace {

using Clock = std::chrono::steady_clock;

int ms_since(Clock::time_point t0) {
  return int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// Whether `text` is a legal move (UCI notation) of the position.
bool is_legal_text(const std::string& fen, const std::vector<std::string>& moves, const std::string& text) {
  TestBoard b(fen.c_str());
  for (const auto& m : moves) b.play(m.c_str());
  Move list[MAX_MOVES];
  int n = gen_legal(b.pos, list);
  bool found = false;
  for (int i = 0; i < n; ++i) {
    char buf[16];
    move_to_text(list[i], buf, Notation::UCI);
    if (text == buf) found = true;
  }
  return found;
}

struct Result {
  std::vector<std::string> lines;
  std::string best, ponder;
  int bestmove_count = 0;
};

// Reads up to the bestmove line (and checks that no second one follows).
Result finish(EngineProcess& e, int timeout_ms = 10000) {
  Result r;
  r.lines = e.read_until("bestmove", timeout_ms, true);
  for (const auto& l : r.lines)
    if (l.rfind("bestmove", 0) == 0) {
      ++r.bestmove_count;
      auto w = words(l);
      if (w.size() >= 2) r.best = w[1];
      if (w.size() >= 4 && w[2] == "ponder") r.ponder = w[3];
    }
  for (const auto& l : e.sync()) EXPECT_NE(l.rfind("bestmove", 0), 0u) << "second bestmove: " << l;
  return r;
}

std::string last_score(const Result& r) {
  std::string s;
  for (const auto& l : r.lines) {
    auto w = words(l);
    for (size_t i = 0; i + 2 < w.size(); ++i)
      if (w[i] == "score") s = w[i + 1] + " " + w[i + 2];
  }
  return s;
}

const std::string START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";

}  // namespace

TEST(SearchUci, EveryLimitEndsInOneLegalBestmove) {
  EngineProcess e;
  e.sync();
  e.send("position startpos moves e2e4 e7e5");
  const std::vector<std::string> moves = {"e2e4", "e7e5"};
  for (const char* go : {"go depth 6", "go nodes 20000", "go movetime 200", "go wtime 2000 btime 2000 winc 100 binc 100",
                         "go wtime 3000 btime 3000 movestogo 2", "go wtime 0 btime 0", "go wtime -50 btime -50",
                         "go depth banana", "go"}) {
    auto t0 = Clock::now();
    e.send(go);
    Result r = finish(e);
    EXPECT_EQ(r.bestmove_count, 1) << go;
    EXPECT_TRUE(is_legal_text(START, moves, r.best)) << go << ": " << r.best;
    if (!r.ponder.empty()) {
      std::vector<std::string> after = moves;
      after.push_back(r.best);
      EXPECT_TRUE(is_legal_text(START, after, r.ponder)) << go << ": ponder " << r.ponder;
    }
    if (std::string(go) == "go movetime 200") {
      EXPECT_GE(ms_since(t0), 190);
      EXPECT_LT(ms_since(t0), 600);
    }
  }
  e.send("quit");
  EXPECT_EQ(e.wait_exit(), 0);
}

TEST(SearchUci, InfiniteAndPonderWaitForTheClient) {
  EngineProcess e;
  e.sync();
  // Mate in two: the search ends by itself, but "go infinite" must not answer before "stop".
  const std::string fen = "r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq -";
  e.send("position fen " + fen);
  e.send("go infinite");
  usleep(300000);
  for (const auto& l : e.sync()) ASSERT_NE(l.rfind("bestmove", 0), 0u) << l;
  auto t0 = Clock::now();
  e.send("stop");
  Result r = finish(e);
  EXPECT_LT(ms_since(t0), 50 + 100);  // generous for a loaded machine; the engine itself reacts within a few ms
  EXPECT_EQ(r.best, "d5f6");
  EXPECT_EQ(last_score(r), "mate 2");

  // Ponder, then ponderhit: the clock starts counting and a move follows.
  e.send("position startpos");
  e.send("go ponder wtime 1000 btime 1000");
  usleep(200000);
  for (const auto& l : e.sync()) ASSERT_NE(l.rfind("bestmove", 0), 0u) << l;
  e.send("ponderhit");
  r = finish(e, 3000);
  EXPECT_EQ(r.bestmove_count, 1);
  EXPECT_TRUE(is_legal_text(START, {}, r.best));

  // Ponder, then stop: the pondering search's move is reported.
  e.send("go ponder wtime 100000 btime 100000");
  usleep(100000);
  t0 = Clock::now();
  e.send("stop");
  r = finish(e);
  EXPECT_LT(ms_since(t0), 150);
  EXPECT_TRUE(is_legal_text(START, {}, r.best));

  // A new "go" while searching, and "isready" while searching.
  e.send("go infinite");
  e.sync();
  e.send("go depth 3");
  Result first = finish(e);
  EXPECT_EQ(first.bestmove_count, 1);
  e.send("quit");
  EXPECT_EQ(e.wait_exit(), 0);
}

TEST(SearchUci, MateStalemateRepetitionAndForcedMoves) {
  EngineProcess e;
  e.sync();
  struct {
    const char* fen;
    const char* score;
    const char* move;
  } mates[] = {
      {"6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - -", "mate 1", "d1d8"},
      {"r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq -", "mate 2", "d5f6"},
      {"1k5r/pP3ppp/3p2b1/1BN1n3/1Q2P3/P1B5/KP3P1P/7q w - -", "mate 3", "c5a6"},
  };
  for (const auto& m : mates) {
    e.send(std::string("position fen ") + m.fen);
    e.send("go depth 10");
    Result r = finish(e);
    EXPECT_EQ(r.best, m.move) << m.fen;
    EXPECT_EQ(last_score(r), m.score) << m.fen;
  }
  // Being mated: Black is mated after any move (mate -1).
  e.send("position fen r2qkb1r/pp2nppp/3p1N2/2p1N1B1/2BnP3/3P4/PPP2PPP/R2bK2R b KQkq -");
  e.send("go depth 8");
  EXPECT_EQ(last_score(finish(e)), "mate -1");

  // The only way out is a stalemate: White's queen is lost otherwise... a drawn ending.
  e.send("position fen 7k/5K2/6Q1/8/8/8/8/8 b - -");
  e.send("go depth 5");
  Result stalemate = finish(e);
  EXPECT_EQ(stalemate.best, "null");

  // Repetition: Black, a queen down, can bring the position back a third time
  // and draw; after only one earlier occurrence the same idea is no draw yet.
  const std::string queenless = "position fen rnb1kbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - moves ";
  e.send(queenless + "g1f3 g8f6 f3g1 f6g8 g1f3 g8f6 f3g1");
  e.send("go depth 8");
  Result rep = finish(e);
  EXPECT_EQ(last_score(rep), "cp 0");
  EXPECT_EQ(rep.best, "f6g8");
  e.send(queenless + "g1f3 g8f6 f3g1");
  e.send("go depth 8");
  EXPECT_NE(last_score(finish(e)), "cp 0");

  // One legal move is answered.
  e.send("position fen 7k/8/8/8/8/8/r7/6rK w - -");
  e.send("go wtime 10000 btime 10000");
  Result forced = finish(e);
  EXPECT_EQ(forced.best, "h1g1");
  e.send("quit");
  EXPECT_EQ(e.wait_exit(), 0);
}

TEST(SearchUci, MultiPvLinesAreRankedAndParse) {
  EngineProcess e;
  e.sync();
  e.send("setoption name MultiPV value 3");
  e.sync();
  e.send("position startpos");
  e.send("go depth 6");
  Result r = finish(e);
  std::map<int, std::vector<int>> by_depth;  // depth -> multipv numbers seen in order
  for (const auto& l : r.lines) {
    auto w = words(l);
    if (w.empty() || w[0] != "info" || std::find(w.begin(), w.end(), "pv") == w.end()) continue;
    int depth = -1, multipv = -1;
    for (size_t i = 1; i + 1 < w.size(); ++i) {
      if (w[i] == "depth") depth = std::stoi(w[i + 1]);
      if (w[i] == "multipv") multipv = std::stoi(w[i + 1]);
      if (w[i] == "pv") {
        // Every pv move is legal in sequence.
        std::vector<std::string> line;
        for (size_t j = i + 1; j < w.size(); ++j) {
          ASSERT_TRUE(is_legal_text(START, line, w[j])) << l;
          line.push_back(w[j]);
        }
        break;
      }
    }
    ASSERT_GT(multipv, 0) << l;
    by_depth[depth].push_back(multipv);
  }
  // Each depth lists slots 1, 2, 3 in order (the final report repeats slot 1 once more).
  for (int d = 2; d <= 6; ++d) {
    ASSERT_GE(by_depth[d].size(), 3u) << "depth " << d;
    EXPECT_EQ(std::vector<int>(by_depth[d].begin(), by_depth[d].begin() + 3), (std::vector<int>{1, 2, 3})) << d;
  }
  e.send("quit");
  EXPECT_EQ(e.wait_exit(), 0);
}

TEST(SearchUci, OddCommandsAndVeryLongGames) {
  EngineProcess e;
  e.sync();
  e.send("stop");
  e.send("ponderhit");
  e.send("go depth 2");  // before any "position": the start position
  Result r = finish(e);
  EXPECT_TRUE(is_legal_text(START, {}, r.best));
  // A game of more than 800 half-moves: knights shuffling, with a pair of pawn
  // moves every 56 half-moves so the fifty-move rule never ends it; then a search.
  std::string cmd = "position startpos moves";
  std::vector<std::string> game;
  const char* shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
  const char* files = "abcdegh";
  for (int f = 0; f < 7; ++f) {
    for (int step = 0; step < 2; ++step) {
      for (int i = 0; i < 52; ++i) game.push_back(shuffle[i % 4]);
      char w[5] = {files[f], char('2' + step), files[f], char('3' + step), 0};
      char b[5] = {files[f], char('7' - step), files[f], char('6' - step), 0};
      game.push_back(w);
      game.push_back(b);
      for (int i = 0; i < 2; ++i) game.push_back(shuffle[i % 4 == 0 ? 0 : 1]);
      game.push_back("f3g1");
      game.push_back("f6g8");
    }
  }
  ASSERT_GT(game.size(), 800u);
  for (const auto& m : game) cmd += " " + m;
  e.send(cmd);
  e.send("go depth 8");
  r = finish(e);
  EXPECT_EQ(r.bestmove_count, 1);
  EXPECT_TRUE(is_legal_text(START, game, r.best)) << r.best;
  e.send("quit");
  EXPECT_EQ(e.wait_exit(), 0);
}

TEST(SearchUci, BenchSignatureIsStable) {
  // Single-threaded bench at a small depth: the node count is the search's
  // fingerprint.  Update it (and say "Bench: N" in the commit) when the search
  // or the evaluation changes on purpose.
  constexpr const char* SIGNATURE = "nodes= 463654,";
  for (int run = 0; run < 2; ++run) {
    EngineProcess e({"-pbench", "-d", "10"});
    std::vector<std::string> lines = e.read_until("total time=", 60000, true);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find(SIGNATURE), std::string::npos) << lines.back();
    EXPECT_EQ(e.wait_exit(5000), 0);
  }
}

// End of input means "quit" only in play: a benchmark runs to its end
// whether its input is closed at once or held open.
TEST(SearchUci, BenchIgnoresTheEndOfInput) {
  std::string totals[2];
  for (int closed = 0; closed < 2; ++closed) {
    EngineProcess e({"-bench", "-d", "8"});
    if (closed) e.close_input();
    std::vector<std::string> lines = e.read_until("total time=", 60000, true);
    ASSERT_FALSE(lines.empty());
    const std::string& last = lines.back();
    ASSERT_NE(last.find("nodes= "), std::string::npos) << last;
    totals[closed] = last.substr(last.find("nodes= "));
    totals[closed] = totals[closed].substr(0, totals[closed].find(','));
    EXPECT_EQ(e.wait_exit(5000), 0);
  }
  EXPECT_EQ(totals[0], totals[1]);
}

TEST(SearchUci, SeveralThreadsShareTheWork) {
  EngineProcess e;
  e.sync();
  e.send("setoption name Threads value 3");
  e.sync();
  e.send("position startpos moves d2d4 d7d5 c2c4");
  const std::vector<std::string> moves = {"d2d4", "d7d5", "c2c4"};
  for (const char* go : {"go depth 9", "go movetime 300", "go wtime 1000 btime 1000"}) {
    e.send(go);
    Result r = finish(e);
    EXPECT_EQ(r.bestmove_count, 1) << go;
    EXPECT_TRUE(is_legal_text(START, moves, r.best)) << go << ": " << r.best;
  }
  e.send("go infinite");
  usleep(300000);
  auto t0 = Clock::now();
  e.send("stop");
  Result r = finish(e);
  EXPECT_LT(ms_since(t0), 200);
  EXPECT_TRUE(is_legal_text(START, moves, r.best));
  // Mates are still found with helpers searching the same tree.
  e.send("position fen 1k5r/pP3ppp/3p2b1/1BN1n3/1Q2P3/P1B5/KP3P1P/7q w - -");
  e.send("go depth 10");
  r = finish(e);
  EXPECT_EQ(r.best, "c5a6");
  EXPECT_EQ(last_score(r), "mate 3");
  e.send("quit");
  EXPECT_EQ(e.wait_exit(2000), 0);
}

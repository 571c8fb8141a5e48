// Searches driven through the real binary: every "go" ends in exactly one
// legal "bestmove", when the client allows it, with scores a GUI can trust.

#include <filesystem>

#include "board_test.h"
#include "engine_process.h"

namespace {

const std::string MATE_IN_2 = "r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq -";

// One search's reply, after which no second bestmove comes.
GoReply finish(EngineProcess& e, const std::string& go) {
  GoReply r = go_reply(e, go, 10000);
  for (const auto& l : e.sync()) EXPECT_FALSE(starts_with(l, "bestmove")) << "second bestmove: " << l;
  return r;
}

// Waits until the running search prints fragment (an event, not a time) and
// checks that no bestmove came before it or before the following "readyok".
void wait_searching(EngineProcess& e, const std::string& fragment) {
  std::vector<std::string> lines = e.wait_for(fragment);
  ASSERT_FALSE(lines.empty());
  ASSERT_NE(lines.back().find(fragment), std::string::npos) << lines.back();
  for (const auto& l : e.sync()) lines.push_back(l);
  ASSERT_FALSE(any_starts_with(lines, "bestmove"));
}

}  // namespace

TEST(SearchUci, EveryLimitEndsInOneLegalBestmove) {
  EngineProcess e;
  e.sync();
  e.send("stop");
  e.send("ponderhit");
  // Before any "position": the start position.
  EXPECT_TRUE(is_legal_text(START_FEN, {}, finish(e, "go depth 2").best));

  e.send("position startpos moves e2e4 e7e5");
  const std::vector<std::string> moves = {"e2e4", "e7e5"};
  for (const char* go : {"go depth 6", "go nodes 20000", "go movetime 200", "go wtime 2000 btime 2000 winc 100 binc 100",
                         "go wtime 3000 btime 3000 movestogo 2", "go wtime 0 btime 0", "go wtime -50 btime -50",
                         "go depth banana", "go"}) {
    auto t0 = std::chrono::steady_clock::now();
    GoReply r = finish(e, go);
    EXPECT_TRUE(is_legal_text(START_FEN, moves, r.best)) << go << ": " << r.best;
    std::vector<std::string> after = moves;
    after.push_back(r.best);
    EXPECT_TRUE(r.ponder.empty() || is_legal_text(START_FEN, after, r.ponder)) << go << ": ponder " << r.ponder;
    // The time is used (a slow machine only adds to it).
    if (std::string(go) == "go movetime 200") {
      EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(190));
    }
  }

  e.quit();
}

TEST(SearchUci, InfiniteMatesDrawsAndMultiPv) {
  EngineProcess e;
  e.sync();
  // Mate in two: the search has nothing left to find once it reports the
  // mate, but "go infinite" must not answer before "stop".
  e.send("position fen " + MATE_IN_2);
  e.send("go infinite");
  wait_searching(e, "score mate 2");
  GoReply r = finish(e, "stop");
  EXPECT_EQ(r.best, "d5f6");
  EXPECT_EQ(r.score, "mate 2");

  // A new "go" while searching, and "isready" while searching.
  e.send("go infinite");
  e.sync();
  finish(e, "go depth 3");

  // Mates found and suffered; a third repetition Black, a queen down, can
  // force (after one earlier occurrence it is no draw yet); a lone legal
  // move; the FEN's clock reaching the search: with 99 plies behind, every
  // quiet move lets the fifty-move rule draw, with 37 the queen wins.
  const std::string queenless = "fen rnb1kbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - moves g1f3 g8f6 f3g1";
  const struct {
    std::string position, go;
    const char *score, *move;  // "+": any winning score, "!cp 0": anything else; "": any move
  } cases[] = {{"fen 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - -", "go depth 10", "mate 1", "d1d8"},
               {"fen 1k5r/pP3ppp/3p2b1/1BN1n3/1Q2P3/P1B5/KP3P1P/7q w - -", "go depth 10", "mate 3", "c5a6"},
               {"fen r2qkb1r/pp2nppp/3p1N2/2p1N1B1/2BnP3/3P4/PPP2PPP/R2bK2R b KQkq -", "go depth 8", "mate -1", ""},
               {queenless + " f6g8 g1f3 g8f6 f3g1", "go depth 8", "cp 0", "f6g8"},
               {queenless, "go depth 8", "!cp 0", ""},
               {"fen 7k/8/8/8/8/8/r7/6rK w - -", "go wtime 10000 btime 10000", "", "h1g1"},
               {"fen 8/8/8/8/8/2k5/8/KQ6 w - - 99 80", "go depth 6", "cp 0", ""},
               {"fen 8/8/8/8/8/2k5/8/KQ6 w - - 37 80", "go depth 6", "+", ""}};
  for (const auto& c : cases) {
    e.send("position " + c.position);
    const GoReply got = finish(e, c.go);
    const std::string want = c.score;
    if (want == "+") {
      EXPECT_TRUE(got.score != "cp 0" && got.score.find('-') == std::string::npos) << c.position << ": " << got.score;
    } else if (want == "!cp 0") {
      EXPECT_NE(got.score, "cp 0") << c.position;
    } else if (!want.empty()) {
      EXPECT_EQ(got.score, want) << c.position;
    }
    if (c.move[0]) {
      EXPECT_EQ(got.best, c.move) << c.position;
    }
  }

  // MultiPV: every depth lists its lines in rank order, each a legal sequence.
  e.send("setoption name MultiPV value 3");
  e.send("position startpos");
  std::map<int, std::vector<int>> by_depth;  // depth -> multipv numbers seen in order
  for (const auto& l : finish(e, "go depth 6").lines) {
    auto w = words(l);
    auto pv = std::find(w.begin(), w.end(), "pv");
    if (pv == w.end()) continue;
    const std::vector<std::string> one{l};
    ASSERT_FALSE(last_value(one, "multipv").empty()) << l;
    by_depth[std::stoi(last_value(one, "depth"))].push_back(std::stoi(last_value(one, "multipv")));
    std::vector<std::string> line;  // every pv move is legal in sequence
    for (++pv; pv != w.end(); line.push_back(*pv++)) ASSERT_TRUE(is_legal_text(START_FEN, line, *pv)) << l;
  }
  // Each depth lists slots 1, 2, 3 in order (the final report repeats slot 1 once more).
  for (int d = 2; d <= 6; ++d) {
    ASSERT_GE(by_depth[d].size(), 3u) << "depth " << d;
    EXPECT_EQ(std::vector<int>(by_depth[d].begin(), by_depth[d].begin() + 3), (std::vector<int>{1, 2, 3})) << d;
  }
  e.quit();
}

// What a search learns carries into the next search of the game, and
// "ucinewgame" forgets all of it: the same search after it is the same search
// again, node for node.
TEST(SearchUci, NewGameForgetsWhatEarlierSearchesLearned) {
  EngineProcess e;
  e.sync();
  auto nodes = [&](const std::string& moves) {
    e.send("position startpos moves " + moves);
    return last_value(finish(e, "go depth 9").lines, "nodes");
  };
  const std::string first = nodes("e2e4 c7c5 g1f3");
  ASSERT_FALSE(first.empty());
  EXPECT_NE(nodes("e2e4 c7c5 g1f3 d7d6"), "");
  EXPECT_NE(nodes("e2e4 c7c5 g1f3"), first) << "a second search learned nothing from the first";
  e.send("ucinewgame");
  EXPECT_EQ(nodes("e2e4 c7c5 g1f3"), first);
  e.quit();
}

// The bench node count is the search's fingerprint: update it (and "Bench: N"
// in the commit) on purpose only.
TEST(SearchUci, BenchSignatureIsStableAndIgnoresTheEndOfInput) {
  for (bool closed : {false, true})
    EXPECT_EQ(last_value(run_to_exit({"-pbench", "-d", "10"}, "", nullptr, !closed), "nodes="), "497038,") << closed;
}

// Benchmarks and suite analysis ignore the end of input; "bench" counts what
// "-pbench" does, also inside a session, which goes on afterwards.
TEST(SearchUci, BenchesIgnoreTheEndOfInput) {
  const std::string dir = new_temp_dir();
  std::ofstream(dir + "/suite.epd")
      << "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - bm Bb5;\n"
         "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - bm Qxf6;\n";
  auto total = [&](const std::vector<std::string>& args, bool closed) {
    return last_value(run_to_exit(args, dir, nullptr, !closed), "nodes=");
  };
  EXPECT_EQ(total({"-bench", "-d", "8"}, true), total({"-bench", "-d", "8"}, false));
  EXPECT_EQ(total({"-anepd", "suite.epd", "-d", "8"}, true), total({"-anepd", "suite.epd", "-d", "8"}, false));
  std::string expected = total({"-pbench", "-d", "6"}, true);
  ASSERT_FALSE(expected.empty());
  expected.pop_back();  // its comma
  const std::vector<std::string> out = run_to_exit({"bench", "6"});
  EXPECT_EQ(last_value(out, "searched:"), expected);
  EXPECT_GT(std::atof(last_value(out, "Nodes/second:").c_str()), 0.0);
  EngineProcess e;
  e.send("bench 6");
  EXPECT_EQ(last_value(e.read_until("Nodes/second: ", 120000, true), "searched:"), expected);
  e.send("go depth 1");
  EXPECT_TRUE(is_legal_text(START_FEN, {}, e.bestmove()));
  e.quit();
  std::filesystem::remove_all(dir);
}

// A UCI session as shells, scripts and GUIs hold it.

#include "board_test.h"
#include "engine_process.h"

namespace {

constexpr int WAIT_MS = 60000;  // bounds only a hang: a loaded machine is slow, not wrong
const std::string MATE_IN_2 = "r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq -";
const std::string MATED = "7k/6Q1/6K1/8/8/8/8/8 b - - 0 1";
const std::string STALEMATE = "7k/8/6QK/8/8/8/8/8 b - - 0 1";

int count_prefix(const std::vector<std::string>& lines, const std::string& head) {
  int n = 0;
  for (const auto& l : lines) n += starts_with(l, head);
  return n;
}

}  // namespace

// Every limit a search can have runs to its end when the input ends behind
// "go": the lines it prints and its one bestmove come before the exit.
TEST(UciSession, EndOfInputLetsALimitedSearchFinish) {
  struct Case {
    std::string fen, go, expect;  // expect: a line fragment that proves the search ran its course
  } cases[] = {{"startpos", "go depth 7", "info depth 7 "},
               {"startpos", "go movetime 300", "info depth"},
               {"startpos", "go wtime 800 btime 800", "info depth"},
               {"fen " + MATE_IN_2, "go mate 2", "score mate 2"}};
  for (const Case& c : cases) {
    EngineProcess e;
    e.send("position " + c.fen);
    e.send(c.go);
    int status = -1;
    std::vector<std::string> out = e.read_to_exit(&status);
    EXPECT_EQ(status, 0) << c.go;
    ASSERT_FALSE(out.empty()) << c.go;
    EXPECT_EQ(count_prefix(out, "bestmove "), 1) << c.go;
    EXPECT_TRUE(starts_with(out.back(), "bestmove ")) << c.go << ": " << out.back();
    const std::string fen = c.fen == "startpos" ? START_FEN : MATE_IN_2;
    EXPECT_TRUE(is_legal_text(fen, {}, last_value(out, "bestmove"))) << c.go << ": " << out.back();
    bool ran = false;
    for (const auto& l : out) ran |= l.find(c.expect) != std::string::npos;
    EXPECT_TRUE(ran) << c.go << " never printed " << c.expect;
  }
}

// Searches only "stop" would end are stopped by "quit" or by the end of
// input, and still answered.
TEST(UciSession, QuitOrEndOfInputStopsAnUnlimitedSearchWithItsMove) {
  for (const char* go : {"go infinite", "go ponder", "go ponder wtime 100000 btime 100000"}) {
    for (bool by_quit : {true, false}) {
      EngineProcess e;
      e.sync(WAIT_MS);
      e.send("position startpos moves e2e4");
      e.send(go);
      std::vector<std::string> seen = e.wait_for("info depth 3 ", WAIT_MS);
      ASSERT_FALSE(seen.empty()) << go;
      EXPECT_FALSE(any_starts_with(seen, "bestmove")) << go;
      int status = -1;
      if (by_quit) e.send("quit");
      std::vector<std::string> out = e.read_to_exit(&status);
      EXPECT_EQ(status, 0) << go << (by_quit ? " / quit" : " / end of input");
      ASSERT_EQ(count_prefix(out, "bestmove "), 1) << go << (by_quit ? " / quit" : " / end of input");
      EXPECT_TRUE(is_legal_text(START_FEN, {"e2e4"}, last_value(out, "bestmove"))) << go;
    }
  }
  // "quit" in the middle of a long fixed-depth search does not wait for it.
  EngineProcess e;
  e.send("go depth 60");
  ASSERT_FALSE(e.wait_for("info depth 3 ", WAIT_MS).empty());
  e.send("quit");
  EXPECT_TRUE(is_legal_text(START_FEN, {}, e.bestmove(WAIT_MS)));
  EXPECT_EQ(e.wait_exit(WAIT_MS), 0);
}

// Mated and stalemated roots: a score line, then the protocol's null move,
// also when the next position arrives before the answer and under infinite.
TEST(UciSession, RootWithoutLegalMoveAnswersNullMove) {
  EngineProcess e;
  e.sync(WAIT_MS);
  for (const auto& [fen, score] : {std::pair{MATED, "mate 0"}, std::pair{STALEMATE, "cp 0"}}) {
    e.send("position fen " + fen);
    e.send("go depth 5");
    e.send("position startpos");  // the answer still belongs to the searched root
    EXPECT_EQ(e.read_until("bestmove", WAIT_MS, true),
              (std::vector<std::string>{std::string("info depth 0 score ") + score, "bestmove 0000"}));
  }
  e.send("setoption name UCI_ShowWDL value true");
  e.send("position fen " + MATED);
  e.send("go infinite");
  EXPECT_FALSE(any_starts_with(e.sync(WAIT_MS), "bestmove"));  // nothing before "stop"
  e.send("stop");
  EXPECT_EQ(e.read_until("bestmove", WAIT_MS, true),
            (std::vector<std::string>{"info depth 0 score mate 0 wdl 0 0 1000", "bestmove 0000"}));
  e.quit();
}

// A search cut short by the next "go" answers a move of its own root; with
// the tables loaded it has published no move when the second "go" comes.
TEST(UciSession, StoppedSearchAnswersAMoveOfItsOwnRoot) {
  REQUIRE_TESTDATA("syzygy/KPvKP.rtbw");
  EngineProcess e;
  const std::string black_root = "3K4/6kp/8/6P1/8/8/8/8 b - - 0 1";
  const std::string white_root = "8/8/8/8/8/2k5/8/KQ6 w - - 0 1";
  e.send("setoption name SyzygyPath value " + testdata_path("syzygy"));
  e.send("position fen " + black_root);
  e.send("go wtime 60000 btime 60000");
  e.send("position fen " + white_root);
  e.send("go depth 1");
  EXPECT_TRUE(is_legal_text(black_root, {}, e.bestmove(WAIT_MS)));
  EXPECT_TRUE(is_legal_text(white_root, {}, e.bestmove(WAIT_MS)));
  e.quit();
}
// Two blanks, tabs and leading blanks separate words like one blank does:
// the side to move after a doubled blank in a FEN, a tab-separated "go".
TEST(UciSession, RunsOfBlanksAndTabsSeparateWords) {
  const std::string fen = "k7/8/8/7p/6P1/8/8/K7 b - - 0 1";
  const std::vector<std::string> spaced = {
      "position fen k7/8/8/7p/6P1/8/8/K7  b - - 0 1",
      "position\tfen\tk7/8/8/7p/6P1/8/8/K7\tb\t-\t-\t0\t1",
      " \t position  fen k7/8/8/7p/6P1/8/8/K7 b  -  -  0  1   moves  h5g4 \t a1b1 ",
  };
  EngineProcess e;
  e.sync(WAIT_MS);
  for (const std::string& line : spaced) {
    e.send(line);
    e.send("go\tdepth\t2");
    const std::string best = e.bestmove(WAIT_MS);
    const bool with_moves = line.find("moves") != std::string::npos;
    EXPECT_TRUE(is_legal_text(fen, with_moves ? std::vector<std::string>{"h5g4", "a1b1"} : std::vector<std::string>{}, best))
        << line << " -> " << best;
  }
  // An option's value is kept as typed, blanks inside it and all.
  e.send("setoption\tname\tMultiPV \t value\t2");
  e.send("setoption  name\tOwnBook_File   value  /my  books/a\tb.bin \t");
  e.send("setoption name Clear_Hash\t");
  e.send("  \t  ");
  e.send("\tisready");
  EXPECT_EQ(e.read_until("readyok", WAIT_MS),
            (std::vector<std::string>{"info string MultiPV set to 2", "info string OwnBook_File set to '/my  books/a\tb.bin'",
                                      "info string Hash table cleared", "readyok"}));
  e.quit();
}

// A big table is ready when "readyok" says so; a new game clears it and
// still answers "isready".
TEST(UciSession, BigTableIsReadyBeforeReadyok) {
  EngineProcess e;
  e.sync(WAIT_MS);
  e.send("setoption name Hash value 1024");
  EXPECT_EQ(e.sync(120000),
            (std::vector<std::string>{"info string Hash set to 1024", "info string allocated 1024 Mbytes for hash table"}));
  e.send("position startpos");
  e.send("go depth 6");
  EXPECT_TRUE(is_legal_text(START_FEN, {}, e.bestmove(WAIT_MS)));
  e.send("ucinewgame");
  EXPECT_EQ(e.sync(120000), std::vector<std::string>{});
  e.quit();
}

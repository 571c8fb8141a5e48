// The tables through the UCI front end: a settled root answers at once, an
// unsettled one reports the table's verdict, several threads agree.

#include "board_test.h"
#include "engine_process.h"
#include "fathom/tbcore.h"
#include "fathom/tbprobe.h"

namespace {

// WDL class, from the mover's view, of the position after the move.
int class_after(TestBoard& b, const std::string& move) {
  const Move m = b.parse(move.c_str());
  if (!m) return -99;
  make_move(b.pos, m);
  int ok = 0;
  const int v = probe_wdl(b.pos, ok);
  unmake_move(b.pos);
  return ok ? 2 - v : -99;
}

const std::vector<std::string> KQK_SHUFFLE = {"a1a2", "c3c4", "a2a1", "c4c3", "a1a2",
                                              "c3c4", "a2a1", "c4c3", "a1a2", "c3c4"};

}  // namespace

// A settled root (clock at 10 or more) answers at once from the tables with
// a move that keeps the result; an unsettled one reports the table's verdict
// and never plays a move that changes it, its win/draw/loss shares those of
// the tables; one thread and three agree.
TEST(TablebaseUci, RootsKeepTheTablesResultUnderOneAndThreeThreads) {
  REQUIRE_TESTDATA("syzygy/KQvK.rtbw");
  const std::string dir = testdata_path("syzygy");
  {
    CaptureOutput quiet;
    init_tablebases(dir.c_str());
  }
  std::vector<std::string> loss_moves = KQK_SHUFFLE;
  loss_moves.push_back("a2a1");
  const std::vector<std::string> krk_shuffle = {"e1f1", "e8f8", "f1e1", "f8e8", "e1f1",
                                                "e8f8", "f1e1", "f8e8", "e1f1", "e8f8"};
  const struct {
    std::string fen;
    std::vector<std::string> moves;
    std::string score;  // of a settled root; an unsettled one is judged by its class
  } cases[] = {{"8/8/8/8/8/2k5/8/KQ6 w - - 0 1", KQK_SHUFFLE, "cp 9800"},
               {"8/8/8/8/8/2k5/8/KQ6 w - - 0 1", loss_moves, "cp -9800"},
               {"4k3/8/8/8/8/8/r7/4K2R w - - 0 1", krk_shuffle, "cp 0"},
               // Black wins, but not before the clock runs out: h7h5 would
               // zero it, and lose to gxh6 en passant.
               {"3K4/6kp/8/6P1/8/8/8/8 b - - 99 1", {}, "cp 0"},
               {"8/8/8/8/8/2k5/8/KQ6 w - - 0 1", {}, ""}, {"8/8/8/8/8/2k5/8/KQ6 b - - 0 1", {}, ""},
               {"4k3/8/8/8/8/8/r7/4K2R w - - 0 1", {}, ""}, {"8/8/8/4k3/8/8/3P4/3K4 w - - 0 1", {}, ""},
               {"8/8/8/3k4/8/8/3P4/3K4 w - - 0 1", {}, ""}, {"8/8/1p6/8/8/8/1P5k/K7 b - - 0 1", {}, ""}};
  std::vector<std::string> verdicts[2];
  for (int threads : {1, 3}) {
    EngineProcess e;
    e.send("setoption name Threads value " + std::to_string(threads));
    e.send("setoption name SyzygyPath value " + dir);
    e.send("setoption name UCI_ShowWDL value true");
    e.sync(5000);
    for (const auto& c : cases) {
      TestBoard b(c.fen.c_str());
      std::string position = "position fen " + c.fen + (c.moves.empty() ? "" : " moves");
      for (const std::string& m : c.moves) {
        b.play(m.c_str());
        position += " " + m;
      }
      int ok = 0;
      const int wdl = probe_wdl(b.pos, ok) + 2;
      ASSERT_TRUE(ok) << c.fen;
      const bool settled = !c.score.empty();
      ASSERT_EQ(b.pos.fifty_count >= 10, settled) << c.fen;
      e.send(position);
      const GoReply r = go_reply(e, settled ? "go wtime 60000 btime 60000" : "go depth 9");
      EXPECT_EQ(class_after(b, r.best), wdl) << c.fen << " " << r.best;
      if (settled) {
        EXPECT_TRUE(std::any_of(r.lines.begin(), r.lines.end(), [](const std::string& l) {
          return l.find("depth 99 seldepth 99") != std::string::npos && l.find("tbhits 1") != std::string::npos;
        })) << c.fen;
        EXPECT_EQ(r.score, c.score) << c.fen;
        if (wdl == 4) {
          EXPECT_EQ(b.parse(r.best.c_str()), probe_tb_root(b.pos).move);
        }
        continue;
      }
      const bool mate = starts_with(r.score, "mate");
      if (wdl == 4) {
        EXPECT_TRUE(r.score == "cp 9800" || (mate && r.score[5] != '-')) << c.fen << " " << r.score;
      }
      if (wdl == 2) {
        EXPECT_EQ(r.score, "cp 0") << c.fen;
      }
      if (wdl == 0) {
        EXPECT_TRUE(r.score == "cp -9800" || (mate && r.score[5] == '-')) << c.fen << " " << r.score;
      }
      const std::string shares = wdl == 4 ? "1000 0 0" : wdl == 0 ? "0 0 1000" : "0 1000 0";  // the tables decide
      for (const std::string& l : r.lines) {
        if (l.find(" score ") != std::string::npos) {
          EXPECT_EQ(last_value({l}, "wdl", 3), shares) << c.fen << ": " << l;
        }
      }
      verdicts[threads > 1].push_back(r.score.substr(0, 4) + (r.score.find('-') != std::string::npos ? "-" : ""));
    }
    e.quit();
  }
  EXPECT_EQ(verdicts[0], verdicts[1]);
}

// The switch loads the tables at start-up; a new path during a search
// waits for the search before the tables go.
TEST(TablebaseUci, TbpathSwitchAndChangingThePathDuringASearch) {
  REQUIRE_TESTDATA("syzygy/KQvK.rtbw");
  EngineProcess e({"-tbpath", testdata_path("syzygy"), "-threads", "2"});
  EXPECT_TRUE(has_line(e.sync(5000), "info string found 35 tablebases"));
  e.send("position fen 8/8/8/4k3/8/8/1p6/4K2R w - - 0 1");
  e.send("go infinite");
  e.read_until("info depth 8", 20000, true);
  e.send("setoption name SyzygyPath value <empty>");
  EXPECT_TRUE(has_line(e.sync(20000), "info string found 0 tablebases"));
  e.send("stop");
  EXPECT_TRUE(is_legal_text("8/8/8/4k3/8/8/1p6/4K2R w - - 0 1", {}, e.bestmove(5000)));
  e.quit();
}

// One console session: the board, moves, evaluation listings, analysis, settings.

#include "engine_process.h"

TEST(ConsoleSession, BoardMovesListingsAnalysisAndSettings) {
  EngineProcess e({"-c"});
  // Each command answers with the line named, after anything else it prints.
  auto reply = [&e](const std::string& cmd, const std::string& last) {
    e.send(cmd);
    std::vector<std::string> out = e.read_until(last);
    EXPECT_TRUE(!out.empty() && out.back() == last) << cmd;
    return out;
  };
  EXPECT_EQ(board_fen(e), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
  e.send("fen r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1");
  EXPECT_EQ(until_board(e), (std::vector<std::string>{"r3k2r/8/8/8/8/8/8/R3K2R b KQkq -", "  r + - + k + - r",
                                                      "  + - + - + - + -", "  - + - + - + - +", "  + - + - + - + -",
                                                      "  - + - + - + - +", "  + - + - + - + -", "  - + - + - + - +",
                                                      "  R - + - K - + R", "black"}));
  // Castling, move numbers counting on from the FEN's, undo, back to the
  // start and replayed ("[", "]"), each answered by the board it leaves.
  const std::string castled = "r4rk1/8/8/8/8/8/8/R3K2R w KQ -", both = "r4rk1/8/8/8/8/8/8/2KR3R b - -";
  const struct {
    const char *cmd, *first;  // first: the line before the board, or the board's own FEN line
    std::string fen;
  } steps[] = {{"O-O", "1. move O-O", castled},
               {"move e1c1", "2. move e1c1", both},
               {"xyzzy\nundo", "unknown command or move 'xyzzy' (\"help\" lists the commands)", castled},
               {"[", "r3k2r/8/8/8/8/8/8/R3K2R b KQkq -", "r3k2r/8/8/8/8/8/8/R3K2R b KQkq -"},
               {"]", "1... move e8g8", castled},
               {"]", "2. move e1c1", both},
               {"]", both.c_str(), both},  // nothing left to replay
               {"new", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"}};
  for (const auto& step : steps) {
    e.send(step.cmd);
    const std::vector<std::string> lines = until_board(e);
    ASSERT_GE(lines.size(), 10u) << step.cmd;
    EXPECT_EQ(lines.front(), step.first) << step.cmd;
    EXPECT_EQ(lines[lines.size() - 10], step.fen) << step.cmd;
  }
  // e4 is attacked by the d5 pawn; d5 by the e4 pawn, but the knight takes back.
  e.send("fen 4k3/8/1n6/3p4/4P3/8/8/4K3 w - -");
  until_board(e);
  e.send("swap");
  std::string line;
  ASSERT_TRUE(e.read_line(line));
  EXPECT_EQ(line, "sq= e4, swap=  100");
  ASSERT_TRUE(e.read_line(line));
  EXPECT_EQ(line, "sq= d5, swap=    0");

  e.send("fen 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1");
  e.send("ev");  // Rd8 mates: the quiescence search sees it
  std::vector<std::string> lines = e.read_until("passers=", 10000, true);
  bool score_line = false;
  for (const std::string& l : lines)
    score_line |= starts_with(l, "eval= ") && l.find(", qscore= 9998, stage= 22, draw_adj= 1.00") != std::string::npos;
  EXPECT_TRUE(score_line);
  EXPECT_TRUE(has_line(lines, "           white    black     diff"));
  EXPECT_TRUE(has_line(lines, "mtl=         951      325      626   (RPPP :: PPP)"));

  e.send("new");
  e.send("go 6");
  lines = e.read_until("move=", 10000, true);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(starts_with(lines.back(), "move= "));
  EXPECT_TRUE(any_starts_with(lines, "00] 06"));
  ASSERT_TRUE(e.read_line(line));
  EXPECT_TRUE(starts_with(line, "Hash fill= ")) << line;
  // "." ends an endless analysis, which is then reported.
  e.send("go");
  ASSERT_FALSE(e.wait_for("00] 05").empty());
  e.send(".");
  lines = e.read_until("move=", 10000, true);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(starts_with(lines.back(), "move= "));
  reply("sp", "bishop_pair= 30 , 50");

  reply("set level 40 5:00 0", "set level to 40 moves in 300.00 seconds, inc 0.00");
  reply("set ss 0", "selectivity set to OFF");
  reply("set NMP_depth 5", "NMP_depth set to 5");
  EXPECT_TRUE(any_starts_with(reply("lmr", "LMR_depth= 99"), "NMP_depth= 5"));
  // "uci" leaves the console for good.
  EXPECT_TRUE(has_line(reply("uci", "uciok"), "id name Vorn 4.0"));
  EXPECT_EQ(reply("isready", "readyok").size(), 1u);
  e.quit();
}

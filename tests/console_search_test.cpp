// One console session: moves, evaluation listings, analysis, settings.

#include "engine_process.h"

TEST(ConsoleSession, BoardListingsAnalysisAndSettings) {
  EngineProcess e({"-c"});
  // Each command answers with the line named, after anything else it prints.
  auto reply = [&e](const std::string& cmd, const std::string& last) {
    e.send(cmd);
    std::vector<std::string> out = e.read_until(last);
    EXPECT_TRUE(!out.empty() && out.back() == last) << cmd;
    return out;
  };
  // The board picture itself is checked in-process (ConsoleFenBoardMovesSwapAndBackToUci).
  EXPECT_EQ(board_fen(e), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
  std::string line;

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
  e.quit();
}

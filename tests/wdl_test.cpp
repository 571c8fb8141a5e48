// The "wdl" item of the UCI info lines: the model's shape and the option
// switching it on and off (the tables deciding it: TablebaseUci).

#include <cstdio>

#include "engine_process.h"
#include "search/stack.h"
#include "search/wdl.h"
#include "test_util.h"

namespace {

std::vector<std::string> scored_lines(EngineProcess& e, const std::string& fen, const std::string& go) {
  e.send("position fen " + fen);
  std::vector<std::string> scored;
  for (const std::string& l : go_reply(e, go).lines)
    if (l.find(" score ") != std::string::npos) scored.push_back(l);
  return scored;
}

}  // namespace

TEST(Wdl, ModelIsAMonotoneSymmetricSplitOfAThousand) {
  WdlShares prev = wdl_from_score(-3000);
  for (int s = -3000; s <= 3000; ++s) {
    const WdlShares w = wdl_from_score(s);
    ASSERT_EQ(w.win + w.draw + w.loss, 1000) << s;
    ASSERT_GE(w.draw, 0) << s;
    ASSERT_EQ(w.win, wdl_from_score(-s).loss) << s;
    ASSERT_TRUE(w.win >= prev.win && w.loss <= prev.loss) << s;
    prev = w;
  }
  EXPECT_GT(wdl_from_score(500).win, 950);
  EXPECT_EQ(wdl_from_score(MATE_SCORE - 3).win, 1000);
  EXPECT_EQ(wdl_from_score(-MATE_SCORE + 2).loss, 1000);
  for (int cls : {1, 2, 3}) EXPECT_EQ(wdl_from_tables(cls).draw, 1000) << cls;
}

TEST(Wdl, OptionAddsSharesToEveryScoredLine) {
  EngineProcess e;
  const std::string quiet = "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4";
  for (const std::string& l : scored_lines(e, quiet, "go depth 6")) EXPECT_EQ(l.find(" wdl "), std::string::npos) << l;

  e.send("setoption name UCI_ShowWDL value true");
  e.send("setoption name MultiPV value 2");
  for (const std::string& fen : {quiet, std::string("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1")}) {
    const std::vector<std::string> lines = scored_lines(e, fen, "go depth 6");
    ASSERT_FALSE(lines.empty());
    for (const std::string& l : lines) {
      const std::string w = last_value({l}, "wdl", 3);
      int win = 0, draw = 0, loss = 0;
      ASSERT_EQ(std::sscanf(w.c_str(), "%d %d %d", &win, &draw, &loss), 3) << l;
      EXPECT_EQ(win + draw + loss, 1000) << l;
      EXPECT_TRUE(l.find("score mate 1 ") == std::string::npos || win == 1000) << l;
    }
  }
  e.quit();
}

// The "wdl" item of the UCI info lines: the model's shape.
#include <gtest/gtest.h>

#include "search/stack.h"
#include "search/wdl.h"

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

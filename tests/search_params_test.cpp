// Search parameters derived from the option slots.
#include <cstring>
#include <string>
#include <vector>

#include "eval/params.h"
#include "platform/output.h"
#include "search/options.h"
#include "search/params.h"
#include "test_util.h"

namespace {

i16 g_slots[OPTION_SLOTS];

void default_slots() {
  std::memset(g_slots, 0, sizeof g_slots);
  g_slots[SLOT_SELECTIVITY] = 100;
  g_slots[SLOT_SEP_DEPTH] = 3;
  g_slots[SLOT_SEP_MARGIN_STEP] = 75;
  g_slots[SLOT_NMP_DEPTH] = 3;
  g_slots[SLOT_FP_DEPTH] = 3;
  g_slots[SLOT_RAZOR_MARGIN_STEP] = 125;
  g_slots[SLOT_PROBCUT_DEPTH] = 3;
  g_slots[SLOT_PROBCUT_REDUCTION] = 3;
  g_slots[SLOT_PROBCUT_MARGIN] = 100;
  g_slots[SLOT_LMP_DEPTH] = 6;
  g_slots[SLOT_LMP_COUNT_STEP] = 2;
  g_slots[SLOT_LMR_DEPTH] = 3;
}


const SearchParams& sp = g_search_params;

}  // namespace

TEST(SearchParams, DefaultsGiveTheDocumentedMargins) {
  default_slots();
  set_search_params(g_slots);
  EXPECT_EQ(sp.BP_margin, 15);
  EXPECT_EQ(sp.FP_depth, 3);
  EXPECT_EQ(sp.SEP_depth, 3);
  EXPECT_EQ(sp.NMP_depth, 3);
  EXPECT_EQ(sp.LMP_depth, 6);
  EXPECT_EQ(sp.LMR_depth, 3);
  EXPECT_EQ(sp.ProbCut_depth, 3);
  EXPECT_EQ(sp.ProbCut_reduction, 3);
  EXPECT_EQ(sp.ProbCut_margin, 100);
  const int razor[4] = {50, 175, 300, 425};
  const int sep[4] = {0, 75, 150, 225};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(sp.razor_margin[i], razor[i]);
    EXPECT_EQ(sp.sep_margin[i], sep[i]);
  }
  const int count[7] = {1, 3, 5, 7, 9, 11, 13};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(sp.lmp_count[i], count[i]);
  EXPECT_EQ(sp.strength_reduction, 0);
}

TEST(SearchParams, LmrTableRows) {
  default_slots();
  set_search_params(g_slots);
  const int m[10] = {1, 2, 3, 4, 6, 8, 12, 16, 24, 31};
  struct Row {
    int d;
    int pv[10];
    int non_pv[10];
  };
  const Row rows[] = {
      {3, {0, 0, 0, 0, 0, 0, 1, 1, 1, 1}, {1, 1, 1, 1, 2, 2, 2, 2, 2, 2}},
      {8, {0, 0, 0, 1, 1, 1, 2, 2, 2, 2}, {1, 1, 2, 2, 2, 3, 3, 3, 4, 4}},
      {20, {0, 0, 1, 1, 2, 2, 3, 3, 3, 4}, {1, 2, 2, 3, 3, 3, 4, 4, 5, 5}},
      {31, {0, 0, 1, 1, 2, 2, 3, 3, 4, 4}, {1, 2, 2, 3, 3, 4, 5, 5, 6, 6}},
  };
  for (const Row& r : rows)
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(sp.lmr_table[LMR_PV][r.d][m[i]], r.pv[i]) << "d=" << r.d << " m=" << m[i];
      EXPECT_EQ(sp.lmr_table[LMR_NON_PV][r.d][m[i]], r.non_pv[i]) << "d=" << r.d << " m=" << m[i];
    }
  EXPECT_EQ(sp.lmr_table[LMR_PV][3][10], 0);
  for (int t = 0; t < 2; ++t)
    for (int x = 0; x < LMR_SIZE; ++x) {
      for (int d = 0; d <= 2; ++d) EXPECT_EQ(sp.lmr_table[t][d][x], 0);
      EXPECT_EQ(sp.lmr_table[t][x][0], 0);
    }
}

TEST(SearchParams, SelectivityScalesReductions) {
  default_slots();
  g_slots[SLOT_SELECTIVITY] = 0;
  set_search_params(g_slots);
  EXPECT_EQ(sp.BP_margin, 65);
  for (int t = 0; t < 2; ++t)
    for (int d = 0; d < LMR_SIZE; ++d)
      for (int m = 0; m < LMR_SIZE; ++m) ASSERT_EQ(sp.lmr_table[t][d][m], 0);

  g_slots[SLOT_SELECTIVITY] = 99;
  set_search_params(g_slots);
  EXPECT_EQ(sp.BP_margin, 15);
  g_slots[SLOT_SELECTIVITY] = 50;
  set_search_params(g_slots);
  EXPECT_EQ(sp.BP_margin, 40);

  g_slots[SLOT_SELECTIVITY] = 200;
  set_search_params(g_slots);
  EXPECT_EQ(sp.lmr_table[LMR_NON_PV][31][31], 12);  // 2 * 6.02
  EXPECT_EQ(sp.lmr_table[LMR_PV][31][31], 9);       // 2 * 4.49
  EXPECT_EQ(sp.lmr_table[LMR_NON_PV][3][31], 2);    // capped at depth - 1
  EXPECT_EQ(sp.lmr_table[LMR_PV][3][31], 1);        // capped at depth - 2
  // Out-of-range selectivity is clamped, not trusted.
  g_slots[SLOT_SELECTIVITY] = 1000;
  set_search_params(g_slots);
  EXPECT_EQ(sp.lmr_table[LMR_NON_PV][31][31], 12);
  g_slots[SLOT_SELECTIVITY] = -5;
  set_search_params(g_slots);
  EXPECT_EQ(sp.BP_margin, 65);
}

TEST(SearchParams, UnsafeLimitsAreClamped) {
  default_slots();
  g_slots[SLOT_FP_DEPTH] = 40;
  g_slots[SLOT_SEP_DEPTH] = -3;
  g_slots[SLOT_LMP_DEPTH] = 12;
  g_slots[SLOT_NMP_DEPTH] = 99;
  g_slots[SLOT_PROBCUT_REDUCTION] = 0;
  g_slots[SLOT_RAZOR_MARGIN_STEP] = 30000;
  set_search_params(g_slots);
  EXPECT_EQ(sp.FP_depth, SEARCH_MARGIN_SIZE - 1);
  EXPECT_EQ(sp.SEP_depth, 0);
  EXPECT_EQ(sp.LMP_depth, SEARCH_MARGIN_SIZE - 1);
  EXPECT_EQ(sp.NMP_depth, 99);
  EXPECT_EQ(sp.ProbCut_reduction, 1);
  EXPECT_EQ(sp.razor_margin[1], 30050 > 32767 ? 32767 : 30050);
  EXPECT_EQ(sp.razor_margin[11], 32767);
}

TEST(SearchParams, StrengthReduction) {
  default_slots();
  g_slots[SLOT_ELO] = 1500;
  set_search_params(g_slots, 1010.0);
  EXPECT_EQ(sp.strength_reduction, 4);  // 4500 / 1000
  set_search_params(g_slots, 1e9);
  EXPECT_EQ(sp.strength_reduction, 0);
  set_search_params(g_slots, 5.0);  // a nonsense speed does not divide by zero
  EXPECT_EQ(sp.strength_reduction, 4500);
  g_slots[SLOT_ELO] = 2200;
  set_search_params(g_slots, 1010.0);
  EXPECT_EQ(sp.strength_reduction, 0);
}

TEST(SearchParams, Listing) {
  default_slots();
  set_search_params(g_slots);
  {
    CaptureOutput out;
    print_search_params();
  }
  ASSERT_EQ(g_captured.size(), 7u + 1 + 31 + 2 + 31);
  EXPECT_EQ(g_captured[0], "BP_margin= 15");
  EXPECT_EQ(g_captured[1], "FP_depth= 3, margins= 175 300 425");
  EXPECT_EQ(g_captured[2], "SEP_depth= 3, margins= 75 150 225");
  EXPECT_EQ(g_captured[3], "PC: depth= 3, Red= 3, Margin= 100");
  EXPECT_EQ(g_captured[4], "NMP_depth= 3");
  EXPECT_EQ(g_captured[5], "LMP_depth= 6, count= 3 5 7 9 11 13");
  EXPECT_EQ(g_captured[6], "LMR_depth= 3");
  EXPECT_EQ(g_captured[7], "LMR table:");
  EXPECT_EQ(g_captured[8].substr(0, 8), " 1  0 0 ");
  EXPECT_EQ(g_captured[10], " 3  0 0 0 0 0 0 0 0 0 0 0 0 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 ");
  EXPECT_EQ(g_captured[39], "");
  EXPECT_EQ(g_captured[40], "");
  EXPECT_EQ(g_captured[43].substr(0, 10), " 3  0 1 1 ");
}

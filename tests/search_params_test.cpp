// Search parameters derived from the option slots.
#include <cstring>

#include "search/options.h"
#include "search/params.h"
#include "test_util.h"

namespace {

i16 g_slots[OPTION_SLOTS];

// The option defaults the search reads.
void default_slots() {
  std::memset(g_slots, 0, sizeof g_slots);
  const std::pair<int, int> defaults[] = {
      {SLOT_SELECTIVITY, 100}, {SLOT_SEP_DEPTH, 3},   {SLOT_SEP_MARGIN_STEP, 75},  {SLOT_NMP_DEPTH, 3},
      {SLOT_FP_DEPTH, 3},      {SLOT_LMR_DEPTH, 3},   {SLOT_RAZOR_MARGIN_STEP, 125}, {SLOT_PROBCUT_DEPTH, 3},
      {SLOT_LMP_DEPTH, 6},     {SLOT_LMP_COUNT_STEP, 2}, {SLOT_PROBCUT_REDUCTION, 3}, {SLOT_PROBCUT_MARGIN, 100}};
  for (const auto& [slot, value] : defaults) g_slots[slot] = i16(value);
}

const SearchParams& sp = g_search_params;

}  // namespace

// Margins grow by their step from the slots; the reduction table is zero
// where nothing may be reduced, grows with depth and move number, reduces
// PV nodes less, and scales with the selectivity.
TEST(SearchParams, MarginsAndReductionTableFollowTheirRules) {
  default_slots();
  set_search_params(g_slots);
  EXPECT_EQ(sp.BP_margin, 15);
  EXPECT_EQ(sp.ProbCut_margin, 100);
  for (int i = 1; i < 4; ++i) {
    EXPECT_EQ(sp.razor_margin[i] - sp.razor_margin[i - 1], g_slots[SLOT_RAZOR_MARGIN_STEP]);
    EXPECT_EQ(sp.sep_margin[i], i * g_slots[SLOT_SEP_MARGIN_STEP]);
  }
  for (int i = 1; i < 7; ++i) EXPECT_EQ(sp.lmp_count[i] - sp.lmp_count[i - 1], g_slots[SLOT_LMP_COUNT_STEP]);
  const auto& lmr = sp.lmr_table;
  for (int d = 0; d < LMR_SIZE; ++d)
    for (int m = 0; m < LMR_SIZE; ++m) {
      ASSERT_TRUE((d > 2 && m > 0) || (lmr[LMR_PV][d][m] | lmr[LMR_NON_PV][d][m]) == 0) << d << " " << m;
      ASSERT_LE(lmr[LMR_PV][d][m], lmr[LMR_NON_PV][d][m]) << d << " " << m;
      for (int t = 0; t < 2 && d > 0 && m > 0; ++t) {
        ASSERT_LE(lmr[t][d - 1][m], lmr[t][d][m]) << d << " " << m;
        ASSERT_LE(lmr[t][d][m - 1], lmr[t][d][m]) << d << " " << m;
      }
    }
  EXPECT_EQ(lmr[LMR_NON_PV][3][1], 1);  // the first late move of a non-PV node is already reduced

  // Selectivity 0 reduces nothing and prunes with the widest margin; 200
  // doubles the reductions, still capped below the depth; out of range is clamped.
  g_slots[SLOT_SELECTIVITY] = 0;
  set_search_params(g_slots);
  EXPECT_EQ(sp.BP_margin, 65);
  for (int t = 0; t < 2; ++t)
    for (int d = 0; d < LMR_SIZE; ++d)
      for (int m = 0; m < LMR_SIZE; ++m) ASSERT_EQ(lmr[t][d][m], 0);
  for (int sel : {200, 1000}) {
    g_slots[SLOT_SELECTIVITY] = i16(sel);
    set_search_params(g_slots);
    EXPECT_EQ(lmr[LMR_NON_PV][31][31], 12);  // 2 * 6.02
    EXPECT_EQ(lmr[LMR_NON_PV][3][31], 2);    // capped at depth - 1
    EXPECT_EQ(lmr[LMR_PV][3][31], 1);        // capped at depth - 2
  }
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

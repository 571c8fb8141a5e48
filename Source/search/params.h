// The search's selectivity settings, derived from the option slots: pruning
// depth limits and margins, and the late-move reduction table.
#pragma once

#include "board/types.h"

#include "search/options.h"

// Margin and count tables are indexed by remaining depth up to this.
constexpr int SEARCH_MARGIN_SIZE = 12;
constexpr int LMR_SIZE = 32;
enum : int { LMR_PV = 0, LMR_NON_PV = 1 };

struct SearchParams {
  int BP_margin;
  int FP_depth;   // razoring up to this depth
  int SEP_depth;  // static-eval pruning up to this depth
  int NMP_depth;  // null move from this depth on
  int LMP_depth;  // move-count pruning up to this depth
  int LMR_depth;  // late-move reductions from this depth on
  int ProbCut_depth;
  int ProbCut_reduction;
  int ProbCut_margin;
  int strength_reduction;  // k of the strength-limiting depth cut, 0 when off
  i16 razor_margin[SEARCH_MARGIN_SIZE];
  i16 sep_margin[SEARCH_MARGIN_SIZE];
  i16 lmp_count[SEARCH_MARGIN_SIZE];
  u8 lmr_table[2][LMR_SIZE][LMR_SIZE];  // [LMR_PV / LMR_NON_PV][depth][moves searched]
};

extern SearchParams g_search_params;

// Derives g_search_params from the option slots.  target_nps is the speed
// cap of strength limiting (1e9 = none); it only matters when the Elo slot is
// set below 2200.
void set_search_params(const i16* slots, f64 target_nps = 1e9);

// Lists the derived values (console).
void print_search_params();

#include "search/params.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/output.h"

SearchParams g_search_params;

namespace {

i16 saturate16(long v) { return i16(std::clamp(v, -32767L, 32767L)); }

// Nearest integer, halves away from zero, never below 0 nor above cap.
u8 reduction(f64 x, f64 cap) {
  f64 v = std::min(cap, x);
  return v < 0 ? 0 : u8(std::round(v));
}

}  // namespace

void set_search_params(const i16* slots, f64 target_nps) {
  SearchParams& sp = g_search_params;
  int selectivity = std::clamp(int(slots[SLOT_SELECTIVITY]), 0, 200);

  // The limits that index the margin tables stay inside them; the others
  // only compare with the remaining depth, and 99 switches a technique off.
  sp.FP_depth = std::clamp(int(slots[SLOT_FP_DEPTH]), 0, SEARCH_MARGIN_SIZE - 1);
  sp.SEP_depth = std::clamp(int(slots[SLOT_SEP_DEPTH]), 0, SEARCH_MARGIN_SIZE - 1);
  sp.LMP_depth = std::clamp(int(slots[SLOT_LMP_DEPTH]), 0, SEARCH_MARGIN_SIZE - 1);
  sp.NMP_depth = std::clamp(int(slots[SLOT_NMP_DEPTH]), 0, 99);
  sp.LMR_depth = std::clamp(int(slots[SLOT_LMR_DEPTH]), 0, 99);
  sp.ProbCut_depth = std::clamp(int(slots[SLOT_PROBCUT_DEPTH]), 0, 99);
  // A reduction of at least one keeps the ProbCut search shallower than its node.
  sp.ProbCut_reduction = std::clamp(int(slots[SLOT_PROBCUT_REDUCTION]), 1, 99);
  sp.ProbCut_margin = slots[SLOT_PROBCUT_MARGIN];

  sp.BP_margin = selectivity <= 99 ? 15 + ((100 - selectivity) >> 1) : 15;

  for (int i = 0; i < SEARCH_MARGIN_SIZE; ++i) {
    sp.razor_margin[i] = saturate16(50L + long(i) * slots[SLOT_RAZOR_MARGIN_STEP]);
    sp.sep_margin[i] = saturate16(long(i) * slots[SLOT_SEP_MARGIN_STEP]);
    sp.lmp_count[i] = saturate16(long(i) * slots[SLOT_LMP_COUNT_STEP] + 1);
  }

  // Weaker settings also cut depth at random nodes; the slower the allowed
  // speed, the more often.
  sp.strength_reduction = 0;
  int elo = slots[SLOT_ELO];
  if (elo >= 1 && elo <= 2199) {
    f64 k = 4500.0 / std::max(1.0, target_nps - 10.0);
    sp.strength_reduction = int(std::min(k, 4500.0));
  }

  // Reductions grow with the logarithms of depth and move number; PV nodes
  // are reduced less.
  f64 s = selectivity * 0.01;
  for (int d = 0; d < LMR_SIZE; ++d)
    for (int m = 0; m < LMR_SIZE; ++m) {
      if (d <= 2 || m == 0) {
        sp.lmr_table[LMR_PV][d][m] = sp.lmr_table[LMR_NON_PV][d][m] = 0;
        continue;
      }
      f64 lnd_lnm = std::log(f64(d)) * std::log(f64(m));
      sp.lmr_table[LMR_PV][d][m] = reduction(s * (0.44 * lnd_lnm - 0.7), d - 2);
      sp.lmr_table[LMR_NON_PV][d][m] = reduction(s * (0.6 + 0.46 * lnd_lnm), d - 1);
    }
}

void print_search_params() {
  const SearchParams& sp = g_search_params;
  char line[512];
  int n;
  output_format("BP_margin= %d", sp.BP_margin);
  n = std::snprintf(line, sizeof line, "FP_depth= %d, margins=", sp.FP_depth);
  for (int i = 1; i <= sp.FP_depth; ++i) n += std::snprintf(line + n, sizeof line - n, " %d", sp.razor_margin[i]);
  output_line(line);
  n = std::snprintf(line, sizeof line, "SEP_depth= %d, margins=", sp.SEP_depth);
  for (int i = 1; i <= sp.SEP_depth; ++i) n += std::snprintf(line + n, sizeof line - n, " %d", sp.sep_margin[i]);
  output_line(line);
  output_format("PC: depth= %d, Red= %d, Margin= %d", sp.ProbCut_depth, sp.ProbCut_reduction, sp.ProbCut_margin);
  output_format("NMP_depth= %d", sp.NMP_depth);
  n = std::snprintf(line, sizeof line, "LMP_depth= %d, count=", sp.LMP_depth);
  for (int i = 1; i <= sp.LMP_depth; ++i) n += std::snprintf(line + n, sizeof line - n, " %d", sp.lmp_count[i]);
  output_line(line);
  output_format("LMR_depth= %d", sp.LMR_depth);
  output_line("LMR table:");
  for (int table = LMR_PV; table <= LMR_NON_PV; ++table) {
    if (table == LMR_NON_PV) {
      output_line("");
      output_line("");
    }
    for (int d = 1; d < LMR_SIZE; ++d) {
      n = std::snprintf(line, sizeof line, "%2d  ", d);
      for (int m = 0; m < LMR_SIZE; ++m) n += std::snprintf(line + n, sizeof line - n, "%d ", sp.lmr_table[table][d][m]);
      output_line(line);
    }
  }
}

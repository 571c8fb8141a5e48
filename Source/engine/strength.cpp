#include "engine/strength.h"

#include <climits>
#include <cmath>
#include <cstdlib>

#include "board/movegen.h"
#include "engine/engine.h"
#include "engine/report.h"
#include "eval/eval.h"
#include "platform/output.h"
#include "platform/platform.h"
#include "search/control.h"
#include "search/options.h"
#include "search/thread.h"
#include "search/timeman.h"

namespace {

constexpr f64 CALIBRATION_SECONDS = 0.3;
// The measured loop does less per node than a real search; this scales it
// to the rating model.
constexpr f64 CALIBRATION_SCALE = 1.17;
constexpr int CALIBRATION_MOVES = 10;

// The slowest and fastest speeds an Elo setting can ask for.
constexpr f64 SLOWEST_NPS = 30;
constexpr f64 FASTEST_NPS = 10000000;

int elo_ceiling() { return int(g_control.speed.max_elo); }

}  // namespace

f64 elo_from_nps(f64 nps) { return 126.0 * std::log(nps) + 1183.0 - 4500.0 / (nps - 10.0); }

f64 nps_for_elo(int elo) {
  f64 low = SLOWEST_NPS, high = FASTEST_NPS, n = low;
  // The model rises steadily over the range, so halving always closes in;
  // the bound only guards against an Elo outside what the range can give.
  for (int i = 0; i < 200; ++i) {
    n = (low + high) / 2;
    f64 r = elo_from_nps(n);
    if (std::fabs(r - elo) < 0.5) break;
    if (r > elo)
      high = n;
    else
      low = n;
  }
  return n;
}

void calibrate_speed() {
  SearchControl& c = g_control;
  c.clock.search_start = now_seconds();
  c.clock.elapsed = 0;
  copy_root_to_threads(game_position());
  SearchThread* t = g_threads[0];
  u64 nodes = 0;
  if (t) {
    Position& pos = t->pos;
    MoveEntry list[MAX_MOVES];
    // Per node: the check test, an evaluation, move generation and a few
    // moves made and taken back, the core of what a search node costs.
    while (c.clock.elapsed < CALIBRATION_SECONDS) {
      ++t->nodes;
      const bool check = in_check(pos);
      EvalPlyInfo info{};
      evaluate(t->eval, pos, 1, &info, check);
      gen_all(pos, list);
      int made = 0;
      for (MoveEntry* e = list; e->move != MOVE_END && made < CALIBRATION_MOVES; ++e) {
        if (!is_legal(pos, pos.side, e->move)) continue;
        make_move(pos, e->move);
        unmake_move(pos);
        ++made;
      }
      update_elapsed();
    }
    nodes = t->nodes;
    t->nodes = 0;
  }
  c.speed.calibration_nps = f64(nodes) * CALIBRATION_SCALE / (c.clock.elapsed + 0.001);
  c.speed.max_elo = nodes ? elo_from_nps(c.speed.calibration_nps) : 0;
  // Full strength unless a speed limit was already asked for ("-nps"), which
  // keeps its own rating.
  int elo = elo_ceiling();
  if (g_options[SLOT_LIMIT_STRENGTH] && g_options[SLOT_ELO] < elo) elo = g_options[SLOT_ELO];
  g_options[SLOT_ELO] = i16(elo < 0 ? 0 : elo > SHRT_MAX ? SHRT_MAX : elo);
  output_format("info string et= %.3f, calibration nps= %0.0f", c.clock.elapsed.load(), c.speed.calibration_nps);
}

void set_speed_limit(f64 nps) {
  // A cap below one node per second would hold the search for ever.
  if (!(nps >= 1)) nps = 1;
  if (nps > NO_NPS_LIMIT) nps = NO_NPS_LIMIT;
  g_control.speed.target_nps = nps;
  g_control.speed.limit_nps = nps;
}

void set_uci_elo(const char* value) {
  SearchControl& c = g_control;
  const int ceiling = elo_ceiling();
  long long v = std::strtoll(value, nullptr, 10);
  int e = v < 1500 ? 1500 : v > INT_MAX ? INT_MAX : int(v);
  if (e > ceiling) e = ceiling;
  print_message("UCI_Elo set to %d", e);
  if (e <= 0 || e >= ceiling - 10) {
    // At (or next to) the ceiling there is nothing to limit.  Before the
    // speed was measured there is no full-speed figure to fall back on.
    set_speed_limit(c.speed.calibration_nps > 0 ? c.speed.calibration_nps : NO_NPS_LIMIT);
    g_options[SLOT_LIMIT_STRENGTH] = 0;
    g_options[SLOT_ELO] = i16(ceiling < 0 ? 0 : ceiling > SHRT_MAX ? SHRT_MAX : ceiling);
  } else {
    set_speed_limit(nps_for_elo(e));
    g_options[SLOT_ELO] = i16(e > SHRT_MAX ? SHRT_MAX : e);
  }
  print_message("target nps = %.0f", c.speed.target_nps.load());
}

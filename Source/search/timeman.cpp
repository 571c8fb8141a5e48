#include "search/timeman.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/platform.h"
#include "search/control.h"
#include "search/thread.h"

f64 compute_target_time(int ply, bool uci, int elo_option) {
  SearchControl& c = g_control;
  f64& clock = c.limits.side_time[c.limits.root_side];
  if (c.limits.limit_mode == 1) {
    clock = c.limits.fixed_time;
    return c.limits.fixed_time;
  }
  f64 divisor;
  bool long_control;
  if (c.limits.limit_mode == 0) {
    if (ply <= 21) {
      c.limits.moves_to_go = i16(33 - ply / 2);
      divisor = c.limits.moves_to_go + 1;
    } else {
      c.limits.moves_to_go = 23;
      divisor = 24;
    }
    long_control = true;
  } else {
    if (!uci) c.limits.moves_to_go = i16(c.limits.limit_mode - ((ply / 2) % c.limits.limit_mode));
    if (c.limits.moves_to_go < 1) c.limits.moves_to_go = 1;
    divisor = c.limits.moves_to_go + 1;
    long_control = c.limits.moves_to_go > 2;
  }
  f64 target = std::max(clock, 0.0) / divisor;
  if (c.config.ponder_allowed && long_control) target *= 1.3;
  if (elo_option <= 2399) target *= 0.85;
  if (c.limits.increment > 0 && clock > 0) target += c.limits.increment * clock / (2 * c.limits.increment + clock);
  target = std::min(target, 0.65 * clock - 5 * c.config.move_overhead);
  return std::max(target, 0.002);
}

void update_elapsed() { g_control.clock.elapsed = now_seconds() - g_control.clock.search_start; }

void check_time() {
  SearchControl& c = g_control;
  update_elapsed();
  const int d = c.result.iteration_depth.load(std::memory_order_relaxed);
  if (c.stop || c.search_state == STATE_PONDER || d < 2 || c.clock.elapsed < 0.015) return;

  const int prev = c.result.score_by_depth[d - 1];
  const int a = std::abs(prev);
  int m, w;
  if (a > 959) {
    m = 75;
    w = 300;
  } else {
    m = (a >> 4) + 15;
    w = 4 * m;
  }
  int f = 0;
  const int published = c.result.best_score;
  for (int i = 0; i < thread_count(); ++i) {
    const SearchThread* t = g_threads[i];
    if (!t || t->iteration_depth.load(std::memory_order_relaxed) < d) continue;
    const int s = t->best_score;
    if (t->best_move == c.result.best_move()) {
      if (s < published && t->root_result == 1) f = i == 0 ? 24 : std::max(f, 16);
    } else if (s > published) {
      if (i == 0 && t->root_result == 2) f = std::max(f, 2);
      if (s > published + 24) f = std::max(f, 4);
    }
  }
  int p;
  if (published < prev - w) {
    f = 24;
    p = d > 3 ? f : f / 2;
  } else if (published < prev - 2 * m) {
    f = std::max(f, 10);
    p = d > 3 ? f : f / 2;
  } else if (published < prev - m) {
    f = std::max(f, 4);
    p = d > 3 ? f : f / 2;
  } else if (f == 0 && d > 4) {
    if (c.result.change_depth == d) p = 2;
    else if (c.result.change_depth == d - 1) p = 1;
    else if (c.clock.elapsed > 0.5 * c.clock.target_time)
      p = d - 9 > c.result.change_depth ? -2 : d - 5 > c.result.change_depth ? -1 : 0;
    else p = 0;
  } else {
    p = d > 3 ? f : f / 2;
  }
  c.clock.time_extension = i16(p);
  const f64 clock = c.limits.side_time[c.limits.root_side];
  const f64 remaining = std::max(0.0, clock - c.clock.elapsed);
  const f64 overhead = c.limits.limit_mode == 1 ? 0.0 : std::min(c.config.move_overhead, 0.025);
  const f64 limit = c.clock.target_time + p / 100.0 * remaining - overhead;
  if ((c.result.single_reply && d > 4) || 5 * overhead > remaining || c.clock.elapsed >= limit)
    c.stop = c.search_state == STATE_SEARCH ? STOP_REPORT : STOP_ABORT;
}

f64 effective_branching_factor() {
  const SearchControl& c = g_control;
  int d = c.result.last_depth;
  if (d <= 5 || c.result.nodes_by_depth[d] == 0 || c.result.nodes_by_depth[d - 4] == 0) return 2.0;
  return std::pow(f64(c.result.nodes_by_depth[d]) / f64(c.result.nodes_by_depth[d - 4]), 0.25);
}

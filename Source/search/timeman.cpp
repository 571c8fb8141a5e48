#include "search/timeman.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/platform.h"
#include "search/control.h"
#include "search/thread.h"

u32 g_search_salt = 0;

f64 compute_target_time(int ply, bool uci, int elo_option) {
  SearchControl& c = g_control;
  f64& clock = c.side_time[c.root_side];
  if (c.limit_mode == 1) {
    clock = c.fixed_time;
    return c.fixed_time;
  }
  f64 divisor;
  bool long_control;
  if (c.limit_mode == 0) {
    if (ply <= 21) {
      c.moves_to_go = i16(33 - ply / 2);
      divisor = c.moves_to_go + 1;
    } else {
      c.moves_to_go = 23;
      divisor = 24;
    }
    long_control = true;
  } else {
    if (!uci) c.moves_to_go = i16(c.limit_mode - ((ply / 2) % c.limit_mode));
    if (c.moves_to_go < 1) c.moves_to_go = 1;
    divisor = c.moves_to_go + 1;
    long_control = c.moves_to_go > 2;
  }
  f64 target = std::max(clock, 0.0) / divisor;
  if (c.ponder_allowed && long_control) target *= 1.3;
  if (elo_option <= 2399) target *= 0.85;
  if (c.increment > 0 && clock > 0) target += c.increment * clock / (2 * c.increment + clock);
  target = std::min(target, 0.65 * clock - 5 * c.move_overhead);
  return std::max(target, 0.002);
}

void update_elapsed() { g_control.elapsed = now_seconds() - g_control.search_start; }

void check_time() {
  SearchControl& c = g_control;
  update_elapsed();
  const int d = c.iteration_depth.load(std::memory_order_relaxed);
  if (c.stop || c.search_state == STATE_PONDER || d < 2 || c.elapsed < 0.015) return;

  const int prev = c.score_by_depth[d - 1];
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
  const int published = c.best_score;
  for (int i = 0; i < thread_count(); ++i) {
    const SearchThread* t = g_threads[i];
    if (!t || t->iteration_depth.load(std::memory_order_relaxed) < d) continue;
    const int s = t->best_score;
    if (t->best_move == c.best_move()) {
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
    if (c.change_depth == d) p = 2;
    else if (c.change_depth == d - 1) p = 1;
    else if (c.elapsed > 0.5 * c.target_time) p = d - 9 > c.change_depth ? -2 : d - 5 > c.change_depth ? -1 : 0;
    else p = 0;
  } else {
    p = d > 3 ? f : f / 2;
  }
  c.time_extension = i16(p);
  const f64 clock = c.side_time[c.root_side];
  const f64 remaining = std::max(0.0, clock - c.elapsed);
  const f64 overhead = c.limit_mode == 1 ? 0.0 : std::min(c.move_overhead, 0.025);
  const f64 limit = c.target_time + p / 100.0 * remaining - overhead;
  if ((c.single_reply && d > 4) || 5 * overhead > remaining || c.elapsed >= limit)
    c.stop = c.search_state == STATE_SEARCH ? STOP_REPORT : STOP_ABORT;
}

f64 effective_branching_factor() {
  const SearchControl& c = g_control;
  int d = c.last_depth;
  if (d <= 5 || c.nodes_by_depth[d] == 0 || c.nodes_by_depth[d - 4] == 0) return 2.0;
  return std::pow(f64(c.nodes_by_depth[d]) / f64(c.nodes_by_depth[d - 4]), 0.25);
}

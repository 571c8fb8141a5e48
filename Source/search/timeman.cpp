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
  // Time saved on ponder hits pays for the bonus, so it needs a client that ponders.
  if (c.config.ponder_allowed && c.config.gui_ponders && long_control) target *= 1.3;
  if (elo_option <= 2399) target *= 0.85;
  if (c.limits.increment > 0 && clock > 0) target += c.limits.increment * clock / (2 * c.limits.increment + clock);
  target = std::min(target, 0.65 * clock - 5 * c.config.move_overhead);
  return std::max(target, 0.002);
}

f64 compute_hard_time(f64 target) {
  const SearchControl& c = g_control;
  if (c.limits.limit_mode == LIMIT_FIXED) return target;
  const f64 clock = std::max(c.limits.side_time[c.limits.root_side], 0.0);
  const f64 cap = 0.75 * clock - 5 * c.config.move_overhead;
  return std::max(target, std::min(4 * target, cap));
}

f64 soft_limit_scale(int depth, f64 best_share) {
  const SearchResult& r = g_control.result;
  // Iterations the best move has held: a new best move needs confirming.
  static constexpr f64 STABILITY[] = {1.6, 1.3, 1.1, 1.0, 0.95, 0.9};
  const int held = std::clamp(depth - int(r.change_depth), 0, 5);
  f64 scale = STABILITY[held];
  // A falling score asks for more time, a rising one for less.
  const int now = r.best_score;
  const int before = r.score_by_depth[std::max(1, depth - 3)];
  if (before > -10001 && std::abs(now) < 5000 && std::abs(before) < 5000)
    scale *= std::clamp(1.0 + 0.008 * (before - now), 0.8, 1.5);
  // The more of the tree the best move took, the fewer rivals it has.
  scale *= std::clamp(0.5 + 1.7 * (1.0 - best_share), 0.6, 1.6);
  return scale;
}

bool soft_limit_reached(int depth, f64 best_share) {
  const SearchControl& c = g_control;
  if (c.limits.limit_mode == LIMIT_FIXED || depth < 4) return false;
  // The next iteration takes about as long as all before it: do not start
  // one that would most likely be cut off by the hard limit.
  return c.clock.elapsed >= 0.75 * c.clock.target_time * soft_limit_scale(depth, best_share);
}

void update_elapsed() { g_control.clock.elapsed = now_seconds() - g_control.clock.search_start; }

namespace {

// Fixed move time: the share of the remaining time (in %) added to the target
// for trouble or instability, or taken off for a long-stable best move.
int fixed_time_extension(const SearchControl& c, int d) {
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
  return p;
}

}  // namespace

void check_time() {
  SearchControl& c = g_control;
  update_elapsed();
  const int d = c.result.iteration_depth.load(std::memory_order_relaxed);
  if (c.stop || c.search_state == STATE_PONDER || d < 2 || c.clock.elapsed < 0.015) return;

  const bool fixed = c.limits.limit_mode == LIMIT_FIXED;
  const f64 remaining = std::max(0.0, c.limits.side_time[c.limits.root_side] - c.clock.elapsed);
  const f64 overhead = fixed ? 0.0 : std::min(c.config.move_overhead, 0.025);
  f64 limit;
  if (fixed) {
    const int p = fixed_time_extension(c, d);
    c.clock.time_extension = i16(p);
    limit = c.clock.target_time + p / 100.0 * remaining - overhead;
  } else {
    limit = c.clock.hard_time - overhead;
  }
  if ((c.result.single_reply && d > 4) || 5 * overhead > remaining || c.clock.soft_passed || c.clock.elapsed >= limit)
    c.stop = c.search_state == STATE_SEARCH ? STOP_REPORT : STOP_ABORT;
}

f64 effective_branching_factor() {
  const SearchControl& c = g_control;
  int d = c.result.last_depth;
  if (d <= 5 || c.result.nodes_by_depth[d] == 0 || c.result.nodes_by_depth[d - 4] == 0) return 2.0;
  return std::pow(f64(c.result.nodes_by_depth[d]) / f64(c.result.nodes_by_depth[d - 4]), 0.25);
}

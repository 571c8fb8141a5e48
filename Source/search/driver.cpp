#include "search/driver.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "board/movegen.h"
#include "board/notation.h"
#include "board/see.h"
#include "fathom/tbprobe.h"
#include "platform/output.h"
#include "platform/platform.h"
#include "search/options.h"
#include "search/picker.h"
#include "search/search.h"
#include "search/thread.h"
#include "search/timeman.h"
#include "search/tt.h"
#include "search/wdl.h"

Relaxed<f64> g_info_threshold{0.0};
bool g_tool_search = false;

bool mate_goal_reached(int score) {
  const int goal = g_control.limits.mate_moves;
  return goal > 0 && score > MATE_REPORT_BOUND && (MATE_SCORE - score) / 2 <= goal;
}

namespace {

SpinLock g_stats_lock;
// Root tablebase class of the current search, -1 none.  Thread 0 writes it
// before its first iteration; a helper reads it only after it has seen that
// iteration begin (release/acquire on the iteration depth), so it never acts
// on the class of the previous search's root.
std::atomic<int> g_root_tb{-1};

int reported_score(int score) {
  if (g_root_tb == 4 && score < MATE_REPORT_BOUND) return TB_WIN_SCORE;
  if (g_root_tb == 2) return 0;
  if (g_root_tb == 0 && score >= -MATE_REPORT_BOUND) return -TB_WIN_SCORE;
  return score;
}

void line_text(const u16* line, int max_moves, char* out, size_t size, Notation style) {
  size_t len = 0;
  out[0] = 0;
  char mv[8];
  for (int i = 1; i < PV_SIZE && line[i] && i <= max_moves; ++i) {
    move_to_text(line[i], mv, style);
    const char* sep = i == 1 ? "" : " ";
    if (style == Notation::CONSOLE && (i == 9 || i == 17 || i == 25)) sep = "\n                              ";
    int n = std::snprintf(out + len, size - len, "%s%s", sep, mv);
    if (n < 0 || size_t(n) >= size - len) break;
    len += size_t(n);
  }
}

bool iteration_limit_reached(int d, int history_count) {
  const SearchControl& c = g_control;
  if (mate_within(c.result.best_score, d)) return true;
  if (mate_goal_reached(c.result.best_score)) return true;
  if (d >= c.limits.max_depth) return true;
  if (history_count + d > 883) return true;
  return d >= LAST_ITERATION;
}

bool root_move_allowed(Move m) {
  const SearchLimits& l = g_control.limits;
  if (l.search_move_count == 0) return true;
  for (int i = 0; i < l.search_move_count; ++i)
    if (l.search_moves[i] == m) return true;
  return false;
}

// Root list: every legal move the limits allow, ordered for the first iteration.
int prepare_root(SearchThread& t) {
  SearchTables& tb = t.tables;
  Position& pos = t.pos;
  tb.stack[0].move_list = tb.move_buffer;
  tb.stack[0].current_move = nullptr;
  tb.stack[0].static_eval = -SCORE_INF;
  tb.stack[0].node_type = PV_NODE;
  tb.stack[0].move_class = 0;
  tb.stack[0].research = 0;
  tb.stack[0].reduction = 0;
  tb.stack[0].move_count = 0;
  tb.stack[0].tb_result = -1;
  tb.stack[0].singular = 0;
  tb.stack[0].double_extensions = 0;
  SearchStackEntry& root = tb.stack[1];
  root.move_list = tb.move_buffer;
  MoveEntry* end = gen_captures(pos, pos.side, root.move_list, NO_SQUARE);
  end = gen_promotions(pos, pos.side, end, true);
  end = gen_quiets(pos, pos.side, end, NO_SQUARE);
  MoveEntry* out = root.move_list;
  for (MoveEntry* e = root.move_list; e < end; ++e)
    if (is_legal(pos, pos.side, e->move) && root_move_allowed(e->move)) *out++ = *e;
  out->move = MOVE_END;
  tb.root_end = out;
  tb.stack[2].move_list = out + 1;
  score_root_moves(t, root.move_list);
  root.current_move = nullptr;
  root.node_type = PV_NODE;
  root.tb_result = -1;
  root.singular = 0;
  root.double_extensions = 0;
  root.static_eval = i16(evaluate(t.eval, pos, 1, nullptr, false));
  tb.root_history_count = pos.owner->history_count;
  return int(out - root.move_list);
}

void perturb_root_order(SearchThread& t) {
  u32 x = t.seed;
  MoveEntry* list = t.tables.stack[1].move_list;
  for (MoveEntry* e = list + 1; e->move != MOVE_END; ++e) {
    x = x * 19375u + 987654321u;
    e->score = i16(e->score - int(x % 24));
  }
}

bool skip_depth(const SearchThread& t, int d) {
  int reached = 0;
  for (int i = 0; i < thread_count(); ++i)
    if (g_threads[i] && g_threads[i]->iteration_depth.load(std::memory_order_relaxed) >= d) ++reached;
  return reached > thread_count() / 2;
}

}  // namespace

void score_text(int score, char* buffer) {
  if (score > MATE_REPORT_BOUND)
    std::sprintf(buffer, "mate %d", (MATE_SCORE - score) / 2);
  else if (score < -MATE_REPORT_BOUND - 1)
    std::sprintf(buffer, "mate -%d", (score + MATE_SCORE - 1) / 2);
  else
    std::sprintf(buffer, "cp %d", score);
}

void gather_search_stats() {
  SearchControl& c = g_control;
  c.stats.total_nodes = c.stats.eval_probes = c.stats.eval_hits = c.stats.hash_probes = c.stats.hash_hits = 0;
  c.stats.pawn_probes = c.stats.pawn_hits = c.stats.tb_hits = 0;
  for (int i = 0; i < thread_count(); ++i) {
    const SearchThread* t = g_threads[i];
    if (!t) continue;
    c.stats.total_nodes += t->nodes;
    c.stats.eval_probes += t->eval.cache_probes;
    c.stats.eval_hits += t->eval.cache_hits;
    c.stats.hash_probes += t->tt_probes;
    c.stats.hash_hits += t->tt_hits;
    c.stats.pawn_probes += t->eval.pawn_probes;
    c.stats.pawn_hits += t->eval.pawn_hits;
    c.stats.tb_hits += t->tb_hits;
  }
}

void print_info(int thread_index, int pv_number, int depth, int score, const u16* line) {
  SearchControl& c = g_control;
  update_elapsed();
  gather_search_stats();
  score = reported_score(score);
  char text[1400], pv[1100];
  if (c.config.notation == Notation::UCI) {
    if (depth > 6) tt_hashfull();
    f64 hashfull = depth > 6 ? c.stats.hash_fill * 1000 : 0;
    char multipv[32] = "";
    if (c.config.multipv > 1) std::snprintf(multipv, sizeof multipv, "multipv %d ", pv_number);
    char st[64];
    score_text(score, st);
    if (g_show_wdl.load(std::memory_order_relaxed)) {
      const WdlShares w = g_root_tb != -1 ? wdl_from_tables(g_root_tb) : wdl_from_score(score);
      const size_t n = std::strlen(st);
      std::snprintf(st + n, sizeof st - n, " wdl %d %d %d", w.win, w.draw, w.loss);
    }
    line_text(line, MAX_LINE_MOVES, pv, sizeof pv, Notation::UCI);
    const SearchThread* t0 = g_threads[0];
    f64 nps = c.clock.elapsed <= 0.001 ? 0 : f64(c.stats.total_nodes) / c.clock.elapsed;
    std::snprintf(text, sizeof text,
                  "info %s%sdepth %d seldepth %d score %s time %.0f nodes %.0f nps %.0f tbhits %.0f hashfull %.0f pv %s",
                  multipv, "", depth, t0 ? t0->seldepth - 1 : 0, st, c.clock.elapsed * 1000,
                  f64(c.stats.total_nodes), nps, f64(c.stats.tb_hits), hashfull, pv);
    output_line(text);
  } else {
    line_text(line, c.stop ? 32 : 8, pv, sizeof pv, Notation::CONSOLE);
    std::snprintf(text, sizeof text, "%02d] %02d%c %5.1f %7.0fK %5d  %s", thread_index, depth, pv_number ? '.' : ' ',
                  c.clock.elapsed.load(), f64(c.stats.total_nodes) / 1000, score, pv);
    output_line(text);
    if (thread_index == 0 && pv_number == c.config.multipv) output_line("");
  }
}

void print_info_if_due(int thread_index, int pv_number, int depth, int score, const u16* line) {
  update_elapsed();
  if (g_info_threshold >= 9999) return;
  if (!g_control.stop && g_control.clock.elapsed < g_info_threshold) return;
  if (depth == 0 || !line[1]) return;
  print_info(thread_index, pv_number, depth, score, line);
}

void publish_best(SearchThread& t) {
  SearchControl& c = g_control;
  SearchResult& r = c.result;
  if (r.best_pv[1] == t.root_line[1] && r.best_score == t.best_score && r.report_depth == t.report_depth) return;
  if (r.best_pv[1] != t.root_line[1]) r.change_depth = t.report_depth;
  r.set_line(t.root_line);
  r.best_score = t.best_score;
  r.report_depth = t.report_depth;
  if (t.report_depth >= 0 && t.report_depth < PV_SIZE) r.score_by_depth[t.report_depth] = t.best_score;
  if (t.report_depth >= 2 && c.config.multipv == 1) print_info_if_due(0, 1, t.report_depth, t.best_score, t.root_line);
}

void search_root(SearchThread& t, int depth, int pv_index) {
  SearchControl& c = g_control;
  Position& pos = t.pos;
  SearchTables& tb = t.tables;
  SearchStackEntry& ss = tb.stack[1];
  const int side = pos.side;
  const bool main = t.thread_index == 0;
  const bool reporting = main && c.config.multipv == 1 && pv_index == 0;
  const bool bound_lines = reporting && depth >= 4;
  const int prev = t.best_score;

  ss.checker_square = u8(least_attacker(pos, pos.king_square[side], side ^ 1, pos.occupied()));
  ss.in_check = ss.checker_square != NO_SQUARE;
  ss.depth = i16(depth);
  ss.move_count = 0;

  int w;
  if (depth == 1) w = SCORE_INF;
  else if (depth == 2) w = 100;
  else w = std::max(20, 4 * (15 - depth)) + (std::abs(prev) >> 4);
  if (c.speed.target_nps < 10000 && depth <= 2) w = 60;
  int lo = prev - w < -5000 ? -SCORE_INF : prev - w;
  int hi = prev + w > 5000 ? SCORE_INF : prev + w;
  int best = -SCORE_INF;
  if (pv_index == 0) {
    t.root_start_nodes = t.nodes;
    t.best_move_nodes = 0;
  }

  MoveEntry* list = ss.move_list;
  u16 child_pv[PV_SIZE];
  const bool shallow_all = depth == 1 && !(c.speed.target_nps <= 10000);
  const bool quiet_side = pos.piece_material[side] > 0 && (pos.material_signature[side] & 15) > 0;

  for (MoveEntry* cur = list + pv_index; cur->move != MOVE_END; ++cur) {
    MoveEntry* pick = cur;
    for (MoveEntry* e = cur + 1; e->move != MOVE_END; ++e)
      if (e->score > pick->score) pick = e;
    std::swap(*cur, *pick);
    const Move move = cur->move;
    const int move_count = ss.move_count;

    // Progress lines for long searches.
    if (main && c.config.notation == Notation::UCI && pv_index == 0) {
      update_elapsed();
      if (c.clock.elapsed > 3.5 && c.clock.elapsed > g_info_threshold && g_info_threshold < 9999) {
        char text[200];
        if (move_count == 0) {
          gather_search_stats();
          tt_hashfull();
          std::snprintf(text, sizeof text, "info depth %d time %.0f nodes %.0f nps %.0f hashfull %.0f",
                        int(c.result.iteration_depth), c.clock.elapsed * 1000, f64(c.stats.total_nodes),
                        c.clock.elapsed <= 0.001 ? 0.0 : f64(c.stats.total_nodes) / c.clock.elapsed,
                        c.stats.hash_fill * 1000);
          output_line(text);
        }
        if (c.config.multipv == 1) {
          std::snprintf(text, sizeof text, "info currmove %s%s currmovenumber %d", SQUARE_NAMES[move_from(move)],
                        SQUARE_NAMES[move_to(move)], move_count + 1);
          output_line(text);
        }
      }
    }

    t.root_result = 0;
    ss.current_move = cur;
    ss.move_class = classify_move(pos, side, *cur);
    cur->score = i16(-11000 - move_count);
    ss.reduction = 0;
    ss.research = 0;
    int r = 0;
    if (move_count >= 5 && depth >= 6 && best >= std::max(prev, -9565) - 34 && !ss.in_check &&
        (ss.move_class & 63) == 0 && quiet_side)
      r = 1;
    ss.reduction = i8(r);

    const i16 saved_score = t.best_score;
    const u16 saved_move = t.best_move;
    u16 saved_line[PV_SIZE];
    std::memcpy(saved_line, t.root_line, sizeof saved_line);
    auto provisional = [&](int v) {
      t.best_score = i16(v);
      t.best_move = move;
      t.root_line[1] = move;
      int i = 2;
      for (; i < PV_SIZE && child_pv[i]; ++i) t.root_line[i] = child_pv[i];
      if (i < PV_SIZE) t.root_line[i] = 0;
    };
    auto bound_line = [&](int v) {
      update_elapsed();
      if (bound_lines && (c.stop || c.clock.elapsed >= g_info_threshold) && g_info_threshold < 9999 && move)
        print_info(0, 1, depth, v, t.root_line);
    };

    const u64 nodes_before = t.nodes;
    make_move(pos, move);
    child_pv[2] = 0;
    int v;
    int bound;
    if (move_count == 0 || shallow_all) {
      bound = lo;
      v = -search(t, 2, depth - 1, -hi, -lo, PV_NODE, child_pv);
      while (!(lo < v && v < hi) && !search_stopped()) {
        t.root_result = v >= hi ? 2 : 1;
        provisional(v);
        bound_line(v);
        const int doubled = 2 * w;
        w = std::max(25, doubled);
        bool lo_reset = false;
        if (v >= hi) {
          hi += w;
          if (hi > 5000) hi = SCORE_INF;
        } else {
          lo -= w;
          if (lo < -5000) {
            lo = -SCORE_INF;
            lo_reset = true;
          }
        }
        bound = lo;
        v = -search(t, 2, depth - 1, -hi, -lo, PV_NODE, child_pv);
        if (v <= lo && doubled > 150 && (lo <= MATE_BOUND_HIGH || lo_reset) && c.config.multipv == 1 &&
            t.full_research == 1) {
          t.full_research = 2;
          break;
        }
      }
    } else {
      bound = best;
      ss.research = 1;
      int upper = best + 1 > 5000 ? SCORE_INF : best + 1;
      v = -search(t, 2, depth - r - 1, -upper, -best, CUT_NODE, child_pv);
      ss.research = 0;
      if (v >= best + 1 && !search_stopped()) {
        int ub = best + 1, step = 1;
        do {
          t.root_result = 2;
          if (main) c.result.change_depth = i8(depth);
          cur->score = i16(best - 1);
          provisional(v);
          if (step >= 20) bound_line(v);
          step = std::max(25, 2 * step);
          ub += step;
          if (ub > 5000) ub = SCORE_INF;
          ss.reduction = 0;
          ss.research = 2;
          v = -search(t, 2, depth - 1, -ub, -best, PV_NODE, child_pv);
          ss.research = 0;
        } while (v >= ub && !search_stopped());
      }
    }
    unmake_move(pos);
    t.root_result = 0;

    if (search_stopped()) {
      if (main && t.best_score > c.result.best_score + 24 && t.best_move != c.result.best_move() &&
          c.result.best_score <= MATE_BOUND_HIGH) {
        t.report_depth = i8(depth);
        publish_best(t);
      }
      return;
    }
    t.best_score = saved_score;
    t.best_move = saved_move;
    std::memcpy(t.root_line, saved_line, sizeof saved_line);
    ss.move_count = u16(move_count + 1);
    if (v > bound) cur->score = i16(v);
    if (v > best) {
      best = v;
      if (pv_index == 0) t.best_move_nodes = t.nodes - nodes_before;
      t.best_score = i16(v);
      t.best_move = move;
      t.report_depth = i8(depth);
      t.root_line[1] = move;
      int i = 2;
      for (; i < PV_SIZE && child_pv[i]; ++i) t.root_line[i] = child_pv[i];
      if (i < PV_SIZE) t.root_line[i] = 0;
      if (main && pv_index == 0) publish_best(t);
      // The new best moves to the front of this slot's part of the list.
      MoveEntry chosen = *cur;
      for (MoveEntry* e = cur; e > list + pv_index; --e) *e = *(e - 1);
      list[pv_index] = chosen;
    }
  }
  if (depth == 1 && reporting) print_info_if_due(0, 1, 1, best, t.root_line);
}

namespace {

// Root tablebase step of thread 0.  A root the tables decide, with the
// fifty-move clock already at 10 or more, is answered without searching;
// otherwise the root's class lets the ply-2 nodes refute moves that give it away.
bool settle_root_by_tables(SearchThread& t) {
  SearchControl& c = g_control;
  Position& pos = t.pos;
  set_tb_probe_depths(g_options[SLOT_SYZYGY_DEPTH5], g_options[SLOT_SYZYGY_DEPTH6]);
  RootTbResult tbr = probe_tb_root(pos);
  Move move = tbr.wdl != -1 ? tbr.move : MOVE_NONE;
  g_root_tb = tbr.wdl != -1 ? tbr.wdl : probe_tb_wdl(pos, 70);
  const int score = g_root_tb == 4 ? TB_WIN_SCORE - 1 : g_root_tb == 0 ? -TB_WIN_SCORE : 0;
  if (move != MOVE_NONE && pos.fifty_count > 9 && is_legal(pos, pos.side, move) && root_move_allowed(move)) {
    ++t.tb_hits;
    std::memset(t.root_line, 0, sizeof t.root_line);
    t.root_line[1] = move;
    t.best_score = i16(score);
    t.report_depth = 99;
    t.seldepth = 100;
    c.result.last_depth = 99;
    if (!c.stop) c.stop = STOP_REPORT;
    publish_best(t);
    if (c.config.multipv > 1) print_info_if_due(0, 1, 99, score, t.root_line);
    return true;
  }
  t.tables.stack[1].tb_result = g_root_tb;
  return false;
}

}  // namespace

void iterate(SearchThread& t) {
  SearchControl& c = g_control;
  const bool main = t.thread_index == 0;
  eval_begin_search(t.eval, t.pos.side, c.clock.target_time);
  reset_move_ordering(t.tables);
  int legal = prepare_root(t);
  if (main) {
    c.result.single_reply = legal == 1;
    if (settle_root_by_tables(t)) return;
  } else if (g_root_tb != -1) {
    return;  // the tables decide this root; only thread 0 searches it
  }
  if (legal == 0) {
    if (main && !c.stop) c.stop = STOP_REPORT;
    return;
  }

  for (int d = 1;; ++d) {
    if (!main) {
      if (d > 6 && d < c.limits.max_depth && c.config.multipv == 1 && skip_depth(t, d)) ++d;
      perturb_root_order(t);
    }
    t.iteration_depth.store(u8(d), std::memory_order_relaxed);
    t.eval.iteration_depth = d;
    if (main) c.result.iteration_depth.store(i8(d), std::memory_order_release);
    t.full_research = (d >= 6 && c.config.hash_mb >= 4 && c.config.multipv == 1) ? 1 : 0;

    MoveEntry* list = t.tables.stack[1].move_list;
    for (int k = 0; k < c.config.multipv && k < legal; ++k) {
      search_root(t, d, k);
      if (search_stopped()) break;
      if (main && c.config.multipv > 1) {
        // Each slot keeps its own best line: the slot's move at index k.
        if (list[k].move != MOVE_END) print_info_if_due(0, k + 1, d, t.best_score, t.root_line);
        if (k == 0) {
          t.report_depth = i8(d);
          publish_best(t);
        }
      }
    }
    g_stats_lock.lock();
    if (d < PV_SIZE) c.result.nodes_by_depth[d] += t.nodes;
    g_stats_lock.unlock();
    if (search_stopped()) break;
    if (t.full_research == 2) {
      search_root(t, d, 0);
      if (search_stopped()) break;
    }
    if (main) {
      update_elapsed();
      c.result.last_depth = i8(d);
    }
    if (iteration_limit_reached(d, t.pos.owner->history_count)) break;
    if (main) {
      const u64 spent = t.nodes - t.root_start_nodes;
      const f64 share = spent ? f64(t.best_move_nodes) / f64(spent) : 1.0;
      if (soft_limit_reached(d, share)) {
        // While pondering the search goes on; ponderhit then ends it at once.
        if (c.search_state == STATE_PONDER) c.clock.soft_passed = 1;
        else break;
      }
    }
  }
  if (main && !c.stop) c.stop = STOP_REPORT;
}

void search_thread_body(SearchThread& t) {
  SearchControl& c = g_control;
  // The front end has copied the root into every thread before waking them.
  // Helpers begin once thread 0 is past its first iteration; the acquire
  // pairs with its release, so they see this root's tablebase class.
  if (t.thread_index != 0) {
    while (c.result.iteration_depth.load(std::memory_order_acquire) <= 1) {
      if (c.stop) return;
      sleep_ms(1);
    }
  }
  t.seed = u32(u64(std::time(nullptr)) * 19375u + 987654321u);
  iterate(t);
}

void tool_search(const Position& root) {
  SearchThread* t = g_threads[0];
  if (!t) return;
  copy_root_to_threads(root);
  t->seed = u32(u64(std::time(nullptr)) * 19375u + 987654321u);
  g_tool_search = true;
  iterate(*t);
  g_tool_search = false;
}

int root_quiescence(const Position& root, u16* line) {
  SearchThread* tp = g_threads[0];
  if (!tp) return 0;
  SearchThread& t = *tp;
  copy_root_to_threads(root);
  eval_begin_search(t.eval, t.pos.side, 99999.0);
  reset_move_ordering(t.tables);
  prepare_root(t);
  Position& pos = t.pos;
  SearchStackEntry& ss = t.tables.stack[1];
  ss.checker_square = u8(least_attacker(pos, pos.king_square[pos.side], pos.side ^ 1, pos.occupied()));
  ss.in_check = ss.checker_square != NO_SQUARE;
  ss.depth = 0;
  ss.iid_active = 0;
  ss.danger[0] = ss.danger[1] = 0;
  u16 pv[PV_SIZE] = {};
  const u8 stop = g_control.stop.load();
  g_control.stop = 0;
  // A speed limit holds searches only, never this display.
  const f64 target_nps = g_control.speed.target_nps;
  g_control.speed.target_nps = NO_NPS_LIMIT;
  int score = ss.in_check ? search_moves(t, 1, 0, -SCORE_INF, SCORE_INF, true, PV_NODE, pv)
                          : qsearch(t, 1, 0, -SCORE_INF, SCORE_INF, PV_NODE, pv);
  g_control.speed.target_nps = target_nps;
  g_control.stop = stop;
  if (line) std::memcpy(line, pv, sizeof pv);
  return score;
}

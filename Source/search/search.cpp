#include "search/search.h"

#include <algorithm>

#include "board/movegen.h"
#include "board/see.h"
#include "fathom/tbprobe.h"
#include "platform/platform.h"
#include "search/driver.h"
#include "search/params.h"
#include "search/picker.h"
#include "search/thread.h"
#include "search/timeman.h"
#include "search/ttprobe.h"

namespace {

inline int pawn_count(const Position& pos, int colour) { return int(pos.material_signature[colour] & 15); }

inline int relative_rank(int colour, int sq) { return colour == WHITE ? rank_of(sq) : 7 - rank_of(sq); }

inline void copy_line(u16* pv, const u16* child, int ply) {
  int i = ply + 1;
  for (; i < PV_SIZE && child[i]; ++i) pv[i] = child[i];
  if (i < PV_SIZE) pv[i] = 0;
}

// Attackers of sq belonging to colour through occ, leaving out the square `skip`.
Bitboard attackers_of(const Position& pos, int sq, int colour, Bitboard occ, int skip) {
  const Bitboard* p = pos.pieces[colour];
  Bitboard a = (pawn_attacks(colour ^ 1, sq) & p[PAWN]) | (knight_attacks(sq) & p[KNIGHT]) |
               (king_attacks(sq) & p[KING]) | (bishop_attacks(sq, occ) & (p[BISHOP] | p[QUEEN])) |
               (rook_attacks(sq, occ) & (p[ROOK] | p[QUEEN]));
  return a & ~bit(skip) & occ;
}

// A slider move that lines up on a square next to the enemy king which
// another of our pieces already attacks.
bool slider_threat(const Position& pos, int side, int from, int to, bool diagonal, bool orthogonal, Bitboard zone) {
  const Bitboard occ = pos.occupied();
  const Bitboard* own = pos.pieces[side];
  Bitboard candidates = 0;
  if (diagonal) candidates |= bishop_rays(to) & ~bishop_rays(from);
  if (orthogonal) candidates |= rook_rays(to) & ~rook_rays(from);
  candidates &= zone & ~bit(from);
  const Bitboard lifted = occ & ~bit(from);
  for (Bitboard b = candidates; b;) {
    int z = pop_lsb(b);
    bool on_diag = (bishop_rays(to) & bit(z)) != 0;
    Bitboard same_way = on_diag ? (own[BISHOP] | own[QUEEN]) : (own[ROOK] | own[QUEEN]);
    if (between(z, to) & occ & ~same_way) continue;
    if (attackers_of(pos, z, side, lifted, from)) return true;
  }
  return false;
}

}  // namespace

bool search_stopped() { return g_control.stop.load(std::memory_order_relaxed) != 0; }

u16 classify_move(const Position& pos, int side, const MoveEntry& e) {
  const Move m = e.move;
  const int to = move_to(m);
  u16 c = 0;
  const bool pawn = type_of(e.piece) == PAWN;
  if (e.captured || (pawn && to == pos.ep_square)) c |= CLASS_CAPTURE;
  int check = gives_check(pos, side, e);
  if (check) c |= CLASS_CHECK;
  if (check == 2) c |= CLASS_DISCOVERED;
  if (pawn) {
    int r = relative_rank(side, to);
    if (m & PROMO_QUEEN) c |= CLASS_PAWN | CLASS_QUEEN_PROMO;
    else if (r == 6) c |= CLASS_PAWN | CLASS_SEVENTH;
    else if (r == 7) c |= CLASS_PAWN;
    else if ((r == 4 || r == 5) && !(g_attacks.passed_mask[side][to] & pos.pieces[side ^ 1][PAWN])) c |= CLASS_PAWN;
  }
  return c;
}

bool is_safe_move(Position& pos, const MoveEntry& e) {
  const int to = move_to(e.move);
  if (COARSE_VALUE[type_of(e.piece)] <= COARSE_VALUE[type_of(e.captured)]) return true;
  if (type_of(e.piece) == PAWN && to == pos.ep_square) return true;
  if (type_of(pos.board[to]) == KING) return true;
  return capture_gain(pos, e) >= -69;
}

bool is_threat_move(const Position& pos, const MoveEntry& e) {
  const int side = colour_of(e.piece);
  const int from = move_from(e.move), to = move_to(e.move);
  const Bitboard zone = king_attacks(pos.king_square[side ^ 1]);
  const Bitboard* enemy = pos.pieces[side ^ 1];
  const Bitboard occ = pos.occupied();
  switch (type_of(e.piece)) {
    case PAWN:
      return (pawn_attacks(side, to) & (zone | enemy[KNIGHT] | enemy[BISHOP] | enemy[ROOK] | enemy[QUEEN])) != 0;
    case KNIGHT:
      return (knight_attacks(to) & (zone | enemy[ROOK] | enemy[QUEEN])) != 0;
    case BISHOP: {
      Bitboard targets = bishop_attacks(to, occ & ~bit(from)) & ~bishop_rays(from) & (enemy[ROOK] | enemy[QUEEN]);
      return targets || slider_threat(pos, side, from, to, true, false, zone);
    }
    case ROOK: {
      Bitboard targets = rook_attacks(to, occ & ~bit(from)) & ~rook_rays(from) & enemy[QUEEN];
      return targets || slider_threat(pos, side, from, to, false, true, zone);
    }
    case QUEEN:
      return slider_threat(pos, side, from, to, true, true, zone);
    default:
      return false;
  }
}

namespace {

// Every piece of `side` (king aside) survives the opponent's best capture by enough.
bool pieces_safe(Position& pos, int side, int eval, int beta) {
  const Bitboard occ = pos.occupied();
  Bitboard pieces = pos.pieces[side][0] & ~pos.pieces[side][KING];
  for (Bitboard b = pieces; b;) {
    int sq = pop_lsb(b);
    int g = see_swap(pos, side ^ 1, NO_SQUARE, sq, occ, false);
    if (g > 0 && eval - g <= beta + 124) return false;
  }
  return true;
}

bool probcut(SearchThread& t, int ply, int depth, int beta) {
  if (beta > 9000) return false;
  Position& pos = t.pos;
  SearchTables& tb = t.tables;
  SearchStackEntry& ss = tb.stack[ply];
  const SearchParams& sp = g_search_params;
  const int pbeta = beta + sp.ProbCut_margin;
  const int pdepth = std::max(depth - sp.ProbCut_reduction, 1);
  MoveEntry* list = ss.move_list;
  MoveEntry* end = gen_captures(pos, pos.side, list, NO_SQUARE);
  end = gen_promotions(pos, pos.side, end, false);
  end->move = MOVE_END;
  tb.stack[ply + 1].move_list = end + 1;
  for (MoveEntry* e = list; e < end; ++e) e->score = i16(VICTIM_VALUE[type_of(e->captured)] - type_of(e->piece));
  ss.move_count = 0;
  u16 local_pv[PV_SIZE];
  for (MoveEntry* cur = list; cur < end; ++cur) {
    MoveEntry* best = cur;
    for (MoveEntry* e = cur + 1; e < end; ++e)
      if (e->score > best->score) best = e;
    std::swap(*cur, *best);
    if (!cur->move || !is_legal(pos, pos.side, cur->move)) continue;
    if (type_of(cur->captured) != KING &&
        see_swap(pos, pos.side, move_from(cur->move), move_to(cur->move), pos.occupied(), false) < 75)
      continue;
    ss.current_move = cur;
    make_move(pos, cur->move);
    local_pv[ply + 1] = 0;
    int v = -search(t, ply + 1, pdepth - 1, -pbeta, 1 - pbeta, ALL_NODE, local_pv);
    unmake_move(pos);
    if (search_stopped()) return false;
    if (v >= pbeta) return true;
  }
  return false;
}

// Null move bookkeeping on the move list, so children see a null previous move.
void make_null_move(SearchThread& t, int ply) {
  SearchStackEntry& ss = t.tables.stack[ply];
  MoveEntry* list = ss.move_list;
  list[0] = MoveEntry{0, 0, 0, 0};
  list[1] = MoveEntry{MOVE_END, 0, 0, 0};
  ss.current_move = list;
  t.tables.stack[ply + 1].move_list = list + 2;
  if (ply + 2 < STACK_SIZE) t.tables.stack[ply + 2].move_list = list + 2;
  make_null(t.pos);
}

}  // namespace

int search(SearchThread& t, int ply, int depth, int alpha, int beta, int node_type, u16* pv) {
  Position& pos = t.pos;
  SearchTables& tb = t.tables;
  const SearchParams& sp = g_search_params;
  const int side = pos.side;

  // 1. Node count, speed limit, node limit, stop.
  const u64 nodes = t.nodes + 1;
  t.nodes = nodes;
  if (g_control.speed.target_nps < NO_NPS_LIMIT) {
    while (g_control.result.iteration_depth > 1 && !search_stopped()) {
      f64 el = now_seconds() - g_control.clock.search_start;
      if (el <= 0 || f64(nodes) / el <= g_control.speed.target_nps) break;
      sleep_ms(1);
      check_time();
    }
  }
  if (g_tool_search && (nodes & 1023) == 0) check_time();
  if (nodes > t.node_limit && t.report_depth >= 2) g_control.stop = STOP_REPORT;
  if (search_stopped()) return 0;

  // 2. Selective depth; mate-distance bounds.
  if (t.seldepth < ply) t.seldepth = i8(ply);
  alpha = std::max(alpha, ply - MATE_SCORE);
  beta = std::min(beta, MATE_SCORE - 1 - ply);
  if (alpha >= beta) return alpha;

  if (depth >= 0) tt_prefetch(pos.hash_key);

  // 3. A fresh stack entry and an empty line.
  SearchStackEntry& ss = tb.stack[ply];
  const SearchStackEntry& parent = tb.stack[ply - 1];
  ss.node_type = i16(node_type);
  ss.flags = 0;
  ss.in_check = 0;
  ss.move_class = 0;
  ss.move_count = 0;
  ss.hash_move = 0;
  ss.excluded = 0;
  ss.singular = 0;
  ss.double_extensions = u8(parent.double_extensions + (parent.singular == 2 && parent.current_move &&
                                                         parent.current_move->move == parent.hash_move));
  ss.research = 0;
  ss.iid_active = 0;
  ss.reduction = 0;
  ss.tb_result = -1;
  pv[ply] = 0;
  if (ply + 1 < PV_SIZE) pv[ply + 1] = 0;

  // 4. Check detection.
  const int checker = least_attacker(pos, pos.king_square[side], side ^ 1, pos.occupied());
  ss.checker_square = u8(checker);
  const bool in_check = checker != NO_SQUARE;
  ss.in_check = in_check;

  // 5. Draws by the fifty-move rule and repetition.
  if (t.history.last_move != 0 && pos.fifty_count > 3) {
    if (pos.fifty_count >= 100) return 0;
    if (is_repetition(pos, tb.root_history_count)) return 0;
  }

  // 6. Check extension.
  if (in_check && ply <= CHECK_EXTENSION_PLY) {
    if (parent.node_type == PV_NODE || (parent.move_class & CLASS_DISCOVERED))
      ++depth;
    else if (see_swap(pos, side, NO_SQUARE, checker, pos.occupied(), false) <= 0)
      ++depth;
  }
  ss.depth = i16(depth);

  // 7. Transposition table.
  bool fail_low_hint = false, fail_high_hint = false;
  int stored_depth = -1000, tt_score = 0, tt_bound = 0;
  bool have_entry = false;
  if (depth >= 0) {
    ++t.tt_probes;
    TTHit e = tt_probe(pos);
    if (e && e->move && !is_pseudo_legal(pos, side, e->move)) e = TTHit{};
    if (e) {
      ++t.tt_hits;
      have_entry = true;
      ss.hash_move = e->move;
      stored_depth = e->depth;
      int score = score_from_tt(e->score, ply);
      tt_score = score;
      tt_bound = e->bound;
      fail_low_hint = e->bound != BOUND_LOWER && score <= alpha;
      fail_high_hint = e->bound != BOUND_UPPER && score >= beta;
      if (depth <= std::min(int(e->depth), 100 - int(pos.fifty_count))) {
        e.slot->set_age(u8(g_control.config.tt_age));
        if (e->bound == BOUND_EXACT && ply > 7 && is_mate_score(score)) return score;
        if (node_type != PV_NODE) {
          if (fail_low_hint) return alpha;
          if (fail_high_hint) return beta;
        }
      }
    }
  }

  // 8. Endgame tables.
  if (pos.fifty_count == 0 || parent.tb_result != -1) {
    int r = probe_tb_wdl(pos, depth);
    ss.tb_result = r;
    if (r != -1) {
      ++t.tb_hits;
      if (parent.tb_result == -1) {
        int score = r == 4 ? TB_WIN_SCORE - ply : r == 0 ? ply - (TB_WIN_SCORE + 1) : 0;
        return score <= alpha ? alpha : score;
      }
      if (r >= 6 - parent.tb_result) return beta;
    }
  }

  // 9. Static evaluation.
  EvalPlyInfo info{{ss.danger[0], ss.danger[1]}, 0};
  int static_eval = evaluate(t.eval, pos, ply, &info, in_check);
  ss.static_eval = i16(static_eval);
  if (!in_check) {
    ss.danger[0] = info.danger[0];
    ss.danger[1] = info.danger[1];
    if (info.draw_by_material) {
      ss.flags |= 1;
      return 0;
    }
  }
  if (ply > MAX_PLY) return in_check ? 0 : static_eval;

  // 10. In check: every evasion is searched.
  if (in_check) return search_moves(t, ply, depth, alpha, beta, true, node_type, pv);

  // 11. Strength limiting thins the tree by a fixed hash-driven share.
  if (sp.strength_reduction && node_type != PV_NODE && alpha >= MATE_BOUND_LOW && beta <= MATE_BOUND_HIGH) {
    if (((u32(pos.hash_key) ^ t.seed) & 511) < u32((sp.strength_reduction * 384) >> 8))
      depth = depth - 2 > depth / 2 ? depth / 2 : depth - 3;
  }

  // 12. Quiescence.
  if (depth <= 0) return qsearch(t, ply, depth, alpha, beta, node_type, pv);

  // 13. Razoring.
  if (depth <= sp.FP_depth && static_eval <= alpha - sp.razor_margin[depth] && !fail_high_hint &&
      alpha <= MATE_BOUND_HIGH && node_type != PV_NODE)
    return qsearch(t, ply, depth, alpha, beta, node_type, pv);

  // 14. Beta pruning at expected cut nodes: static, ProbCut, null move.
  const int two_up = ply >= 2 ? tb.stack[ply - 2].static_eval : -SCORE_INF;
  if (static_eval >= beta + sp.BP_margin && static_eval >= two_up - 75 && !fail_low_hint && node_type == CUT_NODE &&
      parent.research != 2 && pos.piece_material[side] > 0 && pawn_count(pos, side) > 0 && beta >= MATE_BOUND_LOW) {
    const int danger = ss.danger[side];
    if (depth != 1) {
      int m = danger <= 101 ? 50 : danger >> 1;
      if (static_eval >= beta + m && parent.move_count > 4) --depth;
    }
    if (depth <= sp.SEP_depth && static_eval - danger >= beta) {
      if (static_eval >= beta + sp.sep_margin[depth]) return beta;
      if (depth <= 2 && pieces_safe(pos, side, static_eval, beta)) return beta;
    }
    if (depth >= sp.ProbCut_depth && ply > 3) {
      if (probcut(t, ply, depth, beta)) return beta;
      if (search_stopped()) return 0;
    }
    const GameHistory& h = t.history;
    bool prev_null = h.history_count < 1 || h.entries[h.history_count - 1].move == 0;
    bool prev2_null = h.history_count >= 2 && h.entries[h.history_count - 2].move == 0;
    if (depth >= sp.NMP_depth && t.null_count <= t.iteration_depth.load(std::memory_order_relaxed) / 10 && !prev_null &&
        !prev2_null) {
      // The null search grows shallower with depth and with the margin.
      const int null_R = 3 + depth / 4 + std::min((static_eval - beta) / 200, 2);
      ++t.null_count;
      ++t.null_tries;
      ss.move_count = 0;
      make_null_move(t, ply);
      int v = -search(t, ply + 1, std::max(depth - null_R, 1) - 1, -beta, -alpha, CUT_NODE, pv);
      unmake_null(pos);
      --t.null_count;
      if (search_stopped()) return 0;
      if (v >= beta) {
        if (depth <= 4) return beta;
        // Deeper, the node is searched again, a fixed few plies shallower.
        depth -= (depth > 9 && pos.piece_material[side] > 3 ? 4 : 3) + 1;
      }
    }
  }

  // 15. Singular extension: when every move but the table's fails well below
  // its stored score, the table's move is searched a ply deeper (two at
  // non-PV nodes when they fail far below, a few times per line); when another
  // move holds too, a non-PV node is cut if that is above beta, and otherwise
  // its table move is searched a ply shallower if its stored score was.
  if (depth >= 8 && have_entry && ss.hash_move && tt_bound != BOUND_UPPER && stored_depth >= depth - 3 &&
      !is_mate_score(tt_score) && ply < 2 * t.iteration_depth.load(std::memory_order_relaxed)) {
    const int sbeta = tt_score - 2 * depth;
    const Move table_move = ss.hash_move;
    ss.hash_move = 0;
    ss.excluded = table_move;
    const int probe_type = node_type == PV_NODE ? ALL_NODE : node_type;
    int v = search_moves(t, ply, (depth - 1) / 2, sbeta - 1, sbeta, false, probe_type, pv);
    ss.excluded = 0;
    ss.hash_move = table_move;
    pv[ply] = 0;
    if (search_stopped()) return 0;
    if (v < sbeta)
      ss.singular = node_type != PV_NODE && v < sbeta - 20 && ss.double_extensions < 6 ? 2 : 1;
    else if (sbeta >= beta && node_type != PV_NODE)
      return sbeta;
    else if (tt_score >= beta && node_type != PV_NODE)
      ss.singular = -1;
  }

  // 16. Internal iterative deepening.
  int iid_depth = node_type == PV_NODE ? depth - 3 : depth <= 8 ? depth - 4 : depth - 5;
  if ((!have_entry || stored_depth < iid_depth) && iid_depth >= 1 && static_eval >= alpha - 199) {
    ss.iid_active = 1;
    search_moves(t, ply, iid_depth, alpha, beta, false, node_type, pv);
    ss.iid_active = 0;
    if (search_stopped()) return 0;
    ss.hash_move = pv[ply];
  }

  // 17. The moves.
  return search_moves(t, ply, depth, alpha, beta, false, node_type, pv);
}

int qsearch(SearchThread& t, int ply, int depth, int alpha, int beta, int node_type, u16* pv) {
  Position& pos = t.pos;
  SearchStackEntry& ss = t.tables.stack[ply];
  const int e = ss.static_eval;
  if (e >= beta) return beta;

  ss.move_count = 0;
  int a = std::max(alpha, e);
  const int margin = depth >= 1 ? 450 : 150;
  ss.hash_move = 0;
  picker_start(t, ply, depth >= 0 ? PICK_CHECKS : 0);

  const int side = pos.side, opp = side ^ 1;
  const int last_to = move_to(t.history.last_move);
  Move best_move = 0;
  int v = a;
  bool fail_high = false;
  u16 local_pv[PV_SIZE];

  while (MoveEntry* m = next_move(t, ply)) {
    const Move move = m->move;
    if (move == 0) continue;
    if (depth < -3 && move_to(move) != last_to) continue;

    int value;
    if (gives_check(pos, side, *m)) {
      value = 20000;
    } else {
      const int ct = type_of(m->captured);
      int pawns_left = pawn_count(pos, opp) - (ct == PAWN ? 1 : 0);
      int units_left = pos.piece_material[opp] - UNITS[ct];
      int rr = relative_rank(side, move_to(move));
      if (m->captured && pawns_left == 0 && units_left < 4)
        value = 5000;
      else if (type_of(m->piece) == PAWN && rr >= 6)
        value = 1500;
      else
        value = DELTA_VALUE[ct];
    }
    if (e + value <= a - margin) continue;
    if (!is_safe_move(pos, *m)) continue;
    if (!is_legal(pos, side, move)) continue;

    make_move(pos, move);
    local_pv[ply + 1] = 0;
    v = -search(t, ply + 1, depth - 1, -beta, -a, -node_type, local_pv);
    unmake_move(pos);
    if (search_stopped()) return 0;
    ++ss.move_count;

    if (v <= a) continue;
    pv[ply] = move;
    if (ply + 1 < PV_SIZE) pv[ply + 1] = 0;
    best_move = move;
    if (v >= beta) {
      fail_high = true;
      break;
    }
    if (ply + 1 < PV_SIZE) copy_line(pv, local_pv, ply);
    a = v;
  }
  if (fail_high) {
    if (depth >= 0) tt_store(pos, ply, depth, best_move, v, std::max(alpha, e), beta);
    return v;
  }
  return a;
}

int search_moves(SearchThread& t, int ply, int depth, int alpha, int beta, bool in_check, int node_type, u16* pv) {
  Position& pos = t.pos;
  SearchTables& tb = t.tables;
  SearchStackEntry& ss = tb.stack[ply];
  const SearchStackEntry& parent = tb.stack[ply - 1];
  const SearchParams& sp = g_search_params;
  const int side = pos.side;
  const int alpha_in = alpha;

  pv[ply] = 0;
  const bool pruning = depth <= sp.LMP_depth && !in_check && !ss.iid_active && depth > 0 && node_type != PV_NODE;
  const bool reducing =
      depth >= sp.LMR_depth && ply + depth >= t.iteration_depth.load(std::memory_order_relaxed) / 2;
  const int d8 = std::min(depth, 8);
  const int bonus = 16 * d8, malus = 8 * d8;

  ss.move_count = 0;
  picker_start(t, ply, PICK_HASH | PICK_SEE);

  int best = -SCORE_INF;
  Move best_move = 0;
  int hash_seen = 0;
  u16 local_pv[PV_SIZE];
  const MoveEntry* prev = parent.current_move;
  const MoveEntry* prev2 = ply >= 2 ? tb.stack[ply - 2].current_move : nullptr;
  const int prev_type = prev && prev->move && prev->move != MOVE_END ? type_of(prev->piece) : 0;

  while (MoveEntry* m = next_move(t, ply)) {
    const Move move = m->move;
    if (move == ss.hash_move && move && ++hash_seen > 1) continue;
    if (move == 0 || move == ss.excluded) continue;
    if (!is_legal(pos, side, move)) continue;

    const u16 cls = classify_move(pos, side, *m);
    ss.move_class = cls;
    ss.reduction = 0;
    const int moves_searched = ss.move_count;

    // Move pruning at shallow expected-fail nodes.
    if (pruning && best >= MATE_BOUND_LOW) {
      if ((cls & 63) == 0) {
        int limit = sp.lmp_count[depth] + m->score / 4;
        if (moves_searched < limit) {
          if (!is_safe_move(pos, *m)) continue;
        } else if (!(is_threat_move(pos, *m) && is_safe_move(pos, *m))) {
          continue;
        }
      } else if (depth <= 1 && !(cls & CLASS_DISCOVERED) && !is_safe_move(pos, *m)) {
        continue;
      }
    }

    // Late-move reduction.
    int r = 0;
    if (reducing) {
      r = sp.lmr_table[node_type != PV_NODE ? LMR_NON_PV : LMR_PV][std::min(depth, 31)][std::min(moves_searched, 31)];
      bool safe = true;
      bool safe_known = false;
      auto safe_move = [&]() {
        if (!safe_known) {
          safe = is_safe_move(pos, *m);
          safe_known = true;
        }
        return safe;
      };
      if (r == 0) {
        r = safe_move() ? 0 : 1;
      } else {
        if (m->score > 31 || r <= parent.reduction) --r;
        // A quiet move whose history fell to half the start value has
        // failed here often: reduce it one ply more.
        if ((cls & 63) == 0 && m->score < 4) ++r;
        if (!safe_move()) ++r;
        if (r > 2 && (cls & 63)) r = (cls & CLASS_CAPTURE) ? 2 : 3;
      }
      r = std::min(r, std::min(depth, 31) - 1);
      if (r < 0) r = 0;
      ss.reduction = i8(r);
    }

    ss.current_move = m;
    const int new_depth = depth - 1 + (move == ss.hash_move ? ss.singular : 0);
    make_move(pos, move);
    local_pv[ply + 1] = 0;
    int v;
    if (best >= ply - 9989 && depth > 1) {
      ss.research = 1;
      v = -search(t, ply + 1, new_depth - r, -alpha - 1, -alpha, CUT_NODE, local_pv);
      if (v > alpha && !search_stopped()) {
        ss.reduction = 0;
        ss.research = 2;
        v = -search(t, ply + 1, new_depth, -beta, -alpha, -node_type, local_pv);
      }
      ss.research = 0;
    } else {
      v = -search(t, ply + 1, new_depth, -beta, -alpha, -node_type, local_pv);
    }
    unmake_move(pos);
    if (search_stopped()) return 0;
    ++ss.move_count;

    // History, killers, counter and follow-up moves.
    if (!(cls & CLASS_CAPTURE) && depth > 0) {
      i16& h1 = tb.history[0][m->piece][move_to(move)];
      i16& h2 = tb.history[prev_type][m->piece][move_to(move)];
      if (v > alpha) {
        history_reward(h1, bonus);
        if (prev_type) history_reward(h2, bonus);
        if (!in_check) {
          if (move != ss.killer[0]) {
            ss.killer[1] = ss.killer[0];
            ss.killer[0] = move;
          }
        } else {
          ss.evasion_killer = move;
        }
        if (prev && prev->move && prev->move != MOVE_END) {
          u16* cm = tb.counter_move[0][prev->piece] + move_to(prev->move);
          if (move != *cm) {
            tb.counter_move[1][prev->piece][move_to(prev->move)] = *cm;
            *cm = move;
          }
          if (prev2 && prev2->move && prev2->move != MOVE_END) tb.follow_up_move[prev2->piece][move_to(prev2->move)] = move;
        }
      } else {
        history_penalty(h1, malus);
        if (prev_type) history_penalty(h2, malus);
      }
    }

    if (v > best) {
      best = v;
      best_move = move;
      pv[ply] = move;
      if (ply + 1 < PV_SIZE) pv[ply + 1] = 0;
      if (v > alpha) {
        if (v >= beta) break;
        alpha = v;
        if (ply + 1 < PV_SIZE) copy_line(pv, local_pv, ply);
      }
    }
  }

  if (ss.excluded) return best_move ? best : alpha_in;
  if (best_move == 0) {
    int score = in_check ? ply - MATE_SCORE : 0;
    tt_store(pos, ply, depth, 0, score, -SCORE_INF, SCORE_INF);
    return score;
  }
  if (depth >= 0) tt_store(pos, ply, depth, best_move, best, alpha_in, beta);
  return best;
}

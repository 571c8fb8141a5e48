#include "search/picker.h"

#include "board/movegen.h"
#include "board/see.h"
#include "search/thread.h"

namespace {

inline int victim_attacker(const MoveEntry& e) { return VICTIM_VALUE[type_of(e.captured)] - type_of(e.piece); }

inline MoveEntry* terminate(MoveEntry* end) {
  end->move = MOVE_END;
  end->score = 0;
  end->piece = end->captured = 0;
  return end;
}

// Puts the best-scored entry from `cur` on into `cur` (first of equals); null when empty.
inline MoveEntry* select_best(MoveEntry* cur) {
  if (cur->move == MOVE_END) return nullptr;
  MoveEntry* best = cur;
  for (MoveEntry* e = cur + 1; e->move != MOVE_END; ++e)
    if (e->score > best->score) best = e;
  if (best != cur) {
    MoveEntry tmp = *cur;
    *cur = *best;
    *best = tmp;
  }
  return cur;
}

void score_capture_by_see(Position& pos, MoveEntry& e) {
  if (e.move & PROMO_MASK) {
    e.score = 15;
    return;
  }
  if (type_of(e.captured) == KING) {
    e.score = i16(victim_attacker(e));
    return;
  }
  int g = capture_gain(pos, e);
  if (g >= -49)
    e.score = i16(victim_attacker(e) - (g < 50 ? 6 : 0));
  else
    e.score = i16(type_of(e.captured) + 4);
}

int history_score(const SearchThread& t, int ply, const MoveEntry& e) {
  const SearchTables& tb = t.tables;
  int ctx = 0;
  if (ply >= 2 && tb.stack[ply - 1].current_move) ctx = type_of(tb.stack[ply - 1].current_move->piece);
  int piece = e.piece, to = move_to(e.move);
  return (tb.history[ctx][piece][to] / 256 + tb.history[0][piece][to] / 256) / 2;
}

void score_quiets(SearchThread& t, int ply, MoveEntry* begin) {
  SearchTables& tb = t.tables;
  const SearchStackEntry& ss = tb.stack[ply];
  Move cm1 = 0, cm2 = 0, fm = 0;
  const MoveEntry* prev = ply >= 1 ? tb.stack[ply - 1].current_move : nullptr;
  if (prev && prev->move && prev->move != MOVE_END) {
    cm1 = tb.counter_move[0][prev->piece][move_to(prev->move)];
    cm2 = tb.counter_move[1][prev->piece][move_to(prev->move)];
  }
  const MoveEntry* prev2 = ply >= 2 ? tb.stack[ply - 2].current_move : nullptr;
  if (prev2 && prev2->move && prev2->move != MOVE_END) fm = tb.follow_up_move[prev2->piece][move_to(prev2->move)];
  for (MoveEntry* e = begin; e->move != MOVE_END; ++e) {
    int s = history_score(t, ply, *e);
    Move m = e->move;
    if (ss.in_check) {
      if (m == ss.evasion_killer) s += 60;
      else if (m == cm1) s += 55;
      else if (m == cm2) s += 50;
    } else {
      if (m == ss.killer[0]) s += 60;
      else if (m == ss.killer[1]) s += 55;
      else if (m == cm1) s += 50;
      else if (m == cm2) s += 45;
      else if (m == fm) s += 40;
    }
    e->score = i16(s);
  }
}

inline MoveEntry* add_quiet(MoveEntry* list, const Position& pos, int from, int to) {
  list->move = make_move_code(from, to);
  list->score = 100;
  list->piece = pos.board[from];
  list->captured = 0;
  return list + 1;
}

// Quiet checks (pawn, knight and slider steps onto checking squares) and
// pushes to the seventh rank, for the first quiescence ply.
MoveEntry* gen_quiet_checks(const Position& pos, MoveEntry* list) {
  const int s = pos.side, k = pos.king_square[s ^ 1];
  const Bitboard occ = pos.occupied(), empty = ~occ;
  const Bitboard* p = pos.pieces[s];
  const int push = PUSH_DIR[s];
  const Bitboard pawn_targets = pawn_attacks(s ^ 1, k) & empty;
  for (Bitboard b = pawn_targets; b;) {
    int to = pop_lsb(b);
    int from = to - push;
    if (from >= 0 && from < 64 && pos.board[from] == make_piece(s, PAWN)) list = add_quiet(list, pos, from, to);
  }
  const Bitboard second = s == WHITE ? 0xFF00ULL : 0x00FF000000000000ULL;
  for (Bitboard b = pawn_targets; b;) {
    int to = pop_lsb(b);
    int mid = to - push, from = to - 2 * push;
    if (from < 0 || from >= 64) continue;
    if ((bit(from) & second) && pos.board[from] == make_piece(s, PAWN) && !pos.board[mid])
      list = add_quiet(list, pos, from, to);
  }
  for (Bitboard b = p[KNIGHT]; b;) {
    int from = pop_lsb(b);
    for (Bitboard t = knight_attacks(from) & knight_attacks(k) & empty; t;) list = add_quiet(list, pos, from, pop_lsb(t));
  }
  const Bitboard diag_checks = bishop_attacks(k, occ) & empty;
  const Bitboard line_checks = rook_attacks(k, occ) & empty;
  if (pos.material_signature[s] & 0xF0F00) {  // bishops or queens
    for (Bitboard b = p[BISHOP]; b;) {
      int from = pop_lsb(b);
      for (Bitboard t = bishop_attacks(from, occ) & diag_checks; t;) list = add_quiet(list, pos, from, pop_lsb(t));
    }
  }
  if (pos.material_signature[s] & 0xFF000) {  // rooks or queens
    for (Bitboard b = p[ROOK]; b;) {
      int from = pop_lsb(b);
      for (Bitboard t = rook_attacks(from, occ) & line_checks; t;) list = add_quiet(list, pos, from, pop_lsb(t));
    }
  }
  for (Bitboard b = p[QUEEN]; b;) {
    int from = pop_lsb(b);
    for (Bitboard t = queen_attacks(from, occ) & (diag_checks | line_checks); t;)
      list = add_quiet(list, pos, from, pop_lsb(t));
  }
  // Pawns on the sixth rank step to the seventh, checking or not; a push that
  // was already listed as a check is not repeated.
  const Bitboard sixth = s == WHITE ? 0x0000FF0000000000ULL : 0x0000000000FF0000ULL;
  for (Bitboard b = p[PAWN] & sixth; b;) {
    int from = pop_lsb(b), to = from + push;
    if (pos.board[to] || (pawn_targets & bit(to))) continue;
    list = add_quiet(list, pos, from, to);
  }
  return list;
}

}  // namespace

int capture_gain(Position& pos, const MoveEntry& e) {
  const int from = move_from(e.move), to = move_to(e.move);
  const int side = colour_of(e.piece);
  int g = SEE_VALUE[type_of(e.captured)];
  // Put the mover on the destination and let the opponent recapture.
  const u8 victim = pos.board[to];
  pos.board[to] = e.piece;
  pos.board[from] = 0;
  pos.pieces[side][type_of(e.piece)] ^= bit(from);
  Bitboard occ = pos.occupied() & ~bit(from);
  int r = see_swap(pos, side ^ 1, NO_SQUARE, to, occ, true);
  pos.pieces[side][type_of(e.piece)] ^= bit(from);
  pos.board[from] = e.piece;
  pos.board[to] = victim;
  if (r >= 0) g -= r;
  return g;
}

void picker_start(SearchThread& t, int ply, u16 options) {
  SearchStackEntry& ss = t.tables.stack[ply];
  ss.picker_stage = options | STAGE_HASH_MOVE;
  ss.current_move = nullptr;
}

MoveEntry* next_move(SearchThread& t, int ply) {
  SearchTables& tb = t.tables;
  SearchStackEntry& ss = tb.stack[ply];
  Position& pos = t.pos;
  const u16 options = ss.picker_stage & ~PICK_STAGE_MASK;
  MoveEntry* cur = ss.current_move ? ss.current_move + 1 : ss.move_list;

  for (;;) {
    switch (ss.picker_stage & PICK_STAGE_MASK) {
      case STAGE_HASH_MOVE: {
        cur = ss.move_list;
        if ((options & PICK_HASH) && ss.hash_move) {
          MoveEntry* e = cur;
          e->move = ss.hash_move;
          e->score = 255;
          e->piece = pos.board[move_from(ss.hash_move)];
          // Castling written as the king taking its own rook captures nothing.
          const u8 victim = pos.board[move_to(ss.hash_move)];
          e->captured = victim && colour_of(victim) != pos.side ? victim : 0;
          terminate(e + 1);
          tb.stack[ply + 1].move_list = e + 2;
          ss.picker_stage = options | STAGE_GENERATE;
          ss.current_move = e;
          return e;
        }
        ss.picker_stage = options | STAGE_GENERATE;
        [[fallthrough]];
      }
      case STAGE_GENERATE: {
        MoveEntry* end = gen_captures(pos, pos.side, cur, ss.checker_square);
        end = gen_promotions(pos, pos.side, end, (options & PICK_SEE) != 0);
        terminate(end);
        tb.stack[ply + 1].move_list = end + 1;
        if (options & PICK_SEE) {
          for (MoveEntry* e = cur; e < end; ++e) score_capture_by_see(pos, *e);
          ss.picker_stage = options | STAGE_GOOD_CAPTURES;
        } else {
          for (MoveEntry* e = cur; e < end; ++e) e->score = i16(victim_attacker(*e));
          ss.picker_stage = options | STAGE_CAPTURES;
        }
        continue;
      }
      case STAGE_CAPTURES: {
        MoveEntry* e = select_best(cur);
        if (e) {
          ss.current_move = e;
          return e;
        }
        ss.picker_stage = options | STAGE_QUIET_CHECKS;
        [[fallthrough]];
      }
      case STAGE_QUIET_CHECKS: {
        if (!(options & PICK_CHECKS)) {
          ss.current_move = cur - 1;  // stays on the end marker
          return nullptr;
        }
        MoveEntry* end = gen_quiet_checks(pos, cur);
        terminate(end);
        tb.stack[ply + 1].move_list = end + 1;
        ss.picker_stage = options | STAGE_REST;
        continue;
      }
      case STAGE_GOOD_CAPTURES: {
        MoveEntry* e = select_best(cur);
        if (e && e->score > 150) {
          ss.current_move = e;
          return e;
        }
        // Only losing captures and promotions remain: quiet moves join them.
        MoveEntry* end = cur;
        while (end->move != MOVE_END) ++end;
        MoveEntry* quiet_end = gen_quiets(pos, pos.side, end, ss.checker_square);
        terminate(quiet_end);
        tb.stack[ply + 1].move_list = quiet_end + 1;
        score_quiets(t, ply, end);
        ss.picker_stage = options | STAGE_QUIETS;
        continue;
      }
      case STAGE_QUIETS: {
        MoveEntry* e = select_best(cur);
        if (e && e->score > 2) {
          ss.current_move = e;
          return e;
        }
        ss.picker_stage = options | STAGE_REST;
        continue;
      }
      case STAGE_REST: {
        if (cur->move == MOVE_END) {
          ss.current_move = cur - 1;
          return nullptr;
        }
        ss.current_move = cur;
        return cur;
      }
      default:
        return nullptr;
    }
  }
}

void score_root_moves(SearchThread& t, MoveEntry* list) {
  Position& pos = t.pos;
  for (MoveEntry* e = list; e->move != MOVE_END; ++e) {
    bool capture_like = e->captured || (e->move & PROMO_QUEEN);
    if (capture_like) {
      e->score = i16(victim_attacker(*e));
      if (type_of(e->captured) != KING && capture_gain(pos, *e) < -50) e->score = i16(type_of(e->captured) + 4);
    } else {
      e->score = i16(history_score(t, 1, *e));
    }
  }
}

void reset_move_ordering(SearchTables& t) {
  for (auto& s : t.stack) {
    s.killer[0] = s.killer[1] = 0;
    s.evasion_killer = 0;
    s.hash_move = 0;
  }
  for (auto& a : t.counter_move)
    for (auto& b : a)
      for (auto& c : b) c = 0;
  for (auto& a : t.follow_up_move)
    for (auto& b : a) b = 0;
  for (auto& a : t.history)
    for (auto& b : a)
      for (auto& c : b) c = 2048;
}

namespace {
u64 perft_node(SearchThread& t, int ply, int depth) {
  Position& pos = t.pos;
  SearchStackEntry& ss = t.tables.stack[ply];
  ss.checker_square = u8(least_attacker(pos, pos.king_square[pos.side], pos.side ^ 1, pos.occupied()));
  ss.hash_move = 0;
  ss.in_check = ss.checker_square != NO_SQUARE;
  picker_start(t, ply, PICK_SEE);
  u64 nodes = 0;
  while (MoveEntry* e = next_move(t, ply)) {
    if (!e->move || !is_legal(pos, pos.side, e->move)) continue;
    if (depth == 1) {
      ++nodes;
    } else {
      make_move(pos, e->move);
      nodes += perft_node(t, ply + 1, depth - 1);
      unmake_move(pos);
    }
  }
  return nodes;
}
}  // namespace

u64 perft_picker(SearchThread& t, int depth) {
  if (depth <= 0) return 1;
  SearchTables& tb = t.tables;
  tb.stack[0].current_move = nullptr;
  tb.stack[1].move_list = tb.move_buffer;
  // Deep perft lines run past the search stack: keep to what it holds.
  if (depth > STACK_SIZE - 3) depth = STACK_SIZE - 3;
  return perft_node(t, 1, depth);
}

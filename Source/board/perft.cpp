#include "board/perft.h"

#include "board/movegen.h"
#include "board/see.h"

namespace {

constexpr Bitboard LAST_RANK[2] = {RANK_8, RANK_1};
constexpr Bitboard THIRD_RANK[2] = {0x0000000000FF0000ULL, 0x0000FF0000000000ULL};

inline Bitboard shift(Bitboard b, int delta) { return delta > 0 ? b << delta : b >> -delta; }

inline bool attacked(const Position& pos, int sq, int enemy, Bitboard occ) {
  const Bitboard* p = pos.pieces[enemy];
  return (pawn_attacks(enemy ^ 1, sq) & p[PAWN]) || (knight_attacks(sq) & p[KNIGHT]) ||
         (king_attacks(sq) & p[KING]) || (bishop_attacks(sq, occ) & (p[BISHOP] | p[QUEEN])) ||
         (rook_attacks(sq, occ) & (p[ROOK] | p[QUEEN]));
}

// Either counts moves or writes them out; the generator below is written once
// for both so the counting path cannot drift from the listing path.
template <bool kCount>
struct Sink {
  Move* out;
  int n = 0;

  void add(int from, Bitboard dests) {
    if constexpr (kCount) {
      n += popcount(dests);
    } else {
      while (dests) out[n++] = make_move_code(from, pop_lsb(dests));
    }
  }
  // Pawn destinations whose origin is destination - delta.
  void add_shifted(Bitboard dests, int delta, bool promoting) {
    if constexpr (kCount) {
      n += popcount(dests) * (promoting ? 4 : 1);
    } else {
      while (dests) {
        const int to = pop_lsb(dests);
        add_one(to - delta, to, promoting);
      }
    }
  }
  void add_castle(Move m) {
    if constexpr (kCount) {
      ++n;
    } else {
      out[n++] = m;
    }
  }
  void add_one(int from, int to, bool promoting) {
    if constexpr (kCount) {
      n += promoting ? 4 : 1;
    } else {
      const Move m = make_move_code(from, to);
      if (promoting) {
        out[n++] = Move(m | PROMO_QUEEN);
        out[n++] = Move(m | PROMO_KNIGHT);
        out[n++] = Move(m | PROMO_BISHOP);
        out[n++] = Move(m | PROMO_ROOK);
      } else {
        out[n++] = m;
      }
    }
  }
};

template <bool kCount>
int legal_moves(const Position& pos, Move* out) {
  Sink<kCount> sink{out};
  const int us = pos.side, them = us ^ 1;
  const int k = pos.king_square[us];
  const Bitboard* mine = pos.pieces[us];
  const Bitboard* theirs = pos.pieces[them];
  const Bitboard own = mine[0], enemies = theirs[0];
  const Bitboard occ = own | enemies;

  // King moves: the king itself must not shield a square from a slider.
  const Bitboard occ_without_king = occ ^ bit(k);
  for (Bitboard t = king_attacks(k) & ~own; t;) {
    const int to = pop_lsb(t);
    if (!attacked(pos, to, them, occ_without_king)) sink.add_one(k, to, false);
  }

  const Bitboard checkers = (pawn_attacks(us, k) & theirs[PAWN]) | (knight_attacks(k) & theirs[KNIGHT]) |
                            (bishop_attacks(k, occ) & (theirs[BISHOP] | theirs[QUEEN])) |
                            (rook_attacks(k, occ) & (theirs[ROOK] | theirs[QUEEN]));
  if (checkers & (checkers - 1)) return sink.n;  // double check: only the king may move

  // Squares any other piece may move to: anywhere not our own, or in check the
  // checker and the squares between it and the king.
  Bitboard target = ~own;
  if (checkers) target = checkers | between(lsb(checkers), k);

  // A piece alone between the king and an enemy slider may only move along
  // that line (capturing the slider included).
  Bitboard pinned = 0;
  Bitboard pin_line[64];
  Bitboard snipers = (rook_attacks(k, enemies) & (theirs[ROOK] | theirs[QUEEN])) |
                     (bishop_attacks(k, enemies) & (theirs[BISHOP] | theirs[QUEEN]));
  while (snipers) {
    const int s = pop_lsb(snipers);
    const Bitboard line = between(s, k);
    const Bitboard blockers = line & occ;
    if (blockers && !(blockers & (blockers - 1)) && (blockers & own)) {
      pinned |= blockers;
      pin_line[lsb(blockers)] = line | bit(s);
    }
  }

  // Pawns: the unpinned ones as whole sets, the pinned ones one by one.
  const int push = PUSH_DIR[us];
  const int toward_a = us == WHITE ? 7 : -9;
  const int toward_h = us == WHITE ? 9 : -7;
  const Bitboard empty = ~occ;
  const Bitboard last = LAST_RANK[us];
  const Bitboard pawns = mine[PAWN] & ~pinned;
  {
    const Bitboard single = shift(pawns, push) & empty;
    const Bitboard dbl = shift(single & THIRD_RANK[us], push) & empty & target;
    const Bitboard pushes = single & target;
    const Bitboard left = shift(pawns & ~FILE_A, toward_a) & enemies & target;
    const Bitboard right = shift(pawns & ~FILE_H, toward_h) & enemies & target;
    sink.add_shifted(left & ~last, toward_a, false);
    sink.add_shifted(right & ~last, toward_h, false);
    sink.add_shifted(left & last, toward_a, true);
    sink.add_shifted(right & last, toward_h, true);
    sink.add_shifted(pushes & ~last, push, false);
    sink.add_shifted(pushes & last, push, true);
    sink.add_shifted(dbl, 2 * push, false);
  }
  for (Bitboard b = mine[PAWN] & pinned; b;) {
    const int from = pop_lsb(b);
    Bitboard dests = pawn_attacks(us, from) & enemies;
    const int front = from + push;
    if (!(occ & bit(front))) {
      dests |= bit(front);
      if ((bit(front) & THIRD_RANK[us]) && !(occ & bit(front + push))) dests |= bit(front + push);
    }
    for (dests &= target & pin_line[from]; dests;) {
      const int to = pop_lsb(dests);
      sink.add_one(from, to, (bit(to) & last) != 0);
    }
  }
  // En passant can uncover a check along the rank through two pawns at once;
  // it is rare enough to leave to the full legality test.
  if (pos.ep_square != NO_SQUARE && pos.board[pos.ep_square - push] == make_piece(them, PAWN)) {
    for (Bitboard b = pawn_attacks(them, pos.ep_square) & mine[PAWN]; b;) {
      const int from = pop_lsb(b);
      if (is_legal(pos, us, make_move_code(from, pos.ep_square))) sink.add_one(from, pos.ep_square, false);
    }
  }

  // A pinned knight can never stay on its line.
  for (Bitboard b = mine[KNIGHT] & ~pinned; b;) {
    const int from = pop_lsb(b);
    sink.add(from, knight_attacks(from) & target);
  }
  for (Bitboard b = mine[BISHOP] | mine[QUEEN]; b;) {
    const int from = pop_lsb(b);
    Bitboard dests = bishop_attacks(from, occ) & target;
    if (pinned & bit(from)) dests &= pin_line[from];
    sink.add(from, dests);
  }
  for (Bitboard b = mine[ROOK] | mine[QUEEN]; b;) {
    const int from = pop_lsb(b);
    Bitboard dests = rook_attacks(from, occ) & target;
    if (pinned & bit(from)) dests &= pin_line[from];
    sink.add(from, dests);
  }

  // Castling: out of check, the path of king and rook empty, and no square
  // the king crosses or lands on attacked.
  if (!checkers && (pos.castle_rights & (3 << (2 * us)))) {
    for (int r = 2 * us; r < 2 * us + 2; ++r) {
      if (!(pos.castle_rights & (1 << r)) || (occ & pos.castle_path[r])) continue;
      // The rook leaves its square: it shields nothing on the king's way.
      const Bitboard occ_after = occ & ~bit(pos.castle_rook[r]);
      bool safe = true;
      for (Bitboard b = pos.castle_king_path[r]; b && safe;) safe = !attacked(pos, pop_lsb(b), them, occ_after);
      if (safe) sink.add_castle(pos.castle_move[r]);
    }
  }
  return sink.n;
}

// Polls the stop callback once per POLL_INTERVAL nodes above the leaves: well
// under a millisecond apart, and counting interior nodes too keeps the gaps
// short in trees where many lines end in mate before the last ply.
constexpr u32 POLL_INTERVAL = 4096;

struct Counter {
  PerftStop should_stop;
  u32 until_poll = POLL_INTERVAL;
  bool stopped = false;

  u64 count(Position& pos, int depth) {
    if (should_stop && --until_poll == 0) {
      until_poll = POLL_INTERVAL;
      if (should_stop()) stopped = true;
    }
    if (depth == 1) return u64(count_legal(pos));
    Move moves[MAX_MOVES];
    const int n = gen_legal_fast(pos, moves);
    u64 nodes = 0;
    for (int i = 0; i < n && !stopped; ++i) {
      make_move(pos, moves[i]);
      nodes += count(pos, depth - 1);
      unmake_move(pos);
    }
    return nodes;
  }
};

}  // namespace

int gen_legal_fast(const Position& pos, Move* out) { return legal_moves<false>(pos, out); }
int count_legal(const Position& pos) { return legal_moves<true>(pos, nullptr); }

u64 perft_divide(Position& pos, int depth, const PerftDivideHook& per_move, PerftStop should_stop,
                 bool* stopped) {
  if (stopped) *stopped = false;
  if (depth <= 0) return 1;
  // The generator needs the side to move to have a king; set-up positions
  // without one go through the pseudo-legal count.
  if (!pos.pieces[pos.side][KING]) return perft(pos, depth);
  Counter counter{should_stop};
  Move moves[MAX_MOVES];
  const int n = gen_legal_fast(pos, moves);
  u64 total = 0;
  for (int i = 0; i < n; ++i) {
    u64 nodes = 1;
    if (depth > 1) {
      make_move(pos, moves[i]);
      nodes = counter.count(pos, depth - 1);
      unmake_move(pos);
    }
    if (counter.stopped) break;
    total += nodes;
    if (per_move) per_move(moves[i], nodes);
  }
  if (stopped) *stopped = counter.stopped;
  return total;
}

u64 perft_fast(Position& pos, int depth, PerftStop should_stop, bool* stopped) {
  if (stopped) *stopped = false;
  if (depth <= 0) return 1;
  if (!pos.pieces[pos.side][KING]) return perft(pos, depth);
  Counter counter{should_stop};
  const u64 nodes = counter.count(pos, depth);
  if (stopped) *stopped = counter.stopped;
  return nodes;
}

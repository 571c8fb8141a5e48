#include "board/see.h"

#include "board/movegen.h"

int least_attacker(const Position& pos, int s, int c, Bitboard occ) {
  const Bitboard* p = pos.pieces[c];
  Bitboard b = pawn_attacks(c ^ 1, s) & p[PAWN];
  if (b) return lsb(b);
  b = knight_attacks(s) & p[KNIGHT];
  if (b) return lsb(b);
  // Sliders in ascending order: the lowest one with a clear line answers.
  b = bishop_attacks(s, occ) & p[BISHOP];
  if (b) return lsb(b);
  b = rook_attacks(s, occ) & p[ROOK];
  if (b) return lsb(b);
  b = queen_attacks(s, occ) & p[QUEEN];
  if (b) return lsb(b);
  if (king_attacks(s) & p[KING]) return pos.king_square[c];
  return NO_SQUARE;
}

int see_swap(Position& pos, int c, int from, int s, Bitboard occ, bool may_stop) {
  if (from == NO_SQUARE) {
    from = least_attacker(pos, s, c, occ);
    if (from == NO_SQUARE) return 0;
  }
  const int victim = pos.board[s];
  if (type_of(victim) == KING) return 9999;
  int gain = SEE_VALUE[type_of(victim)];

  const int mover = pos.board[from];
  pos.board[s] = u8(mover);
  pos.board[from] = 0;
  pos.pieces[c][type_of(mover)] ^= bit(from);
  int reply = see_swap(pos, c ^ 1, NO_SQUARE, s, occ & ~bit(from), true);
  pos.pieces[c][type_of(mover)] ^= bit(from);
  pos.board[from] = u8(mover);
  pos.board[s] = u8(victim);

  int value = gain - reply;
  return (value >= 0 || !may_stop) ? value : 0;
}

namespace {
u64 perft_rec(Position& pos, int depth) {
  MoveEntry list[MAX_MOVES];
  MoveEntry* end = gen_all(pos, list);
  u64 nodes = 0;
  const int side = pos.side;
  // Out of check, a move by a piece that does not share a line with its own
  // king cannot expose the king; only the rest needs the full legality test.
  const int king = pos.king_square[side];
  const Bitboard lines = in_check(pos) ? ~Bitboard(0) : (rook_rays(king) | bishop_rays(king) | bit(king));
  for (MoveEntry* e = list; e < end; ++e) {
    const int from = move_from(e->move);
    const bool en_passant = move_to(e->move) == pos.ep_square && type_of(e->piece) == PAWN;
    if (((lines & bit(from)) || en_passant) && !is_legal(pos, side, e->move)) continue;
    if (depth == 1) {
      ++nodes;
    } else {
      make_move(pos, e->move);
      nodes += perft_rec(pos, depth - 1);
      unmake_move(pos);
    }
  }
  return nodes;
}
}  // namespace

u64 perft(Position& pos, int depth) { return depth <= 0 ? 1 : perft_rec(pos, depth); }

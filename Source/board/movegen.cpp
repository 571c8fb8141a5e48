#include "board/movegen.h"

namespace {

constexpr Bitboard PAWN_TARGET_RANKS = 0x00FFFFFFFFFFFF00ULL;
constexpr Bitboard SECOND_RANK[2] = {0x000000000000FF00ULL, 0x00FF000000000000ULL};

inline MoveEntry* add(MoveEntry* list, const Position& pos, int from, int to, Move flags = 0) {
  list->move = Move(make_move_code(from, to) | flags);
  list->score = 0;
  list->piece = pos.board[from];
  list->captured = pos.board[to];
  return list + 1;
}

// Pawn moves found by shifting the whole pawn set: origin = destination - delta.
inline MoveEntry* add_shifted(MoveEntry* list, const Position& pos, Bitboard dests, int delta) {
  while (dests) {
    int to = pop_lsb(dests);
    list = add(list, pos, to - delta, to);
  }
  return list;
}

inline Bitboard shift(Bitboard b, int delta) { return delta > 0 ? b << delta : b >> -delta; }

// Knights, bishops, rooks, queens in that order, origins and destinations ascending.
inline MoveEntry* piece_moves(MoveEntry* list, const Position& pos, int colour, Bitboard targets) {
  const Bitboard occ = pos.occupied();
  for (Bitboard b = pos.pieces[colour][KNIGHT]; b;) {
    int from = pop_lsb(b);
    for (Bitboard t = knight_attacks(from) & targets; t;) list = add(list, pos, from, pop_lsb(t));
  }
  for (Bitboard b = pos.pieces[colour][BISHOP]; b;) {
    int from = pop_lsb(b);
    for (Bitboard t = bishop_attacks(from, occ) & targets; t;) list = add(list, pos, from, pop_lsb(t));
  }
  for (Bitboard b = pos.pieces[colour][ROOK]; b;) {
    int from = pop_lsb(b);
    for (Bitboard t = rook_attacks(from, occ) & targets; t;) list = add(list, pos, from, pop_lsb(t));
  }
  for (Bitboard b = pos.pieces[colour][QUEEN]; b;) {
    int from = pop_lsb(b);
    for (Bitboard t = queen_attacks(from, occ) & targets; t;) list = add(list, pos, from, pop_lsb(t));
  }
  return list;
}

// Whether colour's pieces (minus the squares in `removed`) attack sq through occ.
inline bool attacked_through(const Position& pos, int sq, int colour, Bitboard occ, Bitboard removed) {
  const Bitboard* p = pos.pieces[colour];
  Bitboard keep = ~removed;
  if (pawn_attacks(colour ^ 1, sq) & p[PAWN] & keep) return true;
  if (knight_attacks(sq) & p[KNIGHT] & keep) return true;
  if (king_attacks(sq) & p[KING]) return true;
  Bitboard diag = (p[BISHOP] | p[QUEEN]) & keep;
  if ((bishop_rays(sq) & diag) && (bishop_attacks(sq, occ) & diag)) return true;
  Bitboard orth = (p[ROOK] | p[QUEEN]) & keep;
  if ((rook_rays(sq) & orth) && (rook_attacks(sq, occ) & orth)) return true;
  return false;
}

// The castled rook checking is a direct check; a slider uncovered by the king
// leaving its square, a discovered one.
int castle_gives_check(const Position& pos, int colour, int r, int k) {
  const int ks = move_from(pos.castle_move[r]), rs = pos.castle_rook[r];
  const int kt = castle_king_target(r), rt = castle_rook_target(r);
  const Bitboard occ = (pos.occupied() & ~(bit(ks) | bit(rs))) | bit(kt) | bit(rt);
  if (rook_attacks(k, occ) & bit(rt)) return 1;
  const Bitboard* p = pos.pieces[colour];
  const Bitboard orth = (p[ROOK] & ~bit(rs)) | p[QUEEN];
  if ((rook_attacks(k, occ) & orth) || (bishop_attacks(k, occ) & (p[BISHOP] | p[QUEEN]))) return 2;
  return 0;
}

}  // namespace

MoveEntry* gen_captures(const Position& pos, int colour, MoveEntry* list, int checker) {
  const int enemy = colour ^ 1;
  Bitboard targets = checker == NO_SQUARE ? pos.pieces[enemy][0] : bit(checker);
  Bitboard pawn_targets = targets;
  if (pos.ep_square != NO_SQUARE) pawn_targets |= bit(pos.ep_square);
  pawn_targets &= PAWN_TARGET_RANKS;

  const Bitboard pawns = pos.pieces[colour][PAWN];
  const int toward_a = colour == WHITE ? 7 : -9;
  const int toward_h = colour == WHITE ? 9 : -7;
  list = add_shifted(list, pos, shift(pawns & ~FILE_A, toward_a) & pawn_targets, toward_a);
  list = add_shifted(list, pos, shift(pawns & ~FILE_H, toward_h) & pawn_targets, toward_h);

  list = piece_moves(list, pos, colour, targets);

  const int k = pos.king_square[colour];
  if (pos.pieces[colour][KING])
    for (Bitboard t = king_attacks(k) & pos.pieces[enemy][0]; t;) list = add(list, pos, k, pop_lsb(t));
  return list;
}

MoveEntry* gen_quiets(const Position& pos, int colour, MoveEntry* list, int checker) {
  const Bitboard empty = ~pos.occupied();
  const int k = pos.king_square[colour];
  Bitboard targets = empty;
  if (checker != NO_SQUARE) targets &= between(checker, k);
  const Bitboard pawn_targets = targets & PAWN_TARGET_RANKS;

  const int push = PUSH_DIR[colour];
  const Bitboard pawns = pos.pieces[colour][PAWN];
  list = add_shifted(list, pos, shift(pawns, push) & pawn_targets, push);
  Bitboard first_step = shift(pawns & SECOND_RANK[colour], push) & empty;
  list = add_shifted(list, pos, shift(first_step, push) & targets, 2 * push);

  list = piece_moves(list, pos, colour, targets);

  if (!pos.pieces[colour][KING]) return list;
  for (Bitboard t = king_attacks(k) & empty; t;) list = add(list, pos, k, pop_lsb(t));

  if (pos.castle_rights & (3 << (2 * colour))) {
    const Bitboard occ = pos.occupied();
    for (int r = 2 * colour; r < 2 * colour + 2; ++r) {
      if (!(pos.castle_rights & (1 << r)) || (occ & pos.castle_path[r])) continue;
      // Written by hand: the destination may hold the castling rook, which is no capture.
      list->move = pos.castle_move[r];
      list->score = 0;
      list->piece = u8(make_piece(colour, KING));
      list->captured = 0;
      ++list;
    }
  }
  return list;
}

MoveEntry* gen_promotions(const Position& pos, int colour, MoveEntry* list, bool all) {
  const int enemy = colour ^ 1;
  const int push = PUSH_DIR[colour];
  const Bitboard enemies = pos.pieces[enemy][0];
  const Bitboard occ = pos.occupied();
  for (Bitboard b = pos.pieces[colour][PAWN] & SEVENTH_RANK[colour]; b;) {
    int from = pop_lsb(b);
    int dests[3];
    int n = 0;
    int front = from + push;
    if (!(occ & bit(front))) dests[n++] = front;
    if (file_of(from) != 0 && (enemies & bit(front - 1))) dests[n++] = front - 1;
    if (file_of(from) != 7 && (enemies & bit(front + 1))) dests[n++] = front + 1;
    for (int i = 0; i < n; ++i) {
      list = add(list, pos, from, dests[i], PROMO_QUEEN);
      if (all) {
        list = add(list, pos, from, dests[i], PROMO_KNIGHT);
        list = add(list, pos, from, dests[i], PROMO_BISHOP);
        list = add(list, pos, from, dests[i], PROMO_ROOK);
      }
    }
  }
  return list;
}

MoveEntry* gen_all(const Position& pos, MoveEntry* list) {
  list = gen_captures(pos, pos.side, list, NO_SQUARE);
  list = gen_promotions(pos, pos.side, list, true);
  list = gen_quiets(pos, pos.side, list, NO_SQUARE);
  list->move = MOVE_END;
  list->score = 0;
  list->piece = list->captured = 0;
  return list;
}

bool is_legal(const Position& pos, int colour, Move move) {
  const int from = move_from(move), to = move_to(move);
  const int king = pos.king_square[colour];
  const int enemy = colour ^ 1;
  if (from == king) {
    const int r = castle_index(pos, colour, move);
    if (r >= 0) return castle_is_safe(pos, r);
  }
  Bitboard removed = pos.board[to] ? bit(to) : 0;
  if (to == pos.ep_square && type_of(pos.board[from]) == PAWN) removed = bit(to - PUSH_DIR[colour]);
  Bitboard occ = ((pos.pieces[colour][0] ^ bit(from)) | bit(to)) | (pos.pieces[enemy][0] & ~removed);
  int target = from == king ? to : king;
  return !attacked_through(pos, target, enemy, occ, removed);
}

bool no_legal_moves(const Position& pos) {
  MoveEntry list[MAX_MOVES];
  MoveEntry* end = gen_captures(pos, pos.side, list, NO_SQUARE);
  end = gen_promotions(pos, pos.side, end, true);
  end = gen_quiets(pos, pos.side, end, NO_SQUARE);
  for (MoveEntry* e = list; e < end; ++e)
    if (e->move && is_legal(pos, pos.side, e->move)) return false;
  return true;
}

bool is_pseudo_legal(const Position& pos, int colour, Move move) {
  if (move == 0 || move == MOVE_END) return false;
  const int from = move_from(move), to = move_to(move);
  const int piece = pos.board[from];
  if (!piece || colour_of(piece) != colour) return false;
  const int target = pos.board[to];
  if (target && colour_of(target) == colour) {
    // Only castling written as the king taking its own rook lands on an own piece.
    const int r = type_of(piece) == KING ? castle_index(pos, colour, move) : -1;
    return r >= 0 && (pos.castle_rights & (1 << r)) && !(pos.occupied() & pos.castle_path[r]) && castle_is_safe(pos, r);
  }
  if (type_of(target) == KING) return false;
  const int type = type_of(piece);
  const int d = PUSH_DIR[colour];
  const Bitboard occ = pos.occupied();

  if (move & PROMO_MASK) {
    // Exactly one promotion bit, a pawn, and the last rank.
    Move bits = move & PROMO_MASK;
    if (bits & (bits - 1)) return false;
    if (type != PAWN || rank_of(to) != (colour == WHITE ? 7 : 0)) return false;
  } else if (type == PAWN && rank_of(to) == (colour == WHITE ? 7 : 0)) {
    return false;  // a pawn reaching the last rank must promote
  }

  switch (type) {
    case KNIGHT:
      return (knight_attacks(from) & bit(to)) != 0;
    case BISHOP:
      return (bishop_rays(from) & bit(to)) && !(between(from, to) & occ);
    case ROOK:
      return (rook_rays(from) & bit(to)) && !(between(from, to) & occ);
    case QUEEN:
      return ((bishop_rays(from) | rook_rays(from)) & bit(to)) && !(between(from, to) & occ);
    case KING: {
      if (king_attacks(from) & bit(to)) return true;
      const int r = castle_index(pos, colour, move);
      return r >= 0 && (pos.castle_rights & (1 << r)) && !(occ & pos.castle_path[r]) &&
             pos.board[pos.castle_rook[r]] == make_piece(colour, ROOK) && castle_is_safe(pos, r);
    }
    case PAWN: {
      if (pawn_attacks(colour, from) & bit(to)) {
        if (target) return true;
        return to == pos.ep_square && pos.board[to - d] == make_piece(colour ^ 1, PAWN);
      }
      if (to == from + d) return !target;
      if (to == from + 2 * d && (bit(from) & SECOND_RANK[colour])) return !target && !pos.board[from + d];
      return false;
    }
    default:
      return false;
  }
}

int gives_check(const Position& pos, int colour, const MoveEntry& entry) {
  const Move move = entry.move;
  const int from = move_from(move), to = move_to(move);
  const int k = pos.king_square[colour ^ 1];
  if (!(pos.pieces[colour ^ 1][KING] & bit(k))) return 0;
  int type = type_of(pos.board[from]);
  if (type == KING) {
    const int r = castle_index(pos, colour, move);
    if (r >= 0) return castle_gives_check(pos, colour, r, k);
  }
  if (move & PROMO_MASK) type = promotion_type(move);

  // Occupancy after the move (an en-passant victim and a castling rook included).
  Bitboard occ = (pos.occupied() & ~bit(from)) | bit(to);
  Bitboard removed_sq = 0;
  if (type_of(pos.board[from]) == PAWN && to == pos.ep_square) {
    removed_sq = bit(to - PUSH_DIR[colour]);
    occ &= ~removed_sq;
  }
  int direct = 0;
  switch (type) {
    case PAWN: direct = (pawn_attacks(colour, to) & bit(k)) != 0; break;
    case KNIGHT: direct = (knight_attacks(to) & bit(k)) != 0; break;
    case BISHOP: direct = (bishop_attacks(k, occ) & bit(to)) != 0; break;
    case ROOK: direct = (rook_attacks(k, occ) & bit(to)) != 0; break;
    case QUEEN: direct = (queen_attacks(k, occ) & bit(to)) != 0; break;
    default: break;
  }
  if (pos.material_signature[colour] & SLIDER_SIGNATURE_MASK) {
    // Discovered checks: a slider of ours (not the piece that moved) now sees the king.
    Bitboard ours = pos.pieces[colour][0] & ~bit(from);
    Bitboard orth = (pos.pieces[colour][ROOK] | pos.pieces[colour][QUEEN]) & ours;
    Bitboard diag = (pos.pieces[colour][BISHOP] | pos.pieces[colour][QUEEN]) & ours;
    Bitboard lines = bit(from) | removed_sq;
    if (((rook_rays(k) & lines) && (rook_attacks(k, occ) & orth)) ||
        ((bishop_rays(k) & lines) && (bishop_attacks(k, occ) & diag)))
      return 2;
  }
  return direct;
}

int checker_square(const Position& pos) {
  const int c = pos.side, enemy = c ^ 1;
  const int k = pos.king_square[c];
  const Bitboard* p = pos.pieces[enemy];
  const Bitboard occ = pos.occupied();
  Bitboard checkers = (pawn_attacks(c, k) & p[PAWN]) | (knight_attacks(k) & p[KNIGHT]) |
                      (bishop_attacks(k, occ) & (p[BISHOP] | p[QUEEN])) |
                      (rook_attacks(k, occ) & (p[ROOK] | p[QUEEN]));
  return checkers ? lsb(checkers) : NO_SQUARE;
}

int gen_legal(const Position& pos, Move* out) {
  MoveEntry list[MAX_MOVES];
  gen_all(pos, list);
  int n = 0;
  for (MoveEntry* e = list; e->move != MOVE_END; ++e)
    if (is_legal(pos, pos.side, e->move)) out[n++] = e->move;
  return n;
}

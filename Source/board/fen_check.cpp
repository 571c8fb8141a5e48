#include "board/fen_check.h"

#include <cstring>

#include "board/bitboard.h"

namespace {

// The board field of the text: at most 8 ranks of at most 8 squares, and
// nothing in them but piece letters, digits and "/".
const char* placement_fault(const char* fen) {
  std::size_t len;
  const char* p = fen_field(fen, 0, len);
  int ranks = 1, squares = 0;
  for (std::size_t i = 0; p && i < len; ++i) {
    const char c = p[i];
    if (c == '/') {
      ++ranks;
      squares = 0;
    } else if (c >= '1' && c <= '8') {
      squares += c - '0';
    } else if (c && std::strchr("PNBRQKpnbrqk", c)) {
      ++squares;
    } else {
      return "a character that is no piece, digit or rank end in the board";
    }
    if (ranks > 8 || squares > 8) return "a rank of more than 8 squares, or more than 8 ranks";
  }
  return nullptr;
}

// The side, en-passant and counter fields say what they mean, and the
// position built from them keeps it: "w" or "b"; "-" or the square a pawn of
// the side not to move has just passed over; whole numbers.
const char* field_fault(const Position& pos, const char* fen) {
  std::size_t len;
  const char* side = fen_field(fen, 1, len);
  if (side && !(len == 1 && (*side == 'w' || *side == 'b'))) return "a side to move other than w or b";
  const char* ep = fen_field(fen, 3, len);
  if (ep && !(len == 1 && *ep == '-')) {
    const bool named = len == 2 && ep[0] >= 'a' && ep[0] <= 'h' && ep[1] >= '1' && ep[1] <= '8';
    if (!named || pos.ep_square != make_square(ep[0] - 'a', ep[1] - '1'))
      return "an en-passant square no pawn has just passed over";
  }
  if (!fen_counters(fen).readable) return "a move counter that is not a whole number";
  return nullptr;
}

// Every piece beyond the starting set is a promoted pawn, so promotions and
// pawns together never exceed 8, and a side never has more than 16 men.
bool material_reachable(const Position& pos, int colour) {
  static constexpr int START_COUNT[7] = {0, 8, 2, 2, 2, 1, 1};
  int men = 0, promoted = 0;
  for (int t = PAWN; t <= KING; ++t) {
    int n = popcount(pos.pieces[colour][t]);
    men += n;
    if (t != PAWN && t != KING && n > START_COUNT[t]) promoted += n - START_COUNT[t];
  }
  int pawns = popcount(pos.pieces[colour][PAWN]);
  return men <= 16 && pawns <= 8 && promoted <= 8 - pawns;
}

}  // namespace

const char* fen_refusal(const Position& pos, const char* fen) {
  if (const char* why = placement_fault(fen)) return why;
  if (const char* why = field_fault(pos, fen)) return why;
  for (int c = WHITE; c <= BLACK; ++c)
    if (popcount(pos.pieces[c][KING]) != 1) return "not exactly one king a side";
  const Bitboard edge_ranks = Bitboard(0xFF) | (Bitboard(0xFF) << 56);
  if ((pos.pieces[WHITE][PAWN] | pos.pieces[BLACK][PAWN]) & edge_ranks) return "pawns on the first or last rank";
  for (int c = WHITE; c <= BLACK; ++c)
    if (!material_reachable(pos, c)) return "material no game can reach";
  if (is_attacked(pos, pos.king_square[pos.side ^ 1], pos.side)) return "the side not to move is in check";
  return nullptr;
}

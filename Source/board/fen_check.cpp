#include "board/fen_check.h"

#include "board/bitboard.h"

namespace {

// The board field of the text: at most 8 ranks of at most 8 squares.
bool placement_fits(const char* fen) {
  while (*fen == ' ' || *fen == '\t') ++fen;
  int ranks = 1, squares = 0;
  for (const char* p = fen; *p && *p != ' ' && *p != '\t'; ++p) {
    if (*p == '/') {
      ++ranks;
      squares = 0;
    } else {
      squares += *p >= '0' && *p <= '9' ? *p - '0' : 1;
    }
    if (ranks > 8 || squares > 8) return false;
  }
  return true;
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
  if (!placement_fits(fen)) return "a rank of more than 8 squares, or more than 8 ranks";
  for (int c = WHITE; c <= BLACK; ++c)
    if (popcount(pos.pieces[c][KING]) != 1) return "not exactly one king a side";
  const Bitboard edge_ranks = Bitboard(0xFF) | (Bitboard(0xFF) << 56);
  if ((pos.pieces[WHITE][PAWN] | pos.pieces[BLACK][PAWN]) & edge_ranks) return "pawns on the first or last rank";
  for (int c = WHITE; c <= BLACK; ++c)
    if (!material_reachable(pos, c)) return "material no game can reach";
  if (is_attacked(pos, pos.king_square[pos.side ^ 1], pos.side)) return "the side not to move is in check";
  return nullptr;
}

// King and pawn against king: which positions the pawn's side wins, worked
// out once by retrograde analysis.
#pragma once

#include "board/types.h"

// Builds the table on the first call; later calls return at once.  Not
// thread-safe: call it during start-up or table building.
void init_kpk_table();

// Whether the side with the pawn wins.  Squares are seen from the pawn
// side, with its pawn moving up the board and standing on files a-d
// (callers turn and mirror the board first).  pawn_side_to_move is 1 when
// the side with the pawn is to move.
bool kpk_won(int pawn_side_to_move, int pawn_sq, int strong_king, int weak_king);

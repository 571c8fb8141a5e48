// The one test a position read from FEN text must pass before the engine
// plays from it: the game, the console and the editor all refuse the same.
#pragma once

#include "board/position.h"

// Why pos, set up from fen (the text given to set_position), cannot be
// played from safely, or nullptr when it can: a rank of more than 8 squares
// or more than 8 ranks, a character in the board that is no piece, a side
// other than w or b, an en-passant square no pawn has just passed over, a
// counter that is no whole number, not exactly one king a side, a pawn on
// the first or last rank, material no game can reach, or the side not to
// move in check.
const char* fen_refusal(const Position& pos, const char* fen);

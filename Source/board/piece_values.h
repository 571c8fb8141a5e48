// Every piece-value table the engine keeps, by piece type (none, pawn,
// knight, bishop, rook, queen, king).  They differ on purpose: each is
// tuned for the one question it answers.  The evaluation's own material
// values are parameters (eval/params.h), settable by the user.
#pragma once

#include "board/types.h"

// Game phase: non-pawn material in pawn-ish units, kept incrementally by the position.
constexpr i16 MATERIAL_INC[8] = {0, 0, 3, 3, 5, 10, 0, 0};
// Static exchange: centipawns close to the evaluation's; the king's value
// makes a capture of it end every exchange.
constexpr int SEE_VALUE[8] = {0, 100, 330, 330, 530, 1000, 10000, 0};
// Quiescence delta pruning: a little above the evaluation's values, so a
// capture is skipped only when even a generous gain cannot reach alpha.
constexpr int DELTA_VALUE[8] = {0, 100, 360, 360, 560, 1100, 9999, 0};
// Move ordering by most valuable victim: only the order matters, and a gap
// of ten leaves room to subtract the attacker's type.
constexpr i16 VICTIM_VALUE[8] = {210, 220, 230, 230, 240, 250, 0, 0};
// The phase units again, for the material a capture leaves the opponent; the
// king's 99 keeps such a capture out of every material test.
constexpr int UNITS[8] = {0, 0, 3, 3, 5, 10, 99, 0};
// Whole units with the pawn: a capture of an equal or bigger piece is never losing.
constexpr int COARSE_VALUE[8] = {0, 1, 3, 3, 5, 10, 99, 0};

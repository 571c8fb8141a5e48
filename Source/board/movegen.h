// Pseudo-legal move generation in a fixed order, legality and check tests.
#pragma once

#include "board/position.h"

MoveEntry* gen_captures(const Position& pos, int colour, MoveEntry* list, int checker);
MoveEntry* gen_quiets(const Position& pos, int colour, MoveEntry* list, int checker);
MoveEntry* gen_promotions(const Position& pos, int colour, MoveEntry* list, bool all);
// All pseudo-legal moves of the side to move, terminated by MOVE_END; returns the end marker's address.
MoveEntry* gen_all(const Position& pos, MoveEntry* list);

bool no_legal_moves(const Position& pos);
bool is_pseudo_legal(const Position& pos, int colour, Move move);
bool is_legal(const Position& pos, int colour, Move move);
// 0 no check, 1 direct check, 2 discovered check.
int gives_check(const Position& pos, int colour, const MoveEntry& entry);

// Square of one piece of the other side checking the side to move's king, or NO_SQUARE.
int checker_square(const Position& pos);
// Legal moves of the side to move in generation order; returns the count.
int gen_legal(const Position& pos, Move* out);

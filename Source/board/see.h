// Static exchange evaluation and perft.
#pragma once

#include "board/position.h"


int least_attacker(const Position& pos, int square, int colour, Bitboard occ);
// The position is edited during the call and restored before it returns.
int see_swap(Position& pos, int colour, int from, int square, Bitboard occ, bool may_stop);
// Leaf count of the legal move tree.
u64 perft(Position& pos, int depth);

// Fast perft: a generator of legal moves only (pins and check evasions worked
// out up front) and bulk counting at the last ply, with a per-root-move split.
#pragma once

#include <functional>

#include "board/position.h"

// Polled during a count; returning true abandons it.
using PerftStop = bool (*)();
// Receives each root move with its leaf count, in generation order.
using PerftDivideHook = std::function<void(Move move, u64 count)>;

// Legal moves of the side to move; returns how many were written to out
// (room for MAX_MOVES).
int gen_legal_fast(const Position& pos, Move* out);
// Number of legal moves of the side to move, without listing them.
int count_legal(const Position& pos);

// Leaf count of the legal move tree to depth.  should_stop is polled every few
// thousand nodes above the leaves; once it answers true the count is
// abandoned, *stopped (when given) is set and the partial count returned.  The
// position is left as it was in every case.
u64 perft_fast(Position& pos, int depth, PerftStop should_stop = nullptr, bool* stopped = nullptr);

// As perft_fast, reporting each root move's count through per_move before
// returning the total.  A stopped count reports no move after the stop.
u64 perft_divide(Position& pos, int depth, const PerftDivideHook& per_move, PerftStop should_stop = nullptr,
                 bool* stopped = nullptr);

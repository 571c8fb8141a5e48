// Time allotment and the time check that ends a search.
#pragma once

#include "board/types.h"

// Seconds allotted to the move from the clocks in g_control (root side's
// clock, increment, moves to go or the game ply).  uci: moves to go as given.
f64 compute_target_time(int game_ply, bool uci, int elo_option);
// The stop inside an iteration for a clock: a few times the target, never
// past what the clock and the move overhead allow.  Fixed modes: the target.
f64 compute_hard_time(f64 target);
// Thread 0 after completing iteration `depth`: true when no further
// iteration should start.  best_share is the part of the iteration's nodes
// spent under the best move.  Clock modes only.
bool soft_limit_reached(int depth, f64 best_share);
// The factor the soft limit is scaled by: best-move stability, score fall
// or rise, best-move node share.
f64 soft_limit_scale(int depth, f64 best_share);
// elapsed = now - search start.
void update_elapsed();
// May set the stop byte.  Clock modes: the hard limit, a single reply, the
// clock nearly gone, or a soft limit passed while pondering.  Fixed time:
// the target (with the extension for trouble or instability).
void check_time();
f64 effective_branching_factor();

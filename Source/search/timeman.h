// Time allotment and the time check that ends a search.
#pragma once

#include "board/types.h"

// Seconds allotted to the move from the clocks in g_control (root side's
// clock, increment, moves to go or the game ply).  uci: moves to go as given.
f64 compute_target_time(int game_ply, bool uci, int elo_option);
// elapsed = now - search start.
void update_elapsed();
// May set the stop byte: target reached (with the extension for trouble or
// instability), a single reply, or the clock nearly gone.
void check_time();
f64 effective_branching_factor();

// The search's window on the endgame tables.  Until tables are loaded every
// probe answers "no result".
#pragma once

#include "board/position.h"

// WDL class for the side to move: 0 loss, 1 blessed loss, 2 draw, 3 cursed
// win, 4 win; -1 when no table answers.
int probe_tb_wdl(const Position& pos, int depth);

struct RootTbResult {
  int wdl;    // -1 when the root is not in the tables
  Move move;  // the move that keeps the result, 0 when none
  int score;
};
RootTbResult probe_tb_root(const Position& pos);

// The search's window on the endgame tables: WDL and DTZ probes of a
// position, the ranking of root moves by DTZ, and the gates that decide when
// the search may probe at all.
#pragma once

#include "board/position.h"

// WDL class for the side to move: 0 loss, 1 blessed loss, 2 draw, 3 cursed
// win, 4 win; -1 when no table answers or the position may not be probed.
int probe_tb_wdl(const Position& pos, int depth);

struct RootTbResult {
  int wdl;    // -1 when the root is not in the tables
  Move move;  // the move that keeps the result, 0 when none
  int score;  // the root's tablebase score for the side to move
  int dtz = 0;
};
RootTbResult probe_tb_root(const Position& pos);

// Depth gates of the search's probes (SyzygyProbeDepth5, SyzygyProbeDepth6).
void set_tb_probe_depths(int depth5, int depth6);

// Table probes with the Syzygy conventions: WDL -2 (loss) .. 2 (win) and DTZ
// in plies to the next zeroing move (beyond 100 when the fifty-move rule
// draws it).  success is 0 when no table answers.
int probe_wdl(const Position& pos, int& success);
int probe_dtz(const Position& pos, int& success);

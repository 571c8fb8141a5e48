// Win/draw/loss shares for the "wdl" item of the info lines: per-mille from
// the side to move's view, always summing to 1000.
#pragma once

#include <atomic>

struct WdlShares {
  int win, draw, loss;
};

// From a search score in centipawns: certain at a mate score, else the
// logistic model below.
WdlShares wdl_from_score(int score);

// From a tablebase class (0 loss, 1 blessed loss, 2 draw, 3 cursed win,
// 4 win).  The fifty-move rule turns cursed wins and blessed losses into draws.
WdlShares wdl_from_tables(int tb_class);

// Whether the UCI info lines carry the shares: the option's value, kept
// apart from the option slots because the front end changes it while the
// search thread prints.
extern std::atomic<bool> g_show_wdl;

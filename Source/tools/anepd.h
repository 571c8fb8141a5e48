// Running the engine over an EPD test suite and scoring its answers.
#pragma once

#include "board/position.h"

// What the analysis needs from the front end.
struct ToolHooks {
  Position* game;                      // the main thread's position
  bool (*setup)(const char* fen);      // sets up the game position; false when it is refused
  void (*prepare_search)();            // per-search set-up of the front end
  void (*poll)();                      // one pass of the front end's command handling
  bool (*quit_requested)();            // a "quit" line arrived
};

// Searches every position of the suite under the current limits, judges the
// move by its bm/am operations or c0 points, writes the positions that have
// neither to unsolved.epd and prints the summary.
void analyze_epd(const char* epd_file, const ToolHooks& hooks);

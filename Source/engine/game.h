// The game the front end plays: the process-wide flags, the game record,
// setting up a position and the opening-book step before a search.  UCI and
// console commands both work through these.
#pragma once

#include <atomic>

#include "board/position.h"

struct EngineFlags {
  std::atomic<u8> quit;
  // Set by request_exit: the status vorn_main ends with (-1 none) and the
  // line it prints first (may be empty).
  std::atomic<int> exit_status;
  std::atomic<const char*> exit_message;
  u8 debug_echo;  // "debug" was given: commands are echoed to the log
  u16 uci_mode;   // 1 UCI, 0 console
  u16 eval_detail;
  int mode;
  int tune_percent;  // share of the tuning file the console "tune" samples
  char epd_file[140];
  char pgn_file[141];
  const char* mode_switch;  // the switch that chose a tool mode, for messages
};

extern EngineFlags g_flags;

// Ends the run from deep inside (any thread): the main loop quits and the
// entry point prints the message and returns the status.  The first request wins.
void request_exit(int status, const char* message);

// The main record: the game position with its history stack.
struct GameRecord {
  GameHistory history;
  Position pos;
};
extern GameRecord* g_game;

inline Position& game_position() { return g_game->pos; }

// Allocates the game record; false when there is no memory for it.
bool create_game_record();
void destroy_game_record();

// Sets up the game from a FEN unless it cannot be searched safely; prints
// an "info string" (or a plain line in console mode) and keeps the old
// position when refused.  Returns whether it was set up.
bool setup_game_fen(const char* fen);

// The book move for pos under the OwnBook_File and OwnBook_Variety options,
// listed the way the current mode shows it; 0 when there is none.
Move probe_own_book(const Position& pos);
// The move the book plays in the game position before a search: 0 when the
// book is off, past its depth, has no move, or the move is refused (a third
// repetition, or a move past the fifty-move limit into a position without moves).
Move book_step(Position& pos);

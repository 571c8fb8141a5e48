// Protocol text of the front end: messages, the book-move line and the
// final report of a search ("bestmove ... ponder ..." in UCI mode, the
// statistics in console mode).  The info lines during a search come from
// the search driver, which also formats the final one.
#pragma once

#include "board/position.h"

// Prints a message as "info string ..." in UCI mode and as a plain line in console mode.
void print_message(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Remembers whether the root of the search about to start has a legal move
// and is in check: the result is reported from that, whatever the game
// position is by then.
void note_search_root(const Position& pos);
// The position and the time target of a search about to start (to the log in UCI mode).
void report_search_start(const Position& pos);
// "book move is e2e4" for the move about to be played from the book.
void report_book_move(Move move);
// The last info line and the best (and expected) move, or the console's
// statistics, of the search that just ended.
void report_result();

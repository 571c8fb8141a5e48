// Scanning PGN games that carry engine scores in their comments into
// annotated games and EPD position files.  No search is run.
#pragma once

#include "tools/pgn.h"

// A move without a score; SCORE_MISSING is the second spelling of it that
// files written by older tools carry.
constexpr i16 SCORE_NONE = -29999;
constexpr i16 SCORE_MISSING = -30000;

// Score of a move from its comment, from the mover's view: "book" 0, "eval N"
// (White's view), "+0.35/14" style (pawns; "+M"/"-M" mates 9000/-9000);
// SCORE_NONE when the comment holds none; others are clamped to 16 bits.
// mover: WHITE or BLACK.
int comment_score(const PgnMove& move, int mover);

// Variant 1: tmp.pgn (annotated) and tmpX.epd; 2: tuning positions, 3: scored
// positions until the game is decided, 4: rook endings with one pawn, all
// into tmp.epd.  Prints "games= %d, positions= %d".
void scan_pgn(const char* pgn_file, int variant);

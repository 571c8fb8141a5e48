// Moves as text: coordinates for UCI, SAN for people; reading typed moves.
#pragma once

#include "board/position.h"

// How a move is written: coordinates for the UCI protocol (promotions
// "e7e8q"), or for people in console and tool modes ("e7e8=Q").
enum class Notation : u8 { UCI, CONSOLE };

extern const char* const SQUARE_NAMES[65];

void move_to_text(Move move, char* buffer, Notation style);  // buffer of at least 8 chars
// Fills the four forms (each buffer at least 16 chars); returns whether the move gives check.
bool move_to_san(const Position& pos, Move move, char* coordinate, char* san, char* san_file, char* san_rank);
// How many legal moves of pos the text can mean (standard or coordinate
// notation); with exactly one, *move is that move.  Prints nothing.
int count_move_matches(const Position& pos, const char* text, Move* move);
// 1 when exactly one legal move of pos matches the text, else 0 (after
// "ambiguous move" when several do).
int parse_move(const Position& pos, const char* text, Move* move);

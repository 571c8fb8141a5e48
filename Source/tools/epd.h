// Reading EPD lines and judging moves against their operations.
#pragma once

#include <cstdio>

#include "board/position.h"

constexpr int EPD_LINE_CHARS = 512;

// The next line of the file without its line end, at most EPD_LINE_CHARS
// characters (the rest of a longer line is skipped).  False at the end.
bool read_epd_line(FILE* file, char* line);

// Cuts text into words at any of the separator characters; returns how many
// (at most max, each at most 31 characters; longer ones are cut).
int cut_words(const char* text, const char* separators, char (*words)[32], int max);

// Whether one of the moves listed in text (cut at the separators) is move in pos.
bool move_listed(const Position& pos, const char* text, const char* separators, Move move);
// How many of the moves listed in text parse in pos.
int moves_parsing(const Position& pos, const char* text, const char* separators);

// Points of a "c0" list such as "Rd1=10, Re1=5": the most points on offer
// in *available, the points of move in the return value.
int points_for_move(const Position& pos, const char* c0, Move move, int* available);

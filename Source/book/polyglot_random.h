// The fixed random keys behind Polyglot book keys.  They are part of the book
// format, so they are compiled in rather than generated.
#pragma once

#include "board/types.h"

constexpr int POLYGLOT_RANDOM_COUNT = 781;
constexpr int POLYGLOT_CASTLE_INDEX = 768;  // white king-side, white queen-side, black king-side, black queen-side
constexpr int POLYGLOT_EP_INDEX = 772;      // + file of the en-passant square
constexpr int POLYGLOT_TURN_INDEX = 780;    // white to move

extern const u64 POLYGLOT_RANDOM64[POLYGLOT_RANDOM_COUNT];

// The option slots: every user setting and every tunable parameter lives in
// one array of 16-bit slots, so the search and the evaluation set-up can read
// them by number without knowing the front end.  Text options occupy runs of
// slots (144 bytes each).
#pragma once

#include "board/types.h"
#include "eval/params.h"

enum OptionSlot : int {
  SLOT_PARAMS_CHANGED = 0,
  SLOT_HASH = 1,
  SLOT_THREADS = 2,
  SLOT_MOVE_OVERHEAD = 3,
  SLOT_PONDER = 4,
  SLOT_MULTIPV = 5,
  SLOT_LIMIT_STRENGTH = 6,
  SLOT_ELO = 7,
  SLOT_LOG = 8,
  SLOT_OWN_BOOK = 9,
  SLOT_BOOK_VARIETY = 10,
  SLOT_BOOK_DEPTH = 11,
  SLOT_CONFIG_FILE = 12,  // text, 72 slots
  SLOT_BOOK_FILE = 84,    // text
  SLOT_SYZYGY_PATH = 156, // text
  SLOT_SYZYGY_DEPTH5 = 228,
  SLOT_SYZYGY_DEPTH6 = 229,
  SLOT_SELECTIVITY = 233,
  // Search parameters (changed from the console as well).
  SLOT_SEP_DEPTH = 236,
  SLOT_SEP_MARGIN_STEP = 237,
  SLOT_NMP_DEPTH = 238,
  SLOT_FP_DEPTH = 239,
  SLOT_RAZOR_MARGIN_STEP = 240,
  SLOT_PROBCUT_DEPTH = 241,
  SLOT_PROBCUT_REDUCTION = 242,
  SLOT_PROBCUT_MARGIN = 243,
  SLOT_LMP_DEPTH = 244,
  SLOT_LMP_COUNT_STEP = 245,
  SLOT_LMR_DEPTH = 246,
  // Opening/endgame pairs of the evaluation (two slots each).
  SLOT_MTL_PAWN = 248,
  SLOT_MTL_KNIGHT = 250,
  SLOT_MTL_BISHOP = 252,
  SLOT_MTL_ROOK = 254,
  SLOT_MTL_QUEEN = 256,
  SLOT_MTL_BISHOP_PAIR = 258,
  SLOT_PST_PAWN = 337,
  SLOT_PST_KNIGHT = 339,
  SLOT_PST_BISHOP = 341,
  SLOT_PST_ROOK = 343,
  SLOT_PST_QUEEN = 345,
  SLOT_PST_KING = 347,
  SLOT_MOBILITY_KNIGHT = 349,
  SLOT_MOBILITY_BISHOP = 351,
  SLOT_MOBILITY_ROOK = 353,
  SLOT_MOBILITY_QUEEN = 355,
  SLOT_PAWN_STRUCTURE = 357,
  SLOT_PASSED_PAWNS = 359,
  SLOT_KING_SAFETY = 361,
  SLOT_THREATS = 363,
  SLOT_AWARENESS = 365,
  SLOT_TUNE = 367,
};

// Text options hold at most this many characters plus the terminating NUL.
constexpr int OPTION_TEXT_MAX = 143;
constexpr int OPTION_TEXT_SLOTS = 72;

struct UciOptions {
  i16 slots[OPTION_SLOTS];

  i16& operator[](int slot) { return slots[slot]; }
  i16 operator[](int slot) const { return slots[slot]; }
  char* text(int first_slot) { return reinterpret_cast<char*>(&slots[first_slot]); }
  const char* text(int first_slot) const { return reinterpret_cast<const char*>(&slots[first_slot]); }
};

// Live values, read by the search, the evaluation set-up, book and tablebases.
extern UciOptions g_options;
// The copy "uci" prints as defaults; refreshed after every change.
extern UciOptions g_listed_options;

// Stores text into a text option, cut to OPTION_TEXT_MAX characters.
void set_option_text(UciOptions& opts, int first_slot, const char* value);

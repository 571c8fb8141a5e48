// The option slots: every user setting and every tunable parameter lives in
// one array of 16-bit slots, so the search and the evaluation set-up can read
// them by number without knowing the front end.  Text options occupy runs of
// slots (144 bytes each).
#pragma once

#include "board/types.h"
#include "eval/params.h"

enum OptionSlot : int {
  // Slot 0 is not used.
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
  SLOT_SHOW_WDL = 231,  // 230 is the evaluation's Contempt
  SLOT_CHESS960 = 232,
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
  // From EVAL_PARAM_FIRST_SLOT on: the evaluation's parameters (eval/params.h),
  // the Mtl_* and percentage option pairs among them.
};

// Size of the slot array.
constexpr int OPTION_SLOTS = 512;
static_assert(EVAL_PARAM_END_SLOT <= OPTION_SLOTS, "evaluation parameters must fit in the option slots");

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
// Set when a slot that feeds the search parameters or the evaluation tables
// may have changed: the next search rebuilds them first.
extern bool g_params_changed;

// Stores text into a text option, cut to OPTION_TEXT_MAX characters.
void set_option_text(UciOptions& opts, int first_slot, const char* value);

// Per-ply search state, the move buffer and the move-ordering tables of one
// search thread.
#pragma once

#include "board/types.h"

constexpr int MATE_SCORE = 10000;
constexpr int TB_WIN_SCORE = 9800;
constexpr int SCORE_INF = 10001;
// Scores beyond these are mate scores and never treated as evaluations.
constexpr int MATE_BOUND_HIGH = 9598;
constexpr int MATE_BOUND_LOW = -9599;
// Scores beyond this are reported as "mate N".
constexpr int MATE_REPORT_BOUND = 9899;

constexpr bool is_mate_score(int score) { return score > MATE_BOUND_HIGH || score < MATE_BOUND_LOW; }
// A mate (for either side) found within `plies` plies of the root.
constexpr bool mate_within(int score, int plies) {
  return score >= MATE_SCORE - 1 - plies || score < plies - (MATE_SCORE - 1);
}

enum NodeType : int { PV_NODE = 0, CUT_NODE = 1, ALL_NODE = -1 };

// Deepest ply a node is searched at: beyond it nodes return their static evaluation.
constexpr int MAX_PLY = 65;
// Plies up to which a check extends the search.
constexpr int CHECK_EXTENSION_PLY = 29;
// Deepest iteration of the driver, whatever the limits.
constexpr int LAST_ITERATION = 68;
// Most moves of a line reported or followed through the table.
constexpr int MAX_LINE_MOVES = 66;
// Stack entries: MAX_PLY plus room for the quiescence step and the stack look-ahead.
constexpr int STACK_SIZE = 80;
// Lines are indexed by ply from 1; per-depth records by iteration depth.
constexpr int PV_SIZE = 70;
static_assert(PV_SIZE > LAST_ITERATION && PV_SIZE > MAX_PLY + 1, "lines and per-depth records must fit");
constexpr int MOVE_BUFFER_SIZE = STACK_SIZE * 160;

// Picker options in the high bits of picker_stage.
enum : u16 { PICK_HASH = 16, PICK_SEE = 64, PICK_CHECKS = 128, PICK_STAGE_MASK = 15 };
// Picker stages in its low bits.  The main search goes hash move, generate,
// good captures, quiet moves with the losing captures, the rest in list
// order; quiescence goes hash move, generate, captures, quiet checks, the rest.
enum PickerStage : u16 {
  STAGE_HASH_MOVE = 0,
  STAGE_GENERATE = 1,
  STAGE_CAPTURES = 2,       // quiescence: best victim first
  STAGE_QUIET_CHECKS = 3,   // quiescence with PICK_CHECKS
  STAGE_GOOD_CAPTURES = 4,  // main search: winning exchanges by SEE
  STAGE_QUIETS = 6,         // history-ordered quiet moves and losing captures
  STAGE_REST = 7,           // what is left, in list order
};

// Move classes (classify_move).
enum : u16 {
  CLASS_CAPTURE = 1,
  CLASS_CHECK = 2,
  CLASS_DISCOVERED = 4,
  CLASS_SEVENTH = 8,
  CLASS_QUEEN_PROMO = 16,
  CLASS_PAWN = 32
};

struct SearchStackEntry {
  i16 node_type;
  u16 flags;  // bit 0: dead draw by material
  i16 depth;
  i16 static_eval;
  u16 in_check;
  i8 reduction;
  u8 iid_active;
  u8 research;
  u16 move_class;
  i16 danger[2];
  u16 move_count;
  i32 tb_result;
  u16 hash_move;
  u16 excluded;  // the table's move, left out while testing whether it is singular
  i8 singular;   // plies added to the table move: 1 or 2 when it is singular, -1 when another move holds beta too
  u8 double_extensions;  // double extensions on the line to this node
  u16 killer[2];
  u16 evasion_killer;
  u8 checker_square;
  u16 picker_stage;
  MoveEntry* move_list;
  MoveEntry* current_move;
};

struct SearchTables {
  SearchStackEntry stack[STACK_SIZE];
  MoveEntry move_buffer[MOVE_BUFFER_SIZE];
  i16 history[8][16][64];
  u16 counter_move[2][16][64];
  u16 follow_up_move[16][64];
  u16 root_history_count;  // history_count at the root: repetitions from here on count once
  MoveEntry* root_end;     // end marker of the root move list
};

// History entries run from 0 to HISTORY_MAX. A reward moves an entry a share
// of its distance to the top, a penalty a share of its distance to 0, so
// neither ever leaves the range however often it repeats.
constexpr int HISTORY_MAX = 16384;
inline void history_reward(i16& h, int bonus) { h = i16(h + ((HISTORY_MAX - h) * bonus) / 2048); }
inline void history_penalty(i16& h, int malus) { h = i16(h - (h * malus) / 2048); }

// Killers, hash moves, counter and follow-up moves to 0, history to 2048.
void reset_move_ordering(SearchTables& t);

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

enum NodeType : int { PV_NODE = 0, CUT_NODE = 1, ALL_NODE = -1 };

// Deepest ply a search line can reach: nodes beyond ply 65 return their
// static evaluation, plus room for the quiescence step and the stack look-ahead.
constexpr int STACK_SIZE = 80;
constexpr int PV_SIZE = 70;
constexpr int MOVE_BUFFER_SIZE = STACK_SIZE * 160;

// Picker options in the high bits of picker_stage.
enum : u16 { PICK_HASH = 16, PICK_SEE = 64, PICK_CHECKS = 128, PICK_STAGE_MASK = 15 };

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

// Killers, hash moves, counter and follow-up moves to 0, history to 2048.
void reset_move_ordering(SearchTables& t);

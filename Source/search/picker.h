// The staged move picker: hash move, captures ordered by exchange value,
// killers and history-ordered quiet moves, losing captures last.
#pragma once

#include "board/position.h"
#include "search/stack.h"

struct SearchThread;

// Starts the picker at `ply` with the given options (PICK_*), stage 0.
void picker_start(SearchThread& t, int ply, u16 options);
// The next pseudo-legal entry of the ply, or null when the node has no more.
MoveEntry* next_move(SearchThread& t, int ply);
// First ordering scores of the root list.
void score_root_moves(SearchThread& t, MoveEntry* list);
// Leaf count of the legal tree, taking the moves from the picker as the search
// does (thread t's position, root at ply 1).
u64 perft_picker(SearchThread& t, int depth);
// Exchange value of a capture entry with the recapture followed (picker scoring).
int capture_gain(Position& pos, const MoveEntry& e);

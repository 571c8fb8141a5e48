// The alpha-beta search: interior nodes, quiescence, the move loop.
#pragma once

#include "search/stack.h"

struct SearchThread;
struct Position;

int search(SearchThread& t, int ply, int depth, int alpha, int beta, int node_type, u16* pv);
int qsearch(SearchThread& t, int ply, int depth, int alpha, int beta, int node_type, u16* pv);
int search_moves(SearchThread& t, int ply, int depth, int alpha, int beta, bool in_check, int node_type, u16* pv);

u16 classify_move(const Position& pos, int side, const MoveEntry& e);
bool is_safe_move(Position& pos, const MoveEntry& e);
bool is_threat_move(const Position& pos, const MoveEntry& e);

// Whether a stop has been requested (any non-zero value of the stop byte).
bool search_stopped();

// Iterative deepening, the root search, publishing results and info lines.
#pragma once

#include "board/position.h"

struct SearchThread;

// Front-end settings the search reads: the info-line delay (9999 = silent).
// The console may change it while a search runs.
extern Relaxed<f64> g_info_threshold;
// Set while a tool search runs in the calling thread, which then watches the clock itself.
extern bool g_tool_search;

// Body of the SEARCH command of every thread.
void search_thread_body(SearchThread& t);
// The driver over thread t's copy of the root.
void iterate(SearchThread& t);
void search_root(SearchThread& t, int depth, int pv_index);
void publish_best(SearchThread& t);
void print_info(int thread_index, int pv_number, int depth, int score, const u16* line);
void print_info_if_due(int thread_index, int pv_number, int depth, int score, const u16* line);
// Sums the per-thread counters into g_control.
void gather_search_stats();
// Runs the whole search on thread 0's record in the calling thread (tools, console).
void tool_search(const Position& root);
// Quiescence score of root, searched on thread 0's record in the calling
// thread with the search idle (the console evaluation listing, the tuner).
// line (PV_SIZE entries) receives the quiescence line from line[1] on, 0-ended.
int root_quiescence(const Position& root, u16* line = nullptr);
// Whether score is a mate the last "go mate N" asked for (N moves or fewer).
bool mate_goal_reached(int score);
// "cp 25" or "mate 3" / "mate -2".
void score_text(int score, char* buffer);

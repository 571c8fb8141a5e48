// Search threads: one record per thread, the thread table, and the command
// byte through which the front end drives each thread.  Idle threads sleep
// on a condition variable, so an engine that is not searching costs nothing.
#pragma once

#include <atomic>

#include "board/position.h"
#include "eval/eval.h"
#include "search/control.h"
#include "search/stack.h"

constexpr int MAX_THREADS = 128;

enum ThreadCommand : u8 { IDLE = 0, SEARCH = 1, CLEAR_HASH = 2, QUIT = 99, QUIT_DONE = 100 };

struct SearchThread {
  GameHistory history;  // the thread's history stack; pos.owner points here
  SearchTables tables;  // search stack, move buffer, ordering tables
  EvalThread eval;      // evaluation cache, pawn hash and scratch
  Position pos;
  u16 root_line[PV_SIZE];  // [1] best move, [2] expected reply

  u8 thread_index;
  std::atomic<u8> thread_command;

  // ---- Reset at the start of every search (reset_for_search).  The time
  // check on the main thread reads iteration_depth, root_result,
  // best_score and best_move while this thread writes them, and thread 0
  // sums the counters of all threads for its info lines.
  std::atomic<u8> iteration_depth;
  Relaxed<u8> root_result;  // 1 fell below the aspiration window, 2 rose above it
  i8 report_depth;
  i8 seldepth;
  u8 full_research;
  u32 seed;  // also salts the strength-limiting reduction
  Relaxed<i16> best_score;
  Relaxed<u16> best_move;
  u64 node_limit;  // copy of the limit; 2^62 when there is none
  Relaxed<u64> nodes;
  Relaxed<u64> tb_hits;
  Relaxed<u64> tt_probes;
  Relaxed<u64> tt_hits;
  i8 null_count;
  u64 null_tries;  // null moves made; read by the tests once the search is over
  // Nodes at the start of the last root search and those spent under the
  // move that became best in it: the best move's share, for the time manager.
  u64 root_start_nodes;
  u64 best_move_nodes;
  // ---- end of the per-search region.

  // Clears the per-search region above and the root line for a search
  // limited to node_limit nodes (0 = none).
  void reset_for_search(i64 node_limit);
};

// Thread records by index; entries past thread_count() are null.
extern SearchThread* g_threads[MAX_THREADS];

// Starts n threads and waits until each has set up its record.
// Returns 0, or the error code of a failed thread creation (ENOMEM when a
// thread could not allocate its record).
int create_search_threads(int n);
// Stops any search, tells the n threads to quit, waits for them and frees their records.
void destroy_search_threads(int n);
int thread_count();
int count_busy_threads();
// Writes a command byte and wakes the thread.
void set_thread_command(int index, u8 command);
// Copies the game position into every thread record and resets their
// per-search state.  The front end calls it in the main thread just before
// it wakes the threads, so a command that rewrites the game position while a
// search runs can never meet a half-made copy.
void copy_root_to_threads(const Position& game);
// Copies root into every thread and starts the search: thread 0 at once, the
// helpers 5 ms later, when thread 0 has its root list and first iteration.
void start_search_threads(const Position& root);

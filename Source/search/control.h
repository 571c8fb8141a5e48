// SearchControl: the one record shared by the front end and the search
// threads.  It is grouped by writer:
//   config  - the front end, from the options, while no search runs;
//   limits  - the front end ("go", switches, console level) before it wakes the threads;
//   clock   - the time manager (target at the start, elapsed and extension while it runs);
//   speed   - strength limiting (calibration at start-up, the speed cap);
//   result  - search thread 0 (published best line, per-depth records);
//   stats   - gather_search_stats (sums of the per-thread counters).
// The console may change the table switch, the depth and the speed cap of
// a running analysis: those three are relaxed atomics.
// The byte flags at the top level (stop, search_state, go_request) carry
// the hand-shakes between the front end and the threads without locks.
#pragma once

#include <atomic>

#include "board/notation.h"
#include "board/types.h"
#include "platform/platform.h"
#include "search/stack.h"

// Deepest iteration; also the "no depth limit" value.
constexpr u8 MAX_DEPTH = 66;
constexpr double NO_NPS_LIMIT = 1000000000.0;

// Values of stop: 0 run, 1 stop and report, 2 abort (anything non-zero ends a search).
enum : u8 { STOP_NONE = 0, STOP_REPORT = 1, STOP_ABORT = 2, STOP_QUIT_THREADS = 99 };
// Values of search_state and go_request.
enum : u8 { STATE_IDLE = 0, STATE_SEARCH = 1, STATE_PONDER = 2, REQUEST_ANALYSE = 3 };
// Values of limit_mode other than a moves-per-control count.
enum : u8 { LIMIT_CLOCK = 0, LIMIT_FIXED = 1 };

struct SearchConfig {
  u8 num_threads;
  Relaxed<u8> hash_enabled;  // 0: no table; 2 or more keeps the table between console analyses
  u16 hash_mb;      // size the table was allocated for
  u16 tt_age;       // 1..15, 0 after "ucinewgame"
  u16 ponder_allowed;
  u8 gui_ponders;  // a "go ponder" has arrived: the client really thinks on our time
  f64 move_overhead;  // seconds
  u8 multipv;
  u8 depth_cap;  // deepest iteration any "go" may ask for (the -d switch)
  Notation notation;  // of the info lines: UCI, or the console's listing
};

struct SearchLimits {
  u8 root_side;
  i64 node_limit;  // 0 = none
  Relaxed<u8> max_depth;  // MAX_DEPTH = unlimited
  u8 limit_mode;   // LIMIT_CLOCK, LIMIT_FIXED, or the moves of a control (40 when moves to go are given)
  f64 fixed_time;
  f64 increment;     // side to move only
  f64 side_time[2];  // white, black
  i16 moves_to_go;
  // The root moves a search may choose from (none listed: all of them).
  int search_move_count;
  u16 search_moves[MAX_MOVES];
  // Stop once a mate in this many moves or fewer is proven (0: no such goal).
  int mate_moves;
};

struct SearchClock {
  f64 search_start;  // monotonic seconds
  f64 target_time;  // soft: tested after each completed iteration, scaled by the search's state
  f64 hard_time;    // the only stop inside an iteration
  Relaxed<f64> elapsed;  // refreshed by whichever thread needs it (update_elapsed)
  Relaxed<i16> time_extension;
  Relaxed<u8> soft_passed;  // an iteration ended past the soft limit while pondering
};

struct SpeedLimit {
  f64 calibration_nps;  // speed measured at start-up (scaled to the rating model)
  f64 max_elo;          // rating of that speed: the strongest UCI_Elo
  Relaxed<f64> target_nps;  // speed cap of the running search; NO_NPS_LIMIT = none
  f64 limit_nps;        // cap chosen by UCI_Elo, "-nps" or the console, kept while the limit is off
};

// Written by search thread 0 while it runs (and by the front end while no
// thread runs: the book move).  The time check on the main thread reads the
// scalars as they change; the line itself is copied under line_lock.
struct SearchResult {
  std::atomic<i8> iteration_depth;
  Relaxed<i8> report_depth;
  Relaxed<i16> best_score;
  Relaxed<i8> change_depth;
  Relaxed<u8> single_reply;
  Relaxed<i8> last_depth;
  u16 book_move;
  Relaxed<i16> score_by_depth[PV_SIZE];
  u64 nodes_by_depth[PV_SIZE];  // every thread adds under its lock
  mutable SpinLock line_lock;
  u16 best_pv[PV_SIZE];  // [1] best move, [2] ponder move

  // Thread 0 and the front end between searches read the line directly;
  // anyone else goes through these.
  u16 best_move() const {
    line_lock.lock();
    u16 m = best_pv[1];
    line_lock.unlock();
    return m;
  }
  u16 ponder_move() const {
    line_lock.lock();
    u16 m = best_pv[2];
    line_lock.unlock();
    return m;
  }
  void copy_line(u16* out) const {
    line_lock.lock();
    for (int i = 0; i < PV_SIZE; ++i) out[i] = best_pv[i];
    line_lock.unlock();
  }
  void set_line(const u16* line) {
    line_lock.lock();
    for (int i = 0; i < PV_SIZE; ++i) best_pv[i] = line[i];
    line_lock.unlock();
  }
};

struct SearchStats {
  u64 total_nodes, eval_probes, eval_hits, hash_probes, hash_hits, pawn_probes, pawn_hits, tb_hits;
  f64 hash_fill;
};

struct SearchControl {
  SearchConfig config;
  SearchLimits limits;
  SearchClock clock;
  SpeedLimit speed;
  SearchResult result;
  SearchStats stats;

  std::atomic<u8> search_state;  // STATE_IDLE, STATE_SEARCH, STATE_PONDER
  std::atomic<u8> go_request;    // 0 none, 1 go, 2 go ponder, 3 console analyse
  std::atomic<u8> stop;
  u8 infinite;     // the last "go" had "infinite"
  u8 report_held;  // an infinite search: no "bestmove" until "stop", even when it ends by itself
};

extern SearchControl g_control;

// Start-up values of every field.
void search_control_defaults(SearchControl& c);
// Clears the stop byte, the published result and the per-depth records before a search.
void reset_search_results(SearchControl& c);

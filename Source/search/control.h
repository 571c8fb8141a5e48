// SearchControl: the one record shared by the front end and the search
// threads.  The front end writes limits and clocks before it wakes the
// threads; the byte flags (stop, search_state, go_request, iteration_depth)
// carry the hand-shakes without locks.
#pragma once

#include <atomic>

#include "board/types.h"

constexpr int MAX_PLY_LINE = 70;
constexpr u8 MAX_DEPTH = 66;
constexpr double NO_NPS_LIMIT = 1000000000.0;

// Values of stop: 0 run, 1 stop and report, 2 abort (anything non-zero ends a search).
enum : u8 { STOP_NONE = 0, STOP_REPORT = 1, STOP_ABORT = 2, STOP_QUIT_THREADS = 99 };
// Values of search_state and go_request.
enum : u8 { STATE_IDLE = 0, STATE_SEARCH = 1, STATE_PONDER = 2, REQUEST_ANALYSE = 3 };

struct SearchControl {
  u8 num_threads;
  u8 hash_enabled;  // 0: no table; 2 or more keeps the table between console analyses
  u16 hash_mb;      // size the table was allocated for
  u16 tt_age;       // 1..15, 0 after "ucinewgame"
  u16 ponder_allowed;
  u16 book_move;
  f64 move_overhead;  // seconds
  u8 root_side;
  u8 multipv;
  std::atomic<u8> search_state;  // STATE_IDLE, STATE_SEARCH, STATE_PONDER
  std::atomic<u8> go_request;    // 0 none, 1 go, 2 go ponder, 3 console analyse
  u8 infinite;                   // the last "go" had "infinite"
  u8 report_held;                // an infinite search: no "bestmove" until "stop", even when it ends by itself
  i64 node_limit;                // 0 = none
  u8 max_depth;                  // MAX_DEPTH = unlimited
  u8 depth_cap;                  // deepest iteration any "go" may ask for (the -d switch)
  u8 limit_mode;                 // 0 clock, 1 fixed limits, 40 moves-to-go given
  f64 fixed_time;
  f64 increment;      // side to move only
  f64 side_time[2];   // white_time, black_time
  i16 moves_to_go;
  f64 target_time;
  i16 time_extension;
  f64 elapsed;
  f64 search_start;   // monotonic seconds
  std::atomic<u8> stop;
  f64 calibration_nps;  // speed measured at start-up (scaled to the rating model)
  f64 max_elo;          // rating of that speed: the strongest UCI_Elo
  f64 target_nps;       // speed cap of the running search; NO_NPS_LIMIT = none
  f64 limit_nps;        // cap chosen by UCI_Elo, "-nps" or the console, kept while the limit is off
  // Published result (written by thread 0 only).
  std::atomic<i8> iteration_depth;
  i8 report_depth;
  i16 best_score;
  u16 best_pv[MAX_PLY_LINE];  // [1] best move, [2] ponder move
  i8 change_depth;
  u8 single_reply;
  i8 last_depth;
  i16 score_by_depth[MAX_PLY_LINE];
  u64 nodes_by_depth[MAX_PLY_LINE];
  // Sums of the per-thread counters (gather_search_stats).
  u64 total_nodes, eval_probes, eval_hits, hash_probes, hash_hits, pawn_probes, pawn_hits, tb_hits;
  f64 hash_fill;
  u32 ncnt1, ncnt2, ncnt3, ncnt4;

  f64& white_time() { return side_time[0]; }
  f64& black_time() { return side_time[1]; }
  u16 best_move() const { return best_pv[1]; }
  u16 ponder_move() const { return best_pv[2]; }
};

extern SearchControl g_control;

// Start-up values of every field.
void search_control_defaults(SearchControl& c);
// Clears the stop byte, the published result and the per-depth records before a search.
void reset_search_results(SearchControl& c);

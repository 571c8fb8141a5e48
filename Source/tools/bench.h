// The fixed-position benchmark.
#pragma once

#include "board/position.h"

struct BenchHooks {
  Position* game;            // the main thread's position
  void (*prepare_search)();  // per-search set-up of the front end
  bool (*poll)();            // one pass of the front end's command handling; true: stop
};

struct BenchTotals {
  f64 nodes;
  f64 seconds;
};

// Searches the first `count` benchmark positions (20 or 10); with
// single_thread the tool search runs in the calling thread.
BenchTotals run_benchmark(int count, bool single_thread, const BenchHooks& hooks);

extern const char* const BENCH_FENS[20];

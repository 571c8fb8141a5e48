// The front end: start-up, the switch parser, the main loop and shut-down.
#pragma once

#include "engine/game.h"

constexpr const char* ENGINE_NAME = "Vorn 4.0";
constexpr const char* ENGINE_AUTHOR = "Ivo Marsk";
constexpr const char* START_POSITION = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";

// Run modes chosen by the switches.
enum : int {
  MODE_PLAY = 1, MODE_ANEPD = 2, MODE_SCAN_PGN1 = 3, MODE_SCAN_PGN4 = 6, MODE_MATCH = 7,
  MODE_BENCH = 8, MODE_BENCH2 = 9, MODE_PBENCH = 10, MODE_MKBOOK = 11, MODE_MKCONFIG = 12,
  MODE_MKTUNE = 13, MODE_TUNE = 14, MODE_TUNE4 = 15, MODE_TEXEL = 16
};

// Start-up values of the flags, the search control and the options.
void set_defaults();
// Reads the command-line switches (argv[1..argc-1]).
void parse_switches(int argc, char** argv);
// Start-up through the configuration file; false when a resource is missing
// (the process then exits 1).  measure_speed: in play mode, time the machine
// for strength limiting first (0.3 s).
bool engine_startup(int argc, char** argv, bool measure_speed = false);
void engine_shutdown();
// The UCI / console service until "quit" or the end of input.
void engine_loop();
// The whole program; returns the exit code.
int vorn_main(int argc, char** argv);

// The one-thread benchmark of "-pbench" to depth, ending with the node
// count and speed lines testing frameworks read; the game starts anew after it.
void run_bench_command(int depth);

// Derives the search parameters and the evaluation tables from the option slots.
void rebuild_parameters();
// Per-search set-up done by the front end before the threads are woken.
// false when the run has to end (the hash table could not be allocated).
bool prepare_search();
// Reallocates the hash table when the Hash option differs from its size
// (ready for use when this returns); false when no table can be had at all.
// Only while no search thread is busy.
bool resize_hash_table();
// Blocks (sleeping 1 ms at a time) until every search thread is idle.
void wait_threads_idle();

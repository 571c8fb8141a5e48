// Tuning the evaluation parameters against positions labelled with game
// results: the error of a tuning file, the filtered copy of a file, the
// finite-difference tuner and the line search on one parameter.
#pragma once

#include "tools/anepd.h"

// What the tuner needs from the front end besides the tool hooks.
struct TuneHooks {
  ToolHooks tool;
  void (*rebuild)();  // search parameters and evaluation tables from the option slots
};

// Copies each line of source to dest when rand() % 100 is below percent.
void sample_lines(const char* source, const char* dest, int percent);

// Mean |p(s) - r| over the usable lines of the file, s being the depth-0
// score of the position and r the game result from the side to move's
// view; 1.0 when the file cannot be opened, 0.0 when no line counts.  The
// caller sets max_depth 0 and the info threshold 9999.
double tuning_error(const char* file, const TuneHooks& hooks);
// The same error; with write, the lines whose stored scores agree with the
// result go to tune_new.epd (1.0 when it cannot be created).
double make_tuning_file(const char* file, bool write, const TuneHooks& hooks);

// The automatic tuner over the parameters king_safety and p1..p15, logged
// to tune.log.  Ends early, with the log flushed, when "quit" arrives.
void tune_parameters(const char* file, const TuneHooks& hooks);
// Line search on one named parameter over a percent sample of the file; the
// best value is reported, the parameter keeps its value.
void tune_one_parameter(const char* name, const char* file, int percent, const TuneHooks& hooks);

// Expected score of a centipawn advantage: 1 / (1 + 10^(-v / 400)).
double expected_score(double v);
// The game result after " c9 " in an EPD line: 1.0, 0.0, 0.5, or -1 when there is none.
double line_result(const char* line);
// The step scale after a pass whose step magnitudes averaged avg with maximum max.
double adapt_step_scale(double k0, double avg, double max);

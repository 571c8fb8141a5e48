// Fitting the evaluation parameters to game results by gradient descent on
// the evaluation's linear decomposition ("-texel").
#pragma once

#include "tools/tune.h"

struct TexelSettings {
  f64 lambda = 0.5;  // weight of the game result in the label; the rest is the recorded score
  int epochs = 40;
  int batch = 16384;
  f64 rate = 1.0;  // Adam step of the first epoch, centipawns; 8 % less each epoch (-rate)
  f64 l2 = 1.0;    // pull of the refinements toward zero, in units of L2_UNIT (-l2)
  const char* table_file = "texel-weights.inc";
  const char* config_file = "texel-weights.cfg";
};

// Reads the tuning file (EPD lines with a result as c9 "1-0" or [1.0], and
// optionally the recorded score as ce), replaces each position by the end of
// its quiescence line, keeps the quiet, undecided ones and fits every
// registered parameter except the material values; writes the fitted values
// as a source table and as configuration lines.  The option slots are left
// as they were.
void texel_tune(const char* file, const TexelSettings& settings, const TuneHooks& hooks);

// The game result of a tuning line, White's view: 1, 0.5, 0, or -1 when the
// line holds none.
double texel_line_result(const char* line);

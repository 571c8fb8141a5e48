// The front end's side of the tuning tools: the hooks they call back
// through, the "-mktune", "-tune" and "-tune4" modes and the console "tune".
#pragma once

#include "tools/texel.h"
#include "tools/tune.h"

// The settings of "-texel" that the switches change.
extern TexelSettings g_texel_settings;

// Hooks over the game position, the search set-up and the command input.
TuneHooks engine_tune_hooks();
// Runs MODE_MKTUNE, MODE_TUNE, MODE_TUNE4 or MODE_TEXEL to its end or a "quit" line.
void run_tuning_mode(int mode);
// Console "tune name [file] [percent]": a given file and percent are kept for the next time.
void console_tune(const char* name, const char* file, const char* percent);

#include "engine/tuning_modes.h"

#include <cstdio>
#include <cstdlib>

#include "engine/engine.h"
#include "engine/uci.h"
#include "search/control.h"
#include "tools/selfplay.h"

TexelSettings g_texel_settings;

namespace {

void prepare_tool_search() {
  g_control.go_request = STATE_SEARCH;
  prepare_search();
  g_control.go_request = 0;
}

bool quit_requested() { return g_flags.quit != 0; }

}  // namespace

TuneHooks engine_tune_hooks() {
  return TuneHooks{{&game_position(), setup_game_fen, prepare_tool_search, process_command, quit_requested},
                   rebuild_parameters};
}

void run_tuning_mode(int mode) {
  const TuneHooks hooks = engine_tune_hooks();
  if (mode == MODE_MKTUNE) make_tuning_file(g_flags.epd_file, true, hooks);
  if (mode == MODE_TUNE) tune_parameters(g_flags.epd_file, hooks);
  if (mode == MODE_TUNE4) selfplay_match(hooks);
  if (mode == MODE_TEXEL) texel_tune(g_flags.epd_file, g_texel_settings, hooks);
}

void console_tune(const char* name, const char* file, const char* percent) {
  if (!name[0]) return;
  if (file[0]) std::snprintf(g_flags.epd_file, sizeof g_flags.epd_file, "%s", file);
  if (!g_flags.epd_file[0]) std::snprintf(g_flags.epd_file, sizeof g_flags.epd_file, "tune.epd");
  if (percent[0]) g_flags.tune_percent = int(std::strtol(percent, nullptr, 10));
  tune_one_parameter(name, g_flags.epd_file, g_flags.tune_percent, engine_tune_hooks());
}

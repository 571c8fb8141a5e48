#include "engine/engine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/console.h"
#include "engine/log.h"
#include "engine/options.h"
#include "engine/report.h"
#include "engine/strength.h"
#include "engine/tuning_modes.h"
#include "engine/uci.h"
#include "eval/params.h"
#include "fathom/tbcore.h"
#include "platform/output.h"
#include "platform/platform.h"
#include "search/driver.h"
#include "search/control.h"
#include "search/options.h"
#include "search/params.h"
#include "search/thread.h"
#include "search/timeman.h"
#include "search/tt.h"
#include "tools/anepd.h"
#include "tools/bench.h"
#include "tools/mkbook.h"
#include "tools/scan_pgn.h"

namespace {

bool is_switch(const char* arg, const char* name) { return !std::strcmp(arg, name); }

f64 read_decimal(const char* text) { return std::strtod(text, nullptr); }
long long read_integer(const char* text) { return std::strtoll(text, nullptr, 10); }

// Whether text is a whole number (an optional sign, then digits only).
bool is_number(const char* text) {
  if (*text == '-' || *text == '+') ++text;
  if (!*text) return false;
  for (; *text; ++text)
    if (*text < '0' || *text > '9') return false;
  return true;
}

// Whether text reads as a decimal number as a whole.
bool is_decimal(const char* text) {
  char* end = nullptr;
  std::strtod(text, &end);
  return end != text && *end == '\0';
}

void set_text_switch(const char* name, int slot, const char* value) {
  if (std::strlen(value) > std::size_t(OPTION_TEXT_MAX))
    std::fprintf(stderr, "%s: path longer than %d characters refused\n", name, OPTION_TEXT_MAX);
  else
    set_option_text(g_options, slot, value);
}

// A file name a tool mode reads; one too long for its buffer is refused
// rather than cut to a name that may well exist.
template <std::size_t N>
void set_file_switch(const char* name, char (&out)[N], const char* value) {
  if (std::strlen(value) >= N) {
    std::fprintf(stderr, "%s: path longer than %d characters refused\n", name, int(N - 1));
    out[0] = '\0';
  } else {
    std::snprintf(out, N, "%s", value);
  }
}

constexpr const char* HELP_TEXT =
    "Usage: vorn [switches]            UCI engine (\"-c\": console)\n"
    "       vorn bench [depth]         one-thread benchmark (default depth 17)\n"
    "Switches:\n"
    "  -uci / -c            UCI mode (default) / console mode\n"
    "  -hash MB             transposition table size\n"
    "  -threads N           search threads\n"
    "  -book FILE           opening book\n"
    "  -tbpath PATHS        tablebase folders\n"
    "  -cfg FILE            configuration file read at start-up\n"
    "  -d N, -t SEC, -n N   depth, time or node limit\n"
    "  -nps N               speed limit (sets UCI_Elo)\n"
    "  -log, -quiet, -noise SEC\n"
    "  -bench, -bench2, -pbench, -anepd FILE, -mkbook PGN,\n"
    "  -scan_pgn1..4 PGN, -mkconfig, -mktune EPD, -tune EPD, -tune4\n"
    "                       tool modes\n"
    "  -texel EPD           fit the evaluation parameters to the file's results\n"
    "                       (-epochs N, default 40; -lambda X, result weight, 0.5;\n"
    "                       -l2 X, the refinements' pull toward zero, 1;\n"
    "                       -rate X, the first epoch's step in centipawns, 1)\n"
    "  -match FILE          not available in this build\n"
    "  -h, --help           this text;  --version  the version\n"
    "See README.md for the commands and the tool modes.\n";

// Depth of "vorn bench" when none is given: the -pbench default.
constexpr int BENCH_DEFAULT_DEPTH = 17;
int g_bench_depth = 0;  // "bench" given as a plain argument: its depth

// Switches whose tool is not part of this build end the run with a message.
bool mode_available(int mode) {
  return mode == MODE_PLAY || mode == MODE_MKCONFIG || mode == MODE_BENCH ||
         mode == MODE_BENCH2 || mode == MODE_PBENCH || mode == MODE_ANEPD || mode == MODE_MKBOOK ||
         (mode >= MODE_SCAN_PGN1 && mode <= MODE_SCAN_PGN4);
}

void bench_prepare() {
  g_control.go_request = STATE_SEARCH;
  prepare_search();
  g_control.go_request = 0;
}

void wake_search_threads() {
  // The root is copied here, before any thread runs, so a command that
  // changes the game position can never meet a half-made copy.
  start_search_threads(game_position());
}

void start_search() {
  SearchControl& c = g_control;
  Position& pos = game_position();
  if (!prepare_search()) {
    c.go_request = 0;
    return;
  }
  c.result.book_move = 0;
  // A restricted root or a mate hunt is the user's analysis: no book move.
  const bool analysis = c.limits.search_move_count > 0 || c.limits.mate_moves > 0;
  if (Move m = analysis ? MOVE_NONE : book_step(pos)) {
    u16 line[PV_SIZE] = {};
    line[1] = m;
    c.result.set_line(line);
    report_book_move(m);
    // No thread runs: clear their counters so the report does not show the last search's.
    copy_root_to_threads(pos);
    c.result.best_score = 0;
    c.result.book_move = c.result.best_move();
    c.stop = STOP_REPORT;
  }
  // Past the fifty-move limit there is nothing to search: the report follows at once.
  if (pos.fifty_count <= 100 && c.result.best_move() == 0) wake_search_threads();
  c.go_request = 0;
}

// A benchmark reads commands between positions; it stops on "quit", and the
// end of input counts only where it means "quit" (play mode).
bool bench_poll_input() {
  process_command();
  return g_flags.quit != 0;
}

}  // namespace

void rebuild_parameters() {
  build_eval_tables(g_options.slots);
  set_search_params(g_options.slots, g_control.speed.target_nps);
}

bool resize_hash_table() {
  SearchControl& c = g_control;
  if (g_options[SLOT_HASH] == c.config.hash_mb) return true;
  c.config.hash_mb = u16(g_options[SLOT_HASH]);
  if (!tt_allocate()) return false;
  // A smaller table than asked for stands as the setting, so the next
  // search does not try the impossible size again.
  g_options[SLOT_HASH] = i16(c.config.hash_mb);
  return true;
}

void wait_threads_idle() {
  while (count_busy_threads() != 0) sleep_ms(1);
}

void set_defaults() {
  g_flags.quit = 0;
  g_flags.exit_status = -1;
  g_flags.exit_message = "";
  g_info_threshold = 0.0;
  g_flags.debug_echo = 0;
  g_flags.eval_detail = 0;
  g_flags.epd_file[0] = '\0';
  g_flags.tune_percent = 100;
  g_flags.pgn_file[0] = '\0';
  g_flags.uci_mode = 1;
  g_flags.mode = MODE_PLAY;
  g_flags.mode_switch = nullptr;
  g_bench_depth = 0;
  search_control_defaults(g_control);
  option_defaults(g_listed_options);
  g_options = g_listed_options;
  // The parameter registry points into the array it registers: the live one.
  register_eval_params(g_options.slots);
  g_params_changed = true;
  sync_log_option();
}

void parse_switches(int argc, char** argv) {
  SearchControl& c = g_control;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    // The value of a switch that takes one; a missing value reads as empty.
    auto value = [&]() -> const char* {
      if (i + 1 < argc) return argv[++i];
      std::fprintf(stderr, "%s: missing value (ignored)\n", a);
      return "";
    };
    // A numeric value; nothing (false) when it is missing or not a number.
    auto number = [&](bool decimal, const char** out) {
      const char* v = value();
      if (!v[0]) return false;
      if (decimal ? !is_decimal(v) : !is_number(v)) {
        std::fprintf(stderr, "%s: '%s' is not a number (ignored)\n", a, v);
        return false;
      }
      *out = v;
      return true;
    };
    const char* v = "";
    auto tool = [&](int mode) {
      g_flags.mode = mode;
      g_flags.mode_switch = a;
    };
    if (is_switch(a, "-uci")) {
      g_flags.uci_mode = 1;
    } else if (is_switch(a, "-c")) {
      g_flags.uci_mode = 0;
    } else if (is_switch(a, "-log")) {
      g_options[SLOT_LOG] = 1;
    } else if (is_switch(a, "-numa") || is_switch(a, "-uci_extra")) {
      // accepted; nothing to change
    } else if (is_switch(a, "-noise")) {
      if (number(true, &v)) g_info_threshold = read_decimal(v);
    } else if (is_switch(a, "-quiet")) {
      g_options[SLOT_LOG] = 0;
      g_info_threshold = 9999;
    } else if (is_switch(a, "-cfg")) {
      set_text_switch(a, SLOT_CONFIG_FILE, value());
    } else if (is_switch(a, "-d")) {
      if (!number(false, &v)) continue;
      long long d = read_integer(v);
      c.limits.limit_mode = 1;
      c.limits.max_depth = u8(d < 0 ? 0 : d > MAX_DEPTH ? MAX_DEPTH : d);
      c.config.depth_cap = c.limits.max_depth;
      c.limits.fixed_time = 10000;
    } else if (is_switch(a, "-t")) {
      if (!number(true, &v)) continue;
      c.limits.limit_mode = 1;
      c.limits.fixed_time = read_decimal(v);
    } else if (is_switch(a, "-n")) {
      if (!number(false, &v)) continue;
      long long n = read_integer(v);
      c.limits.limit_mode = 1;
      c.limits.fixed_time = 1000;
      c.limits.node_limit = n < 0 ? 0 : n;
    } else if (is_switch(a, "-nps")) {
      // The rating model is undefined near 10 nodes per second; the slowest
      // speed the Elo search ever picks is 30.
      if (!number(true, &v)) continue;
      f64 nps = read_decimal(v);
      if (!(nps >= 30)) nps = 30;
      g_options[SLOT_LIMIT_STRENGTH] = 1;
      set_speed_limit(nps);
      int elo = int(elo_from_nps(nps));
      g_options[SLOT_ELO] = i16(elo > 32767 ? 32767 : elo);
      print_message("Elo= %d", elo);
    } else if (is_switch(a, "-hash")) {
      if (!number(false, &v)) continue;
      long long mb = read_integer(v);
      const long long used = mb < 0 ? 0 : mb > 16384 ? 16384 : mb;
      if (used != mb) std::fprintf(stderr, "%s: %s is outside 0..16384, %lld used\n", a, v, used);
      g_options[SLOT_HASH] = i16(used);
    } else if (is_switch(a, "-threads")) {
      if (!number(false, &v)) continue;
      long long n = read_integer(v);
      g_options[SLOT_THREADS] = i16(n < 1 ? 1 : n > MAX_THREADS ? MAX_THREADS : n);
    } else if (is_switch(a, "-book")) {
      set_text_switch(a, SLOT_BOOK_FILE, value());
    } else if (is_switch(a, "-tbpath")) {
      set_text_switch(a, SLOT_SYZYGY_PATH, value());
    } else if (is_switch(a, "-tbx")) {
      set_text_switch(a, SLOT_SYZYGY_PATH, "C:\\Chess\\Syzygy;C:\\Chess\\Syzygy\\6-Piece");
    } else if (is_switch(a, "-anepd")) {
      tool(MODE_ANEPD);
      set_file_switch(a, g_flags.epd_file, value());
    } else if (std::strstr(a, "-scan_pgn")) {
      if (is_switch(a, "-scan_pgn1")) tool(MODE_SCAN_PGN1);
      if (is_switch(a, "-scan_pgn2")) tool(MODE_SCAN_PGN1 + 1);
      if (is_switch(a, "-scan_pgn3")) tool(MODE_SCAN_PGN1 + 2);
      if (is_switch(a, "-scan_pgn4")) tool(MODE_SCAN_PGN4);
      set_file_switch(a, g_flags.pgn_file, value());
    } else if (is_switch(a, "-match")) {
      tool(MODE_MATCH);
      g_info_threshold = 1000;
      set_file_switch(a, g_flags.pgn_file, value());
    } else if (is_switch(a, "-bench")) {
      tool(MODE_BENCH);
    } else if (is_switch(a, "-bench2")) {
      tool(MODE_BENCH2);
    } else if (is_switch(a, "-pbench")) {
      tool(MODE_PBENCH);
    } else if (is_switch(a, "-mkconfig")) {
      tool(MODE_MKCONFIG);
    } else if (is_switch(a, "-mkbook")) {
      tool(MODE_MKBOOK);
      set_file_switch(a, g_flags.pgn_file, value());
    } else if (is_switch(a, "-mktune")) {
      tool(MODE_MKTUNE);
      c.limits.max_depth = 0;
      g_info_threshold = 9999;
      set_file_switch(a, g_flags.epd_file, value());
    } else if (is_switch(a, "-tune")) {
      tool(MODE_TUNE);
      g_info_threshold = 1000;
      set_file_switch(a, g_flags.epd_file, value());
    } else if (is_switch(a, "-tune4")) {
      tool(MODE_TUNE4);
      g_info_threshold = 1000;
    } else if (is_switch(a, "-texel")) {
      tool(MODE_TEXEL);
      set_file_switch(a, g_flags.epd_file, value());
    } else if (is_switch(a, "-epochs")) {
      if (!number(false, &v)) continue;
      const long long n = read_integer(v);
      g_texel_settings.epochs = int(n < 0 ? 0 : n > 100000 ? 100000 : n);
    } else if (is_switch(a, "-lambda")) {
      if (!number(true, &v)) continue;
      const f64 l = read_decimal(v);
      g_texel_settings.lambda = l < 0 ? 0 : l > 1 ? 1 : l;
    } else if (is_switch(a, "-l2")) {
      if (!number(true, &v)) continue;
      const f64 l = read_decimal(v);
      g_texel_settings.l2 = l < 0 ? 0 : l > 1000 ? 1000 : l;
    } else if (is_switch(a, "-rate")) {
      if (!number(true, &v)) continue;
      const f64 r = read_decimal(v);
      g_texel_settings.rate = r < 0.01 ? 0.01 : r > 100 ? 100 : r;
    } else if (is_switch(a, "bench")) {
      // The benchmark convention of testing frameworks: "vorn bench [depth]".
      tool(MODE_PBENCH);
      g_bench_depth = BENCH_DEFAULT_DEPTH;
      if (i + 1 < argc && is_number(argv[i + 1])) {
        long long d = read_integer(argv[++i]);
        g_bench_depth = int(d < 1 ? 1 : d > MAX_DEPTH ? MAX_DEPTH : d);
      }
    } else {
      std::fprintf(stderr, "%s: unknown switch (ignored)\n", a);
    }
  }
  sync_log_option();
}

bool engine_startup(int argc, char** argv, bool measure_speed) {
  std::srand(unsigned(wall_clock_ms()));
  for (SearchThread*& t : g_threads) t = nullptr;
  if (!create_game_record()) return false;
  init_attacks();
  set_defaults();
  if (argc > 1) parse_switches(argc, argv);
  if (create_search_threads(g_options[SLOT_THREADS]) != 0) return false;
  g_control.config.hash_mb = u16(g_options[SLOT_HASH]);
  if (!tt_allocate()) return false;
  g_options[SLOT_HASH] = i16(g_control.config.hash_mb);
  if (g_options[SLOT_LOG] && !g_output.log_file) open_log();
  g_listed_options = g_options;
  // The speed is measured before the configuration file is read, so that a
  // UCI_Elo given there finds its ceiling.
  if (measure_speed && g_flags.mode == MODE_PLAY) {
    setup_game_fen(START_POSITION);
    calibrate_speed();
  }
  if (g_options.text(SLOT_CONFIG_FILE)[0]) load_config();
  rebuild_parameters();
  g_params_changed = false;
  return true;
}

void engine_shutdown() {
  destroy_search_threads(thread_count());
  free_tablebases();  // only once no thread can probe any more
  tt_free();
  destroy_game_record();
  close_log();
}

bool prepare_search() {
  SearchControl& c = g_control;
  Position& pos = game_position();
  // A size set while a search ran is applied now, before the clock starts.
  if (!resize_hash_table()) {
    request_exit(255, "");
    return false;
  }
  c.clock.search_start = now_seconds();
  c.clock.elapsed = 0;
  pos.owner->search_ply = 1;
  c.limits.root_side = pos.side;
  c.speed.target_nps = g_options[SLOT_LIMIT_STRENGTH] ? c.speed.limit_nps : NO_NPS_LIMIT;
  reset_search_results(c);
  c.config.ponder_allowed = u16(g_options[SLOT_PONDER]);
  c.config.multipv = u8(g_options[SLOT_MULTIPV]);
  c.config.move_overhead = g_options[SLOT_MOVE_OVERHEAD] / 1000.0;
  c.config.notation = g_flags.uci_mode ? Notation::UCI : Notation::CONSOLE;
  c.config.tt_age = u16(c.config.tt_age + 1 > 15 ? 1 : c.config.tt_age + 1);
  if (c.config.hash_mb < 1) c.config.hash_enabled = 0;
  c.search_state = c.go_request.load();
  c.report_held = c.infinite;
  if (g_params_changed) {
    output_line("info string setting search and eval params...");
    rebuild_parameters();
    g_params_changed = false;
  }
  c.clock.target_time = compute_target_time(pos.owner->start_ply + pos.owner->history_count, g_flags.uci_mode != 0, g_options[SLOT_ELO]);
  c.clock.hard_time = compute_hard_time(c.clock.target_time);
  note_search_root(pos);
  if (g_info_threshold < 9999) report_search_start(pos);
  return true;
}

void engine_loop() {
  SearchControl& c = g_control;
  setup_game_fen(START_POSITION);
  if (!g_flags.uci_mode) print_board(game_position());
  g_flags.quit = 0;
  c.go_request = 0;
  while (!g_flags.quit) {
    if (c.go_request == 0) {
      // Nothing running: block on input instead of polling, so an idle
      // engine costs no processor time.  Queued commands run without delay.
      if (!input_ready()) {
        if (c.search_state == STATE_IDLE && count_busy_threads() == 0)
          wait_for_input(500);
        else
          sleep_ms(1);
      }
      if (c.search_state != STATE_IDLE) check_time();
      process_command();
    } else if (c.search_state == STATE_IDLE) {
      start_search();
    }
    if (c.search_state == STATE_IDLE || count_busy_threads() != 0 || c.search_state == STATE_PONDER) continue;
    // "go infinite": only "stop" reports it; "go mate N" also its mate.
    if (c.report_held && !mate_goal_reached(c.result.best_score)) continue;
    report_result();
    // After the end of input self-play ends with the move it has made.
    if (!g_flags.uci_mode && !input_ended()) continue_self_play();
    c.search_state = STATE_IDLE;
  }
}

void run_bench_command(int depth) {
  SearchControl& c = g_control;
  c.stop = STOP_ABORT;
  wait_threads_idle();
  c.search_state = STATE_IDLE;
  c.report_held = 0;
  const SearchLimits saved_limits = c.limits;
  const f64 saved_threshold = g_info_threshold;
  c.limits.search_move_count = 0;
  c.limits.mate_moves = 0;
  c.limits.node_limit = 0;
  c.limits.max_depth = u8(depth < 1 ? BENCH_DEFAULT_DEPTH : depth > MAX_DEPTH ? MAX_DEPTH : depth);
  BenchHooks hooks{&game_position(), bench_prepare, bench_poll_input};
  BenchTotals totals = run_benchmark(10, true, hooks);
  output_format("Nodes searched: %.0f", totals.nodes);
  output_format("Nodes/second: %.0f", totals.nodes / totals.seconds);
  c.limits = saved_limits;
  g_info_threshold = saved_threshold;
  c.search_state = STATE_IDLE;
  // The benchmark played over the game position: a new game follows.
  setup_game_fen(START_POSITION);
}

int vorn_main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (is_switch(argv[i], "--help") || is_switch(argv[i], "-h")) {
      std::fputs(HELP_TEXT, stdout);
      return 0;
    }
    if (is_switch(argv[i], "--version")) {
      std::printf("%s\n", ENGINE_NAME);
      return 0;
    }
  }
  if (!engine_startup(argc, argv, true)) return 1;
  int rc = 0;
  // Every tool and benchmark runs to the end of its work or a "quit" line,
  // not to the end of input.
  if (g_flags.mode != MODE_PLAY) set_end_of_input_quits(false);
  if (g_flags.mode == MODE_PLAY) {
    const char* tb_path = g_options.text(SLOT_SYZYGY_PATH);
    if (tb_path[0] && !tablebases_loaded_from(tb_path)) init_tablebases(tb_path);
    engine_loop();
  } else if (g_flags.mode == MODE_BENCH || g_flags.mode == MODE_BENCH2 || g_flags.mode == MODE_PBENCH) {
    if (g_bench_depth > 0) {
      run_bench_command(g_bench_depth);
    } else {
      BenchHooks hooks{&game_position(), bench_prepare, bench_poll_input};
      run_benchmark(g_flags.mode == MODE_PBENCH ? 10 : 20, g_flags.mode == MODE_PBENCH, hooks);
    }
  } else if (g_flags.mode == MODE_ANEPD) {
    ToolHooks hooks{&game_position(), setup_game_fen, bench_prepare, process_command,
                    [] { return g_flags.quit != 0; }};
    analyze_epd(g_flags.epd_file, hooks);
  } else if (g_flags.mode == MODE_MKBOOK) {
    build_book(g_flags.pgn_file);
  } else if (g_flags.mode >= MODE_SCAN_PGN1 && g_flags.mode <= MODE_SCAN_PGN4) {
    scan_pgn(g_flags.pgn_file, g_flags.mode - MODE_SCAN_PGN1 + 1);
  } else if (g_flags.mode == MODE_MKCONFIG) {
    if (!write_config("vorn.cfg")) rc = 1;
  } else if (g_flags.mode >= MODE_MKTUNE && g_flags.mode <= MODE_TEXEL) {
    run_tuning_mode(g_flags.mode);
  } else if (!mode_available(g_flags.mode)) {
    std::fprintf(stderr, "%s: this mode is not available in this build\n", g_flags.mode_switch);
    rc = 2;
  }
  engine_shutdown();
  if (int status = g_flags.exit_status; status >= 0) {
    if (const char* message = g_flags.exit_message; message[0]) output_line(message);
    return status;
  }
  return rc;
}

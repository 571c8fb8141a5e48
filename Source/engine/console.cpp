#include "engine/console.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "board/movegen.h"
#include "board/notation.h"
#include "board/perft.h"
#include "engine/report.h"
#include "board/see.h"
#include "engine/console_games.h"
#include "engine/tuning_modes.h"
#include "engine/engine.h"
#include "engine/log.h"
#include "engine/options.h"
#include "engine/strength.h"
#include "engine/uci.h"
#include "platform/output.h"
#include "platform/platform.h"
#include "search/control.h"
#include "search/driver.h"
#include "search/options.h"
#include "search/params.h"
#include "search/picker.h"
#include "search/thread.h"
#include "search/tt.h"
#include "search/ttprobe.h"
#include "tools/pgn.h"

bool g_self_play = false;

namespace {

constexpr int MAX_WORDS = 10;
constexpr int WORD_LEN = 127;

struct Words {
  char w[MAX_WORDS][WORD_LEN + 1];
};

void split_words(const char* line, Words& words) {
  std::memset(&words, 0, sizeof words);
  const char* p = line;
  for (int i = 0; i < MAX_WORDS; ++i) {
    while (*p == ' ') ++p;
    int n = 0;
    while (*p && *p != ' ') {
      if (n < WORD_LEN) words.w[i][n++] = *p;
      ++p;
    }
  }
}

constexpr const char* HELP_LINES[] = {
    "new                  the start position",
    "fen FEN              set up a position",
    "e4, Nf3, g1f3, move M  play a move (the engine does not answer by itself)",
    "undo or [, ]         take the last move back, play it again",
    "mv                   search the position under the current limits",
    "go N or an N         analyse to depth N (\".\" stops)",
    ".                    stop the search or analysis",
    "self                 the engine plays both sides",
    "bd                   show the board",
    "pv                   the best line stored in the hash table",
    "ev                   the evaluation in detail",
    "sp                   the evaluation tables",
    "lmr                  the search parameters",
    "swap                 exchange values of the attacked pieces",
    "book                 the book moves of the position",
    "perft N              count the move tree to depth N",
    "bench [N]            the benchmark (depth N)",
    "get ID               the position with id \"ID\" from test.epd",
    "load FILE [N|TEXT]   game N of a PGN file, or the first game with TEXT",
    "jump PLY             move along the loaded game",
    "save                 append the game to tmp.pgn",
    "edit                 the board editor",
    "tune NAME [FILE] [PERCENT]  line search on one evaluation parameter",
    "trace N              trace the search to depth N into trace.txt (0: off)",
    "set NAME VALUE       an option (as in the UCI listing) or hash, noise, multipv, debug,",
    "                     level, depth, target_nps, ss, NMP_depth, SEP_depth, FP_depth,",
    "                     ProbCut_depth, LMP_depth, LMR_depth, ponder",
    "uci                  switch to UCI mode",
    "help or ?            this list",
    "quit                 leave the program",
};

// Whether text has the shape of a move in standard or coordinate notation
// ("Nbd7", "exd8=Q+", "O-O", "e7e8q"), legal or not.
bool looks_like_move(const char* text) {
  char buf[16];
  int n = 0;
  for (const char* p = text; *p; ++p) {
    if (std::strchr("x=-+#!?", *p)) continue;
    if (n == 15) return false;
    buf[n++] = *p;
  }
  buf[n] = '\0';
  if (!std::strcmp(buf, "OO") || !std::strcmp(buf, "OOO") || !std::strcmp(buf, "00") || !std::strcmp(buf, "000"))
    return true;
  const char* p = buf;
  if (*p && std::strchr("NBRQK", *p)) ++p;
  auto is_file = [](char c) { return c >= 'a' && c <= 'h'; };
  auto is_rank = [](char c) { return c >= '1' && c <= '8'; };
  int len = int(std::strlen(p));
  if (len > 0 && std::strchr("NBRQnbrq", p[len - 1]) && len >= 3 && is_rank(p[len - 2])) --len;
  if (len < 2 || len > 4 || !is_file(p[len - 2]) || !is_rank(p[len - 1])) return false;
  for (int i = 0; i < len - 2; ++i)
    if (!is_file(p[i]) && !is_rank(p[i])) return false;
  return true;
}

// The text after the first two words of a line ("set NAME VALUE..."),
// without the blanks around it.
const char* value_text(const char* line) {
  static char value[256];
  const char* p = line;
  for (int word = 0; word < 2; ++word) {
    p += std::strspn(p, " \t");
    p += std::strcspn(p, " \t");
  }
  p += std::strspn(p, " \t");
  std::snprintf(value, sizeof value, "%s", p);
  size_t n = std::strlen(value);
  while (n > 0 && (value[n - 1] == ' ' || value[n - 1] == '\t' || value[n - 1] == '\r')) value[--n] = '\0';
  return value;
}

// Commands that change the game position first end any search, so the
// threads never read a position that is being rewritten.
void abort_search() {
  g_control.stop = STOP_ABORT;
  wait_threads_idle();
}

// "ev": the traced evaluation of the game position with its quiescence
// score.  It borrows thread 0's record, so it is ignored while a search runs.
bool print_evaluation() {
  if (!g_threads[0] || count_busy_threads() != 0) return false;
  Position& pos = game_position();
  int qscore = root_quiescence(pos);
  evaluate(g_threads[0]->eval, pos, 1, nullptr, false, true);
  print_eval_trace(qscore);
  return true;
}

int move_number() {
  const GameHistory& h = *game_position().owner;
  return (h.start_ply + h.history_count) / 2 + 1;
}

void play_typed_move(const char* text) {
  Position& pos = game_position();
  Move m;
  if (!text[0]) return;
  // Standard notation first, exact about which piece moves; then the other
  // forms the engine reads ("g1f3", "e7e8q").
  int standard = standard_move_matches(pos, text, &m);
  int matches = standard == 1 ? 1 : count_move_matches(pos, text, &m);
  if (matches != 1) {
    if (matches > 1 || standard > 1)
      output_format("ambiguous move '%s'", text);
    else if (looks_like_move(text))
      output_format("illegal move '%s'", text);
    else
      output_format("unknown command or move '%s' (\"help\" lists the commands)", text);
    return;
  }
  abort_search();
  output_format("%d. move %s", move_number(), text);
  make_move(pos, m);
  history_trim(pos);
  // A new move ends the line that "]" could replay.
  pos.owner->entries[pos.owner->history_count].move = 0;
  show_board();
}

void undo_move() {
  abort_search();
  Position& pos = game_position();
  if (pos.owner->history_count > 0) unmake_move(pos);
  show_board();
}

void redo_move() {
  abort_search();
  Position& pos = game_position();
  GameHistory& h = *pos.owner;
  Move m = h.history_count < HISTORY_SIZE ? Move(h.entries[h.history_count].move) : MOVE_NONE;
  // The stored move is replayed only while it still fits the position.
  Move legal[MAX_MOVES];
  int n = gen_legal(pos, legal);
  bool ok = false;
  for (int i = 0; i < n && m; ++i) ok |= legal[i] == m;
  if (ok) {
    char text[16];
    move_to_text(m, text, Notation::CONSOLE);
    output_format("%d%s move %s", move_number(), pos.side == WHITE ? "." : "...", text);
    make_move(pos, m);
    history_trim(pos);
  }
  show_board();
}

// "go" / "an": analyse to a depth (1..65) until "." or the depth is reached.
void start_analysis(const char* depth_text) {
  SearchControl& c = g_control;
  long long d = std::strtoll(depth_text, nullptr, 10);
  c.limits.limit_mode = 1;
  c.limits.fixed_time = 99999;
  c.limits.max_depth = u8(d >= 1 && d < MAX_DEPTH ? d : MAX_DEPTH);
  if (c.config.hash_enabled <= 1) clear_hash_if_idle();
  c.go_request = REQUEST_ANALYSE;
}

// Follows the table's moves from the game position and prints them in SAN.
void print_table_pv() {
  Position& pos = game_position();
  u16 pv[PV_SIZE] = {};
  if (g_control.config.hash_enabled && g_tt.buffer) {
    // The root itself is not stored in the table: start from the last
    // search's move, but only in the position that search was about.
    const SearchThread* root = g_threads[0];
    const Move last = g_control.result.best_move();
    if (root && count_busy_threads() == 0 && root->pos.hash_key == pos.hash_key && is_pseudo_legal(pos, pos.side, last))
      pv[1] = last;
    pv_from_table(pos, 1, pv);
  }
  char text[1200] = "";
  size_t len = 0;
  int played = 0;
  for (int i = 1; i < PV_SIZE && i <= MAX_LINE_MOVES && pv[i]; ++i) {
    char co[24], san[24], sf[24], sr[24];
    if (!is_pseudo_legal(pos, pos.side, pv[i]) || !is_legal(pos, pos.side, pv[i])) break;
    move_to_san(pos, pv[i], co, san, sf, sr);
    int n = std::snprintf(text + len, sizeof text - len, "%s%s", played ? " " : "", san);
    if (n < 0 || size_t(n) >= sizeof text - len) break;
    len += size_t(n);
    make_move(pos, pv[i]);
    ++played;
  }
  output_format("PV: %s\n", text);
  show_board();
  while (played--) unmake_move(pos);
}

void set_command(const Words& words, const char* rest) {
  SearchControl& c = g_control;
  const char* name = words.w[1];
  const char* value = words.w[2];
  long long v = std::strtoll(value, nullptr, 10);
  auto clamp16 = [](long long x) { return i16(x < -32768 ? -32768 : x > 32767 ? 32767 : x); };
  struct Named {
    const char* name;
    int slot;
  } slots[] = {{"NMP_depth", SLOT_NMP_DEPTH}, {"SEP_depth", SLOT_SEP_DEPTH},         {"FP_depth", SLOT_FP_DEPTH},
               {"ProbCut_depth", SLOT_PROBCUT_DEPTH}, {"LMP_depth", SLOT_LMP_DEPTH}, {"LMR_depth", SLOT_LMR_DEPTH},
               {"Selectivity", SLOT_SELECTIVITY},     {"ponder", SLOT_PONDER}};
  if (!std::strcmp(name, "hash")) {
    c.config.hash_enabled = u8(v < 0 ? 0 : v > 255 ? 255 : v);
  } else if (!std::strcmp(name, "noise")) {
    g_info_threshold = std::strtod(value, nullptr);
  } else if (std::strstr(name, "multipv")) {
    g_options[SLOT_MULTIPV] = i16(v < 1 ? 1 : v > 255 ? 255 : v);
  } else if (!std::strcmp(name, "debug")) {
    g_flags.eval_detail = u16(v);
  } else if (!std::strcmp(name, "level")) {
    long long moves = v < 0 ? 0 : v > 1000 ? 1000 : v;
    const char* t = words.w[3];
    f64 seconds = std::strtod(t, nullptr);
    if (const char* colon = std::strchr(t, ':')) seconds = seconds * 60 + std::strtod(colon + 1, nullptr);
    f64 inc = std::strtod(words.w[4], nullptr);
    c.limits.limit_mode = u8(moves);
    c.limits.fixed_time = seconds;
    c.limits.side_time[WHITE] = c.limits.side_time[BLACK] = seconds;
    c.limits.increment = inc;
    output_format("set level to %d moves in %0.2f seconds, inc %0.2f", int(moves), seconds, inc);
  } else if (!std::strcmp(name, "target_nps")) {
    g_options[SLOT_LIMIT_STRENGTH] = 1;
    set_speed_limit(f64(v));
    output_format("target_nps set to %.0f", c.speed.target_nps.load());
  } else if (!std::strcmp(name, "depth")) {
    c.limits.max_depth = u8(v < 1 ? 1 : v > MAX_DEPTH ? MAX_DEPTH : v);
  } else if (!std::strcmp(name, "ss")) {
    if (v == 1) {
      g_options = g_listed_options;
      output_line("set default personality");
    } else {
      g_options[SLOT_NMP_DEPTH] = 99;
      g_options[SLOT_SEP_DEPTH] = 0;
      g_options[SLOT_LMP_DEPTH] = 0;
      g_options[SLOT_LMR_DEPTH] = 99;
      output_line("selectivity set to OFF");
    }
  } else if (const Named* n = std::find_if(std::begin(slots), std::end(slots),
                                            [&](const Named& s) { return !std::strcmp(name, s.name); });
             n != std::end(slots)) {
    g_options[n->slot] = clamp16(v);
    output_format("%s set to %d", n->name, int(g_options[n->slot]));
  } else if (option_known(name)) {
    // Every option of the UCI listing, as "setoption" sets it; a text value
    // (a book or tablebase path) is the rest of the line, blanks and all.
    set_option(name, rest);
    g_listed_options = g_options;
  } else {
    output_format("unknown setting '%s' (\"help\" lists the commands)", name);
  }
  g_params_changed = true;
}

void print_swaps() {
  Position& pos = game_position();
  Bitboard occ = pos.occupied();
  for (int sq = 0; sq < 64; ++sq) {
    int piece = pos.board[sq];
    if (piece == EMPTY) continue;
    int them = colour_of(piece) ^ 1;
    if (!is_attacked(pos, sq, them)) continue;
    int value = see_swap(pos, them, NO_SQUARE, sq, occ, false);
    output_format("sq= %s, swap= %4d", SQUARE_NAMES[sq], value);
  }
}

}  // namespace

void run_perft_command(const char* depth_text) {
  long long d = std::strtoll(next_token(depth_text), nullptr, 10);
  int depth = d < 0 ? 0 : d > 20 ? 20 : int(d);
  abort_search();
  g_control.clock.search_start = now_seconds();
  bool stopped = false;
  auto per_move = [](Move m, u64 count) {
    char text[8];
    move_to_text(m, text, Notation::UCI);
    output_format("%s: %llu", text, static_cast<unsigned long long>(count));
  };
  u64 nodes = depth > 0 ? perft_divide(game_position(), depth, per_move, stop_line_pending, &stopped) : 0;
  g_control.clock.elapsed = now_seconds() - g_control.clock.search_start;
  // A partial count is no perft figure: it must not read as one.
  if (stopped) {
    print_message("perft interrupted");
    return;
  }
  output_format("\nNodes searched: %llu", static_cast<unsigned long long>(nodes));
  if (g_flags.uci_mode) return;
  output_format("visited %0.0f nodes in %0.3f seconds, nps= %0.0f", f64(nodes), g_control.clock.elapsed.load(),
                f64(nodes) / (g_control.clock.elapsed + 0.001));
}

void show_board() {
  if (!g_flags.eval_detail || !print_evaluation()) print_board(game_position());
}

void continue_self_play() {
  if (!g_self_play) return;
  SearchControl& c = g_control;
  Position& pos = game_position();
  c.limits.side_time[pos.side] = c.limits.side_time[pos.side] - c.clock.elapsed + c.limits.increment;
  if (Move m = c.result.best_move()) {
    make_move(pos, m);
    history_trim(pos);
    print_board(pos);
    c.go_request = STATE_SEARCH;
  } else {
    g_self_play = false;
  }
}

void console_command(const char* line) {
  if (games_command(line)) return;
  Words words;
  split_words(line, words);
  const char* cmd = words.w[0];
  if (!std::strcmp(cmd, "new")) {
    abort_search();
    setup_game_fen(START_POSITION);
    show_board();
    g_control.limits.side_time[WHITE] = g_control.limits.side_time[BLACK] = g_control.limits.fixed_time;
  } else if (!std::strcmp(cmd, "fen")) {
    abort_search();
    const char* fen = std::strstr(line, "fen") + 3;
    setup_game_fen(fen);
    show_board();
  } else if (!std::strcmp(cmd, "quit")) {
    g_control.stop = STOP_ABORT;
    g_control.report_held = 0;
    g_flags.quit = 1;
  } else if (!std::strcmp(cmd, "bd")) {
    show_board();
  } else if (!std::strcmp(cmd, "undo") || !std::strcmp(cmd, "[")) {
    undo_move();
  } else if (!std::strcmp(cmd, "]")) {
    redo_move();
  } else if (!std::strcmp(cmd, "perft")) {
    char* end = nullptr;
    std::strtol(words.w[1], &end, 10);
    if (!words.w[1][0] || *end)
      output_line("usage: perft DEPTH (1..20): count the move tree of the position to DEPTH");
    else
      run_perft_command(words.w[1]);
  } else if (!std::strcmp(cmd, "help") || !std::strcmp(cmd, "?")) {
    for (const char* help : HELP_LINES) output_line(help);
  } else if (!std::strcmp(cmd, "bench")) {
    run_bench_command(int(std::strtol(words.w[1], nullptr, 10)));
  } else if (!std::strcmp(cmd, "swap")) {
    print_swaps();
  } else if (!std::strcmp(cmd, "mv")) {
    abort_search();
    g_control.go_request = STATE_SEARCH;
  } else if (!std::strcmp(cmd, "go") || !std::strcmp(cmd, "an")) {
    abort_search();
    start_analysis(words.w[1]);
  } else if (!std::strcmp(cmd, ".")) {
    g_control.stop = STOP_ABORT;
  } else if (!std::strcmp(cmd, "self")) {
    abort_search();
    g_self_play = true;
    g_options[SLOT_PONDER] = 0;
    g_control.go_request = STATE_SEARCH;
  } else if (!std::strcmp(cmd, "book")) {
    probe_own_book(game_position());
    output_line("");
  } else if (!std::strcmp(cmd, "pv")) {
    print_table_pv();
  } else if (!std::strcmp(cmd, "trace")) {
    set_trace_depth(int(std::strtol(words.w[1], nullptr, 10)));
  } else if (!std::strcmp(cmd, "ev")) {
    print_evaluation();
  } else if (!std::strcmp(cmd, "sp")) {
    print_eval_tables();
  } else if (!std::strcmp(cmd, "tune")) {
    console_tune(words.w[1], words.w[2], words.w[3]);
  } else if (!std::strcmp(cmd, "lmr")) {
    set_search_params(g_options.slots, g_control.speed.target_nps);
    print_search_params();
  } else if (!std::strcmp(cmd, "set")) {
    set_command(words, value_text(line));
  } else if (!std::strcmp(cmd, "move")) {
    play_typed_move(words.w[1]);
  } else {
    play_typed_move(cmd);
  }
}

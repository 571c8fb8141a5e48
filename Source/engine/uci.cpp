#include "engine/uci.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/fen_check.h"
#include "board/movegen.h"
#include "board/notation.h"
#include "engine/console.h"
#include "engine/engine.h"
#include "engine/options.h"
#include "engine/report.h"
#include "eval/params.h"
#include "platform/output.h"
#include "platform/platform.h"
#include "search/control.h"
#include "search/params.h"
#include "search/thread.h"
#include "search/tt.h"

namespace {

// Longest line taken as one command (a move list of well over 10 000
// plies fits); a longer line is refused whole, never cut.
constexpr int LINE_LIMIT = 1 << 17;
constexpr int QUEUE_LINES = 16;

struct InputState {
  char raw[LINE_LIMIT + 1];  // bytes of the last read not yet split into lines
  int raw_pos, raw_len;
  char partial[LINE_LIMIT + 1];  // a line still waiting for its newline
  int partial_len;
  bool overlong;  // the line being read passed LINE_LIMIT: dropped up to its newline
  char lines[QUEUE_LINES][LINE_LIMIT + 1];  // complete lines, oldest at head
  int head, count;
  bool end_of_input;
  bool end_handled;  // the end of input was acted on (a quit, or a stop and then a quit)
};

InputState g_in;
bool g_end_of_input_quits = true;

void push_line(const char* text, int len) {
  int slot = (g_in.head + g_in.count) % QUEUE_LINES;
  std::memcpy(g_in.lines[slot], text, len);
  g_in.lines[slot][len] = '\0';
  ++g_in.count;
}

// Moves bytes of the last read into complete lines while the queue has room;
// what does not fit waits in raw for a later call.
void split_raw() {
  while (g_in.raw_pos < g_in.raw_len && g_in.count < QUEUE_LINES) {
    char ch = g_in.raw[g_in.raw_pos++];
    if (ch == '\n' || ch == '\0') {
      if (g_in.overlong)
        print_message("input line longer than %d characters ignored", LINE_LIMIT);
      else if (g_in.partial_len > 0)
        push_line(g_in.partial, g_in.partial_len);
      g_in.partial_len = 0;
      g_in.overlong = false;
    } else if (!g_in.overlong) {
      g_in.partial[g_in.partial_len++] = ch;
      if (g_in.partial_len == LINE_LIMIT) {
        g_in.overlong = true;
        g_in.partial_len = 0;
      }
    }
  }
}

void read_pending_input() {
  split_raw();
  if (g_in.end_of_input && g_in.raw_pos >= g_in.raw_len && g_in.partial_len > 0 && g_in.count < QUEUE_LINES) {
    push_line(g_in.partial, g_in.partial_len);
    g_in.partial_len = 0;
  }
  if (g_in.end_of_input && g_in.overlong) {
    print_message("input line longer than %d characters ignored", LINE_LIMIT);
    g_in.overlong = false;
  }
  if (g_in.raw_pos < g_in.raw_len || g_in.end_of_input || !input_pending()) return;
  int n = read_input(g_in.raw, LINE_LIMIT);
  if (n < 0) return;
  if (n == 0) {
    // A last line without its newline still counts (queued on the next call).
    g_in.end_of_input = true;
    return;
  }
  g_in.raw_pos = 0;
  g_in.raw_len = n;
  split_raw();
}

// Finds word as a whole blank-delimited word in text.
const char* find_word(const char* text, const char* word) {
  std::size_t n = std::strlen(word);
  for (const char* p = std::strstr(text, word); p; p = std::strstr(p + 1, word)) {
    bool starts = p == text || p[-1] == ' ' || p[-1] == '\t';
    bool ends = p[n] == '\0' || p[n] == ' ' || p[n] == '\t';
    if (starts && ends) return p;
  }
  return nullptr;
}

// Copies [begin, end) without the blanks at either end into out (size cap + 1).
void copy_trimmed(const char* begin, const char* end, char* out, int cap) {
  while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
  int n = int(end - begin) > cap ? cap : int(end - begin);
  std::memcpy(out, begin, n);
  out[n] = '\0';
}

void uci_reply() {
  g_flags.uci_mode = 1;
  output_format("id name %s", ENGINE_NAME);
  output_format("id author %s", ENGINE_AUTHOR);
  print_option_lines();
  output_line("uciok");
}

void uci_setoption(const char* params) {
  char name[101] = "", value[201] = "";
  const char* n = find_word(params, "name");
  const char* v = find_word(params, "value");
  if (n && v && n < v) {
    copy_trimmed(n + 4, v, name, 100);
    copy_trimmed(v + 5, v + std::strlen(v), value, 200);
  } else if (n && !v) {
    copy_trimmed(n + 4, n + std::strlen(n), name, 100);
  }
  if (name[0] && !set_option(name, value)) output_format("info string no such option: %s", name);
  g_listed_options = g_options;
  g_params_changed = true;
}

void uci_newgame() {
  g_control.stop = STOP_ABORT;
  wait_threads_idle();
  g_control.limits.increment = 0;
  g_control.limits.limit_mode = 0;
  g_control.limits.fixed_time = 60.0;
  g_control.limits.side_time[WHITE] = g_control.limits.side_time[BLACK] = 60.0;
  game_position().owner->history_count = 0;
  clear_hash_if_idle();
  g_control.config.tt_age = 0;
}

// Reads a move in coordinate form; false when the text is no such move.
bool read_coordinate_move(const char* text, Move* move) {
  std::size_t len = std::strlen(text);
  if (len < 4 || len > 5) return false;
  if (text[0] < 'a' || text[0] > 'h' || text[1] < '1' || text[1] > '8') return false;
  if (text[2] < 'a' || text[2] > 'h' || text[3] < '1' || text[3] > '8') return false;
  int from = (text[0] - 'a') + 8 * (text[1] - '1');
  int to = (text[2] - 'a') + 8 * (text[3] - '1');
  Move m = make_move_code(from, to);
  if (len == 5) {
    switch (text[4]) {
      case 'q': m |= PROMO_QUEEN; break;
      case 'n': m |= PROMO_KNIGHT; break;
      case 'b': m |= PROMO_BISHOP; break;
      case 'r': m |= PROMO_ROOK; break;
      default: return false;
    }
  }
  *move = m;
  return true;
}

bool is_legal_move(const Position& pos, Move m) {
  Move legal[MAX_MOVES];
  int n = gen_legal(pos, legal);
  for (int i = 0; i < n; ++i)
    if (legal[i] == m) return true;
  return false;
}

// Blank-separated words of a move list, one at a time; a word longer than
// the buffer is marked too long (and its head kept for the message).
struct MoveWord {
  const char* p;
  const char* start = nullptr;
  char word[16] = "";
  bool too_long = false;

  bool next() {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) return false;
    start = p;
    int n = 0;
    while (*p && *p != ' ' && *p != '\t') {
      if (n < 15) word[n++] = *p;
      ++p;
    }
    word[n] = '\0';
    too_long = p - start > 15;
    return true;
  }
};

void uci_position(const char* params) {
  char head[LINE_LIMIT + 1];
  std::snprintf(head, sizeof head, "%s", params);
  const char* move_list = nullptr;
  if (char* moves = const_cast<char*>(find_word(head, "moves"))) {
    move_list = params + (moves - head) + 5;
    *moves = '\0';
  }
  if (find_word(head, "startpos")) {
    setup_game_fen(START_POSITION);
  } else if (const char* fen = find_word(head, "fen")) {
    // A refused position also drops its moves: they belong to it.
    if (!setup_game_fen(fen + 3)) return;
  } else {
    return;
  }
  if (!move_list) return;
  Position& pos = game_position();
  for (MoveWord w{move_list}; w.next();) {
    const char* word = w.word;
    const char* start = w.start;
    Move m;
    if (w.too_long || !read_coordinate_move(word, &m)) {
      print_message("unreadable move %.15s; moves from here on ignored", start);
      break;
    }
    if (!is_legal_move(pos, m)) {
      print_message("illegal move %s; moves from here on ignored", word);
      break;
    }
    make_move(pos, m);
    history_trim(pos);
  }
  pos.owner->entries[pos.owner->history_count].move = 0;
}

// Value of a "go" parameter: the word that starts `skip` characters after
// the parameter's name.
long long go_value(const char* params, const char* name, int skip) {
  const char* p = std::strstr(params, name);
  if (!p) return 0;
  std::size_t len = std::strlen(p);
  if (std::size_t(skip) > len) return 0;
  return std::strtoll(next_token(p + skip), nullptr, 10);
}

// Words of a "go" command that end a "searchmoves" list.
bool is_go_word(const char* word) {
  static const char* const WORDS[] = {"wtime", "btime", "winc", "binc", "movestogo", "depth", "nodes",
                                      "mate", "movetime", "infinite", "ponder", "perft"};
  for (const char* w : WORDS)
    if (!std::strcmp(word, w)) return true;
  return false;
}

// Reads the moves after "searchmoves" that are legal here; unknown and
// illegal ones are dropped (none left: every move stays allowed).
void read_search_moves(const char* list, SearchLimits& limits) {
  limits.search_move_count = 0;
  const Position& pos = game_position();
  for (MoveWord w{list}; w.next();) {
    if (!w.too_long && is_go_word(w.word)) break;
    Move m;
    if (w.too_long || !read_coordinate_move(w.word, &m) || !is_legal_move(pos, m)) continue;
    bool seen = false;
    for (int i = 0; i < limits.search_move_count; ++i) seen |= limits.search_moves[i] == m;
    if (!seen && limits.search_move_count < MAX_MOVES) limits.search_moves[limits.search_move_count++] = m;
  }
}

void uci_go(const char* params) {
  SearchControl& c = g_control;
  if (!std::strcmp(next_token(params), "perft")) {
    run_perft_command(params + std::strspn(params, " ") + 5);
    return;
  }
  c.stop = STOP_ABORT;
  // The limits below are read by the threads: they are written only once
  // the last search has wound down.
  wait_threads_idle();
  if (c.report_held && c.search_state != STATE_IDLE) {
    // "go infinite" answers only "stop": replaced by a new search, it ends
    // without a report, so this "go" gets exactly one "bestmove".
    c.search_state = STATE_IDLE;
  }
  // A search still pondering is reported like a stopped one, so the loop can
  // go on to the new search.
  if (c.search_state != STATE_IDLE) c.search_state = STATE_SEARCH;
  c.limits.limit_mode = 0;
  c.infinite = 0;
  c.report_held = 0;
  // Limits of an earlier "go" do not carry over.
  c.limits.max_depth = c.config.depth_cap;
  c.limits.node_limit = 0;
  c.limits.increment = 0;
  c.limits.search_move_count = 0;
  c.limits.mate_moves = 0;
  if (const char* list = find_word(params, "searchmoves")) read_search_moves(list + 11, c.limits);
  int side = game_position().side;
  // A fixed-limit search leaves the clocks at its own time; a "go" without
  // clocks starts again from the default rather than from that.
  if (!std::strstr(params, "wtime")) c.limits.side_time[WHITE] = 5.0;
  if (!std::strstr(params, "btime")) c.limits.side_time[BLACK] = 5.0;
  if (std::strstr(params, "wtime")) {
    f64 t = go_value(params, "wtime", 6) / 1000.0;
    c.limits.side_time[WHITE] = t < 0 ? 0 : t;
  }
  if (std::strstr(params, "btime")) {
    f64 t = go_value(params, "btime", 6) / 1000.0;
    c.limits.side_time[BLACK] = t < 0 ? 0 : t;
  }
  if (std::strstr(params, "winc") && side == WHITE) c.limits.increment = go_value(params, "winc", 5) / 1000.0;
  if (std::strstr(params, "binc") && side == BLACK) c.limits.increment = go_value(params, "binc", 5) / 1000.0;
  if (std::strstr(params, "movestogo")) {
    c.limits.limit_mode = 40;
    c.limits.max_depth = c.config.depth_cap;
    long long v = go_value(params, "movestogo", 10);
    c.limits.moves_to_go = i16(v < 0 ? 0 : v > 10000 ? 10000 : v);
    c.limits.node_limit = 0;
  }
  if (std::strstr(params, "depth")) {
    long long d = go_value(params, "depth", 6);
    c.limits.limit_mode = 1;
    c.limits.max_depth = u8(d < 1 ? 1 : d > c.config.depth_cap ? c.config.depth_cap : d);
    c.limits.fixed_time = 10000000.0;
  }
  if (std::strstr(params, "nodes")) {
    long long n = go_value(params, "nodes", 6);
    if (n < 0) n = 0;
    if (n > (1LL << 52)) n = 1LL << 52;  // room for the jitter below
    c.limits.limit_mode = 1;
    c.limits.node_limit = n + n * (40 - (std::rand() % 80)) / 1000;
    c.limits.fixed_time = 10000000.0;
  }
  if (std::strstr(params, "movetime")) {
    c.limits.limit_mode = 1;
    c.limits.increment = 0;
    c.limits.fixed_time = go_value(params, "movetime", 9) / 1000.0;
  }
  if (const char* mate = find_word(params, "mate")) {
    long long n = std::strtoll(next_token(mate + 4), nullptr, 10);
    c.limits.mate_moves = int(n < 1 ? 1 : n > 100 ? 100 : n);
    // Without any other limit it searches until its mate or "stop".
    static const char* const LIMITS[] = {"wtime", "btime", "movetime", "depth", "nodes", "movestogo"};
    bool limited = false;
    for (const char* l : LIMITS) limited |= find_word(params, l) != nullptr;
    if (!limited) {
      c.limits.limit_mode = 1;
      c.limits.fixed_time = 10000000.0;
      c.infinite = 1;
    }
  }
  if (std::strstr(params, "infinite")) {
    c.limits.increment = 0;
    c.limits.node_limit = 0;
    c.limits.max_depth = c.config.depth_cap;
    c.limits.limit_mode = 1;
    c.limits.fixed_time = 10000000.0;
    c.infinite = 1;
  }
  c.go_request = std::strstr(params, "ponder") ? STATE_PONDER : STATE_SEARCH;
  if (c.go_request == STATE_PONDER) c.config.gui_ponders = 1;
}

void uci_stop() {
  if (g_control.search_state != STATE_IDLE) g_control.search_state = STATE_SEARCH;
  g_control.report_held = 0;
  g_control.stop = STOP_REPORT;
  wait_threads_idle();
}

void uci_command(const char* cmd) {
  if (!cmd[0]) return;
  if (g_flags.debug_echo) log_only("CMD: %s", cmd);
  const char* p = cmd;
  while (*p == ' ') ++p;
  char word[256];
  std::snprintf(word, sizeof word, "%s", next_token(cmd));
  p += std::strlen(word);
  const char* params = *p ? p + 1 : p;

  if (!std::strcmp(word, "uci")) {
    uci_reply();
  } else if (!std::strcmp(word, "isready")) {
    // Commands run one at a time on this thread, so ready is always set here.
    output_line("readyok");
  } else if (!std::strcmp(word, "setoption")) {
    uci_setoption(params);
  } else if (!std::strcmp(word, "debug")) {
    g_flags.debug_echo = 1;
  } else if (!std::strcmp(word, "_show")) {
    print_search_params();
    print_eval_tables();
  } else if (!std::strcmp(word, "ucinewgame")) {
    uci_newgame();
  } else if (!std::strcmp(word, "position")) {
    uci_position(params);
  } else if (!std::strcmp(word, "go")) {
    uci_go(params);
  } else if (!std::strcmp(word, "ponderhit")) {
    if (g_control.search_state == STATE_PONDER) g_control.search_state = STATE_SEARCH;
  } else if (!std::strcmp(word, "bench")) {
    run_bench_command(int(std::strtol(next_token(params), nullptr, 10)));
  } else if (!std::strcmp(word, "stop")) {
    uci_stop();
  } else if (!std::strcmp(word, "quit")) {
    // A running search is not lost: it stops at once and its move is
    // answered before the engine ends.
    if (g_control.search_state != STATE_IDLE) {
      uci_stop();
      report_result();
      g_control.search_state = STATE_IDLE;
    }
    g_control.stop = STOP_ABORT;
    g_control.report_held = 0;
    g_flags.quit = 1;
  } else if (std::strcmp(word, "register")) {
    // Nothing here needs registering; any other word is a client's typo or
    // a command this engine lacks, and the client should learn which.
    output_format("info string unknown command: %.100s", word);
  }
}

}  // namespace

const char* next_token(const char* text) {
  static char token[128];
  while (*text == ' ' || *text == '\t') ++text;
  int n = 0;
  while (n < 127 && text[n] && text[n] != ' ' && text[n] != '\t' && text[n] != '\r' && text[n] != '\n') {
    token[n] = text[n];
    ++n;
  }
  token[n] = '\0';
  return token;
}

bool input_ready() {
  return g_in.count > 0 || g_in.raw_pos < g_in.raw_len || (g_in.end_of_input && !g_in.end_handled);
}

bool input_ended() { return g_in.end_of_input && g_in.end_handled; }

void set_end_of_input_quits(bool quits) { g_end_of_input_quits = quits; }

void reset_input_state() { std::memset(&g_in, 0, sizeof g_in); }

bool stop_line_pending() {
  read_pending_input();
  if (g_in.end_of_input && g_end_of_input_quits) return true;
  for (int i = 0; i < g_in.count; ++i) {
    char word[128];
    std::snprintf(word, sizeof word, "%s", next_token(g_in.lines[(g_in.head + i) % QUEUE_LINES]));
    word[std::strcspn(word, "\r\t")] = '\0';
    if (!std::strcmp(word, ".") || !std::strcmp(word, "quit") || !std::strcmp(word, "stop")) return true;
  }
  return false;
}

namespace {

// Any run of blanks and tabs becomes one blank, none are left at either end;
// the value of a "setoption ... value" is kept as typed apart from its ends.
void normalise_blanks(char* line) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  const char* in = line;
  char* out = line;
  bool setoption = false;
  for (int words = 0;; ++words) {
    while (blank(*in)) ++in;
    if (!*in) break;
    if (words > 0) *out++ = ' ';
    const char* start = out;
    while (*in && !blank(*in)) *out++ = *in++;
    const std::size_t len = std::size_t(out - start);
    if (words == 0) setoption = len == 9 && !std::strncmp(start, "setoption", 9);
    if (setoption && len == 5 && !std::strncmp(start, "value", 5)) {
      // An option's value is kept as typed (a file name may hold blanks
      // of its own), only its leading and trailing blanks go.
      while (blank(*in)) ++in;
      if (*in) *out++ = ' ';
      while (*in) *out++ = *in++;
      while (out > line && blank(out[-1])) --out;
      break;
    }
  }
  *out = '\0';
}

}  // namespace

void execute_command(const char* line) {
  char cmd[LINE_LIMIT + 1];
  std::snprintf(cmd, sizeof cmd, "%s", line);
  cmd[std::strcspn(cmd, "\r\n")] = '\0';
  normalise_blanks(cmd);
  if (g_flags.uci_mode == 1 || !std::strcmp(cmd, "uci"))
    uci_command(cmd);
  else if (cmd[0])
    console_command(cmd);
}

namespace {

// End of input acts as "quit" once everything sent before it has run; a
// search still running is answered first.  One with its own limit (depth,
// nodes, time, clock, mate) finishes; one that only "stop" would end
// (infinite, ponder) is stopped now.  Called on every poll until the quit.
void end_of_input_reached() {
  SearchControl& c = g_control;
  const bool searching = c.search_state != STATE_IDLE || c.go_request != 0 || count_busy_threads() != 0;
  if (!searching) {
    g_in.end_handled = true;
    g_flags.quit = 1;
    return;
  }
  const bool unlimited = c.search_state == STATE_PONDER || (c.report_held && c.limits.mate_moves == 0);
  // A mate hunt that ran out of depth without its mate waits for a "stop"
  // that can no longer come.
  const bool exhausted = c.report_held && c.go_request == 0 && count_busy_threads() == 0;
  if ((!g_in.end_handled && unlimited) || exhausted) uci_stop();
  g_in.end_handled = true;
}

}  // namespace

void process_command() {
  read_pending_input();
  if (g_in.count == 0) {
    if (g_end_of_input_quits && g_in.end_of_input && g_in.raw_pos >= g_in.raw_len && g_in.partial_len == 0)
      end_of_input_reached();
    return;
  }
  char line[LINE_LIMIT + 1];
  std::memcpy(line, g_in.lines[g_in.head], sizeof line);
  g_in.head = (g_in.head + 1) % QUEUE_LINES;
  --g_in.count;
  execute_command(line);
}

#include "engine/console.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/movegen.h"
#include "board/notation.h"
#include "board/see.h"
#include "engine/engine.h"
#include "engine/uci.h"
#include "platform/output.h"
#include "platform/platform.h"
#include "search/control.h"
#include "search/picker.h"
#include "search/thread.h"

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

// Commands that change the game position first end any search, so the
// threads never read a position that is being rewritten.
void abort_search() {
  g_control.stop = STOP_ABORT;
  wait_threads_idle();
}

void show_board() { print_board(game_position()); }

int move_number() { return game_position().owner->history_count / 2 + 1; }

void play_typed_move(const char* text) {
  Position& pos = game_position();
  Move m;
  if (!text[0] || !parse_move(pos, text, &m)) return;
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
    move_to_text(m, text);
    output_format("%d%s move %s", move_number(), pos.side == WHITE ? "." : "...", text);
    make_move(pos, m);
    history_trim(pos);
  }
  show_board();
}

void run_perft(const char* arg) {
  long long d = std::strtoll(arg, nullptr, 10);
  int depth = d < 0 ? 0 : d > 20 ? 20 : int(d);
  wait_threads_idle();
  g_control.search_start = now_seconds();
  copy_root_to_threads(game_position());
  SearchThread& t = *g_threads[0];
  t.nodes = depth > 0 ? perft_picker(t, depth) : 0;
  g_control.elapsed = now_seconds() - g_control.search_start;
  f64 nodes = f64(t.nodes);
  output_format("visited %0.0f nodes in %0.3f seconds, nps= %0.0f", nodes, g_control.elapsed,
                nodes / (g_control.elapsed + 0.001));
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

void console_command(const char* line) {
  Words words;
  split_words(line, words);
  const char* cmd = words.w[0];
  if (!std::strcmp(cmd, "new")) {
    abort_search();
    setup_game_fen(START_POSITION);
    show_board();
    g_control.side_time[WHITE] = g_control.side_time[BLACK] = g_control.fixed_time;
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
    run_perft(words.w[1]);
  } else if (!std::strcmp(cmd, "swap")) {
    print_swaps();
  } else if (!std::strcmp(cmd, "move")) {
    play_typed_move(words.w[1]);
  } else {
    play_typed_move(cmd);
  }
}

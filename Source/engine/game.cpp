#include "engine/game.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "board/fen_check.h"
#include "board/movegen.h"
#include "book/book.h"
#include "engine/options.h"
#include "engine/report.h"
#include "platform/platform.h"
#include "search/control.h"
#include "search/driver.h"

EngineFlags g_flags;
GameRecord* g_game = nullptr;

namespace {

// An en-passant square is kept only when a pawn really just passed it;
// anything else would let move generation capture a phantom pawn.
void sanitize_ep(Position& pos) {
  int ep = pos.ep_square;
  if (ep == NO_SQUARE) return;
  int us = pos.side, them = us ^ 1;
  bool ok = ep < 64 && rank_of(ep) == (us == WHITE ? 5 : 2) && pos.board[ep] == EMPTY &&
            pos.board[ep - PUSH_DIR[us]] == make_piece(them, PAWN) && pos.board[ep + PUSH_DIR[us]] == EMPTY;
  if (!ok) {
    pos.ep_square = NO_SQUARE;
    pos.hash_key = compute_hash_key(pos);
  }
}

// A book move is not played when it would repeat the position a third time,
// or when it is made past the fifty-move limit into a position without
// moves: the search decides those.
bool book_move_refused(Position& pos, Move m) {
  make_move(pos, m);
  bool refused = false;
  if (pos.fifty_count >= 4) {
    if (pos.fifty_count >= 100 && no_legal_moves(pos))
      refused = true;
    else if (is_repetition(pos, pos.owner->history_count + 1))  // two earlier occurrences
      refused = true;
  }
  unmake_move(pos);
  return refused;
}

}  // namespace

void request_exit(int status, const char* message) {
  int none = -1;
  if (g_flags.exit_status.compare_exchange_strong(none, status)) g_flags.exit_message = message;
  g_control.stop = STOP_ABORT;
  g_flags.quit = 1;
}

bool create_game_record() {
  void* mem = alloc_zeroed(sizeof(GameRecord));
  if (!mem) return false;
  g_game = new (mem) GameRecord();
  position_init(g_game->pos, g_game->history);
  g_game->history.history_count = 0;
  g_game->history.search_ply = 1;
  return true;
}

void destroy_game_record() {
  if (!g_game) return;
  g_game->~GameRecord();
  free_zeroed(g_game, sizeof(GameRecord));
  g_game = nullptr;
}

bool setup_game_fen(const char* fen) {
  static GameRecord scratch;
  position_init(scratch.pos, scratch.history);
  while (*fen == ' ' || *fen == '\t') ++fen;
  char note[600] = "";
  set_position(scratch.pos, fen, note, sizeof note);
  if (note[0]) print_message("%s", note);
  if (const char* why = fen_refusal(scratch.pos, fen)) {
    print_message("position refused (%s): %.200s", why, fen);
    return false;
  }
  sanitize_ep(scratch.pos);
  Position& game = game_position();
  copy_position(game, scratch.pos);
  game.owner->entries[game.owner->history_count].move = 0;  // nothing for "]" to replay
  return true;
}

namespace {

// Says once per file name that the book cannot be read, so a mistyped
// path does not go unnoticed behind searched moves.
void check_book_file(const char* path) {
  static char warned[OPTION_TEXT_MAX + 1] = "";
  if (!path[0] || !std::strcmp(path, warned)) return;
  if (std::FILE* f = std::fopen(path, "rb")) {
    std::fclose(f);
    return;
  }
  std::size_t n = strnlen(path, OPTION_TEXT_MAX);
  std::memcpy(warned, path, n);
  warned[n] = '\0';
  print_message("book file %s cannot be read", path);
}

}  // namespace

Move probe_own_book(const Position& pos) {
  check_book_file(g_options.text(SLOT_BOOK_FILE));
  // The UCI line is shown even when search output is silenced; the console
  // listing follows the tool modes' silence.
  BookListing listing = g_flags.uci_mode ? BOOK_LIST_UCI : g_info_threshold < 9999 ? BOOK_LIST_CONSOLE : BOOK_LIST_NONE;
  BookSettings settings{g_options.text(SLOT_BOOK_FILE), g_options[SLOT_BOOK_VARIETY], listing};
  return probe_book(pos, settings);
}

Move book_step(Position& pos) {
  if (!g_options[SLOT_OWN_BOOK] || pos.owner->history_count >= g_options[SLOT_BOOK_DEPTH]) return MOVE_NONE;
  Move m = probe_own_book(pos);
  return m && !book_move_refused(pos, m) ? m : MOVE_NONE;
}

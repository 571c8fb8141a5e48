#include "engine/console_games.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/movegen.h"
#include "board/notation.h"
#include "engine/console.h"
#include "engine/engine.h"
#include "engine/report.h"
#include "engine/uci.h"
#include "platform/output.h"
#include "search/control.h"
#include "search/tt.h"
#include "tools/epd.h"
#include "tools/pgn.h"

namespace {

constexpr int EDIT_LINE_CHARS = 77;

// The board editor works on its own copy of the board; the game position
// changes only when "." hands over a position the engine can search.
struct Editor {
  bool active = false;
  u8 board[64];
  int side;
  int castle;
};

Editor g_editor;

void stop_search() {
  g_control.stop = STOP_ABORT;
  wait_threads_idle();
}

void reset_clocks() { g_control.limits.side_time[WHITE] = g_control.limits.side_time[BLACK] = g_control.limits.fixed_time; }

// "get id": the first position of test.epd with that id.
void get_position(const char* id) {
  stop_search();
  FILE* f = open_input_file("test.epd");
  char line[EPD_LINE_CHARS + 1], want[200];
  std::snprintf(want, sizeof want, "id \"%s\"", id);
  bool found = false;
  while (f && id[0] && read_epd_line(f, line)) {
    if (line[0] == ';' || line[0] == ' ' || !std::strstr(line, want)) continue;
    found = true;
    break;
  }
  if (f) std::fclose(f);
  if (found) {
    output_line(line);
    if (std::strlen(line) > 8) setup_game_fen(line);
  }
  show_board();
  clear_hash_if_idle();
}

bool whole_number(const char* text, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return text[0] && end && *end == '\0';
}

// "load file tag": a game by number (1..1000), by a text in its lines, or the first.
void load_game(const char* path, const char* tag) {
  output_format("loading %s, tag %s", path, tag);
  stop_search();
  PgnReader reader;
  if (!pgn_open(reader, path)) {
    reset_clocks();
    return;
  }
  long number = 1;
  bool by_text = tag[0] && !whole_number(tag, number);
  if (by_text) reader.find = tag;
  if (!by_text && (number < 1 || number > 1000)) number = 1;
  static PgnGame game;
  bool found = false;
  while (!found && pgn_next_game(reader, game)) found = by_text ? game.matched : game.number == number;
  pgn_close(reader);
  if (!found) {
    print_message("no such game in %s", path);
    reset_clocks();
    return;
  }
  // A game that starts elsewhere brings its position, under the same safety test as "fen".
  if (!setup_game_fen(game.fen[0] ? game.fen : START_POSITION)) {
    reset_clocks();
    return;
  }
  Position& pos = game_position();
  for (int i = 0; i < game.move_count; ++i) {
    Move m;
    if (!parse_game_move(pos, game.moves[i].text, &m)) {
      output_format("can't parse move '%s'", game.moves[i].text);
      break;
    }
    make_move(pos, m);
  }
  pos.owner->entries[pos.owner->history_count].move = 0;
  show_board();
  reset_clocks();
}

// "save": the game so far appended to tmp.pgn in standard notation.
void save_game() {
  FILE* f = std::fopen("tmp.pgn", "a");
  if (!f) {
    report_unwritable("tmp.pgn");
    return;
  }
  static GameRecord copy;
  position_init(copy.pos, copy.history);
  copy_position(copy.pos, game_position());
  Position& pos = copy.pos;
  const int count = pos.owner->history_count;
  while (pos.owner->history_count > 0) unmake_move(pos);
  char fen[128];
  position_to_fen(pos, fen);
  std::fprintf(f, "[Event \"Unknown\"]\n");
  if (std::strcmp(fen, START_POSITION)) std::fprintf(f, "[SetUp \"1\"]\n[FEN \"%s 0 1\"]\n", fen);
  for (int i = 0; i < count; ++i) {
    Move m = pos.owner->entries[pos.owner->history_count].move;
    char co[24], san[24], sf[24], sr[24];
    move_to_san(pos, m, co, san, sf, sr);
    std::fprintf(f, "%s ", san[0] == 'o' ? sf : san);  // castling in the usual capitals
    if (i % 10 == 9) std::fputc('\n', f);
    make_move(pos, m);
  }
  std::fprintf(f, "\n\n");
  std::fclose(f);
}

// "jump ply": back to the start of the game, then forward along its stored moves.
void jump_to(const char* ply_text) {
  stop_search();
  long ply = std::strtol(ply_text, nullptr, 10);
  Position& pos = game_position();
  GameHistory& h = *pos.owner;
  while (h.history_count > 0) unmake_move(pos);
  while (h.history_count < ply && h.history_count < HISTORY_GAME_LIMIT) {
    Move m = h.entries[h.history_count].move;
    Move legal[MAX_MOVES];
    int n = gen_legal(pos, legal);
    bool ok = false;
    for (int i = 0; i < n && m; ++i) ok |= legal[i] == m;
    if (!ok) break;
    make_move(pos, m);
  }
  show_board();
}

void start_editor() {
  stop_search();
  const Position& pos = game_position();
  for (int sq = 0; sq < 64; ++sq) g_editor.board[sq] = pos.board[sq];
  g_editor.side = pos.side;
  g_editor.castle = pos.castle_rights;
  g_editor.active = true;
  output_line("\n");
  output_line(".                    end edit");
  output_line("#                    clear board");
  output_line("w  Pa2 Pb2 Kc2       white, pieces");
  output_line("b  Pa7 Pb7 Kc7       black, pieces");
}

// "w Ke1 Qd1": the side to move, then that side's pieces.
void place_pieces(const char* line) {
  char words[16][32];
  int n = cut_words(line, " \t", words, 16);
  int colour = words[0][0] == 'w' ? WHITE : BLACK;
  g_editor.side = colour;
  for (int i = 1; i < n; ++i) {
    const char* w = words[i];
    const char* letters = "PNBRQK";
    const char* hit = w[0] ? std::strchr(letters, w[0] >= 'a' ? w[0] - 32 : w[0]) : nullptr;
    if (!hit || std::strlen(w) < 3) continue;
    int file = w[1] - 'a', rank = w[2] - '1';
    if (file < 0 || rank < 0) continue;
    if (file > 7 || rank > 7) break;  // beyond the board ends the line
    g_editor.board[make_square(file, rank)] = u8(make_piece(colour, int(hit - letters) + 1));
  }
}

void finish_editor() {
  g_editor.active = false;
  const u8* b = g_editor.board;
  auto at = [&](int sq, int colour, int type) { return b[sq] == make_piece(colour, type); };
  int rights = 0;
  if (at(E1, WHITE, KING) && at(H1, WHITE, ROOK)) rights |= g_editor.castle & CASTLE_WK;
  if (at(E1, WHITE, KING) && at(A1, WHITE, ROOK)) rights |= g_editor.castle & CASTLE_WQ;
  if (at(E8, BLACK, KING) && at(H8, BLACK, ROOK)) rights |= g_editor.castle & CASTLE_BK;
  if (at(E8, BLACK, KING) && at(A8, BLACK, ROOK)) rights |= g_editor.castle & CASTLE_BQ;
  char fen[128];
  int len = 0;
  for (int rank = 7; rank >= 0; --rank) {
    int empty = 0;
    for (int file = 0; file < 8; ++file) {
      int piece = b[make_square(file, rank)];
      if (!piece) {
        ++empty;
        continue;
      }
      if (empty) fen[len++] = char('0' + empty);
      empty = 0;
      char letter = "?PNBRQK"[type_of(piece)];
      fen[len++] = colour_of(piece) == WHITE ? letter : char(letter + 32);
    }
    if (empty) fen[len++] = char('0' + empty);
    if (rank) fen[len++] = '/';
  }
  len += std::snprintf(fen + len, sizeof fen - size_t(len), " %c ", g_editor.side == WHITE ? 'w' : 'b');
  if (!rights) fen[len++] = '-';
  for (int i = 0; i < 4; ++i)
    if (rights & (1 << i)) fen[len++] = "KQkq"[i];
  std::snprintf(fen + len, sizeof fen - size_t(len), " -");
  // setup_game_fen refuses, with a message, what the search cannot handle.
  setup_game_fen(fen);
  show_board();
}

void editor_line(const char* text) {
  char line[EDIT_LINE_CHARS + 1];
  std::snprintf(line, sizeof line, "%s", text);
  const char* s = line;
  while (*s == ' ' || *s == '\t') ++s;
  if (!std::strcmp(s, ".")) {
    finish_editor();
  } else if (!std::strcmp(s, "#")) {
    std::memset(g_editor.board, 0, sizeof g_editor.board);
    g_editor.castle = CASTLE_WK | CASTLE_WQ | CASTLE_BK | CASTLE_BQ;
  } else if (s[0] == 'w' || s[0] == 'b') {
    place_pieces(s);
  }
}

}  // namespace

bool games_command(const char* line) {
  // Command, file or id, tag: paths may be long, so the words are wide.
  char words[3][160] = {};
  int n = 0;
  for (const char* p = line; *p && n < 3;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) break;
    int len = 0;
    for (; *p && *p != ' ' && *p != '\t'; ++p)
      if (len < 159) words[n][len++] = *p;
    ++n;
  }
  if (g_editor.active) {
    if (n == 1 && !std::strcmp(words[0], "quit")) {
      g_editor.active = false;  // leaving the program leaves the editor too
      return false;
    }
    editor_line(line);
    return true;
  }
  if (n == 0) return false;
  const char* cmd = words[0];
  if (!std::strcmp(cmd, "get"))
    get_position(words[1]);
  else if (!std::strcmp(cmd, "load"))
    load_game(words[1], words[2]);
  else if (!std::strcmp(cmd, "save"))
    save_game();
  else if (!std::strcmp(cmd, "jump"))
    jump_to(words[1]);
  else if (!std::strcmp(cmd, "edit"))
    start_editor();
  else
    return false;
  return true;
}

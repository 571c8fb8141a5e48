// Reading PGN game collections as real files come: CRLF line ends, a UTF-8
// byte-order mark, move numbers glued to moves ("1.e4", "12...Nf6"), NAGs,
// annotation marks, comments over several lines, nested variations and "%"
// escape lines.  One game at a time, in fixed-size records.
#pragma once

#include <cstdio>

#include "board/types.h"

// Longest game kept: later half-moves are dropped (the game record of the
// engine holds more, so a loaded game can always be replayed whole).
constexpr int PGN_MAX_PLIES = 600;
constexpr int PGN_MOVE_CHARS = 7;       // "exd8=Q+"; a longer word is no move
constexpr int PGN_COMMENT_CHARS = 127;  // first comment after a move, cut to this
constexpr int PGN_MAX_TAGS = 40;
constexpr int PGN_TAG_CHARS = 255;
constexpr int PGN_LINE_CHARS = 4095;    // longer lines are read in pieces

enum : int { PGN_WHITE_WINS = 0, PGN_BLACK_WINS = 1, PGN_DRAW = 2, PGN_UNKNOWN = 3 };

struct PgnMove {
  char text[PGN_MOVE_CHARS + 1];  // annotation marks and "#" removed; empty when the word was too long
  char comment[PGN_COMMENT_CHARS + 1];
  bool has_comment;  // a comment at the game's top level followed the move
};

struct PgnGame {
  int number;          // 1 for the first game of the file
  int result;          // from the Result tag, else from the end marker of the move text
  bool has_result_tag;
  bool matched;        // a line of the game contains PgnReader::find
  bool truncated;      // more than PGN_MAX_PLIES half-moves; the rest was dropped
  char white[64], black[64];
  char fen[100];       // the FEN tag of a game that starts elsewhere, or empty
  int tag_count;
  char tags[PGN_MAX_TAGS][PGN_TAG_CHARS + 1];  // the tag lines as written, line end removed
  int move_count;
  PgnMove moves[PGN_MAX_PLIES];
};

struct PgnReader {
  FILE* file = nullptr;
  const char* find = nullptr;  // optional text looked for in every line of a game
  int games = 0;
  // A tag line read past the end of the previous game.
  char held[PGN_LINE_CHARS + 1] = {};
  bool has_held = false;
  bool first_line = true;
};

// False, after a line saying why, when the file cannot be read.
bool pgn_open(PgnReader& reader, const char* path);
void pgn_close(PgnReader& reader);
// Reads the next game; false at the end of the file.
bool pgn_next_game(PgnReader& reader, PgnGame& game);

// Result code of a result text ("1-0", "0-1", "1/2-1/2"); PGN_UNKNOWN otherwise.
int pgn_result_code(const char* text);

struct Position;

// How many legal moves of pos the standard notation text ("Nd2", "exd8=Q",
// "O-O") can mean, disambiguation counted exactly; with one, *move is it.
int standard_move_matches(const Position& pos, const char* text, Move* move);

// The move of a move word in pos: standard notation matched against the
// legal moves (a pinned piece does not make "Rc8" ambiguous), then any other
// form the engine reads ("g1f3", "e7e8q").  1 with the move, else 0.
int parse_game_move(const Position& pos, const char* text, Move* move);

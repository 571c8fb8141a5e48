// The chess position, its history stack, Zobrist keys, make/unmake and FEN/EPD.
#pragma once

#include <cstddef>

#include "board/bitboard.h"
#include "board/piece_values.h"
#include "board/types.h"

struct HistoryEntry {
  u64 key;       // hash_key before the move
  u64 pawn_key;  // pawn_key before the move
  u16 move;      // 0 for a null move
  u8 captured;   // type of the piece taken on the destination (0 for en passant)
  u8 ep;
  u8 fifty;
  u8 castle;
};

// Room for the game and the deepest search line on top of it.  The front end
// keeps the game part below HISTORY_GAME_LIMIT (history_trim) so a search can
// never run off the end.
constexpr int HISTORY_SIZE = 1024;
constexpr int HISTORY_GAME_LIMIT = 768;
constexpr int HISTORY_KEEP = 256;  // entries kept by history_trim; more than any fifty-move window

struct GameHistory {
  HistoryEntry entries[HISTORY_SIZE];
  u16 history_count;
  u16 search_ply;
  u16 last_move;
  u16 start_ply;  // plies played in the game before entries[0] (from the FEN's move number)
};

struct Position {
  GameHistory* owner;  // the history stack make/unmake push to and pop from
  u8 board[65];        // entry 64 stays 0 so NO_SQUARE reads as empty
  Bitboard pieces[2][8];
  u64 hash_key;  // bit 0 is the side to move
  u64 pawn_key;
  u32 material_signature[2];
  i16 piece_material[2];
  u8 side;
  u8 fifty_count;
  u8 castle_rights;
  u8 ep_square;
  u8 king_square[2];
  // Castling, fixed when the position is set up.  Right index r is the bit
  // number of CASTLE_WK..CASTLE_BQ (even: towards the h-file).  castle_move
  // is how the generator writes the move: the king's two-square step when
  // king and rook stand on their usual squares and chess960 is off, else
  // the king taking its own rook.
  u8 chess960;
  u8 castle_rook[4];    // rook's starting square per right
  Move castle_move[4];  // MOVE_END for a right the position never had
  Bitboard castle_path[4];  // squares that must be empty (king and rook excluded)
  Bitboard castle_king_path[4];  // squares the king crosses or lands on, its own excluded
  u8 castle_mask[64];   // rights lost by a move from or to the square

  Bitboard occupied() const { return pieces[WHITE][0] | pieces[BLACK][0]; }
};

constexpr u32 SIGNATURE_INC[8] = {0, 1, 0x10, 0x100, 0x1000, 0x10000, 0, 0};
constexpr u32 SLIDER_SIGNATURE_MASK = 0xFFF00;
constexpr int PUSH_DIR[2] = {8, -8};
constexpr int HOME_KING_SQUARE[2] = {E1, E8};

// Castling moves are written as the king taking its own rook in every
// position set up while this is on (the UCI_Chess960 option).
extern bool g_chess960;

// The right index of a castling move by colour, or -1 when move is none.
// The right must still be there: once the rook has left, the king stepping
// onto its old square is an ordinary move with the same code.
inline int castle_index(const Position& pos, int colour, Move move) {
  const int r = 2 * colour;
  if (move == pos.castle_move[r] && (pos.castle_rights & (1 << r))) return r;
  if (move == pos.castle_move[r + 1] && (pos.castle_rights & (2 << r))) return r + 1;
  return -1;
}
// Where king and rook end up: g- and f-file towards h, c- and d-file towards a.
constexpr int castle_king_target(int r) { return (r & 1 ? C1 : G1) + (r >> 1) * 56; }
constexpr int castle_rook_target(int r) { return (r & 1 ? D1 : F1) + (r >> 1) * 56; }
// Whether every right the position has uses the usual king and rook squares.
bool castling_is_standard(const Position& pos);
// Castling by right r out of check with no square the king crosses or
// lands on attacked (the rights and the empty path are the caller's part).
bool castle_is_safe(const Position& pos, int r);

constexpr int ZOBRIST_SIZE = 1024;
extern u64 g_zobrist[ZOBRIST_SIZE];

// Generates the fixed-seed keys once; prints "bad hashcode" for an index whose
// five candidates all fail the quality test.
void init_zobrist();

// Optional hook called by make_move for every move (the search trace).
using TraceHook = void (*)(const Position&, Move);
extern TraceHook g_trace_hook;

void position_init(Position& pos, GameHistory& history);
int set_position(Position& pos, const char* text);
// The same, leaving the warning about castling rights the pieces do not
// allow in note instead of printing it (empty when there is none).
int set_position(Position& pos, const char* text, char* note, std::size_t note_size);
// Field n (from 0) of a FEN or EPD line, whose fields any run of blanks and
// tabs separates; nullptr when there are fewer fields.
const char* fen_field(const char* text, int n, std::size_t& len);

// The half-move clock and move number after the four position fields.
// Missing ones (or EPD operations in their place) count as 0 and 1; readable
// is false when a counter is there but is not a whole number.  A clock past
// 100 reads as 100 and a move number is kept within 1..FEN_MOVE_LIMIT.
constexpr int FEN_MOVE_LIMIT = 10000;
struct FenCounters {
  int clock = 0;
  int move = 1;
  bool readable = true;
};
FenCounters fen_counters(const char* text);

void position_to_fen(const Position& pos, char* buffer);  // buffer of at least 100 chars
void print_board(const Position& pos);

// Splits an EPD line; each output buffer must hold at least 513 characters.
int split_epd(const char* line, char* fen, char* bm, char* am, char* id, char* ce, char* c0, char* c6);

void make_move(Position& pos, Move move);
void unmake_move(Position& pos);
void make_null(Position& pos);
void unmake_null(Position& pos);

// Keys recomputed from the board; used by set-up and the debug check.
u64 compute_hash_key(const Position& pos);
u64 compute_pawn_key(const Position& pos);

// Whether the current position repeats one in the history under the search's
// rule: from the root on (history index >= root_count) once is enough, before
// the root it must have occurred twice.  Only called when fifty_count > 3 and
// the last move was no null move.
bool is_repetition(const Position& pos, int root_count);

// Keeps only the last HISTORY_KEEP entries once the game part grows past
// HISTORY_GAME_LIMIT; repetition never looks further back than that.
void history_trim(Position& pos);

// Copies the position and its history into another thread's record.
void copy_position(Position& dst, const Position& src);

// Recomputes everything from the board and compares; returns false on any
// mismatch.  Used by the debug-build check after make/unmake and by tests.
bool position_is_consistent(const Position& pos);

inline bool in_check(const Position& pos);

bool is_attacked(const Position& pos, int sq, int colour);

inline bool in_check(const Position& pos) {
  return is_attacked(pos, pos.king_square[pos.side], pos.side ^ 1);
}

// Opening book in the Polyglot format: the position key, reading entries,
// and choosing a weighted random move.  The file is opened, searched and
// closed on every probe; nothing of it stays in memory.
#pragma once

#include <cstdio>

#include "board/position.h"

// One 16-byte entry as stored (every field big-endian in the file).
struct BookEntry {
  u64 key;
  u16 move;    // to bits 0-5, from bits 6-11, promotion bits 12-14 (1 N, 2 B, 3 R, 4 Q)
  u16 weight;  // relative frequency
  u32 learn;   // read and ignored
};

constexpr int BOOK_MAX_CANDIDATES = 128;

// How probe_book reports what it found.
enum BookListing : int {
  BOOK_LIST_NONE = 0,     // silent (tool modes)
  BOOK_LIST_UCI = 1,      // one "info string ( book moves are: ... )" line
  BOOK_LIST_CONSOLE = 2,  // one line per move with its shares, then "selecting ..."
};

struct BookSettings {
  const char* file;  // empty or null: no book
  int variety;       // 0..100; 25 keeps the book's proportions
  BookListing listing;
};

// A book move with its weight and its share after the variety adjustment.
struct BookCandidate {
  u16 move;  // raw book move
  u16 weight;
  u16 adjusted;
};

u64 polyglot_key(const Position& pos);

// Reads the next 16 bytes into entry.  0 when the whole entry was read, 1 at
// the end of the file (the entry is then partly filled and must not be used).
int read_book_entry(FILE* file, BookEntry& entry);

// Entries of the book whose key is key, in file order, at most max of them.
// 0 for a missing or unreadable file, a file shorter than one entry, or a key
// the book does not hold.
int find_book_entries(const char* path, u64 key, BookEntry* out, int max);

// Fills the adjusted shares of the candidates for the given variety and
// returns their sum; -1 when every book weight is 0 (nothing to choose).
int adjust_book_weights(BookCandidate* cand, int count, int variety);

// The roulette: the index of the candidate the point 0 <= point <
// adjusted_total falls on.  Candidates of weight 0 are never picked; -1 when
// all of them have weight 0.
int pick_book_candidate(const BookCandidate* cand, int count, int point);

// A raw book move as an engine move: castling, stored as the king taking its
// own rook, becomes the two-square king move.  Not checked against a position.
Move book_move_to_engine(u16 raw);

// The book move for pos, or 0.  Every failure (no file, short file, key not
// in the book, zero weights, a move that is not legal here) gives 0 silently.
Move probe_book(const Position& pos, const BookSettings& settings);

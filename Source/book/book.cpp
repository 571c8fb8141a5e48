#include "book/book.h"

#include <cstdlib>
#include <cstring>

#include "board/movegen.h"
#include "board/notation.h"
#include "book/polyglot_random.h"
#include "platform/output.h"

namespace {

constexpr int ENTRY_BYTES = 16;

// Polyglot orders pieces black pawn, white pawn, black knight, ...; indexed
// by the engine's piece code (colour * 8 + type).
constexpr int POLYGLOT_KIND[16] = {-1, 1, 3, 5, 7, 9, 11, -1, -1, 0, 2, 4, 6, 8, 10, -1};

struct FileCloser {
  FILE* f;
  ~FileCloser() {
    if (f) std::fclose(f);
  }
};

bool seek_entry(FILE* f, long index) { return std::fseek(f, index * ENTRY_BYTES, SEEK_SET) == 0; }

int promotion_of(u16 raw) { return (raw >> 12) & 7; }

// From- and to-square names of a decoded move, without a promotion letter.
void square_pair(Move m, char* out) {
  std::snprintf(out, 8, "%s%s", SQUARE_NAMES[move_from(m)], SQUARE_NAMES[move_to(m)]);
}

}  // namespace

u64 polyglot_key(const Position& pos) {
  u64 key = 0;
  for (Bitboard b = pos.occupied(); b;) {
    int sq = pop_lsb(b);
    int kind = POLYGLOT_KIND[pos.board[sq] & 15];
    if (kind >= 0) key ^= POLYGLOT_RANDOM64[64 * kind + sq];
  }
  constexpr int CASTLE_BITS[4] = {CASTLE_WK, CASTLE_WQ, CASTLE_BK, CASTLE_BQ};
  for (int i = 0; i < 4; ++i)
    if (pos.castle_rights & CASTLE_BITS[i]) key ^= POLYGLOT_RANDOM64[POLYGLOT_CASTLE_INDEX + i];
  // The en-passant file counts only when a pawn of the side to move could
  // actually take on that square.
  const int ep = pos.ep_square;
  if (ep < 64 && (pawn_attacks(pos.side ^ 1, ep) & pos.pieces[pos.side][PAWN]))
    key ^= POLYGLOT_RANDOM64[POLYGLOT_EP_INDEX + file_of(ep)];
  if (pos.side == WHITE) key ^= POLYGLOT_RANDOM64[POLYGLOT_TURN_INDEX];
  return key;
}

int read_book_entry(FILE* file, BookEntry& entry) {
  // Most significant byte first; each field is stored as soon as it is whole.
  constexpr int WIDTH[4] = {8, 2, 2, 4};
  for (int field = 0; field < 4; ++field) {
    u64 v = 0;
    for (int i = 0; i < WIDTH[field]; ++i) {
      int c = std::fgetc(file);
      if (c == EOF) return 1;
      v = (v << 8) | u64(c);
    }
    switch (field) {
      case 0: entry.key = v; break;
      case 1: entry.move = u16(v); break;
      case 2: entry.weight = u16(v); break;
      default: entry.learn = u32(v); break;
    }
  }
  return 0;
}

int find_book_entries(const char* path, u64 key, BookEntry* out, int max) {
  if (!path || !path[0] || max <= 0) return 0;
  FileCloser file{std::fopen(path, "rb")};
  FILE* f = file.f;
  if (!f) return 0;
  // A trailing partial entry is ignored: the last whole one counts from the start.
  if (std::fseek(f, -ENTRY_BYTES, SEEK_END) != 0) return 0;
  long end_offset = std::ftell(f);
  if (end_offset < 0) return 0;
  long last = end_offset / ENTRY_BYTES;
  if (!seek_entry(f, last)) return 0;
  BookEntry found{};
  if (read_book_entry(f, found) != 0) return 0;
  // First entry whose key is not below the wanted one.
  long lo = -1, hi = last;
  while (hi - lo > 1) {
    long mid = (lo + hi) / 2;
    BookEntry e{};
    if (!seek_entry(f, mid) || read_book_entry(f, e) != 0) return 0;
    if (key <= e.key) {
      hi = mid;
      found = e;
    } else {
      lo = mid;
    }
  }
  if (found.key != key) return 0;
  int n = 0;
  out[n++] = found;
  if (!seek_entry(f, hi + 1)) return n;
  BookEntry e{};
  while (n < max && read_book_entry(f, e) == 0 && e.key == key) out[n++] = e;
  return n;
}

int adjust_book_weights(BookCandidate* cand, int count, int variety) {
  if (count <= 0) return -1;
  int total = 0;
  for (int i = 0; i < count; ++i) total += cand[i].weight;
  if (total == 0) return -1;
  // The same amount, a share of the first (usually heaviest) move, is added
  // to every move: above 25 the choice flattens, below it sharpens.
  const int bonus = int(f64(cand[0].weight) * 0.01 * (variety - 25));
  int adjusted_total = 0;
  for (int i = 0; i < count; ++i) {
    int a = ((int(cand[i].weight) + bonus) * 10000) / total;
    if (a < 0) a = 0;
    cand[i].adjusted = u16(a > 65535 ? 65535 : a);
    adjusted_total += cand[i].adjusted;
  }
  return adjusted_total;
}

int pick_book_candidate(const BookCandidate* cand, int count, int point) {
  int chosen = -1, cum = 0;
  for (int i = 0; i < count; ++i) {
    if (cand[i].weight == 0) continue;
    if (chosen < 0 || point > cum) chosen = i;
    cum += cand[i].adjusted;
  }
  return chosen;
}

Move book_move_to_engine(u16 raw) {
  int to = raw & 63, from = (raw >> 6) & 63;
  if (from == E1 && to == H1) to = G1;
  else if (from == E1 && to == A1) to = C1;
  else if (from == E8 && to == H8) to = G8;
  else if (from == E8 && to == A8) to = C8;
  constexpr Move PROMOTION[8] = {0, PROMO_KNIGHT, PROMO_BISHOP, PROMO_ROOK, PROMO_QUEEN, 0, 0, 0};
  return Move(make_move_code(from, to) | PROMOTION[promotion_of(raw)]);
}

Move probe_book(const Position& pos, const BookSettings& settings) {
  // The book knows castling only with king and rooks on their usual squares.
  if (!castling_is_standard(pos)) return 0;
  BookEntry entries[BOOK_MAX_CANDIDATES];
  const u64 key = polyglot_key(pos);
  const int n = find_book_entries(settings.file, key, entries, BOOK_MAX_CANDIDATES);
  if (n == 0) return 0;
  BookCandidate cand[BOOK_MAX_CANDIDATES];
  int total = 0;
  for (int i = 0; i < n; ++i) {
    cand[i] = {entries[i].move, entries[i].weight, 0};
    total += entries[i].weight;
  }
  const int adjusted_total = adjust_book_weights(cand, n, settings.variety);
  if (adjusted_total < 0) return 0;

  const u32 x = u32(std::rand()) * 98765u + 123456789u;
  const int point = int(f64(x % 1000) * 0.001 * adjusted_total);
  const int chosen = pick_book_candidate(cand, n, point);
  if (chosen < 0) return 0;

  char list[BOOK_MAX_CANDIDATES * 5 + 64];
  int len = std::snprintf(list, sizeof list, "info string ( book moves are: ");
  for (int i = 0; i < n; ++i) {
    if (cand[i].weight == 0) continue;
    char text[8];
    square_pair(book_move_to_engine(cand[i].move), text);
    if (settings.listing == BOOK_LIST_UCI) {
      len += std::snprintf(list + len, sizeof list - len, "%s ", text);
    } else if (settings.listing == BOOK_LIST_CONSOLE) {
      output_format("  %s  cnt= %5d, weight= %5.2f%% -> %5.2f%%", text, int(cand[i].weight),
                    cand[i].weight * 100.0 / total, adjusted_total ? cand[i].adjusted * 100.0 / adjusted_total : 0.0);
    }
  }

  const u16 raw = cand[chosen].move;
  Move m = book_move_to_engine(raw);
  // Where castling is written as the king taking its rook, so is the book's.
  const Move king_takes_rook = make_move_code((raw >> 6) & 63, raw & 63);
  if (pos.chess960 && type_of(pos.board[move_from(m)]) == KING && castle_index(pos, pos.side, king_takes_rook) >= 0)
    m = king_takes_rook;
  // The book is trusted only as far as the board allows: a move that does
  // not fit the position (a damaged or foreign book) is never played.
  if (m == 0 || !is_pseudo_legal(pos, pos.side, m) || !is_legal(pos, pos.side, m)) m = 0;

  if (settings.listing == BOOK_LIST_UCI) {
    std::snprintf(list + len, sizeof list - len, " )");
    output_line(list);
  } else if (settings.listing == BOOK_LIST_CONSOLE) {
    char text[8];
    square_pair(book_move_to_engine(raw), text);
    output_format("selecting %s", text);
  }
  return m;
}

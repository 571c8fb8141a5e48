#include "board/position.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "board/notation.h"
#include "platform/output.h"

u64 g_zobrist[ZOBRIST_SIZE];
TraceHook g_trace_hook = nullptr;

bool g_chess960 = false;

namespace {

struct MwcGenerator {
  u32 z = 1, w = 1;
  u32 next() {
    z = 36969u * (z & 0xFFFFu) + (z >> 16);
    w = 18000u * (w & 0xFFFFu) + (w >> 16);
    return (z << 16) + w;
  }
};

int bits32(u32 v) { return __builtin_popcount(v); }

bool key_is_good(u64 key, int index) {
  if (popcount_soft(key) <= 15) return false;
  for (int j = 0; j < index; ++j) {
    u64 diff = key ^ g_zobrist[j];
    if (bits32(u32(diff)) < 4 || bits32(u32(diff >> 32)) < 4) return false;
  }
  return true;
}

inline void put_piece(Position& pos, int piece, int sq) {
  int c = colour_of(piece), t = type_of(piece);
  pos.board[sq] = u8(piece);
  pos.pieces[c][0] |= bit(sq);
  pos.pieces[c][t] |= bit(sq);
}

inline void remove_piece(Position& pos, int piece, int sq) {
  int c = colour_of(piece), t = type_of(piece);
  pos.board[sq] = 0;
  pos.pieces[c][0] &= ~bit(sq);
  pos.pieces[c][t] &= ~bit(sq);
}

inline void move_piece(Position& pos, int piece, int from, int to) {
  int c = colour_of(piece), t = type_of(piece);
  Bitboard ft = bit(from) | bit(to);
  pos.board[from] = 0;
  pos.board[to] = u8(piece);
  pos.pieces[c][0] ^= ft;
  pos.pieces[c][t] ^= ft;
}

inline u64 zkey(int piece, int sq) { return g_zobrist[piece * 64 + sq]; }

inline void add_material(Position& pos, int colour, int type) {
  pos.material_signature[colour] += SIGNATURE_INC[type];
  pos.piece_material[colour] = i16(pos.piece_material[colour] + MATERIAL_INC[type]);
}
inline void sub_material(Position& pos, int colour, int type) {
  pos.material_signature[colour] -= SIGNATURE_INC[type];
  pos.piece_material[colour] = i16(pos.piece_material[colour] - MATERIAL_INC[type]);
}

// Saves what a move changes irreversibly; make_move and make_null share it.
inline void push_history(Position& pos, Move move, int captured_type) {
  GameHistory& h = *pos.owner;
  HistoryEntry& e = h.entries[h.history_count];
  e.key = pos.hash_key;
  e.pawn_key = pos.pawn_key;
  e.move = move;
  e.captured = u8(captured_type);
  e.ep = pos.ep_square;
  e.fifty = pos.fifty_count;
  e.castle = pos.castle_rights;
  ++h.history_count;
  ++h.search_ply;
  h.last_move = move;
}

// Pops the top entry and restores the fields every kind of unmake shares.
inline const HistoryEntry& pop_history(Position& pos) {
  GameHistory& h = *pos.owner;
  --h.history_count;
  --h.search_ply;
  const HistoryEntry& e = h.entries[h.history_count];
  h.last_move = h.history_count ? h.entries[h.history_count - 1].move : 0;
  pos.ep_square = e.ep;
  pos.castle_rights = e.castle;
  pos.fifty_count = e.fifty;
  pos.side ^= 1;
  pos.hash_key = e.key;
  return e;
}

// Fills the castling tables from each right's rook square (NO_SQUARE for a
// right the position does not have); the kings must already be placed.
void setup_castling(Position& pos, const int rook_sq[4]) {
  pos.castle_rights = 0;
  std::memset(pos.castle_mask, 0, sizeof pos.castle_mask);
  for (int r = 0; r < 4; ++r) {
    pos.castle_rook[r] = u8(rook_sq[r]);
    pos.castle_move[r] = MOVE_END;
    pos.castle_path[r] = 0;
    pos.castle_king_path[r] = 0;
    if (rook_sq[r] != NO_SQUARE) pos.castle_rights = u8(pos.castle_rights | (1 << r));
  }
  pos.chess960 = g_chess960 || !castling_is_standard(pos);
  for (int r = 0; r < 4; ++r) {
    if (!(pos.castle_rights & (1 << r))) continue;
    const int c = r >> 1, ks = pos.king_square[c], rs = rook_sq[r];
    const int kt = castle_king_target(r), rt = castle_rook_target(r);
    pos.castle_path[r] = (between(ks, kt) | bit(kt) | between(rs, rt) | bit(rt)) & ~(bit(ks) | bit(rs));
    pos.castle_king_path[r] = (between(ks, kt) | bit(kt)) & ~bit(ks);
    pos.castle_move[r] = make_move_code(ks, pos.chess960 ? rs : kt);
    pos.castle_mask[ks] = u8(pos.castle_mask[ks] | (3 << (2 * c)));
    pos.castle_mask[rs] = u8(pos.castle_mask[rs] | (1 << r));
  }
}

// The castling field: KQkq name the outermost rook on that side of the king
// (with UCI_Chess960 off, the corner rook and a king on the e-file), a file
// letter (either case, as in "HAha") names the rook on that file.  A
// right without its king on the back rank or its rook in place is dropped;
// returns false when one was.  Other characters are ignored.
bool read_castling(Position& pos, const char* p, const char* end) {
  int rook_sq[4] = {NO_SQUARE, NO_SQUARE, NO_SQUARE, NO_SQUARE};
  bool kept_all = true;
  for (; p < end; ++p) {
    const char ch = *p;
    const int c = ch >= 'a' && ch <= 'z' ? BLACK : WHITE;
    const char up = c == BLACK ? char(ch - 'a' + 'A') : ch;
    if (up != 'K' && up != 'Q' && (up < 'A' || up > 'H')) continue;
    const int back = c == WHITE ? 0 : 56;
    const int rook = make_piece(c, ROOK);
    const int king_file = file_of(pos.king_square[c]);
    const bool king_home = popcount(pos.pieces[c][KING]) == 1 && rank_of(pos.king_square[c]) == back / 8;
    int file = -1;
    if ((up == 'K' || up == 'Q') && !g_chess960) {
      // In standard chess KQkq need the king on the e-file and the rook in the corner.
      if (king_file == 4) file = up == 'K' ? 7 : 0;
    } else if (up == 'K') {
      for (int f = 7; f > king_file && file < 0; --f)
        if (pos.board[back + f] == rook) file = f;
    } else if (up == 'Q') {
      for (int f = 0; f < king_file && file < 0; ++f)
        if (pos.board[back + f] == rook) file = f;
    } else {
      file = up - 'A';
    }
    if (!king_home || file < 0 || file == king_file || pos.board[back + file] != rook) {
      kept_all = false;
      continue;
    }
    rook_sq[2 * c + (file < king_file ? 1 : 0)] = back + file;
  }
  setup_castling(pos, rook_sq);
  return kept_all;
}

// Whether colour's pieces attack sq when the board holds occ.
bool attacked_with(const Position& pos, int sq, int colour, Bitboard occ) {
  const Bitboard* p = pos.pieces[colour];
  return (pawn_attacks(colour ^ 1, sq) & p[PAWN]) || (knight_attacks(sq) & p[KNIGHT]) ||
         (king_attacks(sq) & p[KING]) || (bishop_attacks(sq, occ) & (p[BISHOP] | p[QUEEN])) ||
         (rook_attacks(sq, occ) & (p[ROOK] | p[QUEEN]));
}

// Castling is marked in the history entry's captured field: no capture has it.
constexpr u8 CASTLE_MARK = 7;

#ifdef VORN_DEBUG_CHECKS
void debug_check(const Position& pos) {
  if (!position_is_consistent(pos)) {
    char fen[128];
    position_to_fen(pos, fen);
    std::fprintf(stderr, "position check failed: %s\n", fen);
    __builtin_trap();
  }
}
#else
inline void debug_check(const Position&) {}
#endif

void make_castle(Position& pos, Move move, int r) {
  const int c = pos.side;
  push_history(pos, move, CASTLE_MARK);
  u64 key = pos.hash_key;
  if (pos.ep_square != NO_SQUARE) key ^= g_zobrist[pos.ep_square];
  pos.ep_square = NO_SQUARE;
  const int ks = move_from(move), rs = pos.castle_rook[r];
  const int kt = castle_king_target(r), rt = castle_rook_target(r);
  const u8 rights = pos.castle_rights & ~pos.castle_mask[ks];
  key ^= g_zobrist[pos.castle_rights] ^ g_zobrist[rights];
  pos.castle_rights = rights;
  pos.fifty_count = 0;
  pos.side ^= 1;
  const int king = make_piece(c, KING), rook = make_piece(c, ROOK);
  remove_piece(pos, king, ks);
  remove_piece(pos, rook, rs);
  put_piece(pos, king, kt);
  put_piece(pos, rook, rt);
  key ^= zkey(king, ks) ^ zkey(king, kt) ^ zkey(rook, rs) ^ zkey(rook, rt);
  pos.king_square[c] = u8(kt);
  pos.hash_key = (key & ~u64(1)) | pos.side;
  debug_check(pos);
}

// Called after pop_history, so the side to move is the castling side again.
void unmake_castle(Position& pos, Move move) {
  // Every castling move, in either form, points from the king towards its rook.
  const int c = pos.side, r = 2 * c + (move_to(move) > move_from(move) ? 0 : 1);
  const int ks = move_from(move), rs = pos.castle_rook[r];
  const int kt = castle_king_target(r), rt = castle_rook_target(r);
  const int king = make_piece(c, KING), rook = make_piece(c, ROOK);
  remove_piece(pos, king, kt);
  remove_piece(pos, rook, rt);
  put_piece(pos, king, ks);
  put_piece(pos, rook, rs);
  pos.king_square[c] = u8(ks);
  debug_check(pos);
}

}  // namespace

void init_zobrist() {
  static bool done = false;
  if (done) return;
  done = true;
  MwcGenerator gen;
  for (int i = 0; i < ZOBRIST_SIZE; ++i) {
    u64 key = 0;
    bool good = false;
    for (int attempt = 0; attempt < 5 && !good; ++attempt) {
      u64 hi = gen.next();
      u64 lo = gen.next();
      key = (hi << 32) | lo;
      good = key_is_good(key, i);
    }
    g_zobrist[i] = key;
    if (!good) output_line("bad hashcode");
  }
}

void position_init(Position& pos, GameHistory& history) {
  std::memset(&pos, 0, sizeof pos);
  std::memset(&history, 0, sizeof history);
  pos.owner = &history;
  pos.ep_square = NO_SQUARE;
  history.search_ply = 1;
  const int none[4] = {NO_SQUARE, NO_SQUARE, NO_SQUARE, NO_SQUARE};
  setup_castling(pos, none);
}

u64 compute_hash_key(const Position& pos) {
  u64 key = 0;
  for (int sq = 0; sq < 64; ++sq)
    if (pos.board[sq]) key ^= zkey(pos.board[sq], sq);
  if (pos.ep_square != NO_SQUARE) key ^= g_zobrist[pos.ep_square];
  key ^= g_zobrist[pos.castle_rights];
  return (key & ~u64(1)) | pos.side;
}

u64 compute_pawn_key(const Position& pos) {
  u64 key = 0;
  for (int sq = 0; sq < 64; ++sq)
    if (type_of(pos.board[sq]) == PAWN) key ^= zkey(pos.board[sq], sq);
  return key;
}

int set_position(Position& pos, const char* text) {
  char note[600] = "";
  int rc = set_position(pos, text, note, sizeof note);
  if (note[0]) output_line(note);
  return rc;
}

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The text with every run of blanks, tabs and line ends made one space and
// none in front, so that the fields below end at a space.
std::string single_spaced(const char* text) {
  std::string out;
  while (is_blank(*text)) ++text;
  for (; *text; ++text) {
    if (!is_blank(*text)) out += *text;
    else if (!is_blank(text[1]) && text[1]) out += ' ';
  }
  return out;
}

// A counter word: its value (at most COUNTER_CAP), COUNTER_ABSENT when the
// word is missing or starts with a letter (the operations of an EPD line
// stand there), COUNTER_UNREADABLE for anything else but digits.
constexpr long COUNTER_CAP = 1000000;
constexpr long COUNTER_ABSENT = -1, COUNTER_UNREADABLE = -2;
long counter_value(const char* word, std::size_t len) {
  if (!word || (*word >= 'a' && *word <= 'z') || (*word >= 'A' && *word <= 'Z')) return COUNTER_ABSENT;
  long value = 0;
  for (std::size_t i = 0; i < len; ++i) {
    if (word[i] < '0' || word[i] > '9') return COUNTER_UNREADABLE;
    value = std::min(value * 10 + (word[i] - '0'), COUNTER_CAP);
  }
  return value;
}

}  // namespace

const char* fen_field(const char* text, int n, std::size_t& len) {
  len = 0;
  for (int field = 0;; ++field) {
    while (is_blank(*text)) ++text;
    if (!*text) return nullptr;
    const char* start = text;
    while (*text && !is_blank(*text)) ++text;
    if (field == n) {
      len = std::size_t(text - start);
      return start;
    }
  }
}

FenCounters fen_counters(const char* text) {
  FenCounters c;
  std::size_t len;
  const char* word = fen_field(text, 4, len);
  const long clock = counter_value(word, len);
  if (clock == COUNTER_ABSENT) return c;
  word = fen_field(text, 5, len);
  const long move = counter_value(word, len);
  if (clock == COUNTER_UNREADABLE || move == COUNTER_UNREADABLE) {
    c.readable = false;
    return c;
  }
  // Past 100 the rule has already been reached, and more changes nothing.
  c.clock = int(std::min(clock, 100L));
  if (move != COUNTER_ABSENT) c.move = int(std::clamp(move, 1L, long(FEN_MOVE_LIMIT)));
  return c;
}

int set_position(Position& pos, const char* raw_text, char* note, std::size_t note_size) {
  const std::string spaced = single_spaced(raw_text);
  const char* text = spaced.c_str();
  GameHistory* h = pos.owner;
  u8 side = pos.side;
  std::memset(pos.board, 0, sizeof pos.board);
  std::memset(pos.pieces, 0, sizeof pos.pieces);
  pos.hash_key = pos.pawn_key = 0;
  pos.material_signature[0] = pos.material_signature[1] = 0;
  pos.piece_material[0] = pos.piece_material[1] = 0;
  pos.king_square[0] = pos.king_square[1] = 0;
  pos.fifty_count = 0;
  pos.castle_rights = 0;
  pos.ep_square = NO_SQUARE;
  pos.side = side <= 1 ? side : u8(WHITE);
  h->history_count = 0;
  h->search_ply = 1;
  h->last_move = 0;
  std::memset(h->entries, 0, 4 * sizeof(HistoryEntry));

  const char* p = text;
  int sq = A8;
  static const char kLetters[] = "PNBRQKpnbrqk";
  for (; *p && *p != ' '; ++p) {
    char ch = *p;
    int file = file_of(sq);
    if (ch >= '0' && ch <= '9') {
      // A run of empty squares never leaves the rank: it stops on the h-file.
      int n = ch - '0';
      sq = file + n > 7 ? sq - file + 7 : sq + n;
    } else if (ch == '/') {
      int r = rank_of(sq);
      sq = make_square(0, r > 0 ? r - 1 : 0);
    } else {
      const char* found = std::strchr(kLetters, ch);
      if (found && ch) {
        int idx = int(found - kLetters);
        int colour = idx >= 6 ? BLACK : WHITE;
        int type = idx % 6 + 1;
        int piece = make_piece(colour, type);
        if (pos.board[sq]) {  // a square written twice: replace what stood there
          int old = pos.board[sq];
          remove_piece(pos, old, sq);
          sub_material(pos, colour_of(old), type_of(old));
        }
        put_piece(pos, piece, sq);
        add_material(pos, colour, type);
      }
      if (file < 7) ++sq;
    }
  }
  for (int c = 0; c < 2; ++c)
    pos.king_square[c] = pos.pieces[c][KING] ? u8(lsb(pos.pieces[c][KING])) : u8(0);
  // Side to move
  if (*p == ' ') {
    ++p;
    if (*p == 'w') pos.side = WHITE;
    else if (*p == 'b') pos.side = BLACK;
    if (*p) ++p;
  }
  // Castling
  while (*p == ' ') ++p;
  const char* castling_field = p;
  while (*p && *p != ' ') ++p;
  const char* castling_end = p;
  // En passant
  while (*p == ' ') ++p;
  int ep_file = -1, ep_rank = -1;
  for (; *p && *p != ' '; ++p) {
    if (*p >= 'a' && *p <= 'h') ep_file = *p - 'a';
    else if (*p >= '1' && *p <= '8') ep_rank = *p - '1';
  }
  if (ep_file >= 0) {
    // Only a square a pawn can just have passed over is kept: anything else
    // would let the generators take a pawn that is not there.
    int ep = make_square(ep_file, ep_rank >= 0 ? ep_rank : 0);
    int mover = pos.side ^ 1;  // the side that made the double step
    int pawn_sq = ep + PUSH_DIR[mover];
    int origin = ep - PUSH_DIR[mover];
    bool right_rank = rank_of(ep) == (mover == WHITE ? 2 : 5);
    if (right_rank && pos.board[pawn_sq] == make_piece(mover, PAWN) && !pos.board[ep] && !pos.board[origin])
      pos.ep_square = u8(ep);
  }
  const char* rest = p;
  const FenCounters counters = fen_counters(text);
  pos.fifty_count = u8(counters.clock);
  h->start_ply = u16(2 * (counters.move - 1) + pos.side);

  const bool dropped = !read_castling(pos, castling_field, castling_end);
  pos.hash_key = compute_hash_key(pos);
  pos.pawn_key = compute_pawn_key(pos);

  if (dropped) {
    std::snprintf(note, note_size, "Illegal EPD - %.500s", rest);
    return -1;
  }
  return 0;
}

void position_to_fen(const Position& pos, char* buffer) {
  static const char kLetters[] = " PNBRQK  pnbrqk ";
  char* out = buffer;
  for (int r = 7; r >= 0; --r) {
    int empty = 0;
    for (int f = 0; f < 8; ++f) {
      int piece = pos.board[make_square(f, r)];
      if (!piece) {
        ++empty;
        continue;
      }
      if (empty) *out++ = char('0' + empty);
      empty = 0;
      *out++ = kLetters[piece];
    }
    if (empty) *out++ = char('0' + empty);
    if (r) *out++ = '/';
  }
  *out++ = ' ';
  *out++ = pos.side == WHITE ? 'w' : 'b';
  *out++ = ' ';
  if (!pos.castle_rights) *out++ = '-';
  for (int r = 0; r < 4; ++r) {
    if (!(pos.castle_rights & (1 << r))) continue;
    // KQkq when the right's rook is the outermost one on its side, else its
    // file; with UCI_Chess960 off only the usual layout reads back as KQkq.
    const int c = r >> 1, rs = pos.castle_rook[r];
    const Bitboard back_rank = RANK_1 << (56 * c);
    const Bitboard beyond = back_rank & (r & 1 ? bit(rs) - 1 : ~(bit(rs) | (bit(rs) - 1)));
    const bool usual = pos.king_square[c] == HOME_KING_SQUARE[c] && file_of(rs) == (r & 1 ? 0 : 7);
    const bool outermost = !(beyond & pos.pieces[c][ROOK]);
    char letter = outermost && (usual || g_chess960) ? (r & 1 ? 'Q' : 'K') : char('A' + file_of(rs));
    *out++ = c == BLACK ? char(letter - 'A' + 'a') : letter;
  }
  *out++ = ' ';
  if (pos.ep_square < 64) {
    *out++ = char('a' + file_of(pos.ep_square));
    *out++ = char('1' + rank_of(pos.ep_square));
  } else {
    *out++ = '-';
  }
  *out = 0;
}

void print_board(const Position& pos) {
  static const char kLetters[] = " PNBRQK  onbrqk ";
  char line[128];
  position_to_fen(pos, line);
  output_line(line);
  for (int r = 7; r >= 0; --r) {
    char* out = line;
    *out++ = ' ';
    for (int f = 0; f < 8; ++f) {
      int piece = pos.board[make_square(f, r)];
      *out++ = ' ';
      *out++ = piece ? kLetters[piece] : ((f & 1) == (r & 1) ? '+' : '-');
    }
    *out = 0;
    output_line(line);
  }
  output_line(pos.side == WHITE ? "white" : "black");
}

int split_epd(const char* line, char* fen, char* bm, char* am, char* id, char* ce, char* c0, char* c6) {
  char buf[513];
  std::snprintf(buf, sizeof buf, "%s", line);
  bm[0] = am[0] = id[0] = ce[0] = c0[0] = c6[0] = 0;
  fen[0] = 0;

  const char* p = buf;
  char* out = fen;
  for (int field = 0; field < 4; ++field) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p || *p == '\n' || *p == '\r') return 0;
    if (field) *out++ = ' ';
    while (*p && !is_blank(*p)) *out++ = *p++;
  }
  *out = 0;

  auto is_sep = [](char c) { return is_blank(c) || c == ';'; };
  while (*p) {
    while (*p && is_sep(*p)) ++p;
    if (!*p) break;
    const char* tok = p;
    while (*p && !is_sep(*p)) ++p;
    size_t len = size_t(p - tok);
    char* target = nullptr;
    if (len == 2) {
      if (!std::strncmp(tok, "bm", 2)) target = bm;
      else if (!std::strncmp(tok, "am", 2)) target = am;
      else if (!std::strncmp(tok, "id", 2)) target = id;
      else if (!std::strncmp(tok, "ce", 2)) target = ce;
      else if (!std::strncmp(tok, "c0", 2)) target = c0;
      else if (!std::strncmp(tok, "c6", 2)) target = c6;
    }
    if (!target) continue;
    while (*p == ' ' || *p == '\t') ++p;
    const char* value = p;
    while (*p && *p != ';') ++p;
    const char* end = p;
    while (end > value && is_blank(end[-1])) --end;
    size_t n = size_t(end - value);
    std::memcpy(target, value, n);
    target[n] = 0;
    if (*p == ';') ++p;
  }
  return 1;
}

void make_move(Position& pos, Move move) {
  if (g_trace_hook) g_trace_hook(pos, move);
  const int from = move_from(move), to = move_to(move);
  const int piece = pos.board[from];
  const int c = pos.side;
  const int captured = pos.board[to];
  if (type_of(piece) == KING) {
    const int r = castle_index(pos, c, move);
    if (r >= 0) {
      make_castle(pos, move, r);
      return;
    }
  }
  push_history(pos, move, type_of(captured));

  u64 key = pos.hash_key;
  if (pos.ep_square != NO_SQUARE) key ^= g_zobrist[pos.ep_square];
  const int old_ep = pos.ep_square;
  pos.ep_square = NO_SQUARE;
  u8 rights = pos.castle_rights & ~(pos.castle_mask[from] | pos.castle_mask[to]);
  if (rights != pos.castle_rights) {
    key ^= g_zobrist[pos.castle_rights] ^ g_zobrist[rights];
    pos.castle_rights = rights;
  }
  if (pos.fifty_count < 255) ++pos.fifty_count;
  pos.side ^= 1;

  if (captured) {
    remove_piece(pos, captured, to);
    sub_material(pos, c ^ 1, type_of(captured));
    key ^= zkey(captured, to);
    if (type_of(captured) == PAWN) pos.pawn_key ^= zkey(captured, to);
    pos.fifty_count = 0;
  }
  move_piece(pos, piece, from, to);
  key ^= zkey(piece, from) ^ zkey(piece, to);

  const int type = type_of(piece);
  if (type == PAWN) {
    pos.pawn_key ^= zkey(piece, from) ^ zkey(piece, to);
    pos.fifty_count = 0;
    if (to - from == 2 * PUSH_DIR[c]) {
      pos.ep_square = u8(from + PUSH_DIR[c]);
      key ^= g_zobrist[pos.ep_square];
    } else if (to == old_ep) {
      int victim_sq = to - PUSH_DIR[c];
      int victim = pos.board[victim_sq];
      remove_piece(pos, victim, victim_sq);
      sub_material(pos, c ^ 1, PAWN);
      key ^= zkey(victim, victim_sq);
      pos.pawn_key ^= zkey(victim, victim_sq);
    } else if (move & PROMO_MASK) {
      int promoted = make_piece(c, promotion_type(move));
      remove_piece(pos, piece, to);
      sub_material(pos, c, PAWN);
      key ^= zkey(piece, to);
      pos.pawn_key ^= zkey(piece, to);
      put_piece(pos, promoted, to);
      add_material(pos, c, type_of(promoted));
      key ^= zkey(promoted, to);
    }
  } else if (type == KING) {
    pos.king_square[c] = u8(to);
  }
  pos.hash_key = (key & ~u64(1)) | pos.side;
  debug_check(pos);
}

void unmake_move(Position& pos) {
  const HistoryEntry& e = pop_history(pos);
  pos.pawn_key = e.pawn_key;

  const Move move = e.move;
  if (e.captured == CASTLE_MARK) {
    unmake_castle(pos, move);
    return;
  }
  const int from = move_from(move), to = move_to(move);
  const int c = pos.side;
  int piece = pos.board[to];
  move_piece(pos, piece, to, from);

  if (e.captured) {
    int captured = make_piece(c ^ 1, e.captured);
    put_piece(pos, captured, to);
    add_material(pos, c ^ 1, e.captured);
    if (e.captured == KING) pos.king_square[c ^ 1] = u8(to);
  }
  const int type = type_of(piece);
  if (type == PAWN && to == pos.ep_square) {
    int victim_sq = to - PUSH_DIR[c];
    put_piece(pos, make_piece(c ^ 1, PAWN), victim_sq);
    add_material(pos, c ^ 1, PAWN);
  } else if (type == KING) {
    pos.king_square[c] = u8(from);
  }
  if (move & PROMO_MASK) {
    remove_piece(pos, piece, from);
    sub_material(pos, c, type);
    put_piece(pos, make_piece(c, PAWN), from);
    add_material(pos, c, PAWN);
  }
  debug_check(pos);
}

void make_null(Position& pos) {
  if (g_trace_hook) g_trace_hook(pos, 0);
  push_history(pos, 0, 0);
  u64 key = pos.hash_key;
  if (pos.ep_square != NO_SQUARE) key ^= g_zobrist[pos.ep_square];
  pos.ep_square = NO_SQUARE;
  if (pos.fifty_count < 255) ++pos.fifty_count;
  pos.side ^= 1;
  pos.hash_key = (key & ~u64(1)) | pos.side;
}

void unmake_null(Position& pos) { pop_history(pos); }

bool is_repetition(const Position& pos, int root_count) {
  const GameHistory& h = *pos.owner;
  int count = h.history_count;
  int limit = pos.fifty_count < count ? pos.fifty_count : count;
  int earlier = 0;
  for (int back = 4; back <= limit; back += 2) {
    int idx = count - back;
    if (h.entries[idx].key != pos.hash_key) continue;
    if (idx >= root_count) return true;
    if (++earlier >= 2) return true;
  }
  return false;
}

void history_trim(Position& pos) {
  GameHistory& h = *pos.owner;
  if (h.history_count <= HISTORY_GAME_LIMIT) return;
  int drop = h.history_count - HISTORY_KEEP;
  h.start_ply = u16(h.start_ply + drop);
  std::memmove(h.entries, h.entries + drop, HISTORY_KEEP * sizeof(HistoryEntry));
  h.history_count = u16(HISTORY_KEEP);
}

void copy_position(Position& dst, const Position& src) {
  GameHistory* owner = dst.owner;
  dst = src;
  dst.owner = owner;
  owner->history_count = src.owner->history_count;
  owner->search_ply = src.owner->search_ply;
  owner->last_move = src.owner->last_move;
  owner->start_ply = src.owner->start_ply;
  std::memcpy(owner->entries, src.owner->entries, src.owner->history_count * sizeof(HistoryEntry));
}

bool position_is_consistent(const Position& pos) {
  Bitboard pieces[2][8] = {};
  u32 sig[2] = {0, 0};
  i16 mat[2] = {0, 0};
  int kings[2] = {-1, -1};
  int king_count[2] = {0, 0};
  if (pos.board[64] != 0) return false;
  for (int sq = 0; sq < 64; ++sq) {
    int piece = pos.board[sq];
    if (!piece) continue;
    int c = colour_of(piece), t = type_of(piece);
    if (t < PAWN || t > KING || c > 1) return false;
    pieces[c][0] |= bit(sq);
    pieces[c][t] |= bit(sq);
    sig[c] += SIGNATURE_INC[t];
    mat[c] = i16(mat[c] + MATERIAL_INC[t]);
    if (t == KING) {
      kings[c] = sq;
      ++king_count[c];
    }
  }
  for (int c = 0; c < 2; ++c) {
    for (int t = 0; t < 8; ++t)
      if (pieces[c][t] != pos.pieces[c][t]) return false;
    if (sig[c] != pos.material_signature[c] || mat[c] != pos.piece_material[c]) return false;
    // king_square is only meaningful with exactly one king (odd set-ups are refused upstream).
    if (king_count[c] == 1 && kings[c] != pos.king_square[c]) return false;
  }
  if (pos.side > 1) return false;
  for (int r = 0; r < 4; ++r) {
    if (!(pos.castle_rights & (1 << r))) continue;
    const int c = r >> 1;
    if (pos.castle_move[r] == MOVE_END || pos.board[move_from(pos.castle_move[r])] != make_piece(c, KING) ||
        pos.board[pos.castle_rook[r]] != make_piece(c, ROOK))
      return false;
  }
  return pos.hash_key == compute_hash_key(pos) && pos.pawn_key == compute_pawn_key(pos);
}

bool is_attacked(const Position& pos, int sq, int colour) {
  const Bitboard* p = pos.pieces[colour];
  if (pawn_attacks(colour ^ 1, sq) & p[PAWN]) return true;
  if (knight_attacks(sq) & p[KNIGHT]) return true;
  if (king_attacks(sq) & p[KING]) return true;
  Bitboard occ = pos.occupied();
  Bitboard diag = p[BISHOP] | p[QUEEN];
  if ((bishop_rays(sq) & diag) && (bishop_attacks(sq, occ) & diag)) return true;
  Bitboard orth = p[ROOK] | p[QUEEN];
  if ((rook_rays(sq) & orth) && (rook_attacks(sq, occ) & orth)) return true;
  return false;
}

bool castling_is_standard(const Position& pos) {
  for (int r = 0; r < 4; ++r) {
    if (!(pos.castle_rights & (1 << r))) continue;
    const int c = r >> 1;
    const int corner = (r & 1 ? A1 : H1) + 56 * c;
    if (pos.king_square[c] != HOME_KING_SQUARE[c] || pos.castle_rook[r] != corner) return false;
  }
  return true;
}

bool castle_is_safe(const Position& pos, int r) {
  const int c = r >> 1;
  // The rook leaves its square, so it shields nothing (an enemy rook behind it
  // on the back rank may see the king's target).
  const Bitboard occ = pos.occupied() & ~bit(pos.castle_rook[r]);
  if (attacked_with(pos, move_from(pos.castle_move[r]), c ^ 1, occ)) return false;
  for (Bitboard b = pos.castle_king_path[r]; b;)
    if (attacked_with(pos, pop_lsb(b), c ^ 1, occ)) return false;
  return true;
}

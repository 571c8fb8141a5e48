#include "board/notation.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "board/movegen.h"
#include "platform/output.h"

const char* const SQUARE_NAMES[65] = {
    "a1", "b1", "c1", "d1", "e1", "f1", "g1", "h1", "a2", "b2", "c2", "d2", "e2", "f2", "g2", "h2",
    "a3", "b3", "c3", "d3", "e3", "f3", "g3", "h3", "a4", "b4", "c4", "d4", "e4", "f4", "g4", "h4",
    "a5", "b5", "c5", "d5", "e5", "f5", "g5", "h5", "a6", "b6", "c6", "d6", "e6", "f6", "g6", "h6",
    "a7", "b7", "c7", "d7", "e7", "f7", "g7", "h7", "a8", "b8", "c8", "d8", "e8", "f8", "g8", "h8", "--"};

namespace {

const char kPieceLetters[] = " PNBRQK ";

char promotion_letter(Move m) {
  switch (promotion_type(m)) {
    case QUEEN: return 'Q';
    case KNIGHT: return 'N';
    case BISHOP: return 'B';
    case ROOK: return 'R';
    default: return 0;
  }
}

// Other pieces of the mover's type and colour that could legally move to `to`
// (the mover excluded).  A pinned piece whose move would be illegal is no rival:
// counting it would add a needless qualifier, and a reader that compares the
// written forms would then reject the plain "Rc8".
Bitboard rival_attackers(const Position& pos, int piece, int from, int to) {
  const int c = colour_of(piece), t = type_of(piece);
  Bitboard others = pos.pieces[c][t] & ~bit(from);
  Bitboard occ = pos.occupied() | bit(to);
  Bitboard rivals;
  switch (t) {
    case KNIGHT: rivals = knight_attacks(to) & others; break;
    case BISHOP: rivals = bishop_attacks(to, occ) & others; break;
    case ROOK: rivals = rook_attacks(to, occ) & others; break;
    case QUEEN: rivals = queen_attacks(to, occ) & others; break;
    case KING: rivals = king_attacks(to) & others; break;
    default: return 0;
  }
  for (Bitboard b = rivals; b;) {
    const int sq = pop_lsb(b);
    if (!is_legal(pos, c, make_move_code(sq, to))) rivals &= ~bit(sq);
  }
  return rivals;
}

void append_check(char* s, bool check) {
  if (check && s[0]) std::strcat(s, "+");
}

}  // namespace

void move_to_text(Move move, char* buffer, Notation style) {
  const int from = move_from(move), to = move_to(move);
  char* out = buffer;
  *out++ = SQUARE_NAMES[from][0];
  *out++ = SQUARE_NAMES[from][1];
  *out++ = SQUARE_NAMES[to][0];
  *out++ = SQUARE_NAMES[to][1];
  char p = promotion_letter(move);
  if (p) {
    if (style == Notation::UCI) {
      *out++ = char(std::tolower(p));
    } else {
      *out++ = '=';
      *out++ = p;
    }
  }
  *out = 0;
}

bool move_to_san(const Position& pos, Move move, char* coordinate, char* san, char* san_file, char* san_rank) {
  san[0] = san_file[0] = san_rank[0] = 0;
  if (move == 0) {
    std::strcpy(coordinate, "null");
    return false;
  }
  const int from = move_from(move), to = move_to(move);
  std::sprintf(coordinate, "%s%s", SQUARE_NAMES[from], SQUARE_NAMES[to]);
  char promo[3] = {0, 0, 0};
  if (promotion_letter(move)) {
    promo[0] = '=';
    promo[1] = promotion_letter(move);
    std::strcat(coordinate, promo);
  }

  const int piece = pos.board[from];
  const int type = type_of(piece);
  const bool capture = pos.board[to] != 0 && colour_of(pos.board[to]) != colour_of(piece);
  const char* dest = SQUARE_NAMES[to];

  const int castle = type == KING ? castle_index(pos, colour_of(piece), move) : -1;
  if (castle >= 0) {
    bool is_short = (castle & 1) == 0;
    std::strcpy(san, is_short ? "o-o" : "o-o-o");
    std::strcpy(san_file, is_short ? "O-O" : "O-O-O");
    std::strcpy(san_rank, is_short ? "0-0" : "0-0-0");
  } else if (type == PAWN) {
    char f = SQUARE_NAMES[from][0];
    if (capture || to == pos.ep_square) {
      std::sprintf(san, "%cx%s%s", f, dest, promo);
      std::sprintf(san_file, "%c%c%s", f, dest[0], promo);
    } else {
      std::sprintf(san, "%s%s", dest, promo);
      std::strcpy(san_file, san);
    }
  } else if (type) {
    char letter = kPieceLetters[type];
    const char* x = capture ? "x" : "";
    char ff = SQUARE_NAMES[from][0], fr = SQUARE_NAMES[from][1];
    Bitboard rivals = rival_attackers(pos, piece, from, to);
    char dis[3] = {0, 0, 0};
    if (rivals) {
      if (!(rivals & (FILE_A << file_of(from)))) {
        dis[0] = ff;
      } else if (!(rivals & (RANK_1 << (8 * rank_of(from))))) {
        dis[0] = fr;
      } else {
        dis[0] = ff;
        dis[1] = fr;
      }
    }
    std::sprintf(san, "%c%s%s%s", letter, dis, x, dest);
    std::sprintf(san_file, "%c%c%s%s", letter, ff, x, dest);
    std::sprintf(san_rank, "%c%c%s%s", letter, fr, x, dest);
  }

  MoveEntry entry{move, 0, u8(piece), u8(pos.board[to])};
  bool check = type != 0 && gives_check(pos, colour_of(piece), entry) != 0;
  append_check(coordinate, check);
  append_check(san, check);
  append_check(san_file, check);
  append_check(san_rank, check);
  return check;
}

int count_move_matches(const Position& pos, const char* text, Move* move) {
  char buf[40];
  size_t n = 0;
  for (; text[n] && text[n] != '+' && n < sizeof buf - 2; ++n) buf[n] = text[n];
  if (text[n] && text[n] != '+') return 0;  // far too long to be a move
  buf[n] = 0;
  if (n == 0) return 0;

  // A trailing promotion letter: "e7e8q" and "e8q" become "e7e8=Q" and "e8=Q".
  char last = char(std::toupper(static_cast<unsigned char>(buf[n - 1])));
  if (last == 'B' || last == 'N' || last == 'Q' || last == 'R') {
    char before = n >= 2 ? buf[n - 2] : 0;
    // Only after a rank digit or '=': "cb" is a pawn capture towards the b-file.
    if (before == '=' || (before >= '1' && before <= '8')) {
      if (before != '=') {
        buf[n - 1] = '=';
        buf[n++] = last;
        buf[n] = 0;
      } else {
        buf[n - 1] = last;
      }
    }
  }
  for (char* p = buf; *p; ++p)
    if (*p == 'O' || *p == '0') *p = 'o';

  MoveEntry list[MAX_MOVES];
  MoveEntry* end = gen_captures(pos, pos.side, list, NO_SQUARE);
  end = gen_promotions(pos, pos.side, end, true);
  end = gen_quiets(pos, pos.side, end, NO_SQUARE);

  int matches = 0;
  Move found = 0;
  char forms[4][24];
  for (MoveEntry* e = list; e < end; ++e) {
    move_to_san(pos, e->move, forms[0], forms[1], forms[2], forms[3]);
    bool hit = false;
    for (auto& f : forms) {
      char* plus = std::strchr(f, '+');
      if (plus) *plus = 0;
      if (f[0] && std::strcmp(f, buf) == 0) hit = true;
    }
    if (hit && is_legal(pos, pos.side, e->move)) {
      ++matches;
      found = e->move;
    }
  }
  if (matches == 1) *move = found;
  return matches;
}

int parse_move(const Position& pos, const char* text, Move* move) {
  int matches = count_move_matches(pos, text, move);
  if (matches >= 2) output_line("ambiguous move");
  return matches == 1;
}

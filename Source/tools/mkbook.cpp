#include "tools/mkbook.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "board/notation.h"
#include "book/book.h"
#include "platform/output.h"
#include "tools/pgn.h"

namespace {

// One (position, move) seen in the games, with its results for the mover.
struct BookNode {
  u64 key;
  u32 wins, losses, draws;
  u16 book_move;  // already in the book's move field
  BookNode* next;
};

constexpr int CHAINS = 16384;  // indexed by the top 14 bits of the key

struct BookTable {
  BookNode* chain[CHAINS] = {};
  int nodes = 0;
  bool failed = false;
};

// The book's move field: castling as the king taking its own rook,
// promotions 1 knight .. 4 queen in bits 12-14.
u16 book_move_field(const Position& pos, Move m) {
  int from = move_from(m), to = move_to(m);
  const int r = type_of(pos.board[from]) == KING ? castle_index(pos, pos.side, m) : -1;
  if (r >= 0) to = pos.castle_rook[r];
  int promo = promotion_type(m);
  return u16((promo ? (promo - 1) << 12 : 0) | (from << 6) | to);
}

void record(BookTable& t, u64 key, u16 move, int outcome) {
  BookNode** link = &t.chain[key >> 50];
  while (*link && (*link)->key < key) link = &(*link)->next;
  for (BookNode** p = link; *p && (*p)->key == key; p = &(*p)->next) {
    link = &(*p)->next;
    if ((*p)->book_move == move) {
      BookNode& n = **p;
      (outcome > 0 ? n.wins : outcome < 0 ? n.losses : n.draws) += 1;
      return;
    }
  }
  BookNode* n = new (std::nothrow) BookNode{key, 0, 0, 0, move, *link};
  if (!n) {
    t.failed = true;
    return;
  }
  (outcome > 0 ? n->wins : outcome < 0 ? n->losses : n->draws) = 1;
  *link = n;
  ++t.nodes;
}

void add_game(BookTable& t, const PgnGame& g) {
  static GameHistory history;
  static Position pos;
  position_init(pos, history);
  set_position(pos, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
  for (int i = 0; i < g.move_count && i < BOOK_BUILD_PLIES && !t.failed; ++i) {
    Move m;
    if (!parse_game_move(pos, g.moves[i].text, &m)) return;  // the rest of the game is not trusted
    int outcome = g.result == PGN_DRAW ? 0 : g.result == pos.side ? 1 : -1;
    record(t, polyglot_key(pos), book_move_field(pos, m), outcome);
    make_move(pos, m);
  }
}

// Weight of a move in the book from its results for the side that played
// it; moves with a weight of 9 or less or fewer than 3 wins are left out (0).
int book_weight(unsigned wins, unsigned losses, unsigned draws) {
  long long w = (long long)draws + 2 * (2 * (long long)wins - (long long)losses);
  return w <= 9 || wins < 3 ? 0 : int(std::min(w, 1LL << 30));
}

void put_be(FILE* f, u64 value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) std::fputc(int((value >> (8 * i)) & 0xFF), f);
}

void write_book(const BookTable& t, FILE* f) {
  struct Out {
    u16 move;
    int weight;
  };
  static Out run[4096];
  for (int c = 0; c < CHAINS; ++c) {
    for (const BookNode* n = t.chain[c]; n;) {
      u64 key = n->key;
      int count = 0, best = 0;
      for (; n && n->key == key; n = n->next) {
        int w = book_weight(n->wins, n->losses, n->draws);
        if (w == 0 || count == int(sizeof run / sizeof run[0])) continue;
        run[count++] = {n->book_move, w};
        best = std::max(best, w);
      }
      if (count == 0) continue;
      double factor = best > 60000 ? 60000.0 / best : 1.0;
      for (int i = 0; i < count; ++i) run[i].weight = int(run[i].weight * factor);
      std::stable_sort(run, run + count, [](const Out& a, const Out& b) { return a.weight > b.weight; });
      for (int i = 0; i < count; ++i) {
        put_be(f, key, 8);
        put_be(f, run[i].move, 2);
        put_be(f, u64(run[i].weight), 2);
        put_be(f, 0, 4);
      }
    }
  }
}

void free_table(BookTable& t) {
  for (BookNode*& head : t.chain)
    while (head) {
      BookNode* next = head->next;
      delete head;
      head = next;
    }
}

}  // namespace

void build_book(const char* pgn_file) {
  PgnReader reader;
  if (!pgn_open(reader, pgn_file)) return;
  output_format(" Creating file %s from games in %s", BOOK_BUILD_FILE, pgn_file);
  static BookTable table;
  table = BookTable{};
  static PgnGame game;
  int games = 0;
  while (!table.failed && pgn_next_game(reader, game)) {
    if (++games % 1024 == 0) {
      std::fputc('.', stdout);
      std::fflush(stdout);
    }
    if (game.result != PGN_UNKNOWN && !game.fen[0]) add_game(table, game);
  }
  pgn_close(reader);
  if (table.failed) {
    free_table(table);
    return;
  }
  std::printf("\nwriting book file ...");
  std::fflush(stdout);
  std::remove(BOOK_BUILD_FILE);
  if (FILE* f = std::fopen(BOOK_BUILD_FILE, "wb")) {
    write_book(table, f);
    std::fclose(f);
  } else {
    report_unwritable(BOOK_BUILD_FILE);
  }
  std::printf("\nngames= %d, nmoves= %d\n", games, table.nodes);
  output_line("done");
  free_table(table);
}

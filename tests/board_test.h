// A position with its own history stack, ready to use in tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "board/notation.h"
#include "board/perft.h"
#include "board/position.h"
#include "board/see.h"
#include "book/book.h"
#include "search/picker.h"
#include "search/thread.h"
#include "test_util.h"

struct TestBoard {
  GameHistory history;
  Position pos;
  TestBoard() {
    init_attacks();
    init_zobrist();
    position_init(pos, history);
  }
  explicit TestBoard(const char* fen) : TestBoard() { set_position(pos, fen); }
  std::string fen() const {
    char buf[128];
    position_to_fen(pos, buf);
    return buf;
  }
  Move parse(const char* text) const {
    Move m = 0;
    return parse_move(pos, text, &m) ? m : 0;
  }
  void play(const char* text) {
    Move m = parse(text);
    if (m) make_move(pos, m);
  }
};

// A board whose FEN must be accepted.
struct ValidBoard : TestBoard {
  ValidBoard() = default;
  explicit ValidBoard(const std::string& fen) { set(fen); }
  void set(const std::string& fen) { ASSERT_EQ(set_position(pos, fen.c_str()), 0) << fen; }
};

constexpr const char* START_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";
constexpr const char* KIWIPETE_FEN = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -";

struct PerftCase {
  std::string fen;
  std::vector<u64> counts;  // counts[d-1] for depth d
};

// A perft file: lines like "<fen> ;D1 20 ;D2 400 ..." (blanks after ';' allowed).
inline std::vector<PerftCase> perft_cases(const std::string& rel) {
  std::vector<PerftCase> cases;
  std::ifstream in(testdata_path(rel));
  for (std::string line; std::getline(in, line);) {
    if (line.find(';') == std::string::npos) continue;
    PerftCase c{line.substr(0, line.find(';')), {}};
    std::stringstream rest(line.substr(line.find(';')));
    int d;
    unsigned long long n;
    for (std::string tok; std::getline(rest, tok, ';');)
      if (std::sscanf(tok.c_str(), " D%d %llu", &d, &n) == 2) c.counts.push_back(n);
    cases.push_back(c);
  }
  return cases;
}

// Builds that re-verify every make/unmake from scratch count shallower.
#ifdef VORN_DEBUG_CHECKS
constexpr bool DEBUG_CHECKS = true;
#else
constexpr bool DEBUG_CHECKS = false;
#endif

// The perft generator gives the search generator's legal moves, and the
// counter their number.
inline void expect_generators_agree(const Position& pos, const std::string& what) {
  Move fast[MAX_MOVES], slow[MAX_MOVES];
  const int n = gen_legal_fast(pos, fast);
  ASSERT_EQ(n, gen_legal(pos, slow)) << what;
  std::sort(fast, fast + n);
  std::sort(slow, slow + n);
  EXPECT_TRUE(std::equal(fast, fast + n, slow)) << what;
  EXPECT_EQ(count_legal(pos), n) << what;
}

// One perft line: the bulk counter to `fast_depth`, the generator to every
// depth up to `slow_depth`, the search's move picker to `picker_depth`; both
// generators give the same root moves and the position is unchanged after.
inline void check_perft_case(const PerftCase& c, int fast_depth, int slow_depth, int picker_depth) {
  TestBoard b(c.fen.c_str());
  ASSERT_TRUE(position_is_consistent(b.pos)) << c.fen;
  const std::string fen = b.fen();
  const u64 key = b.pos.hash_key;
  ASSERT_EQ(perft_fast(b.pos, fast_depth), c.counts[fast_depth - 1]) << c.fen << " fast, depth " << fast_depth;
  for (int d = 1; d <= slow_depth; ++d) ASSERT_EQ(perft(b.pos, d), c.counts[d - 1]) << c.fen << " depth " << d;
  if (thread_count() == 0) create_search_threads(1);
  copy_root_to_threads(b.pos);
  ASSERT_EQ(perft_picker(*g_threads[0], picker_depth), c.counts[picker_depth - 1]) << c.fen << " through the picker";
  ASSERT_TRUE(b.fen() == fen && b.pos.hash_key == key) << c.fen;
  expect_generators_agree(b.pos, c.fen);
}

// The positions (first four FEN fields) of a test data file with one per
// line, EPD operations or perft counts after them.
inline std::vector<std::string> fens_of(const std::string& rel) {
  std::vector<std::string> fens;
  std::ifstream in(testdata_path(rel));
  for (std::string line, f[4]; std::getline(in, line);)
    if (std::istringstream ls(line.substr(0, line.find(';'))); ls >> f[0] >> f[1] >> f[2] >> f[3])
      fens.push_back(f[0] + " " + f[1] + " " + f[2] + " " + f[3]);
  return fens;
}

// The positions met while playing random legal moves (fixed seed) from each
// of the given ones, `plies` moves deep, keeping every `every`-th.
inline std::vector<std::string> with_random_plies(const std::vector<std::string>& bases, int plies, int every = 1) {
  std::vector<std::string> fens;
  u32 seed = 12345;
  for (const std::string& base : bases) {
    TestBoard b(base.c_str());
    for (int ply = 0; ply < plies; ++ply) {
      Move list[MAX_MOVES];
      const int n = gen_legal(b.pos, list);
      if (n == 0 || b.pos.fifty_count >= 100) break;
      seed = seed * 1103515245u + 12345u;
      make_move(b.pos, list[(seed >> 8) % n]);
      if (ply % every == every - 1) fens.push_back(b.fen());
    }
  }
  return fens;
}

// The legal moves, in UCI notation, after the given moves from fen.
inline std::set<std::string> legal_uci_moves(const std::string& fen, const std::vector<std::string>& moves = {}) {
  TestBoard b(fen.c_str());
  for (const std::string& m : moves) b.play(m.c_str());
  Move list[MAX_MOVES];
  std::set<std::string> out;
  for (int i = 0, n = gen_legal(b.pos, list); i < n; ++i) {
    char buf[16];
    move_to_text(list[i], buf, Notation::UCI);
    out.insert(buf);
  }
  return out;
}
inline bool is_legal_text(const std::string& fen, const std::vector<std::string>& moves, const std::string& text) {
  return legal_uci_moves(fen, moves).count(text) == 1;
}

// Writes a book of the given entries, in the given order, to path (a new
// temporary file when empty); returns the path.
inline std::string write_book(const std::vector<BookEntry>& entries, std::string path = "") {
  if (path.empty()) path = new_temp_dir() + "/book.bin";
  FILE* f = std::fopen(path.c_str(), "wb");
  for (const BookEntry& e : entries) {
    const u64 fields[4][2] = {{e.key, 8}, {e.move, 2}, {e.weight, 2}, {e.learn, 4}};
    for (const auto& [value, bytes] : fields)
      for (int i = int(bytes) - 1; i >= 0; --i) std::fputc(int(value >> (8 * i)) & 255, f);
  }
  std::fclose(f);
  return path;
}

// Board invariants, generation order, legality, keys, FEN/EPD, notation and SEE.

#include <cstring>
#include <map>
#include <random>

#include "board_test.h"

namespace {

// The perft suite's positions and a few random plies from each.
std::vector<std::string> sample_positions(int plies) {
  std::vector<std::string> out = fens_of("perft/perftsuite.epd"), more = with_random_plies(out, plies);
  out.insert(out.end(), more.begin(), more.end());
  return out;
}

}  // namespace

TEST(Bits, HardwareScansAgreeWithReference) {
  init_attacks();
  std::mt19937_64 rng(7);
  std::vector<Bitboard> patterns = {0, ~Bitboard(0), 0x8000000000000001ULL};
  for (int s = 0; s < 64; ++s) patterns.insert(patterns.end(), {bit(s), ~Bitboard(0) << s, ~Bitboard(0) >> s});
  for (int i = 0; i < 200000; ++i) patterns.insert(patterns.end(), {rng(), rng() & rng() & rng()});  // dense, sparse
  for (Bitboard b : patterns) {
    ASSERT_EQ(popcount(b), popcount_soft(b)) << b;
    ASSERT_TRUE(!b || (lsb(b) == lsb_soft(b) && msb(b) == msb_soft(b))) << b;
  }
}

TEST(Attacks, SlidersAgreeWithRayMethod) {
  init_attacks();
  std::mt19937_64 rng(99);
  for (int sq = 0; sq < 64; ++sq) {
    for (int i = 0; i < 3000; ++i) {
      Bitboard occ = rng() & rng();
      ASSERT_EQ(rook_attacks(sq, occ), rook_attacks_ray(sq, occ));
      ASSERT_EQ(bishop_attacks(sq, occ), bishop_attacks_ray(sq, occ));
    }
  }
}

// En passant has captured code 0; with a checker only interpositions (and
// king steps) are quiet moves.  Legality itself is left to perft and the
// brute-force comparison below.
TEST(MoveGen, EnPassantCodeAndCheckEvasions) {
  TestBoard ep("8/8/8/K2pP2r/8/8/8/4k3 w - d6");
  MoveEntry list[MAX_MOVES];
  ASSERT_EQ(gen_captures(ep.pos, WHITE, list, NO_SQUARE) - list, 1);
  EXPECT_EQ(list[0].move, make_move_code(E5, D6));
  EXPECT_EQ(list[0].captured, 0);
  TestBoard chk("4k3/8/8/8/8/8/1P4N1/r3K3 w - -");
  ASSERT_EQ(checker_square(chk.pos), A1);
  for (MoveEntry *e = list, *end = gen_quiets(chk.pos, WHITE, list, A1); e < end; ++e)
    EXPECT_TRUE(move_from(e->move) == E1 || (between(A1, E1) & bit(move_to(e->move)))) << e->move;
}

TEST(MoveGen, PseudoLegalAndLegalAgreeWithBruteForce) {
  REQUIRE_TESTDATA("perft/perftsuite.epd");
  auto fens = sample_positions(3);
  ASSERT_GT(fens.size(), 300u);
  MoveEntry list[MAX_MOVES];
  for (const auto& fen : fens) {
    TestBoard b(fen.c_str());
    const Position& pos = b.pos;
    MoveEntry* end = gen_all(pos, list);
    std::vector<bool> generated(65536, false);
    for (MoveEntry* e = list; e < end; ++e) generated[e->move] = true;
    for (int code = 0; code < 65535; ++code) {
      bool pseudo = is_pseudo_legal(pos, pos.side, Move(code));
      bool listed = generated[code];
      // Castling through attacked squares is in the list but refused by the pseudo-legal test.
      if (listed && !pseudo) {
        Move m = Move(code);
        ASSERT_TRUE(type_of(pos.board[move_from(m)]) == KING && std::abs(move_to(m) - move_from(m)) == 2)
            << fen << " " << code;
        ASSERT_FALSE(is_legal(pos, pos.side, m));
        continue;
      }
      ASSERT_EQ(pseudo, listed) << fen << " code " << code;
    }
    for (MoveEntry* e = list; e < end; ++e) {
      bool legal = is_legal(pos, pos.side, e->move);
      bool castling = type_of(e->piece) == KING && std::abs(move_to(e->move) - move_from(e->move)) == 2;
      make_move(b.pos, e->move);
      bool own_king_safe = !is_attacked(b.pos, b.pos.king_square[pos.side ^ 1], b.pos.side);
      bool enemy_in_check = in_check(b.pos);
      unmake_move(b.pos);
      if (castling && in_check(b.pos)) own_king_safe = false;
      if (castling && is_attacked(b.pos, (move_from(e->move) + move_to(e->move)) / 2, b.pos.side ^ 1))
        own_king_safe = false;
      ASSERT_EQ(legal, own_king_safe) << fen << " " << e->move;
      if (legal) {
        ASSERT_EQ(gives_check(b.pos, b.pos.side, *e) != 0, enemy_in_check) << fen << " " << e->move;
      }
    }
    ASSERT_EQ(no_legal_moves(pos), gen_legal(pos, reinterpret_cast<Move*>(list)) == 0) << fen;
  }
}

// Make/unmake restores everything bit for bit, and the incremental state always
// equals a rebuild from the board.
TEST(MakeUnmake, RestoresPositionExactly) {
  REQUIRE_TESTDATA("perft/perftsuite.epd");
  struct Walker {
    TestBoard& b;
    void walk(int depth) {
      Move moves[MAX_MOVES];
      int n = gen_legal(b.pos, moves);
      for (int i = 0; i < n; ++i) {
        Position before = b.pos;
        u16 count = b.history.history_count;
        make_move(b.pos, moves[i]);
        ASSERT_TRUE(position_is_consistent(b.pos));
        ASSERT_EQ(b.history.last_move, moves[i]);
        if (depth > 1) walk(depth - 1);
        unmake_move(b.pos);
        ASSERT_EQ(std::memcmp(&before, &b.pos, sizeof before), 0);
        ASSERT_EQ(b.history.history_count, count);
      }
    }
  };
  for (const auto& fen : fens_of("perft/perftsuite.epd")) {
    TestBoard b(fen.c_str());
    ASSERT_TRUE(position_is_consistent(b.pos)) << fen;
    Walker w{b};
    w.walk(2);
  }
}

TEST(Keys, ZobristRulesAndIncrementalKeys) {
  init_zobrist();
  EXPECT_GT(popcount(g_zobrist[0]), 15);
  std::map<u64, int> seen;
  for (int i = 0; i < ZOBRIST_SIZE; ++i) EXPECT_TRUE(seen.emplace(g_zobrist[i], i).second) << i;

  TestBoard b(START_FEN);
  const u64 start = b.pos.hash_key;
  EXPECT_EQ(start & 1, 0u);  // the side to move is the lowest bit
  for (const char* m : {"Nf3", "Nf6", "Ng1", "Ng8"}) b.play(m);
  EXPECT_EQ(b.pos.hash_key, start);
  EXPECT_EQ(b.history.entries[0].key, start);

  // The double step sets the en-passant square and keys it, even with no pawn to take.
  TestBoard e(START_FEN);
  e.play("e4");
  EXPECT_EQ(e.pos.ep_square, E3);
  TestBoard f("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
  EXPECT_EQ(f.pos.ep_square, E3);
  EXPECT_EQ(f.pos.hash_key, e.pos.hash_key);
  EXPECT_EQ(f.pos.pawn_key, e.pos.pawn_key);
  TestBoard g("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -");
  EXPECT_NE(g.pos.hash_key, e.pos.hash_key);
  EXPECT_EQ(g.pos.hash_key & 1, 1u);
}

TEST(Keys, RepetitionAndHistoryTrim) {
  TestBoard b(START_FEN);
  for (const char* m : {"Nf3", "Nf6", "Ng1", "Ng8"}) b.play(m);
  // The start position occurred once before the root: not yet a draw.
  EXPECT_FALSE(is_repetition(b.pos, b.history.history_count));
  // Inside the search line one earlier occurrence is enough.
  EXPECT_TRUE(is_repetition(b.pos, 0));
  for (const char* m : {"Nf3", "Nf6", "Ng1", "Ng8"}) b.play(m);
  EXPECT_TRUE(is_repetition(b.pos, b.history.history_count));

  // A very long game is trimmed without losing the recent history.
  TestBoard t(START_FEN);
  const char* cycle[] = {"Nf3", "Nf6", "Ng1", "Ng8"};
  for (int i = 0; i < 1000; ++i) {
    t.play(cycle[i % 4]);
    history_trim(t.pos);
    ASSERT_LE(t.history.history_count, HISTORY_GAME_LIMIT);
  }
  EXPECT_TRUE(is_repetition(t.pos, t.history.history_count));
  unmake_move(t.pos);
  EXPECT_TRUE(position_is_consistent(t.pos));
}

TEST(Fen, SetUpRulesAndFaults) {
  CaptureOutput out;
  TestBoard b;
  EXPECT_EQ(set_position(b.pos, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQ1KNR w KQkq - 0 1"), -1);
  ASSERT_EQ(g_captured.size(), 1u);
  EXPECT_EQ(g_captured[0], "Illegal EPD -  0 1");
  EXPECT_EQ(b.pos.castle_rights, CASTLE_BK | CASTLE_BQ);

  g_captured.clear();
  EXPECT_EQ(set_position(b.pos, "8/8/8/8/8/8/8/8 w - -"), 0);
  EXPECT_EQ(b.pos.king_square[WHITE], 0);
  EXPECT_EQ(b.pos.occupied(), 0u);
  EXPECT_TRUE(g_captured.empty());

  // Runs of empty squares stop at the h-file; stray characters step one square.
  set_position(b.pos, "9k/8/8/8/8/8/8/K7 b - -");
  EXPECT_EQ(b.pos.board[H8], make_piece(BLACK, KING));
  EXPECT_EQ(b.pos.side, BLACK);

  // An en-passant square no pawn can have passed over is dropped.
  set_position(b.pos, "4k3/8/8/8/8/8/8/4K3 w - e6");
  EXPECT_EQ(b.pos.ep_square, NO_SQUARE);
}

// The counters after the four position fields: the clock feeds the
// fifty-move count, the move number the game's ply; EPD operations in their
// place mean none; any run of blanks, tabs and line ends separates fields.
TEST(Fen, CountersAndRunsOfBlanks) {
  struct Case {
    const char* fen;
    int fifty, start_ply;
    bool readable;
  };
  const Case cases[] = {
      {"8/8/8/8/8/2k5/8/KQ6 w - - 37 80", 37, 158, true},
      {"8/8/8/8/8/2k5/8/KQ6 b - - 37 80", 37, 159, true},
      {"8/8/8/8/8/2k5/8/KQ6 w - -", 0, 0, true},
      {"8/8/8/8/8/2k5/8/KQ6 b - - 12", 12, 1, true},
      {"8/8/8/8/8/2k5/8/KQ6 w - - 0 0", 0, 0, true},  // move 0, as some programs write
      {"8/8/8/8/8/2k5/8/KQ6 w - - 150 99999999999999999999", 100, 2 * (FEN_MOVE_LIMIT - 1), true},
      {"8/8/8/8/8/2k5/8/KQ6 w - - bm Qb2; id \"x 5\";", 0, 0, true},
      {"8/8/8/8/8/2k5/8/KQ6 w - - -3 10", 0, 0, false},
      {"8/8/8/8/8/2k5/8/KQ6 w - - 3 +10", 0, 0, false},
      {"8/8/8/8/8/2k5/8/KQ6 w - - 3x 10", 0, 0, false},
      {"8/8/8/8/8/2k5/8/KQ6 w - - 3 c0 \"x\";", 3, 0, true},  // operations after a clock
      {"\t 8/8/8/8/8/2k5/8/KQ6 \t b  -\t\t-  7\t9 \r\n", 7, 17, true},
  };
  for (const Case& c : cases) {
    TestBoard b;
    b.pos.fifty_count = 55;
    set_position(b.pos, c.fen);
    EXPECT_EQ(b.pos.fifty_count, c.fifty) << c.fen;
    EXPECT_EQ(b.history.start_ply, c.start_ply) << c.fen;
    EXPECT_EQ(fen_counters(c.fen).readable, c.readable) << c.fen;
    EXPECT_EQ(b.pos.king_square[BLACK], C3) << c.fen;
  }
  // A tab ends the board field like a blank: "k7<TAB>qqq/..." has one rank.
  TestBoard tabbed("k7\tqqq/8/8/8/8/8/8/K7 w - - 0 1");
  EXPECT_EQ(tabbed.pos.pieces[BLACK][QUEEN], 0u);
  EXPECT_EQ(tabbed.pos.pieces[WHITE][KING], 0u);
  // The counters advance with the game: history_trim keeps the ply count.
  TestBoard knights("4k3/8/8/8/8/8/8/4K1N1 w - - 0 30");
  for (int i = 0; i < HISTORY_GAME_LIMIT + 2; ++i) {
    knights.play(i % 4 == 0 ? "g1f3" : i % 4 == 1 ? "e8d8" : i % 4 == 2 ? "f3g1" : "d8e8");
    history_trim(knights.pos);
  }
  EXPECT_EQ(knights.history.start_ply + knights.history.history_count, 58 + HISTORY_GAME_LIMIT + 2);
}

TEST(Fen, RandomAndTruncatedTextNeverBreaksThePosition) {
  std::mt19937 rng(2024);
  const std::string alphabet = "pnbrqkPNBRQK12345678/ -wbKQkqacdefgh0x9\t;";
  TestBoard b;
  CaptureOutput out;  // keep "Illegal EPD" noise out of the test log
  std::string full = KIWIPETE_FEN;
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    set_position(b.pos, full.substr(0, cut).c_str());
    ASSERT_TRUE(position_is_consistent(b.pos));
  }
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    int len = rng() % 120;
    for (int j = 0; j < len; ++j) text += alphabet[rng() % alphabet.size()];
    set_position(b.pos, text.c_str());
    ASSERT_TRUE(position_is_consistent(b.pos)) << text;
    char fen[128], ops[7][513];
    position_to_fen(b.pos, fen);
    Move m;
    parse_move(b.pos, text.c_str(), &m);
    split_epd(text.c_str(), ops[0], ops[1], ops[2], ops[3], ops[4], ops[5], ops[6]);
  }
  std::string huge(100000, '1');
  set_position(b.pos, huge.c_str());
  ASSERT_TRUE(position_is_consistent(b.pos));
  char ops[7][513];  // an EPD line longer than its fields is refused
  EXPECT_EQ(split_epd(huge.c_str(), ops[0], ops[1], ops[2], ops[3], ops[4], ops[5], ops[6]), 0);
  g_captured.clear();
}

TEST(Notation, SanFormsAndParsing) {
  TestBoard b(START_FEN);
  for (const char* t : {"Nf3", "g1f3", "Ngf3", "N1f3"}) EXPECT_EQ(b.parse(t), make_move_code(G1, F3)) << t;
  for (const char* t : {"O-O", "", "e4#"}) EXPECT_EQ(b.parse(t), 0) << t;

  // The shortest disambiguation: by file when that is enough, else by rank.
  char co[24], san[24], sf[24], sr[24];
  move_to_san(TestBoard("4k3/8/8/8/8/5N2/8/1N2K3 w - -").pos, make_move_code(B1, D2), co, san, sf, sr);
  EXPECT_EQ(std::string(san) + sf + sr, "Nbd2Nbd2N1d2");
  move_to_san(TestBoard("4k3/8/8/8/8/1N6/8/1N2K3 w - -").pos, make_move_code(B1, D2), co, san, sf, sr);
  EXPECT_STREQ(san, "N1d2");

  TestBoard p("4k3/1P6/8/8/8/8/8/4K3 w - -");
  Move promo = make_move_code(B7, B8) | PROMO_QUEEN;
  for (const char* t : {"b8q", "b8Q", "b8=Q", "b7b8q", "b7b8=Q"}) EXPECT_EQ(p.parse(t), promo) << t;
  move_to_text(promo, co, Notation::UCI);
  EXPECT_STREQ(co, "b7b8q");
  move_to_text(promo, co, Notation::CONSOLE);
  EXPECT_STREQ(co, "b7b8=Q");
  EXPECT_TRUE(move_to_san(p.pos, promo, co, san, sf, sr));
  EXPECT_STREQ(san, "b8=Q+");

  TestBoard c("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
  for (const char* t : {"O-O", "0-0", "o-o"}) EXPECT_EQ(c.parse(t), make_move_code(E1, G1)) << t;
  EXPECT_EQ(c.parse("O-O-O"), make_move_code(E1, C1));

  // Pawn captures by files alone, towards either side.
  TestBoard ed("4k3/8/8/3p4/4P3/8/8/4K3 w - -"), cb("4k3/8/8/1p6/2P5/8/8/4K3 w - -");
  EXPECT_EQ(ed.parse("ed"), make_move_code(E4, D5));
  EXPECT_EQ(cb.parse("cb"), make_move_code(C4, B5));
}

// A pinned rook that could otherwise reach c5 does not make Rc5 ambiguous,
// neither when written nor when read; freed from the pin it does.
TEST(Notation, PinnedRivalNeedsNoQualifier) {
  CaptureOutput out;  // "ambiguous move"
  char co[24], san[24], sf[24], sr[24];
  TestBoard pinned("5r1k/8/8/5R2/8/8/5K2/2R5 w - -");
  EXPECT_EQ(pinned.parse("Rc5"), make_move_code(C1, C5));
  move_to_san(pinned.pos, make_move_code(C1, C5), co, san, sf, sr);
  EXPECT_STREQ(san, "Rc5");
  TestBoard free_rook("5r1k/8/8/5R2/8/8/6K1/2R5 w - -");
  EXPECT_EQ(free_rook.parse("Rc5"), 0);
  move_to_san(free_rook.pos, make_move_code(C1, C5), co, san, sf, sr);
  EXPECT_STREQ(san, "Rcc5");
}

TEST(Notation, EveryFormOfEveryLegalMoveParsesBack) {
  REQUIRE_TESTDATA("perft/perftsuite.epd");
  CaptureOutput out;  // "ambiguous move" lines
  for (const auto& fen : sample_positions(2)) {
    TestBoard b(fen.c_str());
    Move moves[MAX_MOVES];
    int n = gen_legal(b.pos, moves);
    std::vector<std::vector<std::string>> forms(n);
    std::map<std::string, int> uses;
    for (int i = 0; i < n; ++i) {
      char f[4][24];
      move_to_san(b.pos, moves[i], f[0], f[1], f[2], f[3]);
      for (auto& s : f) {
        std::string t(s);
        if (auto plus = t.find('+'); plus != std::string::npos) t.erase(plus);
        if (t.empty()) continue;
        forms[i].push_back(t);
      }
      std::sort(forms[i].begin(), forms[i].end());
      forms[i].erase(std::unique(forms[i].begin(), forms[i].end()), forms[i].end());
      for (auto& t : forms[i]) ++uses[t];
    }
    for (int i = 0; i < n; ++i) {
      for (auto& t : forms[i]) {
        if (uses[t] > 1) continue;  // genuinely ambiguous form (e.g. two knights on one file)
        if (t[0] == 'o') continue;  // castling is typed as O-O; covered above
        ASSERT_EQ(b.parse(t.c_str()), moves[i]) << fen << " text " << t;
      }
    }
  }
}

TEST(See, ExchangeCases) {
  // Pawn takes a knight defended by a pawn: 330 - 100.
  TestBoard a("4k3/8/2p5/3n4/4P3/8/8/4K3 w - -");
  EXPECT_EQ(see_swap(a.pos, WHITE, E4, D5, a.pos.occupied(), false), 230);
  // Queen takes a pawn defended by a pawn.
  TestBoard q("4k3/8/2p5/3p4/8/8/3Q4/4K3 w - -");
  EXPECT_EQ(see_swap(q.pos, WHITE, D2, D5, q.pos.occupied(), false), -900);
  EXPECT_EQ(see_swap(q.pos, WHITE, D2, D5, q.pos.occupied(), true), 0);
  // X-ray: doubled rooks win the pawn against a single defending rook.
  TestBoard x("3r2k1/8/8/3p4/8/8/3R4/3RK3 w - -");
  EXPECT_EQ(see_swap(x.pos, WHITE, D2, D5, x.pos.occupied(), false), 100);
  // Pawn takes the rook, the second rook takes back, the king takes that rook.
  TestBoard k("8/8/8/3pk3/4R3/8/8/4RK2 b - -");
  EXPECT_EQ(see_swap(k.pos, BLACK, NO_SQUARE, E4, k.pos.occupied(), true), 530);
  TestBoard k2("8/8/8/4k3/4R3/8/8/4RK2 b - -");
  // Black's king takes the rook, White's second rook takes the king: the king's side stops.
  EXPECT_EQ(see_swap(k2.pos, BLACK, E5, E4, k2.pos.occupied(), true), 0);
  EXPECT_EQ(see_swap(k2.pos, BLACK, E5, E4, k2.pos.occupied(), false), 530 - 9999);
  // The board is untouched afterwards.
  EXPECT_TRUE(position_is_consistent(k2.pos));
  EXPECT_EQ(least_attacker(x.pos, D5, WHITE, x.pos.occupied()), D2);
  EXPECT_EQ(least_attacker(x.pos, D5, WHITE, x.pos.occupied() & ~bit(D2)), D1);
}

// Chess960 and double Chess960: castling with king and rooks anywhere on the
// back rank, both FEN forms of the castling field, and the move notation.

#include "board_test.h"
#include "engine_process.h"

namespace {

// The UCI_Chess960 setting for positions set up while it lives.
struct Chess960Setting {
  bool saved = g_chess960;
  explicit Chess960Setting(bool on) { g_chess960 = on; }
  ~Chess960Setting() { g_chess960 = saved; }
};

// The castling moves of the side to move, from the search's generator (the
// perft generator agrees with it), each accepted by the pseudo-legal and
// legal tests exactly when it is listed.
std::vector<std::string> castling_moves(const TestBoard& b) {
  expect_generators_agree(b.pos, b.fen());
  Move list[MAX_MOVES];
  std::vector<std::string> castles;
  for (int i = 0, n = gen_legal(b.pos, list); i < n; ++i) {
    char text[16];
    move_to_text(list[i], text, Notation::UCI);
    if (castle_index(b.pos, b.pos.side, list[i]) >= 0) castles.push_back(text);
  }
  for (int r = 2 * b.pos.side; r < 2 * b.pos.side + 2; ++r) {
    const Move m = b.pos.castle_move[r];
    if (m == MOVE_END) continue;
    char text[16];
    move_to_text(m, text, Notation::UCI);
    const bool listed = std::count(castles.begin(), castles.end(), std::string(text)) == 1;
    EXPECT_EQ(is_pseudo_legal(b.pos, b.pos.side, m) && is_legal(b.pos, b.pos.side, m), listed) << b.fen();
  }
  std::sort(castles.begin(), castles.end());
  return castles;
}

// Runs one perft file: a spread-out sample at the shallow depth, or every
// line at the deep one with VORN_LONG_TESTS=1.  Alternate lines are read
// with UCI_Chess960 off: the counts must not depend on how castling is written.
void check_perft_file(const char* rel, int sample, int sample_depth, int long_depth) {
  const std::vector<PerftCase> cases = perft_cases(rel);
  ASSERT_GE(cases.size(), 150u);
  const bool all = long_tests_enabled();
  const int depth = (all ? long_depth : sample_depth) - DEBUG_CHECKS;
  const std::size_t step = all ? 1 : cases.size() / sample;
  for (std::size_t i = 0; i < cases.size(); i += step) {
    Chess960Setting setting(i / step % 2 == 0);
    check_perft_case(cases[i], depth, std::min(depth, 3 - DEBUG_CHECKS), 2);
  }
}

}  // namespace

TEST(Chess960Perft, StartPositions) {
  REQUIRE_TESTDATA("perft/chess960-start.epd");
  check_perft_file("perft/chess960-start.epd", 30, 4, 5);
}

TEST(Chess960Perft, MiddleGamePositions) {
  REQUIRE_TESTDATA("perft/chess960-middle.epd");
  check_perft_file("perft/chess960-middle.epd", 20, 3, 4);
}

// KQkq (outermost rook) and rook files give one position with one key; a
// rook that is not the outermost needs its file; the writer picks the short form.
TEST(Chess960Fen, XFenAndShredderFenAgree) {
  Chess960Setting setting(true);
  struct Case {
    const char* x_fen;
    const char* shredder;
    const char* written;  // castling field as written back
  } cases[] = {
      {"bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w KQkq - 2 9",
       "bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9", "KQkq"},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha -",
       "KQkq"},
      // Double Chess960: the sides differ; black's h-side rook is an inner one.
      {"1r2k1rr/8/8/8/8/8/8/RK4R1 w KQgq - 0 1", "1r2k1rr/8/8/8/8/8/8/RK4R1 w GAgb - 0 1", "KQgq"},
      {"4k3/8/8/8/8/8/8/R1R1K2R w Ck - 0 1", "4k3/8/8/8/8/8/8/R1R1K2R w C - 0 1", "C"},
  };
  for (const Case& c : cases) {
    TestBoard x(c.x_fen), s(c.shredder);
    EXPECT_EQ(x.fen(), s.fen()) << c.x_fen;
    EXPECT_EQ(x.pos.hash_key, s.pos.hash_key) << c.x_fen;
    EXPECT_EQ(x.pos.castle_rights, s.pos.castle_rights) << c.x_fen;
    for (int r = 0; r < 4; ++r)
      EXPECT_TRUE(!(x.pos.castle_rights & (1 << r)) || x.pos.castle_rook[r] == s.pos.castle_rook[r]) << c.x_fen;
    EXPECT_EQ(words(x.fen())[2], c.written) << c.x_fen;
    TestBoard again(x.fen().c_str());
    EXPECT_EQ(again.pos.hash_key, x.pos.hash_key) << x.fen();
  }
  // With the inner rook: K means h1 (blocked by the g1 rook), G the g1 rook.
  TestBoard outer("4k3/8/8/8/8/8/8/4K1RR w K - 0 1"), inner("4k3/8/8/8/8/8/8/4K1RR w G - 0 1");
  EXPECT_EQ(outer.pos.castle_rook[0], H1);
  EXPECT_EQ(inner.pos.castle_rook[0], G1);
  EXPECT_TRUE(castling_moves(outer).empty());
  EXPECT_EQ(castling_moves(inner), std::vector<std::string>{"e1g1"});
  EXPECT_NE(outer.fen(), inner.fen());

  // With UCI_Chess960 off rook files are still read, and written back where
  // KQkq would mean the usual layout.
  Chess960Setting off(false);
  TestBoard files("4k3/8/8/8/8/8/8/RK5R w HA - 0 1");
  EXPECT_EQ(files.pos.castle_rights, CASTLE_WK | CASTLE_WQ);
  EXPECT_NE(files.fen().find(" w HA "), std::string::npos) << files.fen();
  EXPECT_EQ(castling_moves(files), (std::vector<std::string>{"b1a1", "b1h1"}));
}

// A right whose rook is gone, or whose king has left the back rank, is
// dropped with a note; the others stay.
TEST(Chess960Fen, RightWithoutItsRookOrKingIsDropped) {
  Chess960Setting setting(true);
  struct Case {
    const char* fen;
    const char* written;
  } cases[] = {
      {"rk6/8/8/8/8/8/8/RK5R w HAha - 0 1", "KQq"},
      {"rk6/8/8/8/8/8/8/RK5R w KQkq - 0 1", "KQq"},
      {"r3k2r/8/8/8/8/8/4K3/R6R w KQkq - 0 1", "kq"},
      {"r3k2r/8/8/8/8/8/8/R3K2R w EDed - 0 1", "-"},  // a file without a rook
  };
  for (const Case& c : cases) {
    TestBoard b;
    char note[600] = "";
    EXPECT_EQ(set_position(b.pos, c.fen, note, sizeof note), -1) << c.fen;
    EXPECT_NE(std::string(note).find("Illegal EPD"), std::string::npos) << c.fen;
    EXPECT_EQ(words(b.fen())[2], c.written) << c.fen;
    EXPECT_TRUE(position_is_consistent(b.pos)) << c.fen;
  }
}

// Castling in the layouts the usual one never shows: where king and rook
// end up, legality, and make/unmake restoring everything.
TEST(Chess960Castling, AwkwardLayouts) {
  Chess960Setting setting(true);
  struct Case {
    const char* fen;
    std::vector<std::string> castles;  // in UCI_Chess960 form
    const char* after;                 // placement after the first one
  } cases[] = {
      {"4k3/8/8/8/8/8/8/RK6 w A - 0 1", {"b1a1"}, "4k3/8/8/8/8/8/8/2KR4"},     // king b1, rook a1
      {"4k3/8/8/8/8/8/8/6KR w H - 0 1", {"g1h1"}, "4k3/8/8/8/8/8/8/5RK1"},     // king already on g1
      {"4k3/8/8/8/8/8/8/2RK4 w C - 0 1", {"d1c1"}, "4k3/8/8/8/8/8/8/2KR4"},    // rook on the king's target
      {"4k3/8/8/8/8/8/8/1KR5 w C - 0 1", {"b1c1"}, "4k3/8/8/8/8/8/8/5RK1"},    // towards h from the b-file
      {"4k3/8/8/8/8/8/8/RK5R w AH - 0 1", {"b1a1", "b1h1"}, "4k3/8/8/8/8/8/8/2KR3R"},
      {"1r2k3/8/8/8/8/8/8/R3K3 w A - 0 1", {"e1a1"}, "1r2k3/8/8/8/8/8/8/2KR4"},  // only the rook crosses b1
      {"rk4r1/8/8/8/8/8/8/6K1 b ag - 0 1", {"b8a8", "b8g8"}, "2kr2r1/8/8/8/8/8/8/6K1"},
      {"4r1k1/8/8/8/8/8/8/1K5R w H - 0 1", {}, nullptr},   // the king would cross e1
      {"4r1k1/8/8/8/8/8/8/4K2R w H - 0 1", {}, nullptr},   // out of check
      {"5rk1/8/8/8/8/8/8/6KR w H - 0 1", {"g1h1"}, "5rk1/8/8/8/8/8/8/5RK1"},  // the rook may land attacked
      {"4k3/8/8/8/8/8/8/qR1K4 w B - 0 1", {}, nullptr},    // the rook shields c1 from the queen until it moves
      {"4k3/8/8/8/8/8/8/RNK5 w A - 0 1", {}, nullptr},     // a piece between
      {"4k3/8/8/8/8/8/8/2KR1B2 w D - 0 1", {}, nullptr},   // the rook's target is taken
  };
  for (const Case& c : cases) {
    TestBoard b(c.fen);
    const std::string fen = b.fen();
    const u64 key = b.pos.hash_key;
    EXPECT_EQ(castling_moves(b), c.castles) << c.fen;
    if (!c.after || c.castles.empty()) continue;
    const Move m = b.parse(c.castles[0].c_str());
    ASSERT_NE(m, 0) << c.fen;
    make_move(b.pos, m);
    EXPECT_EQ(b.fen().substr(0, b.fen().find(' ')), c.after) << c.fen;
    EXPECT_TRUE(position_is_consistent(b.pos)) << c.fen;
    EXPECT_EQ(b.pos.castle_rights & (3 << (2 * (b.pos.side ^ 1))), 0) << c.fen;
    unmake_move(b.pos);
    EXPECT_EQ(b.fen(), fen) << c.fen;
    EXPECT_EQ(b.pos.hash_key, key) << c.fen;
  }
}

// With the option off a Chess960 layout still reads O-O-O and 0-0 and writes
// O-O; a king step onto the rook's square is castling only while the rook is there.
TEST(Chess960Castling, NotationWithTheOptionOff) {
  Chess960Setting setting(false);
  TestBoard b("4k3/8/8/8/8/8/8/RK5R w AH - 0 1");
  EXPECT_EQ(b.parse("O-O-O"), b.parse("b1a1"));
  EXPECT_EQ(b.parse("0-0"), b.parse("b1h1"));
  EXPECT_NE(b.parse("b1c1"), b.parse("O-O-O"));
  char coordinate[24], san[24], san_file[24], san_rank[24];
  move_to_san(b.pos, b.parse("O-O"), coordinate, san, san_file, san_rank);
  EXPECT_STREQ(san_file, "O-O");
  EXPECT_STREQ(coordinate, "b1h1");
  TestBoard gone("4k3/8/8/8/8/8/8/R1KR4 w AD - 0 1");
  for (const char* m : {"d1d5", "e8e7", "c1d1"}) gone.play(m);
  EXPECT_EQ(gone.fen().substr(0, gone.fen().find(' ')), "8/4k3/8/3R4/8/8/8/R2K4");
}

// Through the binary: with the option on castling is read and written as
// the king taking its rook, with it off as the two-square step.
TEST(Chess960Uci, CastlingNotationFollowsTheOption) {
  EngineProcess e;
  const std::string italian = "position startpos moves e2e4 e7e5 g1f3 b8c6 f1c4 g8f6 ";

  e.send(italian + "e1g1 a7a6");
  auto moves = divide(e, 1);
  EXPECT_TRUE(moves.count("f1e1") && moves.count("g1h1")) << "castled with the option off";

  e.send("setoption name UCI_Chess960 value true");
  e.send(italian + "e1h1 a7a6");
  moves = divide(e, 1);
  EXPECT_TRUE(moves.count("f1e1") && moves.count("g1h1")) << "castled with the option on";
  e.send(italian + "e1g1");  // no such move now: refused, the moves before it stand
  moves = divide(e, 1);
  EXPECT_TRUE(moves.count("e1h1") && moves.count("e1f1"));

  // The only mate: castling with the king already on g1 puts the rook on f1.
  e.send("ucinewgame");
  e.send("position fen 4rkr1/4p1p1/8/8/8/8/6PP/6KR w H - 0 1");
  e.send("go depth 4");
  EXPECT_EQ(e.bestmove(), "g1h1");
  e.send("position fen 4rkr1/4p1p1/8/8/8/8/6PP/6KR w H - 0 1 moves g1h1");
  EXPECT_TRUE(divide(e, 1).empty());

  // A Chess960 start position through a few searched moves each side.
  e.send("ucinewgame");
  std::string line = "position fen bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9 moves";
  for (int ply = 0; ply < 6; ++ply) {
    e.send(line);
    const auto legal = divide(e, 1);
    e.send("go nodes 3000");
    const std::string best = e.bestmove();
    ASSERT_TRUE(legal.count(best)) << line << " -> " << best;
    line += " " + best;
  }
  e.quit();
}

// Polyglot books: keys, lookups, weights and bad files; the book in play
// through the real binary.

#include "board_test.h"
#include "book/polyglot_random.h"
#include "engine_process.h"

namespace {

// One position of the reference list: its key, its moves from the start
// and every entry per book ("move:weight ..." or "-").
struct ExpectedBlock {
  std::string fen, moves;
  unsigned long long key = 0;
  std::map<std::string, std::string> entries;
};

std::vector<ExpectedBlock> read_expected() {
  std::vector<ExpectedBlock> blocks(1);
  std::ifstream in(testdata_path("books/expected.txt"));
  for (std::string line; std::getline(in, line);) {
    if (line.empty() && !blocks.back().fen.empty()) blocks.emplace_back();
    if (line.empty() || line[0] == '#') continue;
    const std::string head = line.substr(0, line.find(' ')), rest = line.substr(std::min(line.size(), head.size() + 1));
    ExpectedBlock& b = blocks.back();
    (head == "fen" ? b.fen : head == "moves" ? b.moves : b.entries[head]) = rest;
    if (head == "key") b.key = std::strtoull(rest.c_str(), nullptr, 16);
  }
  if (blocks.back().fen.empty()) blocks.pop_back();
  return blocks;
}

// A raw book move as stored: from, to and the promotion letter.
std::string raw_text(u16 raw) {
  int to = raw & 63, from = (raw >> 6) & 63, promo = (raw >> 12) & 7;
  const std::string s = std::string(SQUARE_NAMES[from]) + SQUARE_NAMES[to];
  return promo >= 1 && promo <= 4 ? s + "nbrq"[promo - 1] : s;
}

u16 raw_move(int from, int to, int promo = 0) { return u16(to | (from << 6) | (promo << 12)); }

u64 key_of(const char* fen) {
  TestBoard b(fen);
  return polyglot_key(b.pos);
}

}  // namespace

TEST(Book, CompiledKeyTableMatchesThePublishedList) {
  const std::string path = std::string(VORN_DATA_DIR) + "/polyglot-random64.txt";
  if (!file_exists(path)) GTEST_SKIP() << "key list not found: " << path;
  std::ifstream in(path);
  std::string line;
  int i = 0;
  while (std::getline(in, line) && i < POLYGLOT_RANDOM_COUNT) {
    if (line.empty()) continue;
    EXPECT_EQ(POLYGLOT_RANDOM64[i], std::strtoull(line.c_str(), nullptr, 16)) << "index " << i;
    ++i;
  }
  EXPECT_EQ(i, POLYGLOT_RANDOM_COUNT);
}

// Keys from the FEN and from the move list must both match: the en-passant
// file counts only when a pawn of the side to move can take.
TEST(Book, KeysMatchTheReferenceForEveryPosition) {
  REQUIRE_TESTDATA("books/expected.txt");
  std::vector<ExpectedBlock> blocks = read_expected();
  ASSERT_GE(blocks.size(), 30u);
  EXPECT_EQ(key_of(START_FEN), 0x463B96181691FC9CULL);
  for (const ExpectedBlock& b : blocks) {
    TestBoard from_fen(b.fen.c_str());
    EXPECT_EQ(polyglot_key(from_fen.pos), b.key) << b.fen;
    TestBoard from_moves(START_FEN);
    std::istringstream moves(b.moves == "-" ? "" : b.moves);
    for (std::string m; moves >> m;) from_moves.play(m.c_str());
    EXPECT_EQ(polyglot_key(from_moves.pos), b.key) << b.moves;
  }
}

TEST(Book, LookupsFindEveryEntryInFileOrder) {
  REQUIRE_TESTDATA("books/expected.txt");
  for (const char* book : {"performance.bin", "gnuchess-book.bin"}) {
    std::string path = testdata_path(std::string("books/") + book);
    if (!file_exists(path)) GTEST_SKIP() << "book not found: " << path;
    for (const ExpectedBlock& b : read_expected()) {
      BookEntry found[BOOK_MAX_CANDIDATES];
      TestBoard board(b.fen.c_str());
      int n = find_book_entries(path.c_str(), polyglot_key(board.pos), found, BOOK_MAX_CANDIDATES);
      std::ostringstream got;
      for (int i = 0; i < n; ++i) got << (i ? " " : "") << raw_text(found[i].move) << ':' << found[i].weight;
      EXPECT_EQ(n ? got.str() : "-", b.entries.at(book)) << book << ": " << b.fen;
    }
  }
}

TEST(Book, VarietyReweightsAndTheRouletteFollowsIt) {
  // Variety 25 keeps the proportions (3:1 becomes 7500:2500); 0 subtracts a
  // quarter of the first weight (the light move drops out); 100 adds three
  // quarters of it to every move, but a zero-weight entry is never picked: its
  // share goes to the move before it, or to the first real move when it leads.
  struct Case { std::vector<int> weights; int variety, total; std::vector<std::pair<int, int>> point_owner; } cases[] = {
      {{3, 1}, 25, 10000, {{0, 0}, {7500, 0}, {7501, 1}, {9999, 1}}},
      {{100, 20}, 0, 6250, {{0, 0}, {3000, 0}, {6249, 0}}},
      {{10, 10, 0}, 100, 20500, {{0, 0}, {8500, 0}, {8501, 1}, {20499, 1}}},
      {{0, 5}, 25, 0, {{0, 1}}},  // 0: any positive total
      {{0, 0}, 25, -1, {{0, -1}}}};  // nothing to choose, no division by zero
  for (const Case& c : cases) {
    BookCandidate cand[3] = {};
    const int n = int(c.weights.size());
    for (int i = 0; i < n; ++i) cand[i] = {u16(i + 1), u16(c.weights[i]), 0};
    const int total = adjust_book_weights(cand, n, c.variety);
    EXPECT_TRUE(c.total == 0 ? total > 0 : total == c.total) << c.weights[0] << " at " << c.variety << ": " << total;
    for (const auto& [point, owner] : c.point_owner) EXPECT_EQ(pick_book_candidate(cand, n, point), owner) << point;
  }
}

TEST(Book, ProbeDrawsInProportionAndListsTheMoves) {
  const u64 start = key_of(START_FEN);
  std::string path = write_book({{start, raw_move(E2, E4), 3, 0}, {start, raw_move(D2, D4), 1, 0}});
  TestBoard b(START_FEN);
  std::srand(7);
  int e4 = 0, d4 = 0;
  {
    CaptureOutput cap;
    for (int i = 0; i < 1000; ++i) {
      Move m = probe_book(b.pos, {path.c_str(), 25, BOOK_LIST_NONE});
      e4 += m == make_move_code(E2, E4);
      d4 += m == make_move_code(D2, D4);
    }
    EXPECT_TRUE(g_captured.empty());
  }
  EXPECT_EQ(e4 + d4, 1000);
  EXPECT_NEAR(e4 / 1000.0, 0.75, 0.05);

  std::remove(path.c_str());

  // Variety 0 takes a quarter of the first weight off every move.
  path = write_book({{start, raw_move(E2, E4), 100, 0}, {start, raw_move(D2, D4), 20, 0}});
  CaptureOutput cap;
  EXPECT_EQ(probe_book(b.pos, {path.c_str(), 0, BOOK_LIST_CONSOLE}), make_move_code(E2, E4));
  EXPECT_EQ(g_captured, (std::vector<std::string>{"  e2e4  cnt=   100, weight= 83.33% -> 100.00%",
                                             "  d2d4  cnt=    20, weight= 16.67% ->  0.00%", "selecting e2e4"}));
  std::remove(path.c_str());
}

TEST(Book, CastlingEntriesBecomeKingMoves) {
  const std::pair<u16, Move> cases[] = {{raw_move(E1, H1), make_move_code(E1, G1)}, {raw_move(E1, A1), make_move_code(E1, C1)},
                                        {raw_move(E8, H8), make_move_code(E8, G8)}, {raw_move(E8, A8), make_move_code(E8, C8)},
                                        {raw_move(E2, E4), make_move_code(E2, E4)},
                                        {raw_move(B7, B8, 1), Move(make_move_code(B7, B8) | PROMO_KNIGHT)},
                                        {raw_move(B7, B8, 4), Move(make_move_code(B7, B8) | PROMO_QUEEN)}};
  for (const auto& [raw, move] : cases) EXPECT_EQ(book_move_to_engine(raw), move) << raw_text(raw);

  // From a real book: with variety 0 only the main move, castling, is left.
  std::string perf = testdata_path("books/performance.bin");
  if (!file_exists(perf)) GTEST_SKIP() << "book not found: " << perf;
  TestBoard ruy("r1bqkb1r/pppp1ppp/2n2n2/1B2p3/4P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4");
  EXPECT_EQ(probe_book(ruy.pos, {perf.c_str(), 0, BOOK_LIST_NONE}), make_move_code(E1, G1));
}

TEST(Book, FilesThatAreNoBooksGiveNothingSilently) {
  const u64 start = key_of(START_FEN);
  TestBoard b(START_FEN);
  CaptureOutput cap;
  EXPECT_EQ(probe_book(b.pos, {"", 25, BOOK_LIST_UCI}), 0);
  EXPECT_EQ(probe_book(b.pos, {"/no/such/book.bin", 25, BOOK_LIST_UCI}), 0);
  // 15 bytes: shorter than one entry.
  std::string path = write_book({{start, raw_move(E2, E4), 1, 0}});
  ASSERT_EQ(truncate(path.c_str(), 15), 0);
  EXPECT_EQ(probe_book(b.pos, {path.c_str(), 25, BOOK_LIST_UCI}), 0);
  // Only zero weights.
  std::remove(path.c_str());
  path = write_book({{start, raw_move(E2, E4), 0, 0}, {start, raw_move(D2, D4), 0, 0}});
  EXPECT_EQ(probe_book(b.pos, {path.c_str(), 100, BOOK_LIST_UCI}), 0);
  EXPECT_TRUE(g_captured.empty());
  std::remove(path.c_str());

  // Moves that do not fit the position are never played: a blocked pawn
  // move, a move from an empty square, a1a1.
  for (u16 raw : {raw_move(E2, E5), raw_move(E4, E5), raw_move(A1, A1)}) {
    path = write_book({{start, raw, 1, 0}});
    EXPECT_EQ(probe_book(b.pos, {path.c_str(), 25, BOOK_LIST_NONE}), 0) << raw_text(raw);
    std::remove(path.c_str());
  }
}

TEST(Book, AtMost128EntriesOfOnePositionAreConsidered) {
  const u64 start = key_of(START_FEN);
  std::vector<BookEntry> entries;
  entries.push_back({start - 5, raw_move(A2, A3), 1, 0});
  for (int i = 0; i < 130; ++i) entries.push_back({start, raw_move(E2, E4), u16(i + 1), 0});
  entries.push_back({start + 5, raw_move(A2, A3), 1, 0});
  std::string path = write_book(entries);
  BookEntry found[BOOK_MAX_CANDIDATES + 1];
  ASSERT_EQ(find_book_entries(path.c_str(), start, found, BOOK_MAX_CANDIDATES), BOOK_MAX_CANDIDATES);
  for (int i = 0; i < BOOK_MAX_CANDIDATES; ++i) ASSERT_EQ(found[i].weight, i + 1);
  EXPECT_EQ(find_book_entries(path.c_str(), start + 1, found, BOOK_MAX_CANDIDATES), 0);
  EXPECT_EQ(find_book_entries(path.c_str(), 0, found, BOOK_MAX_CANDIDATES), 0);
  EXPECT_EQ(find_book_entries(path.c_str(), ~0ULL, found, BOOK_MAX_CANDIDATES), 0);
  std::remove(path.c_str());
}

// --- The book in play, through the real binary ----------------------------

// A book move instead of a search; while pondering it is held until
// "ponderhit" or "stop"; a book move that would repeat the position a third
// time is refused; past OwnBook_Depth the book is not asked.
TEST(BookUci, GoAnswersFromTheBookUnlessItRepeats) {
  REQUIRE_TESTDATA("books/performance.bin");
  EngineProcess e;
  e.send("setoption name OwnBook value true");
  e.send("setoption name OwnBook_File value " + testdata_path("books/performance.bin"));
  e.sync();
  for (int i = 0; i < 3; ++i) {
    e.send("position startpos");
    const GoReply r = go_reply(e, "go wtime 60000 btime 60000");
    EXPECT_TRUE(r.best == "e2e4" || r.best == "d2d4" || r.best == "c2c4") << r.best;
    EXPECT_TRUE(any_starts_with(r.lines, "info string ( book moves are: e2e4 d2d4 c2c4  )"));
    EXPECT_TRUE(any_starts_with(r.lines, "info string book move is " + r.best));
    EXPECT_FALSE(any_starts_with(r.lines, "info depth")) << "searched instead of using the book";
  }
  for (const char* release : {"ponderhit", "stop"}) {
    e.send("position startpos moves e2e4");
    e.send("go ponder wtime 60000 btime 60000");
    std::vector<std::string> early = e.wait_for("info string book move is ");
    ASSERT_FALSE(early.empty()) << release;
    std::string book_move = starts_with(early.back(), "info string book move is ") ? early.back().substr(25) : "";
    EXPECT_TRUE(book_move == "e7e5" || book_move == "c7c5") << release << ": " << book_move;
    for (const auto& l : e.sync()) early.push_back(l);
    EXPECT_FALSE(any_starts_with(early, "bestmove")) << release;
    const GoReply r = go_reply(e, release);
    EXPECT_EQ(r.best, book_move) << release;
    EXPECT_FALSE(any_starts_with(r.lines, "info depth")) << release;
  }
  // 3...Ng8 in a knight shuffle: allowed the first time, refused when it
  // would bring the start position back a third time.
  TestBoard b(START_FEN);
  for (const char* m : {"Nf3", "Nf6", "Ng1"}) b.play(m);
  const std::string path = write_book({{polyglot_key(b.pos), raw_move(F6, G8), 1, 0}});
  e.send("setoption name OwnBook_File value " + path);
  e.send("position startpos moves g1f3 g8f6 f3g1");
  GoReply r = go_reply(e, "go depth 3");
  EXPECT_EQ(r.best, "f6g8");
  EXPECT_TRUE(any_starts_with(r.lines, "info string book move is f6g8"));

  e.send("position startpos moves g1f3 g8f6 f3g1 f6g8 g1f3 g8f6 f3g1");
  r = go_reply(e, "go depth 3");
  EXPECT_TRUE(any_starts_with(r.lines, "info string ( book moves are: f6g8  )"));
  EXPECT_FALSE(any_starts_with(r.lines, "info string book move is"));
  EXPECT_TRUE(any_starts_with(r.lines, "info depth 3")) << "the search should have run";
  std::remove(path.c_str());
  e.send("setoption name OwnBook_Depth value 0");
  e.send("position startpos");
  r = go_reply(e, "go depth 2");
  EXPECT_FALSE(any_starts_with(r.lines, "info string book move is"));
  EXPECT_TRUE(any_starts_with(r.lines, "info depth"));
  e.quit();
}

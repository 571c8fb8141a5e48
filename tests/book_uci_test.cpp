// The book in play, through the real binary: a book move instead of a
// search, held back while pondering, refused when it would repeat, and the
// console listing (with the console's speed cap).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "board_test.h"
#include "book/book.h"
#include "engine_process.h"
#include "test_util.h"

namespace {

bool starts_with(const std::string& s, const std::string& head) { return s.rfind(head, 0) == 0; }

bool any_starts_with(const std::vector<std::string>& lines, const std::string& head) {
  for (const auto& l : lines)
    if (starts_with(l, head)) return true;
  return false;
}

std::string bestmove_of(const std::vector<std::string>& lines) {
  for (const auto& l : lines)
    if (starts_with(l, "bestmove ")) {
      std::istringstream in(l.substr(9));
      std::string m;
      in >> m;
      return m;
    }
  return "";
}

EngineProcess* start_with_book(const std::string& book, const std::vector<std::string>& args = {}) {
  auto* e = new EngineProcess(args);
  e->sync();
  e->send("setoption name OwnBook value true");
  e->send("setoption name OwnBook_File value " + book);
  e->sync();
  return e;
}

}  // namespace

TEST(BookUci, GoAnswersFromTheBookWithoutSearching) {
  REQUIRE_TESTDATA("books/performance.bin");
  std::unique_ptr<EngineProcess> e(start_with_book(testdata_path("books/performance.bin")));
  for (int i = 0; i < 3; ++i) {
    e->send("position startpos");
    e->send("go wtime 60000 btime 60000");
    std::vector<std::string> lines = e->read_until("bestmove", 3000, true);
    std::string best = bestmove_of(lines);
    EXPECT_TRUE(best == "e2e4" || best == "d2d4" || best == "c2c4") << best;
    EXPECT_TRUE(any_starts_with(lines, "info string ( book moves are: e2e4 d2d4 c2c4  )"));
    EXPECT_TRUE(any_starts_with(lines, "info string book move is " + best));
    EXPECT_FALSE(any_starts_with(lines, "info depth")) << "searched instead of using the book";
  }
  // Past OwnBook_Depth the book is not asked.
  e->send("setoption name OwnBook_Depth value 0");
  e->send("position startpos");
  e->send("go depth 2");
  std::vector<std::string> lines = e->read_until("bestmove", 5000, true);
  EXPECT_FALSE(any_starts_with(lines, "info string book move is"));
  EXPECT_TRUE(any_starts_with(lines, "info depth"));
  e->send("quit");
  EXPECT_EQ(e->wait_exit(), 0);
}

TEST(BookUci, PonderingHoldsTheBookMoveUntilPonderhitOrStop) {
  REQUIRE_TESTDATA("books/gnuchess-book.bin");
  std::unique_ptr<EngineProcess> e(start_with_book(testdata_path("books/gnuchess-book.bin")));
  for (const char* release : {"ponderhit", "stop"}) {
    e->send("position startpos moves e2e4");
    e->send("go ponder wtime 60000 btime 60000");
    usleep(200000);
    std::vector<std::string> early = e->sync();
    std::string book_move;
    for (const auto& l : early)
      if (starts_with(l, "info string book move is ")) book_move = l.substr(25);
    EXPECT_FALSE(book_move.empty()) << release;
    EXPECT_FALSE(any_starts_with(early, "bestmove")) << release;
    e->send(release);
    std::vector<std::string> lines = e->read_until("bestmove", 2000, true);
    EXPECT_EQ(bestmove_of(lines), book_move) << release;
    EXPECT_FALSE(any_starts_with(lines, "info depth")) << release;
  }
  e->send("quit");
  EXPECT_EQ(e->wait_exit(), 0);
}

// A book that answers 3...Ng8 in a knight shuffle: allowed the first time,
// refused when it would bring the start position back a third time.
TEST(BookUci, ABookMoveThatRepeatsAThirdTimeIsRefused) {
  TestBoard b(START_FEN);
  for (const char* m : {"g1f3", "g8f6", "f3g1"}) b.play(m);
  const u64 key = polyglot_key(b.pos);
  char path[] = "/tmp/vorn_rep_book_XXXXXX";
  int fd = mkstemp(path);
  FILE* f = fdopen(fd, "wb");
  const u16 raw = u16(G8 | (F6 << 6));
  for (int i = 7; i >= 0; --i) std::fputc(int(key >> (8 * i)) & 255, f);
  const int rest[8] = {raw >> 8, raw & 255, 0, 1, 0, 0, 0, 0};
  for (int v : rest) std::fputc(v, f);
  std::fclose(f);

  std::unique_ptr<EngineProcess> e(start_with_book(path));
  e->send("position startpos moves g1f3 g8f6 f3g1");
  e->send("go depth 3");
  std::vector<std::string> lines = e->read_until("bestmove", 5000, true);
  EXPECT_EQ(bestmove_of(lines), "f6g8");
  EXPECT_TRUE(any_starts_with(lines, "info string book move is f6g8"));

  e->send("position startpos moves g1f3 g8f6 f3g1 f6g8 g1f3 g8f6 f3g1");
  e->send("go depth 3");
  lines = e->read_until("bestmove", 5000, true);
  EXPECT_TRUE(any_starts_with(lines, "info string ( book moves are: f6g8  )"));
  EXPECT_FALSE(any_starts_with(lines, "info string book move is"));
  EXPECT_TRUE(any_starts_with(lines, "info depth 3")) << "the search should have run";
  EXPECT_FALSE(bestmove_of(lines).empty());
  e->send("quit");
  EXPECT_EQ(e->wait_exit(), 0);
  std::remove(path);
}

TEST(BookUci, ConsoleListsTheBookMovesAndSetsASpeedCap) {
  REQUIRE_TESTDATA("books/performance.bin");
  EngineProcess e({"-c", "-book", testdata_path("books/performance.bin")});
  e.read_until("white");
  e.send("book");
  std::vector<std::string> lines = e.read_until("");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "  e2e4  cnt=     1, weight= 33.33% -> 33.33%");
  EXPECT_EQ(lines[1], "  d2d4  cnt=     1, weight= 33.33% -> 33.33%");
  EXPECT_EQ(lines[2], "  c2c4  cnt=     1, weight= 33.33% -> 33.33%");
  EXPECT_TRUE(lines[3] == "selecting e2e4" || lines[3] == "selecting d2d4" || lines[3] == "selecting c2c4") << lines[3];
  EXPECT_EQ(lines[4], "");
  e.send("set target_nps 5000");
  std::string line;
  ASSERT_TRUE(e.read_line(line));
  EXPECT_EQ(line, "target_nps set to 5000");
  e.send("quit");
  EXPECT_EQ(e.wait_exit(), 0);
}

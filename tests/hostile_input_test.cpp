// Input a careless or hostile client may send, through the built program.

#include <sys/resource.h>

#include "board_test.h"
#include "engine_process.h"

namespace {

constexpr int WAIT_MS = 10000;  // generous: a hang fails, a slow machine does not

// Knights out and back: every four plies the start position again.
std::string knight_shuffle(int plies) {
  static const char* CYCLE[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
  std::string out;
  for (int i = 0; i < plies; ++i) out += std::string(" ") + CYCLE[i % 4];
  return out;
}

// A console engine past its start-up board.
struct Console : EngineProcess {
  Console() : EngineProcess({"-c"}) { read_until("white", WAIT_MS); }
  // Sends the lines; whether a line starting with `reply` follows.
  bool answers(const std::vector<std::string>& lines, const std::string& reply) {
    for (const std::string& l : lines) send(l);
    std::vector<std::string> got = read_until(reply, WAIT_MS, true);
    return !got.empty() && starts_with(got.back(), reply);
  }
};

}  // namespace

TEST(HostileInput, EveryGoAnswersALegalMove) {
  const std::set<std::string> legal = legal_uci_moves(START_FEN);
  EngineProcess e;
  e.sync(WAIT_MS);
  // "stop" or a second "go" in the same read as "go": the search is over
  // before its first iteration.
  for (int i = 0; i < 5; ++i) {
    e.send("position startpos\ngo\nstop");
    EXPECT_EQ(legal.count(e.bestmove(WAIT_MS)), 1u);
  }
  e.send("position startpos\ngo depth 80\ngo depth 1");  // a depth beyond the deepest search, cut short
  EXPECT_EQ(legal.count(e.bestmove(WAIT_MS)), 1u);
  EXPECT_EQ(legal.count(e.bestmove(WAIT_MS)), 1u);
  // 104 plies without a capture or pawn move: past the fifty-move limit.
  e.send("position startpos moves" + knight_shuffle(104));
  e.send("go depth 5");
  EXPECT_EQ(legal.count(e.bestmove(WAIT_MS)), 1u);
}

TEST(HostileInput, ConsoleJobsGiveTheInputBack) {
  struct Case {
    std::vector<std::string> lines;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {{"go", "perft 3"}, "visited 8902 nodes"},           // perft during an endless analysis
      {{"go", "mv", ".", "bd"}, "white"},                  // a search asked for during one
      {{"go", "go", ".", "bd"}, "white"},                  // a second analysis
      {{"perft 8", "."}, "perft interrupted"},             // a long perft ends on "."
  };
  for (const Case& c : cases) {
    Console e;
    EXPECT_TRUE(e.answers(c.lines, c.reply)) << c.lines[0] << " / " << c.lines[1];
    e.quit(WAIT_MS);
  }
  for (const char* job : {"self", "perft 9"}) {  // self-play and perft end on quit or end of input
    Console e;
    if (std::string(job) == "self") e.send("go");
    e.send(job);
    e.send("quit");
    e.close_input();
    EXPECT_EQ(e.wait_exit(WAIT_MS), 0) << job;
  }
}

TEST(HostileInput, UnreachablePositionsAreRefused) {
  const std::set<std::string> legal = legal_uci_moves(START_FEN);
  EngineProcess e;
  e.sync(WAIT_MS);
  for (const char* fen : {
           "QQQQQQQQ/RQQQQQQQ/RRRRRRRR/BBRRRRRR/BBBBBBBB/N1NBBBBB/nn1NNNNN/knNNNNNK w - - 0 1",
           "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNQ w kq - 0 1",   // a promotion without a missing pawn
           "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNRR w KQkq - 0 1",  // nine squares in a rank
           "k7/8/8/8/8/8/8/K6x w - - 0 1",                            // no such piece
           "k7/8/8/8/8/8/8/K7 w - c9 0 1",                            // no such square
           "k7/8/8/3pP3/8/8/8/K7 w - d3 0 1",                         // the mover's own side of the board
           "k7/8/8/8/8/8/8/K7 w - - -1 1",                            // a negative clock
           "k7/8/8/8/8/8/8/K7 w - - 0 1.5",                           // a move number with a fraction
           "8/8/8/8/8/8/8/8 w - -",                                   // no kings
           "4k3/8/8/8/8/8/8/3KK3 w - -",                              // two white kings
           "4k3/8/8/8/8/8/8/P3K3 w - -",                              // a pawn on the first rank
           "4k2R/8/8/8/8/8/8/4K3 w - -",                              // the side not to move in check
           "QQQQQQQQ/QQQQQQQQ/8/8/8/8/k7/4K3 w - -",                  // sixteen queens
           "4k3/8/8/8/8/8/8/4K3 w - e6",                              // no pawn passed e6
           "garbage moves e2e4",
       }) {
    e.send("position startpos");
    e.send(std::string("position fen ") + fen);
    const std::vector<std::string> reply = e.sync(WAIT_MS);
    EXPECT_TRUE(reply.size() == 1 && starts_with(reply[0], "info string position refused")) << fen;
    e.send("go depth 1");
    EXPECT_EQ(legal.count(e.bestmove(WAIT_MS)), 1u) << fen;
  }
  // Nine queens and no pawns can be reached; the material sums hold at the
  // largest values the options allow.
  e.send("setoption name Mtl_Queen value 2000,2000");
  e.send("position fen 7k/6pp/8/8/8/8/QQ6/QQQQQQQK w - - 0 1");
  EXPECT_FALSE(any_starts_with(e.sync(WAIT_MS), "info string position refused"));
  e.send("go depth 3");
  EXPECT_NE(e.bestmove(WAIT_MS), "");
  // Castling rights the pieces do not allow: a warning, as an info string.
  e.send("position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQ1KNR w KQkq - 0 1");
  for (const std::string& l : e.sync(WAIT_MS)) EXPECT_EQ(l.rfind("info string ", 0), 0u) << l;

  Console c;  // the console refuses the same
  EXPECT_TRUE(c.answers({"fen k7/8/8/8/8/8/8/K6x w - - 0 1"}, "position refused"));
  EXPECT_TRUE(c.answers({"fen k7/8/8/8/8/8/8/K7 w - c9 0 1"}, "position refused"));
  // Blanks and tabs between the fields: the board shown is the one the text gives.
  EXPECT_TRUE(c.answers({"fen k7/8/8/4P3/8/8/8/K7\tw  -\t\t-  0 1"}, "k7/8/8/4P3/8/8/8/K7 w - -"));
}

// A move list stops at its first illegal or unreadable move, with a message;
// the moves before it stand.  "position" without a start changes nothing.
TEST(HostileInput, MoveListsStopAtTheFirstBadMove) {
  const std::string promo = "4k3/1P6/8/8/8/8/8/4K3 w - - 0 1";
  const struct {
    std::string line, message, fen;
    std::vector<std::string> played;
  } cases[] = {{"position fen " + promo + " moves b7b8q", "", promo, {"b7b8q"}},
               {"position moves e7e5", "", promo, {"b7b8q"}},
               {"position startpos moves e2e4 e2e4 d7d5", "info string illegal move e2e4", START_FEN, {"e2e4"}},
               {"position startpos moves g1f3 z9 b8c6", "info string unreadable move z9", START_FEN, {"g1f3"}},
               {"position fen " + promo + " moves b7b8", "info string illegal move b7b8", promo, {}}};  // no piece named
  EngineProcess e;
  e.sync(WAIT_MS);
  for (const auto& c : cases) {
    e.send(c.line);
    const std::vector<std::string> reply = e.sync(WAIT_MS);
    EXPECT_TRUE(c.message.empty() ? reply.empty() : reply.size() == 1 && starts_with(reply[0], c.message)) << c.line;
    std::set<std::string> root;
    for (const auto& [move, count] : divide(e, 1)) root.insert(move);
    EXPECT_EQ(root, legal_uci_moves(c.fen, c.played)) << c.line;
  }
}

TEST(HostileInput, LongLinesAreReadWholeOrRefused) {
  EngineProcess e;
  e.sync(WAIT_MS);
  // Long lines of noise, a long unreadable move and a huge number are harmless.
  e.send(std::string(12000, 'x'));
  e.send("position startpos moves " + std::string(7000, 'e'));
  e.send("go " + std::string(6000, '9'));
  e.send("stop");
  EXPECT_NE(e.bestmove(WAIT_MS), "");
  // 1 102 plies, more than the history holds, ending where Qxf7 mates.
  e.send("position startpos moves" + knight_shuffle(1096) + " e2e4 e7e5 d1h5 b8c6 f1c4 g8f6");
  e.send("go depth 3");
  EXPECT_EQ(e.bestmove(WAIT_MS), "h5f7");
  e.send("position startpos moves" + knight_shuffle(60000));
  std::vector<std::string> lines = e.sync(WAIT_MS);
  EXPECT_TRUE(any_starts_with(lines, "info string input line longer than")) << lines.size();
  e.send("go depth 3");  // the position of the refused line was not taken
  EXPECT_EQ(e.bestmove(WAIT_MS), "h5f7");
}

TEST(HostileInput, HashTooLargeForTheMachineIsHalved) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's shadow memory does not fit an address-space limit";
#else
  rlimit saved;
  getrlimit(RLIMIT_AS, &saved);
  rlimit low = saved;
  low.rlim_cur = rlim_t(1) << 30;  // 1 GB for the child: 16 GB of table cannot be had
  if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < low.rlim_cur) GTEST_SKIP() << "hard limit too low";
  setrlimit(RLIMIT_AS, &low);
  EngineProcess e;
  setrlimit(RLIMIT_AS, &saved);
  e.sync(WAIT_MS);
  e.send("setoption name Hash value 4294967296");
  e.send("go depth 1");
  std::vector<std::string> lines = e.read_until("bestmove", WAIT_MS, true);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "info string Hash set to 16384 (4294967296 is outside 0..16384)");
  EXPECT_EQ(lines.back().rfind("bestmove", 0), 0u);
  int got = -1, asked = -1;
  for (const std::string& l : lines)
    std::sscanf(l.c_str(), "info string allocated %d Mbytes for hash table (%d", &got, &asked);
  EXPECT_EQ(asked, 16384);
  EXPECT_GT(got, 0);
  EXPECT_LT(got, 16384);
  EXPECT_EQ(got & (got - 1), 0);  // halved from a power of two
  e.send("go depth 1");  // the next search keeps the table it has
  EXPECT_FALSE(any_starts_with(e.read_until("bestmove", WAIT_MS, true), "info string allocated"));
#endif
}

// Input a careless or hostile client may send, through the built program:
// a stop that overtakes its search, positions no game can reach, console
// jobs that must not take the input loop hostage, huge lines, impossible
// table sizes and options given words for numbers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "board/movegen.h"
#include "board_test.h"
#include "engine_process.h"

namespace {

constexpr int WAIT_MS = 10000;  // generous: a hang fails, a slow machine does not

std::string coordinate(Move m) {
  return std::string(SQUARE_NAMES[move_from(m)]) + SQUARE_NAMES[move_to(m)];
}

// The moves of the start position, in coordinate form.
std::set<std::string> start_moves() {
  TestBoard b("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  Move legal[MAX_MOVES];
  int n = gen_legal(b.pos, legal);
  std::set<std::string> out;
  for (int i = 0; i < n; ++i) out.insert(coordinate(legal[i]));
  return out;
}

// The move of the next "bestmove" line ("" when none comes).
std::string next_bestmove(EngineProcess& e) {
  std::vector<std::string> lines = e.read_until("bestmove", WAIT_MS, true);
  if (lines.empty() || lines.back().rfind("bestmove", 0) != 0) return "";
  std::vector<std::string> w = words(lines.back());
  return w.size() > 1 ? w[1] : "";
}

// Knights out and back: every four plies the start position again.
std::string knight_shuffle(int plies) {
  static const char* CYCLE[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
  std::string out;
  for (int i = 0; i < plies; ++i) out += std::string(" ") + CYCLE[i % 4];
  return out;
}

}  // namespace

TEST(HostileInput, EveryGoAnswersALegalMove) {
  const std::set<std::string> legal = start_moves();
  EngineProcess e;
  e.sync(WAIT_MS);
  // "stop" or a second "go" in the same read as "go": the search is over
  // before its first iteration.
  for (int i = 0; i < 5; ++i) {
    e.send("position startpos\ngo\nstop");
    EXPECT_EQ(legal.count(next_bestmove(e)), 1u);
  }
  e.send("position startpos\ngo depth 30\ngo depth 1");
  EXPECT_EQ(legal.count(next_bestmove(e)), 1u);
  EXPECT_EQ(legal.count(next_bestmove(e)), 1u);
  // 104 plies without a capture or pawn move: past the fifty-move limit.
  e.send("position startpos moves" + knight_shuffle(104));
  e.send("go depth 5");
  EXPECT_EQ(legal.count(next_bestmove(e)), 1u);
}

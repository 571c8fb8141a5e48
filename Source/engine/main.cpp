// Temporary entry point: prints perft counts for a FEN given on the command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/movegen.h"
#include "board/position.h"
#include "board/see.h"

int main(int argc, char** argv) {
  init_attacks();
  init_zobrist();
  static GameHistory history;
  static Position pos;
  position_init(pos, history);
  const char* fen = argc > 1 ? argv[1] : "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";
  int depth = argc > 2 ? std::atoi(argv[2]) : 5;
  set_position(pos, fen);
  for (int d = 1; d <= depth; ++d) std::printf("perft %d: %llu\n", d, (unsigned long long)perft(pos, d));
  return 0;
}

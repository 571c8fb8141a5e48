// Move generation, make/unmake and static exchange speed.
#include <benchmark/benchmark.h>

#include "board/movegen.h"
#include "board/position.h"
#include "board/see.h"

namespace {

struct Setup {
  GameHistory history;
  Position pos;
  explicit Setup(const char* fen) {
    init_attacks();
    init_zobrist();
    position_init(pos, history);
    set_position(pos, fen);
  }
};

void perft_bench(benchmark::State& state, const char* fen, int depth) {
  static Setup* s = nullptr;
  s = new Setup(fen);
  u64 leaves = 0;
  for (auto _ : state) {
    leaves = perft(s->pos, depth);
    benchmark::DoNotOptimize(leaves);
  }
  state.counters["leaves/s"] = benchmark::Counter(double(leaves) * double(state.iterations()), benchmark::Counter::kIsRate);
  delete s;
}

void BM_PerftStart5(benchmark::State& state) {
  perft_bench(state, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 5);
}
void BM_PerftKiwipete4(benchmark::State& state) {
  perft_bench(state, "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -", 4);
}

// Every capture of a middlegame position, both colours.
void BM_SeeSwap(benchmark::State& state) {
  Setup s("r2q1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP2BPPP/R2QK2R w KQ -");
  MoveEntry list[MAX_MOVES];
  MoveEntry* end = gen_captures(s.pos, s.pos.side, list, NO_SQUARE);
  for (auto _ : state) {
    int sum = 0;
    for (MoveEntry* e = list; e < end; ++e)
      sum += see_swap(s.pos, s.pos.side, move_from(e->move), move_to(e->move), s.pos.occupied(), false);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * (end - list));
}

}  // namespace

BENCHMARK(BM_PerftStart5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerftKiwipete4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeeSwap);

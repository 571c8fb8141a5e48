// Fast perft speed, with a peer engine's perft measured in the same run so the
// result can be read as a ratio rather than as a machine-dependent number.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

#include "board/perft.h"
#include "board/position.h"

namespace {

constexpr const char* START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";
constexpr const char* KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -";
constexpr const char* PEER = "/usr/games/stockfish";

void fast_perft_bench(benchmark::State& state, const char* fen, int depth) {
  init_attacks();
  init_zobrist();
  static GameHistory history;
  static Position pos;
  position_init(pos, history);
  set_position(pos, fen);
  u64 leaves = 0;
  for (auto _ : state) {
    leaves = perft_fast(pos, depth);
    benchmark::DoNotOptimize(leaves);
  }
  state.counters["leaves/s"] =
      benchmark::Counter(double(leaves) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_PerftFastStart5(benchmark::State& state) { fast_perft_bench(state, START, 5); }
void BM_PerftFastStart6(benchmark::State& state) { fast_perft_bench(state, START, 6); }
void BM_PerftFastKiwipete4(benchmark::State& state) { fast_perft_bench(state, KIWIPETE, 4); }

double children_cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Runs the peer with "go perft depth" from the start position; returns the
// processor time it used in seconds and the node count it printed (0 on
// failure).  Processor time, like the other benchmarks here, so that the
// other builds sharing the machine do not skew the ratio.
double run_peer(int depth, u64* nodes) {
  char command[160];
  std::snprintf(command, sizeof command, "printf 'go perft %d\\nquit\\n' | %s 2>/dev/null", depth, PEER);
  const double before = children_cpu_seconds();
  *nodes = 0;
  FILE* pipe = popen(command, "r");
  if (!pipe) return 0;
  char line[256];
  while (std::fgets(line, sizeof line, pipe)) {
    unsigned long long n;
    if (std::sscanf(line, "Nodes searched: %llu", &n) == 1) *nodes = n;
  }
  pclose(pipe);
  return children_cpu_seconds() - before;
}

// The peer's "go perft 6" from the start position.  Its start-up is taken out
// by subtracting a "go perft 1" run.
void BM_PeerPerftStart6(benchmark::State& state) {
  if (access(PEER, X_OK) != 0) {
    state.SkipWithError("peer engine not installed");
    return;
  }
  u64 leaves = 0;
  for (auto _ : state) {
    u64 few;
    const double overhead = run_peer(1, &few);
    const double full = run_peer(6, &leaves);
    if (leaves == 0) {
      state.SkipWithError("peer engine gave no node count");
      return;
    }
    state.SetIterationTime(full > overhead ? full - overhead : full);
  }
  state.counters["leaves/s"] =
      benchmark::Counter(double(leaves) * double(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_PerftFastStart5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerftFastStart6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerftFastKiwipete4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerPerftStart6)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

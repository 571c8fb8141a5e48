// Evaluation speed on a middlegame position (cache not consulted).
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "board/position.h"
#include "eval/eval.h"
#include "search/options.h"

namespace {

struct Middlegame {
  GameHistory history;
  Position pos;
  EvalThread et;
};

Middlegame& middlegame() {
  static i16 slots[OPTION_SLOTS];
  static Middlegame m;
  init_attacks();
  init_zobrist();
  register_eval_params(slots);
  build_eval_tables(slots);
  eval_begin_search(m.et, WHITE, 1.0);
  position_init(m.pos, m.history);
  set_position(m.pos, "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP2BPPP/R2QKB1R w KQ - 0 8");
  return m;
}

void BM_EvaluateMiddlegame(benchmark::State& state) {
  Middlegame& m = middlegame();
  for (auto _ : state) benchmark::DoNotOptimize(evaluate(m.et, m.pos, 1, nullptr));
}
BENCHMARK(BM_EvaluateMiddlegame);

// The same position with its linear decomposition, as the tuner builds it once per position.
void BM_EvaluateCoefficientsMiddlegame(benchmark::State& state) {
  Middlegame& m = middlegame();
  static EvalCoefficients ec;
  for (auto _ : state) benchmark::DoNotOptimize(evaluate_coefficients(m.et, m.pos, ec));
}
BENCHMARK(BM_EvaluateCoefficientsMiddlegame);

// Two thousand opening-book positions, evaluated in turn under the shipped
// and under the hand-set weights: only the tables' values differ, so the two
// figures of one run show what the fitted values cost in speed.
struct BookPositions {
  std::vector<Position> positions;  // no weight enters a Position: parsed once
  GameHistory history;
  EvalThread et;
};

BookPositions& book_positions() {
  static BookPositions b;
  if (b.positions.empty()) {
    middlegame();  // sets up the board tables
    Position pos;
    position_init(pos, b.history);
    std::ifstream in(std::string(VORN_TESTDATA_DIR) + "/openings/UHO_4060_v3-20k.epd");
    std::string line;
    while (b.positions.size() < 2000 && std::getline(in, line)) {
      if (line.empty()) continue;
      set_position(pos, line.c_str());
      b.positions.push_back(pos);
    }
  }
  return b;
}

template <EvalDefaults Defaults>
void BM_EvaluateBookPositions(benchmark::State& state) {
  static i16 slots[OPTION_SLOTS];
  BookPositions& b = book_positions();
  register_eval_params(slots, Defaults);
  build_eval_tables(slots);
  eval_begin_search(b.et, WHITE, 1.0);
  for (auto _ : state) {
    // Every pass starts from empty caches; emptying them is not timed.
    state.PauseTiming();
    eval_clear_thread(b.et);
    state.ResumeTiming();
    int sum = 0;
    for (const Position& p : b.positions) sum += evaluate(b.et, p, 1, nullptr);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * i64(b.positions.size()));
  // The other benchmarks measure the shipped tables.
  register_eval_params(slots);
  build_eval_tables(slots);
}
BENCHMARK(BM_EvaluateBookPositions<EvalDefaults::SHIPPED>)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EvaluateBookPositions<EvalDefaults::HAND_SET>)->Unit(benchmark::kMicrosecond);

}  // namespace

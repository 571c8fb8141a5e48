// Evaluation speed on a middlegame position (cache not consulted).
#include <benchmark/benchmark.h>

#include <cstring>

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

}  // namespace

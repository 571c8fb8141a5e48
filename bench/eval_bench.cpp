// Evaluation speed on a middlegame position (cache not consulted).
#include <benchmark/benchmark.h>

#include <cstring>

#include "board/position.h"
#include "eval/eval.h"
#include "search/options.h"

namespace {

void BM_EvaluateMiddlegame(benchmark::State& state) {
  static i16 slots[OPTION_SLOTS];
  static GameHistory history;
  static Position pos;
  static EvalThread et;
  init_attacks();
  init_zobrist();
  register_eval_params(slots);
  build_eval_tables(slots);
  eval_begin_search(et, WHITE, 1.0);
  position_init(pos, history);
  set_position(pos, "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP2BPPP/R2QKB1R w KQ - 0 8");
  for (auto _ : state) benchmark::DoNotOptimize(evaluate(et, pos, 1, nullptr));
}
BENCHMARK(BM_EvaluateMiddlegame);

}  // namespace

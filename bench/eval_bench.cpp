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
  std::vector<std::string> fens;
  GameHistory history;
  Position pos;
  EvalThread et;
};

BookPositions& book_positions() {
  static BookPositions b;
  if (b.fens.empty()) {
    std::ifstream in(std::string(VORN_TESTDATA_DIR) + "/openings/UHO_4060_v3-20k.epd");
    std::string line;
    while (b.fens.size() < 2000 && std::getline(in, line))
      if (!line.empty()) b.fens.push_back(line);
    middlegame();  // sets up the board tables
    position_init(b.pos, b.history);
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
  std::vector<Position> positions;
  for (const std::string& fen : b.fens) {
    set_position(b.pos, fen.c_str());
    positions.push_back(b.pos);
  }
  for (auto _ : state) {
    eval_clear_thread(b.et);
    int sum = 0;
    for (const Position& p : positions) sum += evaluate(b.et, p, 1, nullptr);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * i64(positions.size()));
  // The other benchmarks measure the shipped tables.
  register_eval_params(slots);
  build_eval_tables(slots);
}
BENCHMARK(BM_EvaluateBookPositions<EvalDefaults::SHIPPED>)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EvaluateBookPositions<EvalDefaults::HAND_SET>)->Unit(benchmark::kMicrosecond);

}  // namespace

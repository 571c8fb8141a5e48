// WDL probe speed over the 400 positions of the shared probe list, with the
// tables freshly registered (cold: mapping and decoding set-up included) and
// already loaded (warm).  Legal move generation over the same positions is
// the peer the probe rates are read against.
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "board/position.h"
#include "fathom/tbcore.h"
#include "fathom/tbprobe.h"
#include "platform/output.h"

namespace {

struct ProbeSet {
  std::vector<GameHistory> histories;
  std::vector<Position> positions;
  bool ok = false;
};

ProbeSet& probe_set() {
  static ProbeSet set;
  static bool loaded = false;
  if (loaded) return set;
  loaded = true;
  init_attacks();
  init_zobrist();
  std::ifstream in(std::string(VORN_TESTDATA_DIR) + "/syzygy/probes.epd");
  std::vector<std::string> fens;
  std::string line;
  while (std::getline(in, line))
    if (line.find(';') != std::string::npos) fens.push_back(line.substr(0, line.find(';')));
  set.histories.resize(fens.size());
  set.positions.resize(fens.size());
  for (size_t i = 0; i < fens.size(); ++i) {
    position_init(set.positions[i], set.histories[i]);
    set_position(set.positions[i], fens[i].c_str());
  }
  set.ok = !fens.empty();
  return set;
}

void load_tables() {
  std::string dir = std::string(VORN_TESTDATA_DIR) + "/syzygy";
  set_output_sink([](const char*) {});
  init_tablebases(dir.c_str());
  set_output_sink(nullptr);
}


void BM_WdlProbeCold(benchmark::State& state) {
  ProbeSet& set = probe_set();
  if (!set.ok) return state.SkipWithError("probe list not found");
  i64 items = 0;
  for (auto _ : state) {
    load_tables();
    for (const Position& pos : set.positions) {
      int ok;
      benchmark::DoNotOptimize(probe_wdl(pos, ok));
    }
    items += i64(set.positions.size());
  }
  state.SetItemsProcessed(items);
}
BENCHMARK(BM_WdlProbeCold)->Unit(benchmark::kMillisecond);

void BM_WdlProbeWarm(benchmark::State& state) {
  ProbeSet& set = probe_set();
  if (!set.ok) return state.SkipWithError("probe list not found");
  load_tables();
  i64 items = 0;
  for (auto _ : state) {
    for (const Position& pos : set.positions) {
      int ok;
      benchmark::DoNotOptimize(probe_wdl(pos, ok));
    }
    items += i64(set.positions.size());
  }
  state.SetItemsProcessed(items);
}
BENCHMARK(BM_WdlProbeWarm)->Unit(benchmark::kMillisecond);

void BM_LegalMovesPeer(benchmark::State& state) {
  ProbeSet& set = probe_set();
  if (!set.ok) return state.SkipWithError("probe list not found");
  i64 items = 0;
  Move moves[MAX_MOVES];
  for (auto _ : state) {
    for (const Position& pos : set.positions) benchmark::DoNotOptimize(gen_legal(pos, moves));
    items += i64(set.positions.size());
  }
  state.SetItemsProcessed(items);
}
BENCHMARK(BM_LegalMovesPeer)->Unit(benchmark::kMillisecond);

}  // namespace

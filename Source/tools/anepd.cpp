#include "tools/anepd.h"

#include <cstdio>
#include <cstring>

#include "board/notation.h"
#include "platform/output.h"
#include "platform/platform.h"
#include "search/control.h"
#include "search/driver.h"
#include "search/thread.h"
#include "search/timeman.h"
#include "search/tt.h"
#include "tools/epd.h"

namespace {

struct SuiteTotals {
  int positions = 0, correct = 0, points = 0, available = 0;
  f64 nodes = 0, time = 0, depth = 0, branching = 0;
};

// One search of the game position under the current limits; true when a
// "quit" line arrived meanwhile.
bool search_position(const ToolHooks& hooks, int n) {
  SearchControl& c = g_control;
  bool quit = false;
  if (c.limits.max_depth > 5 && (c.limits.node_limit == 0 || c.limits.node_limit > 99999)) {
    start_search_threads(*hooks.game);
    while (count_busy_threads() != 0) {
      check_time();
      hooks.poll();
      quit |= hooks.quit_requested();
      if (!c.stop) sleep_ms(5);
    }
  } else {
    tool_search(*hooks.game);
    update_elapsed();
    if (n % 256 == 255) {
      check_time();
      hooks.poll();
      quit |= hooks.quit_requested();
    }
  }
  c.search_state = STATE_IDLE;
  return quit;
}

void judge(const Position& pos, const char* bm, const char* am, const char* c0, const char* fen, FILE* unsolved,
           SuiteTotals& s) {
  const SearchControl& c = g_control;
  Move best = c.result.best_move();
  if (bm[0]) {
    if (move_listed(pos, bm, " ,;\"\r\n", best)) ++s.correct;
  } else if (am[0] && moves_parsing(pos, am, " ,;\"\r\n") > 0) {
    if (!move_listed(pos, am, " ,;\"\r\n", best)) ++s.correct;
  } else if (c.result.last_depth > 0) {
    std::fprintf(unsolved, "%s\n", fen);
  }
  int available = 0;
  s.points += points_for_move(pos, c0, best, &available);
  s.available += available;
}

}  // namespace

void analyze_epd(const char* epd_file, const ToolHooks& hooks) {
  SearchControl& c = g_control;
  FILE* in = open_input_file(epd_file);
  if (!in) return;
  FILE* unsolved = std::fopen("unsolved.epd", "w");
  if (!unsolved) {
    report_unwritable("unsolved.epd");
    std::fclose(in);
    return;
  }
  output_format("Analyzing %s...", epd_file);
  if (c.limits.max_depth < 3) c.config.hash_enabled = 0;
  SuiteTotals s;
  static char line[EPD_LINE_CHARS + 1], fen[513], bm[513], am[513], id[513], ce[513], c0[513], c6[513];
  while (read_epd_line(in, line)) {
    if (line[0] == ' ' || line[0] == '#' || line[0] == ';' || std::strlen(line) + 1 <= 9) continue;
    if (!split_epd(line, fen, bm, am, id, ce, c0, c6)) continue;
    if (!hooks.setup(fen)) continue;
    const int n = ++s.positions;
    if (g_info_threshold < 9999) {
      output_format("pos= %d", n);
      output_line(line);
      print_board(*hooks.game);
    }
    if (c.config.hash_enabled) clear_hash_if_idle();
    hooks.prepare_search();
    bool quit = search_position(hooks, n);
    gather_search_stats();
    s.nodes += f64(c.stats.total_nodes);
    s.time += c.clock.elapsed;
    s.depth += c.result.last_depth;
    s.branching += effective_branching_factor();
    judge(*hooks.game, bm, am, c0, fen, unsolved, s);
    if (g_info_threshold < 9999) {
      print_info_if_due(0, 1, c.result.report_depth, c.result.best_score, c.result.best_pv);
      char move[16] = "null";
      if (c.result.best_move()) move_to_text(c.result.best_move(), move, Notation::UCI);
      output_format("move= %s, time= %0.3f, score= %d, nodes= %0.0f, %0.0fK nps", move, c.clock.elapsed.load(),
                    int(c.result.best_score), f64(c.stats.total_nodes), f64(c.stats.total_nodes) / (c.clock.elapsed + 0.001) / 1000);
    }
    if (quit || hooks.quit_requested()) break;
  }
  const int n = s.positions;
  output_format("%d / %d correct best moves", s.correct, n);
  output_format("total nodes= %0.0f", s.nodes);
  output_format("total time= %0.2f seconds", s.time);
  output_format("avg depth= %0.1f", n ? s.depth / n : 0.0);
  output_format("avg nodes= %0.1f", n ? f64(u64(s.nodes) / u64(n)) : 0.0);
  output_format("node_rate= %0.0f", s.nodes / (0.01 + s.time));
  output_format("avg bf= %0.2f", n ? s.branching / n : 0.0);
  output_format("score= %d / %d", s.points, s.available);
  output_line("");
  std::fclose(in);
  std::fclose(unsolved);
}

#include "engine/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "board/movegen.h"
#include "board/notation.h"
#include "engine/game.h"
#include "platform/output.h"
#include "search/control.h"
#include "search/driver.h"
#include "search/thread.h"
#include "search/timeman.h"
#include "search/tt.h"
#include "search/wdl.h"

namespace {

void report_console() {
  SearchControl& c = g_control;
  tt_hashfull();
  char best[16] = "null";
  if (c.result.best_move()) move_to_text(c.result.best_move(), best, Notation::CONSOLE);
  output_format("move= %s, time= %0.3f, score= %d, nodes= %0.0f, nps= %0.0fK ebf= %0.2f", best,
                c.clock.elapsed.load(), int(c.result.best_score), f64(c.stats.total_nodes),
                f64(c.stats.total_nodes) / (c.clock.elapsed + 0.001) / 1000, effective_branching_factor());
  output_format("Hash fill= %.1f%%, Hash hits: main= %0.1f%%, pawn= %0.1f%%, eval= %0.1f%%, TB=%0.0fK",
                100 * c.stats.hash_fill, 100.0 * f64(c.stats.hash_hits) / f64(c.stats.hash_probes + 1),
                100.0 * f64(c.stats.pawn_hits) / f64(c.stats.pawn_probes + 1),
                100.0 * f64(c.stats.eval_hits) / f64(c.stats.eval_probes + 1), f64(c.stats.tb_hits) / 1000);
  output_line("");
}

// What the root of the search being reported allowed: the game position may
// have changed since the search started (a "position" sent during a search),
// so the answer is taken from the root as it was, never from the new one.
struct RootStatus {
  u64 key;
  int count;
  bool in_check;
  Move legal[MAX_MOVES];
};
RootStatus g_root_status;

// A search stopped before its first iteration ended (or never started, past
// the fifty-move limit) has published no move; a legal one is answered all
// the same: the head of thread 0's ordered root list when that list belongs
// to the searched root, else the root's first legal move.
Move fallback_move() {
  const RootStatus& r = g_root_status;
  if (r.count == 0) return MOVE_NONE;
  const SearchThread* t = g_threads[0];
  if (t && t->pos.hash_key == r.key && t->tables.stack[1].move_list == t->tables.move_buffer) {
    Move head = t->tables.move_buffer[0].move;
    for (int i = 0; i < r.count; ++i)
      if (r.legal[i] == head) return head;
  }
  return r.legal[0];
}

// A root without a legal move is a result already: mated or stalemated.  A
// client gets it as a score and the protocol's null move.
void report_no_legal_move() {
  const bool mated = g_root_status.in_check;
  char wdl[32] = "";
  if (g_show_wdl.load(std::memory_order_relaxed)) std::snprintf(wdl, sizeof wdl, mated ? " wdl 0 0 1000" : " wdl 0 1000 0");
  output_format("info depth 0 score %s%s", mated ? "mate 0" : "cp 0", wdl);
  output_line("bestmove 0000");
}

}  // namespace

void print_message(const char* fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (g_flags.uci_mode)
    output_format("info string %s", buf);
  else
    output_line(buf);
}

void report_book_move(Move move) {
  output_format("%s book move is %s%s", g_flags.uci_mode ? "info string" : "", SQUARE_NAMES[move_from(move)],
                SQUARE_NAMES[move_to(move)]);
}

void note_search_root(const Position& pos) {
  RootStatus& r = g_root_status;
  r.key = pos.hash_key;
  r.count = gen_legal(pos, r.legal);
  r.in_check = in_check(pos);
}

void report_search_start(const Position& pos) {
  const SearchControl& c = g_control;
  char fen[128];
  position_to_fen(pos, fen);
  if (g_flags.uci_mode) {
    log_only("info string fen %s", fen);
    log_only("info string ply= %d, trg_time= %0.3f sec", int(pos.owner->history_count), c.clock.target_time);
  } else {
    output_format("fen %s", fen);
    output_format("Ply= %d, cnt50= %d, Clock= %0.2fs, Target time= %0.2fs", int(pos.owner->history_count),
                  int(pos.fifty_count), c.limits.side_time[pos.side], c.clock.target_time);
  }
}

void report_result() {
  SearchControl& c = g_control;
  gather_search_stats();
  u16 line[PV_SIZE];
  c.result.copy_line(line);
  // Console self-play ends its game where no move was found (past the
  // fifty-move limit too); a client is always answered a move.
  if (g_flags.uci_mode && !line[1] && g_root_status.count != 0) {
    line[1] = fallback_move();
    line[2] = 0;
    c.result.set_line(line);
  }
  if (g_flags.uci_mode && g_root_status.count == 0) {
    report_no_legal_move();
    return;
  }
  print_info_if_due(0, 1, c.result.report_depth, c.result.best_score, line);
  if (!g_flags.uci_mode) {
    report_console();
    return;
  }
  char best[16], ponder[16];
  if (line[1]) move_to_text(line[1], best, Notation::UCI);
  if (line[2]) {
    move_to_text(line[2], ponder, Notation::UCI);
    output_format("bestmove %s ponder %s", best, ponder);
  } else {
    output_format("bestmove %s", best);
  }
}

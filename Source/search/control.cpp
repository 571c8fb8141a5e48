#include "search/control.h"

SearchControl g_control;

void search_control_defaults(SearchControl& c) {
  c.num_threads = 1;
  c.hash_enabled = 1;
  c.hash_mb = 0;
  c.tt_age = 0;
  c.ponder_allowed = 1;
  c.book_move = 0;
  c.move_overhead = 0.05;
  c.root_side = WHITE;
  c.multipv = 1;
  c.search_state = STATE_IDLE;
  c.go_request = 0;
  c.infinite = 0;
  c.report_held = 0;
  c.node_limit = 0;
  c.max_depth = MAX_DEPTH;
  c.depth_cap = MAX_DEPTH;
  c.limit_mode = 1;
  c.fixed_time = 5.0;
  c.increment = 0;
  c.side_time[0] = c.side_time[1] = 5.0;
  c.moves_to_go = 0;
  c.target_time = 1.0;
  c.time_extension = 0;
  c.elapsed = 0;
  c.search_start = 0;
  c.stop = STOP_NONE;
  c.calibration_nps = 0;
  c.max_elo = 0;
  c.target_nps = NO_NPS_LIMIT;
  c.limit_nps = NO_NPS_LIMIT;
  reset_search_results(c);
  c.total_nodes = c.eval_probes = c.eval_hits = c.hash_probes = c.hash_hits = 0;
  c.pawn_probes = c.pawn_hits = c.tb_hits = 0;
  c.hash_fill = 0;
}

void reset_search_results(SearchControl& c) {
  c.stop = STOP_NONE;
  c.time_extension = 0;
  c.best_score = -10000;
  for (int i = 0; i < MAX_PLY_LINE; ++i) {
    c.best_pv[i] = 0;
    c.score_by_depth[i] = -10001;
    c.nodes_by_depth[i] = 0;
  }
  c.report_depth = 0;
  c.iteration_depth = 0;
  c.change_depth = 0;
  c.single_reply = 0;
  c.last_depth = 0;
  c.ncnt1 = c.ncnt2 = c.ncnt3 = c.ncnt4 = 0;
}

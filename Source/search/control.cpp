#include "search/control.h"

SearchControl g_control;

void search_control_defaults(SearchControl& c) {
  c.config.num_threads = 1;
  c.config.hash_enabled = 1;
  c.config.hash_mb = 0;
  c.config.tt_age = 0;
  c.config.ponder_allowed = 1;
  c.config.gui_ponders = 0;
  c.config.move_overhead = 0.05;
  c.config.multipv = 1;
  c.config.depth_cap = MAX_DEPTH;
  c.config.notation = Notation::UCI;

  c.limits.root_side = WHITE;
  c.limits.node_limit = 0;
  c.limits.max_depth = MAX_DEPTH;
  c.limits.limit_mode = LIMIT_FIXED;
  c.limits.fixed_time = 5.0;
  c.limits.increment = 0;
  c.limits.side_time[WHITE] = c.limits.side_time[BLACK] = 5.0;
  c.limits.moves_to_go = 0;
  c.limits.search_move_count = 0;
  c.limits.mate_moves = 0;

  c.clock.search_start = 0;
  c.clock.target_time = 1.0;
  c.clock.hard_time = 1.0;
  c.clock.elapsed = 0;

  c.speed.calibration_nps = 0;
  c.speed.max_elo = 0;
  c.speed.target_nps = NO_NPS_LIMIT;
  c.speed.limit_nps = NO_NPS_LIMIT;

  c.result.book_move = 0;
  reset_search_results(c);
  c.stats = SearchStats{};

  c.search_state = STATE_IDLE;
  c.go_request = 0;
  c.infinite = 0;
  c.report_held = 0;
}

void reset_search_results(SearchControl& c) {
  c.stop = STOP_NONE;
  c.clock.time_extension = 0;
  c.clock.soft_passed = 0;
  SearchResult& r = c.result;
  r.best_score = -10000;
  u16 empty[PV_SIZE] = {};
  r.set_line(empty);
  for (int i = 0; i < PV_SIZE; ++i) {
    r.score_by_depth[i] = -10001;
    r.nodes_by_depth[i] = 0;
  }
  r.report_depth = 0;
  r.iteration_depth = 0;
  r.change_depth = 0;
  r.single_reply = 0;
  r.last_depth = 0;
}

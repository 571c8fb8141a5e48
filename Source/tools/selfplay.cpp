#include "tools/selfplay.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "board/movegen.h"
#include "board/notation.h"
#include "book/book.h"
#include "eval/params.h"
#include "platform/output.h"
#include "platform/platform.h"
#include "search/control.h"
#include "search/driver.h"
#include "search/options.h"
#include "search/thread.h"
#include "search/timeman.h"
#include "search/tt.h"

namespace {

constexpr const char* START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";
constexpr int MAX_GAMES = 300000;
constexpr int GAMES_PER_CYCLE = 6;
// Well inside the game part of the history, with room for the search on top.
constexpr int MAX_GAME_PLIES = 600;

constexpr int TUNED_COUNT = 26;
const char* const TUNED[TUNED_COUNT] = {
    "knight_value_op",    "knight_value_en",    "bishop_value_op",    "bishop_value_en",    "rook_value_op",
    "rook_value_en",      "queen_value_op",     "queen_value_en",     "bishop_pair_op",     "bishop_pair_en",
    "knight_mobility_op", "knight_mobility_en", "bishop_mobility_op", "bishop_mobility_en", "rook_mobility_op",
    "rook_mobility_en",   "queen_mobility_op",  "queen_mobility_en",  "pawn_connected_op",  "pawn_candidate_en",
    "pawn_shield",        "pawn_storm",         "hung_pawn_op",       "hung_pawn_en",       "hung_piece_op",
    "hung_piece_en"};

enum Outcome : int { WHITE_WINS = 0, BLACK_WINS = 1, DRAWN = 2, UNFINISHED = 3 };

struct PlayedMove {
  char text[8];
  i16 score;
  i16 depth;
};

struct Game {
  PlayedMove moves[MAX_GAME_PLIES];
  int count = 0;
};

i16 to_setting(double x) {
  long v = std::lround(x);
  return i16(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}

// Searches the game position with all threads; true when "quit" arrived.
bool search_position(const TuneHooks& hooks) {
  SearchControl& c = g_control;
  start_search_threads(*hooks.tool.game);
  while (count_busy_threads() != 0) {
    check_time();
    sleep_ms(1);
    hooks.tool.poll();
  }
  c.search_state = STATE_IDLE;
  return hooks.tool.quit_requested();
}

// One game from the start position, the perturbed colour playing with
// `perturbed` and the other with `reference`.
Outcome play_game(Game& game, int perturbed_colour, const UciOptions& perturbed, const UciOptions& reference,
                  const TuneHooks& hooks) {
  SearchControl& c = g_control;
  Position& pos = *hooks.tool.game;
  hooks.tool.setup(START);
  game.count = 0;
  const bool keep_hash = c.limits.max_depth > 7 && (c.limits.node_limit == 0 || c.limits.node_limit > 100000) && c.limits.fixed_time > 0.1;
  c.config.hash_enabled = keep_hash;
  if (keep_hash) clear_hash_if_idle();
  for (;;) {
    const int us = pos.side;
    if (no_legal_moves(pos)) return in_check(pos) ? Outcome(us ^ 1) : DRAWN;
    if (game.count >= MAX_GAME_PLIES) return DRAWN;
    g_options = us == perturbed_colour ? perturbed : reference;
    hooks.rebuild();
    hooks.tool.prepare_search();
    Move best = 0;
    int score = 0, depth = 0;
    if (game.count < g_options[SLOT_BOOK_DEPTH])
      best = probe_book(pos, BookSettings{g_options.text(SLOT_BOOK_FILE), g_options[SLOT_BOOK_VARIETY], BOOK_LIST_NONE});
    if (drawn_before_search(pos)) {
      best = 0;
    } else if (!best) {
      if (search_position(hooks)) return UNFINISHED;
      gather_search_stats();
      best = c.result.best_move();
      score = c.result.best_score;
      depth = c.result.report_depth;
    }
    Outcome result = UNFINISHED;
    if (score < -500)
      result = Outcome(us ^ 1);
    else if (score > 500)
      result = Outcome(us);
    else if (pos.fifty_count > 99 || !best)
      result = DRAWN;
    if (best) {
      PlayedMove& m = game.moves[game.count++];
      // Squares, and the piece of a promotion so that the record replays without guessing.
      const char promotion[2] = {is_promotion(best) ? "  nbrq"[promotion_type(best)] : '\0', '\0'};
      std::snprintf(m.text, sizeof m.text, "%s%s%s", SQUARE_NAMES[move_from(best)], SQUARE_NAMES[move_to(best)],
                    promotion);
      m.score = i16(score);
      m.depth = i16(depth);
    }
    if (result != UNFINISHED) return result;
    make_move(pos, best);
  }
}

void write_game(FILE* pgn, const Game& game, int number, int perturbed_colour, Outcome result) {
  const char* names[2] = {"Player2", "Player2"};
  names[perturbed_colour] = "Player1";
  const char* text = result == WHITE_WINS ? "1-0" : result == BLACK_WINS ? "0-1" : "1/2-1/2";
  std::fprintf(pgn, "[Event selfplay]\n[Game %d]\n[White \"%s\"]\n[Black \"%s\"]\n[Result \"%s\"]\n", number,
               names[WHITE], names[BLACK], text);
  for (int i = 0; i < game.count; ++i) {
    const PlayedMove& m = game.moves[i];
    std::fprintf(pgn, "%s%s {%0.2f/%d}%s", i & 1 ? "   " : "", m.text, m.score / 100.0, m.depth, i & 1 ? "\n" : "");
  }
  std::fputs("\n\n", pgn);
  std::fflush(pgn);
}

}  // namespace

bool drawn_before_search(const Position& pos) {
  // Past the fifty-move limit the game still goes to the search: its score
  // may decide the game before the limit is applied after it.  A position
  // without legal moves never gets here.
  return pos.fifty_count > 3 && is_repetition(pos, pos.owner->history_count + 1);
}

int perturbed_setting(double x, int random_value) {
  // In whole thousandths, so that the middle value gives no change however the arithmetic is contracted.
  double delta = (random_value - 200) / 1000.0 * x;
  if (delta > 0 && delta < 1.5) delta = 1.5;
  if (delta < 0 && delta > -1.5) delta = -1.5;
  return to_setting(x + delta);
}

double updated_estimate(double x, int perturbed, int win_difference) {
  return x + win_difference * 0.002 * (perturbed - std::lround(x));
}

void selfplay_match(const TuneHooks& hooks) {
  SearchControl& c = g_control;
  EvalParamRegistry& reg = g_eval_params;
  if (reg.count == 0) register_eval_params(g_options.slots);
  EvalParam* tuned[TUNED_COUNT];
  for (int k = 0; k < TUNED_COUNT; ++k) {
    const int index = find_eval_param(TUNED[k]);
    if (index < 0) {
      output_format("parameter %s is not registered", TUNED[k]);
      return;
    }
    tuned[k] = &reg.entries[index];
  }

  FILE* pgn = std::fopen("self.pgn", "w");
  if (!pgn) {
    output_format("can't open %s", "self.pgn");
    return;
  }
  g_info_threshold = 9999;
  g_options[SLOT_HASH] = 2;
  g_options[SLOT_BOOK_VARIETY] = 50;
  g_options[SLOT_BOOK_DEPTH] = 6;
  c.limits.fixed_time = 0.03;
  c.limits.limit_mode = 1;
  c.limits.side_time[WHITE] = c.limits.side_time[BLACK] = 1.0;
  g_listed_options = g_options;
  output_line("Starting match...");

  static Game game;  // too large for the stack
  static UciOptions reference, perturbed;
  int settings[TUNED_COUNT];
  for (int total = 0; total < MAX_GAMES && !hooks.tool.quit_requested(); total += GAMES_PER_CYCLE) {
    for (int i = 0; i < reg.count; ++i) *reg.entries[i].value = to_setting(reg.entries[i].estimate);
    reference = g_listed_options;
    for (int k = 0; k < TUNED_COUNT; ++k) {
      settings[k] = perturbed_setting(tuned[k]->estimate, std::rand() % 400);
      *tuned[k]->value = i16(settings[k]);
    }
    perturbed = g_options;
    output_format("ngames= %d", total);
    for (int k = 0; k < TUNED_COUNT; ++k)
      output_format(" * %-24s : %6.1f  %4d", tuned[k]->name, tuned[k]->estimate, settings[k]);

    int wins[2] = {0, 0};  // perturbed, reference
    for (int number = 1; number <= GAMES_PER_CYCLE; ++number) {
      const int colour = std::rand() & 1;
      Outcome result = play_game(game, colour, perturbed, reference, hooks);
      if (result == UNFINISHED) break;
      if (result != DRAWN) ++wins[result == colour ? 0 : 1];
      write_game(pgn, game, number, colour, result);
    }
    g_options = perturbed;
    for (int k = 0; k < TUNED_COUNT; ++k)
      tuned[k]->estimate = updated_estimate(tuned[k]->estimate, settings[k], wins[0] - wins[1]);
    g_options = reference;
  }
  std::fclose(pgn);
  hooks.rebuild();
}

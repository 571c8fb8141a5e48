// Static evaluation: packed opening/endgame pairs tapered by the game stage,
// summed into a score in centipawns from the side to move's view.
#pragma once

#include "board/position.h"
#include "eval/params.h"

// Returned for positions the caller asked not to score.
constexpr int EVAL_SKIPPED = -10001;

// Game stage: 0 with all pieces on the board, 24 with none.
constexpr int STAGE_MAX = 24;

// Phase count of a colour: knights + bishops + 2 rooks + 4 queens, capped at 12.
inline int phase_count(u32 signature) {
  int n = ((signature >> 4) & 15) + ((signature >> 8) & 15) + 2 * ((signature >> 12) & 15) + 4 * ((signature >> 16) & 15);
  return n < 12 ? n : 12;
}

inline int game_stage(const Position& pos) {
  return STAGE_MAX - phase_count(pos.material_signature[WHITE]) - phase_count(pos.material_signature[BLACK]);
}

// A pair tapered by the stage; the division truncates towards zero.
inline int taper(Score s, int stage) { return (score_op(s) * (STAGE_MAX - stage) + score_en(s) * stage) / STAGE_MAX; }

// What evaluate hands to the search for the ply it was called at: the colour
// flags that make pruning riskier, and the dead-draw mark.
struct EvalPlyInfo {
  i16 danger[2];
  u8 draw_by_material;
};

constexpr int EVAL_CACHE_BITS = 15;
constexpr int EVAL_CACHE_SIZE = 1 << EVAL_CACHE_BITS;
constexpr int PAWN_HASH_BITS = 14;
constexpr int PAWN_HASH_SIZE = 1 << PAWN_HASH_BITS;

struct EvalCacheEntry {
  u64 key;
  i16 danger[2];
  i16 score;
};

struct PawnHashEntry {
  u64 key;
  Score sum[2];
};

// Per-call working values, kept in the thread record so nothing is
// allocated or zeroed on the stack for each call.  The attack maps are built
// once by the pawn and piece terms and read by king safety, passed pawns,
// threats and draw scaling.
struct EvalScratch {
  int stage;
  int phase[2];
  Score material[2];    // M: tapered on its own, no boost
  Score positional[2];  // P: gets the non-linear boost
  int danger[2];
  int draw_factor;  // last scaling factor, in 1/256

  Bitboard pawn_attacks[2];
  Bitboard knight_attacks[2];
  Bitboard bishop_attacks[2];
  Bitboard rook_attacks[2];
  Bitboard queen_attacks[2];
  Bitboard king_attacks[2];
  Bitboard all_attacks[2];
  Bitboard attacked_twice[2];
  Bitboard king_zone[2];
  Bitboard front_fill[2];
  Bitboard attack_span[2];
  Bitboard passed;      // passed pawns of both colours
  Bitboard candidates;  // candidate passed pawns of both colours
  Bitboard pinned;      // pinned pieces of both colours
  // Pieces of each colour whose attacks reach the enemy king zone, by type
  // (knights, bishops, rooks, queens).
  int king_attackers[2][4];
  int safe_checks[2];
};

// The evaluation's share of a search thread's record.  The search owns it
// (one per thread) and sets the context fields at the start of each search.
struct EvalThread {
  EvalCacheEntry cache[EVAL_CACHE_SIZE];
  PawnHashEntry pawn_hash[PAWN_HASH_SIZE];
  EvalScratch scratch;

  // Search context: the cache is trusted only from iteration 2 on, and the
  // contempt term needs the side to move at the root.
  int iteration_depth;
  int root_side;
  int contempt;  // contempt in force for this search, 0 when off

  u32 generation;  // g_eval_generation the caches were last cleared for
  // Thread 0 sums every thread's counters for its info lines.
  Relaxed<u64> cache_probes, cache_hits;
  Relaxed<u64> pawn_probes, pawn_hits;
};

// Rows of the "eval" listing.
enum EvalTraceTerm : int {
  TRACE_PAWNS,
  TRACE_KNIGHTS,
  TRACE_BISHOPS,
  TRACE_ROOKS,
  TRACE_QUEENS,
  TRACE_KINGS,
  TRACE_PASSERS,
  TRACE_THREATS,
  TRACE_TERMS
};

// What the "eval" listing shows, filled only when evaluate is called with
// trace set (console, search idle).  Totals are tapered centipawns of each
// colour (the passers row holds the endgame values); the board holds each
// square's tapered contribution from White's view.
struct EvalTrace {
  int score;        // final score, side to move's view
  int stage;
  int draw_factor;  // in 1/256
  int material[2];
  int positional[2];
  int terms[TRACE_TERMS][2];
  int board[64];
  int king_square[2];
  int king_danger[2];  // the middlegame danger value of each king term
  u32 signature[2];
};

extern EvalTrace g_eval_trace;

// Empties both caches and resets the counters.
void eval_clear_thread(EvalThread& et);

// Called by each search thread before it starts searching: clears the caches
// when the weight tables were rebuilt since the last search, and records the
// root side and whether contempt applies (only for searches planned below
// 6000 seconds; analysis stays neutral).
void eval_begin_search(EvalThread& et, int root_side, f64 target_time);

// Score of pos in centipawns, positive when the side to move stands better.
// ply is the search ply; slot (may be null) receives the ply's danger
// counters and draw mark.  With skip set the answer is EVAL_SKIPPED.
int evaluate(EvalThread& et, const Position& pos, int ply, EvalPlyInfo* slot, bool skip = false, bool trace = false);

// The evaluation of one position as a linear function of its parameters:
// the positional sum of each half is the sum over the parameter slots of
// value x coefficient plus `fixed` (the terms no parameter carries: king
// danger, passed pawns, tempo, fixed weights) plus `rounding` (what the
// built tables lose to integer arithmetic); then the same tapering, boost,
// material, contempt and draw scaling as evaluate.  Coefficients and sums
// are White's minus Black's.
struct EvalCoefficients {
  bool linear;  // false when the score was settled before the terms (dead draw, bare king)
  int score;    // what evaluate answered, side to move's view
  int side;
  int stage;
  int draw_factor;   // in 1/256
  int contempt;      // centipawns the contempt term added, White's view
  Score material;    // M, which neither boost nor any coefficient touches
  f64 coef[EVAL_COEF_COUNT][2];
  f64 fixed[2];
  f64 rounding[2];
  f64 worst_rounding;  // largest rounding of a single term, either half
};

// evaluate, filling ec as well.  The caches are neither read nor written.
// A separate instantiation: evaluate itself does no part of this work.
int evaluate_coefficients(EvalThread& et, const Position& pos, EvalCoefficients& ec);

// The score ec gives for the parameter values w (by coefficient, as g_slopes.value),
// side to move's view.  For the values the tables were built from it is the
// evaluation itself.
int score_from_coefficients(const EvalCoefficients& ec, const f64* w);

// The positional boost: grows with the square of the positional sum p and
// is capped at 125.
inline int positional_boost(int p) {
  i64 p2 = 13 * i64(p) * p;
  int boost = p2 >= 512000 ? 125 : int(p2 >> 12);
  return p < 0 ? -boost : boost;
}

// Material of one colour, opening and endgame, from its signature.
Score material_score(u32 signature);

// Draw-scaling factor in 1/256 for a White-view score.
int draw_scale(const Position& pos, int score, int phase_white, int phase_black);

// Prints the breakdown of the last traced evaluation: the score line with
// the quiescence score qscore, the per-term rows and the per-square board.
void print_eval_trace(int qscore);

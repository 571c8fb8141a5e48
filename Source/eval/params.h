// The tunable evaluation parameters: defaults in the option slots, the
// name registry, and the step that builds the weight tables from the slots.
#pragma once

#include <atomic>

#include "board/types.h"

// First slot of the tunable evaluation parameters.
constexpr int EVAL_PARAM_FIRST_SLOT = 248;

// Where each evaluation parameter lives in the option slots.
//
// Pairs take two consecutive slots, opening value first.  The option pairs
// the user sets by name are pinned (Mtl_* from 248, the percentage pairs
// PST_Pawn .. tune from 337); the remaining parameters fill the gaps in
// registration order:
//
//   248..259  material pairs: pawn, knight, bishop, rook, queen, bishop pair
//   260..267  mobility weights: knight, bishop, rook, queen
//   268..281  pawn doubled, backward, isolated, weak, connected, defended, candidate
//   282..285  knight outpost (op, unregistered en), bishop outpost (op, unregistered en)
//   286..295  rook open file, half-open file, seventh rank, trapped; queen seventh rank
//   296, 297  pawn shield, pawn storm (single values)
//   298..309  safe check, hung pawn, hung piece, attacked piece, more than one hung, pawn push threat
//   310..321  piece-square weights PST_P .. PST_K
//   322..336  p1 .. p15
//   337..368  percentage pairs PST_Pawn .. Threats, Awareness, tune; the registered
//             percentages pawnstruct, ppawns, king_safety and threats are four of these
//   369..400  pst_a1 .. pst_d8
//   401..412  passed pawn base values by relative rank 2..7: held, then safe to advance
enum : int {
  SLOT_CONTEMPT = 230,

  SLOT_PAWN_VALUE = 248,
  SLOT_KNIGHT_VALUE = 250,
  SLOT_BISHOP_VALUE = 252,
  SLOT_ROOK_VALUE = 254,
  SLOT_QUEEN_VALUE = 256,
  SLOT_BISHOP_PAIR = 258,
  SLOT_KNIGHT_MOBILITY = 260,
  SLOT_BISHOP_MOBILITY = 262,
  SLOT_ROOK_MOBILITY = 264,
  SLOT_QUEEN_MOBILITY = 266,
  SLOT_PAWN_DOUBLED = 268,
  SLOT_PAWN_BACKWARD = 270,
  SLOT_PAWN_ISOLATED = 272,
  SLOT_PAWN_WEAK = 274,
  SLOT_PAWN_CONNECTED = 276,
  SLOT_PAWN_DEFENDED = 278,
  SLOT_PAWN_CANDIDATE = 280,
  SLOT_KNIGHT_OUTPOST = 282,
  SLOT_BISHOP_OUTPOST = 284,
  SLOT_ROOK_OPEN_FILE = 286,
  SLOT_ROOK_HALF_OPEN_FILE = 288,
  SLOT_ROOK_RANK7 = 290,
  SLOT_ROOK_TRAPPED = 292,
  SLOT_QUEEN_RANK7 = 294,
  SLOT_PAWN_SHIELD = 296,
  SLOT_PAWN_STORM = 297,
  SLOT_SAFE_CHECK = 298,
  SLOT_HUNG_PAWN = 300,
  SLOT_HUNG_PIECE = 302,
  SLOT_ATTACKED_PIECE = 304,
  SLOT_MULTI_HUNG = 306,
  SLOT_THREAT_PPUSH = 308,
  SLOT_PST_P = 310,
  SLOT_PST_N = 312,
  SLOT_PST_B = 314,
  SLOT_PST_R = 316,
  SLOT_PST_Q = 318,
  SLOT_PST_K = 320,
  SLOT_P1 = 322,  // p1 .. p15 up to 336

  // Percentage pairs (op percentage, en percentage), 100 = unchanged.
  SLOT_SCALE_PST_PAWN = 337,
  SLOT_SCALE_PST_KNIGHT = 339,
  SLOT_SCALE_PST_BISHOP = 341,
  SLOT_SCALE_PST_ROOK = 343,
  SLOT_SCALE_PST_QUEEN = 345,
  SLOT_SCALE_PST_KING = 347,
  SLOT_SCALE_MOBILITY_KNIGHT = 349,
  SLOT_SCALE_MOBILITY_BISHOP = 351,
  SLOT_SCALE_MOBILITY_ROOK = 353,
  SLOT_SCALE_MOBILITY_QUEEN = 355,
  SLOT_SCALE_PAWN_STRUCTURE = 357,
  SLOT_SCALE_PASSED_PAWNS = 359,
  SLOT_SCALE_KING_SAFETY = 361,
  SLOT_SCALE_THREATS = 363,
  SLOT_SCALE_AWARENESS = 365,
  SLOT_SCALE_TUNE = 367,

  SLOT_PST_SHAPE = 369,  // pst_a1 .. pst_d8 up to 400
  SLOT_PASSER_HELD = 401,  // passer_held_2 .. passer_held_7
  SLOT_PASSER_SAFE = 407,  // passer_safe_2 .. passer_safe_7
  EVAL_PARAM_END_SLOT = 413,
};

// One named parameter.  The tuner works on `estimate` (a real-valued copy of
// the setting) and `gradient`; `tune` marks the parameter as selected.
struct EvalParam {
  char name[25];
  i16* value;
  f64 estimate;
  f64 gradient;
  f64 step;
  u16 tune;
};

constexpr int MAX_EVAL_PARAMS = 1100;

struct EvalParamRegistry {
  EvalParam entries[MAX_EVAL_PARAMS];
  int count;
};

extern EvalParamRegistry g_eval_params;

// Which defaults register_eval_params writes: the shipped ones (the fitted
// values of eval/fitted_weights.inc over the hand-set ones), or the hand-set
// values alone, which data/reference-weights.cfg restores.
enum class EvalDefaults { SHIPPED, HAND_SET };

// Writes the default of every tunable evaluation parameter into its slot
// (slots EVAL_PARAM_FIRST_SLOT on) and fills the name registry, whose
// entries point into these slots: pass the live option array (the one the
// tables are built from) and copy the defaults to the listed one afterwards.
// Calling it again starts the registry afresh and restores the defaults.
void register_eval_params(i16* slots, EvalDefaults defaults = EvalDefaults::SHIPPED);

// Index of the registered parameter with exactly this name, or -1; the
// search starts at `from` and wraps around.
int find_eval_param(const char* name, int from = 0);
// Marks the named parameter for tuning; unknown names are ignored.  Returns
// whether a parameter was selected.
bool select_eval_param(const char* name);

// ---------------------------------------------------------------------------
// Built weights.  A weight pair is packed into one 32-bit integer as
// en * 65536 + op so that pairs add and scale as plain integers.

using Score = i32;

constexpr Score make_score(int op, int en) { return Score(u32(en) * 65536u + u32(op)); }
constexpr int score_op(Score s) { return i16(u16(u32(s) & 0xFFFF)); }
constexpr int score_en(Score s) { return (s + 0x8000) >> 16; }

constexpr int KNIGHT_MOBILITY_SIZE = 11;
constexpr int BISHOP_MOBILITY_SIZE = 21;
constexpr int ROOK_MOBILITY_SIZE = 21;
constexpr int QUEEN_MOBILITY_SIZE = 29;
constexpr int PAWN_SHIELD_SIZE = 23;
constexpr int KING_DANGER_SIZE = 64;

// Everything evaluate reads, rebuilt from the option slots by
// build_eval_tables and read-only while a search runs.
struct EvalWeights {
  // Piece-square tables from White's view, indexed by piece type (PAWN..KING);
  // Black reads square ^ 56.
  Score pst[7][64];
  Score connected[64];
  Score defended[64];

  Score material[7];  // by piece type; the king has none
  Score bishop_pair;
  Score lone_queen;
  int contempt;  // centipawns, -150..150

  Score doubled, backward, isolated, weak;
  Score blocked, blocked_central;
  Score candidate;
  Score rook_open_file, rook_half_open_file, rook_rank7, queen_rank7;
  Score hung_pawn, hung_piece, attacked_piece, multi_hung, threat_ppush;
  Score bad_bishop;
  Score knight_outpost, knight_outpost_half, bishop_outpost, bishop_outpost_half;
  Score rook_trapped, pawn_storm, safe_check;

  int passer_held[8];  // by relative rank
  int passer_safe[8];

  Score knight_mobility[KNIGHT_MOBILITY_SIZE];
  Score bishop_mobility[BISHOP_MOBILITY_SIZE];
  Score rook_mobility[ROOK_MOBILITY_SIZE];
  Score queen_mobility[QUEEN_MOBILITY_SIZE];

  int pawn_shield[PAWN_SHIELD_SIZE];
  int king_danger[KING_DANGER_SIZE];
};

extern EvalWeights g_weights;

// Parameter slots, counted from EVAL_PARAM_FIRST_SLOT.
constexpr int EVAL_PARAM_SLOTS = EVAL_PARAM_END_SLOT - EVAL_PARAM_FIRST_SLOT;

// Fitted refinements laid over the shaped tables: an opening and endgame
// pair per square for each piece (White's view) and per mobility count.
// They are zero in the hand-set evaluation; the percentage options scale
// them like the shaped values they refine.  Registered as pst_<piece>_<square>
// and mob_<piece>_<count>, each with _op and _en.
constexpr int FINE_PST = 0;  // + (type - PAWN) * 64 + square
constexpr int FINE_MOBILITY = 6 * 64;
constexpr int FINE_MOBILITY_SIZE[4] = {KNIGHT_MOBILITY_SIZE, BISHOP_MOBILITY_SIZE, ROOK_MOBILITY_SIZE,
                                       QUEEN_MOBILITY_SIZE};
constexpr int FINE_MOBILITY_OFFSET[4] = {0, KNIGHT_MOBILITY_SIZE, KNIGHT_MOBILITY_SIZE + BISHOP_MOBILITY_SIZE,
                                         KNIGHT_MOBILITY_SIZE + BISHOP_MOBILITY_SIZE + ROOK_MOBILITY_SIZE};
constexpr int FINE_COUNT = FINE_MOBILITY + FINE_MOBILITY_OFFSET[3] + QUEEN_MOBILITY_SIZE;

constexpr int fine_pst(int type, int square) { return FINE_PST + (type - PAWN) * 64 + square; }
// piece: 0 knight, 1 bishop, 2 rook, 3 queen.
constexpr int fine_mobility(int piece, int count) { return FINE_MOBILITY + FINE_MOBILITY_OFFSET[piece] + count; }

struct EvalFine {
  i16 v[FINE_COUNT][2];
};
extern EvalFine g_fine;

// The linear decomposition's coefficients: the parameter slots, then each
// refinement's opening and endgame value.
constexpr int EVAL_COEF_COUNT = EVAL_PARAM_SLOTS + 2 * FINE_COUNT;
constexpr int fine_coef(int index) { return EVAL_PARAM_SLOTS + 2 * index; }

// How the built weights move with the parameters they are made from: the
// evaluation's linear decomposition (evaluate_coefficients) reads these.
// Built beside g_weights, so the search never touches them.  Pairs hold the
// opening slope (by the op parameter) and the endgame slope (by the en one).
struct EvalSlopes {
  f64 value[EVAL_COEF_COUNT];  // the parameters and refinements the tables were built from
  f64 pst[7][64][2];
  f64 pst_scale[7][2];       // a square refinement's slope: its table's percentages / 100
  f64 mobility_scale[4][2];  // the same for the mobility refinements
  f64 pst_offset[7][64];  // what a table entry holds besides weight x slope (op)
  f64 connected[64][2];
  f64 defended[64][2];
  f64 mobility[4][QUEEN_MOBILITY_SIZE][2];  // knight, bishop, rook, queen
  f64 pawn_structure[2];  // the Pawn_Structure percentages / 100
  f64 threats[2];         // the Threats percentages / 100
  f64 passed_pawns;       // the second Passed_Pawns percentage / 100
};

extern EvalSlopes g_slopes;

// Bumped by every rebuild.  Each search thread remembers the value it last
// saw and clears its pawn hash and evaluation cache before its next search
// when the value has moved (eval_begin_search).
extern std::atomic<u32> g_eval_generation;

// Builds g_weights from the option slots.  Only call while no search runs.
void build_eval_tables(const i16* slots);

// Nearest integer to num / den (den > 0), halves away from zero.
constexpr int round_div(i64 num, i64 den) {
  return int(num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den));
}

// Prints the built tables (console listing).
void print_eval_tables();

#include "eval/params.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "eval/kpk.h"
#include "platform/output.h"

EvalParamRegistry g_eval_params;
EvalWeights g_weights;
EvalSlopes g_slopes;
EvalFine g_fine;
std::atomic<u32> g_eval_generation{0};

namespace {

// Names the parameter held at *value in the registry, starting at value.
void register_value(const char* name, i16* value, int start) {
  *value = i16(start);
  EvalParamRegistry& r = g_eval_params;
  if (r.count >= MAX_EVAL_PARAMS) return;
  EvalParam& p = r.entries[r.count++];
  std::memset(&p, 0, sizeof p);
  size_t n = std::strlen(name);
  if (n > sizeof p.name - 1) n = sizeof p.name - 1;
  std::memcpy(p.name, name, n);  // names are at most 24 characters
  p.name[n] = 0;
  p.value = value;
  p.estimate = start;
}

void add_param(i16* slots, const char* name, int slot, int value) { register_value(name, &slots[slot], value); }

// A refinement pair, registered as stem_op / stem_en; it starts at zero.
void add_fine(const char* stem, int index) {
  char name[40];
  for (int h = 0; h < 2; ++h) {
    std::snprintf(name, sizeof name, "%s_%s", stem, h ? "en" : "op");
    register_value(name, &g_fine.v[index][h], 0);
  }
}

// A pair registered as name_op / name_en in two consecutive slots.
void add_pair(i16* slots, const char* stem, int slot, int op, int en) {
  char name[40];
  std::snprintf(name, sizeof name, "%s_op", stem);
  add_param(slots, name, slot, op);
  std::snprintf(name, sizeof name, "%s_en", stem);
  add_param(slots, name, slot + 1, en);
}

constexpr int PST_SHAPE_DEFAULTS[32] = {
    3,   4,   -4,  -6,  -2,  -6,  -10, -12, -12, -15, -17, -19, -20, -22, -24, -26,
    -20, -22, -24, -26, -20, -22, -24, -26, -20, -22, -24, -26, -20, -22, -24, -26,
};
constexpr int P_DEFAULTS[15] = {2, 4, 8, 16, 32, 64, 128, 256, 512, 12, 16, 12, 16, 20, 4};
// Passed pawns by relative rank 2..7: blocked or contested, and safe to advance.
constexpr int PASSER_HELD_DEFAULTS[6] = {6, 6, 14, 36, 80, 132};
constexpr int PASSER_SAFE_DEFAULTS[6] = {9, 9, 26, 62, 122, 200};

// The values "-texel" fitted, by name, over the hand-set ones below.
struct FittedWeight {
  const char* name;
  int value;
};
constexpr FittedWeight FITTED_WEIGHTS[] = {
#include "eval/fitted_weights.inc"
    {nullptr, 0}};

}  // namespace

void register_eval_params(i16* slots, EvalDefaults defaults) {
  g_eval_params.count = 0;

  add_pair(slots, "pawn_value", SLOT_PAWN_VALUE, 90, 110);
  add_pair(slots, "knight_value", SLOT_KNIGHT_VALUE, 380, 360);
  add_pair(slots, "bishop_value", SLOT_BISHOP_VALUE, 390, 375);
  add_pair(slots, "rook_value", SLOT_ROOK_VALUE, 535, 635);
  add_pair(slots, "queen_value", SLOT_QUEEN_VALUE, 1200, 1200);
  add_pair(slots, "bishop_pair", SLOT_BISHOP_PAIR, 30, 50);
  add_pair(slots, "knight_mobility", SLOT_KNIGHT_MOBILITY, 40, 50);
  add_pair(slots, "bishop_mobility", SLOT_BISHOP_MOBILITY, 56, 66);
  add_pair(slots, "rook_mobility", SLOT_ROOK_MOBILITY, 50, 64);
  add_pair(slots, "queen_mobility", SLOT_QUEEN_MOBILITY, 32, 84);
  add_pair(slots, "pawn_doubled", SLOT_PAWN_DOUBLED, -5, -5);
  add_pair(slots, "pawn_backward", SLOT_PAWN_BACKWARD, -4, -4);
  add_pair(slots, "pawn_isolated", SLOT_PAWN_ISOLATED, -6, -6);
  add_pair(slots, "pawn_weak", SLOT_PAWN_WEAK, -8, -6);
  add_pair(slots, "pawn_connected", SLOT_PAWN_CONNECTED, 48, 36);
  add_pair(slots, "pawn_defended", SLOT_PAWN_DEFENDED, 24, 24);
  add_pair(slots, "pawn_candidate", SLOT_PAWN_CANDIDATE, 0, 50);
  // The outposts' endgame halves sit next to them but are not tunable.
  add_param(slots, "knight_outpost", SLOT_KNIGHT_OUTPOST, 16);
  slots[SLOT_KNIGHT_OUTPOST + 1] = 0;
  add_param(slots, "bishop_outpost", SLOT_BISHOP_OUTPOST, 13);
  slots[SLOT_BISHOP_OUTPOST + 1] = 0;
  add_pair(slots, "rook_open_file", SLOT_ROOK_OPEN_FILE, 14, 6);
  add_pair(slots, "rook_half_open_file", SLOT_ROOK_HALF_OPEN_FILE, 6, 0);
  add_pair(slots, "rook_rank7", SLOT_ROOK_RANK7, 8, 8);
  add_pair(slots, "rook_trapped", SLOT_ROOK_TRAPPED, -25, 0);
  add_pair(slots, "queen_rank7", SLOT_QUEEN_RANK7, 0, 0);
  add_param(slots, "pawn_shield", SLOT_PAWN_SHIELD, 54);
  add_param(slots, "pawn_storm", SLOT_PAWN_STORM, -9);
  add_pair(slots, "safe_check", SLOT_SAFE_CHECK, -8, -10);
  add_pair(slots, "hung_pawn", SLOT_HUNG_PAWN, -15, -28);
  add_pair(slots, "hung_piece", SLOT_HUNG_PIECE, -25, -25);
  add_pair(slots, "attacked_piece", SLOT_ATTACKED_PIECE, -4, -15);
  add_pair(slots, "multi_hung", SLOT_MULTI_HUNG, -8, -16);
  add_pair(slots, "threat_ppush", SLOT_THREAT_PPUSH, -10, -8);
  add_pair(slots, "PST_P", SLOT_PST_P, 28, 8);
  add_pair(slots, "PST_N", SLOT_PST_N, 36, 42);
  add_pair(slots, "PST_B", SLOT_PST_B, 14, 16);
  add_pair(slots, "PST_R", SLOT_PST_R, 9, 0);
  add_pair(slots, "PST_Q", SLOT_PST_Q, 15, 25);
  add_pair(slots, "PST_K", SLOT_PST_K, 32, 52);

  // All percentage pairs start at 100/100; four of their halves are tunable
  // under their own names.
  for (int s = SLOT_SCALE_PST_PAWN; s <= SLOT_SCALE_TUNE + 1; ++s) slots[s] = 100;
  add_param(slots, "pawnstruct", SLOT_SCALE_PAWN_STRUCTURE, 100);
  add_param(slots, "king_safety", SLOT_SCALE_KING_SAFETY, 100);
  add_param(slots, "ppawns", SLOT_SCALE_PASSED_PAWNS + 1, 100);
  add_param(slots, "threats", SLOT_SCALE_THREATS + 1, 100);

  static const char FILES[] = "abcd";
  for (int i = 0; i < 32; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "pst_%c%d", FILES[i & 3], i / 4 + 1);
    add_param(slots, name, SLOT_PST_SHAPE + i, PST_SHAPE_DEFAULTS[i]);
  }
  for (int i = 0; i < 15; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "p%d", i + 1);
    add_param(slots, name, SLOT_P1 + i, P_DEFAULTS[i]);
  }
  for (int i = 0; i < 6; ++i) {
    char name[24];
    std::snprintf(name, sizeof name, "passer_held_%d", i + 2);
    add_param(slots, name, SLOT_PASSER_HELD + i, PASSER_HELD_DEFAULTS[i]);
  }
  for (int i = 0; i < 6; ++i) {
    char name[24];
    std::snprintf(name, sizeof name, "passer_safe_%d", i + 2);
    add_param(slots, name, SLOT_PASSER_SAFE + i, PASSER_SAFE_DEFAULTS[i]);
  }

  static const char* const PIECES[6] = {"pawn", "knight", "bishop", "rook", "queen", "king"};
  for (int t = PAWN; t <= KING; ++t)
    for (int sq = 0; sq < 64; ++sq) {
      char stem[24];
      std::snprintf(stem, sizeof stem, "pst_%s_%c%d", PIECES[t - PAWN], 'a' + file_of(sq), rank_of(sq) + 1);
      add_fine(stem, fine_pst(t, sq));
    }
  for (int piece = 0; piece < 4; ++piece)
    for (int n = 0; n < FINE_MOBILITY_SIZE[piece]; ++n) {
      char stem[24];
      std::snprintf(stem, sizeof stem, "mob_%s_%d", PIECES[piece + 1], n);
      add_fine(stem, fine_mobility(piece, n));
    }

  if (defaults == EvalDefaults::HAND_SET) return;
  // The fitted list follows the registry's order, so the search for the
  // next name starts where the last one was found.
  int from = 0;
  for (const FittedWeight* f = FITTED_WEIGHTS; f->name; ++f) {
    const int i = find_eval_param(f->name, from);
    from = i + 1;
    if (i < 0) continue;
    EvalParam& p = g_eval_params.entries[i];
    *p.value = i16(f->value);
    p.estimate = f->value;
  }
}

int find_eval_param(const char* name, int from) {
  const int count = g_eval_params.count;
  for (int n = 0; n < count; ++n) {
    const int i = (from + n) % count;
    if (std::strcmp(g_eval_params.entries[i].name, name) == 0) return i;
  }
  return -1;
}

bool select_eval_param(const char* name) {
  int i = find_eval_param(name);
  if (i < 0) return false;
  g_eval_params.entries[i].tune = 1;
  return true;
}

// ---------------------------------------------------------------------------
// Table building

namespace {

// Half-board shapes, files a-d, rank 1 first; files e-h mirror them.
using Shape = int[8][4];

constexpr Shape PAWN_OP_SHAPE = {{0, 0, 0, 0},   {-8, -4, -2, -4}, {-3, 2, 2, 4},     {-2, 2, 6, 10},
                                 {4, 8, 12, 16}, {8, 12, 16, 20},  {8, 12, 16, 20},   {0, 0, 0, 0}};
constexpr Shape PAWN_EN_SHAPE = {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {1, 1, 1, 1},
                                 {2, 2, 2, 2}, {4, 4, 4, 4}, {4, 4, 4, 4}, {0, 0, 0, 0}};
constexpr Shape KNIGHT_SHAPE = {{-32, -21, -14, -11}, {-21, -11, -4, 0}, {-14, -4, 3, 6},   {-11, 0, 6, 10},
                                {-11, 0, 6, 10},      {-14, -4, 3, 6},   {-21, -11, -4, 0}, {-52, -31, -24, -21}};
constexpr Shape BISHOP_SHAPE = {{-12, -8, -6, -5}, {-8, 1, -2, -1}, {-6, -2, 0, 1},   {-5, -1, 1, 2},
                                {-5, -1, 1, 2},    {-6, -2, 0, 1},  {-13, 0, -2, -1}, {-27, -13, -11, -10}};
constexpr Shape ROOK_SHAPE = {{-6, -3, 0, 2}, {-6, -3, 0, 2}, {-6, -3, 0, 2}, {-6, -3, 0, 2},
                              {-6, -3, 0, 2}, {-6, -3, 0, 2}, {-6, -3, 0, 2}, {-6, -3, 0, 2}};
constexpr Shape QUEEN_SHAPE = {{-12, -8, -6, -5}, {-8, -5, -2, -1}, {-6, -2, 0, 1},   {-5, -1, 1, 2},
                               {-5, -1, 1, 2},    {-6, -2, 0, 1},   {-8, -5, -2, -1}, {-12, -8, -6, -5}};
constexpr Shape KING_OP_SHAPE = {{4, 8, 0, -8},       {-2, -6, -10, -14},  {-8, -12, -16, -20}, {-12, -16, -20, -24},
                                 {-12, -16, -20, -24}, {-12, -16, -20, -24}, {-12, -16, -20, -24}, {-12, -16, -20, -24}};
constexpr Shape KING_EN_SHAPE = {{-44, -34, -24, -14}, {-34, -20, -10, 0}, {-24, -10, 0, 10},   {-14, 0, 10, 16},
                                 {-14, 0, 10, 16},     {-24, -10, 0, 10},  {-34, -20, -10, 0}, {-44, -34, -24, -14}};
constexpr Shape CONNECTED_SHAPE = {{0, 0, 0, 0},     {0, 0, 0, 0},     {1, 1, 1, 3},     {3, 5, 6, 6},
                                   {7, 10, 12, 12}, {18, 21, 24, 24}, {36, 42, 48, 48}, {0, 0, 0, 0}};
constexpr Shape DEFENDED_SHAPE = {{0, 0, 0, 0}, {0, 0, 0, 0},      {2, 2, 2, 2},      {2, 3, 4, 4},
                                  {4, 6, 8, 8}, {8, 12, 14, 14},   {16, 20, 24, 24},  {0, 0, 0, 0}};


// Keeps a built value inside the 16-bit half of a packed pair, whatever the
// parameters were set to.
int clamp16(i64 v) { return v < -32767 ? -32767 : v > 32767 ? 32767 : int(v); }

Score pair(const i16* slots, int slot) { return make_score(slots[slot], slots[slot + 1]); }

// A parameter pair scaled by a percentage pair, op by the first percentage
// and en by the second.
Score scaled_pair(const i16* slots, int slot, int scale_slot) {
  return make_score(clamp16(round_div(i64(slots[slot]) * slots[scale_slot], 100)),
                    clamp16(round_div(i64(slots[slot + 1]) * slots[scale_slot + 1], 100)));
}

struct PstRecipe {
  const Shape* op_shape;
  const Shape* en_shape;
  int weight_slot;  // op weight; en weight in the next slot
  int op_divisor, en_divisor;
  int scale_slot;
  bool queen_far_ranks;  // queen: -4 on the op value of ranks 5 to 8 before scaling
};

// fine: the table's square refinements, or none.
void build_pst(Score* table, f64 (*slope)[2], f64* offset, const i16* slots, const PstRecipe& r,
               const i16 (*fine)[2] = nullptr) {
  int w_op = slots[r.weight_slot], w_en = slots[r.weight_slot + 1];
  int s_op = slots[r.scale_slot], s_en = slots[r.scale_slot + 1];
  for (int sq = 0; sq < 64; ++sq) {
    int f = file_of(sq), rank = rank_of(sq);
    if (f > 3) f = 7 - f;
    int op = (*r.op_shape)[rank][f] * w_op / r.op_divisor;
    int en = (*r.en_shape)[rank][f] * w_en / r.en_divisor;
    const bool far = r.queen_far_ranks && rank >= 4;
    if (far) op -= 4;
    if (fine) {
      op += fine[sq][0];
      en += fine[sq][1];
    }
    table[sq] = make_score(clamp16(round_div(i64(op) * s_op, 100)), clamp16(round_div(i64(en) * s_en, 100)));
    slope[sq][0] = f64((*r.op_shape)[rank][f]) / r.op_divisor * s_op / 100.0;
    slope[sq][1] = f64((*r.en_shape)[rank][f]) / r.en_divisor * s_en / 100.0;
    if (offset) offset[sq] = far ? -4.0 * s_op / 100.0 : 0.0;
  }
}

// Mobility pair for count i of n + 1 entries: a concave curve through zero
// near a third of the way, with an extra penalty for a piece that cannot move.
void build_mobility(Score* table, f64 (*slope)[2], int size, int n, f64 c, f64 z, const i16* slots, int weight_slot,
                    int scale_slot, const i16 (*fine)[2]) {
  int w_op = slots[weight_slot], w_en = slots[weight_slot + 1];
  int s_op = slots[scale_slot], s_en = slots[scale_slot + 1];
  for (int i = 0; i < size; ++i) {
    f64 v = std::pow(f64(i) / n, 0.65) - c - (i == 0 ? z : 0.0);
    i64 op = i64(std::round(w_op * v)) + fine[i][0], en = i64(std::round(w_en * v)) + fine[i][1];
    table[i] = make_score(clamp16(round_div(op * s_op, 100)), clamp16(round_div(en * s_en, 100)));
    slope[i][0] = v * s_op / 100.0;
    slope[i][1] = v * s_en / 100.0;
  }
}

}  // namespace

void build_eval_tables(const i16* slots) {
  // Every thread clears its pawn hash and evaluation cache before its next search.
  g_eval_generation.fetch_add(1, std::memory_order_release);
  // The king-and-pawn table depends on no parameter; it is made once.
  init_kpk_table();

  EvalWeights& w = g_weights;
  EvalSlopes& d = g_slopes;
  for (int i = 0; i < EVAL_PARAM_SLOTS; ++i) d.value[i] = slots[EVAL_PARAM_FIRST_SLOT + i];
  for (int i = 0; i < FINE_COUNT; ++i)
    for (int h = 0; h < 2; ++h) d.value[fine_coef(i) + h] = g_fine.v[i][h];

  const PstRecipe recipes[6] = {
      {&PAWN_OP_SHAPE, &PAWN_EN_SHAPE, SLOT_PST_P, 28, 4, SLOT_SCALE_PAWN_STRUCTURE, false},
      {&KNIGHT_SHAPE, &KNIGHT_SHAPE, SLOT_PST_N, 42, 42, SLOT_SCALE_PST_KNIGHT, false},
      {&BISHOP_SHAPE, &BISHOP_SHAPE, SLOT_PST_B, 14, 14, SLOT_SCALE_PST_BISHOP, false},
      {&ROOK_SHAPE, &ROOK_SHAPE, SLOT_PST_R, 8, 8, SLOT_SCALE_PST_ROOK, false},
      {&QUEEN_SHAPE, &QUEEN_SHAPE, SLOT_PST_Q, 14, 14, SLOT_SCALE_PST_QUEEN, true},
      {&KING_OP_SHAPE, &KING_EN_SHAPE, SLOT_PST_K, 32, 60, SLOT_SCALE_PST_KING, false},
  };
  for (int sq = 0; sq < 64; ++sq) w.pst[EMPTY][sq] = 0;
  for (int t = PAWN; t <= KING; ++t) {
    const PstRecipe& r = recipes[t - PAWN];
    build_pst(w.pst[t], d.pst[t], d.pst_offset[t], slots, r, &g_fine.v[fine_pst(t, 0)]);
    for (int h = 0; h < 2; ++h) d.pst_scale[t][h] = slots[r.scale_slot + h] / 100.0;
  }
  build_pst(w.connected, d.connected, nullptr, slots,
            {&CONNECTED_SHAPE, &CONNECTED_SHAPE, SLOT_PAWN_CONNECTED, 48, 48, SLOT_SCALE_PAWN_STRUCTURE, false});
  build_pst(w.defended, d.defended, nullptr, slots,
            {&DEFENDED_SHAPE, &DEFENDED_SHAPE, SLOT_PAWN_DEFENDED, 24, 24, SLOT_SCALE_PAWN_STRUCTURE, false});
  for (int h = 0; h < 2; ++h) {
    d.pawn_structure[h] = slots[SLOT_SCALE_PAWN_STRUCTURE + h] / 100.0;
    d.threats[h] = slots[SLOT_SCALE_THREATS + h] / 100.0;
  }

  // Material values are the parameters themselves.
  w.material[EMPTY] = 0;
  w.material[PAWN] = pair(slots, SLOT_PAWN_VALUE);
  w.material[KNIGHT] = pair(slots, SLOT_KNIGHT_VALUE);
  w.material[BISHOP] = pair(slots, SLOT_BISHOP_VALUE);
  w.material[ROOK] = pair(slots, SLOT_ROOK_VALUE);
  w.material[QUEEN] = pair(slots, SLOT_QUEEN_VALUE);
  w.material[KING] = 0;
  w.bishop_pair = pair(slots, SLOT_BISHOP_PAIR);
  w.lone_queen = make_score(-50, -50);

  int contempt = slots[SLOT_CONTEMPT];
  w.contempt = contempt < -150 ? -150 : contempt > 150 ? 150 : contempt;

  w.doubled = scaled_pair(slots, SLOT_PAWN_DOUBLED, SLOT_SCALE_PAWN_STRUCTURE);
  w.backward = scaled_pair(slots, SLOT_PAWN_BACKWARD, SLOT_SCALE_PAWN_STRUCTURE);
  w.isolated = scaled_pair(slots, SLOT_PAWN_ISOLATED, SLOT_SCALE_PAWN_STRUCTURE);
  w.weak = scaled_pair(slots, SLOT_PAWN_WEAK, SLOT_SCALE_PAWN_STRUCTURE);
  w.blocked = make_score(-3, -6);
  w.blocked_central = make_score(-6, -6);

  w.candidate = pair(slots, SLOT_PAWN_CANDIDATE);
  w.rook_open_file = pair(slots, SLOT_ROOK_OPEN_FILE);
  w.rook_half_open_file = pair(slots, SLOT_ROOK_HALF_OPEN_FILE);
  w.rook_rank7 = pair(slots, SLOT_ROOK_RANK7);
  w.queen_rank7 = pair(slots, SLOT_QUEEN_RANK7);

  w.hung_pawn = scaled_pair(slots, SLOT_HUNG_PAWN, SLOT_SCALE_THREATS);
  w.hung_piece = scaled_pair(slots, SLOT_HUNG_PIECE, SLOT_SCALE_THREATS);
  w.multi_hung = scaled_pair(slots, SLOT_MULTI_HUNG, SLOT_SCALE_THREATS);
  w.threat_ppush = scaled_pair(slots, SLOT_THREAT_PPUSH, SLOT_SCALE_THREATS);
  w.attacked_piece = scaled_pair(slots, SLOT_ATTACKED_PIECE, SLOT_SCALE_THREATS);
  w.bad_bishop = make_score(-5, -10);

  w.knight_outpost = pair(slots, SLOT_KNIGHT_OUTPOST);
  w.knight_outpost_half = make_score(slots[SLOT_KNIGHT_OUTPOST] / 2, 0);
  w.bishop_outpost = pair(slots, SLOT_BISHOP_OUTPOST);
  w.bishop_outpost_half = make_score(slots[SLOT_BISHOP_OUTPOST] / 2, 0);
  w.rook_trapped = pair(slots, SLOT_ROOK_TRAPPED);
  w.pawn_storm = make_score(slots[SLOT_PAWN_STORM], 0);  // a middlegame term only
  w.safe_check = pair(slots, SLOT_SAFE_CHECK);

  int passed_pct = slots[SLOT_SCALE_PASSED_PAWNS + 1];
  d.passed_pawns = passed_pct / 100.0;
  for (int r = 0; r < 8; ++r) {
    const bool real = r >= 1 && r <= 6;  // no pawn stands on the first or last rank
    w.passer_held[r] = real ? slots[SLOT_PASSER_HELD + r - 1] * passed_pct / 100 : 0;
    w.passer_safe[r] = real ? slots[SLOT_PASSER_SAFE + r - 1] * passed_pct / 100 : 0;
  }

  build_mobility(w.knight_mobility, d.mobility[0], KNIGHT_MOBILITY_SIZE, 8, 0.40, 0.06, slots, SLOT_KNIGHT_MOBILITY,
                 SLOT_SCALE_MOBILITY_KNIGHT, &g_fine.v[fine_mobility(0, 0)]);
  build_mobility(w.bishop_mobility, d.mobility[1], BISHOP_MOBILITY_SIZE, 17, 0.35, 0.06, slots, SLOT_BISHOP_MOBILITY,
                 SLOT_SCALE_MOBILITY_BISHOP, &g_fine.v[fine_mobility(1, 0)]);
  build_mobility(w.rook_mobility, d.mobility[2], ROOK_MOBILITY_SIZE, 17, 0.35, 0.06, slots, SLOT_ROOK_MOBILITY,
                 SLOT_SCALE_MOBILITY_ROOK, &g_fine.v[fine_mobility(2, 0)]);
  build_mobility(w.queen_mobility, d.mobility[3], QUEEN_MOBILITY_SIZE, 26, 0.45, 0.12, slots, SLOT_QUEEN_MOBILITY,
                 SLOT_SCALE_MOBILITY_QUEEN, &g_fine.v[fine_mobility(3, 0)]);

  for (int piece = 0; piece < 4; ++piece)
    for (int h = 0; h < 2; ++h) d.mobility_scale[piece][h] = slots[SLOT_SCALE_MOBILITY_KNIGHT + 2 * piece + h] / 100.0;

  int shield = slots[SLOT_PAWN_SHIELD];
  for (int i = 0; i < PAWN_SHIELD_SIZE; ++i) w.pawn_shield[i] = i < 9 ? shield * i / 9 : shield;

  // Square law for small attacks, then growth capped so the penalty flattens out.
  int k = slots[SLOT_SCALE_KING_SAFETY];
  w.king_danger[0] = 0;
  for (int i = 1; i < KING_DANGER_SIZE; ++i) {
    int square_law = round_div(i64(i) * i * k, 400);
    int capped = w.king_danger[i - 1] + 470 / i;
    w.king_danger[i] = square_law < capped ? square_law : capped;
  }
}

// ---------------------------------------------------------------------------
// Listing

namespace {

void print_pst_half(const char* title, const Score* table, bool en) {
  output_line(title);
  for (int rank = 7; rank >= 0; --rank) {
    char line[128];
    int n = 0;
    for (int f = 0; f < 8; ++f) {
      Score s = table[make_square(f, rank)];
      n += std::snprintf(line + n, sizeof line - n, "  %3d ", en ? score_en(s) : score_op(s));
    }
    output_line(line);
  }
}

}  // namespace

void print_eval_tables() {
  const EvalWeights& w = g_weights;
  char line[1024];
  int n = std::snprintf(line, sizeof line, "piece values=");
  for (int t = PAWN; t <= QUEEN; ++t)
    n += std::snprintf(line + n, sizeof line - n, "  %d/%d", score_op(w.material[t]), score_en(w.material[t]));
  output_line(line);
  output_format("bishop_pair= %d , %d", score_op(w.bishop_pair), score_en(w.bishop_pair));
  output_line("");

  // "KingDanger[]=" then rows of ten, each opened by its first index.
  n = std::snprintf(line, sizeof line, "KingDanger[]=");
  for (int i = 0; i < KING_DANGER_SIZE; ++i) {
    if (i % 10 == 0) {
      output_line(line);
      n = std::snprintf(line, sizeof line, "%2d:  ", i);
    }
    n += std::snprintf(line + n, sizeof line - n, "  %3d ", w.king_danger[i]);
  }
  output_line(line);

  n = std::snprintf(line, sizeof line, "PawnShield[]=");
  for (int i = 0; i < PAWN_SHIELD_SIZE; ++i) n += std::snprintf(line + n, sizeof line - n, " %d", w.pawn_shield[i]);
  output_line(line);

  for (int i = 0; i <= 18; ++i) {
    Score nm = i < KNIGHT_MOBILITY_SIZE ? w.knight_mobility[i] : 0;
    output_format("%3d  nmob= %3d/%3d  bmob=%3d/%3d  rmob=%3d/%3d  qmob= %3d/%3d", i, score_op(nm), score_en(nm),
                  score_op(w.bishop_mobility[i]), score_en(w.bishop_mobility[i]), score_op(w.rook_mobility[i]),
                  score_en(w.rook_mobility[i]), score_op(w.queen_mobility[i]), score_en(w.queen_mobility[i]));
  }
  output_format("queen_mob[28] = %d/%d", score_op(w.queen_mobility[28]), score_en(w.queen_mobility[28]));

  for (int r = 1; r < 8; ++r) output_format("rank=%d,  ppawn= %3d , %3d", r + 1, w.passer_held[r], w.passer_safe[r]);

  output_format("pawn_storm= %d/%d", score_op(w.pawn_storm), score_en(w.pawn_storm));
  output_format("hung_pawn= %d/%d", score_op(w.hung_pawn), score_en(w.hung_pawn));
  output_format("hung_piece= %d/%d", score_op(w.hung_piece), score_en(w.hung_piece));
  output_format("attacked_piece= %d/%d", score_op(w.attacked_piece), score_en(w.attacked_piece));
  output_format("knight_outpost= %d/%d", score_op(w.knight_outpost), score_en(w.knight_outpost));
  output_format("bishop_outpost= %d/%d", score_op(w.bishop_outpost), score_en(w.bishop_outpost));

  static const char* const TITLES[8] = {"Pawn", "Knight", "Bishop", "Rook", "Queen", "King", "Connected Pawn",
                                        "Defended Pawn"};
  const Score* tables[8] = {w.pst[PAWN], w.pst[KNIGHT], w.pst[BISHOP], w.pst[ROOK],
                            w.pst[QUEEN], w.pst[KING], w.connected, w.defended};
  for (int t = 0; t < 8; ++t) {
    print_pst_half(TITLES[t], tables[t], false);
    output_line("");
    print_pst_half(TITLES[t], tables[t], true);
  }
}

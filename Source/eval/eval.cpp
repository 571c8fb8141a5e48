// The evaluation proper.  Order of work in evaluate: dead draws and endgames
// against a bare king, the cache, material, pawn structure (per-pawn sums
// from the pawn hash, blocked pawns every time), the piece loops (which build
// the attack maps), king safety, passed and candidate pawns, threats, tempo;
// then the boost of the positional sum, contempt and draw scaling.
#include "eval/eval.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/notation.h"
#include "board/see.h"
#include "eval/kpk.h"
#include "platform/output.h"

EvalTrace g_eval_trace;

namespace {

constexpr Bitboard LIGHT_SQUARES = 0x55AA55AA55AA55AAULL;

// Scores beyond this would read as mate or tablebase scores (and overflow
// the 16-bit cache slot); only absurd material set-ups get near it.
constexpr int EVAL_LIMIT = 9500;

int piece_count(u32 signature, int type) { return (signature >> (4 * (type - 1))) & 15; }

int distance(int a, int b) {
  int df = std::abs(file_of(a) - file_of(b)), dr = std::abs(rank_of(a) - rank_of(b));
  return df > dr ? df : dr;
}

// Neither side can mate: no pawns and, per side, at most a lone bishop or up to two knights.
bool draw_by_material(const Position& pos) {
  for (int c = WHITE; c <= BLACK; ++c) {
    u32 sig = pos.material_signature[c];
    if ((sig & 15) || sig >= 0x110 || piece_count(sig, KNIGHT) > 2) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Endgames against a bare king, scored for the strong side s.

int kpk_value(const Position& pos, int s) {
  int p = lsb(pos.pieces[s][PAWN]);
  int K = pos.king_square[s], k = pos.king_square[s ^ 1];
  if (s == BLACK) {  // look from the pawn's side
    p ^= 56;
    K ^= 56;
    k ^= 56;
  }
  if (file_of(p) > 3) {  // the table holds files a-d only
    p ^= 7;
    K ^= 7;
    k ^= 7;
  }
  // Pawn advanced, lone king far from the pawn's path, own king close to it.
  auto reach = [p](int king) {
    int df = std::abs(file_of(king) - file_of(p)), dr = 7 - rank_of(king);
    return df > dr ? df : dr;
  };
  int v = 4 * rank_of(p) + reach(k) - reach(K);
  if (kpk_won(pos.side == s, p, K, k)) v += 800;
  return v;
}

// Drive the lone king to a corner the bishop controls, keeping the own king central.
int kbnk_value(const Position& pos, int s) {
  int K = pos.king_square[s], k = pos.king_square[s ^ 1];
  int fK = file_of(K), rK = rank_of(K);
  int edge = std::min(std::min(fK, 7 - fK), std::min(rK, 7 - rK));
  int centre = edge < 2 ? edge : 2;
  int kc = k;
  if (pos.pieces[s][BISHOP] & LIGHT_SQUARES) kc ^= 7;  // a light bishop mates in a8/h1
  int corner = std::abs(7 - file_of(kc) - rank_of(kc));
  return 740 + 10 * centre + 8 * corner - 6 * distance(K, k);
}

// Rook or queen against a bare king: push the king to the edge and come closer.
int heavy_piece_value(const Position& pos, int s) {
  int K = pos.king_square[s], k = pos.king_square[s ^ 1];
  auto from_centre = [](int x) { return x < 4 ? 3 - x : x - 4; };
  int edge = 10 * (from_centre(file_of(k)) + from_centre(rank_of(k)));
  int strong = 100 * pos.piece_material[s] + 200 + 2 * (edge - 8 * distance(K, k));
  return strong - 100 * pos.piece_material[s ^ 1];
}

// Endgames where one side has only its king; the score is White's view.
bool special_endgame(const Position& pos, int* white_score) {
  for (int weak = WHITE; weak <= BLACK; ++weak) {
    if (pos.material_signature[weak] != 0) continue;
    int s = weak ^ 1;
    u32 sig = pos.material_signature[s];
    int v;
    if (sig == 1)
      v = kpk_value(pos, s);
    else if (sig == 0x110)
      v = kbnk_value(pos, s);
    else if (sig & 0xFF000)
      v = heavy_piece_value(pos, s);
    else
      continue;
    *white_score = s == WHITE ? v : -v;
    return true;
  }
  return false;
}

// Squares attacked by a colour's knights and bishops (bishops see through
// their own queens, as in the piece terms).
Bitboard minor_attacks(const Position& pos, int c) {
  Bitboard a = 0;
  for (Bitboard b = pos.pieces[c][KNIGHT]; b;) a |= knight_attacks(pop_lsb(b));
  Bitboard occ = pos.occupied() & ~pos.pieces[c][QUEEN];
  for (Bitboard b = pos.pieces[c][BISHOP]; b;) a |= bishop_attacks(pop_lsb(b), occ);
  return a;
}

int passed_count(const Position& pos, int c) {
  int n = 0;
  Bitboard enemy = pos.pieces[c ^ 1][PAWN];
  for (Bitboard b = pos.pieces[c][PAWN]; b;)
    if (!(g_attacks.passed_mask[c][pop_lsb(b)] & enemy)) ++n;
  return n;
}

}  // namespace

Score material_score(u32 sig) {
  const EvalWeights& w = g_weights;
  // Summed as unsigned pairs, which wrap instead of overflowing.  Each half
  // stays inside 16 bits for any material a game can reach (at most 15
  // pieces besides the king, worth at most 2000 each), so the pair that
  // comes out is exact.
  u32 m = 0;
  for (int t = PAWN; t <= QUEEN; ++t) m += u32(piece_count(sig, t)) * u32(w.material[t]);
  if (piece_count(sig, BISHOP) >= 2) m += u32(w.bishop_pair);
  if ((sig & 0xFFFF0) == 0x10000) m += u32(w.lone_queen);  // a queen without minor or rook support
  return Score(m);
}

int draw_scale(const Position& pos, int score, int phase_white, int phase_black) {
  int s = score >= 0 ? WHITE : BLACK, w = s ^ 1;
  int cs = s == WHITE ? phase_white : phase_black, cw = s == WHITE ? phase_black : phase_white;
  u32 sig_s = pos.material_signature[s], sig_w = pos.material_signature[w];
  Bitboard pawns_s = pos.pieces[s][PAWN];

  // A clear piece advantage wins, except two knights alone, which cannot force mate.
  if (cs - cw > 1) return sig_s == 0x20 ? 16 : 256;

  // Rook's pawns with at most a bishop of the wrong colour: the defending king
  // in the corner holds.
  if (cs < 2 && !(sig_s & 0xFF0F0) && pawns_s && (!(pawns_s & ~FILE_A) || !(pawns_s & ~FILE_H))) {
    int promo = make_square((pawns_s & FILE_A) ? 0 : 7, s == WHITE ? 7 : 0);
    Bitboard promo_colour = (bit(promo) & LIGHT_SQUARES) ? LIGHT_SQUARES : ~LIGHT_SQUARES;
    if (distance(pos.king_square[w], promo) <= 1 && !(pos.pieces[s][BISHOP] & promo_colour)) return 16;
  }

  // Without pawns a small piece advantage is hard to convert.
  if (!pawns_s) return std::min(128, 16 * cs);

  if (cw >= 1 && cs <= 3) {
    int pawns = popcount(pawns_s);
    int f = 186 + std::min(70, 20 * pawns);
    if (pawns == 1 && cs <= cw) {
      // A single pawn against equal material: worse when the defence controls its path.
      f -= cs < 2 ? 80 : 40;
      int p = lsb(pawns_s);
      Bitboard front = g_attacks.ray[s == WHITE ? DIR_N : DIR_S][p];
      if (front & minor_attacks(pos, w)) f -= 50;
      if (front & king_attacks(pos.king_square[w]) & ~king_attacks(pos.king_square[s])) f -= 50;
    }
    if (cs == cw && piece_count(sig_s, BISHOP) == 1 && piece_count(sig_w, BISHOP) == 1) {
      // Bishops of opposite colours.
      int diff = pawns - popcount(pos.pieces[w][PAWN]);
      bool bishop_s_light = pos.pieces[s][BISHOP] & LIGHT_SQUARES;
      bool bishop_w_light = pos.pieces[w][BISHOP] & LIGHT_SQUARES;
      if (diff < 3 && bishop_s_light != bishop_w_light) {
        int r = piece_count(sig_w, ROOK) ? 64 : piece_count(sig_w, KNIGHT) ? 96 : 128;
        if (diff == 2) r /= 2;
        if (passed_count(pos, s) > 1) r /= 2;
        f = std::min(f, 256 - r);
      }
    }
    return std::max(f, 64);
  }
  return 256;
}

void eval_clear_thread(EvalThread& et) {
  std::memset(et.cache, 0, sizeof et.cache);
  std::memset(et.pawn_hash, 0, sizeof et.pawn_hash);
  et.cache_probes = et.cache_hits = et.pawn_probes = et.pawn_hits = 0;
}

void eval_begin_search(EvalThread& et, int root_side, f64 target_time) {
  u32 generation = g_eval_generation.load(std::memory_order_acquire);
  if (et.generation != generation) {
    eval_clear_thread(et);
    et.generation = generation;
  }
  et.iteration_depth = 0;
  et.root_side = root_side;
  et.contempt = target_time < 6000.0 ? g_weights.contempt : 0;
}


// ---------------------------------------------------------------------------
// The positional terms.  Each adds packed pairs to P of its colour; with a
// trace record they also report their tapered values per row and square.

namespace {

constexpr Bitboard NOT_FILE_A = ~FILE_A;
constexpr Bitboard NOT_FILE_H = ~FILE_H;
constexpr Bitboard CENTRE_16 = 0x00003C3C3C3C0000ULL;  // c3-f6
constexpr Bitboard INNER_SQUARES = 0x007E7E7E7E7E7E00ULL;  // b2-g7
constexpr Bitboard HALF[2] = {0x00000000FFFFFFFFULL, 0xFFFFFFFF00000000ULL};  // each colour's own half
constexpr Bitboard OUTPOST_RANKS[2] = {0x0000FFFF00000000ULL, 0x00000000FFFF0000ULL};
constexpr Bitboard SECOND_RANK_CENTRE[2] = {0x3CULL << 8, 0x3CULL << 48};  // c2-f2, c7-f7
constexpr Bitboard THIRD_RANK[2] = {0xFFULL << 16, 0xFFULL << 40};
constexpr Bitboard LAST_TWO_RANKS[2] = {0xFFFFULL << 48, 0xFFFFULL};  // the enemy's first two ranks
constexpr int CLAMP_INWARD[8] = {1, 1, 2, 3, 4, 5, 6, 6};
constexpr int SHIELD_FILE_WEIGHT[8] = {4, 4, 3, 2, 2, 3, 4, 4};
constexpr int DEFENDER_SCORE[5] = {-24, -18, -12, -6, 0};

// Squares beside a rook in the corner region that box it in, by the rook's file.
constexpr Bitboard TRAP_FILES[8] = {(FILE_A << 1) | (FILE_A << 2), FILE_A << 2, 0, 0, 0, 0, FILE_A << 5,
                                    (FILE_A << 5) | (FILE_A << 6)};

constexpr Bitboard file_bb(int f) { return FILE_A << f; }
constexpr Bitboard rank_bb(int r) { return RANK_1 << (8 * r); }
constexpr int relative_rank(int c, int sq) { return c == WHITE ? rank_of(sq) : 7 - rank_of(sq); }

Bitboard push(int c, Bitboard b) { return c == WHITE ? b << 8 : b >> 8; }
Bitboard pawn_attack_set(int c, Bitboard pawns) {
  Bitboard f = push(c, pawns);
  return ((f & NOT_FILE_A) >> 1) | ((f & NOT_FILE_H) << 1);
}
Bitboard front_fill(int c, Bitboard b) {
  if (c == WHITE) {
    b <<= 8;
    b |= b << 8;
    b |= b << 16;
    b |= b << 32;
  } else {
    b >>= 8;
    b |= b >> 8;
    b |= b >> 16;
    b |= b >> 32;
  }
  return b;
}
Bitboard file_fill(Bitboard b) {
  b |= b << 8;
  b |= b << 16;
  b |= b << 32;
  b |= b >> 8;
  b |= b >> 16;
  b |= b >> 32;
  return b;
}

// Where the terms report to: the "eval" listing (t, at run time) and, in
// the Linear instantiation only, the coefficient record.  A term reports
// the parameters it used (pair, single), the parts no parameter carries
// (fixed) and then what it added in all (close); the difference is rounding.
template <bool Linear>
struct TraceSink {
  EvalTrace* t;
  int stage;
  EvalCoefficients* lc = nullptr;
  mutable f64 term[2] = {0, 0};  // the current term's linear part

  void add(int term_row, int c, int sq, Score s) const {
    if (!t) return;
    int v = taper(s, stage);
    t->terms[term_row][c] += v;
    if (sq != NO_SQUARE) t->board[sq] += c == WHITE ? v : -v;
  }
  // The parameter at slot (an opening or endgame half) with coefficient k.
  void single(int c, int slot, int half, f64 k) const {
    if constexpr (Linear) {
      const int i = slot - EVAL_PARAM_FIRST_SLOT;
      const f64 sk = c == WHITE ? k : -k;
      lc->coef[i][half] += sk;
      term[half] += sk * g_slopes.value[i];
    }
  }
  // The refinement pair `index` (of g_fine) with coefficients op and en.
  void fine(int c, int index, f64 op, f64 en) const {
    if constexpr (Linear) {
      const int i = fine_coef(index);
      const f64 sign = c == WHITE ? 1 : -1;
      lc->coef[i][0] += sign * op;
      lc->coef[i + 1][1] += sign * en;
      term[0] += sign * op * g_slopes.value[i];
      term[1] += sign * en * g_slopes.value[i + 1];
    }
  }
  void fine(int c, int index, const f64* k) const { fine(c, index, k[0], k[1]); }
  // The pair at slot (op) and slot + 1 (en).
  void pair(int c, int slot, f64 op, f64 en) const {
    single(c, slot, 0, op);
    single(c, slot + 1, 1, en);
  }
  void pair(int c, int slot, const f64* k) const { pair(c, slot, k[0], k[1]); }
  void fixed(int c, f64 op, f64 en) const {
    if constexpr (Linear) {
      const f64 sign = c == WHITE ? 1 : -1;
      lc->fixed[0] += sign * op;
      lc->fixed[1] += sign * en;
      term[0] += sign * op;
      term[1] += sign * en;
    }
  }
  void fixed(int c, Score v) const { fixed(c, score_op(v), score_en(v)); }
  // The term added v to c's positional sum.
  void close(int c, Score v) const {
    if constexpr (Linear) {
      const f64 sign = c == WHITE ? 1 : -1;
      const f64 r[2] = {sign * score_op(v) - term[0], sign * score_en(v) - term[1]};
      for (int h = 0; h < 2; ++h) {
        lc->rounding[h] += r[h];
        lc->worst_rounding = std::max(lc->worst_rounding, std::abs(r[h]));
        term[h] = 0;
      }
    }
  }
};

// Pawn sets, both colours; computed on every call.
void pawn_sets(const Position& pos, EvalScratch& sc) {
  for (int c = WHITE; c <= BLACK; ++c) {
    Bitboard p = pos.pieces[c][PAWN];
    Bitboard f = push(c, p);
    Bitboard left = (f & NOT_FILE_A) >> 1, right = (f & NOT_FILE_H) << 1;
    sc.pawn_attacks[c] = left | right;
    Bitboard king = king_attacks(pos.king_square[c]);
    sc.king_attacks[c] = king;
    sc.all_attacks[c] = left | right | king;
    sc.attacked_twice[c] = (left & right) | ((left | right) & king);
    sc.front_fill[c] = front_fill(c, p);
    Bitboard ff = sc.front_fill[c];
    sc.attack_span[c] = ((ff & NOT_FILE_A) >> 1) | ((ff & NOT_FILE_H) << 1);
  }
  sc.passed = sc.candidates = 0;
  for (int c = WHITE; c <= BLACK; ++c) {
    Bitboard p = pos.pieces[c][PAWN];
    Bitboard free_file = p & ~sc.front_fill[c ^ 1];
    sc.passed |= free_file & ~sc.attack_span[c ^ 1];
    sc.candidates |= free_file & sc.attack_span[c ^ 1];
  }
}

// The per-pawn structure sums of one colour (what the pawn hash stores).
template <bool L>
Score pawn_structure(const Position& pos, const EvalScratch& sc, int c, const TraceSink<L>& tr) {
  const EvalSlopes& d = g_slopes;
  const EvalWeights& w = g_weights;
  const int flip = c == WHITE ? 0 : 56;
  const Bitboard own = pos.pieces[c][PAWN], enemy = pos.pieces[c ^ 1][PAWN];
  const Bitboard own_files = file_fill(own);
  Score sum = 0;
  for (Bitboard b = own; b;) {
    int s = pop_lsb(b);
    int f = file_of(s);
    Score v = w.pst[PAWN][s ^ flip];
    tr.pair(c, SLOT_PST_P, d.pst[PAWN][s ^ flip]);
    tr.fine(c, fine_pst(PAWN, s ^ flip), d.pst_scale[PAWN]);
    if ((own & file_bb(f)) != bit(s)) {
      v += w.doubled;
      tr.pair(c, SLOT_PAWN_DOUBLED, d.pawn_structure);
    }
    int front = s + PUSH_DIR[c];
    if (!(sc.attack_span[c] & bit(front))) {
      v += w.backward;
      tr.pair(c, SLOT_PAWN_BACKWARD, d.pawn_structure);
      if (!(own_files & g_attacks.adjacent_files[f])) {
        v += w.isolated;
        tr.pair(c, SLOT_PAWN_ISOLATED, d.pawn_structure);
      }
      if (!(enemy & g_attacks.ray[c == WHITE ? DIR_N : DIR_S][s])) {
        v += w.weak;
        tr.pair(c, SLOT_PAWN_WEAK, d.pawn_structure);
      }
    }
    if (g_attacks.side_neighbours[s] & own) {
      v += w.connected[s ^ flip];
      tr.pair(c, SLOT_PAWN_CONNECTED, d.connected[s ^ flip]);
    }
    if (sc.pawn_attacks[c] & bit(s)) {
      v += w.defended[s ^ flip];
      tr.pair(c, SLOT_PAWN_DEFENDED, d.defended[s ^ flip]);
    }
    tr.add(TRACE_PAWNS, c, s, v);
    tr.close(c, v);
    sum += v;
  }
  return sum;
}

// Pawns that cannot move because something stands in front of them.
template <bool L>
Score blocked_pawns(const Position& pos, int c, const TraceSink<L>& tr) {
  const EvalWeights& w = g_weights;
  Bitboard blocked = pos.pieces[c][PAWN] & push(c ^ 1, pos.occupied());
  Score s = popcount(blocked) * w.blocked + popcount(blocked & SECOND_RANK_CENTRE[c]) * w.blocked_central;
  tr.fixed(c, s);
  tr.close(c, s);
  if (tr.t)
    for (Bitboard b = blocked; b;) {
      int sq = pop_lsb(b);
      tr.add(TRACE_PAWNS, c, sq, w.blocked + ((SECOND_RANK_CENTRE[c] & bit(sq)) ? w.blocked_central : 0));
    }
  return s;
}

// Pieces that are the only occupant between their own king (or their own
// queen) and an enemy slider on the same line.
Bitboard pinned_pieces(const Position& pos) {
  const Bitboard occ = pos.occupied();
  Bitboard pinned = 0;
  for (int c = WHITE; c <= BLACK; ++c) {
    const int e = c ^ 1;
    const Bitboard* ep = pos.pieces[e];
    const Bitboard own = pos.pieces[c][0];
    int k = pos.king_square[c];
    Bitboard snipers = (rook_rays(k) & (ep[ROOK] | ep[QUEEN])) | (bishop_rays(k) & (ep[BISHOP] | ep[QUEEN]));
    while (snipers) {
      Bitboard b = between(k, pop_lsb(snipers)) & occ;
      if (b && !(b & (b - 1)) && (b & own)) pinned |= b;
    }
    Bitboard queens = pos.pieces[c][QUEEN];
    if (queens) {
      // With several queens, the one on the lowest square seen from the
      // colour's own side, so that both colours pick the same one.
      int q = lsb(queens);
      if (c == BLACK) {
        q = 64;
        for (Bitboard b = queens; b;) q = std::min(q, pop_lsb(b) ^ 56);
        q ^= 56;
      }
      snipers = (rook_rays(q) & ep[ROOK]) | (bishop_rays(q) & ep[BISHOP]);
      while (snipers) {
        Bitboard b = between(q, pop_lsb(snipers)) & occ;
        if (b && !(b & (b - 1)) && (b & own)) pinned |= b;
      }
    }
  }
  return pinned;
}

void note_attacks(EvalScratch& sc, int c, Bitboard a) {
  sc.attacked_twice[c] |= sc.all_attacks[c] & a;
  sc.all_attacks[c] |= a;
}

// What the piece loops of both colours share, computed once per call.
struct PieceContext {
  Bitboard occ;
  Bitboard mobility_area[2], outposts[2], rammed[2];
  Bitboard king_files;  // files around both kings
};

void piece_context(const Position& pos, EvalScratch& sc, PieceContext& ctx) {
  ctx.occ = pos.occupied();
  ctx.king_files = 0;
  for (int c = WHITE; c <= BLACK; ++c) {
    const int e = c ^ 1;
    ctx.mobility_area[c] = ~(bit(pos.king_square[c]) | pos.pieces[c][PAWN] | sc.pawn_attacks[e]);
    ctx.outposts[c] = OUTPOST_RANKS[c] & NOT_FILE_A & NOT_FILE_H & ~sc.attack_span[e];
    ctx.rammed[c] = pos.pieces[c][PAWN] & push(e, pos.pieces[e][PAWN]) & NOT_FILE_A & NOT_FILE_H;
    int kf = CLAMP_INWARD[file_of(pos.king_square[c])];
    ctx.king_files |= file_bb(kf - 1) | file_bb(kf) | file_bb(kf + 1);
    int zone = make_square(CLAMP_INWARD[file_of(pos.king_square[c])], CLAMP_INWARD[rank_of(pos.king_square[c])]);
    sc.king_zone[c] = bit(zone) | king_attacks(zone);
    sc.knight_attacks[c] = sc.bishop_attacks[c] = sc.rook_attacks[c] = sc.queen_attacks[c] = 0;
    for (int t = 0; t < 4; ++t) sc.king_attackers[c][t] = 0;
  }
}

// Knights, bishops, rooks and queens of colour c: square values, mobility
// and the piece terms; builds c's attack maps and king-attack counts.  The
// colours are independent of each other, so each gets its own loops.
template <int c, bool L>
void piece_terms(const Position& pos, EvalScratch& sc, const PieceContext& ctx, const TraceSink<L>& tr) {
  constexpr int e = c ^ 1;
  constexpr int flip = c == WHITE ? 0 : 56;
  const EvalWeights& w = g_weights;
  const EvalSlopes& d = g_slopes;
  const Bitboard occ = ctx.occ;
  const Bitboard* mobility_area = ctx.mobility_area;
  const Bitboard* outposts = ctx.outposts;
  const Bitboard* rammed = ctx.rammed;
  const Bitboard king_files = ctx.king_files;
  const Bitboard pinned = sc.pinned;

  // Knights.
  for (Bitboard b = pos.pieces[c][KNIGHT]; b;) {
    const int s = pop_lsb(b);
    const Bitboard a = knight_attacks(s);
    sc.knight_attacks[c] |= a;
    note_attacks(sc, c, a);
    if (a & sc.king_zone[e]) ++sc.king_attackers[c][0];
    int m = (pinned & bit(s)) ? 0 : popcount(a & mobility_area[c]);
    Score v = w.pst[KNIGHT][s ^ flip] + w.knight_mobility[m];
    tr.pair(c, SLOT_PST_N, d.pst[KNIGHT][s ^ flip]);
    tr.fine(c, fine_pst(KNIGHT, s ^ flip), d.pst_scale[KNIGHT]);
    tr.pair(c, SLOT_KNIGHT_MOBILITY, d.mobility[0][m]);
    tr.fine(c, fine_mobility(0, m), d.mobility_scale[0]);
    if (!(a & king_files)) {
      v += make_score(-8, 0);
      tr.fixed(c, -8, 0);
    }
    if (outposts[c] & bit(s)) {
      v += w.knight_outpost;
      tr.pair(c, SLOT_KNIGHT_OUTPOST, 1, 1);
      if (sc.pawn_attacks[c] & bit(s)) {
        v += w.knight_outpost_half;
        tr.single(c, SLOT_KNIGHT_OUTPOST, 0, 0.5);
      }
    } else if (a & outposts[c]) {
      v += w.knight_outpost_half;
      tr.single(c, SLOT_KNIGHT_OUTPOST, 0, 0.5);
    }
    if (m < 2 && relative_rank(c, s) == 7) sc.danger[c] += 250;
    sc.positional[c] += v;
    tr.add(TRACE_KNIGHTS, c, s, v);
    tr.close(c, v);
  }

  // Bishops see through their own queens.
  for (Bitboard b = pos.pieces[c][BISHOP]; b;) {
    const int s = pop_lsb(b);
    const Bitboard a = bishop_attacks(s, occ & ~pos.pieces[c][QUEEN]);
    sc.bishop_attacks[c] |= a;
    note_attacks(sc, c, a);
    if (a & sc.king_zone[e]) ++sc.king_attackers[c][1];
    int m = 0, centre = 0;
    if (!(pinned & bit(s))) {
      m = popcount(a & mobility_area[c]);
      centre = popcount(a & CENTRE_16);
    }
    const int mi = std::min(m + centre, BISHOP_MOBILITY_SIZE - 1);
    Score v = w.pst[BISHOP][s ^ flip] + w.bishop_mobility[mi];
    tr.pair(c, SLOT_PST_B, d.pst[BISHOP][s ^ flip]);
    tr.fine(c, fine_pst(BISHOP, s ^ flip), d.pst_scale[BISHOP]);
    tr.pair(c, SLOT_BISHOP_MOBILITY, d.mobility[1][mi]);
    tr.fine(c, fine_mobility(1, mi), d.mobility_scale[1]);
    if (outposts[c] & bit(s)) {
      v += w.bishop_outpost;
      tr.pair(c, SLOT_BISHOP_OUTPOST, 1, 1);
    } else if (a & outposts[c]) {
      v += w.bishop_outpost_half;
      tr.single(c, SLOT_BISHOP_OUTPOST, 0, 0.5);
    }
    Bitboard same_colour = (bit(s) & LIGHT_SQUARES) ? LIGHT_SQUARES : ~LIGHT_SQUARES;
    const Score bad = popcount(rammed[c] & same_colour) * w.bad_bishop;
    v += bad;
    tr.fixed(c, bad);
    if (m < 2 && relative_rank(c, s) == 7) sc.danger[c] += 250;
    sc.positional[c] += v;
    tr.add(TRACE_BISHOPS, c, s, v);
    tr.close(c, v);
  }

  // Rooks see through their own rooks and queens.
  for (Bitboard b = pos.pieces[c][ROOK]; b;) {
    const int s = pop_lsb(b);
    const Bitboard a = rook_attacks(s, occ & ~(pos.pieces[c][ROOK] | pos.pieces[c][QUEEN]));
    sc.rook_attacks[c] |= a;
    note_attacks(sc, c, a);
    if (a & sc.king_zone[e]) ++sc.king_attackers[c][2];
    const bool is_pinned = pinned & bit(s);
    const Bitboard file = file_bb(file_of(s));
    int m = 0, forward = 0;
    if (!is_pinned) {
      m = popcount(a & mobility_area[c]);
      forward = popcount(a & file & HALF[e]);
    }
    const int mi = std::min(m + forward, ROOK_MOBILITY_SIZE - 1);
    Score v = w.pst[ROOK][s ^ flip] + w.rook_mobility[mi];
    tr.pair(c, SLOT_PST_R, d.pst[ROOK][s ^ flip]);
    tr.fine(c, fine_pst(ROOK, s ^ flip), d.pst_scale[ROOK]);
    tr.pair(c, SLOT_ROOK_MOBILITY, d.mobility[2][mi]);
    tr.fine(c, fine_mobility(2, mi), d.mobility_scale[2]);
    if (!(pos.pieces[c][PAWN] & file)) {
      const bool half_open = pos.pieces[e][PAWN] & file;
      v += half_open ? w.rook_half_open_file : w.rook_open_file;
      tr.pair(c, half_open ? SLOT_ROOK_HALF_OPEN_FILE : SLOT_ROOK_OPEN_FILE, 1, 1);
    }
    if ((is_pinned || m < 5) &&
        ((pos.pieces[c][PAWN] | bit(pos.king_square[c])) & TRAP_FILES[file_of(s)] & rank_bb(rank_of(s)))) {
      v += w.rook_trapped;
      tr.pair(c, SLOT_ROOK_TRAPPED, 1, 1);
    }
    if (relative_rank(c, s) == 6 && ((pos.pieces[e][PAWN] | bit(pos.king_square[e])) & LAST_TWO_RANKS[c])) {
      v += w.rook_rank7;
      tr.pair(c, SLOT_ROOK_RANK7, 1, 1);
    }
    sc.positional[c] += v;
    tr.add(TRACE_ROOKS, c, s, v);
    tr.close(c, v);
  }

  // Queens; the mobility counts the squares behind own bishops and rooks on
  // the same lines.
  for (Bitboard b = pos.pieces[c][QUEEN]; b;) {
    const int s = pop_lsb(b);
    const Bitboard diag = bishop_attacks(s, occ), line = rook_attacks(s, occ);
    const Bitboard a = diag | line;
    Bitboard x = a;
    if (a & pos.pieces[c][BISHOP]) x |= bishop_attacks(s, occ & ~pos.pieces[c][BISHOP]);
    if (a & pos.pieces[c][ROOK]) x |= rook_attacks(s, occ & ~pos.pieces[c][ROOK]);
    sc.queen_attacks[c] |= a;
    sc.attacked_twice[c] |= sc.all_attacks[c] & x;
    sc.all_attacks[c] |= a;
    if (x & sc.king_zone[e]) ++sc.king_attackers[c][3];
    int m = (pinned & bit(s)) ? 0 : popcount(x & mobility_area[c]);
    const int mi = std::min(m, QUEEN_MOBILITY_SIZE - 1);
    Score v = w.pst[QUEEN][s ^ flip] + w.queen_mobility[mi];
    tr.pair(c, SLOT_PST_Q, d.pst[QUEEN][s ^ flip]);
    tr.fine(c, fine_pst(QUEEN, s ^ flip), d.pst_scale[QUEEN]);
    tr.fixed(c, d.pst_offset[QUEEN][s ^ flip], 0);
    tr.pair(c, SLOT_QUEEN_MOBILITY, d.mobility[3][mi]);
    tr.fine(c, fine_mobility(3, mi), d.mobility_scale[3]);
    if (!(x & king_files)) {
      v += make_score(-10, -10);
      tr.fixed(c, -10, -10);
    }
    sc.positional[c] += v;
    tr.add(TRACE_QUEENS, c, s, v);
    tr.close(c, v);
  }
}

// King safety of colour c: shield, storm, defenders, safe checks and the
// attack on the king zone; in the endgame the king's room and its distance to
// the pawns.
template <int c, bool L>
void king_term(const Position& pos, EvalScratch& sc, const TraceSink<L>& tr) {
  const EvalWeights& w = g_weights;
  constexpr int e = c ^ 1;
  const int k = pos.king_square[c];
  // Without the enemy queen the opening half is halved at the end.
  const f64 half = pos.pieces[e][QUEEN] ? 1.0 : 0.5;
  tr.pair(c, SLOT_PST_K, half * g_slopes.pst[KING][k ^ (c == WHITE ? 0 : 56)][0],
          g_slopes.pst[KING][k ^ (c == WHITE ? 0 : 56)][1]);
  tr.fine(c, fine_pst(KING, k ^ (c == WHITE ? 0 : 56)), half * g_slopes.pst_scale[KING][0],
          g_slopes.pst_scale[KING][1]);
  const int fk = file_of(k), rk = relative_rank(c, k);
  const Bitboard occ = pos.occupied();
  int op = score_op(w.pst[KING][k ^ (c == WHITE ? 0 : 56)]);
  int en = score_en(w.pst[KING][k ^ (c == WHITE ? 0 : 56)]);
  int danger = 0, safe_checks = 0;

  if (sc.phase[e] > 2) {
    const int f = CLAMP_INWARD[fk];
    const Bitboard own_pawns = pos.pieces[c][PAWN];
    int shield = 0;
    if (rk <= 3) {
      Bitboard shield_pawns = own_pawns & HALF[c] & ~sc.pawn_attacks[e];
      // Per file, the shield pawn nearest the king: 3 on the second rank, 2
      // on the third, 1 on the fourth (no pawn stands on the first).
      for (int ff = f - 1; ff <= f + 1; ++ff) {
        Bitboard on_file = shield_pawns & file_bb(ff);
        if (on_file) shield += 4 - relative_rank(c, c == WHITE ? lsb(on_file) : msb(on_file));
      }
      danger = (4 - rk) * w.pawn_shield[shield] * SHIELD_FILE_WEIGHT[fk] / 16 - 64;
      tr.single(c, SLOT_PAWN_SHIELD, 0, half * (4 - rk) * std::min(shield, 9) / 9.0 * SHIELD_FILE_WEIGHT[fk] / 16.0);
      tr.fixed(c, -64 * half, 0);
    }
    if (std::abs(f - file_of(pos.king_square[e])) > 2) {
      const Bitboard their_pawns = pos.pieces[e][PAWN] & HALF[e];
      for (int ff = f - 1; ff <= f + 1; ++ff)
        if (!(their_pawns & file_bb(ff))) {
          danger += score_op(w.pawn_storm);
          tr.single(c, SLOT_PAWN_STORM, 0, half);
        }
    }
    const Bitboard* own = pos.pieces[c];
    const int defenders =
        DEFENDER_SCORE[std::min(4, popcount((own[PAWN] | own[KNIGHT] | own[BISHOP]) & sc.king_zone[c]))];
    danger += defenders;
    tr.fixed(c, half * defenders, 0);

    // Squares from which the enemy could check without being taken.
    const Bitboard minors_defence = sc.pawn_attacks[c] | sc.knight_attacks[c] | sc.bishop_attacks[c];
    const Bitboard defended = minors_defence | sc.rook_attacks[c] | sc.queen_attacks[c];
    const Bitboard near = king_attacks(k);
    Bitboard safe = ~pos.pieces[e][0] & ~defended & ~(near & ~sc.attacked_twice[e]);
    const Bitboard diag = bishop_attacks(k, occ), line = rook_attacks(k, occ);
    safe_checks = popcount(knight_attacks(k) & safe & sc.knight_attacks[e]) +
                  popcount(diag & safe & sc.bishop_attacks[e]) + popcount(line & safe & sc.rook_attacks[e]) +
                  ((line & safe & sc.queen_attacks[e]) != 0) + ((diag & safe & sc.queen_attacks[e]) != 0);
    if (near & safe & sc.queen_attacks[e]) sc.danger[c] += 900;

    const Bitboard zone = sc.king_zone[c];
    const int* att = sc.king_attackers[e];
    int index = 3 * att[1] + 4 * att[0] + 4 * att[2] + 5 * att[3] + 4 * safe_checks +
                4 * (popcount(zone & sc.pawn_attacks[e]) + popcount(zone & sc.knight_attacks[e] & ~minors_defence) +
                     popcount(zone & sc.bishop_attacks[e] & ~minors_defence) +
                     popcount(zone & sc.rook_attacks[e] & ~(minors_defence | sc.rook_attacks[c])) +
                     popcount(zone & sc.queen_attacks[e] & ~defended)) -
                shield - (pos.side == c ? 1 : 0);
    if (index > 0) {
      danger -= w.king_danger[std::min(index, KING_DANGER_SIZE - 1)];
      tr.fixed(c, -half * w.king_danger[std::min(index, KING_DANGER_SIZE - 1)], 0);
    }
    op += danger;
  }
  sc.safe_checks[c] = safe_checks;

  const int en_table = en;
  if (sc.phase[WHITE] + sc.phase[BLACK] < 9) {
    Bitboard room = king_attacks(k) & INNER_SQUARES;
    if (!(room & ~(sc.all_attacks[e] | pos.pieces[c][0]))) en -= 10;
    const Bitboard pawns = pos.pieces[WHITE][PAWN] | pos.pieces[BLACK][PAWN];
    int lo = std::max(0, fk - 1), hi = std::min(7, fk + 1), step = 8;
    for (;;) {
      Bitboard files = 0;
      for (int ff = lo; ff <= hi; ++ff) files |= file_bb(ff);
      if (pawns & files) break;
      en -= step;
      step += 2;
      if (lo == 0 && hi == 7) break;
      lo = std::max(0, lo - 1);
      hi = std::min(7, hi + 1);
    }
  }
  tr.fixed(c, 0, en - en_table);
  if (!pos.pieces[e][QUEEN]) op /= 2;
  Score v = make_score(op, en) + safe_checks * w.safe_check;
  tr.pair(c, SLOT_SAFE_CHECK, safe_checks, safe_checks);
  sc.positional[c] += v;
  tr.add(TRACE_KINGS, c, k, v);
  tr.close(c, v);
  if (tr.t) {
    tr.t->king_square[c] = k;
    tr.t->king_danger[c] = danger;
  }
}

// Static exchange on t after a pawn of colour c stepped there from `from`:
// whether the enemy, capturing first, comes out ahead.
bool enemy_wins_pawn(const Position& pos, int c, int from, int t) {
  Bitboard occ = (pos.occupied() ^ bit(from)) | bit(t);
  int gain[40];
  int n = 0;
  int on_square = SEE_VALUE[PAWN];
  int side = c ^ 1;
  for (;;) {
    const Bitboard* p = pos.pieces[side];
    int attacker = NO_SQUARE, type = 0;
    Bitboard b;
    if ((b = pawn_attacks(side ^ 1, t) & p[PAWN] & occ)) {
      attacker = lsb(b);
      type = PAWN;
    } else if ((b = knight_attacks(t) & p[KNIGHT] & occ)) {
      attacker = lsb(b);
      type = KNIGHT;
    } else if ((b = bishop_attacks(t, occ) & p[BISHOP] & occ)) {
      attacker = lsb(b);
      type = BISHOP;
    } else if ((b = rook_attacks(t, occ) & p[ROOK] & occ)) {
      attacker = lsb(b);
      type = ROOK;
    } else if ((b = queen_attacks(t, occ) & p[QUEEN] & occ)) {
      attacker = lsb(b);
      type = QUEEN;
    } else if (king_attacks(t) & p[KING] & occ) {
      attacker = pos.king_square[side];
      type = KING;
    }
    if (attacker == NO_SQUARE || n == 39) break;
    gain[n] = n == 0 ? on_square : on_square - gain[n - 1];
    ++n;
    on_square = SEE_VALUE[type];
    occ ^= bit(attacker);
    side ^= 1;
  }
  if (n == 0) return false;
  while (--n) gain[n - 1] = std::min(gain[n - 1], -gain[n]);
  return gain[0] > 0;
}

// Passed pawns of both colours, then candidates in the later game.  Kept
// out of line: inlined, it slowed the evaluation of positions without
// passers by some 3 % (evaluation benchmark).
template <bool L>
[[gnu::noinline]] void passed_pawn_terms(const Position& pos, EvalScratch& sc, const TraceSink<L>& tr) {
  const EvalWeights& w = g_weights;
  for (Bitboard b = sc.passed; b;) {
    const int s = pop_lsb(b);
    const int c = colour_of(pos.board[s]), e = c ^ 1;
    const int r = relative_rank(c, s), d = PUSH_DIR[c];
    const int k = pos.king_square[e], K = pos.king_square[c];
    const Bitboard front = g_attacks.ray[c == WHITE ? DIR_N : DIR_S][s];
    int v = w.passer_held[r];
    // For the decomposition: v as k x (the rank's base value) + a.
    int base_slot = SLOT_PASSER_HELD + r - 1;
    f64 k_lin = 1, a_lin = 0;
    int t = s + d;
    if (r == 1 && !pos.board[t]) t += d;
    const int rt = relative_rank(c, t);
    bool safe = false;
    // The exchange needs playing out only when the enemy reaches t: directly,
    // or with a rook or queen behind the pawn on its file.
    const bool contested = (sc.all_attacks[e] & bit(t)) ||
                           (g_attacks.ray[c == WHITE ? DIR_S : DIR_N][s] & (pos.pieces[e][ROOK] | pos.pieces[e][QUEEN]));
    if (!pos.board[t] && rt > 2 && !(contested && enemy_wins_pawn(pos, c, s, t))) {
      safe = true;
      v = w.passer_safe[r];
      base_slot = SLOT_PASSER_SAFE + r - 1;
      sc.danger[e] += 2 << rt;
      if (!(front & (sc.all_attacks[e] | (pos.pieces[e][0] & ~sc.all_attacks[c])))) {
        v += (v + 64) / 8;
        k_lin *= 9.0 / 8;
        a_lin = 8;
        sc.danger[e] += 6 << rt;
        if (pos.piece_material[e] == 0) {
          int promo = make_square(file_of(s), c == WHITE ? 7 : 0);
          if (distance(k, promo) > 8 - r - (pos.side == c ? 1 : 0)) {
            v += 16 * rt;
            a_lin += 16 * rt;
          }
        }
      }
    }
    if (sc.pawn_attacks[c] & bit(t)) {
      v += v / 4;
      k_lin *= 1.25;
      a_lin *= 1.25;
    }
    const int o = 11 * v;
    const int target = r >= 6 ? t : t + d;
    const int closeness = (24 * distance(k, target) - 16 * distance(K, target)) * (safe ? rt : r) / 8;
    v += closeness;
    // A passer with an own pawn in front counts half.
    const bool doubled = front & pos.pieces[c][PAWN];
    const int op = doubled ? o / 32 : o / 16, en = doubled ? v / 2 : v;
    const f64 op_share = doubled ? 11.0 / 32 : 11.0 / 16, en_share = doubled ? 0.5 : 1.0;
    sc.positional[c] += make_score(op, en);
    tr.single(c, base_slot, 0, op_share * k_lin * g_slopes.passed_pawns);
    tr.single(c, base_slot, 1, en_share * k_lin * g_slopes.passed_pawns);
    tr.fixed(c, op_share * a_lin, en_share * (a_lin + closeness));
    tr.close(c, make_score(op, en));
    if (tr.t) {
      tr.t->terms[TRACE_PASSERS][c] += en;
      int tv = taper(make_score(op, en), tr.stage);
      tr.t->board[s] += c == WHITE ? tv : -tv;
    }
  }

  if (sc.stage < 12) return;
  for (Bitboard b = sc.candidates; b;) {
    const int s = pop_lsb(b);
    const int c = colour_of(pos.board[s]), e = c ^ 1;
    const int r = relative_rank(c, s);
    if (r < 3 || r > 5) continue;
    const int d = PUSH_DIR[c];
    int supporters = popcount(g_attacks.side_neighbours[s] & pos.pieces[c][PAWN]);
    int stoppers = popcount(g_attacks.passed_mask[c][s + d] & pos.pieces[e][PAWN]);
    if (stoppers > supporters) continue;
    if (pos.board[s + d]) continue;
    int dist = distance(pos.king_square[e], s + 2 * d);
    Score v = make_score(0, (24 * dist + 32 * (r - 2)) * score_en(w.candidate) / 256);
    sc.positional[c] += v;
    tr.single(c, SLOT_PAWN_CANDIDATE + 1, 1, (24 * dist + 32 * (r - 2)) / 256.0);
    tr.close(c, v);
    if (tr.t) {  // on the board only: the passers row holds the passed pawns' endgame values
      int tv = taper(v, tr.stage);
      tr.t->board[s] += c == WHITE ? tv : -tv;
    }
  }
}

// Pieces and pawns of colour c that the enemy attacks without enough
// defence, and enemy pawn pushes that would attack c's pieces.
template <bool L>
void threat_terms(const Position& pos, EvalScratch& sc, const TraceSink<L>& tr) {
  const EvalWeights& w = g_weights;
  const f64* scale = g_slopes.threats;
  for (int c = WHITE; c <= BLACK; ++c) {
    const int e = c ^ 1;
    const Bitboard* p = pos.pieces[c];
    Score v = 0;
    if (sc.all_attacks[e] & p[0]) {
      Bitboard weak = (sc.attacked_twice[e] & ~sc.pawn_attacks[c] & ~sc.attacked_twice[c]) |
                      (sc.all_attacks[e] & ~sc.all_attacks[c]);
      Bitboard hung_pawns = p[PAWN] & weak & ~sc.pawn_attacks[e];
      Bitboard minor_hits = sc.pawn_attacks[e] | sc.knight_attacks[e] | sc.bishop_attacks[e];
      Bitboard hung = (p[QUEEN] & (minor_hits | sc.rook_attacks[e])) | (p[ROOK] & (minor_hits | weak)) |
                      ((p[KNIGHT] | p[BISHOP]) & (sc.pawn_attacks[e] | weak));
      Bitboard piece_hits = sc.knight_attacks[e] | sc.bishop_attacks[e] | sc.rook_attacks[e] |
                            sc.queen_attacks[e] | sc.king_attacks[e];
      Bitboard attacked = ((p[KNIGHT] | p[BISHOP] | p[ROOK]) & sc.all_attacks[e]) | (p[PAWN] & piece_hits);
      attacked &= ~hung_pawns & ~hung & ~sc.pawn_attacks[c];
      int nh = popcount(hung_pawns), nq = popcount(hung);
      const int na = popcount(attacked);
      v = na * w.attacked_piece + nq * w.hung_piece + nh * w.hung_pawn;
      tr.pair(c, SLOT_ATTACKED_PIECE, na * scale[0], na * scale[1]);
      tr.pair(c, SLOT_HUNG_PIECE, nq * scale[0], nq * scale[1]);
      tr.pair(c, SLOT_HUNG_PAWN, nh * scale[0], nh * scale[1]);
      if (nh + nq > 1) {
        v += w.multi_hung;
        tr.pair(c, SLOT_MULTI_HUNG, scale);
      }
      sc.danger[c] += 64 * (nh + 4 * nq);
      if (tr.t) {
        for (Bitboard b = attacked; b;) tr.add(TRACE_THREATS, c, pop_lsb(b), w.attacked_piece);
        for (Bitboard b = hung; b;) tr.add(TRACE_THREATS, c, pop_lsb(b), w.hung_piece);
        for (Bitboard b = hung_pawns; b;) tr.add(TRACE_THREATS, c, pop_lsb(b), w.hung_pawn);
        if (nh + nq > 1) tr.add(TRACE_THREATS, c, NO_SQUARE, w.multi_hung);
      }
    }
    // Enemy pawn steps that would fork or chase c's pieces.
    const Bitboard empty = ~pos.occupied();
    Bitboard steps = push(e, pos.pieces[e][PAWN]) & empty;
    steps |= push(e, steps & THIRD_RANK[e]) & empty;
    steps &= ~sc.all_attacks[c] | sc.pawn_attacks[e] | sc.attacked_twice[e];
    Bitboard targets = pawn_attack_set(e, steps) & p[0] & ~p[PAWN];
    const int np = popcount(targets);
    v += np * w.threat_ppush;
    tr.pair(c, SLOT_THREAT_PPUSH, np * scale[0], np * scale[1]);
    if (tr.t)
      for (Bitboard b = targets; b;) tr.add(TRACE_THREATS, c, pop_lsb(b), w.threat_ppush);
    sc.positional[c] += v;
    tr.close(c, v);
  }
}

// The listing of a position settled before the terms: only the score line.
void trace_early_result(const Position& pos, int score, int draw_factor) {
  EvalTrace& t = g_eval_trace;
  std::memset(&t, 0, sizeof t);
  t.score = score;
  t.stage = game_stage(pos);
  t.draw_factor = draw_factor;
  for (int c = WHITE; c <= BLACK; ++c) {
    t.king_square[c] = pos.king_square[c];
    t.signature[c] = pos.material_signature[c];
    t.material[c] = taper(material_score(pos.material_signature[c]), t.stage);
  }
}

// The evaluation proper; the Linear instantiation also fills lc.
template <bool L>
int evaluate_impl(EvalThread& et, const Position& pos, int ply, EvalPlyInfo* slot, bool trace, EvalCoefficients* lc) {
  if constexpr (L) {
    std::memset(lc, 0, sizeof *lc);
    lc->side = pos.side;
    lc->stage = game_stage(pos);
  }
  if (slot) {
    slot->draw_by_material = 0;
    slot->danger[WHITE] = slot->danger[BLACK] = 0;
  }

  if (draw_by_material(pos)) {
    if (slot) slot->draw_by_material = 1;
    if (trace) trace_early_result(pos, 0, 0);
    return 0;
  }

  int special;
  if (special_endgame(pos, &special)) {
    int score = pos.side == WHITE ? special : -special;
    if (trace) trace_early_result(pos, score, 256);
    if constexpr (L) lc->score = score;
    return score;
  }

  EvalCacheEntry& entry = et.cache[pos.hash_key & (EVAL_CACHE_SIZE - 1)];
  if (et.iteration_depth > 1 && ply > 1 && !trace && !L) {
    ++et.cache_probes;
    if (entry.key == pos.hash_key) {
      ++et.cache_hits;
      if (slot) {
        slot->danger[WHITE] = entry.danger[WHITE];
        slot->danger[BLACK] = entry.danger[BLACK];
      }
      return entry.score;
    }
  }

  EvalScratch& sc = et.scratch;

  // Material, tapered on its own.
  for (int c = WHITE; c <= BLACK; ++c) {
    u32 sig = pos.material_signature[c];
    sc.material[c] = material_score(sig);
    sc.phase[c] = phase_count(sig);
    sc.danger[c] = 0;
  }
  sc.stage = STAGE_MAX - sc.phase[WHITE] - sc.phase[BLACK];

  EvalTrace* t = nullptr;
  if (trace) {
    t = &g_eval_trace;
    std::memset(t, 0, sizeof *t);
  }
  const TraceSink<L> tr{t, sc.stage, lc};

  // Pawn structure: the per-pawn sums come from the pawn hash when it knows
  // these pawns; the blocked pawns depend on the pieces and are counted anew.
  pawn_sets(pos, sc);
  PawnHashEntry unhashed;
  PawnHashEntry& pawns = L ? unhashed : et.pawn_hash[pos.pawn_key & (PAWN_HASH_SIZE - 1)];
  ++et.pawn_probes;
  if (!L && pawns.key == pos.pawn_key && et.iteration_depth != 0 && !trace) {
    ++et.pawn_hits;
  } else {
    pawns.key = pos.pawn_key;
    pawns.sum[WHITE] = pawn_structure(pos, sc, WHITE, tr);
    pawns.sum[BLACK] = pawn_structure(pos, sc, BLACK, tr);
  }
  for (int c = WHITE; c <= BLACK; ++c) {
    Score blocked = blocked_pawns(pos, c, tr);
    sc.positional[c] = pawns.sum[c] + blocked;
  }

  sc.pinned = pinned_pieces(pos);
  PieceContext ctx;
  piece_context(pos, sc, ctx);
  piece_terms<WHITE>(pos, sc, ctx, tr);
  piece_terms<BLACK>(pos, sc, ctx, tr);
  king_term<WHITE>(pos, sc, tr);
  king_term<BLACK>(pos, sc, tr);
  passed_pawn_terms(pos, sc, tr);
  threat_terms(pos, sc, tr);

  // Tempo.
  sc.positional[pos.side] += make_score(16, 8);
  tr.fixed(pos.side, 16, 8);
  tr.close(pos.side, make_score(16, 8));

  // The positional sum gets a boost growing with its square, so that a
  // clear positional edge counts for more than the sum of its parts.
  int p = taper(sc.positional[WHITE] - sc.positional[BLACK], sc.stage);
  int m = taper(sc.material[WHITE] - sc.material[BLACK], sc.stage);
  int score = p + positional_boost(p) + m;

  // Contempt: the root side avoids (positive) or seeks (negative) draws,
  // more so with material on the board.
  int contempt = 0;
  if (et.contempt) {
    int r = et.root_side;
    int q = et.contempt > 0 ? r : r ^ 1;
    int n = std::max(0, pos.piece_material[q] - 3) + 2 * std::min(6, popcount(pos.pieces[q][PAWN]));
    int c = n * et.contempt / 41;
    contempt = r == WHITE ? c : -c;
    score += contempt;
  }

  sc.draw_factor = draw_scale(pos, score, sc.phase[WHITE], sc.phase[BLACK]);
  score = score * sc.draw_factor / 256;
  score = std::clamp(score, -EVAL_LIMIT, EVAL_LIMIT);

  if (pos.side == BLACK) score = -score;
  for (int c = WHITE; c <= BLACK; ++c) sc.danger[c] = std::min(sc.danger[c], 32767);
  if constexpr (L) {
    lc->linear = true;
    lc->score = score;
    lc->draw_factor = sc.draw_factor;
    lc->contempt = contempt;
    lc->material = sc.material[WHITE] - sc.material[BLACK];
  } else {
    entry.key = pos.hash_key;
    entry.danger[WHITE] = i16(sc.danger[WHITE]);
    entry.danger[BLACK] = i16(sc.danger[BLACK]);
    entry.score = i16(score);
  }
  if (slot) {
    slot->danger[WHITE] = i16(sc.danger[WHITE]);
    slot->danger[BLACK] = i16(sc.danger[BLACK]);
  }
  if (t) {
    t->score = score;
    t->stage = sc.stage;
    t->draw_factor = sc.draw_factor;
    for (int c = WHITE; c <= BLACK; ++c) {
      t->material[c] = taper(sc.material[c], sc.stage);
      t->positional[c] = taper(sc.positional[c], sc.stage);
      t->signature[c] = pos.material_signature[c];
    }
  }
  return score;
}

}  // namespace

namespace {

// Piece letters of one colour's material, queens first: "QRRBNPPPP".
void material_letters(u32 sig, char* out) {
  static const char LETTERS[] = " PNBRQ";
  int n = 0;
  for (int type = QUEEN; type >= PAWN; --type)
    for (int i = piece_count(sig, type); i > 0 && n < 40; --i) out[n++] = LETTERS[type];
  out[n] = 0;
}

void print_row(const char* label, int white, int black) {
  output_format("%-11s%5d    %5d    %5d", label, white, black, white - black);
}

}  // namespace

int evaluate(EvalThread& et, const Position& pos, int ply, EvalPlyInfo* slot, bool skip, bool trace) {
  if (skip) return EVAL_SKIPPED;
  return evaluate_impl<false>(et, pos, ply, slot, trace, nullptr);
}

int evaluate_coefficients(EvalThread& et, const Position& pos, EvalCoefficients& ec) {
  return evaluate_impl<true>(et, pos, 1, nullptr, false, &ec);
}

int score_from_coefficients(const EvalCoefficients& ec, const f64* w) {
  if (!ec.linear) return ec.score;
  f64 half[2];
  for (int h = 0; h < 2; ++h) {
    half[h] = ec.fixed[h] + ec.rounding[h];
    for (int i = 0; i < EVAL_COEF_COUNT; ++i) half[h] += ec.coef[i][h] * w[i];
  }
  const int p = taper(make_score(int(std::lround(half[0])), int(std::lround(half[1]))), ec.stage);
  int score = p + positional_boost(p) + taper(ec.material, ec.stage) + ec.contempt;
  score = std::clamp(score * ec.draw_factor / 256, -EVAL_LIMIT, EVAL_LIMIT);
  return ec.side == WHITE ? score : -score;
}

void print_eval_trace(int qscore) {
  const EvalTrace& t = g_eval_trace;
  for (int c = WHITE; c <= BLACK; ++c)
    output_format("sq=%s, KD= %d", SQUARE_NAMES[t.king_square[c] & 63], t.king_danger[c]);
  output_format("eval= %d, qscore= %d, stage= %d, draw_adj= %0.2f", t.score, qscore, t.stage, t.draw_factor / 256.0);
  output_line("");
  output_line("           white    black     diff");
  char white[48], black[48];
  material_letters(t.signature[WHITE], white);
  material_letters(t.signature[BLACK], black);
  output_format("mtl=       %5d    %5d    %5d   (%s :: %s)", t.material[WHITE], t.material[BLACK],
                t.material[WHITE] - t.material[BLACK], white, black);
  print_row("pos=", t.positional[WHITE], t.positional[BLACK]);
  static const char* const LABELS[] = {"pawns=", "knights=", "bishops=", "rooks=", "queens=", "kings=", "passers="};
  for (int i = TRACE_PAWNS; i <= TRACE_PASSERS; ++i) print_row(LABELS[i], t.terms[i][WHITE], t.terms[i][BLACK]);
  output_line("");
  for (int rank = 7; rank >= 0; --rank) {
    char line[80];
    int n = 0;
    for (int f = 0; f < 8; ++f) n += std::snprintf(line + n, sizeof line - n, " %4d", t.board[make_square(f, rank)]);
    output_line(line);
  }
}

#include "eval/eval.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "eval/kpk.h"

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

// Sum of a piece-square table over one colour's pieces of one type.
Score pst_sum(const Position& pos, int c, int type) {
  const Score* table = g_weights.pst[type];
  int flip = c == WHITE ? 0 : 56;
  Score sum = 0;
  for (Bitboard b = pos.pieces[c][type]; b;) sum += table[pop_lsb(b) ^ flip];
  return sum;
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
  Score m = 0;
  for (int t = PAWN; t <= QUEEN; ++t) m += piece_count(sig, t) * w.material[t];
  if (piece_count(sig, BISHOP) >= 2) m += w.bishop_pair;
  if ((sig & 0xFFFF0) == 0x10000) m += w.lone_queen;  // a queen without minor or rook support
  return m;
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

int evaluate(EvalThread& et, const Position& pos, int ply, EvalPlyInfo* slot, bool skip, bool trace) {
  if (skip) return EVAL_SKIPPED;
  if (slot) {
    slot->draw_by_material = 0;
    slot->danger[WHITE] = slot->danger[BLACK] = 0;
  }

  if (draw_by_material(pos)) {
    if (slot) slot->draw_by_material = 1;
    return 0;
  }

  int special;
  if (special_endgame(pos, &special)) return pos.side == WHITE ? special : -special;

  EvalCacheEntry& entry = et.cache[pos.hash_key & (EVAL_CACHE_SIZE - 1)];
  if (et.iteration_depth > 1 && ply > 1) {
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
  const EvalWeights& w = g_weights;

  // Material, tapered on its own.
  for (int c = WHITE; c <= BLACK; ++c) {
    u32 sig = pos.material_signature[c];
    sc.material[c] = material_score(sig);
    sc.phase[c] = phase_count(sig);
    sc.danger[c] = 0;
  }
  sc.stage = STAGE_MAX - sc.phase[WHITE] - sc.phase[BLACK];

  // Pawns: their square values.
  // TODO(next issue): the pawn hash probe with the structure terms (doubled,
  // backward, isolated, weak, connected, defended) and the blocked-pawn terms.
  for (int c = WHITE; c <= BLACK; ++c) sc.positional[c] = pst_sum(pos, c, PAWN);

  // Pieces, knights to queens: their square values.
  // TODO(next issue): mobility, outposts, bad bishops, open files, seventh
  // rank, trapped rooks, distance from the kings, and the attack maps that
  // the later terms read.
  for (int c = WHITE; c <= BLACK; ++c)
    for (int t = KNIGHT; t <= QUEEN; ++t) sc.positional[c] += pst_sum(pos, c, t);

  // Kings: their square values.
  // TODO(next issue): shield, storm, defenders, safe checks and the attack
  // index, and the endgame king terms.
  for (int c = WHITE; c <= BLACK; ++c)
    sc.positional[c] += w.pst[KING][pos.king_square[c] ^ (c == WHITE ? 0 : 56)];

  // TODO(next issue): passed pawns, then candidates when the stage is 12 or more.
  // TODO(next issue): threats against each colour.

  // Tempo.
  sc.positional[pos.side] += make_score(16, 8);

  // The positional sum gets a boost growing with its square, so that a
  // clear positional edge counts for more than the sum of its parts.
  int p = taper(sc.positional[WHITE] - sc.positional[BLACK], sc.stage);
  i64 p2 = 13 * i64(p) * p;
  int boost = p2 >= 512000 ? 125 : int(p2 >> 12);
  if (p < 0) boost = -boost;
  int m = taper(sc.material[WHITE] - sc.material[BLACK], sc.stage);
  int score = p + boost + m;

  // Contempt: the root side avoids (positive) or seeks (negative) draws,
  // more so with material on the board.
  if (et.contempt) {
    int r = et.root_side;
    int q = et.contempt > 0 ? r : r ^ 1;
    int n = std::max(0, pos.piece_material[q] - 3) + 2 * std::min(6, popcount(pos.pieces[q][PAWN]));
    int c = n * et.contempt / 41;
    score += r == WHITE ? c : -c;
  }

  sc.draw_factor = draw_scale(pos, score, sc.phase[WHITE], sc.phase[BLACK]);
  score = score * sc.draw_factor / 256;
  score = std::clamp(score, -EVAL_LIMIT, EVAL_LIMIT);

  if (pos.side == BLACK) score = -score;
  entry.key = pos.hash_key;
  entry.danger[WHITE] = i16(sc.danger[WHITE]);
  entry.danger[BLACK] = i16(sc.danger[BLACK]);
  entry.score = i16(score);
  if (slot) {
    slot->danger[WHITE] = i16(sc.danger[WHITE]);
    slot->danger[BLACK] = i16(sc.danger[BLACK]);
  }
  if (trace) {
    EvalTrace& t = g_eval_trace;
    t.score = score;
    t.stage = sc.stage;
    t.draw_factor = sc.draw_factor;
    for (int c = WHITE; c <= BLACK; ++c) {
      t.material[c] = taper(sc.material[c], sc.stage);
      t.positional[c] = taper(sc.positional[c], sc.stage);
    }
  }
  return score;
}

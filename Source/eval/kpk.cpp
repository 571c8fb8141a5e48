#include "eval/kpk.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

enum : u8 { UNKNOWN = 0, DRAW = 1, WIN = 2 };

// [side to move: 0 pawn side, 1 lone king][pawn: rank * 4 + file][strong king][weak king]
constexpr int KPK_SIZE = 2 * 32 * 64 * 64;
u8 g_kpk[KPK_SIZE];
bool g_kpk_ready = false;

int index_of(int weak_to_move, int pawn, int strong, int weak) {
  return ((weak_to_move * 32 + rank_of(pawn) * 4 + file_of(pawn)) * 64 + strong) * 64 + weak;
}

int distance(int a, int b) {
  int df = std::abs(file_of(a) - file_of(b)), dr = std::abs(rank_of(a) - rank_of(b));
  return df > dr ? df : dr;
}

// The pawn (moving up) attacks sq.
bool pawn_hits(int pawn, int sq) {
  return rank_of(sq) == rank_of(pawn) + 1 && std::abs(file_of(sq) - file_of(pawn)) == 1;
}

// King steps from sq; returns the count.
int king_steps(int sq, int* out) {
  int n = 0;
  for (int df = -1; df <= 1; ++df)
    for (int dr = -1; dr <= 1; ++dr) {
      if (!df && !dr) continue;
      int f = file_of(sq) + df, r = rank_of(sq) + dr;
      if (f >= 0 && f < 8 && r >= 0 && r < 8) out[n++] = make_square(f, r);
    }
  return n;
}

// Fixed results before any search: illegal set-ups count as draws (they are
// never reached from a legal one), immediate promotions win, a pawn that can
// be taken at once is lost, and a lone king without moves is mated or stalemated.
u8 initial_result(int weak_to_move, int p, int K, int k) {
  if (K == k || K == p || k == p || distance(K, k) <= 1) return DRAW;
  if (!weak_to_move) {
    if (pawn_hits(p, k)) return DRAW;  // the lone king would be in check with the other side to move
    int q = p + 8;
    if (rank_of(p) == 6 && K != q && k != q && (distance(k, q) > 1 || distance(K, q) == 1)) return WIN;
    return UNKNOWN;
  }
  if (distance(k, p) == 1 && distance(K, p) > 1) return DRAW;
  int steps[8];
  int n = king_steps(k, steps);
  for (int i = 0; i < n; ++i) {
    int t = steps[i];
    if (distance(t, K) > 1 && !pawn_hits(p, t) && t != p) return UNKNOWN;
  }
  return pawn_hits(p, k) ? WIN : DRAW;
}

u8 successor_result(int weak_to_move, int p, int K, int k) {
  if (!weak_to_move) {
    // Pawn side to move: one winning move is enough.
    int steps[8];
    int n = king_steps(K, steps);
    for (int i = 0; i < n; ++i) {
      int t = steps[i];
      if (t == p || distance(t, k) <= 1) continue;
      if (g_kpk[index_of(1, p, t, k)] == WIN) return WIN;
    }
    if (rank_of(p) < 6) {
      int q = p + 8;
      if (q != K && q != k) {
        if (g_kpk[index_of(1, q, K, k)] == WIN) return WIN;
        int q2 = q + 8;
        if (rank_of(p) == 1 && q2 != K && q2 != k && g_kpk[index_of(1, q2, K, k)] == WIN) return WIN;
      }
    }
    return UNKNOWN;
  }
  // Lone king to move: lost only when every move loses.
  int steps[8];
  int n = king_steps(k, steps);
  for (int i = 0; i < n; ++i) {
    int t = steps[i];
    if (t == p || distance(t, K) <= 1 || pawn_hits(p, t)) continue;
    if (g_kpk[index_of(0, p, K, t)] != WIN) return UNKNOWN;
  }
  return WIN;
}

}  // namespace

void init_kpk_table() {
  if (g_kpk_ready) return;
  std::memset(g_kpk, DRAW, sizeof g_kpk);
  for (int w = 0; w < 2; ++w)
    for (int p = A2; p <= H7; ++p) {
      if (file_of(p) > 3) continue;
      for (int K = 0; K < 64; ++K)
        for (int k = 0; k < 64; ++k) g_kpk[index_of(w, p, K, k)] = initial_result(w, p, K, k);
    }
  // Spread the wins until nothing changes; what stays unknown is a draw.
  for (bool changed = true; changed;) {
    changed = false;
    for (int w = 0; w < 2; ++w)
      for (int p = A2; p <= H7; ++p) {
        if (file_of(p) > 3) continue;
        for (int K = 0; K < 64; ++K)
          for (int k = 0; k < 64; ++k) {
            u8& e = g_kpk[index_of(w, p, K, k)];
            if (e != UNKNOWN) continue;
            if (successor_result(w, p, K, k) == WIN) {
              e = WIN;
              changed = true;
            }
          }
      }
  }
  for (int i = 0; i < KPK_SIZE; ++i)
    if (g_kpk[i] == UNKNOWN) g_kpk[i] = DRAW;
  g_kpk_ready = true;
}

bool kpk_won(int pawn_side_to_move, int pawn_sq, int strong_king, int weak_king) {
  if (file_of(pawn_sq) > 3 || rank_of(pawn_sq) < 1 || rank_of(pawn_sq) > 6) return false;
  return g_kpk[index_of(pawn_side_to_move ? 0 : 1, pawn_sq, strong_king, weak_king)] == WIN;
}

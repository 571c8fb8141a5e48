#include "board/bitboard.h"

#include <vector>

AttackTables g_attacks;

namespace {

// Folded-multiply bit scan table, built from its definition at start-up.
u8 g_lsb_table[64];

const int kDirStep[8][2] = {  // file step, rank step
    {0, 1}, {0, -1}, {1, 0}, {-1, 0}, {1, 1}, {-1, 1}, {1, -1}, {-1, -1}};

bool rising(int dir) { return dir == DIR_N || dir == DIR_E || dir == DIR_NE || dir == DIR_NW; }

Bitboard slide(int sq, Bitboard occ, const int* dirs) {
  Bitboard result = 0;
  for (int i = 0; i < 4; ++i) {
    int d = dirs[i];
    Bitboard r = g_attacks.ray[d][sq];
    Bitboard blockers = r & occ;
    int b = rising(d) ? lsb(blockers | bit(63)) : msb(blockers | bit(0));
    result |= r ^ g_attacks.ray[d][b];
  }
  return result;
}

const int kRookDirs[4] = {DIR_N, DIR_S, DIR_E, DIR_W};
const int kBishopDirs[4] = {DIR_NE, DIR_NW, DIR_SE, DIR_SW};

Bitboard step_set(int sq, const int (*steps)[2], int n) {
  Bitboard b = 0;
  int f = file_of(sq), r = rank_of(sq);
  for (int i = 0; i < n; ++i) {
    int nf = f + steps[i][0], nr = r + steps[i][1];
    if (nf >= 0 && nf < 8 && nr >= 0 && nr < 8) b |= bit(make_square(nf, nr));
  }
  return b;
}

}  // namespace

#ifdef VORN_PEXT
PextSlider g_rook_pext[64];
PextSlider g_bishop_pext[64];
namespace {
std::vector<Bitboard> g_pext_storage;

Bitboard edges_excluded(int sq, int dir) {
  // The last square of each ray never changes the attack set, so it is left out of the index.
  Bitboard r = g_attacks.ray[dir][sq];
  if (!r) return 0;
  int last = rising(dir) ? msb(r) : lsb(r);
  return r & ~bit(last);
}

void init_pext() {
  size_t total = 0;
  Bitboard rmask[64], bmask[64];
  for (int sq = 0; sq < 64; ++sq) {
    rmask[sq] = bmask[sq] = 0;
    for (int d : kRookDirs) rmask[sq] |= edges_excluded(sq, d);
    for (int d : kBishopDirs) bmask[sq] |= edges_excluded(sq, d);
    total += (size_t(1) << popcount(rmask[sq])) + (size_t(1) << popcount(bmask[sq]));
  }
  g_pext_storage.assign(total, 0);
  Bitboard* p = g_pext_storage.data();
  for (int pass = 0; pass < 2; ++pass) {
    for (int sq = 0; sq < 64; ++sq) {
      Bitboard mask = pass == 0 ? rmask[sq] : bmask[sq];
      PextSlider& s = pass == 0 ? g_rook_pext[sq] : g_bishop_pext[sq];
      s.mask = mask;
      s.table = p;
      Bitboard sub = 0;  // enumerate every subset of the mask
      do {
        p[_pext_u64(sub, mask)] = pass == 0 ? rook_attacks_ray(sq, sub) : bishop_attacks_ray(sq, sub);
        sub = (sub - mask) & mask;
      } while (sub);
      p += size_t(1) << popcount(mask);
    }
  }
}
}  // namespace
#endif

int lsb_soft(Bitboard b) {
  Bitboard x = b ^ (b - 1);
  u32 folded = u32(x) ^ u32(x >> 32);
  return g_lsb_table[u32(folded * 0x783A9B23u) >> 26];
}

int msb_soft(Bitboard b) {
  int result = 0;
  if (b > 0xFFFFFFFFULL) {
    b >>= 32;
    result = 32;
  }
  if (b > 0xFFFF) {
    b >>= 16;
    result += 16;
  }
  if (b > 0xFF) {
    b >>= 8;
    result += 8;
  }
  return result + g_attacks.high_bit[b];
}

static int popcount32(u32 v) {
  v = v - ((v >> 1) & 0x55555555u);
  v = (v & 0x33333333u) + ((v >> 2) & 0x33333333u);
  v = (v + (v >> 4)) & 0x0F0F0F0Fu;
  return int((v * 0x01010101u) >> 24);
}

int popcount_soft(Bitboard b) {
  int n = 0;
  if (u32(b)) n += popcount32(u32(b));
  if (b >> 32) n += popcount32(u32(b >> 32));
  return n;
}

Bitboard rook_attacks_ray(int sq, Bitboard occ) { return slide(sq, occ, kRookDirs); }
Bitboard bishop_attacks_ray(int sq, Bitboard occ) { return slide(sq, occ, kBishopDirs); }

void init_attacks() {
  static bool done = false;
  if (done) return;
  done = true;
  AttackTables& t = g_attacks;

  for (int s = 0; s < 64; ++s) {
    Bitboard b = bit(s);
    Bitboard x = b ^ (b - 1);
    u32 folded = u32(x) ^ u32(x >> 32);
    g_lsb_table[u32(folded * 0x783A9B23u) >> 26] = u8(s);
  }
  t.high_bit[0] = 0;
  for (int k = 1; k < 256; ++k) {
    int h = 0;
    while ((k >> (h + 1)) != 0) ++h;
    t.high_bit[k] = u8(h);
  }
  for (int k = 0; k < 256; ++k) t.byte_pop[k] = u8(__builtin_popcount(unsigned(k)));

  static const int kKnight[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
  static const int kKing[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
  static const int kWhitePawn[2][2] = {{-1, 1}, {1, 1}};
  static const int kBlackPawn[2][2] = {{-1, -1}, {1, -1}};
  static const int kSide[2][2] = {{-1, 0}, {1, 0}};

  for (int d = 0; d < 8; ++d) t.ray[d][64] = 0;
  for (int s = 0; s < 64; ++s) {
    t.knight[s] = step_set(s, kKnight, 8);
    t.king[s] = step_set(s, kKing, 8);
    t.pawn[WHITE][s] = step_set(s, kWhitePawn, 2);
    t.pawn[BLACK][s] = step_set(s, kBlackPawn, 2);
    t.side_neighbours[s] = step_set(s, kSide, 2);
    for (int d = 0; d < 8; ++d) {
      Bitboard r = 0;
      int f = file_of(s) + kDirStep[d][0], rk = rank_of(s) + kDirStep[d][1];
      while (f >= 0 && f < 8 && rk >= 0 && rk < 8) {
        r |= bit(make_square(f, rk));
        f += kDirStep[d][0];
        rk += kDirStep[d][1];
      }
      t.ray[d][s] = r;
    }
    t.rook_rays[s] = t.ray[DIR_N][s] | t.ray[DIR_S][s] | t.ray[DIR_E][s] | t.ray[DIR_W][s];
    t.bishop_rays[s] = t.ray[DIR_NE][s] | t.ray[DIR_NW][s] | t.ray[DIR_SE][s] | t.ray[DIR_SW][s];
  }
  for (int a = 0; a < 64; ++a) {
    for (int b = 0; b < 64; ++b) {
      t.between[a][b] = 0;
      for (int d = 0; d < 8; ++d) {
        if (t.ray[d][a] & bit(b)) t.between[a][b] = t.ray[d][a] & ~t.ray[d][b] & ~bit(b);
      }
    }
  }
  for (int f = 0; f < 8; ++f) {
    Bitboard adj = 0;
    if (f > 0) adj |= FILE_A << (f - 1);
    if (f < 7) adj |= FILE_A << (f + 1);
    t.adjacent_files[f] = adj;
  }
  for (int r = 0; r < 8; ++r) {
    t.ranks_above[r] = r == 7 ? 0 : ~Bitboard(0) << (8 * (r + 1));
    t.ranks_below[r] = r == 0 ? 0 : ~Bitboard(0) >> (8 * (8 - r));
  }
  for (int s = 0; s < 64; ++s) {
    Bitboard files = (FILE_A << file_of(s)) | t.adjacent_files[file_of(s)];
    t.passed_mask[WHITE][s] = files & t.ranks_above[rank_of(s)];
    t.passed_mask[BLACK][s] = files & t.ranks_below[rank_of(s)];
  }
#ifdef VORN_PEXT
  init_pext();
#endif
}

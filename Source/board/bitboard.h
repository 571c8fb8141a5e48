// Bit tricks and attack tables.  The tables are filled once by init_attacks()
// before anything else runs and are read-only afterwards.
#pragma once

#include "board/types.h"

using Bitboard = u64;

constexpr Bitboard bit(int sq) { return Bitboard(1) << sq; }

// Portable reference scans, kept for the tests that check the hardware versions.
int lsb_soft(Bitboard b);
int msb_soft(Bitboard b);
int popcount_soft(Bitboard b);

inline int lsb(Bitboard b) { return __builtin_ctzll(b); }
inline int msb(Bitboard b) { return 63 ^ __builtin_clzll(b); }
inline int popcount(Bitboard b) {
#if defined(__POPCNT__)
  return __builtin_popcountll(b);
#else
  return popcount_soft(b);
#endif
}
inline int pop_lsb(Bitboard& b) {
  int s = lsb(b);
  b &= b - 1;
  return s;
}

enum Direction { DIR_N, DIR_S, DIR_E, DIR_W, DIR_NE, DIR_NW, DIR_SE, DIR_SW };

struct AttackTables {
  Bitboard knight[64];
  Bitboard king[64];
  Bitboard pawn[2][64];
  Bitboard ray[8][65];      // entry 64 is empty so a sentinel lookup is harmless
  Bitboard rook_rays[64];
  Bitboard bishop_rays[64];
  Bitboard between[64][64];
  Bitboard side_neighbours[64];
  Bitboard passed_mask[2][64];
  Bitboard adjacent_files[8];
  Bitboard ranks_above[8];
  Bitboard ranks_below[8];
  u8 high_bit[256];
  u8 byte_pop[256];
};

extern AttackTables g_attacks;

void init_attacks();

inline Bitboard knight_attacks(int sq) { return g_attacks.knight[sq]; }
inline Bitboard king_attacks(int sq) { return g_attacks.king[sq]; }
inline Bitboard pawn_attacks(int colour, int sq) { return g_attacks.pawn[colour][sq]; }
inline Bitboard between(int a, int b) { return g_attacks.between[a][b]; }
inline Bitboard rook_rays(int sq) { return g_attacks.rook_rays[sq]; }
inline Bitboard bishop_rays(int sq) { return g_attacks.bishop_rays[sq]; }

// Ray-and-first-blocker sliding attacks: the reference method.
Bitboard rook_attacks_ray(int sq, Bitboard occ);
Bitboard bishop_attacks_ray(int sq, Bitboard occ);

#if defined(__BMI2__) && !defined(VORN_NO_PEXT)
#include <immintrin.h>
#define VORN_PEXT 1
struct PextSlider {
  Bitboard mask;
  const Bitboard* table;
};
extern PextSlider g_rook_pext[64];
extern PextSlider g_bishop_pext[64];
inline Bitboard rook_attacks(int sq, Bitboard occ) {
  const PextSlider& s = g_rook_pext[sq];
  return s.table[_pext_u64(occ, s.mask)];
}
inline Bitboard bishop_attacks(int sq, Bitboard occ) {
  const PextSlider& s = g_bishop_pext[sq];
  return s.table[_pext_u64(occ, s.mask)];
}
#else
inline Bitboard rook_attacks(int sq, Bitboard occ) { return rook_attacks_ray(sq, occ); }
inline Bitboard bishop_attacks(int sq, Bitboard occ) { return bishop_attacks_ray(sq, occ); }
#endif

inline Bitboard queen_attacks(int sq, Bitboard occ) { return rook_attacks(sq, occ) | bishop_attacks(sq, occ); }

constexpr Bitboard FILE_A = 0x0101010101010101ULL;
constexpr Bitboard FILE_H = 0x8080808080808080ULL;
constexpr Bitboard RANK_1 = 0xFFULL;
constexpr Bitboard RANK_8 = 0xFF00000000000000ULL;
constexpr Bitboard SEVENTH_RANK[2] = {0x00FF000000000000ULL, 0x000000000000FF00ULL};

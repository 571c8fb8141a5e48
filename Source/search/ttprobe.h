// Probing and storing the shared transposition table.
#pragma once

#include "board/position.h"
#include "search/stack.h"
#include "search/tt.h"

// A copy of the verified entry of a position and the slot it came from;
// false when there is none.
struct TTHit {
  TTSlot* slot = nullptr;
  TTEntry entry{};
  explicit operator bool() const { return slot != nullptr; }
  const TTEntry* operator->() const { return &entry; }
};
TTHit tt_probe(const Position& pos);
void tt_store(const Position& pos, int ply, int depth, Move move, int score, int alpha, int beta);
// Buckets are not aligned: three in four straddle two cache lines, and in a
// table far bigger than the caches each line is a miss of its own.
inline void tt_prefetch(u64 key) {
  if (!g_tt.buffer) return;
  const TTSlot* bucket = tt_bucket(key);
  __builtin_prefetch(bucket);
  __builtin_prefetch(bucket + TT_BUCKET - 1);
}
// Stored scores are node-relative: mate scores count from the node, not the root.
inline int score_to_tt(int score, int ply) {
  return score < -9699 ? score - ply : score > 9698 ? score + ply : score;
}
inline int score_from_tt(int score, int ply) {
  return score < MATE_BOUND_LOW ? score + ply : score > MATE_BOUND_HIGH ? score - ply : score;
}
inline u32 tt_check_word(u64 key, Move move, int stored_score) {
  return u32(key >> 32) ^ (u32(move) << 16) ^ u32(stored_score + 15000);
}
// Follows the table's moves from the position into pv[ply..] (console "pv").
void pv_from_table(Position& pos, int ply, u16* pv);

#include "search/ttprobe.h"

#include "board/movegen.h"
#include "search/control.h"

TTHit tt_probe(const Position& pos) {
  TTHit hit;
  if (!g_control.config.hash_enabled || !g_tt.buffer) return hit;
  const u64 key = pos.hash_key;
  const u32 low = u32(key);
  TTSlot* bucket = tt_bucket(key);
  for (int i = 0; i < TT_BUCKET; ++i) {
    if (bucket[i].key_low() != low) continue;
    const TTEntry e = bucket[i].load();
    // Only the first matching entry counts; a torn or colliding one fails here.
    if (e.key_low == low && e.check == tt_check_word(key, e.move, e.score)) {
      hit.slot = &bucket[i];
      hit.entry = e;
    }
    return hit;
  }
  return hit;
}

void tt_store(const Position& pos, int ply, int depth, Move move, int score, int alpha, int beta) {
  if (!g_control.config.hash_enabled || !g_tt.buffer) return;
  const u8 bound = score <= alpha ? BOUND_UPPER : score < beta ? BOUND_EXACT : BOUND_LOWER;
  const int stored = score_to_tt(score, ply);
  const u64 key = pos.hash_key;
  const u32 low = u32(key);
  const u8 age = u8(g_control.config.tt_age);
  TTSlot* bucket = tt_bucket(key);
  int slot = -1;
  for (int i = 0; i < TT_BUCKET; ++i) {
    if (bucket[i].key_low() == low) {
      // A much deeper result for the same position survives unless the
      // fifty-move counter has grown since it was written.
      const TTEntry e = bucket[i].load();
      if (e.depth - 3 > depth && pos.fifty_count <= e.fifty) return;
      slot = i;
      break;
    }
  }
  if (slot < 0) {
    for (int i = 0; i < TT_BUCKET; ++i)
      if (bucket[i].load().age != age) {
        slot = i;
        break;
      }
  }
  if (slot < 0) {
    slot = 0;
    int slot_depth = bucket[0].load().depth;
    for (int i = 1; i < TT_BUCKET; ++i)
      if (int d = bucket[i].load().depth; d < slot_depth) {
        slot = i;
        slot_depth = d;
      }
    if (slot_depth - 7 > depth) return;
  }
  TTEntry e;
  e.key_low = low;
  e.check = tt_check_word(key, move, stored);
  e.move = move;
  e.score = i16(stored);
  e.depth = i8(depth < -128 ? -128 : depth > 127 ? 127 : depth);
  e.bound = bound;
  e.age = age;
  e.fifty = pos.fifty_count;
  bucket[slot].store(e);
}

namespace {
// Two earlier occurrences of the position within the fifty-move span.
bool repeats_twice(const Position& pos) {
  const GameHistory& h = *pos.owner;
  int count = h.history_count, limit = pos.fifty_count < count ? pos.fifty_count : count, seen = 0;
  for (int back = 4; back <= limit; back += 2)
    if (h.entries[count - back].key == pos.hash_key && ++seen >= 2) return true;
  return false;
}
}  // namespace

void pv_from_table(Position& pos, int ply, u16* pv) {
  if (pv[ply] == 0) {
    TTHit e = tt_probe(pos);
    if (!e || e->depth < 1 || e->move == 0) return;
    pv[ply] = e->move;
  }
  if (pos.fifty_count > 99 && no_legal_moves(pos)) return;
  if (pos.fifty_count > 3 && repeats_twice(pos)) return;
  Move m = pv[ply];
  if (!is_pseudo_legal(pos, pos.side, m) || !is_legal(pos, pos.side, m)) {
    pv[ply] = 0;
    return;
  }
  make_move(pos, m);
  if (ply + 1 <= MAX_LINE_MOVES) pv_from_table(pos, ply + 1, pv);
  unmake_move(pos);
}

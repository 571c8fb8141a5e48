#include "fathom/tbprobe.h"

#include <cstdio>
#include <cstdlib>

#include "board/movegen.h"
#include "fathom/tbcore.h"

namespace {

constexpr int WDL_TO_DTZ[5] = {-1, -101, 0, 101, 1};
constexpr int WDL_TO_MAP[5] = {1, 3, 0, 2, 0};
constexpr u8 PA_FLAGS[5] = {8, 0, 0, 0, 4};
constexpr int BEST_NONE = 0xFFFF;

int g_depth5 = 0, g_depth6 = 2;

bool is_capture(const Position& pos, Move m) {
  return pos.board[move_to(m)] != 0 ||
         (type_of(pos.board[move_from(m)]) == PAWN && file_of(move_from(m)) != file_of(move_to(m)));
}
bool is_pawn_move(const Position& pos, Move m) { return type_of(pos.board[move_from(m)]) == PAWN; }
bool is_en_passant(const Position& pos, Move m) {
  return is_pawn_move(pos, m) && move_to(m) == pos.ep_square && pos.board[move_to(m)] == 0;
}

// Which stored side to read and whether the colours (and, with pawns, the
// ranks) are exchanged: the table's own material may be the position's
// mirror image.
struct Orientation {
  bool flip;
  int bside;
};
Orientation orientation(const TBEntry& e, u64 key, const Position& pos) {
  if (e.symmetric) return {pos.side == BLACK, 0};
  if (key == e.key) return {false, pos.side == BLACK};
  return {true, pos.side == WHITE};
}

// Gathers the squares in the stream's piece order; for pawn tables picks the
// leading-pawn file first.  Returns the stream or null.
const EncodeInfo* gather(const TBEntry& e, const TableData& t, const Position& pos, Orientation o, int side_index,
                         int* p, int& file) {
  const int flip = o.flip ? 1 : 0, sq_flip = o.flip ? 0x38 : 0;
  int i = 0;
  file = 0;
  if (e.has_pawns) {
    int lead = t.enc[0][0].pieces[0];
    u64 bb = pos.pieces[colour_of(lead) ^ flip][type_of(lead)];
    while (bb && i < e.num) p[i++] = pop_lsb(bb) ^ sq_flip;
    if (i == 0) return nullptr;
    file = pawn_file(e, p);
  }
  const EncodeInfo& ei = t.enc[file][side_index];
  while (i < e.num) {
    int pc = ei.pieces[i];
    u64 bb = pos.pieces[colour_of(pc) ^ flip][type_of(pc)];
    if (!bb) return nullptr;
    while (bb && i < e.num) p[i++] = pop_lsb(bb) ^ sq_flip;
  }
  return &ei;
}

bool load_wdl(TBEntry& e) {
  FileMapping map;
  if (!map_tb_file(e.name, ".rtbw", map)) {
    std::fprintf(stderr, "Could not find %s.rtbw\n", e.name);
    return false;
  }
  e.wdl.map = map;
  if (!init_table(e, e.wdl, true)) {
    report_damage(e, ".rtbw");
    release_mapping(e.wdl.map);
    e.wdl = TableData{};
    return false;
  }
  return true;
}

int probe_wdl_table(const Position& pos, int& success) {
  const u64 key = material_key(pos, false);
  if (key == 0) return 0;  // kings only
  TBEntry* e = find_entry(key);
  if (!e || e->failed.load(std::memory_order_acquire)) {
    success = 0;
    return 0;
  }
  if (!e->ready.load(std::memory_order_acquire)) {
    Mutex& m = tb_load_mutex();
    m.lock();
    if (!e->ready.load(std::memory_order_relaxed) && !e->failed.load(std::memory_order_relaxed)) {
      if (load_wdl(*e))
        e->ready.store(true, std::memory_order_release);
      else
        e->failed.store(true, std::memory_order_release);
    }
    m.unlock();
    if (!e->ready.load(std::memory_order_acquire)) {
      success = 0;
      return 0;
    }
  }
  const Orientation o = orientation(*e, key, pos);
  const int side_index = e->wdl.split ? o.bside : 0;
  if (o.bside && !e->wdl.split && !e->symmetric) {
    report_damage(*e, ".rtbw");
    success = 0;
    return 0;
  }
  int p[TB_MAX_MEN];
  int file;
  u64 index;
  const EncodeInfo* ei = gather(*e, e->wdl, pos, o, side_index, p, file);
  bool ok = ei && (e->has_pawns ? encode_pawn(*e, *ei, p, index) : encode_piece(*e, *ei, p, index));
  int v = ok ? decompress_pairs(ei->pairs, index, e->wdl) : -1;
  if (v < 0 || v > 4) {
    report_damage(*e, ".rtbw");
    success = 0;
    return 0;
  }
  return v - 2;
}

// The most recently used DTZ table first; the table of a material that has
// no DTZ file (or a damaged one) stays cached as missing.
DTZCacheSlot* find_dtz(u64 key) {
  DTZCacheSlot* cache = g_tb.dtz_cache;
  if (cache[0].entry && (cache[0].key1 == key || cache[0].key2 == key)) return &cache[0];
  for (int i = 1; i < DTZ_CACHE_SIZE; ++i)
    if (cache[i].entry && cache[i].key1 == key) {
      DTZCacheSlot s = cache[i];
      for (int j = i; j > 0; --j) cache[j] = cache[j - 1];
      cache[0] = s;
      return &cache[0];
    }
  TBEntry* e = find_entry(key);
  if (!e) return nullptr;
  DTZCacheSlot& last = cache[DTZ_CACHE_SIZE - 1];
  if (last.table) {
    release_mapping(last.table->map);
    delete last.table;
  }
  for (int j = DTZ_CACHE_SIZE - 1; j > 0; --j) cache[j] = cache[j - 1];
  u8 counts[16] = {};
  for (int c = 0; c < 2; ++c)
    for (int t = PAWN; t <= QUEEN; ++t) counts[c * 8 + t] = e->counts[c * 8 + t];
  u64 own = material_key(counts, false), other = material_key(counts, true);
  cache[0] = DTZCacheSlot{key, key == own ? other : own, nullptr, e};
  auto* table = new TableData;
  if (map_tb_file(e->name, ".rtbz", table->map)) {
    if (init_table(*e, *table, false)) {
      cache[0].table = table;
      return &cache[0];
    }
    report_damage(*e, ".rtbz");
    release_mapping(table->map);
  }
  delete table;
  return &cache[0];
}

// success: 1 answered, 0 failed, -1 the table stores the other side only.
int probe_dtz_table(const Position& pos, int wdl, int& success) {
  const u64 key = material_key(pos, false);
  DTZCacheSlot* slot = find_dtz(key);
  if (!slot || !slot->table) {
    success = 0;
    return 0;
  }
  const TBEntry& e = *slot->entry;
  const TableData& t = *slot->table;
  const Orientation o = orientation(e, key, pos);
  int p[TB_MAX_MEN];
  int file = 0;
  if (e.has_pawns) {
    // The stored side is known only once the leading-pawn file is.
    int lead = t.enc[0][0].pieces[0];
    u64 bb = pos.pieces[colour_of(lead) ^ (o.flip ? 1 : 0)][type_of(lead)];
    int q[TB_MAX_MEN], n = 0;
    while (bb && n < e.num) q[n++] = pop_lsb(bb) ^ (o.flip ? 0x38 : 0);
    if (n == 0) {
      success = 0;
      return 0;
    }
    file = pawn_file(e, q);
    if ((t.flags[file] & 1) != o.bside) {
      success = -1;
      return 0;
    }
  } else if ((t.flags[0] & 1) != o.bside && !e.symmetric) {
    success = -1;
    return 0;
  }
  u64 index;
  const EncodeInfo* ei = gather(e, t, pos, o, 0, p, file);
  bool ok = ei && (e.has_pawns ? encode_pawn(e, *ei, p, index) : encode_piece(e, *ei, p, index));
  int res = ok ? decompress_pairs(ei->pairs, index, t) : -1;
  if (res < 0) {
    report_damage(*slot->entry, ".rtbz");
    success = 0;
    return 0;
  }
  const u8 flags = t.flags[file];
  if (flags & 2) {
    const u8* at = t.map_base + t.map_idx[file][WDL_TO_MAP[wdl + 2]] + res;
    if (at >= t.map.data + t.map.size) {
      report_damage(*slot->entry, ".rtbz");
      success = 0;
      return 0;
    }
    res = *at;
  }
  if (!(flags & PA_FLAGS[wdl + 2]) || (wdl & 1)) res *= 2;
  success = 1;
  return res;
}

// WDL with captures (and promotions) resolved by search, en passant left out.
int probe_ab(Position& pos, int alpha, int beta, int& success) {
  MoveEntry list[MAX_MOVES];
  MoveEntry* end = gen_captures(pos, pos.side, list, NO_SQUARE);
  end = gen_promotions(pos, pos.side, end, true);
  for (MoveEntry* e = list; e < end; ++e) {
    const Move m = e->move;
    if (pos.board[move_to(m)] == 0 && !is_promotion(m)) continue;  // en passant
    if (!is_legal(pos, pos.side, m)) continue;
    make_move(pos, m);
    int v = -probe_ab(pos, -beta, -alpha, success);
    unmake_move(pos);
    if (!success) return 0;
    if (v > alpha) {
      if (v >= beta) {
        success = 2;
        return v;
      }
      alpha = v;
    }
  }
  int v = probe_wdl_table(pos, success);
  if (!success) return 0;
  if (alpha >= v) {
    success = 1 + (alpha > 0);
    return alpha;
  }
  success = 1;
  return v;
}

// Best result of the en-passant captures (-3 when there is none), and
// whether another legal move exists.
int best_en_passant(Position& pos, int& success, bool& other_move) {
  Move moves[MAX_MOVES];
  const int n = gen_legal(pos, moves);
  int best = -3;
  other_move = false;
  for (int k = 0; k < n; ++k) {
    if (!is_en_passant(pos, moves[k])) {
      other_move = true;
      continue;
    }
    make_move(pos, moves[k]);
    int v = -probe_ab(pos, -2, 2, success);
    unmake_move(pos);
    if (!success) return 0;
    if (v > best) best = v;
  }
  return best;
}

int probe_wdl_pos(Position& pos, int& success) {
  success = 1;
  int v = probe_ab(pos, -2, 2, success);
  if (!success || pos.ep_square == NO_SQUARE) return v;
  bool other;
  int ep = best_en_passant(pos, success, other);
  if (!success) return 0;
  success = 1;
  if (ep == -3) return v;
  if (ep >= v) return ep;
  if (v == 0 && !other) return ep;
  return v;
}

int probe_dtz_pos(Position& pos, int& success);

int probe_dtz_no_ep(Position& pos, int& success) {
  success = 1;
  const int wdl = probe_ab(pos, -2, 2, success);
  if (!success) return 0;
  if (wdl == 0) return 0;
  if (success == 2) return wdl == 2 ? 1 : 101;
  Move moves[MAX_MOVES];
  const int n = gen_legal(pos, moves);
  if (wdl > 0) {
    // A pawn push that keeps the win zeroes at once.  After a double step
    // the other side may take en passant, so the position after the push
    // needs the full probe.
    for (int k = 0; k < n; ++k) {
      const Move m = moves[k];
      if (!is_pawn_move(pos, m) || is_capture(pos, m)) continue;
      make_move(pos, m);
      int v = -probe_wdl_pos(pos, success);
      unmake_move(pos);
      if (!success) return 0;
      if (v == wdl) return wdl == 2 ? 1 : 101;
    }
  }
  int dtz = 1 + probe_dtz_table(pos, wdl, success);
  if (success > 0) {
    if (wdl & 1) dtz += 100;
    return wdl >= 0 ? dtz : -dtz;
  }
  if (success == 0) return 0;
  success = 1;
  // The table holds the other side to move: one ply of search.
  if (wdl > 0) {
    int best = BEST_NONE;
    for (int k = 0; k < n; ++k) {
      const Move m = moves[k];
      if (is_pawn_move(pos, m) || is_capture(pos, m)) continue;
      make_move(pos, m);
      int v = -probe_dtz_pos(pos, success);
      unmake_move(pos);
      if (!success) return 0;
      if (v > 0 && v + 1 < best) best = v + 1;
    }
    if (best == BEST_NONE) success = 0;  // impossible with sound tables
    return best;
  }
  int best = -1;
  for (int k = 0; k < n; ++k) {
    const Move m = moves[k];
    int v;
    if (is_pawn_move(pos, m) || is_capture(pos, m)) {
      if (wdl == -2) {
        v = -1;
      } else {
        make_move(pos, m);
        v = probe_wdl_pos(pos, success);
        unmake_move(pos);
        v = v == 2 ? 0 : -101;
      }
    } else {
      make_move(pos, m);
      v = -probe_dtz_pos(pos, success) - 1;
      unmake_move(pos);
    }
    if (!success) return 0;
    if (v < best) best = v;
  }
  return best;
}

int probe_dtz_pos(Position& pos, int& success) {
  int v = probe_dtz_no_ep(pos, success);
  if (!success || pos.ep_square == NO_SQUARE) return v;
  bool other;
  int ep = best_en_passant(pos, success, other);
  if (!success) return 0;
  success = 1;
  if (ep == -3) return v;
  const int v1 = WDL_TO_DTZ[ep + 2];
  if (v < -100) {
    if (v1 >= 0) v = v1;
  } else if (v < 0) {
    if (v1 >= 0 || v1 < -100) v = v1;
  } else if (v > 100) {
    if (v1 > 0) v = v1;
  } else if (v > 0) {
    if (v1 == 1) v = v1;
  } else if (v1 >= 0) {
    v = v1;
  } else if (!other) {
    v = v1;
  }
  return v;
}

// With the side not to move in check the capture search would take a king.
bool king_capturable(const Position& pos) {
  return is_attacked(pos, pos.king_square[pos.side ^ 1], pos.side);
}

// Positions the tables cannot hold are refused before any lookup.
bool plausible(const Position& pos) {
  if (popcount(pos.pieces[WHITE][KING]) != 1 || popcount(pos.pieces[BLACK][KING]) != 1) return false;
  const u64 pawns = pos.pieces[WHITE][PAWN] | pos.pieces[BLACK][PAWN];
  if (pawns & 0xFF000000000000FFull) return false;
  const int wk = pos.king_square[WHITE], bk = pos.king_square[BLACK];
  if (std::abs(file_of(wk) - file_of(bk)) <= 1 && std::abs(rank_of(wk) - rank_of(bk)) <= 1) return false;
  return !is_attacked(pos, pos.king_square[pos.side ^ 1], pos.side);
}

}  // namespace

int probe_wdl(const Position& root, int& success) {
  if (king_capturable(root)) return success = 0;
  Position pos = root;
  return probe_wdl_pos(pos, success);
}

int probe_dtz(const Position& root, int& success) {
  if (king_capturable(root)) return success = 0;
  Position pos = root;
  success = 1;
  return probe_dtz_pos(pos, success);
}

void set_tb_probe_depths(int depth5, int depth6) {
  g_depth5 = depth5;
  g_depth6 = depth6;
}

int probe_tb_wdl(const Position& pos, int depth) {
  if (g_depth5 > depth) return -1;
  const int n = popcount(pos.occupied());
  if (unsigned(n) > tb_largest) return -1;
  if (n >= 6 && (n == 6 ? g_depth6 : 100) > depth) return -1;
  if (pos.castle_rights != 0) return -1;
  int success;
  int v = probe_wdl(pos, success);
  return success ? v + 2 : -1;
}

RootTbResult probe_tb_root(const Position& root) {
  RootTbResult none{-1, 0, 0, 0};
  if (tb_largest == 0 || root.castle_rights != 0 || unsigned(popcount(root.occupied())) > tb_largest) return none;
  if (!plausible(root)) return none;
  Position pos = root;
  int success;
  const int dtz = probe_dtz(pos, success);
  if (!success) return none;
  Move moves[MAX_MOVES];
  int values[MAX_MOVES];
  const int n = gen_legal(pos, moves);
  int draws = 0;
  for (int k = 0; k < n; ++k) {
    const Move m = moves[k];
    const bool zeroing = is_pawn_move(pos, m) || is_capture(pos, m);
    make_move(pos, m);
    int v;
    Move replies[MAX_MOVES];
    if (dtz > 0 && in_check(pos) && gen_legal(pos, replies) == 0) {
      v = 1;
    } else if (!zeroing) {
      v = -probe_dtz_pos(pos, success);
      v += v > 0 ? 1 : v < 0 ? -1 : 0;
    } else {
      v = probe_wdl_pos(pos, success);
      v = WDL_TO_DTZ[-v + 2];
    }
    unmake_move(pos);
    if (!success) return none;
    values[k] = v;
    if (v == 0) ++draws;
  }
  int chosen = -1;
  if (dtz > 0) {
    for (int k = 0; k < n; ++k)
      if (values[k] > 0 && (chosen < 0 || values[k] < values[chosen])) chosen = k;
  } else if (dtz < 0) {
    for (int k = 0; k < n; ++k)
      if (chosen < 0 || values[k] < values[chosen]) chosen = k;
  } else if (draws > 0) {
    // The same drawing move every time for the same material and side.
    u64 pick = material_key(root, root.side == BLACK) % u64(draws);
    for (int k = 0; k < n; ++k)
      if (values[k] == 0 && pick-- == 0) {
        chosen = k;
        break;
      }
  }
  if (chosen < 0 || moves[chosen] == 0) return none;
  const int c = root.fifty_count;
  int wdl = 2;
  if (dtz > 0) wdl = dtz + c <= 100 ? 4 : 3;
  if (dtz < 0) wdl = -dtz + c <= 100 ? 0 : 1;
  int score = wdl == 4 ? 9799 : wdl == 0 ? -9800 : 0;
  return RootTbResult{wdl, moves[chosen], score, dtz < 0 ? -dtz : dtz};
}

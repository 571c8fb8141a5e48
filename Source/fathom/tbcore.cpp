#include "fathom/tbcore.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/output.h"

TBState g_tb;
unsigned tb_largest = 0;

namespace {

// Multipliers of the material key, by piece code (kings do not enter).
constexpr u64 KEY_MULT[16] = {0,
                              0xEC0ADE190C0F6003ull,  // white pawn
                              0xD2FB81862830191Full,  // white knight
                              0xAADC1A2BE446234Dull,  // white bishop
                              0x985DEB9FC49333F9ull,  // white rook
                              0xA3EC1ABC71E90863ull,  // white queen
                              0, 0, 0,
                              0xA24F0F571BB202E7ull,  // black pawn
                              0xBAEB854CD3259441ull,  // black knight
                              0xD5A4C95928F2FBE3ull,  // black bishop
                              0xFD7866B439B94495ull,  // black rook
                              0xD6E4E47D24962951ull,  // black queen
                              0, 0};

// Square tables of the published indexing.  The first king (or the first
// unique piece) is brought into the a1-d1-d4 triangle; pawns are indexed
// from the leading pawn's file a-d.
constexpr u8 TRIANGLE[64] = {6, 0, 1, 2, 2, 1, 0, 6, 0, 7, 3, 4, 4, 3, 7, 0, 1, 3, 8, 5, 5, 8,
                             3, 1, 2, 4, 5, 9, 9, 5, 4, 2, 2, 4, 5, 9, 9, 5, 4, 2, 1, 3, 8, 5,
                             5, 8, 3, 1, 0, 7, 3, 4, 4, 3, 7, 0, 6, 0, 1, 2, 2, 1, 0, 6};
constexpr u8 LOWER[64] = {28, 0,  1,  2,  3,  4,  5,  6,  0,  29, 7,  8,  9,  10, 11, 12,
                          1,  7,  30, 13, 14, 15, 16, 17, 2,  8,  13, 31, 18, 19, 20, 21,
                          3,  9,  14, 18, 32, 22, 23, 24, 4,  10, 15, 19, 22, 33, 25, 26,
                          5,  11, 16, 20, 23, 25, 34, 27, 6,  12, 17, 21, 24, 26, 27, 35};
constexpr u8 DIAG[64] = {0, 0, 0, 0,  0,  0, 0,  8, 0, 1,  0, 0, 0, 0,  9, 0, 0, 0, 2, 0,  0, 10,
                         0, 0, 0, 0,  0,  3, 11, 0, 0, 0,  0, 0, 0, 12, 4, 0, 0, 0, 0, 0, 13, 0,
                         0, 5, 0, 0,  0,  14, 0, 0, 0, 0, 6, 0, 15, 0, 0, 0, 0, 0, 0, 7};
constexpr u8 FLAP[64] = {0, 0,  0,  0,  0,  0,  0,  0, 0, 6,  12, 18, 18, 12, 6,  0,
                         1, 7,  13, 19, 19, 13, 7,  1, 2, 8,  14, 20, 20, 14, 8,  2,
                         3, 9,  15, 21, 21, 15, 9,  3, 4, 10, 16, 22, 22, 16, 10, 4,
                         5, 11, 17, 23, 23, 17, 11, 5, 0, 0,  0,  0,  0,  0,  0,  0};
constexpr u8 PTWIST[64] = {0,  0,  0,  0,  0,  0,  0,  0,  47, 35, 23, 11, 10, 22, 34, 46,
                           45, 33, 21, 9,  8,  20, 32, 44, 43, 31, 19, 7,  6,  18, 30, 42,
                           41, 29, 17, 5,  4,  16, 28, 40, 39, 27, 15, 3,  2,  14, 26, 38,
                           37, 25, 13, 1,  0,  12, 24, 36, 0,  0,  0,  0,  0,  0,  0,  0};
constexpr u8 INVFLAP[24] = {8,  16, 24, 32, 40, 48, 9,  17, 25, 33, 41, 49,
                            10, 18, 26, 34, 42, 50, 11, 19, 27, 35, 43, 51};
constexpr int FILE_TO_FILE[8] = {0, 1, 2, 3, 3, 2, 1, 0};
constexpr u64 PIVFAC[3] = {31332, 28056, 462};

u64 g_binomial[5][64];  // g_binomial[k - 1][n] = n choose k
u64 g_pawnidx[5][24];
u64 g_pfactor[5][4];
int g_kk_idx[10][64];
Mutex g_load_mutex;

int offdiag(int sq) { return rank_of(sq) > file_of(sq) ? 1 : rank_of(sq) < file_of(sq) ? -1 : 0; }
int flipdiag(int sq) { return file_of(sq) * 8 + rank_of(sq); }

void init_indices() {
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 64; ++j) {
      u64 f = 1, l = 1;
      for (int k = 0; k <= i; ++k) {
        f *= u64(j - k < 0 ? 0 : j - k);
        l *= u64(k + 1);
      }
      g_binomial[i][j] = f / l;
    }
  for (int i = 0; i < 5; ++i) {
    int j = 0;
    for (int file = 0; file < 4; ++file) {
      u64 s = 0;
      for (int r = 0; r < 6; ++r, ++j) {
        g_pawnidx[i][j] = s;
        s += i == 0 ? 1 : g_binomial[i - 1][PTWIST[INVFLAP[j]]];
      }
      g_pfactor[i][file] = s;
    }
  }
  // Two kings: the first in the triangle; when it stands on the diagonal
  // the second may not be above it.  Both on the diagonal come last.
  int code = 0;
  int deferred[64][2], nd = 0;
  for (int idx = 0; idx < 10; ++idx) {
    int s1 = 0;
    for (int sq = 0; sq < 64; ++sq)
      if (file_of(sq) <= 3 && rank_of(sq) <= file_of(sq) && TRIANGLE[sq] == idx) s1 = sq;
    for (int s2 = 0; s2 < 64; ++s2) {
      g_kk_idx[idx][s2] = -1;
      int df = file_of(s1) - file_of(s2), dr = rank_of(s1) - rank_of(s2);
      if (df >= -1 && df <= 1 && dr >= -1 && dr <= 1) continue;
      if (offdiag(s1) == 0 && offdiag(s2) > 0) continue;
      if (offdiag(s1) == 0 && offdiag(s2) == 0) {
        deferred[nd][0] = idx;
        deferred[nd++][1] = s2;
      } else {
        g_kk_idx[idx][s2] = code++;
      }
    }
  }
  for (int i = 0; i < nd; ++i) g_kk_idx[deferred[i][0]][deferred[i][1]] = code++;
}

u16 le16(const u8* p) { return u16(p[0] | (p[1] << 8)); }
u32 le32(const u8* p) { return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24); }

void print_release_failure(const char* what) {
  std::fprintf(stderr, "%s failed, error code %d", what, errno);
}

// The piece list of a stream must hold exactly the table's pieces, or the
// squares gathered for it would not match the encoding.
bool pieces_match(const TBEntry& e, const u8* pieces) {
  u8 seen[16] = {};
  for (int i = 0; i < e.num; ++i) {
    if (pieces[i] > 15) return false;
    ++seen[pieces[i]];
  }
  if (std::memcmp(seen, e.counts, 16) != 0) return false;
  if (e.has_pawns) {
    for (int i = 0; i < e.pawns[0]; ++i)
      if (pieces[i] != pieces[0] || type_of(pieces[0]) != PAWN) return false;
    if (e.counts[pieces[0]] != e.pawns[0]) return false;
  }
  return true;
}

u64 subfactor(u64 k, u64 n) {
  u64 f = n, l = 1;
  for (u64 i = 1; i < k; ++i) {
    f *= n - i;
    l *= i + 1;
  }
  return f / l;
}

bool setup_norm_piece(const TBEntry& e, EncodeInfo& ei, int order) {
  std::memset(ei.norm, 0, sizeof ei.norm);
  ei.norm[0] = e.enc_type == 0 ? 3 : 2;
  for (int i = ei.norm[0]; i < e.num; i += ei.norm[i])
    for (int j = i; j < e.num && ei.pieces[j] == ei.pieces[i]; ++j) ++ei.norm[i];
  int n = 64 - ei.norm[0];
  u64 f = 1;
  bool pivot = false;
  for (int i = ei.norm[0], k = 0; i < e.num || k == order; ++k) {
    if (k == order) {
      ei.factor[0] = f;
      f *= PIVFAC[e.enc_type];
      pivot = true;
    } else {
      ei.factor[i] = f;
      f *= subfactor(ei.norm[i], u64(n));
      n -= ei.norm[i];
      i += ei.norm[i];
    }
  }
  ei.size = f;
  return pivot;
}

bool setup_norm_pawn(const TBEntry& e, EncodeInfo& ei, int order, int order2, int file) {
  std::memset(ei.norm, 0, sizeof ei.norm);
  ei.norm[0] = e.pawns[0];
  if (e.pawns[1]) ei.norm[e.pawns[0]] = e.pawns[1];
  for (int i = e.pawns[0] + e.pawns[1]; i < e.num; i += ei.norm[i])
    for (int j = i; j < e.num && ei.pieces[j] == ei.pieces[i]; ++j) ++ei.norm[i];
  int i = ei.norm[0];
  if (order2 < 0x0f) i += ei.norm[i];
  int n = 64 - i;
  u64 f = 1;
  bool lead = false, second = order2 >= 0x0f;
  for (int k = 0; i < e.num || k == order || k == order2; ++k) {
    if (k == order) {
      ei.factor[0] = f;
      f *= g_pfactor[ei.norm[0] - 1][file];
      lead = true;
    } else if (k == order2) {
      ei.factor[ei.norm[0]] = f;
      f *= subfactor(ei.norm[ei.norm[0]], u64(48 - ei.norm[0]));
      second = true;
    } else {
      ei.factor[i] = f;
      f *= subfactor(ei.norm[i], u64(n));
      n -= ei.norm[i];
      i += ei.norm[i];
    }
    if (k > 16) return false;
  }
  ei.size = f;
  return lead && second;
}

// Reads one stream's decoding header at pos; false when it does not fit.
bool setup_pairs(const u8* base, size_t size, size_t& pos, PairsData& d, u64 tb_size, bool wdl, u8& flags,
                 u64 sizes[3]) {
  sizes[0] = sizes[1] = sizes[2] = 0;
  if (pos + 2 > size) return false;
  const u8* p = base + pos;
  flags = p[0];
  if (p[0] & 0x80) {
    d.constant = wdl ? p[1] : 0;
    pos += 2;
    return true;
  }
  if (pos + 12 > size) return false;
  d.blocksize = p[1];
  d.idxbits = p[2];
  u32 real_blocks = le32(p + 4);
  d.num_blocks = real_blocks + p[3];
  d.max_len = p[8];
  d.min_len = p[9];
  if (d.min_len < 1 || d.max_len < d.min_len || d.max_len > 32 || d.blocksize > 24 || d.idxbits < 1 ||
      d.idxbits > 32)
    return false;
  int h = d.max_len - d.min_len + 1;
  if (pos + 12 + 2 * size_t(h) > size) return false;
  d.num_syms = le16(p + 10 + 2 * h);
  if (d.num_syms < 1 || d.num_syms > 4095) return false;
  size_t next = pos + 12 + 2 * size_t(h) + 3 * size_t(d.num_syms) + (d.num_syms & 1);
  if (next > size) return false;
  d.offset = p + 10;
  d.sympat = p + 12 + 2 * h;
  d.num_indices = (tb_size + (u64(1) << d.idxbits) - 1) >> d.idxbits;
  sizes[0] = 6 * d.num_indices;
  sizes[1] = 2 * u64(d.num_blocks);
  sizes[2] = u64(real_blocks) << d.blocksize;
  pos = next;

  // Symbol lengths, without recursion and refusing cycles.
  const int ns = d.num_syms;
  d.symlen.assign(size_t(ns), 0);
  std::vector<u8> state(size_t(ns), 0);  // 0 new, 1 open, 2 done
  std::vector<int> stack;
  for (int s = 0; s < ns; ++s) {
    if (state[s] == 2) continue;
    stack.push_back(s);
    while (!stack.empty()) {
      int t = stack.back();
      const u8* w = d.sympat + 3 * t;
      int s2 = (w[2] << 4) | (w[1] >> 4);
      if (s2 == 0x0fff) {
        d.symlen[t] = 0;
        state[t] = 2;
        stack.pop_back();
        continue;
      }
      int s1 = ((w[1] & 0x0f) << 8) | w[0];
      if (s1 >= ns || s2 >= ns) return false;
      state[t] = 1;
      if (state[s1] != 2) {
        if (state[s1] == 1) return false;
        stack.push_back(s1);
        continue;
      }
      if (state[s2] != 2) {
        if (state[s2] == 1) return false;
        stack.push_back(s2);
        continue;
      }
      int len = d.symlen[s1] + d.symlen[s2] + 1;
      if (len > 255) return false;
      d.symlen[t] = u8(len);
      state[t] = 2;
      stack.pop_back();
    }
  }
  d.base.assign(size_t(h), 0);
  for (int i = h - 2; i >= 0; --i)
    d.base[i] = (d.base[i + 1] + le16(d.offset + 2 * i) - le16(d.offset + 2 * (i + 1))) / 2;
  for (int i = 0; i < h; ++i) d.base[i] <<= 64 - (d.min_len + i);
  return true;
}

// Places a section of `bytes` at pos, moving pos past it.
bool take(size_t& pos, u64 bytes, size_t size, const u8* base, const u8*& out) {
  if (bytes > size || pos > size - bytes) return false;
  out = base + pos;
  pos += size_t(bytes);
  return true;
}

bool parse_name(const char* name, u8 counts[16]) {
  std::memset(counts, 0, 16);
  int colour = -1;
  for (const char* c = name; *c; ++c) {
    if (*c == 'v') {
      colour = BLACK;
      continue;
    }
    if (colour < 0) colour = WHITE;
    const char* letters = "PNBRQK";
    const char* f = std::strchr(letters, *c);
    if (!f) continue;
    ++counts[colour * 8 + int(f - letters) + 1];
  }
  return colour == BLACK;
}

void register_table(const char* name) {
  u8 counts[16];
  parse_name(name, counts);
  u64 key = material_key(counts, false), key2 = material_key(counts, true);
  bool pawns = counts[make_piece(WHITE, PAWN)] + counts[make_piece(BLACK, PAWN)] > 0;
  TBEntry* e;
  if (!pawns) {
    if (g_tb.num_piece == TBMAX_PIECE) {
      std::fprintf(stderr, "TBMAX_PIECE limit too low!\n");
      std::exit(1);
    }
    e = &g_tb.piece_entries[g_tb.num_piece++];
  } else {
    if (g_tb.num_pawn == TBMAX_PAWN) {
      std::fprintf(stderr, "TBMAX_PAWN limit too low!\n");
      std::exit(1);
    }
    e = &g_tb.pawn_entries[g_tb.num_pawn++];
  }
  e->key = key;
  std::snprintf(e->name, sizeof e->name, "%s", name);
  std::memcpy(e->counts, counts, 16);
  e->ready = false;
  e->damage_reported = false;
  e->failed = false;
  int num = 0, unique = 0;
  for (int i = 0; i < 16; ++i) {
    num += counts[i];
    if (counts[i] == 1) ++unique;
  }
  e->num = u8(num);
  e->symmetric = key == key2;
  e->has_pawns = pawns;
  if (!pawns) {
    e->enc_type = unique >= 3 ? 0 : 2;
  } else {
    int w = counts[make_piece(WHITE, PAWN)], b = counts[make_piece(BLACK, PAWN)];
    e->pawns[0] = u8(w);
    e->pawns[1] = u8(b);
    if (b > 0 && (w == 0 || b < w)) {
      e->pawns[0] = u8(b);
      e->pawns[1] = u8(w);
    }
  }
  if (unsigned(num) > tb_largest) tb_largest = unsigned(num);
  u64 keys[2] = {key, key2};
  for (int k = 0; k < (e->symmetric ? 1 : 2); ++k) {
    TBHashSlot* bucket = g_tb.hash[keys[k] >> 54];
    int i = 0;
    while (i < HSHMAX && bucket[i].entry) ++i;
    if (i == HSHMAX) {
      std::fprintf(stderr, "HSHMAX too low!\n");
      std::exit(1);
    }
    bucket[i].key = keys[k];
    bucket[i].entry = e;
  }
}

// Whether name + suffix exists in one of the directories.
bool tb_file_exists(const char* name, const char* suffix) {
  char file[260];
  for (const char* dir : g_tb.paths) {
    int n = std::snprintf(file, sizeof file, "%s/%s%s", dir, name, suffix);
    if (n < 0 || n >= int(sizeof file)) return false;
    if (file_readable(file)) return true;
  }
  return false;
}

void release_table(TableData& t) {
  release_mapping(t.map);
  t = TableData{};
}

void release_all() {
  for (int i = 0; i < g_tb.num_piece; ++i) release_table(g_tb.piece_entries[i].wdl);
  for (int i = 0; i < g_tb.num_pawn; ++i) release_table(g_tb.pawn_entries[i].wdl);
  for (DTZCacheSlot& s : g_tb.dtz_cache) {
    if (s.table) {
      release_table(*s.table);
      delete s.table;
    }
    s = DTZCacheSlot{0, 0, nullptr, nullptr};
  }
}

void clear_registry() {
  g_tb.num_piece = g_tb.num_pawn = 0;
  tb_largest = 0;
  std::memset(g_tb.hash, 0, sizeof g_tb.hash);
  for (DTZCacheSlot& s : g_tb.dtz_cache) s = DTZCacheSlot{0, 0, nullptr, nullptr};
}

}  // namespace

u64 material_key(const u8 counts[16], bool mirror) {
  u64 key = 0;
  for (int c = 0; c < 16; ++c) key += u64(counts[mirror ? c ^ 8 : c]) * KEY_MULT[c];
  return key;
}

u64 material_key(const Position& pos, bool mirror) {
  u8 counts[16] = {};
  for (int colour = 0; colour < 2; ++colour)
    for (int type = PAWN; type <= QUEEN; ++type) counts[colour * 8 + type] = u8(popcount(pos.pieces[colour][type]));
  return material_key(counts, mirror);
}

bool map_tb_file(const char* name, const char* suffix, FileMapping& out) {
  char file[260];
  out = FileMapping{};
  for (const char* dir : g_tb.paths) {
    int n = std::snprintf(file, sizeof file, "%s/%s%s", dir, name, suffix);
    if (n < 0 || n >= int(sizeof file)) return false;
    if (!file_readable(file)) continue;
    if (map_file(file, out)) return true;
    std::fprintf(stderr, "Could not map %s\n", file);
    return false;
  }
  return false;
}

void release_mapping(FileMapping& mapping) {
  if (mapping.data && !unmap_file(mapping)) print_release_failure("unmap");
  mapping = FileMapping{};
}

TBEntry* find_entry(u64 key) {
  TBHashSlot* bucket = g_tb.hash[key >> 54];
  for (int i = 0; i < HSHMAX; ++i)
    if (bucket[i].key == key && bucket[i].entry) return bucket[i].entry;
  return nullptr;
}

Mutex& tb_load_mutex() { return g_load_mutex; }

void report_damage(TBEntry& entry, const char* suffix) {
  if (!entry.damage_reported.exchange(true)) std::fprintf(stderr, "Corrupted table %s%s.\n", entry.name, suffix);
}

bool init_table(const TBEntry& e, TableData& t, bool wdl) {
  const u8* base = t.map.data;
  const size_t size = t.map.size;
  static const u8 WDL_MAGIC[4] = {0x71, 0xE8, 0x23, 0x5D}, DTZ_MAGIC[4] = {0xD7, 0x66, 0x0C, 0xA5};
  if (size < 6 || std::memcmp(base, wdl ? WDL_MAGIC : DTZ_MAGIC, 4) != 0) return false;
  if (bool(base[4] & 2) != e.has_pawns) return false;
  t.split = wdl && (base[4] & 1);
  t.files = e.has_pawns ? 4 : 1;
  const int sides = t.split ? 2 : 1;
  size_t pos = 5;
  if (!e.has_pawns) {
    if (pos + e.num + 1 > size) return false;
    for (int s = 0; s < (wdl ? 2 : 1); ++s) {
      EncodeInfo& ei = t.enc[0][s];
      for (int i = 0; i < e.num; ++i) ei.pieces[i] = u8(s ? base[pos + 1 + i] >> 4 : base[pos + 1 + i] & 0x0f);
      int order = s ? base[pos] >> 4 : base[pos] & 0x0f;
      if (!pieces_match(e, ei.pieces) || !setup_norm_piece(e, ei, order)) return false;
    }
    pos += e.num + 1;
  } else {
    const int s = 1 + (e.pawns[1] > 0);
    for (int f = 0; f < 4; ++f) {
      if (pos + e.num + s > size) return false;
      for (int side = 0; side < (wdl ? 2 : 1); ++side) {
        EncodeInfo& ei = t.enc[f][side];
        for (int i = 0; i < e.num; ++i) ei.pieces[i] = u8(side ? base[pos + s + i] >> 4 : base[pos + s + i] & 0x0f);
        int order = side ? base[pos] >> 4 : base[pos] & 0x0f;
        int order2 = e.pawns[1] ? (side ? base[pos + 1] >> 4 : base[pos + 1] & 0x0f) : 0x0f;
        if (!pieces_match(e, ei.pieces) || ei.pieces[0] != t.enc[0][0].pieces[0]) return false;
        if (!setup_norm_pawn(e, ei, order, order2, f)) return false;
      }
      pos += e.num + s;
    }
  }
  pos += pos & 1;
  u64 sizes[4][2][3];
  for (int f = 0; f < t.files; ++f)
    for (int s = 0; s < sides; ++s) {
      u8 flags = 0;
      if (!setup_pairs(base, size, pos, t.enc[f][s].pairs, t.enc[f][s].size, wdl, flags, sizes[f][s])) return false;
      if (!wdl) t.flags[f] = flags;
    }
  if (!wdl) {
    t.map_base = base + pos;
    for (int f = 0; f < t.files; ++f) {
      if (!(t.flags[f] & 2)) continue;
      for (int i = 0; i < 4; ++i) {
        if (pos >= size) return false;
        t.map_idx[f][i] = u16(base + pos + 1 - t.map_base);
        pos += 1 + base[pos];
      }
    }
    pos += pos & 1;
    if (pos > size) return false;
  }
  for (int f = 0; f < t.files; ++f)
    for (int s = 0; s < sides; ++s)
      if (!take(pos, sizes[f][s][0], size, base, t.enc[f][s].pairs.indextable)) return false;
  for (int f = 0; f < t.files; ++f)
    for (int s = 0; s < sides; ++s)
      if (!take(pos, sizes[f][s][1], size, base, t.enc[f][s].pairs.sizetable)) return false;
  for (int f = 0; f < t.files; ++f)
    for (int s = 0; s < sides; ++s) {
      pos = (pos + 0x3f) & ~size_t(0x3f);
      if (sizes[f][s][2] == 0) continue;
      if (!take(pos, sizes[f][s][2], size, base, t.enc[f][s].pairs.data)) return false;
    }
  return true;
}

// The pieces from i on, group by group: each group's squares, less the
// squares of the pieces placed before it, indexed as a sorted combination.
static bool add_piece_groups(const EncodeInfo& ei, int* p, int n, int i, u64 idx, u64& index) {
  while (i < n) {
    const int t = ei.norm[i];
    if (t < 1 || i + t > n) return false;
    for (int j = i; j < i + t; ++j)
      for (int k = j + 1; k < i + t; ++k)
        if (p[j] > p[k]) std::swap(p[j], p[k]);
    u64 s = 0;
    for (int m = i; m < i + t; ++m) {
      int j = 0;
      for (int l = 0; l < i; ++l) j += p[m] > p[l];
      if (m - i >= 5 || p[m] - j < 0 || p[m] - j >= 64) return false;
      s += g_binomial[m - i][p[m] - j];
    }
    idx += s * ei.factor[i];
    i += t;
  }
  index = idx;
  return true;
}

bool encode_piece(const TBEntry& e, const EncodeInfo& ei, int* p, u64& index) {
  const int n = e.num;
  if (p[0] & 0x04)
    for (int i = 0; i < n; ++i) p[i] ^= 0x07;
  if (p[0] & 0x20)
    for (int i = 0; i < n; ++i) p[i] ^= 0x38;
  int i = 0;
  while (i < n && !offdiag(p[i])) ++i;
  if (i < (e.enc_type == 0 ? 3 : 2) && offdiag(p[i]) > 0)
    for (int k = 0; k < n; ++k) p[k] = flipdiag(p[k]);
  u64 idx;
  if (e.enc_type == 0) {
    int a = p[1] > p[0];
    int b = (p[2] > p[0]) + (p[2] > p[1]);
    if (offdiag(p[0]))
      idx = TRIANGLE[p[0]] * 63 * 62 + (p[1] - a) * 62 + (p[2] - b);
    else if (offdiag(p[1]))
      idx = 6 * 63 * 62 + DIAG[p[0]] * 28 * 62 + LOWER[p[1]] * 62 + p[2] - b;
    else if (offdiag(p[2]))
      idx = 6 * 63 * 62 + 4 * 28 * 62 + DIAG[p[0]] * 7 * 28 + (DIAG[p[1]] - a) * 28 + LOWER[p[2]];
    else
      idx = 6 * 63 * 62 + 4 * 28 * 62 + 4 * 7 * 28 + DIAG[p[0]] * 7 * 6 + (DIAG[p[1]] - a) * 6 + (DIAG[p[2]] - b);
    i = 3;
  } else {
    int kk = g_kk_idx[TRIANGLE[p[0]]][p[1]];
    if (kk < 0) return false;
    idx = u64(kk);
    i = 2;
  }
  idx *= ei.factor[0];
  return add_piece_groups(ei, p, n, i, idx, index);
}

int pawn_file(const TBEntry& e, int* p) {
  for (int i = 1; i < e.pawns[0]; ++i)
    if (FLAP[p[0]] > FLAP[p[i]]) std::swap(p[0], p[i]);
  return FILE_TO_FILE[p[0] & 0x07];
}

bool encode_pawn(const TBEntry& e, const EncodeInfo& ei, int* p, u64& index) {
  const int n = e.num;
  if (p[0] & 0x04)
    for (int i = 0; i < n; ++i) p[i] ^= 0x07;
  const int lead = ei.norm[0];
  if (lead < 1 || lead > 5) return false;
  for (int i = 1; i < lead; ++i)
    for (int j = i + 1; j < lead; ++j)
      if (PTWIST[p[i]] < PTWIST[p[j]]) std::swap(p[i], p[j]);
  if (rank_of(p[0]) < 1 || rank_of(p[0]) > 6) return false;
  int t = lead - 1;
  u64 idx = g_pawnidx[t][FLAP[p[0]]];
  for (int i = t; i > 0; --i) idx += g_binomial[t - i][PTWIST[p[i]]];
  idx *= ei.factor[0];

  int i = lead;
  t = i + (e.pawns[1] ? ei.norm[i] : 0);
  if (t > n) return false;
  if (t > i) {
    for (int j = i; j < t; ++j)
      for (int k = j + 1; k < t; ++k)
        if (p[j] > p[k]) std::swap(p[j], p[k]);
    u64 s = 0;
    for (int m = i; m < t; ++m) {
      int j = 0;
      for (int k = 0; k < i; ++k) j += p[m] > p[k];
      int v = p[m] - j - 8;
      if (m - i >= 5 || v < 0 || v >= 64) return false;
      s += g_binomial[m - i][v];
    }
    idx += s * ei.factor[i];
    i = t;
  }
  return add_piece_groups(ei, p, n, i, idx, index);
}

int decompress_pairs(const PairsData& d, u64 index, const TableData& table) {
  if (d.constant >= 0) return d.constant;
  if (!d.indextable) return -1;
  const u64 mainidx = index >> d.idxbits;
  if (mainidx >= d.num_indices) return -1;
  i64 litidx = i64(index & ((u64(1) << d.idxbits) - 1)) - (i64(1) << (d.idxbits - 1));
  u64 block = le32(d.indextable + 6 * mainidx);
  litidx += le16(d.indextable + 6 * mainidx + 4);
  if (block >= d.num_blocks) return -1;
  if (litidx < 0) {
    do {
      if (block == 0) return -1;
      --block;
      litidx += le16(d.sizetable + 2 * block) + 1;
    } while (litidx < 0);
  } else {
    while (litidx > le16(d.sizetable + 2 * block)) {
      litidx -= le16(d.sizetable + 2 * block) + 1;
      if (++block >= d.num_blocks) return -1;
    }
  }
  // Reads past the end of the file see zeros.
  const u8* end = table.map.data + table.map.size;
  const u8* ptr = d.data + (block << d.blocksize);
  if (!d.data || ptr >= end) return -1;
  auto byte_at = [end](const u8* q) -> u64 { return q < end ? *q : 0; };
  u64 code = 0;
  for (int k = 0; k < 8; ++k) code = (code << 8) | byte_at(ptr + k);
  ptr += 8;
  const int m = d.min_len;
  int bitcnt = 0, sym;
  for (;;) {
    int l = m;
    while (code < d.base[l - m]) ++l;
    sym = le16(d.offset + 2 * (l - m)) + int((code - d.base[l - m]) >> (64 - l));
    if (sym >= d.num_syms) return -1;
    if (litidx < i64(d.symlen[sym]) + 1) break;
    litidx -= i64(d.symlen[sym]) + 1;
    code <<= l;
    bitcnt += l;
    if (bitcnt >= 32) {
      bitcnt -= 32;
      u64 w = (byte_at(ptr) << 24) | (byte_at(ptr + 1) << 16) | (byte_at(ptr + 2) << 8) | byte_at(ptr + 3);
      ptr += 4;
      code |= w << bitcnt;
    }
  }
  while (d.symlen[sym] != 0) {
    const u8* w = d.sympat + 3 * sym;
    int s1 = ((w[1] & 0x0f) << 8) | w[0];
    if (litidx < i64(d.symlen[s1]) + 1) {
      sym = s1;
    } else {
      litidx -= i64(d.symlen[s1]) + 1;
      sym = (w[2] << 4) | (w[1] >> 4);
    }
  }
  return d.sympat[3 * sym];
}

void free_tablebases() {
  if (!g_tb.initialised) return;
  release_all();
  clear_registry();
  g_tb.paths.clear();
  g_tb.path_copy.clear();
  g_tb.path.clear();
}

int tablebase_count() { return g_tb.num_piece + g_tb.num_pawn; }

bool tablebases_loaded_from(const char* path) { return g_tb.initialised && g_tb.path == path; }

void init_tablebases(const char* path) {
  if (g_tb.initialised) {
    release_all();
    g_tb.paths.clear();
    g_tb.path_copy.clear();
  } else {
    init_indices();
    g_tb.piece_entries = new TBEntry[TBMAX_PIECE];
    g_tb.pawn_entries = new TBEntry[TBMAX_PAWN];
    g_tb.initialised = true;
  }
  clear_registry();
  g_tb.path = path ? path : "";
  if (!path || !path[0] || std::strcmp(path, "<empty>") == 0) {
    output_format("info string found %d tablebases", 0);
    return;
  }

  // ';' separates directories; ':' too, as Linux users write it.
  g_tb.path_copy.assign(path, path + std::strlen(path) + 1);
  char* start = g_tb.path_copy.data();
  for (char* c = start;; ++c) {
    if (*c == ';' || *c == ':' || *c == 0) {
      bool last = *c == 0;
      *c = 0;
      if (*start) g_tb.paths.push_back(start);
      if (last) break;
      start = c + 1;
    }
  }

  const char* P = "KQRBNP";
  char name[16];
  auto consider = [&name]() {
    if (tb_file_exists(name, ".rtbw")) register_table(name);
  };
  for (int i = 1; i <= 5; ++i) {
    std::snprintf(name, sizeof name, "K%cvK", P[i]);
    consider();
  }
  for (int i = 1; i <= 5; ++i)
    for (int j = i; j <= 5; ++j) {
      std::snprintf(name, sizeof name, "K%cvK%c", P[i], P[j]);
      consider();
    }
  for (int i = 1; i <= 5; ++i)
    for (int j = i; j <= 5; ++j) {
      std::snprintf(name, sizeof name, "K%c%cvK", P[i], P[j]);
      consider();
    }
  for (int i = 1; i <= 5; ++i)
    for (int j = i; j <= 5; ++j)
      for (int k = 1; k <= 5; ++k) {
        std::snprintf(name, sizeof name, "K%c%cvK%c", P[i], P[j], P[k]);
        consider();
      }
  for (int i = 1; i <= 5; ++i)
    for (int j = i; j <= 5; ++j)
      for (int k = j; k <= 5; ++k) {
        std::snprintf(name, sizeof name, "K%c%c%cvK", P[i], P[j], P[k]);
        consider();
      }
  for (int i = 1; i <= 5; ++i)
    for (int j = i; j <= 5; ++j)
      for (int k = i; k <= 5; ++k)
        for (int l = (i == k ? j : k); l <= 5; ++l) {
          std::snprintf(name, sizeof name, "K%c%cvK%c%c", P[i], P[j], P[k], P[l]);
          consider();
        }
  for (int i = 1; i <= 5; ++i)
    for (int j = i; j <= 5; ++j)
      for (int k = j; k <= 5; ++k)
        for (int l = 1; l <= 5; ++l) {
          std::snprintf(name, sizeof name, "K%c%c%cvK%c", P[i], P[j], P[k], P[l]);
          consider();
        }
  for (int i = 1; i <= 5; ++i)
    for (int j = i; j <= 5; ++j)
      for (int k = j; k <= 5; ++k)
        for (int l = k; l <= 5; ++l) {
          std::snprintf(name, sizeof name, "K%c%c%c%cvK", P[i], P[j], P[k], P[l]);
          consider();
        }
  output_format("info string found %d tablebases", tablebase_count());
}

// Endgame tables in the Syzygy format: finding the files, registering them
// under their material key, mapping them on first use and decoding the
// compressed value streams.  Every read from a mapped file is checked
// against its size, so a damaged file only makes its probes fail.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "board/position.h"
#include "platform/filemap.h"
#include "platform/platform.h"

constexpr int TBMAX_PIECE = 254;
constexpr int TBMAX_PAWN = 256;
constexpr int HSHMAX = 5;
constexpr int TB_MAX_MEN = 6;  // the largest tables the discovery enumerates
constexpr int DTZ_CACHE_SIZE = 64;

// One compressed value stream (a side to move, or a leading-pawn file of it).
struct PairsData {
  const u8* indextable = nullptr;  // 6 bytes per main index
  const u8* sizetable = nullptr;   // u16 per block
  const u8* data = nullptr;        // the blocks, 2^blocksize bytes each
  const u8* offset = nullptr;      // u16 per code length, min_len first
  const u8* sympat = nullptr;      // 3 bytes per symbol
  u64 num_indices = 0;
  u32 num_blocks = 0;
  int blocksize = 0, idxbits = 0, min_len = 0, max_len = 0, num_syms = 0;
  int constant = -1;  // >= 0: every position holds this value
  std::vector<u64> base;
  std::vector<u8> symlen;
};

// How the squares of one stream's pieces become an index.
struct EncodeInfo {
  PairsData pairs;
  u8 pieces[TB_MAX_MEN] = {};  // piece codes (colour * 8 + type) in stored order
  u8 norm[TB_MAX_MEN] = {};
  u64 factor[TB_MAX_MEN] = {};
  u64 size = 0;
};

// A loaded table file (WDL or DTZ) with its decoding data.
struct TableData {
  FileMapping map;
  bool split = false;      // two sides to move stored (WDL)
  int files = 1;           // 4 for tables with pawns
  EncodeInfo enc[4][2];    // [leading-pawn file][stored side]; DTZ uses side 0
  u8 flags[4] = {};        // DTZ per file: stored side, value map, scaling
  u16 map_idx[4][4] = {};  // DTZ value-map starts, relative to map_base
  const u8* map_base = nullptr;
};

struct TBEntry {
  u64 key = 0;
  char name[16] = {};
  u8 num = 0;
  bool symmetric = false;
  bool has_pawns = false;
  u8 enc_type = 0;     // pawnless: 0 with three or more unique pieces, 2 with only the kings
  u8 pawns[2] = {};    // pawn tables: leading colour's count first
  u8 counts[16] = {};  // pieces by code, as the table's name gives them
  std::atomic<bool> ready{false};
  std::atomic<bool> failed{false};  // missing or damaged: never tried again
  std::atomic<bool> damage_reported{false};
  TableData wdl;
};

struct TBHashSlot {
  u64 key;
  TBEntry* entry;
};

struct DTZCacheSlot {
  u64 key1, key2;
  TableData* table;  // null when the file was missing or damaged
  TBEntry* entry;
};

struct TBState {
  std::string path;  // the path as given, for telling whether it changed
  std::vector<char> path_copy;
  std::vector<const char*> paths;
  TBEntry* piece_entries = nullptr;  // TBMAX_PIECE
  TBEntry* pawn_entries = nullptr;   // TBMAX_PAWN
  int num_piece = 0, num_pawn = 0;
  TBHashSlot hash[1024][HSHMAX];
  DTZCacheSlot dtz_cache[DTZ_CACHE_SIZE];
  bool initialised = false;
};

extern TBState g_tb;
extern unsigned tb_largest;

// Rebuilds the directory list and the registry from a path ("" or "<empty>"
// for none) and prints the count line.
void init_tablebases(const char* path);
// Releases every mapping and empties the registry (shut-down).
void free_tablebases();
int tablebase_count();
// Whether init_tablebases already ran with this path.
bool tablebases_loaded_from(const char* path);

u64 material_key(const u8 counts[16], bool mirror);
u64 material_key(const Position& pos, bool mirror);

// Opens the first directory's copy of name + suffix and maps it.
bool map_tb_file(const char* name, const char* suffix, FileMapping& out);
void release_mapping(FileMapping& mapping);

TBEntry* find_entry(u64 key);
// Serialises the loading of tables by the search threads.
Mutex& tb_load_mutex();

// Decodes a mapped file's header.  False when the file is damaged.
bool init_table(const TBEntry& entry, TableData& table, bool wdl);
// Reports a damaged table on standard error, once per entry.
void report_damage(TBEntry& entry, const char* suffix);

// Index of the squares p (in stored piece order) for one stream; false when
// the squares do not fit the encoding (only possible with a damaged header).
bool encode_piece(const TBEntry& entry, const EncodeInfo& ei, int* p, u64& index);
bool encode_pawn(const TBEntry& entry, const EncodeInfo& ei, int* p, u64& index);
// Leading-pawn file of the squares p (the leading pawns first); reorders p.
int pawn_file(const TBEntry& entry, int* p);
// The stored value at an index, or -1 when the data is damaged.
int decompress_pairs(const PairsData& d, u64 index, const TableData& table);

// The transposition table shared lock-free by all search threads: 16-byte
// entries in overlapping buckets of four, White-to-move keys filling the
// buffer from the start and Black-to-move keys from the end.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>

#include "board/types.h"

struct TTEntry {
  u32 key_low;  // low half of hash_key
  u32 check;    // high half ^ (move << 16) ^ (score + 15000): rejects torn entries
  u16 move;
  i16 score;    // node-relative
  i8 depth;
  u8 bound;
  u8 age;
  u8 fifty;
};
static_assert(sizeof(TTEntry) == 16, "a bucket of four entries must fit one or two cache lines");

// Storage of one entry.  Threads share the table without locks, so each
// half is read and written whole as a relaxed atomic word: a reader may see
// halves of two different writes, which the check word rejects.
struct alignas(16) TTSlot {
  u64 words[2];

  TTEntry load() const {
    u64 w[2] = {half(0).load(std::memory_order_relaxed), half(1).load(std::memory_order_relaxed)};
    TTEntry e;
    std::memcpy(&e, w, sizeof e);
    return e;
  }
  void store(const TTEntry& e) {
    u64 w[2];
    std::memcpy(w, &e, sizeof w);
    half(0).store(w[0], std::memory_order_relaxed);
    half(1).store(w[1], std::memory_order_relaxed);
  }
  // The first half alone: enough to tell whether the slot holds a key.
  u32 key_low() const { return u32(half(0).load(std::memory_order_relaxed)); }
  // Rewrites the age byte only (the second half holds it).
  void set_age(u8 age) {
    u64 w = half(1).load(std::memory_order_relaxed);
    std::memcpy(reinterpret_cast<char*>(&w) + (offsetof(TTEntry, age) - 8), &age, 1);
    half(1).store(w, std::memory_order_relaxed);
  }

 private:
  std::atomic_ref<u64> half(int i) const { return std::atomic_ref<u64>(const_cast<u64&>(words[i])); }
};
static_assert(sizeof(TTSlot) == sizeof(TTEntry) && offsetof(TTEntry, age) >= 8 && offsetof(TTEntry, key_low) == 0 &&
                  std::endian::native == std::endian::little,
              "the key's low half is the low end of the first word, the age lives in the second");

enum : u8 { BOUND_UPPER = 1, BOUND_LOWER = 2, BOUND_EXACT = 3 };

constexpr int TT_BUCKET = 4;
constexpr int TT_ENTRIES_PER_MB = 65536;

struct TransTable {
  TTSlot* buffer;       // entries + TT_BUCKET * 4 slack entries
  u64 entries;          // n
  u64 mask;             // largest power of two not above n, minus one
  TTSlot* low_base;     // even keys count up from here
  TTSlot* high_base;    // odd keys count down from here
  std::size_t bytes;    // size of the mapping
  bool fresh;           // new pages not yet touched: they read as zero already
};

extern TransTable g_tt;

// (Re)allocates the table for g_control.config.hash_mb megabytes and prints the
// allocation line.  The first call also generates the Zobrist keys.  When no
// search thread is busy the new pages are faulted in at once, in parallel,
// so the next search does not pay for them.  Returns false when the memory
// cannot be had.
bool tt_allocate();
void tt_free();
// Zeroes the whole table (faults in a fresh one), in slices: one per search
// thread and one for the calling thread, all at the same time.
void clear_hash();
// clear_hash when the table is enabled and no search thread is busy.
void clear_hash_if_idle();
// Zeroes (or, on fresh pages, only faults in) slice `index` of `count`.
void tt_clear_slice(int index, int count);
// The slice of a running clear_hash that search thread `index` takes.
void tt_clear_thread_slice(int index);
// Samples 1000 entries from the middle of the table into g_control.stats.hash_fill.
void tt_hashfull();

inline TTSlot* tt_bucket(u64 key) {
  u64 i = key & g_tt.mask;
  return (key & 1) ? g_tt.high_base - i : g_tt.low_base + i;
}

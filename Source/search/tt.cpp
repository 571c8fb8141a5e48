#include "search/tt.h"

#include <cstring>

#include "board/position.h"
#include "platform/output.h"
#include "platform/platform.h"
#include "search/control.h"
#include "search/thread.h"

TransTable g_tt;

namespace {
bool g_zobrist_ready = false;
constexpr u64 TT_SLACK = 16;  // room past n for the last bucket of either base
// Slices of the clear under way: the search threads' and the caller's.
std::atomic<int> g_clear_parts{1};

// One write per page makes the kernel supply it (a whole huge page where the
// mapping allows): far cheaper than zeroing memory that already reads as zero.
void fault_in(char* begin, char* end) {
  constexpr std::size_t PAGE = 4096;
  if (begin >= end) return;
  for (volatile char* p = begin; p < end; p += PAGE) *p = 0;
  *static_cast<volatile char*>(end - 1) = 0;
}
}  // namespace

void tt_free() {
  free_zeroed(g_tt.buffer, g_tt.bytes);
  g_tt = TransTable{};
  g_control.config.hash_mb = 0;
}

bool tt_allocate() {
  if (!g_zobrist_ready) {
    init_zobrist();
    g_zobrist_ready = true;
  }
  const u16 asked = g_control.config.hash_mb;
  u16 mb = asked;
  free_zeroed(g_tt.buffer, g_tt.bytes);
  g_tt = TransTable{};
  u64 n;
  std::size_t bytes;
  TTSlot* buffer;
  // A size the machine cannot give is halved until it can: the engine plays
  // on with a smaller table rather than ending.  The pages are all touched
  // at once, so memory the system only promises (and would have to take
  // back by killing a process) counts as missing too.
  const std::size_t available = available_memory();
  for (;;) {
    n = u64(mb) * TT_ENTRIES_PER_MB;
    bytes = std::size_t(n + TT_SLACK) * sizeof(TTSlot);
    const bool fits = available == 0 || bytes <= available;
    buffer = fits ? static_cast<TTSlot*>(alloc_zeroed(bytes)) : nullptr;
    if (buffer || mb == 0) break;
    mb = u16(mb / 2);
  }
  if (!buffer) return false;
  g_control.config.hash_mb = mb;
  g_tt.buffer = buffer;
  g_tt.bytes = bytes;
  g_tt.entries = n;
  u64 pow2 = 0;
  if (n > 0) {
    pow2 = 1;
    while (pow2 * 2 <= n) pow2 *= 2;
  }
  g_tt.mask = pow2 ? pow2 - 1 : 0;
  g_tt.low_base = buffer;
  g_tt.high_base = buffer + n;
  g_tt.fresh = true;
  if (mb < 1)
    g_control.config.hash_enabled = 0;
  else if (g_control.config.hash_enabled == 0)
    g_control.config.hash_enabled = 1;
  g_control.stats.hash_fill = 0;
  if (mb < asked)
    output_format("info string allocated %d Mbytes for hash table (%d Mbytes could not be allocated)", int(mb),
                  int(asked));
  else
    output_format("info string allocated %d Mbytes for hash table", int(mb));
  // Fresh anonymous pages read as zero but are supplied by the kernel at their
  // first write; with a big table that costs seconds, which must not fall in
  // a search's clock (nor in every probe of a search's first moments).
  if (mb >= 1 && count_busy_threads() == 0) clear_hash();
  return true;
}

void tt_clear_slice(int index, int count) {
  if (!g_tt.buffer || count < 1) return;
  u64 total = g_tt.entries + TT_SLACK;
  u64 s = total / u64(count);
  u64 first = u64(index) * s;
  // The last slice also takes the remainder of the division, so the whole
  // buffer is zeroed whatever the thread count.
  u64 end = index == count - 1 ? total : first + s;
  char* begin = reinterpret_cast<char*>(g_tt.buffer + first);
  const std::size_t bytes = std::size_t(end - first) * sizeof(TTSlot);
  if (g_tt.fresh)
    fault_in(begin, begin + bytes);
  else
    std::memset(begin, 0, bytes);
}

void tt_clear_thread_slice(int index) { tt_clear_slice(index, g_clear_parts.load(std::memory_order_acquire)); }

void clear_hash() {
  // The calling thread would only wait: it takes the last slice itself, so a
  // single search thread still clears with two processors.
  const int threads = thread_count();
  const int parts = threads + 1;
  g_clear_parts.store(parts, std::memory_order_release);
  for (int t = 0; t < threads; ++t) set_thread_command(t, CLEAR_HASH);
  tt_clear_slice(parts - 1, parts);
  while (count_busy_threads() != 0) sleep_ms(1);
  g_tt.fresh = false;
  g_control.stats.hash_fill = 0;
}

void clear_hash_if_idle() {
  if (g_control.config.hash_enabled && count_busy_threads() == 0) clear_hash();
}

void tt_hashfull() {
  u64 n = g_tt.entries;
  if (n <= 2999 || !g_tt.buffer) {
    g_control.stats.hash_fill = 0;
    return;
  }
  int count = 0;
  const TTSlot* e = g_tt.buffer + (n / 2 - 500);
  for (int i = 0; i < 1000; ++i)
    if (e[i].load().age == g_control.config.tt_age) ++count;
  g_control.stats.hash_fill = count * 0.001;
}

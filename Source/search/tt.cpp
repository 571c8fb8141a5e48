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
  // on with a smaller table rather than ending.
  for (;;) {
    n = u64(mb) * TT_ENTRIES_PER_MB;
    bytes = std::size_t(n + TT_SLACK) * sizeof(TTSlot);
    // Fresh anonymous pages read as zero, so a new table needs no clearing pass
    // (and start-up does not pay for touching the whole table).
    buffer = static_cast<TTSlot*>(alloc_zeroed(bytes));
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
  std::memset(static_cast<void*>(g_tt.buffer + first), 0, std::size_t(end - first) * sizeof(TTSlot));
}

void clear_hash() {
  int threads = thread_count();
  if (threads <= 1) {
    tt_clear_slice(0, 1);
  } else {
    for (int t = 0; t < threads; ++t) set_thread_command(t, CLEAR_HASH);
    while (count_busy_threads() != 0) sleep_ms(1);
  }
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

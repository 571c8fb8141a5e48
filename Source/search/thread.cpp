#include "search/thread.h"

#include <cerrno>
#include <new>

#include "platform/numa.h"
#include "platform/platform.h"
#include "search/driver.h"
#include "search/tt.h"

SearchThread* g_threads[MAX_THREADS];

namespace {
ThreadHandle g_handles[MAX_THREADS];
int g_thread_index[MAX_THREADS];
std::atomic<int> g_registered{0};
std::atomic<bool> g_failed{false};  // a thread could not allocate its record
int g_thread_count = 0;

// One mutex and condition variable for all command hand-offs: idle threads
// block on it, the front end broadcasts after writing a command byte.
Mutex g_wake_mutex;
CondVar g_wake;

u8 wait_for_command(SearchThread& t) {
  u8 cmd = t.thread_command.load(std::memory_order_acquire);
  if (cmd != IDLE) return cmd;
  g_wake_mutex.lock();
  while ((cmd = t.thread_command.load(std::memory_order_acquire)) == IDLE) g_wake.wait(g_wake_mutex);
  g_wake_mutex.unlock();
  return cmd;
}

void* search_thread(void* arg) {
  int index = *static_cast<int*>(arg);
  // Placed first: the record's pages come from the node of the first write.
  numa_place_thread(index, g_thread_count);
  void* mem = alloc_zeroed(sizeof(SearchThread));
  if (!mem) {
    g_failed.store(true, std::memory_order_relaxed);
    g_registered.fetch_add(1, std::memory_order_release);
    return nullptr;
  }
  auto* t = new (mem) SearchThread();
  position_init(t->pos, t->history);
  t->thread_index = u8(index);
  t->thread_command.store(IDLE, std::memory_order_relaxed);
  g_threads[index] = t;
  g_registered.fetch_add(1, std::memory_order_release);

  for (;;) {
    u8 cmd = wait_for_command(*t);
    if (cmd == SEARCH) {
      search_thread_body(*t);
      t->thread_command.store(IDLE, std::memory_order_release);
    } else if (cmd == CLEAR_HASH) {
      tt_clear_thread_slice(index);
      t->thread_command.store(IDLE, std::memory_order_release);
    } else if (cmd > 90) {
      // The front end frees the record after seeing QUIT_DONE: nothing of it
      // may be touched after this store.
      t->thread_command.store(QUIT_DONE, std::memory_order_release);
      return nullptr;
    } else {
      t->thread_command.store(IDLE, std::memory_order_release);
    }
  }
}
}  // namespace

int thread_count() { return g_thread_count; }

void set_thread_command(int index, u8 command) {
  g_wake_mutex.lock();
  g_threads[index]->thread_command.store(command, std::memory_order_release);
  g_wake.notify_all();
  g_wake_mutex.unlock();
}

int count_busy_threads() {
  int busy = 0;
  for (int i = 0; i < g_thread_count; ++i)
    if (g_threads[i] && g_threads[i]->thread_command.load(std::memory_order_acquire) != IDLE) ++busy;
  return busy;
}

int create_search_threads(int n) {
  if (n < 1) n = 1;
  if (n > MAX_THREADS) n = MAX_THREADS;
  for (int i = 0; i < n; ++i) g_threads[i] = nullptr;
  g_registered.store(0);
  g_failed.store(false);
  g_thread_count = n;
  g_control.config.num_threads = u8(n);
  for (int i = 0; i < n; ++i) {
    g_thread_index[i] = i;
    int rc = thread_start(g_handles[i], search_thread, &g_thread_index[i]);
    if (rc != 0) return rc;
  }
  while (g_registered.load(std::memory_order_acquire) < n) sleep_ms(0);
  return g_failed.load(std::memory_order_relaxed) ? ENOMEM : 0;
}

void destroy_search_threads(int n) {
  g_control.stop = STOP_QUIT_THREADS;
  while (count_busy_threads() != 0) sleep_ms(1);
  if (n > g_thread_count) n = g_thread_count;
  for (int i = 0; i < n; ++i) {
    if (!g_threads[i]) continue;
    set_thread_command(i, QUIT);
    while (g_threads[i]->thread_command.load(std::memory_order_acquire) != QUIT_DONE) sleep_ms(0);
    thread_join(g_handles[i]);
    g_threads[i]->~SearchThread();
    free_zeroed(g_threads[i], sizeof(SearchThread));
    g_threads[i] = nullptr;
  }
  g_thread_count = 0;
}

void SearchThread::reset_for_search(i64 limit) {
  for (u16& m : root_line) m = 0;
  iteration_depth.store(0, std::memory_order_relaxed);
  root_result = 0;
  report_depth = 0;
  seldepth = 0;
  full_research = 0;
  best_score = -10000;
  best_move = 0;
  node_limit = limit > 0 ? u64(limit) : u64(1) << 62;
  nodes = 0;
  tb_hits = 0;
  tt_probes = 0;
  tt_hits = 0;
  null_count = 0;
  null_tries = 0;
  root_start_nodes = 0;
  best_move_nodes = 0;
}

void copy_root_to_threads(const Position& game) {
  for (int i = 0; i < g_thread_count; ++i) {
    SearchThread* t = g_threads[i];
    if (!t) continue;
    copy_position(t->pos, game);
    t->reset_for_search(g_control.limits.node_limit);
  }
}

void start_search_threads(const Position& root) {
  copy_root_to_threads(root);
  set_thread_command(0, SEARCH);
  if (thread_count() >= 2) {
    sleep_ms(5);
    for (int i = 1; i < thread_count(); ++i) set_thread_command(i, SEARCH);
  }
}

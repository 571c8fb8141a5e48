// Thin POSIX layer: clocks, short sleeps, polling standard input, threads,
// locks and zeroed page allocations.  Everything above this file is
// platform-neutral.
#pragma once

#include <atomic>
#include <cstddef>
#include <pthread.h>

// Seconds of a monotonic clock (nanosecond resolution).
double now_seconds();
// Wall-clock milliseconds since the epoch; seeds the C random generator.
long long wall_clock_ms();
// Sleeps the given number of milliseconds; 0 just yields the processor.
void sleep_ms(int ms);

// Standard input, read without stdio buffering so that polling stays exact.
// input_pending: whether a read of fd 0 would not block (data or end of input).
bool input_pending();
// Blocks until input is pending or timeout_ms passes (negative: no timeout).
bool wait_for_input(int timeout_ms);
// Reads what is pending, at most size bytes.  Returns the count, 0 at end of
// input (or when fd 0 is unusable), -1 when nothing could be read right now.
int read_input(char* buffer, int size);

// Threads: joinable, started on a plain function pointer.
using ThreadFunc = void* (*)(void*);
struct ThreadHandle {
  pthread_t id;
  bool started;
};
// Returns 0 or the error code of the failed creation.
int thread_start(ThreadHandle& handle, ThreadFunc func, void* arg);
void thread_join(ThreadHandle& handle);

// Spin lock for very short critical sections (output lines, statistics sums).
struct SpinLock {
  std::atomic_flag flag = ATOMIC_FLAG_INIT;
  void lock() {
    while (flag.test_and_set(std::memory_order_acquire)) {
    }
  }
  void unlock() { flag.clear(std::memory_order_release); }
};

// Mutex with a condition variable: lets idle threads sleep until woken.
struct Mutex {
  pthread_mutex_t m = PTHREAD_MUTEX_INITIALIZER;
  void lock() { pthread_mutex_lock(&m); }
  void unlock() { pthread_mutex_unlock(&m); }
};
struct CondVar {
  pthread_cond_t c = PTHREAD_COND_INITIALIZER;
  void wait(Mutex& mutex) { pthread_cond_wait(&c, &mutex.m); }
  // Waits at most ms milliseconds.
  void wait_for(Mutex& mutex, int ms);
  void notify_all() { pthread_cond_broadcast(&c); }
};

// Zero-filled memory straight from the kernel (pages are touched lazily,
// so a large table costs nothing until used).  nullptr on failure.
void* alloc_zeroed(std::size_t bytes);
void free_zeroed(void* ptr, std::size_t bytes);
// Bytes the system could still hand out without swapping or killing a
// process (MemAvailable); 0 when it cannot tell.
std::size_t available_memory();

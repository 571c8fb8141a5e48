#include "platform/platform.h"

#include <cstdint>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <unistd.h>

double now_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

long long wall_clock_ms() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return (long long)tv.tv_sec * 1000 + tv.tv_usec / 1000;
}

void sleep_ms(int ms) {
  if (ms <= 0) {
    sched_yield();
    return;
  }
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

bool wait_for_input(int timeout_ms) {
  pollfd p{0, POLLIN, 0};
  int r = poll(&p, 1, timeout_ms);
  // Hang-up, error or a closed descriptor also count: the read then reports
  // the end of input instead of the loop polling forever.
  return r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool input_pending() { return wait_for_input(0); }

int read_input(char* buffer, int size) {
  for (;;) {
    ssize_t n = read(0, buffer, size);
    if (n >= 0) return int(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
    return 0;  // unusable descriptor: treat as end of input
  }
}

int thread_start(ThreadHandle& handle, ThreadFunc func, void* arg) {
  int rc = pthread_create(&handle.id, nullptr, func, arg);
  handle.started = rc == 0;
  return rc;
}

void thread_join(ThreadHandle& handle) {
  if (!handle.started) return;
  pthread_join(handle.id, nullptr);
  handle.started = false;
}

void CondVar::wait_for(Mutex& mutex, int ms) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  ts.tv_sec += ms / 1000;
  ts.tv_nsec += (ms % 1000) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  pthread_cond_timedwait(&c, &mutex.m, &ts);
}

void* alloc_zeroed(std::size_t bytes) {
  if (bytes == 0) bytes = 1;
  // Big tables (the transposition table) are probed at random: with 4 KB
  // pages nearly every probe also misses the TLB.  Such blocks are aligned
  // to 2 MB and offered to the kernel for transparent huge pages.
  constexpr std::size_t HUGE = std::size_t(2) << 20;
  if (bytes >= 2 * HUGE) {
    const std::size_t span = bytes + HUGE;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + HUGE - 1) & ~(HUGE - 1);
    const auto page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    const std::uintptr_t end = (aligned + bytes + page - 1) & ~(page - 1);
    if (aligned > start) munmap(raw, aligned - start);
    if (start + span > end) munmap(reinterpret_cast<void*>(end), start + span - end);
    madvise(reinterpret_cast<void*>(aligned), end - aligned, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
  }
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void free_zeroed(void* ptr, std::size_t bytes) {
  if (!ptr) return;
  if (bytes == 0) bytes = 1;
  munmap(ptr, bytes);
}

std::size_t available_memory() {
  std::FILE* f = std::fopen("/proc/meminfo", "r");
  if (!f) return 0;
  char line[256];
  unsigned long long kb = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) break;
  std::fclose(f);
  return std::size_t(kb) * 1024;
}

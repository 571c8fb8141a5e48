#include "platform/output.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>

OutputState g_output;

namespace {
std::atomic_flag g_output_lock = ATOMIC_FLAG_INIT;
OutputSink g_sink = nullptr;

void lock() {
  while (g_output_lock.test_and_set(std::memory_order_acquire)) {
  }
}
void unlock() { g_output_lock.clear(std::memory_order_release); }
}  // namespace

void set_output_sink(OutputSink sink) { g_sink = sink; }

void output_line(const char* text) {
  lock();
  if (g_sink) {
    g_sink(text);
  } else {
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  if (g_output.log_on && g_output.log_file) {
    std::fputs(text, g_output.log_file);
    std::fputc('\n', g_output.log_file);
    std::fflush(g_output.log_file);
  }
  unlock();
}

void output_format(const char* fmt, ...) {
  char buf[4096];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  output_line(buf);
}

void log_only(const char* fmt, ...) {
  if (!g_output.log_on || !g_output.log_file) return;
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(g_output.log_file, fmt, ap);
  va_end(ap);
  std::fputc('\n', g_output.log_file);
  std::fflush(g_output.log_file);
}

FILE* open_input_file(const char* path, const char* mode) {
  FILE* f = path[0] ? std::fopen(path, mode) : nullptr;
  int error = path[0] ? errno : ENOENT;
  // A directory opens like a file on Linux and then fails on the first read.
  struct stat st;
  if (f && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);
    f = nullptr;
    error = EISDIR;
  }
  if (!f) output_format("cannot read '%s': %s", path, std::strerror(error));
  return f;
}

void report_unwritable(const char* path) { output_format("cannot write '%s': %s", path, std::strerror(errno)); }

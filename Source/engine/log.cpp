#include "engine/log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "board/notation.h"
#include "engine/game.h"
#include "engine/options.h"
#include "engine/report.h"
#include "engine/uci.h"
#include "platform/output.h"
#include "search/thread.h"

namespace {
constexpr const char* LOG_NAME = "vorn.log";
}

// Deleting an open file always succeeds here, so "in use" is decided by an
// advisory lock that every running engine holds on its own log.
void open_log() {
  int old_fd = open(LOG_NAME, O_RDWR);
  if (old_fd >= 0) {
    if (flock(old_fd, LOCK_EX | LOCK_NB) != 0) {
      close(old_fd);
      g_options[SLOT_LOG] = 0;
      sync_log_option();
      print_message("log file in use.");
      return;
    }
    unlink(LOG_NAME);
    close(old_fd);
  }
  int fd = open(LOG_NAME, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  flock(fd, LOCK_EX | LOCK_NB);
  g_output.log_file = fdopen(fd, "w");
  if (!g_output.log_file) close(fd);
}

void close_log() {
  if (!g_output.log_file) return;
  std::fclose(g_output.log_file);  // closing the descriptor releases the lock
  g_output.log_file = nullptr;
}

namespace {
FILE* g_trace_file = nullptr;
Relaxed<int> g_trace_depth{0};  // the console sets it while thread 0 reads it
int g_last_ply = 0;
int g_last_iteration = -1;

const SearchThread* thread_of(const Position& pos) {
  for (int i = 0; i < thread_count(); ++i)
    if (g_threads[i] && &g_threads[i]->history == pos.owner) return g_threads[i];
  return nullptr;  // the game position: not part of a search
}

void trace_move(const Position& pos, Move move) {
  if (g_trace_depth == 0) return;
  // Thread 0's tree only: the trace state has one writer.
  const SearchThread* t = thread_of(pos);
  if (!t || t->thread_index != 0) return;
  if (!g_trace_file) {
    g_trace_file = std::fopen("trace.txt", "w");
    if (!g_trace_file) {
      // Without its file the trace cannot be kept: the run ends quietly (status 0).
      g_trace_depth = 0;
      request_exit(0, "");
      return;
    }
  }
  int ply = pos.owner->search_ply;
  if (ply > g_trace_depth) return;
  int iteration = t->iteration_depth.load(std::memory_order_relaxed);
  if (iteration > g_last_iteration) std::fprintf(g_trace_file, "\n\nSEARCH DEPTH= %d\n", iteration);
  char text[16];
  if (move == 0) {
    std::strcpy(text, "null");
  } else {
    move_to_text(move, text, Notation::UCI);
  }
  if (ply <= g_last_ply) {
    std::fputc('\n', g_trace_file);
    for (int i = 0; i < ply - 1; ++i) std::fputs("         ", g_trace_file);
  }
  std::fprintf(g_trace_file, "(%2d)%s ", int(t->tables.stack[ply].depth), text);
  g_last_ply = ply;
  g_last_iteration = iteration;
}
}  // namespace

void set_trace_depth(int depth) {
  g_trace_depth = depth < 0 ? 0 : depth;
  g_last_ply = 0;
  g_last_iteration = -1;
  g_trace_hook = g_trace_depth ? trace_move : nullptr;
}

void close_trace() {
  if (g_trace_file) std::fclose(g_trace_file);
  g_trace_file = nullptr;
}

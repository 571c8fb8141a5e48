#include "engine/log.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "engine/options.h"
#include "platform/output.h"

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
      output_line("log file in use.");
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

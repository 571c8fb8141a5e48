// Runs the built engine as a child process behind pipes: send lines, read
// lines with a timeout, close its input, wait for its exit.  Every read is
// bounded by poll, so a silent or hung engine fails a test instead of
// hanging it; the bounds are generous because they only matter on failure
// and the machine may be loaded.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class EngineProcess {
 public:
  // Starts VORN_BINARY with the given arguments in the working directory dir
  // (empty: the current one).
  explicit EngineProcess(const std::vector<std::string>& args = {}, const std::string& dir = "") {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[0]);
      close(in[1]);
      close(out[0]);
      close(out[1]);
      if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(127);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(VORN_BINARY));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(VORN_BINARY, argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_child_ = in[1];
    from_child_ = out[0];
    signal(SIGPIPE, SIG_IGN);
  }

  ~EngineProcess() {
    close_input();
    if (from_child_ >= 0) close(from_child_);
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool started() const { return pid_ > 0; }

  void send(const std::string& line) {
    std::string text = line + "\n";
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0 && to_child_ >= 0) {
      ssize_t n = write(to_child_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      p += n;
      left -= std::size_t(n);
    }
  }

  // One line without its newline; false on timeout or end of output.
  bool read_line(std::string& line, int timeout_ms = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      std::size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return true;
      }
      int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
      if (left <= 0 || from_child_ < 0) return false;
      pollfd p{from_child_, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) continue;
      char chunk[4096];
      ssize_t n = read(from_child_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      buffer_.append(chunk, std::size_t(n));
    }
  }

  // Lines up to and including the first one equal to last (or starting with
  // it when prefix is true); stops early on timeout.
  std::vector<std::string> read_until(const std::string& last, int timeout_ms = 10000, bool prefix = false) {
    std::vector<std::string> lines;
    std::string line;
    while (read_line(line, timeout_ms)) {
      lines.push_back(line);
      if (line == last || (prefix && line.rfind(last, 0) == 0)) break;
    }
    return lines;
  }

  // Lines up to and including the first one that contains fragment: how a
  // test waits for the engine to reach a point (a depth, a score) instead of
  // sleeping for a time that a loaded machine may not honour.
  std::vector<std::string> wait_for(const std::string& fragment, int timeout_ms = 30000) {
    std::vector<std::string> lines;
    std::string line;
    while (read_line(line, timeout_ms)) {
      lines.push_back(line);
      if (line.find(fragment) != std::string::npos) break;
    }
    return lines;
  }

  // Sends "isready" and returns everything printed before "readyok".
  std::vector<std::string> sync(int timeout_ms = 10000) {
    send("isready");
    std::vector<std::string> lines = read_until("readyok", timeout_ms);
    if (!lines.empty() && lines.back() == "readyok") lines.pop_back();
    return lines;
  }

  void close_input() {
    if (to_child_ >= 0) close(to_child_);
    to_child_ = -1;
  }

  // Exit status, or -1 when the process has not ended within the timeout.
  int wait_exit(int timeout_ms = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(2000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  bool exited_ = false;
  std::string buffer_;
};

// The blank-separated words of a line the engine printed.
inline std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

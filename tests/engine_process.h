// Runs the built engine as a child process behind pipes.  Every read is
// bounded by poll, so a hung engine fails a test instead of hanging it.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class EngineProcess {
 public:
  // Starts the engine (VORN_ENGINE from the environment when set, else the
  // one built beside the tests) with the given arguments in the working
  // directory dir (empty: the current one).
  explicit EngineProcess(const std::vector<std::string>& args = {}, const std::string& dir = "") {
    const char* engine = std::getenv("VORN_ENGINE");
    if (!engine || !engine[0]) engine = VORN_BINARY;
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
      if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(127);
      std::vector<char*> argv{const_cast<char*>(engine)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(engine, argv.data());
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

  void send(const std::string& line) {
    std::string text = line + "\n";
    for (std::size_t done = 0; done < text.size() && to_child_ >= 0;) {
      ssize_t n = write(to_child_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += std::size_t(n);
    }
  }

  // One line without its newline; false on timeout or end of output.
  bool read_line(std::string& line, int timeout_ms = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      if (std::size_t nl = buffer_.find('\n'); nl != std::string::npos) {
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

  // Lines up to and including the first one that satisfies last; stops
  // early on timeout.
  std::vector<std::string> read_until(const std::function<bool(const std::string&)>& last, int timeout_ms) {
    std::vector<std::string> lines;
    std::string line;
    while (read_line(line, timeout_ms)) {
      lines.push_back(line);
      if (last(line)) break;
    }
    return lines;
  }
  // ... equal to last (or starting with it when prefix is true).
  std::vector<std::string> read_until(const std::string& last, int timeout_ms = 10000, bool prefix = false) {
    return read_until([&](const std::string& l) { return l == last || (prefix && l.rfind(last, 0) == 0); }, timeout_ms);
  }
  // ... containing fragment: how a test waits for the engine to reach a point
  // (a depth, a score) instead of sleeping for a time a loaded machine may not honour.
  std::vector<std::string> wait_for(const std::string& fragment, int timeout_ms = 30000) {
    return read_until([&](const std::string& l) { return l.find(fragment) != std::string::npos; }, timeout_ms);
  }

  // Sends "isready" and returns everything printed before "readyok".
  std::vector<std::string> sync(int timeout_ms = 10000) {
    send("isready");
    std::vector<std::string> lines = read_until("readyok", timeout_ms);
    if (!lines.empty() && lines.back() == "readyok") lines.pop_back();
    return lines;
  }

  // The move of the next "bestmove" line ("" when none comes in time).
  std::string bestmove(int timeout_ms = 10000);

  void close_input() {
    if (to_child_ >= 0) close(to_child_);
    to_child_ = -1;
  }

  // Exit status, or -1 when the process has not ended within the timeout.
  int wait_exit(int timeout_ms = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(2000);
    }
    return -1;
  }

  // Closes the input and returns everything printed until the exit; the
  // exit status goes to *status, or must be 0 when status is null.
  std::vector<std::string> read_to_exit(int* status = nullptr, bool hold_input = false, int timeout_ms = 120000) {
    if (!hold_input) close_input();
    std::vector<std::string> lines = read_until([](const std::string&) { return false; }, timeout_ms);
    const int s = wait_exit(timeout_ms);
    if (status) *status = s;
    else EXPECT_EQ(s, 0);
    return lines;
  }

  void quit(int timeout_ms = 5000) {  // and expect a clean exit
    send("quit");
    EXPECT_EQ(wait_exit(timeout_ms), 0);
  }

 private:
  pid_t pid_ = -1;
  int to_child_ = -1, from_child_ = -1;
  bool exited_ = false;
  std::string buffer_;
};

// Runs the engine (a tool mode, a benchmark) in dir to its exit, as read_to_exit.
inline std::vector<std::string> run_to_exit(const std::vector<std::string>& args, const std::string& dir = "",
                                            int* status = nullptr, bool hold_input = false) {
  return EngineProcess(args, dir).read_to_exit(status, hold_input);
}

// The blank-separated words of a line the engine printed.
inline std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

inline bool starts_with(const std::string& s, const std::string& head) { return s.rfind(head, 0) == 0; }
inline bool any_starts_with(const std::vector<std::string>& lines, const std::string& head) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return starts_with(l, head); });
}
inline bool has_line(const std::vector<std::string>& lines, const std::string& text) {
  return std::find(lines.begin(), lines.end(), text) != lines.end();
}
// The word after `key` in the last line that has one ("" when none does).
inline std::string last_value(const std::vector<std::string>& lines, const std::string& key, int count = 1) {
  std::string value;
  for (const auto& l : lines) {
    auto w = words(l);
    for (std::size_t i = 0; i + count < w.size(); ++i)
      if (w[i] == key) {
        value = w[i + 1];
        for (int k = 2; k <= count; ++k) value += " " + w[i + k];
      }
  }
  return value;
}

inline std::string EngineProcess::bestmove(int timeout_ms) {
  return last_value(read_until("bestmove", timeout_ms, true), "bestmove");
}

// What one search printed up to its "bestmove": the lines, the move, the
// pondering move and the score of the last info line ("cp N" or "mate N").
struct GoReply {
  std::vector<std::string> lines;
  std::string best, ponder, score;
};
inline GoReply go_reply(EngineProcess& e, const std::string& go, int timeout_ms = 60000) {
  e.send(go);
  GoReply r;
  r.lines = e.read_until("bestmove", timeout_ms, true);
  EXPECT_TRUE(!r.lines.empty() && starts_with(r.lines.back(), "bestmove ")) << go << ": no bestmove";
  r.best = last_value(r.lines, "bestmove");
  r.ponder = last_value(r.lines, "ponder");
  r.score = last_value(r.lines, "score", 2);
  return r;
}

// "go perft DEPTH" on the engine's position: each root move's count; the total in *total.
inline std::map<std::string, unsigned long long> divide(EngineProcess& e, int depth, unsigned long long* total = nullptr) {
  e.send("go perft " + std::to_string(depth));
  std::map<std::string, unsigned long long> counts;
  std::vector<std::string> out = e.read_until("Nodes searched: ", 60000, true);
  for (const std::string& l : out)
    if (auto w = words(l); w.size() == 2 && w[0].back() == ':') counts[w[0].substr(0, w[0].size() - 1)] = std::stoull(w[1]);
  if (total) *total = std::stoull("0" + last_value(out, "searched:"));
  return counts;
}

// Console output up to the end of the next board (its side-to-move line);
// the board's FEN line stands ten lines before that end.
inline std::vector<std::string> until_board(EngineProcess& e) {
  return e.read_until([](const std::string& l) { return l == "white" || l == "black"; }, 10000);
}
inline std::string board_fen(EngineProcess& e) {
  std::vector<std::string> lines = until_board(e);
  return lines.size() >= 10 ? lines[lines.size() - 10] : "no board";
}

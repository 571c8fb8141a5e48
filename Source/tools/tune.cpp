#include "tools/tune.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "eval/params.h"
#include "platform/output.h"
#include "platform/platform.h"
#include "search/control.h"
#include "search/driver.h"
#include "tools/epd.h"

namespace {

// Open while "-tune" runs; the console line search appends its summary to it.
FILE* g_tune_log = nullptr;

// A tuner line: standard output, and tune.log when it is open.
void report(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void report(const char* fmt, ...) {
  char text[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  output_line(text);
  if (g_tune_log) std::fprintf(g_tune_log, "%s\n", text);
}

i16 to_setting(double x) {
  long v = std::lround(x);
  return i16(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}

bool input_readable(const char* file) {
  FILE* f = open_input_file(file);
  if (f) std::fclose(f);
  return f != nullptr;
}

bool ignored_line(const char* line) { return line[0] == 0 || line[0] == ';' || line[0] == '#' || line[0] == ' '; }

// Input is polled every 256 positions and at least every 0.1 s, counted
// across files, so neither slow positions nor many small samples make the
// tuner deaf to "quit".
f64 g_last_poll = 0;

struct InputPoll {
  bool quit = false;
  void operator()(int count, const TuneHooks& hooks) {
    if (count % 256 != 255 && now_seconds() - g_last_poll < 0.1) return;
    g_last_poll = now_seconds();
    hooks.tool.poll();
    quit = quit || hooks.tool.quit_requested();
  }
};

}  // namespace

double expected_score(double v) { return 1.0 / (1.0 + std::pow(10.0, -v / 400.0)); }

double line_result(const char* line) {
  const char* c9 = std::strstr(line, " c9 ");
  if (!c9) return -1;
  if (std::strstr(c9, "1-0")) return 1.0;
  if (std::strstr(c9, "0-1")) return 0.0;
  if (std::strstr(c9, "1/2")) return 0.5;
  return -1;
}

double adapt_step_scale(double k0, double avg, double max) {
  double q = (0.2 * max + 0.8 * avg) * 100;
  if (q < 0.75) return k0 * 1.05;
  if (q > 1.25) return k0 * 0.95;
  return k0;
}

void sample_lines(const char* source, const char* dest, int percent) {
  FILE* in = std::fopen(source, "r");
  if (!in) return;
  FILE* out = std::fopen(dest, "w");
  if (out) {
    char* line = nullptr;
    size_t cap = 0;
    while (getline(&line, &cap, in) > 0)
      if (std::rand() % 100 < percent) std::fputs(line, out);
    std::free(line);
    std::fclose(out);
  }
  std::fclose(in);
}

double make_tuning_file(const char* file, bool write, const TuneHooks& hooks) {
  SearchControl& c = g_control;
  // The file of "-mktune" is the user's; the tuner's own samples fail quietly.
  FILE* in = write ? open_input_file(file) : std::fopen(file, "r");
  if (!in) return 1.0;
  hooks.rebuild();
  c.config.hash_enabled = 0;
  FILE* out = nullptr;
  if (write) {
    output_line("Creating file tune_new.epd");
    out = std::fopen("tune_new.epd", "w");
    if (!out) {
      report_unwritable("tune_new.epd");
      std::fclose(in);
      return 1.0;
    }
  }
  static char line[EPD_LINE_CHARS + 1], fen[513], bm[513], am[513], id[513], ce[513], c0[513], c6[513];
  InputPoll poll;
  double sum = 0;
  int count = 0, used = 0;
  while (!poll.quit && read_epd_line(in, line)) {
    if (ignored_line(line)) continue;
    double r = line_result(line);
    if (r < 0 || !split_epd(line, fen, bm, am, id, ce, c0, c6)) continue;
    // A refused position is reported by the set-up and left out.
    if (!hooks.tool.setup(fen)) continue;
    ++count;
    hooks.tool.prepare_search();
    tool_search(*hooks.tool.game);
    c.search_state = STATE_IDLE;
    const int s = c.result.best_score;
    poll(count, hooks);
    if (std::abs(s) > 900) continue;
    if (hooks.tool.game->side == BLACK) r = 1 - r;
    const int stored = std::atoi(ce), later = c6[0] ? std::atoi(c6) : stored;
    if (out) {
      if ((r == 1 && later < -150) || (r == 0 && later > 150)) continue;
      if ((r == 1 && later - stored < -50) || (r == 0 && later - stored > 50)) continue;
      std::fprintf(out, "%s\n", line);
    }
    // The stored score contradicts the result: the game turned later.
    if ((r == 0 && expected_score(later) > 0.7) || (r == 1 && expected_score(later) < 0.3)) continue;
    sum += std::fabs(expected_score(s) - r);
    ++used;
  }
  std::fclose(in);
  if (out) std::fclose(out);
  return used ? sum / used : 0.0;
}

double tuning_error(const char* file, const TuneHooks& hooks) { return make_tuning_file(file, false, hooks); }

void tune_parameters(const char* file, const TuneHooks& hooks) {
  EvalParamRegistry& reg = g_eval_params;
  for (int i = 0; i < reg.count; ++i) reg.entries[i].tune = 0;
  // Without its positions the tuner would chase an error of 1.0 for 100 passes.
  if (!input_readable(file)) return;
  select_eval_param("king_safety");
  for (int i = 1; i <= 15; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "p%d", i);
    select_eval_param(name);
  }
  g_tune_log = std::fopen("tune.log", "w");
  if (!g_tune_log) {
    report_unwritable("tune.log");
    return;
  }
  report("tuning file is %s", file);
  report("%s", "");
  g_control.limits.max_depth = 0;
  g_info_threshold = 9999;
  sample_lines(file, "junk0.epd", 50);

  double k0 = 3000, avg = 0, max = 0;
  auto quit = [&] { return hooks.tool.quit_requested(); };
  for (int pass = 0; pass < 100 && !quit(); ++pass) {
    sample_lines(file, "junk.epd", 10);
    report("pass= %d, k0= %0.3e, avg_lr= %0.1f, max_lr= %0.1f", pass, k0, 100 * avg, 100 * max);
    int m = 0;
    for (int i = 0; i < reg.count; ++i) {
      EvalParam& p = reg.entries[i];
      if (!p.tune) continue;
      *p.value = to_setting(p.estimate);
      report("** %s = %d", p.name, *p.value);
      ++m;
    }
    double e = tuning_error("junk0.epd", hooks);
    if (quit()) break;
    report("%s", "");
    report("err= %0.5f", e);
    report("%s", "");
    std::fflush(g_tune_log);

    double sum = 0;
    max = 0;
    for (int i = 0; i < reg.count && !quit(); ++i) {
      EvalParam& p = reg.entries[i];
      if (!p.tune) continue;
      const i16 v = *p.value;
      const int d = int(std::lround(std::fabs(p.estimate) * 0.03 + 1));
      *p.value = to_setting(v - d);
      double e1 = tuning_error("junk.epd", hooks);
      *p.value = to_setting(v + d);
      double e2 = quit() ? e1 : tuning_error("junk.epd", hooks);
      *p.value = v;
      if (quit()) break;  // an interrupted difference says nothing
      double g = (e2 - e1) / (2.0 * d);
      p.gradient = g;
      double size = std::fabs(p.estimate) + 6;
      double cap = 0.025 * size, step = -g * k0 * size;
      step = step < -cap ? -cap : step > cap ? cap : step;
      p.estimate += step;
      sum += std::fabs(g * k0);
      if (std::fabs(g * k0) > max) max = std::fabs(g * k0);
      report("p1=%4d/%6.5f, p2=%4d/%6.5f, g=%10.2e, lr=%5.2f, x=%5.1f, p=%6.1f", v - d, e1, v + d, e2, g,
             100 * g * k0, step, p.estimate);
    }
    if (quit()) break;
    avg = m ? sum / m : 0;
    k0 = adapt_step_scale(k0, avg, max);
    report("%s", "");
  }
  std::fclose(g_tune_log);
  g_tune_log = nullptr;
  hooks.rebuild();
}

namespace {

// Brackets the best setting of p in at most 30 measurements and restores p.
void line_search(EvalParam& p, const char* file, int percent, const TuneHooks& hooks) {
  const char* name = p.name;
  output_line("");
  output_format("tuning %s", name);
  sample_lines(file, "junk.epd", percent);
  const i16 orig = *p.value;
  int best = orig, lo = -10000, hi = 10000;
  double best_err = 1.0;
  for (int i = 0; i < 30; ++i) {
    double err = tuning_error("junk.epd", hooks);
    int cur = *p.value;
    output_format("%s= %d, err= %0.6f", name, cur, err);
    if (i >= 1) {
      // A worse trial closes the interval on its side; a better one moves the old best to the bound behind it.
      if (cur > best) {
        if (err >= best_err)
          hi = cur;
        else
          lo = best;
      } else {
        if (err >= best_err)
          lo = cur;
        else
          hi = best;
      }
    }
    if (err < best_err) {
      best = cur;
      best_err = err;
    }
    output_format("best= %d, err= %0.6f, min= %d, max= %d", best, best_err, lo, hi);
    output_line("");
    if (hooks.tool.quit_requested()) break;
    const int step = int(std::lround(std::abs(best) * 0.12)) + 1;
    int next;
    if (lo == -10000) {
      next = best - step;
    } else if (hi == 10000) {
      next = best + step;
    } else {
      next = int(std::lround(hi - cur < cur - lo ? (best + lo) / 2.0 : (best + hi) / 2.0));
      if ((best <= lo + 1 && best >= hi - 1) || next == best) break;
    }
    *p.value = to_setting(next);
  }
  output_format("best= %d, err= %0.6f, min= %d, max= %d", best, best_err, lo, hi);
  *p.value = orig;
  if (g_tune_log) {
    std::fprintf(g_tune_log, "%-24s  %4d  %0.5f\n", name, best, best_err);
    std::fflush(g_tune_log);
  }
  hooks.rebuild();
}

}  // namespace

void tune_one_parameter(const char* name, const char* file, int percent, const TuneHooks& hooks) {
  // Input is polled while the error is measured; a "tune" typed meanwhile is not started inside this one.
  static bool running = false;
  if (!name || !name[0] || running || !input_readable(file)) return;
  running = true;
  output_format("tune file= %s", file);
  // The console goes on afterwards: its limits come back when the search is done.
  const u8 hash_enabled = g_control.config.hash_enabled, max_depth = g_control.limits.max_depth;
  const f64 info_threshold = g_info_threshold;
  g_control.config.hash_enabled = 0;
  g_control.limits.max_depth = 0;
  g_info_threshold = 9999;
  const int index = find_eval_param(name);
  if (index >= 0)
    line_search(g_eval_params.entries[index], file, percent, hooks);
  else
    output_format("no evaluation parameter is named '%s' (\"sp\" lists them)", name);
  g_control.config.hash_enabled = hash_enabled;
  g_control.limits.max_depth = max_depth;
  g_info_threshold = info_threshold;
  output_line("done!");
  running = false;
}

#include "tools/texel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "eval/eval.h"
#include "eval/params.h"
#include "platform/output.h"
#include "platform/platform.h"
#include "search/control.h"
#include "search/driver.h"
#include "tools/epd.h"

namespace {

// Positions with this many pieces or fewer are the tablebases' business.
constexpr int TABLE_PIECES = 6;
// Quiescence scores beyond this decide the game; they teach nothing.
constexpr int DECIDED = 500;
// The fewest training positions that must show a parameter for it to move.
constexpr u32 MIN_SEEN = 20;
// The L2 penalty's unit, per centipawn of a refinement, in the units of the
// mean squared error's gradient.
constexpr f64 L2_UNIT = 1e-7;
constexpr f64 LOG10_BY_400 = 2.302585092994046 / 400.0;

// One nonzero coefficient of a position.
struct Term {
  u16 param;  // index into the tuned parameters
  u8 half;    // 0 opening, 1 endgame
  float coef;
};

// A position as the tuner sees it, White's view throughout.
struct Sample {
  u32 first;  // its terms are terms[first, first + count)
  u16 count;
  u8 stage;
  i16 draw_factor;
  float base[2];  // the positional halves no tuned parameter carries
  float rest;     // material and contempt, tapered
  float label;
};

struct Data {
  std::vector<Sample> samples;
  std::vector<Term> terms;
  std::vector<float> result, score;  // per sample; score is NaN when the line had none
};

// The tuned parameters: every registered one but the material values.
struct Tuned {
  std::vector<int> slot;   // coefficient index: relative to EVAL_PARAM_FIRST_SLOT, then the refinements
  std::vector<int> index;  // by coefficient index: tuned index, or -1
  std::vector<int> registry;
};

// The weights of the shaped piece-square and mobility tables stay as they
// are: the square and count refinements take their place.  Fitted together,
// the common squares would move a whole shape, and the rare ones, which the
// data hardly shows, would go with it.
bool refined_weight(int slot) {
  return (slot >= SLOT_KNIGHT_MOBILITY && slot <= SLOT_QUEEN_MOBILITY + 1) ||
         (slot >= SLOT_PST_P && slot <= SLOT_PST_K + 1);
}

Tuned tuned_parameters() {
  Tuned t;
  t.index.assign(EVAL_COEF_COUNT, -1);
  // The registry points into the option slots; the pawn value anchors the numbering.
  const int anchor = find_eval_param("pawn_value_op");
  if (anchor < 0) return t;
  const i16* first = g_eval_params.entries[anchor].value - (SLOT_PAWN_VALUE - EVAL_PARAM_FIRST_SLOT);
  const i16* fine = &g_fine.v[0][0];
  for (int i = 0; i < g_eval_params.count; ++i) {
    const i16* value = g_eval_params.entries[i].value;
    int slot = int(value - first);
    if (value >= fine && value < fine + 2 * FINE_COUNT)
      slot = EVAL_PARAM_SLOTS + int(value - fine);
    else if (slot < 0 || slot >= EVAL_PARAM_SLOTS)
      continue;
    else if (slot + EVAL_PARAM_FIRST_SLOT <= SLOT_BISHOP_PAIR + 1)
      continue;  // the scale's anchor
    else if (refined_weight(slot + EVAL_PARAM_FIRST_SLOT))
      continue;
    t.index[slot] = int(t.slot.size());
    t.slot.push_back(slot);
    t.registry.push_back(i);
  }
  return t;
}

// White's view of the evaluation under the weights w, and its derivative by
// the tapered positional sum.
f64 sample_eval(const Sample& s, const Term* terms, const f64* w, f64* slope) {
  f64 h[2] = {s.base[0], s.base[1]};
  for (u32 i = 0; i < s.count; ++i) h[terms[i].half] += terms[i].coef * w[terms[i].param];
  const f64 p = (h[0] * (STAGE_MAX - s.stage) + h[1] * s.stage) / STAGE_MAX;
  const f64 b = 13.0 * p * p / 4096.0;
  const f64 f = s.draw_factor / 256.0;
  if (slope) *slope = (1.0 + (b < 125.0 ? 26.0 * std::abs(p) / 4096.0 : 0.0)) * f;
  return (p + (p < 0 ? -1 : 1) * std::min(b, 125.0) + s.rest) * f;
}

f64 sigmoid(f64 k, f64 e) { return 1.0 / (1.0 + std::exp(-k * LOG10_BY_400 * e)); }

// What one worker sums over its share of a batch.
struct Work {
  const Data* data;
  const u32* order;
  u32 begin, end;
  const f64* w;
  f64 k;
  bool gradient;
  std::vector<f64> grad;
  f64 loss;
  f64 result_loss;  // against the game results alone
};

void* run_work(void* arg) {
  Work& wk = *static_cast<Work*>(arg);
  wk.loss = wk.result_loss = 0;
  if (wk.gradient) std::fill(wk.grad.begin(), wk.grad.end(), 0.0);
  for (u32 n = wk.begin; n < wk.end; ++n) {
    const Sample& s = wk.data->samples[wk.order[n]];
    const Term* t = &wk.data->terms[s.first];
    f64 slope;
    const f64 e = sample_eval(s, t, wk.w, &slope);
    const f64 q = sigmoid(wk.k, e), diff = q - s.label;
    wk.loss += diff * diff;
    const f64 miss = q - wk.data->result[wk.order[n]];
    wk.result_loss += miss * miss;
    if (!wk.gradient) continue;
    const f64 g = 2.0 * diff * q * (1.0 - q) * wk.k * LOG10_BY_400 * slope;
    const f64 phase[2] = {(STAGE_MAX - s.stage) / f64(STAGE_MAX), s.stage / f64(STAGE_MAX)};
    for (u32 i = 0; i < s.count; ++i) wk.grad[t[i].param] += g * t[i].coef * phase[t[i].half];
  }
  return nullptr;
}

// Mean squared error over order[begin, end) (and against the results
// alone in *result_error), and its gradient when asked, on two threads.
f64 batch_error(const Data& d, const u32* order, u32 begin, u32 end, const std::vector<f64>& w, f64 k,
                std::vector<f64>* grad, f64* result_error = nullptr) {
  Work work[2];
  const u32 mid = begin + (end - begin) / 2;
  for (int i = 0; i < 2; ++i) {
    work[i] = Work{&d, order, i ? mid : begin, i ? end : mid, w.data(), k, grad != nullptr, {}, 0, 0};
    if (grad) work[i].grad.assign(w.size(), 0.0);
  }
  ThreadHandle helper{};
  if (thread_start(helper, run_work, &work[1]) != 0) run_work(&work[1]);
  run_work(&work[0]);
  thread_join(helper);
  const f64 n = end > begin ? f64(end - begin) : 1.0;
  if (grad)
    for (size_t i = 0; i < w.size(); ++i) (*grad)[i] = (work[0].grad[i] + work[1].grad[i]) / n;
  if (result_error) *result_error = (work[0].result_loss + work[1].result_loss) / n;
  return (work[0].loss + work[1].loss) / n;
}

// The recorded score after " ce ", side to move's view; false when there is none.
bool line_score(const char* line, int* score) {
  const char* ce = std::strstr(line, " ce ");
  if (!ce) return false;
  char* end;
  long v = std::strtol(ce + 4, &end, 10);
  if (end == ce + 4) return false;
  *score = int(v);
  return true;
}

// The position fields of a line, with the counters when they are there.
bool line_fen(const char* line, char* fen, size_t size) {
  size_t used = 0;
  for (int n = 0; n < 6; ++n) {
    size_t len;
    const char* f = fen_field(line, n, len);
    if (!f) return n >= 4;
    if (n >= 4 && !std::isdigit(static_cast<unsigned char>(f[0]))) break;
    if (used + len + 2 > size) return false;
    if (used) fen[used++] = ' ';
    std::memcpy(fen + used, f, len);
    used += len;
    fen[used] = 0;
  }
  return used > 0;
}

struct ReadCounts {
  long lines = 0, unlabelled = 0, refused = 0, in_check = 0, decided = 0, table = 0, kept = 0;
};

// Reads the file into traced samples (labels are set once K is known).
bool read_samples(const char* file, const Tuned& tuned, Data& d, ReadCounts& rc, const TuneHooks& hooks) {
  FILE* in = open_input_file(file);
  if (!in) return false;
  static GameHistory history;
  static Position pos;
  position_init(pos, history);
  EvalThread* et = new EvalThread();
  static EvalCoefficients ec;
  char line[EPD_LINE_CHARS + 1], fen[160], note[160];
  u16 pv[PV_SIZE];
  while (read_epd_line(in, line) && !hooks.tool.quit_requested()) {
    if (++rc.lines % 100000 == 0) {
      output_format("read %ld lines, kept %ld positions", rc.lines, rc.kept);
      hooks.tool.poll();
    }
    const f64 r = texel_line_result(line);
    if (r < 0) {
      ++rc.unlabelled;
      continue;
    }
    if (!line_fen(line, fen, sizeof fen) || set_position(pos, fen, note, sizeof note) != 0) {
      ++rc.refused;
      continue;
    }
    const int side = pos.side;
    int recorded = 0;
    const bool has_score = line_score(line, &recorded);
    if (in_check(pos)) {
      ++rc.in_check;
      continue;
    }
    const int q = root_quiescence(pos, pv);
    if (std::abs(q) > DECIDED) {
      ++rc.decided;
      continue;
    }
    for (int i = 1; i < PV_SIZE && pv[i]; ++i) make_move(pos, pv[i]);
    if (in_check(pos)) {
      ++rc.in_check;
      continue;
    }
    if (popcount(pos.occupied()) <= TABLE_PIECES) {
      ++rc.table;
      continue;
    }
    evaluate_coefficients(*et, pos, ec);
    if (!ec.linear) {
      ++rc.table;
      continue;
    }
    Sample s{};
    s.first = u32(d.terms.size());
    s.stage = u8(ec.stage);
    s.draw_factor = i16(ec.draw_factor);
    f64 base[2] = {ec.fixed[0] + ec.rounding[0], ec.fixed[1] + ec.rounding[1]};
    for (int i = 0; i < EVAL_COEF_COUNT; ++i)
      for (int h = 0; h < 2; ++h) {
        if (ec.coef[i][h] == 0) continue;
        if (tuned.index[i] < 0) {
          base[h] += ec.coef[i][h] * g_slopes.value[i];
          continue;
        }
        d.terms.push_back(Term{u16(tuned.index[i]), u8(h), float(ec.coef[i][h])});
      }
    s.count = u16(d.terms.size() - s.first);
    s.base[0] = float(base[0]);
    s.base[1] = float(base[1]);
    s.rest = float(taper(ec.material, ec.stage) + ec.contempt);
    d.samples.push_back(s);
    d.result.push_back(float(r));
    d.score.push_back(has_score ? float(side == WHITE ? recorded : -recorded) : NAN);
    ++rc.kept;
  }
  std::fclose(in);
  delete et;
  return true;
}

// The logistic scale that best maps the evaluations to the results.
// With no w, the scale that best maps the recorded scores to the results:
// scores another engine recorded need not share this evaluation's scale.
f64 fit_scale(const Data& d, const std::vector<f64>* w) {
  std::vector<f64> e(d.samples.size());
  for (size_t i = 0; i < e.size(); ++i)
    e[i] = w ? sample_eval(d.samples[i], &d.terms[d.samples[i].first], w->data(), nullptr) : d.score[i];
  auto error = [&](f64 k) {
    f64 sum = 0;
    for (size_t i = 0; i < e.size(); ++i) {
      if (std::isnan(e[i])) continue;
      const f64 diff = sigmoid(k, e[i]) - d.result[i];
      sum += diff * diff;
    }
    return sum;
  };
  f64 lo = 0.05, hi = 5.0;  // golden-section search
  const f64 g = 0.6180339887498949;
  f64 a = hi - g * (hi - lo), b = lo + g * (hi - lo), fa = error(a), fb = error(b);
  for (int i = 0; i < 40; ++i) {
    if (fa < fb) {
      hi = b;
      b = a;
      fb = fa;
      a = hi - g * (hi - lo);
      fa = error(a);
    } else {
      lo = a;
      a = b;
      fa = fb;
      b = lo + g * (hi - lo);
      fb = error(b);
    }
  }
  return (lo + hi) / 2;
}

bool write_outputs(const TexelSettings& st, const Tuned& tuned, const std::vector<f64>& w) {
  FILE* table = std::fopen(st.table_file, "w");
  FILE* config = std::fopen(st.config_file, "w");
  bool ok = table && config;
  if (ok) {
    std::fprintf(table, "// Evaluation parameters fitted by \"-texel\": {name, value} pairs.\n");
    std::fprintf(config, "# Evaluation parameters fitted by \"-texel\"; load with -cfg or ConfigFilePath.\n");
    for (int i = 0; i < g_eval_params.count; ++i) {
      const EvalParam& p = g_eval_params.entries[i];
      int value = *p.value;
      for (size_t t = 0; t < tuned.registry.size(); ++t)
        if (tuned.registry[t] == i) value = int(std::clamp(std::lround(w[t]), -32767L, 32767L));
      std::fprintf(table, "{\"%s\", %d},\n", p.name, value);
      std::fprintf(config, "%s=%d\n", p.name, value);
    }
    ok = !std::ferror(table) && !std::ferror(config);
  }
  if (table) ok = std::fclose(table) == 0 && ok;
  if (config) ok = std::fclose(config) == 0 && ok;
  return ok;
}

}  // namespace

double texel_line_result(const char* line) {
  const double r = line_result(line);
  if (r >= 0) return r;
  // The bracketed form: "[1.0]", "[0.5]", "[0]".
  const char* open = std::strchr(line, '[');
  if (!open) return -1;
  char* end;
  const double v = std::strtod(open + 1, &end);
  if (end == open + 1 || *end != ']') return -1;
  return v == 1.0 || v == 0.5 || v == 0.0 ? v : -1;
}

void texel_tune(const char* file, const TexelSettings& st, const TuneHooks& hooks) {
  SearchControl& c = g_control;
  hooks.rebuild();
  const u8 hash_enabled = c.config.hash_enabled;
  const f64 info_threshold = g_info_threshold;
  c.config.hash_enabled = 0;
  g_info_threshold = 9999;

  const Tuned tuned = tuned_parameters();
  Data d;
  ReadCounts rc;
  const f64 started = now_seconds();
  const bool read = read_samples(file, tuned, d, rc, hooks);
  c.config.hash_enabled = hash_enabled;
  g_info_threshold = info_threshold;
  if (!read) return;
  output_format("%ld lines: %ld without a result, %ld refused, %ld in check, %ld decided, %ld table-size; %ld kept (%.1f s)",
                rc.lines, rc.unlabelled, rc.refused, rc.in_check, rc.decided, rc.table, rc.kept,
                now_seconds() - started);
  if (d.samples.size() < 10) {
    output_line("too few positions to tune");
    return;
  }

  std::vector<f64> w(tuned.slot.size());
  for (size_t i = 0; i < w.size(); ++i) w[i] = g_slopes.value[tuned.slot[i]];
  const std::vector<f64> start = w;
  const f64 k = fit_scale(d, &w), k_score = fit_scale(d, nullptr);
  for (size_t i = 0; i < d.samples.size(); ++i) {
    const f64 s = d.score[i];
    d.samples[i].label =
        float(std::isnan(s) ? d.result[i] : st.lambda * d.result[i] + (1 - st.lambda) * sigmoid(k_score, s));
  }

  // A tenth of the positions is held out for validation: every tenth block
  // of 256 neighbours (positions of one game look alike), or every tenth
  // position of a small file.
  std::vector<u32> train, valid;
  const u32 block = d.samples.size() >= 10 * 256 ? 256 : 1;
  for (u32 i = 0; i < d.samples.size(); ++i) (i / block % 10 == 9 ? valid : train).push_back(i);
  output_format("K= %.4f (recorded scores %.4f), lambda= %.2f, rate= %.2f, %zu training and %zu validation positions, "
                "%zu parameters, %zu terms",
                k, k_score, st.lambda, st.rate, train.size(), valid.size(), w.size(), d.terms.size());
  f64 train_error, valid_error, valid_results;
  auto errors = [&]() {
    train_error = batch_error(d, train.data(), 0, u32(train.size()), w, k, nullptr);
    valid_error = batch_error(d, valid.data(), 0, u32(valid.size()), w, k, nullptr, &valid_results);
  };
  errors();
  output_format("epoch   0  train %.6f  validation %.6f  (results alone %.6f)", train_error, valid_error,
                valid_results);

  // A weight that too few positions show would be fitted to their noise
  // (a queen with one move in an endgame); it keeps its value.
  std::vector<u32> seen(w.size(), 0);
  for (u32 i : train)
    for (u32 n = 0; n < d.samples[i].count; ++n) ++seen[d.terms[d.samples[i].first + n].param];
  const u32 rare = std::max<u32>(MIN_SEEN, u32(train.size() / 2000));
  std::vector<bool> fixed(w.size());
  int fixed_count = 0;
  for (size_t i = 0; i < w.size(); ++i) fixed_count += fixed[i] = seen[i] < rare;
  output_format("%d parameters seen in fewer than %u training positions keep their values; L2 on the refinements %.2f",
                fixed_count, rare, st.l2);

  // The refinements of one table (a piece's squares or counts, one half)
  // keep a zero mean, weighted by how often each entry is seen: they reshape
  // the table and leave the material values, the scale's anchor, alone.
  std::vector<int> group(w.size(), -1);
  constexpr int TABLES = 6 + 4;  // the pieces' squares, then the mobility counts
  std::vector<f64> group_seen(2 * TABLES, 0.0);
  for (size_t i = 0; i < w.size(); ++i) {
    if (fixed[i] || tuned.slot[i] < EVAL_PARAM_SLOTS) continue;
    const int f = (tuned.slot[i] - EVAL_PARAM_SLOTS) / 2, h = (tuned.slot[i] - EVAL_PARAM_SLOTS) % 2;
    int table = (f - FINE_PST) / 64;
    if (f >= FINE_MOBILITY)
      for (int piece = 0; piece < 4; ++piece)
        if (f >= fine_mobility(piece, 0)) table = 6 + piece;
    group[i] = 2 * table + h;
    group_seen[size_t(group[i])] += seen[i];
  }
  auto centre_tables = [&]() {
    std::vector<f64> sum(group_seen.size(), 0.0);
    for (size_t i = 0; i < w.size(); ++i)
      if (group[i] >= 0) sum[size_t(group[i])] += seen[i] * w[i];
    for (size_t i = 0; i < w.size(); ++i)
      if (group[i] >= 0) w[i] -= sum[size_t(group[i])] / group_seen[size_t(group[i])];
  };

  // The weights of the epoch with the lowest validation error are the result.
  std::vector<f64> best = w;
  f64 best_error = valid_error;
  int best_epoch = 0;

  // An L2 penalty on the refinements: an entry the data shows often moves
  // freely, a rare one, whose gradient is small, stays near zero.  Without
  // it the fitted king table wandered (+55 on f5 in the opening) and lost
  // its games.
  const f64 l2 = st.l2 * L2_UNIT;
  std::vector<f64> m(w.size(), 0.0), v(w.size(), 0.0), grad(w.size());
  std::mt19937 rng(20261206);
  long step = 0;
  for (int epoch = 1; epoch <= st.epochs && !hooks.tool.quit_requested(); ++epoch) {
    const f64 epoch_start = now_seconds();
    // Big steps find the basin, shrinking ones settle in it.
    const f64 rate = st.rate * std::pow(0.92, epoch - 1);
    std::shuffle(train.begin(), train.end(), rng);
    for (u32 b = 0; b < train.size(); b += u32(st.batch)) {
      const u32 e = std::min<u32>(u32(train.size()), b + u32(st.batch));
      batch_error(d, train.data(), b, e, w, k, &grad);
      ++step;
      const f64 c1 = 1 - std::pow(0.9, f64(step)), c2 = 1 - std::pow(0.999, f64(step));
      for (size_t i = 0; i < w.size(); ++i) {
        if (fixed[i]) continue;
        const f64 g = grad[i] + (group[i] >= 0 ? l2 * w[i] : 0.0);
        m[i] = 0.9 * m[i] + 0.1 * g;
        v[i] = 0.999 * v[i] + 0.001 * g * g;
        w[i] -= rate * (m[i] / c1) / (std::sqrt(v[i] / c2) + 1e-12);
      }
      centre_tables();
    }
    errors();
    output_format("epoch %3d  train %.6f  validation %.6f  (results alone %.6f)  %.1f s", epoch, train_error,
                  valid_error, valid_results, now_seconds() - epoch_start);
    if (valid_error < best_error) {
      best_error = valid_error;
      best_epoch = epoch;
      best = w;
    }
    hooks.tool.poll();
  }

  w = best;
  output_format("lowest validation error %.6f after epoch %d: its weights are the result", best_error, best_epoch);
  for (size_t i = 0; i < w.size(); ++i) {
    const long before = std::lround(start[i]), after = std::lround(w[i]);
    if (before != after)
      output_format("%-24s %6ld -> %6ld", g_eval_params.entries[tuned.registry[i]].name, before, after);
  }
  if (write_outputs(st, tuned, w))
    output_format("wrote %s and %s", st.table_file, st.config_file);
  else
    output_format("%s or %s cannot be written", st.table_file, st.config_file);
}

#include "engine/options.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/engine.h"
#include "engine/log.h"
#include "engine/report.h"
#include "engine/strength.h"
#include "engine/uci.h"
#include "eval/params.h"
#include "fathom/tbcore.h"
#include "platform/output.h"
#include "platform/platform.h"
#include "search/control.h"
#include "search/thread.h"
#include "search/tt.h"
#include "search/wdl.h"

namespace {

enum OptionType : u8 { OPT_SPIN, OPT_CHECK, OPT_STRING, OPT_BUTTON, OPT_PAIR };

struct OptionDef {
  const char* name;
  OptionType type;
  int slot;
  int def;  // unused for pairs: the evaluation's registry writes their defaults
  int min, max;
};

// An opening/endgame pair stored in two slots from `slot`.
constexpr OptionDef pair_option(const char* name, int slot, int min, int max) {
  return {name, OPT_PAIR, slot, 0, min, max};
}

// In the order set_option tests them.  PST_Pawn is settable as well as
// listed; Awareness and tune are settable but not listed.
constexpr OptionDef OPTIONS[] = {
    {"ConfigFilePath", OPT_STRING, SLOT_CONFIG_FILE, 0, 0, 0},
    {"Hash", OPT_SPIN, SLOT_HASH, 64, 0, 16384},
    {"Threads", OPT_SPIN, SLOT_THREADS, 1, 1, MAX_THREADS},
    {"MoveOverhead", OPT_SPIN, SLOT_MOVE_OVERHEAD, 50, 0, 5000},
    {"Ponder", OPT_CHECK, SLOT_PONDER, 1, 0, 1},
    {"Contempt", OPT_SPIN, SLOT_CONTEMPT, 0, -150, 150},
    {"Selectivity", OPT_SPIN, SLOT_SELECTIVITY, 100, 0, 200},
    {"MultiPV", OPT_SPIN, SLOT_MULTIPV, 1, 1, 255},
    {"OwnBook", OPT_CHECK, SLOT_OWN_BOOK, 0, 0, 1},
    {"OwnBook_File", OPT_STRING, SLOT_BOOK_FILE, 0, 0, 0},
    {"OwnBook_Variety", OPT_SPIN, SLOT_BOOK_VARIETY, 25, 0, 100},
    {"OwnBook_Depth", OPT_SPIN, SLOT_BOOK_DEPTH, 28, 0, 60},
    {"Log", OPT_CHECK, SLOT_LOG, 0, 0, 1},
    {"Clear_Hash", OPT_BUTTON, -1, 0, 0, 0},
    {"SyzygyPath", OPT_STRING, SLOT_SYZYGY_PATH, 0, 0, 0},
    {"SyzygyProbeDepth5", OPT_SPIN, SLOT_SYZYGY_DEPTH5, 0, -5, 100},
    {"SyzygyProbeDepth6", OPT_SPIN, SLOT_SYZYGY_DEPTH6, 2, -5, 100},
    {"UCI_LimitStrength", OPT_CHECK, SLOT_LIMIT_STRENGTH, 0, 0, 1},
    {"UCI_Elo", OPT_SPIN, SLOT_ELO, 0, 0, 0},  // range from the measured ceiling
    {"UCI_ShowWDL", OPT_CHECK, SLOT_SHOW_WDL, 0, 0, 1},
    {"UCI_Chess960", OPT_CHECK, SLOT_CHESS960, 0, 0, 1},
    pair_option("Mtl_Pawn", SLOT_PAWN_VALUE, 20, 2000),
    pair_option("Mtl_Knight", SLOT_KNIGHT_VALUE, 20, 2000),
    pair_option("Mtl_Bishop", SLOT_BISHOP_VALUE, 20, 2000),
    pair_option("Mtl_Rook", SLOT_ROOK_VALUE, 20, 2000),
    pair_option("Mtl_Queen", SLOT_QUEEN_VALUE, 20, 2000),
    pair_option("Mtl_BishopPair", SLOT_BISHOP_PAIR, 0, 100),
    pair_option("PST_Pawn", SLOT_SCALE_PST_PAWN, 0, 200),
    pair_option("PST_Knight", SLOT_SCALE_PST_KNIGHT, 0, 200),
    pair_option("PST_Bishop", SLOT_SCALE_PST_BISHOP, 0, 200),
    pair_option("PST_Rook", SLOT_SCALE_PST_ROOK, 0, 200),
    pair_option("PST_Queen", SLOT_SCALE_PST_QUEEN, 0, 200),
    pair_option("PST_King", SLOT_SCALE_PST_KING, 0, 200),
    pair_option("Mobility_Knight", SLOT_SCALE_MOBILITY_KNIGHT, 0, 200),
    pair_option("Mobility_Bishop", SLOT_SCALE_MOBILITY_BISHOP, 0, 200),
    pair_option("Mobility_Rook", SLOT_SCALE_MOBILITY_ROOK, 0, 200),
    pair_option("Mobility_Queen", SLOT_SCALE_MOBILITY_QUEEN, 0, 200),
    pair_option("Pawn_Structure", SLOT_SCALE_PAWN_STRUCTURE, 0, 200),
    pair_option("Passed_Pawns", SLOT_SCALE_PASSED_PAWNS, 0, 200),
    pair_option("King_Safety", SLOT_SCALE_KING_SAFETY, 0, 200),
    pair_option("Threats", SLOT_SCALE_THREATS, 0, 200),
    pair_option("Awareness", SLOT_SCALE_AWARENESS, 0, 200),
    pair_option("tune", SLOT_SCALE_TUNE, 0, 200),
};

// The order of the "uci" listing.
constexpr const char* LISTED[] = {
    "ConfigFilePath", "Hash", "Threads", "Clear_Hash", "OwnBook", "OwnBook_File", "OwnBook_Depth",
    "OwnBook_Variety", "SyzygyPath", "SyzygyProbeDepth5", "SyzygyProbeDepth6", "Log", "Ponder",
    "MultiPV", "MoveOverhead", "UCI_LimitStrength", "UCI_Elo", "UCI_ShowWDL", "UCI_Chess960", "Contempt", "Selectivity",
    "Mtl_Pawn", "Mtl_Knight", "Mtl_Bishop", "Mtl_Rook", "Mtl_Queen", "Mtl_BishopPair",
    "PST_Pawn", "PST_Knight", "PST_Bishop", "PST_Rook", "PST_Queen", "PST_King",
    "Mobility_Knight", "Mobility_Bishop", "Mobility_Rook", "Mobility_Queen",
    "Pawn_Structure", "Passed_Pawns", "King_Safety", "Threats"};

// Search parameters (slot, default) the search reads from the option slots.
constexpr int SEARCH_PARAM_DEFAULTS[][2] = {
    {SLOT_SEP_DEPTH, 3},  {SLOT_SEP_MARGIN_STEP, 75}, {SLOT_NMP_DEPTH, 3},        {SLOT_FP_DEPTH, 3},
    {SLOT_RAZOR_MARGIN_STEP, 125}, {SLOT_PROBCUT_DEPTH, 3}, {SLOT_PROBCUT_REDUCTION, 3},
    {SLOT_PROBCUT_MARGIN, 100}, {SLOT_LMP_DEPTH, 6},   {SLOT_LMP_COUNT_STEP, 2}, {SLOT_LMR_DEPTH, 3}};

// A configuration file may name another one; this bounds the nesting so a
// file that names itself cannot recurse for ever.
constexpr int MAX_CONFIG_NESTING = 4;
int g_config_depth = 0;

bool names_equal(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (std::tolower((unsigned char)*a) != std::tolower((unsigned char)*b)) return false;
  return *a == *b;
}

const OptionDef* find_option(const char* name, bool exact = false) {
  for (const OptionDef& o : OPTIONS)
    if (exact ? !std::strcmp(o.name, name) : names_equal(o.name, name)) return &o;
  return nullptr;
}

int find_eval_param_any_case(const char* name) {
  for (int i = 0; i < g_eval_params.count; ++i)
    if (names_equal(g_eval_params.entries[i].name, name)) return i;
  return -1;
}

// What a name sets: an option or a registered evaluation parameter.  Some
// differ only in case ("Threats", the pair, and "threats", its endgame
// half), so an exact spelling wins over a match without regard to case.
struct Setting {
  const OptionDef* option = nullptr;
  int param = -1;
  bool found() const { return option || param >= 0; }
};

Setting find_setting(const char* name) {
  Setting s;
  if ((s.option = find_option(name, true))) return s;
  if ((s.param = find_eval_param(name)) >= 0) return s;
  if ((s.option = find_option(name))) return s;
  s.param = find_eval_param_any_case(name);
  return s;
}

// Options the configuration file does not hold: the file itself and the button.
bool written_to_config(const OptionDef& o) { return o.slot != SLOT_CONFIG_FILE && o.type != OPT_BUTTON; }

// Plain decimal conversion, saturated instead of overflowing; text that is
// no number gives 0.
long long read_number(const char* text) {
  long long v = std::strtoll(text, nullptr, 10);
  return v;
}

// Whether [begin, end) holds one decimal integer, blanks around it allowed;
// an empty part counts as one when empty_ok.
bool is_integer_text(const char* begin, const char* end, bool empty_ok) {
  while (begin < end && std::isspace((unsigned char)*begin)) ++begin;
  while (end > begin && std::isspace((unsigned char)end[-1])) --end;
  if (begin == end) return empty_ok;
  if (*begin == '-' || *begin == '+') ++begin;
  if (begin == end) return false;
  for (; begin < end; ++begin)
    if (!std::isdigit((unsigned char)*begin)) return false;
  return true;
}

// A numeric option takes numbers only: anything else would read as 0.
bool numeric_value_ok(const OptionDef& o, const char* value) {
  const char* end = value + std::strlen(value);
  if (o.type == OPT_SPIN) return is_integer_text(value, end, false);
  if (o.type != OPT_PAIR) return true;
  const char* comma = std::strchr(value, ',');
  if (!comma) return is_integer_text(value, end, false);
  return is_integer_text(value, comma, true) && is_integer_text(comma + 1, end, true);
}

int clamp_int(long long v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : int(v); }

int set_option_spin(const char* name, const char* value, int min, int max) {
  const long long asked = read_number(value);
  int result = clamp_int(asked, min, max);
  if (result != asked)
    print_message("%s set to %d (%.30s is outside %d..%d)", name, result, value, min, max);
  else
    print_message("%s set to %d", name, result);
  return result;
}

void set_option_pair(int slot, const char* name, const char* value, int min, int max) {
  const char* comma = std::strchr(value, ',');
  const char* first_end = comma ? comma : value + std::strlen(value);
  // A part that is missing (or empty) leaves its half unchanged.
  bool has_first = false;
  for (const char* p = value; p < first_end; ++p)
    if (!std::isspace((unsigned char)*p)) has_first = true;
  if (has_first) g_options[slot] = i16(clamp_int(read_number(value), min, max));
  if (comma) {
    char second[64];
    int n = 0;
    const char* p = comma + 1;
    while (*p == ' ') ++p;
    while (*p && *p != ' ' && *p != '\n' && n < 63) second[n++] = *p++;
    second[n] = '\0';
    if (n > 0) g_options[slot + 1] = i16(clamp_int(read_number(second), min, max));
  }
  print_message("%s set to %d,%d", name, int(g_options[slot]), int(g_options[slot + 1]));
}

void set_threads(const char* value) {
  int n = set_option_spin("Threads", value, 1, MAX_THREADS);
  g_options[SLOT_THREADS] = i16(n);
  if (n == thread_count()) return;
  destroy_search_threads(thread_count());
  if (create_search_threads(n) != 0) {
    request_exit(255, "error!");
  }
}

}  // namespace

void sync_log_option() { g_output.log_on = g_options[SLOT_LOG] != 0; }

void option_defaults(UciOptions& opts) {
  for (i16& s : opts.slots) s = 0;
  for (const OptionDef& o : OPTIONS) {
    if (o.slot < 0 || o.type == OPT_STRING) continue;
    if (o.type != OPT_PAIR) opts[o.slot] = i16(o.def);
  }
  for (const auto& p : SEARCH_PARAM_DEFAULTS) opts[p[0]] = i16(p[1]);
  // The evaluation writes the defaults of its parameters, the option pairs among them.
  register_eval_params(opts.slots);
  g_params_changed = true;
}

bool option_known(const char* name) { return find_setting(name).found(); }

bool set_option(const char* name, const char* value) {
  const Setting setting = find_setting(name);
  if (setting.param >= 0) {
    EvalParam& p = g_eval_params.entries[setting.param];
    const char* end = value + std::strlen(value);
    if (!is_integer_text(value, end, false)) {
      print_message("%s not changed: '%.100s' is not a number", p.name, value);
      return true;
    }
    *p.value = i16(clamp_int(read_number(value), -32768, 32767));
    p.estimate = *p.value;
    print_message("%s set to %d", p.name, int(*p.value));
    g_params_changed = true;
    return true;
  }
  const OptionDef* o = setting.option;
  if (!o) return false;
  if (!numeric_value_ok(*o, value)) {
    print_message("%s not changed: '%.100s' is not a number", o->name, value);
    return true;
  }
  switch (o->type) {
    case OPT_STRING: {
      if (std::strlen(value) > std::size_t(OPTION_TEXT_MAX)) {
        print_message("%s not changed: longer than %d characters", o->name, OPTION_TEXT_MAX);
        return true;
      }
      set_option_text(g_options, o->slot, value);
      print_message("%s set to '%s'", o->name, g_options.text(o->slot));
      if (o->slot == SLOT_CONFIG_FILE) load_config();
      if (o->slot == SLOT_SYZYGY_PATH) {
        // A running search may be reading the tables: stop it before they go.
        if (count_busy_threads() != 0) {
          if (!g_control.stop) g_control.stop = STOP_REPORT;
          while (count_busy_threads() != 0) sleep_ms(1);
        }
        init_tablebases(g_options.text(o->slot));
      }
      break;
    }
    case OPT_BUTTON:
      clear_hash_if_idle();
      print_message("Hash table cleared");
      break;
    case OPT_CHECK: {
      int on = std::strstr(value, "true") != nullptr;
      g_options[o->slot] = i16(on);
      print_message("%s set to %d", o->name, on);
      if (o->slot == SLOT_SHOW_WDL) g_show_wdl.store(on, std::memory_order_relaxed);
      // Takes effect with the next position the client sets up.
      if (o->slot == SLOT_CHESS960) g_chess960 = on != 0;
      if (o->slot == SLOT_LOG) {
        sync_log_option();
        if (on && !g_output.log_file) open_log();
      }
      break;
    }
    case OPT_PAIR:
      set_option_pair(o->slot, o->name, value, o->min, o->max);
      break;
    case OPT_SPIN:
      if (o->slot == SLOT_THREADS)
        set_threads(value);
      else if (o->slot == SLOT_ELO)
        set_uci_elo(value);
      else
        g_options[o->slot] = i16(set_option_spin(o->name, value, o->min, o->max));
      // The new table is made ready now, before "readyok"; during a search
      // the next search start does it.
      if (o->slot == SLOT_HASH && count_busy_threads() == 0 && !resize_hash_table()) request_exit(255, "");
      break;
  }
  return true;
}

void print_option_lines() {
  const UciOptions& opts = g_listed_options;
  for (const char* name : LISTED) {
    const OptionDef* o = find_option(name);
    switch (o->type) {
      case OPT_STRING:
        output_format("option name %s type string default %s", o->name, opts.text(o->slot));
        break;
      case OPT_BUTTON:
        output_format("option name %s type button", o->name);
        break;
      case OPT_CHECK:
        output_format("option name %s type check default %s", o->name, opts[o->slot] ? "true" : "false");
        break;
      case OPT_PAIR:
        output_format("option name %s type string default %d,%d", o->name, int(opts[o->slot]),
                      int(opts[o->slot + 1]));
        break;
      case OPT_SPIN: {
        int min = o->min, max = o->max;
        if (o->slot == SLOT_ELO) max = int(g_control.speed.max_elo);
        output_format("option name %s type spin default %d min %d max %d", o->name, int(opts[o->slot]), min, max);
        break;
      }
    }
  }
}

int write_config(const char* path) {
  FILE* f = std::fopen(path, "w");
  if (!f) {
    report_unwritable(path);
    return 0;
  }
  const UciOptions& opts = g_options;
  std::fprintf(f,
               "# %s settings, written by \"-mkconfig\".  Read them with \"-cfg %s\" or the\n"
               "# ConfigFilePath option: one name=value line per setting, applied in order;\n"
               "# '#' starts a comment.  Pairs are opening,endgame values.\n\n"
               "# Options\n",
               ENGINE_NAME, path);
  int options = 0;
  for (const OptionDef& o : OPTIONS) {
    if (!written_to_config(o)) continue;
    ++options;
    switch (o.type) {
      case OPT_STRING:
        std::fprintf(f, "%s=%s\n", o.name, opts.text(o.slot));
        break;
      case OPT_CHECK:
        std::fprintf(f, "%s=%s\n", o.name, opts[o.slot] ? "true" : "false");
        break;
      case OPT_PAIR:
        std::fprintf(f, "%s=%d,%d\n", o.name, int(opts[o.slot]), int(opts[o.slot + 1]));
        break;
      default:
        // A rating means something only while the strength is limited; at
        // full strength the measured ceiling stands, so none is written.
        if (o.slot == SLOT_ELO && !opts[SLOT_LIMIT_STRENGTH])
          std::fprintf(f, "# %s: full strength (UCI_LimitStrength=false)\n", o.name);
        else
          std::fprintf(f, "%s=%d\n", o.name, int(opts[o.slot]));
        break;
    }
  }
  std::fprintf(f, "\n# Evaluation parameters, as \"sp\" and the tuner name them\n");
  for (int i = 0; i < g_eval_params.count; ++i) {
    const EvalParam& p = g_eval_params.entries[i];
    std::fprintf(f, "%s=%d\n", p.name, int(*p.value));
  }
  const bool ok = std::ferror(f) == 0;
  if (std::fclose(f) != 0 || !ok) {
    report_unwritable(path);
    return 0;
  }
  output_format("wrote %s: %d options and %d evaluation parameters", path, options, g_eval_params.count);
  return 1;
}

int load_config() {
  const char* path = g_options.text(SLOT_CONFIG_FILE);
  if (!path[0] || g_config_depth >= MAX_CONFIG_NESTING) return 0;
  FILE* f = std::fopen(path, "r");
  if (!f) {
    print_message("configuration file %s cannot be opened", path);
    return 0;
  }
  char file_name[OPTION_TEXT_MAX + 1];
  std::strncpy(file_name, path, OPTION_TEXT_MAX);
  file_name[OPTION_TEXT_MAX] = '\0';
  ++g_config_depth;
  print_message("loading parameters from %s", file_name);
  char line[256];
  while (std::fgets(line, 255, f)) {
    std::size_t len = std::strlen(line);
    while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = '\0';
    if (len <= 3) continue;
    if (char* hash = std::strchr(line, '#')) *hash = '\0';
    char* eq = std::strchr(line, '=');
    if (!eq) continue;
    char name[101], value[201];
    const char* start = line;
    while (start < eq && (*start == ' ' || *start == '\t')) ++start;
    const char* end = eq;
    while (end > start && (end[-1] == ' ' || end[-1] == '\t')) --end;
    int n = int(end - start) > 100 ? 100 : int(end - start);
    std::memcpy(name, start, n);
    name[n] = '\0';
    const char* v = eq + 1;
    while (*v == ' ' || *v == '\t') ++v;
    std::snprintf(value, sizeof value, "%s", v);
    // Blanks left between the value and a cut-off comment are not part of it.
    std::size_t vl = std::strlen(value);
    while (vl > 0 && (value[vl - 1] == ' ' || value[vl - 1] == '\t')) value[--vl] = '\0';
    set_option(name, value);
  }
  std::fclose(f);
  --g_config_depth;
  if (g_options[SLOT_ELO] == 0) g_options[SLOT_ELO] = i16(int(g_control.speed.max_elo));
  if (g_control.speed.max_elo - 10 > g_options[SLOT_ELO]) g_options[SLOT_LIMIT_STRENGTH] = 1;
  g_params_changed = true;
  g_listed_options = g_options;
  return 1;
}

#include "tools/scan_pgn.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/notation.h"
#include "board/position.h"
#include "platform/output.h"

namespace {

// Only the two "no score" values mean none: real scores may lie anywhere in
// the 16-bit range.
bool has_score(int score) { return score != SCORE_NONE && score != SCORE_MISSING; }

// Scores are stored in 16 bits; a comment can hold any number.
int clamp_score(double v) {
  if (!(v > -32768)) return -32768;  // also catches NaN
  if (v > 32767) return 32767;
  return int(v);
}

const char* result_text(int result) {
  return result == PGN_WHITE_WINS ? "1-0" : result == PGN_BLACK_WINS ? "0-1" : "1/2-1/2";
}

struct ScanFiles {
  FILE* out;    // tmp.pgn (variant 1) or tmp.epd
  FILE* extra;  // tmpX.epd
  int positions;
};

// Variant 1: one line per move with its score; a move after which the
// opponent's score jumps for good is marked "?" (am) and the reply "!" (bm).
void annotate_move(ScanFiles& f, const Position& pos, const PgnGame& g, const int* score, int i, bool& marked) {
  const int count = g.move_count;
  const char* text = g.moves[i].text;
  char prefix[16], comment[400] = "", fen[128];
  if (i % 2 == 0)
    std::snprintf(prefix, sizeof prefix, "%3d. ", i / 2 + 1);
  else
    std::snprintf(prefix, sizeof prefix, "     ");
  size_t len = 0;
  auto append = [&](const char* fmt, const char* a, const char* b) {
    int n = std::snprintf(comment + len, sizeof comment - len, fmt, a, b);
    if (n > 0) len = std::min(sizeof comment - 1, len + size_t(n));
  };
  if (has_score(score[i])) {
    int n = std::snprintf(comment, sizeof comment, "%6.2f", (i % 2 ? -score[i] : score[i]) / 100.0);
    len = n > 0 ? size_t(n) : 0;
  }
  position_to_fen(pos, fen);
  if (marked && has_score(score[i])) {
    char line[200];
    std::snprintf(line, sizeof line, "%s bm %s;", fen, text);
    append(" ! %s%s", line, "");
    std::fprintf(f.extra, "%s\n", line);
    ++f.positions;
  }
  marked = false;
  if (i > 12 && i < count - 10) {
    int s0 = score[i - 1], s1 = score[i + 1], s3 = score[i + 3], s7 = score[i + 7];
    int d = std::abs(s0) / 10;
    if (s0 >= -999 && s0 <= 249 && s7 >= -999 && s1 - s0 > d + 30 && s3 - s0 > d + 30 && s7 - s0 > d + 50) {
      char line[200];
      std::snprintf(line, sizeof line, "%s am %s;", fen, text);
      append(" ? %s%s", line, "");
      std::fprintf(f.extra, "%s\n", line);
      ++f.positions;
      marked = true;
    }
  }
  std::fprintf(f.out, "%s %-6s  {%s}\n", prefix, text, comment);
}

int material_sum(const Position& pos) { return int(pos.material_signature[WHITE] + pos.material_signature[BLACK]); }

void write_game_positions(ScanFiles& f, const PgnGame& g, int variant) {
  static GameHistory history;
  static Position pos;
  static int score[PGN_MAX_PLIES + 8];
  position_init(pos, history);
  set_position(pos, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
  const int count = g.move_count;
  for (int i = 0; i < count; ++i) score[i] = comment_score(g.moves[i], i % 2);
  const int result = g.result == PGN_UNKNOWN ? PGN_DRAW : g.result;
  bool marked = false;
  int streak = 0, last_material = -1;
  char fen[128];
  for (int i = 0; i < count; ++i) {
    Move m;
    if (!parse_game_move(pos, g.moves[i].text, &m)) break;
    const char* text = g.moves[i].text;
    if (variant == 1) {
      annotate_move(f, pos, g, score, i, marked);
    } else if (variant == 2) {
      if (count <= 8 || i > count - 9 || i > 220) break;
      int material = material_sum(pos);
      streak = material == last_material ? streak + 1 : 0;
      last_material = material;
      if (i >= 12 && pos.fifty_count <= 32 && streak <= 36 && !in_check(pos)) {
        position_to_fen(pos, fen);
        std::fprintf(f.out, "%s bm %s; ce %d; c6 %d; c9 \"%s\";\n", fen, text, score[i], score[i + 6],
                     result_text(result));
        ++f.positions;
      }
    } else if (variant == 3) {
      if (i > 200) break;
      if (!in_check(pos)) {
        position_to_fen(pos, fen);
        std::fprintf(f.out, "%s bm %s; ce %d;\n", fen, text, score[i]);
        ++f.positions;
      }
    } else if (pos.piece_material[WHITE] == 5 && pos.piece_material[BLACK] == 5 &&
               popcount(pos.pieces[WHITE][PAWN] | pos.pieces[BLACK][PAWN]) == 1) {
      double outcome = result == PGN_DRAW ? 0.5 : result == pos.side ? 1.0 : 0.0;
      position_to_fen(pos, fen);
      std::fprintf(f.out, "%s bm %s; ce %d; tune %0.5f;\n", fen, text, score[i], outcome);
      ++f.positions;
    }
    make_move(pos, m);
    // Scored positions end once the game is decided (a missing score decides nothing).
    if (variant == 3 && has_score(score[i]) && std::abs(score[i]) > 500) break;
  }
  if (variant == 1) std::fputc('\n', f.out);
}

}  // namespace

int comment_score(const PgnMove& move, int mover) {
  if (!move.has_comment) return SCORE_NONE;
  const char* c = move.comment;
  if (std::strstr(c, "book")) return 0;
  if (const char* e = std::strstr(c, "eval ")) {
    char* end = nullptr;
    double v = std::strtod(e + 5, &end);
    if (end == e + 5) return SCORE_NONE;
    return clamp_score(mover == BLACK ? -v : v);
  }
  const char* slash = std::strchr(c, '/');
  if (!slash) return SCORE_NONE;
  const char* word = slash;
  while (word > c && word[-1] != ' ') --word;
  char value[32];
  int n = int(slash - word) > 31 ? 31 : int(slash - word);
  std::memcpy(value, word, size_t(n));
  value[n] = '\0';
  if (std::strstr(value, "-M")) return -9000;
  if (std::strstr(value, "+M")) return 9000;
  // Truncated centipawns of the decimal text: the nudge keeps "327.59"
  // (32758.9999... in binary) from losing a centipawn.
  double v = std::strtod(value, nullptr) * 100;
  return clamp_score(v + (v < 0 ? -1e-6 : 1e-6));
}

void scan_pgn(const char* pgn_file, int variant) {
  PgnReader reader;
  if (!pgn_open(reader, pgn_file)) return;
  const char* out_name = variant == 1 ? "tmp.pgn" : "tmp.epd";
  ScanFiles f{std::fopen(out_name, "w"), nullptr, 0};
  if (!f.out) report_unwritable(out_name);
  if (f.out && !(f.extra = std::fopen("tmpX.epd", "w"))) report_unwritable("tmpX.epd");
  if (!f.out || !f.extra) {
    if (f.out) std::fclose(f.out);
    if (f.extra) std::fclose(f.extra);
    pgn_close(reader);
    return;
  }
  static PgnGame game;
  int games = 0;
  while (pgn_next_game(reader, game)) {
    if (++games % 100 == 0) {
      std::printf("game %d\n", games);
      std::fflush(stdout);
    }
    if (variant == 1) {
      for (int t = 0; t < game.tag_count; ++t) {
        std::fprintf(f.out, "%s\n", game.tags[t]);
        if (std::strstr(game.tags[t], "Round ")) std::fprintf(f.out, "[Tag \"game_%d\"]\n", games);
      }
    }
    // Only games from the initial position are replayed.
    if (game.move_count > 0 && !game.fen[0]) write_game_positions(f, game, variant);
  }
  // The annotated games end with an empty line; EPD files end with their last position.
  if (variant == 1) std::fputc('\n', f.out);
  std::fclose(f.out);
  std::fclose(f.extra);
  pgn_close(reader);
  std::printf("games= %d, positions= %d\n", games, f.positions);
  std::fflush(stdout);
}

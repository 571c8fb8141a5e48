#include "tools/pgn.h"

#include <cstring>

#include "board/movegen.h"
#include "board/notation.h"
#include "board/position.h"
#include "platform/output.h"

namespace {

bool is_letter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool is_blank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// One line without its end; a line longer than the buffer comes in pieces,
// the later ones flagged as continued.  False at the end of the file.
bool read_line(PgnReader& r, char* line, bool& continued, bool& was_cut) {
  continued = was_cut;
  int n = 0, c = 0;
  was_cut = false;
  while ((c = std::getc(r.file)) != EOF && c != '\n') {
    line[n++] = char(c);
    if (n == PGN_LINE_CHARS) {
      was_cut = true;
      break;
    }
  }
  if (c == EOF && n == 0) return false;
  while (n > 0 && line[n - 1] == '\r') --n;
  line[n] = '\0';
  if (r.first_line) {
    r.first_line = false;
    if (n >= 3 && std::memcmp(line, "\xEF\xBB\xBF", 3) == 0) std::memmove(line, line + 3, size_t(n) - 2);
  }
  return true;
}

void copy_text(char* out, int cap, const char* begin, const char* end) {
  int n = int(end - begin) > cap ? cap : int(end - begin);
  std::memcpy(out, begin, size_t(n));
  out[n] = '\0';
}

// The quoted value of a tag line, or empty.
void tag_value(const char* line, char* out, int cap) {
  const char* open = std::strchr(line, '"');
  const char* close = open ? std::strrchr(open + 1, '"') : nullptr;
  if (!open || !close) {
    out[0] = '\0';
    return;
  }
  copy_text(out, cap, open + 1, close);
}

// Whether the game already has a tag of the same name as the tag line s:
// then s belongs to the next game, even when this one had no moves.
bool tag_repeated(const PgnGame& g, const char* s) {
  size_t n = 1;
  while (s[n] && !is_blank(static_cast<unsigned char>(s[n])) && s[n] != '"') ++n;
  for (int i = 0; i < g.tag_count; ++i) {
    const char* t = g.tags[i];
    while (*t == ' ' || *t == '\t') ++t;
    if (std::strncmp(t, s, n) == 0 && (is_blank(static_cast<unsigned char>(t[n])) || t[n] == '"')) return true;
  }
  return false;
}

bool tag_is(const char* line, const char* name) {
  while (*line == ' ' || *line == '\t') ++line;
  size_t n = std::strlen(name);
  return line[0] == '[' && std::strncmp(line + 1, name, n) == 0 && is_blank(static_cast<unsigned char>(line[1 + n]));
}

// Parsing state of one game's move text.
struct MoveText {
  PgnGame* game;
  int comment_depth = 0;
  int variation_depth = 0;
  bool ended = false;      // the result marker was read
  bool last_kept = false;  // the last move read was stored (so a comment may follow it)
  int end_result = PGN_UNKNOWN;
  char token[64];
  int token_len = 0;
  bool token_long = false;
  char comment[PGN_COMMENT_CHARS + 1];
  int comment_len = 0;
};

void add_move(MoveText& mt, const char* word) {
  PgnGame& g = *mt.game;
  if (g.move_count >= PGN_MAX_PLIES) {
    g.truncated = true;
    mt.last_kept = false;
    return;
  }
  PgnMove& m = g.moves[g.move_count++];
  char text[64];
  std::snprintf(text, sizeof text, "%s", word);
  // Annotation marks and the mate sign say nothing about which move it is.
  size_t n = std::strlen(text);
  while (n > 0 && (text[n - 1] == '!' || text[n - 1] == '?' || text[n - 1] == '#')) text[--n] = '\0';
  if (n > size_t(PGN_MOVE_CHARS) || mt.token_long) n = 0;
  std::memcpy(m.text, text, n);
  m.text[n] = '\0';
  m.has_comment = false;
  m.comment[0] = '\0';
  mt.last_kept = true;
}

void end_token(MoveText& mt) {
  if (mt.token_len == 0) return;
  mt.token[mt.token_len] = '\0';
  const char* t = mt.token;
  mt.token_len = 0;
  bool too_long = mt.token_long;
  mt.token_long = false;
  if (mt.variation_depth > 0 || mt.ended || t[0] == '$') return;
  if (!std::strcmp(t, "1-0") || !std::strcmp(t, "0-1") || !std::strcmp(t, "1/2-1/2") || !std::strcmp(t, "*")) {
    mt.end_result = pgn_result_code(t);
    mt.ended = true;
    return;
  }
  if (!std::strncmp(t, "0-0", 3)) {  // castling written with zeros
    mt.token_long = too_long;
    add_move(mt, t);
    mt.token_long = false;
    return;
  }
  // A move number, possibly glued to its move: "12." "12...Nf6" "1.e4".
  const char* p = t;
  while (is_digit(static_cast<unsigned char>(*p))) ++p;
  if (p != t) {
    if (*p != '.') return;
    while (*p == '.') ++p;
  }
  while (*p == '.') ++p;
  if (!is_letter(static_cast<unsigned char>(*p))) return;
  mt.token_long = too_long;
  add_move(mt, p);
  mt.token_long = false;
}

void end_comment(MoveText& mt) {
  mt.comment[mt.comment_len] = '\0';
  PgnGame& g = *mt.game;
  if (mt.variation_depth > 0 || mt.ended || !mt.last_kept || g.move_count == 0) return;
  PgnMove& m = g.moves[g.move_count - 1];
  if (m.has_comment) return;
  const char* c = mt.comment;
  while (*c == ' ') ++c;
  std::snprintf(m.comment, sizeof m.comment, "%s", c);
  m.has_comment = true;
}

void read_move_text(MoveText& mt, const char* line) {
  for (const char* p = line; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (mt.comment_depth > 0) {
      if (c == '{') {
        ++mt.comment_depth;
      } else if (c == '}') {
        if (--mt.comment_depth == 0) end_comment(mt);
      }
      if (mt.comment_depth > 0 && mt.comment_len < PGN_COMMENT_CHARS && !(c == '{' && mt.comment_depth == 1))
        mt.comment[mt.comment_len++] = is_blank(c) ? ' ' : char(c);
      continue;
    }
    if (c == '{') {
      end_token(mt);
      mt.comment_depth = 1;
      mt.comment_len = 0;
    } else if (c == '(') {
      end_token(mt);
      ++mt.variation_depth;
    } else if (c == ')') {
      end_token(mt);
      if (mt.variation_depth > 0) --mt.variation_depth;
    } else if (c == ';') {
      end_token(mt);
      return;  // the rest of the line is a comment
    } else if (is_blank(c)) {
      end_token(mt);
    } else if (mt.token_len < int(sizeof mt.token) - 1) {
      mt.token[mt.token_len++] = char(c);
    } else {
      mt.token_long = true;
    }
  }
  end_token(mt);
  if (mt.comment_depth > 0 && mt.comment_len < PGN_COMMENT_CHARS) mt.comment[mt.comment_len++] = ' ';
}

}  // namespace

int pgn_result_code(const char* text) {
  if (!std::strncmp(text, "1-0", 3)) return PGN_WHITE_WINS;
  if (!std::strncmp(text, "0-1", 3)) return PGN_BLACK_WINS;
  if (!std::strncmp(text, "1/2-1/2", 7)) return PGN_DRAW;
  return PGN_UNKNOWN;
}

bool pgn_open(PgnReader& reader, const char* path) {
  reader = PgnReader{};
  reader.file = open_input_file(path, "rb");
  return reader.file != nullptr;
}

void pgn_close(PgnReader& reader) {
  if (reader.file) std::fclose(reader.file);
  reader.file = nullptr;
}

bool pgn_next_game(PgnReader& r, PgnGame& g) {
  if (!r.file) return false;
  g.result = PGN_UNKNOWN;
  g.has_result_tag = g.matched = g.truncated = false;
  g.white[0] = g.black[0] = g.fen[0] = '\0';
  g.tag_count = g.move_count = 0;
  MoveText mt;
  mt.game = &g;
  // tags_ended: an empty line followed the tags, so another tag line starts
  // the next game even when this one has no moves.
  bool in_moves = false, any = false, continued = false, cut = false, tags_ended = false;
  static char line[PGN_LINE_CHARS + 1];
  for (;;) {
    if (r.has_held) {
      std::memcpy(line, r.held, sizeof line);
      r.has_held = false;
      continued = false;
    } else if (!read_line(r, line, continued, cut)) {
      break;
    }
    const char* s = line;
    while (*s == ' ' || *s == '\t') ++s;
    bool at_start = !continued && mt.comment_depth == 0;
    // "[%clk 0:01:00]" and the like are commands for other programs, not tags.
    const bool command = s[0] == '[' && s[1] == '%';
    if (at_start && s[0] == '[' && !command) {
      if (in_moves || tags_ended || tag_repeated(g, s)) {  // the next game's tags
        std::memcpy(r.held, line, sizeof line);
        r.has_held = true;
        break;
      }
      any = true;
      if (g.tag_count < PGN_MAX_TAGS) copy_text(g.tags[g.tag_count++], PGN_TAG_CHARS, line, line + std::strlen(line));
      if (tag_is(s, "White")) tag_value(s, g.white, int(sizeof g.white) - 1);
      if (tag_is(s, "Black")) tag_value(s, g.black, int(sizeof g.black) - 1);
      if (tag_is(s, "FEN")) tag_value(s, g.fen, int(sizeof g.fen) - 1);
      if (tag_is(s, "Result")) {
        char value[32];
        tag_value(s, value, int(sizeof value) - 1);
        g.result = pgn_result_code(value);
        g.has_result_tag = true;
      }
    } else if (at_start && s[0] == '%') {
      continue;  // escape line for other software
    } else {
      if (*s && !(at_start && command)) in_moves = any = true;
      if (!*s && at_start && g.tag_count > 0) tags_ended = true;
      read_move_text(mt, line);
    }
    if (r.find && r.find[0] && std::strstr(line, r.find)) g.matched = true;
  }
  if (!any) return false;
  if (!g.has_result_tag) g.result = mt.end_result;
  g.number = ++r.games;
  return true;
}

// Matched against the legal moves alone: fast (no text is built per move)
// and exact about disambiguation.
int standard_move_matches(const Position& pos, const char* text, Move* move) {
  char buf[16];
  int n = 0;
  for (const char* p = text; *p; ++p) {
    if (std::strchr("+x=-#!?", *p)) continue;
    if (n == 15) return 0;
    buf[n++] = *p;
  }
  buf[n] = '\0';
  const bool capture = std::strchr(text, 'x') != nullptr;
  MoveEntry list[MAX_MOVES];
  gen_all(pos, list);
  int type = PAWN, promo = 0, to = -1, from_file = -1, from_rank = -1, castle = 0;
  if (!std::strcmp(buf, "OO") || !std::strcmp(buf, "00")) {
    castle = 2;
  } else if (!std::strcmp(buf, "OOO") || !std::strcmp(buf, "000")) {
    castle = -2;
  } else {
    const char* letters = "NBRQK";
    const char* p = buf;
    if (*p && std::strchr(letters, *p)) type = int(std::strchr(letters, *p++) - letters) + KNIGHT;
    int len = int(std::strlen(p));
    if (type == PAWN && len > 0 && std::strchr("NBRQ", p[len - 1]))
      promo = int(std::strchr(letters, p[--len]) - letters) + KNIGHT;
    if (len < 2 || len > 4) return 0;
    int f = p[len - 2] - 'a', r = p[len - 1] - '1';
    if (f < 0 || f > 7 || r < 0 || r > 7) return 0;
    to = make_square(f, r);
    for (int i = 0; i < len - 2; ++i) {
      if (p[i] >= 'a' && p[i] <= 'h')
        from_file = p[i] - 'a';
      else if (p[i] >= '1' && p[i] <= '8')
        from_rank = p[i] - '1';
      else
        return 0;
    }
    // A pawn push stays on its file; a capture names the file it leaves.
    if (type == PAWN && !capture && from_file < 0) from_file = f;
    if (type == PAWN && capture && from_file < 0) return 0;
  }
  int found = 0;
  for (MoveEntry* e = list; e->move != MOVE_END; ++e) {
    Move m = e->move;
    int from = move_from(m);
    if (castle) {
      if (type_of(e->piece) != KING || move_to(m) != from + castle) continue;
    } else {
      if (type_of(e->piece) != type || move_to(m) != to || promotion_type(m) != promo) continue;
      if ((from_file >= 0 && file_of(from) != from_file) || (from_rank >= 0 && rank_of(from) != from_rank)) continue;
    }
    if (!is_legal(pos, pos.side, m)) continue;
    if (found++ == 0) *move = m;
  }
  return found;
}

int parse_game_move(const Position& pos, const char* text, Move* move) {
  if (standard_move_matches(pos, text, move) == 1) return 1;
  return parse_move(pos, text, move);
}

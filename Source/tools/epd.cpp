#include "tools/epd.h"

#include <cstdlib>
#include <cstring>

#include "tools/pgn.h"

bool read_epd_line(FILE* file, char* line) {
  int n = 0, c = 0;
  while ((c = std::getc(file)) != EOF && c != '\n')
    if (n < EPD_LINE_CHARS) line[n++] = char(c);
  if (c == EOF && n == 0) return false;
  while (n > 0 && line[n - 1] == '\r') --n;
  line[n] = '\0';
  return true;
}

int cut_words(const char* text, const char* separators, char (*words)[32], int max) {
  int count = 0;
  const char* p = text;
  while (*p && count < max) {
    while (*p && std::strchr(separators, *p)) ++p;
    if (!*p) break;
    int n = 0;
    while (*p && !std::strchr(separators, *p)) {
      if (n < 31) words[count][n++] = *p;
      ++p;
    }
    words[count++][n] = '\0';
  }
  return count;
}

bool move_listed(const Position& pos, const char* text, const char* separators, Move move) {
  char words[16][32];
  int n = cut_words(text, separators, words, 16);
  for (int i = 0; i < n; ++i) {
    Move m;
    if (parse_game_move(pos, words[i], &m) && m == move) return true;
  }
  return false;
}

int moves_parsing(const Position& pos, const char* text, const char* separators) {
  char words[16][32];
  int n = cut_words(text, separators, words, 16), ok = 0;
  for (int i = 0; i < n; ++i) {
    Move m;
    ok += parse_game_move(pos, words[i], &m);
  }
  return ok;
}

int points_for_move(const Position& pos, const char* c0, Move move, int* available) {
  *available = 0;
  if (!std::strchr(c0, '=')) return 0;
  char words[32][32];
  int n = cut_words(c0, ", \"\r\n", words, 32), score = 0;
  for (int i = 0; i < n; ++i) {
    char* eq = std::strrchr(words[i], '=');  // "e8=Q=10": the points follow the last "="
    if (!eq || eq == words[i]) continue;
    *eq = '\0';
    int points = int(std::strtol(eq + 1, nullptr, 10));
    if (points > *available) *available = points;
    Move m;
    if (parse_game_move(pos, words[i], &m) && m == move) score = points;
  }
  return score;
}

// Console sessions with games and positions from files: load, save, jump,
// get and the board editor, checked against a plain replay of the games.

#include <cctype>

#include "board_test.h"
#include "engine_process.h"

namespace {

struct PlainGame {
  std::string text;
  std::vector<std::string> moves;
};

// Games without comments, read the plain way: one per "[Event " line, move
// numbers cut off, words that start with a letter are moves.
std::vector<PlainGame> plain_games(const std::string& path) {
  std::vector<PlainGame> games;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("[Event ", 0) == 0) games.emplace_back();
    if (games.empty()) continue;
    games.back().text += line + "\n";
    if (line.empty() || line[0] == '[') continue;
    std::istringstream words(line);
    for (std::string w; words >> w;) {
      size_t dot = w.find_last_of('.');
      if (dot != std::string::npos) w = w.substr(dot + 1);
      if (!w.empty() && std::isalpha(static_cast<unsigned char>(w[0]))) games.back().moves.push_back(w);
    }
  }
  return games;
}

std::string replay(const std::vector<std::string>& moves, size_t plies) {
  TestBoard b(START_FEN);
  for (size_t i = 0; i < plies && i < moves.size(); ++i) b.play(moves[i].c_str());
  return b.fen();
}

std::string fen_after(EngineProcess& e, const std::string& command) {
  e.send(command);
  return board_fen(e);
}

}  // namespace

TEST(ConsoleGames, LoadJumpAndSaveFollowTheGame) {
  REQUIRE_TESTDATA("pgn/carlsen.pgn");
  std::string pgn = testdata_path("pgn/carlsen.pgn"), dir = new_temp_dir();
  std::vector<PlainGame> games = plain_games(pgn);
  ASSERT_GT(games.size(), 1500u);
  EngineProcess e({"-c"}, dir);
  ASSERT_EQ(board_fen(e), START_FEN);

  const PlainGame& second = games[1];
  EXPECT_EQ(fen_after(e, "load " + pgn + " 2"), replay(second.moves, 999));
  // A later game by a text of its headers: the first game whose lines hold it.
  const std::string& later = games[1500].text;
  size_t at = later.find("[Date \"") + 7;
  std::string date = later.substr(at, later.find('"', at) - at);
  size_t first = 0;
  while (games[first].text.find(date) == std::string::npos) ++first;
  const PlainGame& found = games[first];
  EXPECT_EQ(fen_after(e, "load " + pgn + " " + date), replay(found.moves, 999));

  EXPECT_EQ(fen_after(e, "jump 5"), replay(found.moves, 5));
  EXPECT_EQ(fen_after(e, "jump 0"), START_FEN);
  EXPECT_EQ(fen_after(e, "jump 9999"), replay(found.moves, 999));
  e.send("save");
  EXPECT_EQ(fen_after(e, "bd"), replay(found.moves, 999));
  std::vector<PlainGame> saved = plain_games(dir + "/tmp.pgn");
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].moves.size(), found.moves.size());
  EXPECT_EQ(replay(saved[0].moves, 999), replay(found.moves, 999));

  // A missing file and an unknown id leave the position alone.
  std::string before = replay(found.moves, 999);
  e.send("load " + dir + "/missing.pgn 1");
  EXPECT_EQ(fen_after(e, "bd"), before);
  std::ofstream(dir + "/test.epd") << "8/8/8/8/8/8/k7/4K2R w K - bm Rh2; id \"one\";\n";
  EXPECT_EQ(fen_after(e, "get two"), before);
  EXPECT_EQ(fen_after(e, "get one"), "8/8/8/8/8/8/k7/4K2R w K -");
  e.quit();
}

TEST(ConsoleGames, EditorSetsUpSafePositionsOnly) {
  EngineProcess e({"-c"}, new_temp_dir());
  ASSERT_EQ(board_fen(e), START_FEN);
  // Lines sent at once, before the editor has even started, must all reach it.
  e.send("edit\n#\nw Ke1 Qd1\nb Ke8\n.");
  EXPECT_EQ(board_fen(e), "4k3/8/8/8/8/8/8/3QK3 b - -");
  e.send("edit\n#\nw Qd1 Kz9 Ka1\n.");
  EXPECT_EQ(board_fen(e), "4k3/8/8/8/8/8/8/3QK3 b - -");
  EXPECT_EQ(fen_after(e, "edit\nb Pa1\n."), "4k3/8/8/8/8/8/8/3QK3 b - -");
  EXPECT_EQ(fen_after(e, "edit\nw Ke2\n."), "4k3/8/8/8/8/8/8/3QK3 b - -");  // two white kings
  // Castling stays only where king and rook stand at home.
  EXPECT_EQ(fen_after(e, "edit\n#\nw Ke1 Rh1 Ra1\nb Ke8 Ra8 Rh7\n."), "r3k3/7r/8/8/8/8/8/R3K2R b KQq -");
  // A game from an edited position is saved with its start and loads back.
  EXPECT_EQ(fen_after(e, "Kd8"), "r2k4/7r/8/8/8/8/8/R3K2R w KQ -");
  e.send("save");
  EXPECT_EQ(fen_after(e, "load tmp.pgn 1"), "r2k4/7r/8/8/8/8/8/R3K2R w KQ -");
  e.quit();
}

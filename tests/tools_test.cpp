// The PGN and EPD readers and the tool modes built on them: the book
// builder, the PGN scanner and the test-suite analysis.

#include <cstring>
#include <map>
#include <memory>

#include "board_test.h"
#include "engine_process.h"
#include "tools/epd.h"
#include "tools/pgn.h"
#include "tools/scan_pgn.h"
#include "tools/texel.h"
#include "tools/tune.h"

namespace {

std::vector<std::unique_ptr<PgnGame>> read_all(const std::string& path) {
  std::vector<std::unique_ptr<PgnGame>> games;
  PgnReader r;
  if (!pgn_open(r, path.c_str())) return games;
  while (pgn_next_game(r, *games.emplace_back(new PgnGame))) {
  }
  games.pop_back();
  pgn_close(r);
  return games;
}

std::vector<std::unique_ptr<PgnGame>> games_of(const std::string& text) {
  const std::string path = new_temp_dir() + "/games.pgn";
  write_text(path, text);
  return read_all(path);
}

}  // namespace

TEST(PgnReader, ReadsWhatRealFilesContain) {
  auto games = games_of(
             "\xEF\xBB\xBF[Event \"A\"]\r\n[White \"Caf\xC3\xA9\"]\r\n[Result \"1-0\"]\r\n\r\n"
             "% a line for other programs\r\n"
             "1.e4 $1 e5!? 2.Nf3 {a comment\r\nover two lines} (2.f4 exf4 (2...d5) 3.Nf3) 2...Nc6+ ; rest\r\n"
             "3.Bb5 \xE2\x80\x94 3...a6?? 4.Baxxxxxxx4 1-0\r\n"
             "[Event \"B\"]\n[Result \"*\"]\n\n1. d4 d5 *\n");
  ASSERT_EQ(games.size(), 2u);
  const PgnGame& a = *games[0];
  EXPECT_EQ(a.result, PGN_WHITE_WINS);
  EXPECT_STREQ(a.white, "Caf\xC3\xA9");
  std::vector<std::string> moves;
  for (int i = 0; i < a.move_count; ++i) moves.push_back(a.moves[i].text);
  // The too-long word is kept as a move that cannot parse, so a game stops there.
  EXPECT_EQ(moves, (std::vector<std::string>{"e4", "e5", "Nf3", "Nc6+", "Bb5", "a6", ""}));
  EXPECT_TRUE(a.moves[2].has_comment);
  EXPECT_STREQ(a.moves[2].comment, "a comment over two lines");
  EXPECT_EQ(games[1]->result, PGN_UNKNOWN);
  EXPECT_EQ(games[1]->move_count, 2);
}

TEST(PgnReader, LongGamesKeepTheirFirstPart) {
  std::string text = "[Event \"long\"]\n\n";
  for (int i = 0; i < 200; ++i) text += "Nf3 Nf6 Ng1 Ng8 ";
  auto games = games_of(text + "1/2-1/2\n");
  ASSERT_EQ(games.size(), 1u);
  EXPECT_EQ(games[0]->move_count, PGN_MAX_PLIES);
  EXPECT_TRUE(games[0]->truncated);
}

// Every game of the shared collections replays to its end.
TEST(PgnReader, EveryGameOfTheSharedFilesReplays) {
  REQUIRE_TESTDATA("pgn/README.md");
  const char* files[] = {"anastasian-lewis.pgn",   "chessbase-empty-line.pgn", "kasparov-deep-blue-1997.pgn",
                         "molinari-bordais-1979.pgn", "nepomniachtchi-liren-game1.pgn", "stockfish-learning.pgn",
                         "uci-moves.pgn",          "utf8-bom.pgn",             "engine-games-3fold.pgn",
                         "carlsen.pgn"};
  for (const char* f : files) {
    auto games = read_all(testdata_path(std::string("pgn/") + f));
    EXPECT_FALSE(games.empty()) << f;
    for (auto& g : games) {
      TestBoard b(START_FEN);
      // A null move ("Z0", "--") ends what can be replayed.
      for (int i = 0; i < g->move_count && std::strcmp(g->moves[i].text, "Z0") && std::strcmp(g->moves[i].text, "--");
           ++i) {
        Move m = 0;
        ASSERT_TRUE(parse_game_move(b.pos, g->moves[i].text, &m))
            << f << " game " << g->number << " move " << i << " '" << g->moves[i].text << "'";
        make_move(b.pos, m);
      }
    }
  }
}

TEST(ScanPgn, ScoresFromComments) {
  auto score = [](const char* comment, int mover) {
    PgnMove m{};
    m.has_comment = comment != nullptr;
    std::snprintf(m.comment, sizeof m.comment, "%s", comment ? comment : "");
    return comment_score(m, mover);
  };
  EXPECT_EQ(score("+M5/20 1.2s", WHITE), 9000);
  EXPECT_EQ(score("-M3/20", BLACK), -9000);
  EXPECT_EQ(score("-0.35/14 0.52s", WHITE), -35);
  EXPECT_EQ(score("book", BLACK), 0);
  EXPECT_EQ(score("eval 40, depth 12", BLACK), -40);
  EXPECT_EQ(score("2.7s", WHITE), SCORE_NONE);
  // Any number fits the 16-bit store; real scores far beyond 300 pawns stay
  // apart from the "no score" value, and decimals are not lost to binary.
  EXPECT_EQ(score("eval -2147483648", BLACK), 32767);  // White's view: ScanKeepsOddGamesAndExtremeScores
  EXPECT_EQ(score("eval 1e300", WHITE), 32767);
  EXPECT_EQ(score("+5000/1", WHITE), 32767);
  EXPECT_EQ(score("0.29/5", WHITE), 29);
  EXPECT_EQ(score("-0.29/5", WHITE), -29);
  EXPECT_EQ(score(nullptr, WHITE), SCORE_NONE);
}

// Crafted games through the scanner: every game counted (one of tags alone,
// one without an empty line after its tags), "[%" lines among the tags and
// moves passed over, scores beyond the usual range written as they are, and
// the EPD file ending with its last position.
TEST(ToolModes, ScanKeepsOddGamesAndExtremeScores) {
  std::string dir = new_temp_dir();
  write_text(dir + "/g.pgn",
             "[Event \"tags only\"]\n[Result \"1-0\"]\n\n"
             "[Event \"b\"]\n[%evp 0,12]\n[Result \"0-1\"]\n\n1. e4 {+0.20/10}\n[%clk 0:00:59]\ne5 {-327.59/12} 0-1\n\n"
             "[Event \"no empty line\"]\n[Result \"*\"]\n"
             "[Event \"c\"]\n\n1. d4 {eval -2147483648} d5 *\n");
  std::vector<std::string> out = run_to_exit({"-scan_pgn3", "g.pgn"}, dir);
  EXPECT_TRUE(has_line(out, "games= 4, positions= 3"));
  EXPECT_EQ(read_text(dir + "/tmp.epd"),
            "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - bm e4; ce 20;\n"
            "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 bm e5; ce -32759;\n"
            "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - bm d4; ce -32768;\n");
  out = run_to_exit({"-scan_pgn1", "g.pgn"}, dir);
  EXPECT_TRUE(has_line(read_lines(dir + "/tmp.pgn"), "      e5      {327.59}"));
}

// A file a tool cannot read gets one line naming it, and the tool does
// nothing else: no search on an empty sample, no output files.
TEST(ToolModes, UnreadableInputGetsOneLine) {
  std::string dir = new_temp_dir();
  EXPECT_EQ(mkdir((dir + "/folder").c_str(), 0755), 0);
  for (const char* mode : {"-scan_pgn1", "-scan_pgn2", "-scan_pgn4", "-mkbook", "-anepd", "-mktune", "-tune"}) {
    for (std::string file : {"missing.x", "folder"}) {
      std::vector<std::string> out, all = run_to_exit({mode, file}, dir);
      for (const std::string& l : all)
        if (!starts_with(l, "info string")) out.push_back(l);
      std::string why = file == "folder" ? "Is a directory" : "No such file or directory";
      EXPECT_EQ(out, (std::vector<std::string>{"cannot read '" + file + "': " + why})) << mode;
    }
  }
  for (const char* made : {"tmp.pgn", "tmp.epd", "tmp_book.bin", "unsolved.epd", "tune_new.epd", "tune.log"})
    EXPECT_FALSE(file_exists(dir + "/" + made)) << made;
}

// "-mkconfig" writes every setting; "-cfg" of that file gives the same
// settings back: the same file written again and the same UCI listing.
TEST(ToolModes, ConfigFileWrittenAndReadBack) {
  std::string a = new_temp_dir(), b = new_temp_dir();
  const std::string book = a + "/a book.bin";
  write_text(a + "/crafted.cfg", "Hash = 32   # a comment\nContempt=-20\nUCI_ShowWDL=true\nMtl_Pawn=100,120\n"
                                 "Threats=80,90\nthreats=95\nOwnBook_File=" + book + "\np3=9\npst_b2=-7\n"
                                 "Selectivity=150\nMultiPV=3\n");
  std::vector<std::string> out = run_to_exit({"-cfg", "crafted.cfg", "-mkconfig"}, a);
  EXPECT_TRUE(any_starts_with(out, "wrote vorn.cfg: "));
  std::vector<std::string> written = read_lines(a + "/vorn.cfg");
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written[0][0], '#');
  for (const char* want : {"Hash=32", "Contempt=-20", "UCI_ShowWDL=true", "Mtl_Pawn=100,120", "Threats=80,95", "threats=95",
                           "p3=9", "pst_b2=-7", "Selectivity=150", "MultiPV=3", "pawn_value_op=100", "pawn_value_en=120"})
    EXPECT_TRUE(has_line(written, want)) << want;
  EXPECT_TRUE(has_line(written, "OwnBook_File=" + book));
  EXPECT_FALSE(any_starts_with(written, "ConfigFilePath"));

  run_to_exit({"-cfg", a + "/vorn.cfg", "-mkconfig"}, b);
  EXPECT_EQ(read_lines(b + "/vorn.cfg"), written);

  // Every option of the listing is in the file, and the engine started with
  // the file lists what it holds.
  EngineProcess e({"-cfg", a + "/vorn.cfg"}, b);
  e.send("uci");
  std::vector<std::string> uci = e.read_until("uciok");
  for (const std::string& l : uci) {
    std::vector<std::string> w = words(l);
    if (w.size() < 5 || w[0] != "option" || w[2] == "ConfigFilePath" || w[2] == "Clear_Hash") continue;
    std::string value = w[4] == "check" || w[4] == "string" || w[4] == "spin" ? l.substr(l.find(" default ") + 9) : "";
    if (w[2] == "UCI_Elo") continue;  // full strength: the measured ceiling, not a setting
    if (w[4] == "spin") value = words(value)[0];
    EXPECT_TRUE(has_line(written, w[2] + "=" + value)) << l;
  }
  e.quit();
}

// A tool this build does not have says so on standard error.
TEST(ToolModes, MatchIsNotAvailable) {
  std::string dir = new_temp_dir();
  const char* engine = std::getenv("VORN_ENGINE");
  std::string cmd = std::string(engine && engine[0] ? engine : VORN_BINARY) + " -match games.pgn </dev/null >/dev/null 2>" + dir + "/err.txt";
  int status = std::system(cmd.c_str());
  EXPECT_NE(status, 0);
  std::vector<std::string> err = read_lines(dir + "/err.txt");
  ASSERT_EQ(err.size(), 1u);
  EXPECT_NE(err[0].find("not available"), std::string::npos) << err[0];
}

// The book from crafted games: a move weighs draws + 2 (2 wins - losses)
// once it has won three times and weighs more than 9, heaviest first; only
// the first 36 half-moves of a game count; a game with "*" gives nothing.
TEST(ToolModes, BookFromCraftedGames) {
  std::string shuffle;
  for (int i = 0; i < 8; ++i) shuffle += "Nf3 Nf6 Ng1 Ng8 ";
  const std::pair<std::string, std::string> games[] = {
      {"1. e4 e5 2. Nf3 Nc6", "1-0"}, {"1. d4 {x\ny} d5", "1-0"}, {"1. d4 Nf6", "1/2-1/2"},
      {shuffle + "Nf3 Nf6 Ng1 Nc6 e4 e5", "1-0"}};  // 36 half-moves, then e4 in a new position
  const int copies[] = {4, 3, 2, 3};
  // A game without a result and one that has its result only after the moves.
  std::string pgn = "[Event \"t\"]\n[Result \"*\"]\n\n1. e4 e5 *\n\n";
  for (int i = 0; i < 3; ++i) pgn += "[Event \"t\"]\n\n1. c4 c5 1-0\n\n";
  for (int g = 0; g < 4; ++g)
    for (int i = 0; i < copies[g]; ++i)
      pgn += "[Event \"t\"]\n[Result \"" + games[g].second + "\"]\n\n" + games[g].first + " " + games[g].second + "\n\n";
  const std::string dir = new_temp_dir(), book = dir + "/tmp_book.bin";
  write_text(dir + "/games.pgn", pgn);
  EXPECT_TRUE(has_line(run_to_exit({"-mkbook", "games.pgn"}, dir), "ngames= 16, nmoves= 14"));
  auto entries = [&book](const std::vector<const char*>& moves) {
    TestBoard b(START_FEN);
    for (const char* m : moves) b.play(m);
    BookEntry e[BOOK_MAX_CANDIDATES];
    std::vector<std::pair<int, int>> out;
    for (int i = 0, n = find_book_entries(book.c_str(), polyglot_key(b.pos), e, BOOK_MAX_CANDIDATES); i < n; ++i)
      out.emplace_back(e[i].move, e[i].weight);
    return out;
  };
  EXPECT_EQ(entries({}), (std::vector<std::pair<int, int>>{{G1 << 6 | F3, 108}, {E2 << 6 | E4, 16}, {D2 << 6 | D4, 14}, {C2 << 6 | C4, 12}}));
  EXPECT_EQ(entries({"e4", "e5"}), (std::vector<std::pair<int, int>>{{G1 << 6 | F3, 16}}));
  EXPECT_TRUE(entries({"e4"}).empty());  // Black lost every game
  EXPECT_TRUE(entries({"Nf3", "Nf6", "Ng1", "Nc6"}).empty());  // the 37th half-move
}

// "-scan_pgn2" writes positions of real games, each with a legal move, no
// side in check, the move's score, the score six plies on and the result;
// "-mktune" keeps the lines whose later score agrees with the result and
// whose position the search does not find decided, in their order.
TEST(ToolModes, ScanWritesTuningPositionsAndMktuneFiltersThem) {
  REQUIRE_TESTDATA("pgn/engine-games.pgn");
  std::string dir = new_temp_dir();
  std::vector<std::string> out = run_to_exit({"-scan_pgn2", testdata_path("pgn/engine-games.pgn")}, dir);
  std::vector<std::string> epd = read_lines(dir + "/tmp.epd");
  // Every skipping rule (opening, checks, the clock, the last plies) shows in the count.
  EXPECT_EQ(out.back(), "games= 200, positions= 18480");
  ASSERT_EQ(epd.size(), 18480u);
  // The first game's first lines: its 13th half-move 7. Ng5 {+1.33}, six on 10. Ncxe4 {+1.05}, 0-1.
  EXPECT_EQ(epd[0], "rn1qkbnr/pb3ppp/4p3/1pp5/4p3/3P1NP1/PPP2PBP/RNBQ1RK1 w kq - bm Ng5; ce 133; c6 105; c9 \"0-1\";");
  EXPECT_EQ(epd[1], "rn1qkbnr/pb3ppp/4p3/1pp3N1/4p3/3P2P1/PPP2PBP/RNBQ1RK1 b kq - bm Nf6; ce -89; c6 -77; c9 \"0-1\";");
  for (const std::string& l : epd) {
    char fen[513], bm[513], am[513], id[513], ce[513], c0[513], c6[513];
    ASSERT_EQ(split_epd(l.c_str(), fen, bm, am, id, ce, c0, c6), 1) << l;
    TestBoard p(fen);
    Move m = 0;
    EXPECT_TRUE(!in_check(p.pos) && parse_game_move(p.pos, bm, &m) && ce[0] && c6[0] && line_result(l.c_str()) >= 0) << l;
  }

  const std::string kings = "8/8/8/4k3/8/8/8/4K3 ", won = "c9 \"1-0\";";
  const std::vector<std::string> kept = {kings + "w - - bm Kd2; ce 0; c6 0; " + won,
                                         kings + "b - - bm Kd6; ce 0; c6 -200; " + won};  // lost for Black
  write_text(dir + "/t.epd", kept[0] + "\n" + kings + "w - - bm Kd2; ce 0; c6 -200; " + won + "\n" +  // turned
                                 kings + "w - - bm Kd2; ce 100; c6 40; " + won + "\n" + kept[1] + "\n" +  // fell by 60
                                 kings + "w - - bm Kd2; ce 0; c6 200; c9 \"0-1\";\n" + kings + "w - - bm Kd2; ce 0;\n" +
                                 "4k3/8/8/8/8/8/8/QQQ1K3 w - - bm Qa8; ce 0; c6 0; " + won + "\n");  // decided
  run_to_exit({"-mktune", "t.epd"}, dir);
  EXPECT_EQ(read_lines(dir + "/tune_new.epd"), kept);

  // "-texel" takes every line the scanner writes: each has a result and a position that sets up.
  out = run_to_exit({"-texel", "tmp.epd", "-epochs", "1", "-rate", "0.25"}, dir);
  const std::string counts = std::to_string(epd.size()) + " lines: 0 without a result, 0 refused, ";
  EXPECT_TRUE(std::any_of(out.begin(), out.end(), [&](const std::string& l) { return l.rfind(counts, 0) == 0; }))
      << counts;
  EXPECT_TRUE(std::any_of(out.begin(), out.end(), [](const std::string& l) { return l.find("rate= 0.25,") != l.npos; }));
}

// A crafted suite: bm, am, c0 points, a line with neither (to unsolved.epd),
// comment and short lines, tabs between fields, and two positions that are
// refused and skipped with a message; the same with standard input held open.
TEST(ToolModes, SuiteAnalysisJudgesBmAmAndPoints) {
  std::string dir = new_temp_dir();
  write_text(dir + "/suite.epd",
             "# a comment line\r\n"
             "; another\n"
             "short\n"
             "6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - bm Rd8+ Rd7; id \"mate\";\r\n"
             "6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - am Rd8; id \"avoid\";\n"
             "6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - c9 bm Rd8+; id \"no such square\";\n"
             "6k1/5ppp/8/8/8/8/5PPP/3R2K1\tw\t-\t-\tc0 \"Rd8=10, Rd7=5\"; id \"points\";\n"
             "6k1/5ppp/8/8/8/8/5xPP/3R2K1 w - - bm Rd8+; id \"no such piece\";\n"
             "6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - id \"neither\";\n");
  // Depth 3 searches in this thread; a node limit wakes the search threads.
  for (bool hold : {false, true}) {
    std::vector<std::string> out =
        run_to_exit({"-anepd", "suite.epd", hold ? "-n" : "-d", hold ? "200000" : "3"}, dir, nullptr, hold);
    int moves = 0;
    for (size_t i = 0; i < out.size(); ++i) {
      if (out[i].rfind("move= ", 0) != 0) continue;
      moves += out[i].rfind("move= d1d8", 0) == 0;
      // The next position's report follows directly.
      EXPECT_TRUE(i + 1 < out.size() && !out[i + 1].empty()) << "an empty line after " << out[i];
    }
    EXPECT_EQ(moves, 4);
    EXPECT_EQ(std::count_if(out.begin(), out.end(),
                            [](const std::string& l) { return l.find("position refused") != std::string::npos; }), 2);
    EXPECT_NE(std::find(out.begin(), out.end(), "1 / 4 correct best moves"), out.end());
    EXPECT_NE(std::find(out.begin(), out.end(), "score= 10 / 10"), out.end());
    std::vector<std::string> unsolved = read_lines(dir + "/unsolved.epd");
    EXPECT_EQ(unsolved,
              (std::vector<std::string>{"6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - -", "6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - -"}));
  }
}

// "-texel" on a small file of queenless positions labelled by their
// material balance: the training error falls epoch by epoch, the queen
// weights (no coefficient anywhere in the data), the unused parameters and
// the material values stay where they were, and both result forms are read.
TEST(Texel, FitsTheFileAndLeavesUnusedWeightsAlone) {
  EXPECT_EQ(texel_line_result("8/8 w - - c9 \"0-1\";"), 0.0);
  EXPECT_EQ(texel_line_result("8/8 w - - [0.5]"), 0.5);
  EXPECT_EQ(texel_line_result("8/8 w - - [2.0]"), -1);
  std::string dir = new_temp_dir(), text = "8/8/8/8/8/8/8/8 w - - no result here\n";
  const std::string QUEENLESS = "rnb1kbnr/pppppppp/8/8/8/8/PPPPPPPP/RNB1KBNR w KQkq -";
  int n = 0;
  for (const std::string& fen : with_random_plies(std::vector<std::string>(150, QUEENLESS), 40, 2)) {
    TestBoard b(fen.c_str());
    const Position& p = b.pos;
    // No queen, and none the quiescence line could make: no pawn past its fourth rank.
    const bool near_promotion =
        (p.pieces[WHITE][PAWN] & 0x00FFFFFF00000000ULL) || (p.pieces[BLACK][PAWN] & 0x00000000FFFFFF00ULL);
    if (p.pieces[WHITE][QUEEN] || p.pieces[BLACK][QUEEN] || near_promotion || popcount(p.occupied()) < 12 ||
        in_check(p))
      continue;
    const int balance = p.piece_material[WHITE] - p.piece_material[BLACK] +
                        popcount(p.pieces[WHITE][PAWN]) - popcount(p.pieces[BLACK][PAWN]);
    const char* result = balance > 0 ? "1-0" : balance < 0 ? "0-1" : "1/2-1/2";
    text += ++n % 2 ? fen + " ce " + std::to_string(20 * balance) + "; c9 \"" + result + "\";\n"
                    : fen + " [" + (balance > 0 ? "1.0" : balance < 0 ? "0.0" : "0.5") + "]\n";
  }
  ASSERT_GT(n, 1000);
  write_text(dir + "/small.epd", text);
  const std::vector<std::string> out = run_to_exit({"-texel", "small.epd", "-epochs", "6", "-lambda", "0.7"}, dir);
  std::vector<double> train;
  bool counted = false;
  int best_lines = 0, best_epoch = -1;
  for (const std::string& line : out) {
    int epoch;
    double t, v;
    if (std::sscanf(line.c_str(), "epoch %d train %lf validation %lf", &epoch, &t, &v) == 3) train.push_back(t);
    counted = counted || line.find("1 without a result") != std::string::npos;
    // The recorded scores (20 per pawn, where the evaluation gives about 100)
    // get a scale of their own, several times the evaluation's.
    double k, k_score;
    if (std::sscanf(line.c_str(), "K= %lf (recorded scores %lf)", &k, &k_score) == 2) {
      EXPECT_GT(k_score, 2 * k);
      ++best_lines;
    }
    if (std::sscanf(line.c_str(), "lowest validation error %lf after epoch %d", &v, &best_epoch) == 2) ++best_lines;
  }
  EXPECT_TRUE(counted);
  EXPECT_EQ(best_lines, 2);  // the scales and the best epoch
  EXPECT_TRUE(best_epoch >= 0 && best_epoch <= 6) << best_epoch;
  ASSERT_EQ(train.size(), 7u);
  for (size_t e = 1; e < train.size(); ++e) EXPECT_LT(train[e], train[e - 1]) << "epoch " << e;
  auto parameters = [](const std::string& path) {
    std::map<std::string, int> values;
    for (const std::string& line : read_lines(path))
      if (size_t eq = line.find('='); eq != std::string::npos && line[0] != '#' && std::isdigit(line.back()))
        values[line.substr(0, eq)] = std::stoi(line.substr(eq + 1));
    return values;
  };
  std::map<std::string, int> fitted = parameters(dir + "/texel-weights.cfg");
  // The tuner starts from the shipped defaults, which "-mkconfig" lists.
  run_to_exit({"-mkconfig"}, dir);
  std::map<std::string, int> defaults = parameters(dir + "/vorn.cfg");
  auto shipped = [&](const char* name) { return defaults[name]; };
  // Unseen weights, the material anchor, and the shaped tables' weights,
  // which the square and count refinements stand in for, stay.
  for (const char* name : {"queen_mobility_op", "queen_mobility_en", "PST_Q_op", "PST_Q_en", "pawn_value_op",
                           "rook_value_en", "p1", "pst_d8", "queen_rank7_op", "pst_queen_d4_op", "mob_queen_9_en",
                           "knight_mobility_op", "PST_N_en", "pst_pawn_e8_op"})
    EXPECT_EQ(fitted[name], shipped(name)) << name;
  EXPECT_NE(fitted["rook_open_file_op"], shipped("rook_open_file_op"));
  // A table's refinements reshape it around a zero mean, so both signs occur.
  int above = 0, below = 0;
  for (const auto& [name, value] : fitted)
    if (name.rfind("pst_knight_", 0) == 0 && name.size() > 3 && name.substr(name.size() - 3) == "_op") {
      above += value - shipped(name.c_str()) > 0;
      below += value - shipped(name.c_str()) < 0;
    }
  EXPECT_GT(above, 3);
  EXPECT_GT(below, 3);
  EXPECT_NE(read_text(dir + "/texel-weights.inc").find("{\"PST_K_en\", "), std::string::npos);
}

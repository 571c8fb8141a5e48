// Evaluation: parameter registry and slots, built weight tables, the
// evaluation framework (material, square tables, stage, special endgames,
// draw scaling, cache) and colour symmetry over real positions.
#include <cctype>
#include <iterator>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "board/notation.h"
#include "board/position.h"
#include "eval/eval.h"
#include "eval/kpk.h"
#include "eval/params.h"
#include "platform/output.h"
#include "board_test.h"
#include "eval_fixture.h"
#include "test_util.h"

namespace {

using Board = ValidBoard;

class EvalTest : public EvalFixture {
 protected:
  static int eval_fen(const std::string& fen, EvalPlyInfo* info = nullptr) {
    Board b(fen);
    return evaluate(eval_thread, b.pos, 1, info);
  }
};

int op(Score s) { return score_op(s); }
int en(Score s) { return score_en(s); }

// The same position with colours exchanged, the board turned and the other side to move.
std::string mirror_fen(const std::string& fen) {
  std::istringstream in(fen);
  std::string board, side, castle, ep, rest, tok;
  in >> board >> side >> castle >> ep;
  while (in >> tok) rest += " " + tok;
  std::vector<std::string> ranks;
  std::stringstream bs(board);
  while (std::getline(bs, tok, '/')) ranks.push_back(tok);
  std::string out;
  for (auto it = ranks.rbegin(); it != ranks.rend(); ++it) {
    if (!out.empty()) out += '/';
    for (char c : *it) out += std::isupper(c) ? char(std::tolower(c)) : char(std::toupper(c));
  }
  std::string c2;
  for (char c : castle) c2 += c == '-' ? c : std::isupper(c) ? char(std::tolower(c)) : char(std::toupper(c));
  std::string ep2 = ep;
  if (ep.size() == 2) ep2[1] = char('1' + ('8' - ep[1]));
  return out + (side == "w" ? " b " : " w ") + c2 + " " + ep2 + rest;
}

}  // namespace

// --- Registry and slot layout --------------------------------------------

TEST_F(EvalTest, RegistryNamesSlotsAndDefaults) {
  EXPECT_EQ(g_eval_params.count, 76 + 32 + 15);
  EXPECT_STREQ(g_eval_params.entries[0].name, "pawn_value_op");
  EXPECT_STREQ(g_eval_params.entries[g_eval_params.count - 1].name, "p15");

  struct Where {
    const char* name;
    int slot;
    int value;
  };
  const Where expected[] = {
      {"pawn_value_op", 248, 90},       {"pawn_value_en", 249, 110},     {"knight_value_op", 250, 380},
      {"queen_value_en", 257, 1200},    {"bishop_pair_en", 259, 50},     {"knight_mobility_op", 260, 40},
      {"knight_outpost", 282, 16},      {"bishop_outpost", 284, 13},     {"pawn_shield", 296, 54},
      {"pawn_storm", 297, -9},          {"threat_ppush_en", 309, -8},    {"PST_P_op", 310, 28},
      {"PST_K_en", 321, 52},            {"p1", 322, 2},                  {"p15", 336, 4},
      {"pawnstruct", 357, 100},         {"ppawns", 360, 100},            {"king_safety", 361, 100},
      {"threats", 364, 100},            {"pst_a1", 369, 3},              {"pst_d2", 376, -12},
      {"pst_d8", 400, -26},
  };
  for (const Where& w : expected) {
    int i = find_eval_param(w.name);
    ASSERT_GE(i, 0) << w.name;
    EXPECT_EQ(g_eval_params.entries[i].value, &eval_slots[w.slot]) << w.name;
    EXPECT_EQ(eval_slots[w.slot], w.value) << w.name;
    EXPECT_EQ(g_eval_params.entries[i].estimate, w.value) << w.name;
  }
  // The pinned option pairs: Mtl_* and the percentage pairs up to tune.
  EXPECT_EQ(eval_slots[258], 30);
  for (int s = 337; s <= 368; ++s) EXPECT_EQ(eval_slots[s], 100) << s;
  // The outposts' endgame halves are in the block but not named.
  EXPECT_EQ(eval_slots[283], 0);
  EXPECT_EQ(eval_slots[285], 0);
  for (int i = 0; i < g_eval_params.count; ++i) EXPECT_NE(g_eval_params.entries[i].value, &eval_slots[283]);

  EXPECT_TRUE(select_eval_param("king_safety"));
  EXPECT_EQ(g_eval_params.entries[find_eval_param("king_safety")].tune, 1);
  EXPECT_FALSE(select_eval_param("King_Safety"));  // names compare exactly
  EXPECT_EQ(find_eval_param("no_such_param"), -1);
}

// --- Built tables ---------------------------------------------------------

TEST_F(EvalTest, PieceSquareTablesWithDefaults) {
  const EvalWeights& w = g_weights;
  EXPECT_EQ(op(w.pst[KNIGHT][A1]), -27);
  EXPECT_EQ(en(w.pst[KNIGHT][A1]), -32);
  EXPECT_EQ(op(w.pst[KNIGHT][D4]), 8);
  EXPECT_EQ(en(w.pst[KNIGHT][D4]), 10);
  EXPECT_EQ(w.pst[KNIGHT][H1], w.pst[KNIGHT][A1]);  // files e-h mirror a-d
  EXPECT_EQ(op(w.pst[QUEEN][D5]), -2);
  EXPECT_EQ(op(w.pst[QUEEN][D4]), 2);
  for (int sq = 0; sq < 64; ++sq) EXPECT_EQ(en(w.pst[ROOK][sq]), 0);
  // Where weight equals divisor the shape comes through unchanged.
  EXPECT_EQ(op(w.pst[PAWN][E4]), 10);
  EXPECT_EQ(en(w.pst[PAWN][E4]), 2);  // 1 * 8 / 4
  EXPECT_EQ(op(w.pst[BISHOP][B2]), 1);
  EXPECT_EQ(op(w.connected[D7]), 48);
  EXPECT_EQ(en(w.connected[D7]), 36);  // 48 * 36 / 48
  EXPECT_EQ(w.defended[C6], make_score(14, 14));
  EXPECT_EQ(op(w.pst[KING][A1]), 4);
  EXPECT_EQ(en(w.pst[KING][A1]), -38);  // trunc(-44 * 52 / 60)
  EXPECT_EQ(w.material[QUEEN], make_score(1200, 1200));
  EXPECT_EQ(w.bishop_pair, make_score(30, 50));
}

TEST_F(EvalTest, ScalingRoundsHalvesAwayFromZero) {
  eval_slots[SLOT_SCALE_PST_KNIGHT] = 50;
  eval_slots[SLOT_SCALE_PST_KNIGHT + 1] = 15;
  eval_slots[SLOT_SCALE_PAWN_STRUCTURE] = 50;
  eval_slots[SLOT_SCALE_THREATS + 1] = 50;
  eval_slots[SLOT_SCALE_PST_ROOK] = 0;
  rebuild_eval();
  const EvalWeights& w = g_weights;
  EXPECT_EQ(op(w.pst[KNIGHT][A1]), -14);  // -27 * 0.5 = -13.5
  EXPECT_EQ(en(w.pst[KNIGHT][D4]), 2);    // 10 * 0.15 = 1.5
  EXPECT_EQ(op(w.doubled), -3);           // -2.5
  EXPECT_EQ(en(w.doubled), -5);           // en percentage untouched
  EXPECT_EQ(en(w.hung_pawn), -14);
  EXPECT_EQ(op(w.hung_pawn), -15);
  for (int sq = 0; sq < 64; ++sq) EXPECT_EQ(op(w.pst[ROOK][sq]), 0);
  EXPECT_EQ(w.material[ROOK], make_score(535, 635));  // percentages never touch material
}

TEST_F(EvalTest, MobilityKingAndPassedTables) {
  const EvalWeights& w = g_weights;
  const int knight[11][2] = {{-18, -23}, {-6, -7}, {0, 0},   {5, 6},   {9, 12}, {13, 17},
                             {17, 21},   {21, 26}, {24, 30}, {27, 34}, {30, 38}};
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(op(w.knight_mobility[i]), knight[i][0]) << i;
    EXPECT_EQ(en(w.knight_mobility[i]), knight[i][1]) << i;
  }
  EXPECT_EQ(w.bishop_mobility[0], make_score(-23, -27));
  EXPECT_EQ(w.bishop_mobility[1], make_score(-11, -13));
  EXPECT_EQ(w.bishop_mobility[2], make_score(-6, -7));
  EXPECT_EQ(w.bishop_mobility[20], make_score(43, 50));
  EXPECT_EQ(w.rook_mobility[0], make_score(-21, -26));
  EXPECT_EQ(w.rook_mobility[20], make_score(38, 49));
  EXPECT_EQ(w.queen_mobility[0], make_score(-18, -48));
  EXPECT_EQ(w.queen_mobility[1], make_score(-11, -28));
  EXPECT_EQ(w.queen_mobility[28], make_score(19, 50));

  const int danger_start[11] = {0, 0, 1, 2, 4, 6, 9, 12, 16, 20, 25};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(w.king_danger[i], danger_start[i]) << i;
  EXPECT_EQ(w.king_danger[20], 100);
  EXPECT_EQ(w.king_danger[30], 225);
  EXPECT_EQ(w.king_danger[40], 354);
  EXPECT_EQ(w.king_danger[50], 453);
  EXPECT_EQ(w.king_danger[63], 554);

  for (int i = 0; i < 9; ++i) EXPECT_EQ(w.pawn_shield[i], 6 * i);
  for (int i = 9; i < PAWN_SHIELD_SIZE; ++i) EXPECT_EQ(w.pawn_shield[i], 54);
  EXPECT_EQ(w.passer_safe[6], 200);
  EXPECT_EQ(w.passer_held[5], 80);
  EXPECT_EQ(w.knight_outpost_half, make_score(8, 0));
  EXPECT_EQ(w.bishop_outpost_half, make_score(6, 0));

  eval_slots[SLOT_SCALE_MOBILITY_KNIGHT] = eval_slots[SLOT_SCALE_MOBILITY_KNIGHT + 1] = 0;
  eval_slots[SLOT_SCALE_PASSED_PAWNS + 1] = 50;
  rebuild_eval();
  for (int i = 0; i < 11; ++i) EXPECT_EQ(w.knight_mobility[i], 0) << i;
  EXPECT_EQ(w.passer_safe[1], 4);  // trunc(9 * 0.5)
}


TEST_F(EvalTest, TableListing) {
  {
    CaptureOutput out;
    print_eval_tables();
  }
  ASSERT_GT(g_captured.size(), 100u);
  EXPECT_EQ(g_captured[0], "piece values=  90/110  380/360  390/375  535/635  1200/1200");
  EXPECT_EQ(g_captured[1], "bishop_pair= 30 , 50");
  EXPECT_EQ(g_captured[3], "KingDanger[]=");
  EXPECT_EQ(g_captured[5], "10:     25    30    36    42    49    56    64    72    81    90 ");
  bool knight_seen = false;
  for (size_t i = 0; i + 1 < g_captured.size(); ++i)
    if (g_captured[i] == "Knight") {
      EXPECT_EQ(g_captured[i + 1], "  -44   -26   -20   -18   -18   -20   -26   -44 ");
      knight_seen = true;
      break;
    }
  EXPECT_TRUE(knight_seen);
}

TEST(EvalScore, PackingAndTaper) {
  Score s = make_score(-27, -32);
  EXPECT_EQ(score_op(s), -27);
  EXPECT_EQ(score_en(s), -32);
  Score sum = make_score(5, -3) + make_score(-7, 10) - make_score(1, 1);
  EXPECT_EQ(score_op(sum), -3);
  EXPECT_EQ(score_en(sum), 6);
  EXPECT_EQ(score_op(3 * make_score(-4, 2)), -12);
  EXPECT_EQ(taper(make_score(100, 200), 0), 100);
  EXPECT_EQ(taper(make_score(100, 200), 24), 200);
  EXPECT_EQ(taper(make_score(100, 200), 12), 150);
  EXPECT_EQ(taper(make_score(-1, 0), 12), 0);  // truncates towards zero
  EXPECT_EQ(round_div(-250, 100), -3);
  EXPECT_EQ(round_div(250, 100), 3);
  EXPECT_EQ(round_div(-249, 100), -2);
}

// --- Evaluation -----------------------------------------------------------

TEST_F(EvalTest, StageAndStartPosition) {
  Board b("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  EXPECT_EQ(game_stage(b.pos), 0);
  // Everything cancels but the tempo, 16/8 at stage 0.
  EXPECT_EQ(evaluate(eval_thread, b.pos, 1, nullptr), 16);
  EXPECT_EQ(eval_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1"), 16);
  b.set("4k3/8/8/8/8/8/8/QQQQK3 w - - 0 1");
  EXPECT_EQ(game_stage(b.pos), 12);  // 16 capped at 12
  b.set("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
  EXPECT_EQ(game_stage(b.pos), 22);
}

TEST_F(EvalTest, SkipAndDrawsByMaterial) {
  Board b("4k3/8/8/8/8/8/8/4K3 w - - 0 1");
  EXPECT_EQ(evaluate(eval_thread, b.pos, 3, nullptr, true), -10001);
  const char* draws[] = {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", "4k3/8/8/8/8/8/8/4KN2 b - - 0 1",
                         "4k3/8/8/8/8/8/8/3NKN2 w - - 0 1", "4kb2/8/8/8/8/8/8/4KB2 w - - 0 1",
                         "4kn2/8/8/8/8/8/8/4KB2 w - - 0 1"};
  for (const char* fen : draws) {
    EvalPlyInfo info{{7, 7}, 0};
    EXPECT_EQ(eval_fen(fen, &info), 0) << fen;
    EXPECT_EQ(info.draw_by_material, 1) << fen;
  }
  EvalPlyInfo info{{7, 7}, 1};
  EXPECT_NE(eval_fen("4k3/8/8/8/8/8/8/2BNK3 w - - 0 1", &info), 0);  // bishop and knight mate
  EXPECT_EQ(info.draw_by_material, 0);
  EXPECT_NE(eval_fen("4k3/8/8/8/8/8/8/2NNKN2 w - - 0 1"), 0);  // three knights can mate
}

TEST_F(EvalTest, EndgamesAgainstBareKing) {
  // Queen: 100 * 10 + 200 + 2 * (edge 30 - 8 * distance 7).
  EXPECT_EQ(eval_fen("4k3/8/8/8/8/8/8/3QK3 w - - 0 1"), 1148);
  EXPECT_EQ(eval_fen("4k3/8/8/8/8/8/8/3QK3 b - - 0 1"), -1148);
  EXPECT_EQ(eval_fen("3qk3/8/8/8/8/8/8/4K3 b - - 0 1"), 1148);

  // Bishop and knight: the lone king in the bishop's corner is worth more.
  EXPECT_EQ(eval_fen("7k/8/8/8/4K3/8/8/1NB5 w - - 0 1"), 740 + 10 * 2 + 8 * 7 - 6 * 4);
  EXPECT_EQ(eval_fen("7k/8/8/8/4K3/8/8/1N3B2 w - - 0 1"), 740 + 10 * 2 + 8 * 0 - 6 * 4);

  // King and pawn: king in front on the sixth wins whoever moves.
  EXPECT_EQ(eval_fen("4k3/8/4K3/4P3/8/8/8/8 w - - 0 1"), 4 * 4 + 0 - 2 + 800);
  EXPECT_EQ(eval_fen("4k3/8/4K3/4P3/8/8/8/8 b - - 0 1"), -814);
  // Without the win only the small distance terms remain.
  EXPECT_EQ(eval_fen("k7/8/8/8/8/8/P7/2K5 w - - 0 1"), 4 * 1 + 0 - 7);

  // The same endgames with colours exchanged (black pawn, h-file pawn, light bishop).
  const char* fens[] = {"8/8/8/8/8/8/7P/5K1k w - - 0 1", "8/8/8/5K2/7P/8/8/2k5 b - - 0 1",
                        "4k3/8/4K3/4P3/8/8/8/8 b - - 0 1", "7k/8/8/8/4K3/8/8/1N3B2 w - - 0 1",
                        "8/8/3k4/8/8/8/1R6/6K1 b - - 0 1"};
  for (const char* fen : fens) EXPECT_EQ(eval_fen(fen), eval_fen(mirror_fen(fen))) << fen;
}

TEST(Kpk, KnownResults) {
  init_kpk_table();
  // Squares from the pawn side, pawn on files a-d.  Arguments: pawn side to move, pawn, own king, lone king.
  EXPECT_TRUE(kpk_won(1, E5 ^ 7, E6 ^ 7, E8 ^ 7));   // king in front on the sixth
  EXPECT_TRUE(kpk_won(0, E5 ^ 7, E6 ^ 7, E8 ^ 7));
  EXPECT_TRUE(kpk_won(1, A5, H1, H8));               // the lone king is outside the square
  EXPECT_FALSE(kpk_won(0, A5, H1, D7));               // ... or inside it
  EXPECT_FALSE(kpk_won(1, A2, C1, A8));               // rook's pawn, lone king in the corner
  EXPECT_FALSE(kpk_won(0, D4, H1, D5));               // the lone king takes the pawn
  EXPECT_FALSE(kpk_won(0, D7, D6, D8));               // stalemate
  EXPECT_TRUE(kpk_won(1, D7, D6, D8));                // Kc6, Ke7, Kc7 and the pawn queens
}

TEST_F(EvalTest, DrawScaling) {
  Board b;
  // Rook and pawn against rook with the defending king in front of the pawn.
  b.set("r7/4k3/8/4P3/8/8/8/2K4R w - - 0 1");
  EXPECT_EQ(draw_scale(b.pos, 100, 2, 2), 206 - 40 - 50);
  EXPECT_LT(draw_scale(b.pos, 100, 2, 2), 256);
  // Two knights alone cannot force mate.
  b.set("4k3/4p3/8/8/8/8/8/3NKN2 w - - 0 1");
  EXPECT_EQ(draw_scale(b.pos, 300, 2, 0), 16);
  // Rook's pawn with the bishop of the wrong colour; the right bishop wins.
  b.set("1k6/8/8/P7/8/8/8/2B1K3 w - - 0 1");
  EXPECT_EQ(draw_scale(b.pos, 400, 1, 0), 16);
  b.set("1k6/8/8/P7/8/8/8/4KB2 w - - 0 1");
  EXPECT_EQ(draw_scale(b.pos, 400, 1, 0), 256);
  // No pawns: at most half a point's worth of the score survives.
  b.set("4k3/8/8/8/8/8/8/2R1K3 w - - 0 1");
  EXPECT_EQ(draw_scale(b.pos, 400, 2, 0), 256);  // a clear piece up
  b.set("3nk3/8/8/8/8/8/8/2R1K3 w - - 0 1");
  EXPECT_EQ(draw_scale(b.pos, 200, 2, 1), 32);
  // Opposite bishops, one pawn up, the defending bishop covers the pawn's path.
  b.set("6k1/8/8/2b5/P1B5/8/8/6K1 w - - 0 1");
  EXPECT_EQ(draw_scale(b.pos, 100, 1, 1), 76);
  // The side ahead is found from the score's sign.
  EXPECT_EQ(draw_scale(b.pos, -100, 1, 1), 16);  // Black "ahead" without pawns
}

TEST_F(EvalTest, CacheAnswersRepeatsUntilRebuild) {
  Board b("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4");
  eval_thread.iteration_depth = 2;
  int first = evaluate(eval_thread, b.pos, 2, nullptr);
  u64 hits = eval_thread.cache_hits;
  g_weights.pst[BISHOP][C4] += make_score(50, 50);  // a change the cache cannot know about
  EXPECT_EQ(evaluate(eval_thread, b.pos, 2, nullptr), first);
  EXPECT_EQ(eval_thread.cache_hits, hits + 1);
  EXPECT_NE(evaluate(eval_thread, b.pos, 1, nullptr), first);  // ply 1 never reads the cache

  build_eval_tables(eval_slots);  // back to the defaults, and the caches are marked stale
  eval_begin_search(eval_thread, WHITE, 1.0);
  EXPECT_EQ(eval_thread.cache_hits, 0u);
  eval_thread.iteration_depth = 2;
  g_weights.pst[BISHOP][C4] += make_score(50, 50);
  EXPECT_NE(evaluate(eval_thread, b.pos, 2, nullptr), first);
  eval_thread.iteration_depth = 0;
}

TEST_F(EvalTest, Contempt) {
  const std::string start = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
  eval_slots[SLOT_CONTEMPT] = 41;  // n = 29 + 12 = 41 for the start position, so +41
  rebuild_eval();
  EXPECT_EQ(eval_fen(start), 16 + 41);
  eval_begin_search(eval_thread, BLACK, 1.0);
  EXPECT_EQ(eval_fen(mirror_fen(start)), 16 + 41);
  eval_begin_search(eval_thread, WHITE, 6000.0);  // analysis: no contempt
  EXPECT_EQ(eval_fen(start), 16);
  eval_slots[SLOT_CONTEMPT] = -300;  // clamped to -150
  rebuild_eval();
  EXPECT_EQ(g_weights.contempt, -150);
}

// Positions from the games of a PGN file: every third position of each game,
// up to `limit` in all.  Comments, variations, move numbers, results and
// annotation glyphs are skipped; a game stops at the first move that does not parse.
static std::vector<std::string> pgn_positions(const std::string& path, size_t limit) {
  std::vector<std::string> fens;
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Board b;
  bool in_game = false, broken = false;
  int ply = 0;
  size_t i = 0;
  auto start_game = [&] {
    b.set("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
    in_game = true;
    broken = false;
    ply = 0;
  };
  while (i < text.size() && fens.size() < limit) {
    char ch = text[i];
    if (ch == '[') {  // a tag: the next moves start a new game
      in_game = false;
      while (i < text.size() && text[i] != '\n') ++i;
      continue;
    }
    if (ch == '{') {
      while (i < text.size() && text[i] != '}') ++i;
      ++i;
      continue;
    }
    if (ch == '(') {
      for (int depth = 0; i < text.size(); ++i) {
        if (text[i] == '(') ++depth;
        if (text[i] == ')' && --depth == 0) break;
      }
      ++i;
      continue;
    }
    if (ch == ';') {
      while (i < text.size() && text[i] != '\n') ++i;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(ch))) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j])) && text[j] != '{' && text[j] != '(')
      ++j;
    std::string tok = text.substr(i, j - i);
    i = j;
    size_t dot = tok.find_last_of('.');
    if (dot != std::string::npos) tok = tok.substr(dot + 1);  // "12.e4" and "12..."
    if (tok.empty() || tok[0] == '$' || std::isdigit(static_cast<unsigned char>(tok[0])) || tok == "*") continue;
    if (!in_game) start_game();
    if (broken) continue;
    while (!tok.empty() && (tok.back() == '+' || tok.back() == '#' || tok.back() == '!' || tok.back() == '?'))
      tok.pop_back();
    Move m;
    if (!parse_move(b.pos, tok.c_str(), &m)) {
      broken = true;
      continue;
    }
    make_move(b.pos, m);
    if (b.pos.owner->history_count > 600) {
      broken = true;
      continue;
    }
    if (++ply % 3 == 0) {
      char fen[128];
      position_to_fen(b.pos, fen);
      fens.push_back(fen);
    }
  }
  return fens;
}

// Positions from random games (fixed seed): odd material such as several
// queens, bare kings and far-advanced pawns that real games rarely reach.
static std::vector<std::string> random_game_positions(int games) {
  std::vector<std::string> fens;
  Board b;
  u32 seed = 12345;
  for (int g = 0; g < games; ++g) {
    b.set("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
    for (int ply = 0; ply < 300; ++ply) {
      Move list[MAX_MOVES];
      int n = gen_legal(b.pos, list);
      if (n == 0 || b.pos.fifty_count >= 100) break;
      seed = seed * 1103515245u + 12345u;
      make_move(b.pos, list[(seed >> 8) % n]);
      if (ply % 7 == 6) {
        char fen[128];
        position_to_fen(b.pos, fen);
        fens.push_back(fen);
      }
    }
  }
  return fens;
}

// Colour symmetry: a position and its mirror image with the other side to
// move score exactly the same, over the perft suite, Win At Chess,
// positions from master and engine games and from random games.
TEST_F(EvalTest, ColourSymmetryOverSuitesAndGames) {
  REQUIRE_TESTDATA("perft/perftsuite.epd");
  REQUIRE_TESTDATA("epd/wac.epd");
  REQUIRE_TESTDATA("pgn/engine-games.pgn");
  REQUIRE_TESTDATA("pgn/carlsen.pgn");
  std::vector<std::string> fens;
  {
    std::ifstream in(testdata_path("perft/perftsuite.epd"));
    std::string line;
    while (std::getline(in, line))
      if (line.find(';') != std::string::npos) fens.push_back(line.substr(0, line.find(';')));
  }
  {
    std::ifstream in(testdata_path("epd/wac.epd"));
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream ls(line);
      std::string f[4];
      if (ls >> f[0] >> f[1] >> f[2] >> f[3]) fens.push_back(f[0] + " " + f[1] + " " + f[2] + " " + f[3]);
    }
  }
  ASSERT_GT(fens.size(), 400u);
  std::vector<std::string> games = pgn_positions(testdata_path("pgn/engine-games.pgn"), 3000);
  std::vector<std::string> masters = pgn_positions(testdata_path("pgn/carlsen.pgn"), 2000);
  EXPECT_GE(games.size(), 3000u);
  EXPECT_GE(masters.size(), 2000u);
  fens.insert(fens.end(), games.begin(), games.end());
  fens.insert(fens.end(), masters.begin(), masters.end());
  std::vector<std::string> random = random_game_positions(60);
  EXPECT_GT(random.size(), 1500u);
  fens.insert(fens.end(), random.begin(), random.end());

  // Odd percentages make rounding asymmetries show.
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) {
      for (int s = SLOT_SCALE_PST_PAWN; s < SLOT_SCALE_AWARENESS; ++s) eval_slots[s] = i16(37 + 11 * (s & 7));
      rebuild_eval();
    }
    int nonzero = 0, failures = 0;
    Board a, m;
    for (const std::string& fen : fens) {
      a.set(fen);
      m.set(mirror_fen(fen));
      EvalPlyInfo ia{}, im{};
      int ea = evaluate(eval_thread, a.pos, 1, &ia), em = evaluate(eval_thread, m.pos, 1, &im);
      bool same = ea == em && ia.danger[WHITE] == im.danger[BLACK] && ia.danger[BLACK] == im.danger[WHITE];
      if (!same && ++failures <= 10)
        ADD_FAILURE() << fen << ": " << ea << " vs " << em << ", danger " << ia.danger[0] << "/" << ia.danger[1]
                      << " vs " << im.danger[1] << "/" << im.danger[0];
      nonzero += ea != 0;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_GT(nonzero, 4000);
  }
}

// Evaluation: parameter registry, table rules, framework and colour symmetry.
#include <cctype>
#include <cstring>

#include "board_test.h"
#include "eval_fixture.h"

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

// Every table of the weights, each entry with its percentage pair, so that
// rules can be checked over all of them at once.
struct Table {
  const Score* entries;
  int size, scale_slot;
};
std::vector<Table> scaled_tables(const EvalWeights& w) {
  std::vector<Table> t = {{w.connected, 64, SLOT_SCALE_PAWN_STRUCTURE}, {w.defended, 64, SLOT_SCALE_PAWN_STRUCTURE},
                          {&w.doubled, 1, SLOT_SCALE_PAWN_STRUCTURE},   {&w.isolated, 1, SLOT_SCALE_PAWN_STRUCTURE},
                          {&w.hung_pawn, 1, SLOT_SCALE_THREATS},        {&w.threat_ppush, 1, SLOT_SCALE_THREATS},
                          {w.knight_mobility, KNIGHT_MOBILITY_SIZE, SLOT_SCALE_MOBILITY_KNIGHT},
                          {w.bishop_mobility, BISHOP_MOBILITY_SIZE, SLOT_SCALE_MOBILITY_BISHOP},
                          {w.rook_mobility, ROOK_MOBILITY_SIZE, SLOT_SCALE_MOBILITY_ROOK},
                          {w.queen_mobility, QUEEN_MOBILITY_SIZE, SLOT_SCALE_MOBILITY_QUEEN}};
  const int pst_scale[6] = {SLOT_SCALE_PAWN_STRUCTURE, SLOT_SCALE_PST_KNIGHT, SLOT_SCALE_PST_BISHOP,
                            SLOT_SCALE_PST_ROOK,       SLOT_SCALE_PST_QUEEN,  SLOT_SCALE_PST_KING};
  for (int p = PAWN; p <= KING; ++p) t.push_back({w.pst[p], 64, pst_scale[p - PAWN]});
  return t;
}

}  // namespace

TEST_F(EvalTest, RegistryNamesEverySlotOnce) {
  ASSERT_GT(g_eval_params.count, 100);
  std::set<const i16*> slots;
  int refinements = 0;
  for (int i = 0; i < g_eval_params.count; ++i) {
    const auto& p = g_eval_params.entries[i];
    EXPECT_EQ(find_eval_param(p.name), i) << p.name;
    EXPECT_TRUE(slots.insert(p.value).second) << p.name << " shares a slot";
    const bool in_slots = p.value >= eval_slots && p.value < eval_slots + OPTION_SLOTS;
    const bool refinement = p.value >= &g_fine.v[0][0] && p.value < &g_fine.v[0][0] + 2 * FINE_COUNT;
    EXPECT_TRUE(in_slots || refinement) << p.name;
    const bool refinement_name =
        (std::strncmp(p.name, "pst_", 4) == 0 && std::strchr(p.name + 4, '_')) || std::strncmp(p.name, "mob_", 4) == 0;
    EXPECT_EQ(refinement, refinement_name) << p.name;
    refinements += refinement;
    EXPECT_EQ(p.estimate, *p.value) << p.name;
  }
  EXPECT_EQ(refinements, 2 * FINE_COUNT);
  // The percentage pairs start at 100; the outposts' endgame halves are kept but not named.
  for (int s = SLOT_SCALE_PST_PAWN; s < SLOT_SCALE_TUNE + 2; ++s) EXPECT_EQ(eval_slots[s], 100) << s;
  EXPECT_EQ(slots.count(&eval_slots[SLOT_KNIGHT_OUTPOST + 1]), 0u);
  EXPECT_TRUE(select_eval_param("king_safety"));
  EXPECT_EQ(g_eval_params.entries[find_eval_param("king_safety")].tune, 1);
  EXPECT_FALSE(select_eval_param("King_Safety"));  // names compare exactly
  EXPECT_EQ(find_eval_param("no_such_param"), -1);
}

// The rules of the built tables rather than their numbers: files e-h mirror
// a-d, percentages scale every entry with rounding (and never touch
// material), mobility and king danger grow with the count.
TEST_F(EvalTest, BuiltTablesFollowTheirRules) {
  static EvalWeights base;
  base = g_weights;
  for (int p = PAWN; p <= KING; ++p)
    for (int sq = 0; sq < 64; ++sq) ASSERT_EQ(base.pst[p][sq], base.pst[p][sq ^ 7]) << p << " " << sq;
  const std::vector<Table> before = scaled_tables(base);
  for (size_t k = 6; k < 10; ++k) {  // the mobility tables
    const Table& mob = before[k];
    EXPECT_LT(op(mob.entries[0]), op(mob.entries[1]));  // a piece that cannot move pays extra
    for (int i = 1; i < mob.size; ++i) {
      EXPECT_LE(op(mob.entries[i - 1]), op(mob.entries[i])) << i;
      EXPECT_LE(en(mob.entries[i - 1]), en(mob.entries[i])) << i;
    }
  }
  for (int i = 1; i < KING_DANGER_SIZE; ++i) EXPECT_LE(base.king_danger[i - 1], base.king_danger[i]) << i;
  EXPECT_LT(base.king_danger[KING_DANGER_SIZE - 1], KING_DANGER_SIZE * KING_DANGER_SIZE / 4);  // it flattens out
  for (int i = 1; i < PAWN_SHIELD_SIZE; ++i) EXPECT_LE(base.pawn_shield[i - 1], base.pawn_shield[i]);
  EXPECT_EQ(base.pawn_shield[PAWN_SHIELD_SIZE - 1], eval_slots[SLOT_PAWN_SHIELD]);
  for (int r = 2; r < 7; ++r) EXPECT_LE(base.passer_safe[r - 1], base.passer_safe[r]) << r;

  // Odd percentages, different for the two halves; zero for the rook's square
  // values.  The scaled values round halves away from zero.
  EXPECT_TRUE(round_div(-250, 100) == -3 && round_div(250, 100) == 3 && round_div(-249, 100) == -2);
  for (int s = SLOT_SCALE_PST_PAWN; s < SLOT_SCALE_AWARENESS; ++s) eval_slots[s] = i16(s % 2 ? 50 : 15);
  eval_slots[SLOT_SCALE_PST_ROOK] = 0;
  rebuild_eval();
  const std::vector<Table> after = scaled_tables(g_weights);
  for (size_t k = 0; k < before.size(); ++k)
    for (int i = 0; i < before[k].size; ++i) {
      const Score was = before[k].entries[i], now = after[k].entries[i];
      const int s = before[k].scale_slot;
      ASSERT_EQ(op(now), round_div(op(was) * eval_slots[s], 100)) << "table " << k << " entry " << i;
      ASSERT_EQ(en(now), round_div(en(was) * eval_slots[s + 1], 100)) << "table " << k << " entry " << i;
    }
  for (int sq = 0; sq < 64; ++sq) EXPECT_EQ(op(g_weights.pst[ROOK][sq]), 0);
  for (int p = PAWN; p <= QUEEN; ++p) EXPECT_EQ(g_weights.material[p], base.material[p]);
  EXPECT_EQ(g_weights.passer_safe[6], base.passer_safe[6] * 15 / 100);
}

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
  for (const char* fen : {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", "4k3/8/8/8/8/8/8/4KN2 b - - 0 1",
                          "4k3/8/8/8/8/8/8/3NKN2 w - - 0 1", "4kb2/8/8/8/8/8/8/4KB2 w - - 0 1",
                          "4kn2/8/8/8/8/8/8/4KB2 w - - 0 1"}) {
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
  // Bishop and knight: the lone king in the bishop's corner is worth more.
  EXPECT_EQ(eval_fen("7k/8/8/8/4K3/8/8/1NB5 w - - 0 1"), 740 + 10 * 2 + 8 * 7 - 6 * 4);
  EXPECT_EQ(eval_fen("7k/8/8/8/4K3/8/8/1N3B2 w - - 0 1"), 740 + 10 * 2 + 8 * 0 - 6 * 4);
  // King and pawn: king in front on the sixth wins whoever moves; without the
  // win only the small distance terms remain.
  EXPECT_EQ(eval_fen("4k3/8/4K3/4P3/8/8/8/8 w - - 0 1"), 4 * 4 + 0 - 2 + 800);
  EXPECT_EQ(eval_fen("4k3/8/4K3/4P3/8/8/8/8 b - - 0 1"), -814);
  EXPECT_EQ(eval_fen("k7/8/8/8/8/8/P7/2K5 w - - 0 1"), 4 * 1 + 0 - 7);
  // The same endgames with colours exchanged (black pawn, h-file pawn, light bishop).
  for (const char* fen : {"4k3/8/8/8/8/8/8/3QK3 w - - 0 1", "8/8/8/8/8/8/7P/5K1k w - - 0 1",
                          "8/8/8/5K2/7P/8/8/2k5 b - - 0 1", "4k3/8/4K3/4P3/8/8/8/8 b - - 0 1",
                          "7k/8/8/8/4K3/8/8/1N3B2 w - - 0 1", "8/8/3k4/8/8/8/1R6/6K1 b - - 0 1"})
    EXPECT_EQ(eval_fen(fen), eval_fen(mirror_fen(fen))) << fen;
}

TEST_F(EvalTest, DrawScaling) {
  auto scale = [](const char* fen, int score, int phase_white, int phase_black) {
    Board b(fen);
    return draw_scale(b.pos, score, phase_white, phase_black);
  };
  // Rook and pawn against rook with the defending king in front of the pawn.
  EXPECT_EQ(scale("r7/4k3/8/4P3/8/8/8/2K4R w - - 0 1", 100, 2, 2), 206 - 40 - 50);
  // Two knights alone cannot force mate.
  EXPECT_EQ(scale("4k3/4p3/8/8/8/8/8/3NKN2 w - - 0 1", 300, 2, 0), 16);
  // Rook's pawn with the bishop of the wrong colour; the right bishop wins.
  EXPECT_EQ(scale("1k6/8/8/P7/8/8/8/2B1K3 w - - 0 1", 400, 1, 0), 16);
  EXPECT_EQ(scale("1k6/8/8/P7/8/8/8/4KB2 w - - 0 1", 400, 1, 0), 256);
  // No pawns: at most half a point's worth of the score survives, unless a clear piece up.
  EXPECT_EQ(scale("4k3/8/8/8/8/8/8/2R1K3 w - - 0 1", 400, 2, 0), 256);
  EXPECT_EQ(scale("3nk3/8/8/8/8/8/8/2R1K3 w - - 0 1", 200, 2, 1), 32);
  // Opposite bishops, one pawn up, the defending bishop covers the pawn's path;
  // the side ahead is found from the score's sign (Black "ahead" without pawns).
  EXPECT_EQ(scale("6k1/8/8/2b5/P1B5/8/8/6K1 w - - 0 1", 100, 1, 1), 76);
  EXPECT_EQ(scale("6k1/8/8/2b5/P1B5/8/8/6K1 w - - 0 1", -100, 1, 1), 16);
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

// Colour symmetry: a position and its mirror image with the other side to
// move score exactly the same, over the perft suite, Win At Chess and the
// match openings with random continuations, and over random games.
TEST_F(EvalTest, ColourSymmetryOverSuitesAndGames) {
  std::vector<std::string> fens;
  for (const char* rel : {"perft/perftsuite.epd", "epd/wac.epd", "openings/openings.epd"}) {
    REQUIRE_TESTDATA(rel);
    const std::vector<std::string> more = fens_of(rel);
    fens.insert(fens.end(), more.begin(), more.end());
  }
  ASSERT_GT(fens.size(), 500u);
  const std::vector<std::string> continued = with_random_plies(fens, 12, 1),
                                 games = with_random_plies(std::vector<std::string>(60, START_FEN), 300, 7);
  EXPECT_GT(continued.size(), 5000u);
  EXPECT_GT(games.size(), 1500u);
  for (const auto* more : {&continued, &games}) fens.insert(fens.end(), more->begin(), more->end());

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
    EXPECT_GT(nonzero, 5000);
  }
}

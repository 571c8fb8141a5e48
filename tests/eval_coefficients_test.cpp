// The evaluation's linear decomposition: coefficients times parameters
// reproduce evaluate exactly, mirror with the colours, and predict what a
// changed parameter does.
#include <cmath>
#include <map>

#include "board_test.h"
#include "engine_process.h"
#include "eval_fixture.h"
#include "test_util.h"

namespace {

class EvalCoefficientsTest : public EvalFixture {
 protected:
  // Suites for the middlegame, random continuations of them and random
  // games down to bare endings: every phase, both sides to move.
  static const std::vector<std::string>& positions() {
    static std::vector<std::string> fens;
    if (fens.empty()) {
      for (const char* rel : {"perft/perftsuite.epd", "epd/wac.epd"}) {
        const std::vector<std::string> more = fens_of(rel);
        fens.insert(fens.end(), more.begin(), more.end());
      }
      const std::vector<std::string> continued = with_random_plies(fens, 10, 2),
                                     games = with_random_plies(std::vector<std::string>(40, START_FEN), 300, 5);
      for (const auto* more : {&continued, &games}) fens.insert(fens.end(), more->begin(), more->end());
    }
    return fens;
  }
};

TEST_F(EvalCoefficientsTest, ReproduceEvaluateAndMirrorWithTheColours) {
  REQUIRE_TESTDATA("epd/wac.epd");
  const std::vector<std::string>& fens = positions();
  ASSERT_GT(fens.size(), 3000u);
  static EvalCoefficients ec, em;
  // Default weights, then odd percentages, contempt and square and mobility
  // refinements, which make every rounding and the non-linear parts show.
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) {
      for (int s = SLOT_SCALE_PST_PAWN; s < SLOT_SCALE_AWARENESS; ++s) eval_slots[s] = i16(37 + 11 * (s & 7));
      eval_slots[SLOT_CONTEMPT] = 40;
      for (int i = 0; i < FINE_COUNT; ++i)
        for (int h = 0; h < 2; ++h) g_fine.v[i][h] = i16((i * 7 + h * 5) % 23 - 11);
      rebuild_eval();
    }
    int linear = 0, failures = 0, stages[3] = {0, 0, 0};
    double worst = 0;
    for (const std::string& fen : fens) {
      ValidBoard b(fen), m(mirror_fen(fen));
      const int e = evaluate(eval_thread, b.pos, 1, nullptr);
      const int c = evaluate_coefficients(eval_thread, b.pos, ec);
      evaluate_coefficients(eval_thread, m.pos, em);
      bool ok = c == e && ec.score == e && score_from_coefficients(ec, g_slopes.value) == e;
      for (int i = 0; i < EVAL_COEF_COUNT; ++i)
        for (int h = 0; h < 2; ++h) ok = ok && std::abs(ec.coef[i][h] + em.coef[i][h]) < 1e-9;
      if (!ok && ++failures <= 5)
        ADD_FAILURE() << fen << ": evaluate " << e << ", coefficients " << c << " / "
                      << score_from_coefficients(ec, g_slopes.value);
      if (!ec.linear) continue;
      ++linear;
      ++stages[ec.stage < 8 ? 0 : ec.stage < 18 ? 1 : 2];
      worst = std::max(worst, ec.worst_rounding);
    }
    EXPECT_EQ(failures, 0);
    EXPECT_GT(linear, 3000);
    for (int n : stages) EXPECT_GT(n, 200);
    // Each term loses less than a few centipawns to integer arithmetic; a
    // wrong coefficient shows as a larger remainder.
    EXPECT_LT(worst, pass == 0 ? 4.0 : 6.0);
  }
}

// Raising one parameter moves the evaluation as its coefficients say, up to
// the rounding of the rebuilt tables.
TEST_F(EvalCoefficientsTest, PredictAChangedParameter) {
  REQUIRE_TESTDATA("epd/wac.epd");
  const std::vector<std::string>& fens = positions();
  static EvalCoefficients ec;
  for (const char* name :
       {"PST_N_op", "knight_mobility_en", "pawn_isolated_op", "rook_open_file_op", "pawn_shield", "pawn_storm",
        "safe_check_en", "hung_piece_op", "pawn_candidate_en", "PST_K_op", "passer_held_6", "passer_safe_5",
        "pst_pawn_d4_op", "pst_knight_f3_en", "pst_king_g1_op", "pst_queen_d1_op", "mob_bishop_7_en", "mob_rook_4_op"}) {
    SCOPED_TRACE(name);
    ASSERT_GE(find_eval_param(name), 0);
    i16* value = g_eval_params.entries[find_eval_param(name)].value;
    std::vector<EvalCoefficients> traces;
    std::vector<int> boards;
    for (size_t k = 0; k < fens.size(); k += 3) {
      ValidBoard b(fens[k]);
      evaluate_coefficients(eval_thread, b.pos, ec);
      traces.push_back(ec);
      boards.push_back(int(k));
    }
    *value = i16(*value + 20);
    rebuild_eval();
    int moved = 0, off = 0;
    for (size_t j = 0; j < traces.size(); ++j) {
      ValidBoard b(fens[boards[j]]);
      const int now = evaluate(eval_thread, b.pos, 1, nullptr);
      const int predicted = score_from_coefficients(traces[j], g_slopes.value);
      moved += predicted != traces[j].score;
      off += std::abs(now - predicted) > 3;
    }
    EXPECT_GT(moved, 20);
    EXPECT_LE(off * 50, int(traces.size()));  // within 3 cp in 98 % of the positions
    *value = i16(*value - 20);
    rebuild_eval();
  }
}

}  // namespace

// data/reference-weights.cfg names every registered parameter once, at its
// hand-set value, and an engine started with it evaluates as the hand-set
// tables do, whatever the shipped defaults are.
TEST_F(EvalCoefficientsTest, ReferenceWeightsRestoreTheHandSetEvaluation) {
  REQUIRE_TESTDATA("epd/wac.epd");
  const std::string cfg = std::string(VORN_SOURCE_DIR) + "/data/reference-weights.cfg";
  std::map<std::string, int> file;
  for (const std::string& line : read_lines(cfg)) {
    if (size_t eq = line.find('='); eq != std::string::npos && line[0] != '#') {
      EXPECT_TRUE(file.emplace(line.substr(0, eq), std::stoi(line.substr(eq + 1))).second) << line;
    }
  }
  ASSERT_EQ(int(file.size()), g_eval_params.count);
  for (int i = 0; i < g_eval_params.count; ++i)
    EXPECT_EQ(file[g_eval_params.entries[i].name], *g_eval_params.entries[i].value) << g_eval_params.entries[i].name;

  EngineProcess e({"-c", "-cfg", cfg}, new_temp_dir());
  const std::vector<std::string>& fens = positions();
  int compared = 0;
  for (size_t k = 0; k < fens.size(); k += 97) {
    e.send("fen " + fens[k] + "\nev");
    const std::vector<std::string> lines = e.wait_for("eval= ", 10000);
    ASSERT_FALSE(lines.empty()) << fens[k];
    ValidBoard b(fens[k]);
    EXPECT_EQ(std::stoi(lines.back().substr(6)), evaluate(eval_thread, b.pos, 1, nullptr)) << fens[k];
    ++compared;
  }
  EXPECT_GT(compared, 30);
  e.send("quit");
}

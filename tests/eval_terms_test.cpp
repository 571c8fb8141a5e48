// Evaluation terms checked through the trace record, and the king-and-pawn
// table against the endgame tables.

#include "eval/kpk.h"
#include "fathom/tbcore.h"
#include "fathom/tbprobe.h"
#include "engine_process.h"
#include "board_test.h"
#include "eval_fixture.h"

namespace {

class EvalTerms : public EvalFixture {
 protected:
  // Evaluates with tracing and returns the filled record.
  static EvalTrace trace(const char* fen, EvalPlyInfo* info = nullptr) {
    ValidBoard b(fen);
    evaluate(eval_thread, b.pos, 1, info, false, true);
    return g_eval_trace;
  }
  // One row of the trace for White.
  static int term(const char* fen, int row) { return trace(fen).terms[row][WHITE]; }
  // A weight tapered by the position's stage.
  static int tapered(Score s, const char* fen) {
    ValidBoard b(fen);
    return taper(s, game_stage(b.pos));
  }
};

const EvalWeights& W() { return g_weights; }

}  // namespace

// Each example scores what the term's definition says, built from the
// weights in force, so the examples hold whatever the parameters are.

TEST_F(EvalTerms, PawnStructureExamples) {
  // An isolated pawn on a half-open file: backward + isolated + weak, -18/-16.
  EXPECT_EQ(term("4k3/p7/8/8/3P4/8/8/4K3 w - - 0 1", TRACE_PAWNS), 2 - 16);  // endgame: en halves
  EXPECT_EQ(term("rnbqkbnr/8/8/8/3P4/8/8/RNBQKBNR w KQkq - 0 1", TRACE_PAWNS), 10 - 18);  // opening
  // With an enemy pawn in front it is not weak: -10/-10.
  EXPECT_EQ(term("4k3/8/3p4/8/3P4/8/8/4K3 w - - 0 1", TRACE_PAWNS), 2 - 10);
  // Side by side on d4 and e4: square values plus the Connected Pawn values (4 each in the endgame).
  EXPECT_EQ(term("4k3/8/8/8/3PP3/8/8/4K3 w - - 0 1", TRACE_PAWNS), 2 + 2 + 4 + 4);
  // e4 defended from d3 gets the Defended Pawn value of e4.
  EXPECT_EQ(trace("4k3/8/4p3/8/4P3/3P4/8/4K3 w - - 0 1").board[E4], 2 + score_en(W().defended[E4]));
  // A pawn on d2 blocked by a bishop on d3 costs -9/-12.
  const char* blocked = "4k3/8/8/8/8/3B4/3P4/4K3 w - - 0 1";
  EXPECT_EQ(term(blocked, TRACE_PAWNS) - term("4k3/8/8/8/8/7B/3P4/4K3 w - - 0 1", TRACE_PAWNS),
            tapered(make_score(-9, -12), blocked));
}

TEST_F(EvalTerms, PieceTermExamples) {
  // A pinned knight scores the entry for no moves.
  const char* pinned = "4r1k1/8/8/8/8/8/4N3/4K3 w - - 0 1";
  EXPECT_EQ(term(pinned, TRACE_KNIGHTS), tapered(W().pst[KNIGHT][E2] + W().knight_mobility[0], pinned));
  EXPECT_NE(term("6k1/r7/8/8/8/8/4N3/4K3 w - - 0 1", TRACE_KNIGHTS), term(pinned, TRACE_KNIGHTS));
  // A knight on e5 out of reach of black pawns: outpost 16/0, and 8/0 more with a pawn behind it.
  const char* outpost = "6k1/p7/8/4N3/8/8/8/6K1 w - - 0 1";
  EXPECT_EQ(term(outpost, TRACE_KNIGHTS),
            tapered(W().pst[KNIGHT][E5] + W().knight_mobility[8] + make_score(16, 0), outpost));
  EXPECT_EQ(term("6k1/p7/8/4N3/3P4/8/8/6K1 w - - 0 1", TRACE_KNIGHTS) - term(outpost, TRACE_KNIGHTS),
            tapered(make_score(8, 0), outpost));
  // A rook on the seventh with the enemy pawns and king on their first ranks,
  // on an open file: mobility a1-a6, a8 and b7-f7 with a5, a6, a8 twice.
  const char* seventh = "6k1/R4ppp/8/8/8/8/8/6K1 w - - 0 1";
  EXPECT_EQ(term(seventh, TRACE_ROOKS),
            tapered(W().pst[ROOK][A7] + W().rook_mobility[15] + W().rook_open_file + W().rook_rank7, seventh));
  // A rammed pawn on the bishop's colour makes it a bad bishop (each row is tapered as a whole).
  const char* rammed = "7k/8/8/3p4/3P4/8/8/2B4K w - - 0 1";
  EXPECT_NEAR(term(rammed, TRACE_BISHOPS) - term("7k/8/3p4/8/3P4/8/8/2B4K w - - 0 1", TRACE_BISHOPS),
              tapered(W().bad_bishop, rammed), 1);
  // A rook boxed in on h1 by its own king on g1 is trapped.
  const char* trapped = "6k1/6pp/8/8/8/8/6PP/6KR w - - 0 1";
  EXPECT_EQ(term(trapped, TRACE_ROOKS), tapered(W().pst[ROOK][H1] + W().rook_mobility[0] + W().rook_trapped, trapped));
  // Own queens are transparent for a rook: behind its queen on an open file it
  // counts c1, b1, a1, e1, f1 and d2-d8, with d5-d8 twice: 16.
  const char* behind = "6k1/p7/8/8/8/8/3Q4/3R2K1 w - - 0 1";
  EXPECT_EQ(term(behind, TRACE_ROOKS), tapered(W().pst[ROOK][D1] + W().rook_mobility[16] + W().rook_open_file, behind));
}

TEST_F(EvalTerms, KingShieldAndDanger) {
  // g1 behind f2, g2, h2: shield 9, (4 - 0) * 54 * 4 / 16 - 64 = -10; three
  // defenders -6; the queen's attack is too weak to count.  White has no
  // pieces: Black's king gets no danger terms at all.
  const EvalTrace t = trace("3q2k1/5ppp/8/8/8/8/5PPP/6K1 w - - 0 1");
  EXPECT_EQ(t.king_square[WHITE], G1);
  EXPECT_EQ(t.king_danger[WHITE], -10 - 6);
  EXPECT_EQ(t.king_danger[BLACK], 0);
  // With the black king on the far wing and no black pawns on f-h in Black's
  // half, each of the three files adds the storm weight: 3 * -9.
  EXPECT_EQ(trace("1k1q4/ppp5/8/8/8/8/5PPP/6K1 w - - 0 1").king_danger[WHITE], -10 - 6 - 27);
  // Rook endgame: the king's op half is halved (no enemy queen) and the
  // empty files around it cost 8 + 10 + 12 + 14.
  const char* ending = "4k3/8/8/8/4K3/8/8/R6r w - - 0 1";
  const Score king = W().pst[KING][E4];
  EXPECT_EQ(term(ending, TRACE_KINGS), tapered(make_score(score_op(king) / 2, score_en(king) - 44), ending));
  // Queen and rook next to the king: a large penalty.
  EXPECT_LT(trace("6k1/5ppp/8/8/8/3q4/6r1/1N4K1 w - - 0 1").king_danger[WHITE], -100);
}

TEST_F(EvalTerms, PassedPawnExamples) {
  // d6, advance square d7 attacked by the black king only and covered by the
  // rook behind: safe base 122; king distances to d8 (1 and 7) at rank 6:
  // 122 + (24 - 112) * 6 / 8 = 56.
  EvalPlyInfo info{};
  EXPECT_EQ(trace("r3k3/8/3P4/8/8/8/8/3R2K1 w - - 0 1", &info).terms[TRACE_PASSERS][WHITE], 56);
  EXPECT_GE(info.danger[BLACK], 2 << 6);
  // Without the rook the black king wins the pawn on d7: held base 80.
  EXPECT_EQ(term("r3k3/8/3P4/8/8/8/8/6K1 w - - 0 1", TRACE_PASSERS), 80 + (24 - 112) * 5 / 8);
  // Seventh rank, no black pieces, king out of the square: 200 + 33 free +
  // 16 * 7 unstoppable, then (24 * 6 - 16 * 7) * 7 / 8 for the kings.
  EXPECT_EQ(term("8/1P6/7p/8/7k/8/8/K7 w - - 0 1", TRACE_PASSERS), 200 + 33 + 112 + 28);
  // Two passers on one file: the rear one scores half the endgame value it
  // would have with any other blocker in front of it.
  const int rear_alone = term("6k1/7p/8/8/8/1N6/1P6/6K1 w - - 0 1", TRACE_PASSERS);
  EXPECT_EQ(rear_alone, 6 + (24 * 5 - 16 * 5) * 1 / 8);
  EXPECT_EQ(term("6k1/7p/8/8/8/1P6/1P6/6K1 w - - 0 1", TRACE_PASSERS),
            term("6k1/7p/8/8/8/1P6/8/6K1 w - - 0 1", TRACE_PASSERS) + rear_alone / 2);
}

TEST_F(EvalTerms, ThreatExamples) {
  // A knight attacked by a pawn is hung even when defended; it raises its
  // owner's danger counter by 64 * 4.
  EvalPlyInfo info{};
  EXPECT_EQ(trace("6k1/8/8/4p3/3N4/2P5/8/6K1 w - - 0 1", &info).terms[TRACE_THREATS][WHITE], -25);
  EXPECT_GE(info.danger[WHITE], 256);
  // Two hung pieces: twice the penalty plus the one for more than one.
  const char* two = "6k1/8/8/4p3/3N1N2/8/8/6K1 w - - 0 1";
  EXPECT_EQ(term(two, TRACE_THREATS), -50 + tapered(W().multi_hung, two));
  // Attacked only by the queen and defended by a knight: an attacked piece;
  // defended by a pawn it scores nothing.
  const char* attacked = "3q3k/8/8/8/8/K7/1N6/3R4 w - - 0 1";
  EXPECT_EQ(term(attacked, TRACE_THREATS), tapered(W().attacked_piece, attacked));
  EXPECT_EQ(term("3q3k/8/8/8/8/K2R4/4P3/8 w - - 0 1", TRACE_THREATS), 0);
  // d7-d5 (d5 covered by the e6 pawn) would attack the bishop on e4; without
  // the cover d5 is the bishop's and the push threatens nothing.
  const char* push = "6k1/3p4/4p3/8/4B3/8/8/6K1 w - - 0 1";
  EXPECT_EQ(term(push, TRACE_THREATS), tapered(W().threat_ppush, push));
  EXPECT_EQ(term("6k1/3p4/8/8/4B3/8/8/6K1 w - - 0 1", TRACE_THREATS), 0);
}

TEST_F(EvalTerms, TraceListingAddsUp) {
  const char* fen = "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4";
  ValidBoard b(fen);
  int score = evaluate(eval_thread, b.pos, 1, nullptr, false, true);
  EXPECT_EQ(evaluate(eval_thread, b.pos, 1, nullptr), score);  // tracing changes nothing
  {
    CaptureOutput out;
    print_eval_trace(37);
  }
  // The listing's layout is the console's ("ev"); its score is the evaluation's.
  EXPECT_TRUE(has_line(g_captured, "eval= " + std::to_string(score) + ", qscore= 37, stage= 0, draw_adj= 1.00"));
  // Every square's contribution belongs to some term: the board adds up to
  // the rows (up to the rounding of each tapered item).
  const EvalTrace& t = g_eval_trace;
  int board = 0, rows = 0;
  for (int sq = 0; sq < 64; ++sq) board += t.board[sq];
  for (int term = TRACE_PAWNS; term <= TRACE_THREATS; ++term)
    if (term != TRACE_PASSERS) rows += t.terms[term][WHITE] - t.terms[term][BLACK];
  EXPECT_NEAR(board, rows, 8);
}

// --- King and pawn against king -------------------------------------------

// The engine's own table against the endgame tables' verdict, over every
// legal placement with the pawn on files a-d (White's pawn moving up); the
// evaluation calls exactly the won ones clearly won.
TEST_F(EvalTerms, KingAndPawnTableAgreesWithTheEndgameTables) {
  REQUIRE_TESTDATA("syzygy/KPvK.rtbw");
  init_kpk_table();
  {
    CaptureOutput quiet;
    init_tablebases(testdata_path("syzygy").c_str());
  }
  TestBoard b;
  int checked = 0, wins = 0;
  for (int stm = 0; stm < 2; ++stm)
    for (int p = 8; p < 56; ++p)
      for (int K = 0; K < 64; ++K)
        for (int k = 0; k < 64; ++k) {
          if (file_of(p) > 3 || p == K || p == k || K == k || (king_attacks(K) & bit(k)) ||
              (stm == 0 && (pawn_attacks(WHITE, p) & bit(k))))
            continue;
          std::string fen;
          for (int r = 7; r >= 0; --r) {
            for (int f = 0; f < 8; ++f) {
              const int sq = r * 8 + f;
              fen += sq == p ? 'P' : sq == K ? 'K' : sq == k ? 'k' : '1';
            }
            fen += r ? "/" : stm ? " b - -" : " w - -";
          }
          ASSERT_EQ(set_position(b.pos, fen.c_str()), 0) << fen;
          int ok = 0;
          const int wdl = probe_wdl(b.pos, ok);
          ASSERT_TRUE(ok) << fen;
          const bool won = wdl == (stm == 0 ? 2 : -2);
          ASSERT_EQ(kpk_won(stm == 0, p, K, k), won) << fen;
          ASSERT_EQ(evaluate(eval_thread, b.pos, 1, nullptr) * (stm ? -1 : 1) > 400, won) << fen;
          ++checked;
          wins += won;
        }
  init_tablebases("");
  EXPECT_GT(checked, 150000);
  EXPECT_GT(wins, checked / 3);
}

// Positions with the same pawns share the pawn hash entry, read only while a
// search runs; ply 1 never reads the evaluation cache; and a parameter change
// empties the caches of every thread before its next search.
TEST_F(EvalTerms, CachesAreSharedByPawnsAndEmptiedByARebuild) {
  ValidBoard a("r3k3/pp3ppp/2p5/8/3P4/8/PP3PPP/4K2R w - - 0 1");
  ValidBoard b("4k2r/pp3ppp/2p5/8/3P4/8/PP3PPP/R3K3 w - - 0 1");
  ASSERT_EQ(a.pos.pawn_key, b.pos.pawn_key);
  eval_thread.iteration_depth = 0;  // outside a search the pawn hash is written but never read
  evaluate(eval_thread, a.pos, 1, nullptr);
  evaluate(eval_thread, a.pos, 1, nullptr);
  EXPECT_EQ(eval_thread.pawn_hits, 0u);
  eval_thread.iteration_depth = 1;
  evaluate(eval_thread, b.pos, 1, nullptr);
  EXPECT_EQ(eval_thread.pawn_hits, 1u);

  static EvalThread threads[2];
  for (EvalThread& t : threads) {
    eval_begin_search(t, WHITE, 1.0);
    t.iteration_depth = 2;
    evaluate(t, a.pos, 1, nullptr);
    evaluate(t, a.pos, 1, nullptr);  // ply 1: the pawn hash answers, the cache is not read
    evaluate(t, a.pos, 2, nullptr);
    EXPECT_EQ(t.cache_hits, 1u);
    EXPECT_EQ(t.pawn_hits, 1u);
  }
  eval_slots[SLOT_SCALE_MOBILITY_KNIGHT] = 0;  // any change of a parameter
  build_eval_tables(eval_slots);
  for (EvalThread& t : threads) {
    eval_begin_search(t, WHITE, 1.0);
    bool empty = t.cache_hits == 0 && t.pawn_hits == 0;
    for (const EvalCacheEntry& e : t.cache) empty &= e.key == 0;
    for (const PawnHashEntry& e : t.pawn_hash) empty &= e.key == 0;
    EXPECT_TRUE(empty);
    t.iteration_depth = 2;
    evaluate(t, a.pos, 2, nullptr);
    EXPECT_EQ(t.cache_hits + t.pawn_hits, 0u);
  }
}

// --- Through the engine ---------------------------------------------------

TEST(EvalOptions, ScalingOptionRebuildsTablesBeforeTheNextSearch) {
  // The listing's numbers are those of the hand-set parameters.
  EngineProcess e({"-cfg", std::string(VORN_SOURCE_DIR) + "/data/reference-weights.cfg"});
  e.sync();
  e.send("_show");
  std::vector<std::string> before = e.sync();
  EXPECT_TRUE(has_line(before, "  0  nmob= -18/-23  bmob=-23/-27  rmob=-21/-26  qmob= -18/-48"));
  e.send("setoption name Mobility_Knight value 0,0");
  e.send("go depth 1");
  e.read_until("bestmove", 10000, true);
  e.send("_show");
  std::vector<std::string> after = e.sync();
  EXPECT_TRUE(has_line(after, "  0  nmob=   0/  0  bmob=-23/-27  rmob=-21/-26  qmob= -18/-48"));
  int knight_rows = 0;
  for (const std::string& l : after) knight_rows += l.size() > 17 && l.compare(3, 15, "  nmob=   0/  0") == 0;
  EXPECT_EQ(knight_rows, 19);  // entries 0..10, and the rows past the table print 0/0 too
  e.quit();
}

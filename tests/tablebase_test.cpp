// Endgame tables: registration, WDL and DTZ against values from an
// independent reader of the same files, the choice of root moves.

#include <filesystem>
#include <random>

#include "board_test.h"
#include "fathom/tbcore.h"
#include "fathom/tbprobe.h"

namespace fs = std::filesystem;

namespace {

struct ProbeCase {
  std::string fen;
  int wdl, dtz;
};

std::vector<ProbeCase> read_probes(const std::string& file) {
  std::vector<ProbeCase> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    size_t semi = line.find(';'), w = line.find("wdl "), d = line.find("dtz ");
    if (semi == std::string::npos || w == std::string::npos || d == std::string::npos) continue;
    out.push_back({line.substr(0, semi), std::atoi(line.c_str() + w + 4), std::atoi(line.c_str() + d + 4)});
  }
  return out;
}

// Loads a path and returns the last line printed.
std::string load_tables(const std::string& path) {
  CaptureOutput capture;
  init_tablebases(path.c_str());
  return g_captured.empty() ? "" : g_captured.back();
}

u64 key_of(const char* fen, bool mirror) {
  TestBoard b(fen);
  return material_key(b.pos, mirror);
}

// A directory of links to some of the shared tables (new_temp_dir removes
// it when the test program ends).
struct TempDir {
  fs::path path = new_temp_dir();
  void link(const std::string& table) const {
    fs::create_symlink(testdata_path("syzygy/" + table), path / table);
  }
};

}  // namespace

// Every WDL and DTZ equals the independent reader's; the root move keeps
// the result, a win stepping one ply closer to zeroing and a loss one further.
TEST(Tablebase, ProbesMatchTheIndependentReaderAndRootMovesKeepTheResult) {
  REQUIRE_TESTDATA("syzygy/probes.epd");
  EXPECT_EQ(load_tables(testdata_path("syzygy")), "info string found 35 tablebases");
  auto cases = read_probes(testdata_path("syzygy/probes.epd"));
  ASSERT_EQ(cases.size(), 400u);
  int checked = 0;
  for (const ProbeCase& c : cases) {
    TestBoard b(c.fen.c_str());
    int ok_w = 0, ok_d = 0;
    int wdl = probe_wdl(b.pos, ok_w);
    int dtz = probe_dtz(b.pos, ok_d);
    if (!ok_w || !ok_d || wdl != c.wdl || dtz != c.dtz)
      ADD_FAILURE() << c.fen << ": wdl " << wdl << " dtz " << dtz << ", expected " << c.wdl << " " << c.dtz;
    RootTbResult r = probe_tb_root(b.pos);
    if (r.move == 0) continue;  // mate or stalemate
    ++checked;
    int ok = 0;
    ASSERT_EQ(r.wdl, wdl + 2) << c.fen;
    const bool zeroing = b.pos.board[move_to(r.move)] != 0 || type_of(b.pos.board[move_from(r.move)]) == PAWN;
    make_move(b.pos, r.move);
    EXPECT_EQ(-probe_wdl(b.pos, ok) + 2, r.wdl) << c.fen;
    const int after = probe_dtz(b.pos, ok);
    if (!zeroing && !no_legal_moves(b.pos) && r.wdl != 2) {
      // Tables that store full moves leave one ply of slack.
      const int d = std::abs(c.dtz);
      EXPECT_LE(std::abs(after - (r.wdl == 4 ? -(d - 1) : d - 1)), 1) << c.fen << " dtz " << c.dtz << " after " << after;
    }
  }
  EXPECT_GT(checked, 300);
  // A mate in one whose table stores only the other side to move: the
  // one-ply search counts the mating move and then the mated side's ply, so
  // the engine answers 2 where a reader that treats mate as zeroing says 1.
  // The root never depends on it: a mating root move is valued 1 directly.
  for (const ProbeCase& c : read_probes(testdata_path("syzygy/probes-mate-in-one.epd"))) {
    TestBoard b(c.fen.c_str());
    int ok = 0;
    EXPECT_EQ(probe_dtz(b.pos, ok), 2) << c.fen;
    EXPECT_EQ(probe_tb_root(b.pos).wdl, 4) << c.fen;
  }
}

TEST(Tablebase, RegistrationSplitsPathsAndCountsEachTableOnce) {
  REQUIRE_TESTDATA("syzygy/KQvK.rtbw");
  TempDir a, b;
  a.link("KQvK.rtbw");
  a.link("KRvKP.rtbw");
  b.link("KRvKR.rtbw");
  b.link("KQvK.rtbw");  // the same table in a second directory
  std::string path = a.path.string() + ";;" + b.path.string() + ";";
  EXPECT_EQ(load_tables(path), "info string found 3 tablebases");
  ASSERT_EQ(g_tb.paths.size(), 2u);
  EXPECT_EQ(g_tb.paths[1], b.path.string());
  EXPECT_EQ(tb_largest, 4u);
  // KRvKP answers under both colourings, KRvKR has one key.
  TBEntry* e = find_entry(key_of("8/8/8/8/8/8/p7/KR5k w - - 0 1", false));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(find_entry(key_of("8/8/8/8/8/8/p7/KR5k w - - 0 1", true)), e);
  EXPECT_TRUE(find_entry(key_of("8/8/8/8/8/8/r7/KR5k w - - 0 1", false))->symmetric);
  EXPECT_EQ(load_tables(a.path.string() + ":" + b.path.string()), "info string found 3 tablebases");

  for (const char* none : {"<empty>", ""}) {
    load_tables(path);
    EXPECT_EQ(load_tables(none), "info string found 0 tablebases");
    EXPECT_EQ(tb_largest, 0u);
    EXPECT_EQ(tablebase_count(), 0);
    EXPECT_EQ(find_entry(key_of("8/8/8/8/8/8/8/KQ5k w - - 0 1", false)), nullptr);
    TestBoard kqk("8/8/8/8/8/8/8/KQ5k w - - 0 1");
    EXPECT_EQ(probe_tb_wdl(kqk.pos, 100), -1);
  }
}

TEST(Tablebase, SearchGatesDepthCastlingAndPieceCount) {
  REQUIRE_TESTDATA("syzygy/KQvK.rtbw");
  load_tables(testdata_path("syzygy"));
  TestBoard kqk("8/8/8/8/8/2k5/8/KQ6 w - - 0 1");
  set_tb_probe_depths(0, 2);
  EXPECT_EQ(probe_tb_wdl(kqk.pos, 0), 4);
  set_tb_probe_depths(100, 2);
  EXPECT_EQ(probe_tb_wdl(kqk.pos, 99), -1);
  EXPECT_EQ(probe_tb_root(kqk.pos).wdl, 4);  // the root ignores the depth options
  set_tb_probe_depths(0, 2);
  TestBoard castling("4k3/8/8/8/8/8/8/R3K3 w Q - 0 1");
  EXPECT_EQ(probe_tb_wdl(castling.pos, 50), -1);
  EXPECT_EQ(probe_tb_root(castling.pos).wdl, -1);
  TestBoard many("4k3/8/8/8/8/8/1PP5/RN2K3 w - - 0 1");  // above the largest table
  EXPECT_EQ(probe_tb_wdl(many.pos, 50), -1);
  TestBoard king_en_prise("8/8/8/8/3k4/8/8/B1N1K3 w - - 0 1");
  int ok = 1;
  probe_wdl(king_en_prise.pos, ok);
  EXPECT_EQ(ok, 0);
  TestBoard kings("8/8/8/3k4/8/8/8/K7 w - - 0 1");
  EXPECT_EQ(probe_tb_wdl(kings.pos, 0), 2);  // kings only need no file
}

TEST(Tablebase, DamagedCopiesOfEveryTableNeverBreakAProbe) {
  REQUIRE_TESTDATA("syzygy/probes.epd");
  auto cases = read_probes(testdata_path("syzygy/probes.epd"));
  TempDir dir;
  std::mt19937 rng(11);
  for (size_t keep : {size_t(0), size_t(30), size_t(100), size_t(700)}) {
    for (const auto& f : fs::directory_iterator(testdata_path("syzygy"))) {
      const std::string ext = f.path().extension().string();
      if (ext != ".rtbw" && ext != ".rtbz") continue;
      std::string data = read_text(f.path());
      if (keep == 0) {
        data.resize(data.size() / 2);  // truncated, header intact
      } else {
        for (size_t i = keep; i < data.size(); ++i) data[i] = char(rng());
      }
      std::ofstream(dir.path / f.path().filename(), std::ios::binary | std::ios::trunc) << data;
    }
    load_tables(dir.path.string());
    for (const ProbeCase& c : cases) {
      TestBoard b(c.fen.c_str());
      int ok = 0;
      const int wdl = probe_wdl(b.pos, ok);
      if (ok) {
        EXPECT_TRUE(wdl >= -2 && wdl <= 2);
      }
      probe_dtz(b.pos, ok);
      RootTbResult r = probe_tb_root(b.pos);
      if (r.move) {
        EXPECT_TRUE(is_legal(b.pos, b.pos.side, r.move)) << c.fen;
      }
    }
  }
  // A new path forgets the failures of the old one.
  load_tables(testdata_path("syzygy"));
  for (const ProbeCase& c : cases) {
    TestBoard b(c.fen.c_str());
    int ok = 0;
    EXPECT_EQ(probe_wdl(b.pos, ok), c.wdl) << c.fen;
  }
  load_tables("");
}

// KPvKP with a double step beside the other pawn: the stored DTZ agrees with
// the root moves valued from the positions after them (en passant included).
TEST(Tablebase, DoubleStepsNextToAPawnAgreeWithThePositionsAfterThem) {
  REQUIRE_TESTDATA("syzygy/KPvKP.rtbz");
  load_tables(testdata_path("syzygy"));
  std::mt19937 rng(5);
  int positions = 0, wins = 0, fallen_wins = 0;
  for (int tries = 0; positions < 400 && tries < 100000; ++tries) {
    // White to move with a pawn on its second rank, the black pawn beside
    // its fourth-rank square; mirrored for Black every other time.
    const bool black = tries & 1;
    const int file = int(rng() % 8), other = file + (rng() & 1 ? 1 : -1);
    if (other < 0 || other > 7) continue;
    const int kings[2] = {int(rng() % 64), int(rng() % 64)};
    // Ranks of "1"s: each square written on its own.
    std::string fen(71, '1');
    auto put = [&](int sq, char c) { fen[(7 - sq / 8) * 9 + sq % 8] = black && c != '1' ? char(c ^ 0x20) : c; };
    for (int r = 1; r < 8; ++r) fen[r * 9 - 1] = '/';
    put((black ? 6 : 1) * 8 + file, 'P');
    put((black ? 4 : 3) * 8 + other, 'p');
    put(kings[0], 'K');  // a king on a pawn's square replaces it: no double step then
    put(kings[1], 'k');
    fen += black ? " b - - 0 1" : " w - - 0 1";
    TestBoard b;
    set_position(b.pos, fen.c_str());
    if (popcount(b.pos.occupied()) != 4 || is_attacked(b.pos, b.pos.king_square[b.pos.side ^ 1], b.pos.side))
      continue;
    const int from = (black ? 6 : 1) * 8 + file, to = (black ? 4 : 3) * 8 + file;
    Move moves[MAX_MOVES];
    const int n = gen_legal(b.pos, moves);
    bool has_double_step = false;
    for (int k = 0; k < n; ++k) has_double_step |= move_from(moves[k]) == from && move_to(moves[k]) == to;
    if (!has_double_step) continue;
    ++positions;

    int ok = 0;
    const int wdl = probe_wdl(b.pos, ok);
    ASSERT_TRUE(ok) << fen;
    const int dtz = probe_dtz(b.pos, ok);
    ASSERT_TRUE(ok) << fen;
    // Each root move's distance from the position after it: a zeroing move
    // counts from its WDL, any other adds one ply to the stored DTZ.
    int best_wdl = -2, shortest_win = 1000, longest_loss = 0;
    for (int k = 0; k < n; ++k) {
      const Move m = moves[k];
      const bool zeroing = b.pos.board[move_to(m)] || type_of(b.pos.board[move_from(m)]) == PAWN;
      make_move(b.pos, m);
      const int after_wdl = -probe_wdl(b.pos, ok);
      ASSERT_TRUE(ok) << fen;
      const int after_dtz = no_legal_moves(b.pos) ? 0 : -probe_dtz(b.pos, ok);
      ASSERT_TRUE(ok) << fen;
      unmake_move(b.pos);
      best_wdl = std::max(best_wdl, after_wdl);
      if (after_wdl == 2) shortest_win = std::min(shortest_win, zeroing || after_dtz == 0 ? 1 : after_dtz + 1);
      if (after_wdl == -2) longest_loss = std::min(longest_loss, zeroing ? -1 : after_dtz - 1);
      if (move_from(m) == from && move_to(m) == to && wdl == 2 && after_wdl < 2) ++fallen_wins;
    }
    EXPECT_EQ(wdl, best_wdl) << fen;
    if (wdl == 2) {
      ++wins;
      // Tables that store full moves leave one ply of slack, but a winning
      // zeroing move is exactly one ply.
      EXPECT_EQ(dtz == 1, shortest_win == 1) << fen << " dtz " << dtz << " from the moves " << shortest_win;
      EXPECT_LE(std::abs(dtz - shortest_win), 1) << fen;
      const Move chosen = probe_tb_root(b.pos).move;
      make_move(b.pos, chosen);
      EXPECT_EQ(probe_wdl(b.pos, ok), -2) << fen << " plays " << chosen;
      unmake_move(b.pos);
    } else if (wdl == -2) {
      EXPECT_LE(std::abs(dtz - longest_loss), 1) << fen << " dtz " << dtz << " from the moves " << longest_loss;
    } else if (wdl == 0) {
      EXPECT_EQ(dtz, 0) << fen;
    }
  }
  EXPECT_EQ(positions, 400);
  // The sample holds wins whose double step would throw them away.
  EXPECT_GT(wins, 100);
  EXPECT_GT(fallen_wins, 10);
}

// Endgame tables: registration, WDL and DTZ against values from an
// independent reader of the same files, the choice of root moves.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "board_test.h"
#include "fathom/tbcore.h"
#include "fathom/tbprobe.h"
#include "test_util.h"

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

struct TempDir {
  fs::path path = new_temp_dir();
  ~TempDir() { fs::remove_all(path); }
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
      std::ifstream in(f.path(), std::ios::binary);
      std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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

// The command interpreter run inside the test program: switch parsing, a
// fuzz of random lines and the hash table's set-up.

#include <algorithm>
#include <fcntl.h>
#include <random>
#include <sys/mman.h>
#include <unistd.h>

#include "engine/engine.h"
#include "engine/options.h"
#include "engine/uci.h"
#include "search/control.h"
#include "search/driver.h"
#include "search/thread.h"
#include "search/tt.h"
#include "test_util.h"

namespace {

std::vector<std::string> g_lines;
void capture(const char* line) { g_lines.emplace_back(line); }

// One engine for the whole test program, started like the real one but
// with 1 MB of hash and its output captured.
class EngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // Long console jobs look at standard input for "." and its end: give the
    // interpreter a pipe that stays open and silent, not this program's input.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) == 0) {
      dup2(fds[0], 0);
      close(fds[0]);
    }
    static char prog[] = "vorn", hash[] = "-hash", mb[] = "1";
    char* argv[] = {prog, hash, mb};
    set_output_sink(capture);
    ASSERT_TRUE(engine_startup(3, argv));
    set_output_sink(nullptr);
  }
  void TearDown() override { engine_shutdown(); }
};
const auto* g_env = ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

class EngineCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    set_output_sink(capture);
    g_lines.clear();
    g_flags.uci_mode = 1;
    run("position startpos");
  }
  void TearDown() override {
    set_output_sink(nullptr);
    g_flags.quit = 0;
    g_control.go_request = 0;
  }
  std::vector<std::string> run(const std::string& line) {
    g_lines.clear();
    execute_command(line.c_str());
    return g_lines;
  }
};

// Switch parsing on a fresh set of defaults; the running engine's own state
// is put back afterwards.
TEST_F(EngineCommand, Switches) {
  auto parse = [](std::vector<std::string> args) {
    set_defaults();
    std::vector<char*> argv{const_cast<char*>("vorn")};
    for (std::string& a : args) argv.push_back(a.data());
    parse_switches(int(argv.size()), argv.data());
  };
  parse({"-threads", "0", "-hash", "100000", "-d", "100", "-bogus", "-c"});
  EXPECT_EQ(g_options[SLOT_THREADS], 1);
  EXPECT_EQ(g_options[SLOT_HASH], 16384);
  EXPECT_EQ(g_control.limits.max_depth, 66);
  EXPECT_EQ(g_flags.uci_mode, 0);
  parse({"-threads", "500", "-hash", "-3", "-n", "5000", "-t", "2.5"});
  EXPECT_EQ(g_options[SLOT_THREADS], 128);
  EXPECT_EQ(g_options[SLOT_HASH], 0);
  EXPECT_EQ(g_control.limits.node_limit, 5000);
  EXPECT_DOUBLE_EQ(g_control.limits.fixed_time, 2.5);
  parse({"-log", "-quiet"});
  EXPECT_EQ(g_options[SLOT_LOG], 0);
  EXPECT_EQ(g_info_threshold, 9999);
  parse({"-quiet", "-log"});
  EXPECT_EQ(g_options[SLOT_LOG], 1);
  parse({std::string(300, 'x'), "-book", std::string(300, 'b')});
  EXPECT_STREQ(g_options.text(SLOT_BOOK_FILE), "");  // refused, not cut to a different name

  set_defaults();
  g_options[SLOT_HASH] = 1;
  g_listed_options = g_options;
  g_control.config.hash_mb = 1;
  g_control.config.num_threads = u8(thread_count());
  g_options[SLOT_THREADS] = i16(thread_count());
}

// Random command lines from the protocol's words, board text and noise:
// nothing may crash (the sanitizer build checks memory errors as well).
TEST_F(EngineCommand, RandomCommandLinesDoNotCrash) {
  std::mt19937 rng(12345);
  const std::vector<std::string> commands = {
      "uci", "isready", "setoption", "debug", "ucinewgame", "position", "go", "ponderhit", "stop",
      "new", "fen", "bd", "swap", "undo", "[", "]", "move", "e2e4", "Nf3", "O-O", "", " "};
  const std::vector<std::string> words = {
      "name", "value", "startpos", "fen", "moves", "Threads", "Ponder", "MultiPV", "Mtl_Pawn",
      "PST_King", "Clear_Hash", "OwnBook_File", "UCI_Elo", "Contempt", "wtime", "btime", "winc",
      "binc", "movestogo", "depth", "nodes", "movetime", "infinite", "ponder", "e2e4", "e7e5",
      "e7e8q", "a1h8", "e1g1", "b7b8n", "0", "1", "-1", "3", "100,120", ",", "5,", "true", "false",
      "99999999999999999999", "-99999999999999999999", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR",
      "8/8/8/8/8/8/8/8", "4k3/8/8/8/8/8/8/4K3", "r3k2r/8/8/8/8/8/8/R3K2R", "w", "b", "KQkq", "-",
      "e3", "h9", "\t", "\r", "#", "=", "@"};
  for (int i = 0; i < 10000; ++i) {
    std::string line;
    if (rng() % 10 == 0) {
      int n = int(rng() % 300);
      for (int k = 0; k < n; ++k) line += char(1 + rng() % 255);
    } else {
      line = commands[rng() % commands.size()];
      int n = int(rng() % 8);
      for (int k = 0; k < n; ++k) line += " " + words[rng() % words.size()];
    }
    // The console mode is entered now and then; "uci" leaves it again.
    if (rng() % 50 == 0) g_flags.uci_mode = 0;
    run(line);
    ASSERT_TRUE(position_is_consistent(game_position())) << line;
    g_flags.quit = 0;
  }
  if (rng() % 2 == 0) run("perft 2");
  g_options[SLOT_THREADS] = i16(thread_count());
}

TEST_F(EngineCommand, TableSizesAndParallelClear) {
  // Every page is in memory once the table is allocated: the first search
  // must not pay for faulting them in one probe at a time.
  g_control.config.hash_mb = 100;
  ASSERT_TRUE(tt_allocate());
  std::vector<unsigned char> resident((g_tt.bytes + 4095) / 4096);
  ASSERT_EQ(mincore(g_tt.buffer, g_tt.bytes, resident.data()), 0);
  EXPECT_EQ(std::count(resident.begin(), resident.end(), 0), 0);
  tt_free();

  g_control.config.hash_mb = 1;
  ASSERT_TRUE(tt_allocate());
  g_control.config.tt_age = 3;
  for (u64 i = 0; i < g_tt.entries + 16; ++i) g_tt.buffer[i].set_age(3);
  tt_hashfull();
  EXPECT_DOUBLE_EQ(g_control.stats.hash_fill, 1.0);
  // Three threads: 65552 entries do not divide evenly; the last slice takes the rest.
  run("setoption name Threads value 3");
  run("setoption name Clear_Hash");
  for (u64 i = 0; i < g_tt.entries + 16; ++i) ASSERT_EQ(g_tt.buffer[i].load().age, 0) << i;
  EXPECT_EQ(g_control.stats.hash_fill, 0.0);
  run("setoption name Threads value 1");
  g_options[SLOT_HASH] = 1;
}

}  // namespace

// The null move needs a piece and a pawn beside the king for the side to
// move: in pawn endings and in endings without pawns zugzwang is the rule,
// and a null move would let the side in zugzwang pass.
TEST_F(EngineCommand, NullMoveOnlyWithPiecesAndPawns) {
  auto null_tries = [this](const char* fen) {
    run(std::string("position fen ") + fen);
    g_control.limits.limit_mode = 1;
    g_control.limits.fixed_time = 99;
    g_control.limits.node_limit = 0;
    g_control.limits.max_depth = 12;
    g_control.go_request = STATE_SEARCH;
    prepare_search();
    g_control.go_request = 0;
    tool_search(game_position());
    g_control.search_state = STATE_IDLE;
    return g_threads[0]->null_tries;
  };
  EXPECT_EQ(null_tries("8/5k2/1p1p4/1P1P4/2P5/8/5K2/8 w - - 0 40"), 0u);       // pawns only
  EXPECT_EQ(null_tries("8/5k2/1p1p4/1P1P4/2P5/8/5K2/8 b - - 0 40"), 0u);
  EXPECT_EQ(null_tries("8/8/3k4/2n5/8/3RB3/4K3/8 w - - 0 60"), 0u);             // pieces only
  EXPECT_EQ(null_tries("8/8/3k4/2n5/8/3RB3/4K3/8 b - - 0 60"), 0u);
  EXPECT_GT(null_tries("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4"), 0u);
  g_control.limits.max_depth = MAX_DEPTH;
}

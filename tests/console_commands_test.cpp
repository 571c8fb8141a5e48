// What a person at the console meets: help, refusals, set, pv, the
// evaluation display.

#include "board_test.h"
#include "engine_process.h"

namespace {

// The lines a command prints before the answer to a following "bd" starts.
std::vector<std::string> answer(EngineProcess& e, const std::string& cmd) {
  e.send(cmd);
  e.send("bd");
  std::vector<std::string> lines = until_board(e);
  // Drop bd's own board: the FEN line and the picture before "white"/"black".
  size_t keep = lines.size() >= 10 ? lines.size() - 10 : 0;
  lines.resize(keep);
  return lines;
}

// The "PV: ..." line among lines ("" when there is none).
std::string pv_line(const std::vector<std::string>& lines) {
  for (const std::string& l : lines)
    if (starts_with(l, "PV: ")) return l;
  return "";
}

}  // namespace

TEST(ConsoleCommands, HelpAndOneLineForWhatCannotBeUsed) {
  EngineProcess e({"-c"}, new_temp_dir());
  until_board(e);
  e.send("help");
  std::vector<std::string> help = e.read_until("quit", 10000, true);
  ASSERT_GE(help.size(), 20u);
  for (const char* cmd : {"new", "fen", "mv", "go", "perft", "load", "save", "set", "edit", "pv", "book", "uci"})
    EXPECT_TRUE(any_starts_with(help, std::string(cmd) + " ")) << cmd;
  e.send("?");
  EXPECT_EQ(e.read_until("quit", 10000, true), help);

  // Each gets exactly one line, and the position stays.
  EXPECT_EQ(answer(e, "xx9"), (std::vector<std::string>{"unknown command or move 'xx9' (\"help\" lists the commands)"}));
  EXPECT_EQ(answer(e, "Bb5"), (std::vector<std::string>{"illegal move 'Bb5'"}));
  EXPECT_EQ(answer(e, "e2e5"), (std::vector<std::string>{"illegal move 'e2e5'"}));
  EXPECT_EQ(answer(e, "move xyzzy"), (std::vector<std::string>{"unknown command or move 'xyzzy' (\"help\" lists the commands)"}));
  EXPECT_EQ(answer(e, "perft"), (std::vector<std::string>{"usage: perft DEPTH (1..20): count the move tree of the position to DEPTH"}));
  EXPECT_EQ(answer(e, "perft two"), answer(e, "perft"));
  EXPECT_EQ(answer(e, "set nosuchthing 3"), (std::vector<std::string>{"unknown setting 'nosuchthing' (\"help\" lists the commands)"}));
  e.send("fen 4k3/8/8/8/8/8/8/1N2KN2 w - - 0 1");
  until_board(e);
  EXPECT_EQ(answer(e, "Nd2"), (std::vector<std::string>{"ambiguous move 'Nd2'"}));
  e.send("bd");
  EXPECT_EQ(until_board(e).front(), "4k3/8/8/8/8/8/8/1N2KN2 w - -");
  e.send("Nbd2");
  EXPECT_EQ(until_board(e).front(), "1. move Nbd2");
  e.quit();
}

// Options of the UCI listing are set by their names, text values whole;
// "book" then reads the book named from the console.
TEST(ConsoleCommands, SetTakesEveryOptionOfTheListing) {
  std::string dir = new_temp_dir(), book = dir + "/my book.bin";
  TestBoard start(START_FEN);
  write_book({{polyglot_key(start.pos), u16(E2 << 6 | E4), 10, 0}}, book);
  EngineProcess e({"-c"}, dir);
  until_board(e);
  EXPECT_EQ(answer(e, "set OwnBook_File " + book), (std::vector<std::string>{"OwnBook_File set to '" + book + "'"}));
  std::vector<std::string> listing = answer(e, "book");
  EXPECT_TRUE(any_starts_with(listing, "  e2e4  cnt=    10")) << (listing.empty() ? "" : listing.front());
  EXPECT_EQ(answer(e, "set Mtl_Pawn 100,120"), (std::vector<std::string>{"Mtl_Pawn set to 100,120"}));
  EXPECT_EQ(answer(e, "set contempt 12"), (std::vector<std::string>{"Contempt set to 12"}));
  EXPECT_EQ(answer(e, "set UCI_ShowWDL true"), (std::vector<std::string>{"UCI_ShowWDL set to 1"}));
  EXPECT_EQ(answer(e, "set pawn_value_en 130"), (std::vector<std::string>{"pawn_value_en set to 130"}));
  EXPECT_EQ(answer(e, "set Hash lots"), (std::vector<std::string>{"Hash not changed: 'lots' is not a number"}));
  EXPECT_EQ(answer(e, "set target_nps 5000"), (std::vector<std::string>{"target_nps set to 5000"}));
  // What was set shows in the UCI listing; the two settings sharing no slot stay apart.
  e.send("uci");
  std::vector<std::string> uci = e.read_until("uciok");
  EXPECT_TRUE(has_line(uci, "option name OwnBook_File type string default " + book));
  EXPECT_TRUE(has_line(uci, "option name Mtl_Pawn type string default 100,130"));
  EXPECT_TRUE(has_line(uci, "option name Contempt type spin default 12 min -150 max 150"));
  EXPECT_TRUE(has_line(uci, "option name UCI_ShowWDL type check default true"));
  e.quit();
}

// "pv" shows only what the table holds for the position on the board; the
// evaluation display replaces the board everywhere after "set debug 1".
TEST(ConsoleCommands, TablePvAndEvaluationDisplay) {
  std::string dir = new_temp_dir();
  write_text(dir + "/g.pgn", "[Event \"a\"]\n\n1. e4 e5 2. Nf3 *\n");
  write_text(dir + "/test.epd", "4k3/8/8/8/8/8/8/3QK3 w - - id \"q\";\n");
  EngineProcess e({"-c"}, dir);
  until_board(e);
  e.send("go 5");
  ASSERT_FALSE(e.read_until("Hash fill= ", 30000, true).empty());
  // A position never searched shows no line (the last search's move is not
  // its line); back in the searched one the line is there again; with the
  // table off it is not.
  const std::pair<const char*, bool> steps_pv[] = {
      {"bd", true}, {"fen rnbqkbnr/1ppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", false}, {"new", true}, {"set hash 0\nbd", false}};
  std::vector<std::string> lines;
  for (const auto& [cmd, line] : steps_pv) {
    e.send(cmd);
    until_board(e);
    e.send("pv");
    lines = until_board(e);
    EXPECT_EQ(pv_line(lines).size() > 4, line) << cmd << ": " << pv_line(lines);  // "PV: " and the line
  }
  EXPECT_EQ(lines[lines.size() - 10], START_FEN);

  // Each command shows the evaluation; the plain board that ends the reads is bd's.
  struct Step {
    const char* cmd;
    const char* fen;
  } steps[] = {{"load g.pgn 1", "rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq -"},
               {"jump 1", "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"},
               {"get q", "4k3/8/8/8/8/8/8/3QK3 w - -"},
               {"edit\nb Pa7\n.", "4k3/p7/8/8/8/8/8/3QK3 b - -"}};
  for (const Step& s : steps) {
    e.send("set debug 1\n" + std::string(s.cmd) + "\nset debug 0\nbd");
    lines = until_board(e);
    EXPECT_TRUE(any_starts_with(lines, "eval= ")) << s.cmd;
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines[lines.size() - 10], s.fen) << s.cmd;
    if (s.cmd[0] == 'l') {
      EXPECT_EQ(lines[0], "loading g.pgn, tag 1");
      EXPECT_NE(lines[1], "") << "an empty line after the loading line";
    }
  }
  e.quit();
}

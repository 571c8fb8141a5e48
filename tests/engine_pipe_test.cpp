// The built program driven through pipes: handshake, options, configuration
// file, console board commands, switches and shutting down on end of input.

#include "board_test.h"
#include "engine_process.h"

namespace {

const std::vector<std::string> UCI_REPLY = [] {
  std::vector<std::string> lines = {
      "id name Vorn 4.0",
      "id author Ivo Marsk",
      "option name ConfigFilePath type string default ",
      "option name Hash type spin default 64 min 0 max 16384",
      "option name Threads type spin default 1 min 1 max 128",
      "option name Clear_Hash type button",
      "option name OwnBook type check default false",
      "option name OwnBook_File type string default ",
      "option name OwnBook_Depth type spin default 28 min 0 max 60",
      "option name OwnBook_Variety type spin default 25 min 0 max 100",
      "option name SyzygyPath type string default ",
      "option name SyzygyProbeDepth5 type spin default 0 min -5 max 100",
      "option name SyzygyProbeDepth6 type spin default 2 min -5 max 100",
      "option name Log type check default false",
      "option name Ponder type check default true",
      "option name MultiPV type spin default 1 min 1 max 255",
      "option name MoveOverhead type spin default 50 min 0 max 5000",
      "option name UCI_LimitStrength type check default false",
      "option name UCI_Elo type spin default 0 min 0 max ",  // the measured ceiling follows
      "option name UCI_ShowWDL type check default false",
      "option name UCI_Chess960 type check default false",
      "option name Contempt type spin default 0 min -150 max 150",
      "option name Selectivity type spin default 100 min 0 max 200",
      "option name Mtl_Pawn type string default 90,110",
      "option name Mtl_Knight type string default 380,360",
      "option name Mtl_Bishop type string default 390,375",
      "option name Mtl_Rook type string default 535,635",
      "option name Mtl_Queen type string default 1200,1200",
      "option name Mtl_BishopPair type string default 30,50"};
  // The percentage pairs, all at 100,100.
  for (const char* name : {"PST_Pawn", "PST_Knight", "PST_Bishop", "PST_Rook", "PST_Queen", "PST_King",
                           "Mobility_Knight", "Mobility_Bishop", "Mobility_Rook", "Mobility_Queen", "Pawn_Structure",
                           "Passed_Pawns", "King_Safety", "Threats"})
    lines.push_back(std::string("option name ") + name + " type string default 100,100");
  lines.push_back("uciok");
  return lines;
}();

std::vector<std::string> uci_listing(EngineProcess& e) {
  e.send("uci");
  return e.read_until("uciok");
}

// The value part of the listing line of one option.
std::string listed(const std::vector<std::string>& lines, const std::string& name) {
  std::string head = "option name " + name + " type ";
  for (const std::string& l : lines)
    if (l.rfind(head, 0) == 0) return l.substr(head.size());
  return "";
}

}  // namespace

TEST(EnginePipe, UciHandshakeIsExact) {
  EngineProcess e;
  std::vector<std::string> start = e.sync();
  ASSERT_EQ(start.size(), 2u);
  EXPECT_EQ(start[0], "info string allocated 64 Mbytes for hash table");
  EXPECT_TRUE(starts_with(start[1], "info string et= ")) << start[1];  // the speed measurement
  // The rating ceiling comes from the measured speed (StrengthUci).
  std::vector<std::string> expected = UCI_REPLY, lines = uci_listing(e);
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    if (starts_with(expected[i], "option name UCI_Elo ") && starts_with(lines[i], expected[i])) expected[i] = lines[i];
  EXPECT_EQ(lines, expected);
  e.send("isready");
  EXPECT_EQ(e.read_until("readyok"), std::vector<std::string>{"readyok"});
  e.quit();
}

TEST(EnginePipe, SetoptionRepliesClampAndRelist) {
  EngineProcess e;
  e.sync();
  // "true" anywhere switches a check on; unknown commands and option names
  // are named and a reversed order ignored; values out of range are clamped
  // with a word; names match regardless of case; words for numbers are refused.
  e.send("xyzzy plugh");
  e.send("register later");
  for (const char* option : {"name Hash value lots", "name Mtl_Pawn value 100,x", "name Hash value -20", "name Threads value 0", "name Ponder value false",
                             "name Ponder value untrue-ish", "name Ponder value false", "name Mtl_Pawn value 100,120",
                             "name Mtl_Pawn value 5", "name NoSuchOption value 3", "name No Such Thing", "value 7 name MultiPV",
                             "name multipv value 300", "name Contempt value -999", "name SyzygyPath value /no/such/dir",
                             "name Clear_Hash"})
    e.send(std::string("setoption ") + option);
  EXPECT_EQ(e.sync(), (std::vector<std::string>{
                          "info string unknown command: xyzzy", "info string Hash not changed: 'lots' is not a number",
                          "info string Mtl_Pawn not changed: '100,x' is not a number",
                          "info string Hash set to 0 (-20 is outside 0..16384)", "info string allocated 0 Mbytes for hash table",
                          "info string Threads set to 1 (0 is outside 1..128)", "info string Ponder set to 0",
                          "info string Ponder set to 1", "info string Ponder set to 0",
                          "info string Mtl_Pawn set to 100,120", "info string Mtl_Pawn set to 20,120",
                          "info string no such option: NoSuchOption", "info string no such option: No Such Thing",
                          "info string MultiPV set to 255 (300 is outside 1..255)",
                          "info string Contempt set to -150 (-999 is outside -150..150)",
                          "info string SyzygyPath set to '/no/such/dir'", "info string found 0 tablebases",
                          "info string Hash table cleared"}));
  std::vector<std::string> lines = uci_listing(e);  // the listing shows what was set
  EXPECT_EQ(listed(lines, "MultiPV"), "spin default 255 min 1 max 255");
  EXPECT_EQ(listed(lines, "Mtl_Pawn"), "string default 20,120");
  EXPECT_EQ(listed(lines, "SyzygyPath"), "string default /no/such/dir");
  e.send("go depth 4");  // without a table the search still answers
  EXPECT_TRUE(is_legal_text(START_FEN, {}, e.bestmove()));
}

TEST(EnginePipe, ThreadsRecreatedAndEndOfInputExits) {
  for (const char* threads : {"1", "16"}) {
    EngineProcess e({"-threads", threads});
    e.sync();
    e.send("setoption name Threads value 3");
    EXPECT_EQ(e.sync(), std::vector<std::string>{"info string Threads set to 3"});
    e.send(std::string("setoption name Threads value ") + threads);
    e.send("setoption name Clear_Hash");
    e.sync();
    e.close_input();
    EXPECT_EQ(e.wait_exit(10000), 0) << threads << " threads";
  }
}

TEST(EnginePipe, ConfigurationFileAppliedLineByLine) {
  const std::string path = new_temp_dir() + "/engine.cfg";
  write_text(path,
             "# engine settings\n"
             "\n"
             "Hash = 256   # megabytes\n"
             "H=1\n"            // three characters: skipped
             "no equals sign here\n"
             "Mtl_Knight = 400,420\n"
             "ponder=false\n"
             "  MultiPV   =   3\n"
             "Unknown_Option = 5\n"
             "UCI_Elo = abc\n"
             "UCI_Elo = 2000\n"  // a rating: the speed is measured before the file is read
             "Threads = 2");     // last line without newline
  EngineProcess e({"-cfg", path});
  std::vector<std::string> lines = e.sync();
  // The speed is measured before the file is read.
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1].rfind("info string et= ", 0), 0u) << lines[1];
  lines.erase(lines.begin() + 1);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "info string allocated 64 Mbytes for hash table",
                       "info string loading parameters from " + path,
                       "info string Hash set to 256",
                       "info string allocated 256 Mbytes for hash table",
                       "info string Mtl_Knight set to 400,420",
                       "info string Ponder set to 0",
                       "info string MultiPV set to 3",
                       "info string UCI_Elo not changed: 'abc' is not a number",
                       "info string UCI_Elo set to 2000",
                       "info string target nps = 688",
                       "info string Threads set to 2",
                   }));
  std::vector<std::string> listing = uci_listing(e);
  EXPECT_EQ(listed(listing, "ConfigFilePath"), "string default " + path);
  EXPECT_EQ(listed(listing, "UCI_LimitStrength"), "check default true");
  // A file that names itself must not recurse for ever.
  write_text(path, "ConfigFilePath = " + path + "\n");
  e.send("setoption name ConfigFilePath value " + path);
  lines = e.sync();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "info string ConfigFilePath set to '" + path + "'");
}

TEST(EnginePipe, LogFileInUseByAnotherEngine) {
  std::string dir = new_temp_dir();
  EngineProcess first({"-log"}, dir);
  first.sync();
  first.send("debug on");
  first.send("position startpos");
  first.sync();
  EngineProcess second({}, dir);
  second.sync();
  second.send("setoption name Log value true");
  EXPECT_EQ(second.sync(), (std::vector<std::string>{"info string Log set to 1", "info string log file in use."}));
  first.quit();
  const std::string text = read_text(dir + "/vorn.log");
  EXPECT_NE(text.find("readyok"), std::string::npos);
  EXPECT_NE(text.find("CMD: position startpos"), std::string::npos);
  second.send("quit");
  second.wait_exit();
}

// Random bytes and protocol words through the real input path: line
// splitting, NUL bytes, carriage returns and partial reads.  (Whole random
// command lines are fed in-process by EngineCommand.RandomCommandLinesDoNotCrash.)
TEST(EnginePipe, RandomInputThroughThePipe) {
  std::string dir = new_temp_dir();
  EngineProcess e({}, dir);
  unsigned seed = 777;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  const char* vocabulary[] = {"position startpos moves", "go", "stop", "ponderhit", "setoption name MultiPV value",
                              "e2e4", "depth", "infinite", "debug", "-7", "\r", "\t", "\n", "\n"};
  for (int chunk = 0; chunk < 20; ++chunk) {
    std::string text;
    for (int i = 0; i < 600; ++i) text += next() % 8 ? std::string(vocabulary[next() % 14]) + " " : std::string(1, char(next()));
    e.send(text);
  }
  e.send("stop");
  e.send("isready");
  std::vector<std::string> lines = e.read_until("readyok");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "readyok");
  e.quit();
}

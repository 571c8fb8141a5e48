// A position with its own history stack, ready to use in tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "board/movegen.h"
#include "board/notation.h"
#include "board/position.h"
#include "board/see.h"

struct TestBoard {
  GameHistory history;
  Position pos;
  TestBoard() {
    init_attacks();
    init_zobrist();
    position_init(pos, history);
  }
  explicit TestBoard(const char* fen) : TestBoard() { set_position(pos, fen); }
  std::string fen() const {
    char buf[128];
    position_to_fen(pos, buf);
    return buf;
  }
  Move parse(const char* text) const {
    Move m = 0;
    return parse_move(pos, text, &m) ? m : 0;
  }
  void play(const char* text) {
    Move m = parse(text);
    if (m) make_move(pos, m);
  }
};

// A board whose FEN must be accepted.
struct ValidBoard : TestBoard {
  ValidBoard() = default;
  explicit ValidBoard(const std::string& fen) { set(fen); }
  void set(const std::string& fen) { ASSERT_EQ(set_position(pos, fen.c_str()), 0) << fen; }
};

constexpr const char* START_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";
constexpr const char* KIWIPETE_FEN = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -";

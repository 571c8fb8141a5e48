// Shared set-up of the evaluation tests: one slot array and one evaluation
// thread record (too large for the stack), with the tables built from the
// hand-set parameters, which the worked examples of the tests are about.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <sstream>
#include <string>

#include "board/types.h"
#include "eval/eval.h"
#include "eval/params.h"
#include "search/options.h"

inline i16 eval_slots[OPTION_SLOTS];
inline EvalThread eval_thread;

// Rebuilds the weight tables from eval_slots; the next evaluation starts
// with empty caches, as a new search would.
inline void rebuild_eval() {
  build_eval_tables(eval_slots);
  eval_begin_search(eval_thread, WHITE, 1.0);
}

class EvalFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(eval_slots, 0, sizeof eval_slots);
    register_eval_params(eval_slots, EvalDefaults::HAND_SET);
    rebuild_eval();
  }
};

// The same position with colours exchanged, the board turned and the other side to move.
inline std::string mirror_fen(const std::string& fen) {
  std::istringstream in(fen);
  std::string board, side, castle, ep, rest, tok;
  in >> board >> side >> castle >> ep;
  while (in >> tok) rest += " " + tok;
  auto swap_case = [](char c) { return std::isupper(c) ? char(std::tolower(c)) : char(std::toupper(c)); };
  std::string out;
  std::stringstream bs(board);
  while (std::getline(bs, tok, '/')) {
    for (char& c : tok) c = swap_case(c);
    out = out.empty() ? tok : tok + "/" + out;
  }
  for (char& c : castle) c = swap_case(c);
  if (ep.size() == 2) ep[1] = char('1' + ('8' - ep[1]));
  return out + (side == "w" ? " b " : " w ") + castle + " " + ep + rest;
}

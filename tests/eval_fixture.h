// Shared set-up of the evaluation tests: one slot array and one evaluation
// thread record (too large for the stack), with the tables built from the
// hand-set parameters, which the worked examples of the tests are about.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

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

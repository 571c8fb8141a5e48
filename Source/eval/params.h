// The tunable evaluation parameters: defaults in the option slots, the
// name registry, and the step that builds the weight tables from the slots.
#pragma once

#include "board/types.h"

// Size of the option-slot array (UciOptions) shared with the front end.
constexpr int OPTION_SLOTS = 512;
// First slot of the tunable evaluation parameters.
constexpr int EVAL_PARAM_FIRST_SLOT = 248;

// Writes the default of every tunable evaluation parameter into its slot
// (slots EVAL_PARAM_FIRST_SLOT on) and fills the name registry.
void register_eval_params(i16* slots);

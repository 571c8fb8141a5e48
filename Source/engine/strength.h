// Playing weaker on request: the engine caps its speed in nodes per second,
// and a rating model turns a UCI_Elo setting into such a cap.  One speed
// measurement at start-up fixes the strongest setting.
#pragma once

#include "board/types.h"

// The rating model: grows with the speed, about 2481.8 at 30 000 nodes per
// second and 2923.7 at a million.  Only meaningful above 10.
f64 elo_from_nps(f64 nps);

// The speed whose rating lies within half a point of elo (bisection between
// 30 and 10 000 000 nodes per second).
f64 nps_for_elo(int elo);

// Times a fixed per-node workload on the game position for 0.3 s and sets
// calibration_nps, max_elo and the live UCI_Elo (the ceiling); prints
// "info string et= ..., calibration nps= ...".
void calibrate_speed();

// Caps the speed for the searches that start while UCI_LimitStrength is on.
void set_speed_limit(f64 nps);

// UCI_Elo set to value: clamps it, picks the speed or switches the limit off
// near the ceiling, and reports both.
void set_uci_elo(const char* value);

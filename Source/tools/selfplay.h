// The self-play tuning match: very fast games between a randomly perturbed
// copy of some evaluation parameters and the parameters as they stood at the
// start, each parameter moving toward its perturbation as far as the
// perturbed side outscored the other.
#pragma once

#include "tools/tune.h"

// Plays cycles of six games, writing them to self.pgn, until 300000 games
// or a "quit" line (then the running game is dropped, the cycle's results
// so far still count, and self.pgn holds whole games).
void selfplay_match(const TuneHooks& hooks);

struct Position;
// Whether a game of the match is drawn before the side to move searches:
// only by a third repetition.
bool drawn_before_search(const Position& pos);

// The setting tried for a parameter whose estimate is x; random_value is
// rand() % 400, a change of -20 % .. +19.9 % but at least 1.5 either way.
int perturbed_setting(double x, int random_value);
// The estimate after a cycle in which the perturbed side won win_difference
// more games than the other.
double updated_estimate(double x, int perturbed, int win_difference);

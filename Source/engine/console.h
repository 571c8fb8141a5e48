// Console commands for a person at a terminal ("-c").
#pragma once

void console_command(const char* line);

// The board, or the evaluation in detail after "set debug 1".
void show_board();

// "perft N" (console) and "go perft N" (UCI): each root move with its leaf
// count, then the total; ".", "stop", "quit" or the end of input abandon it.
void run_perft_command(const char* depth_text);

// "self": after each search the move is played and the other side thinks.
extern bool g_self_play;
// After a search's report in self-play: plays its move and asks for the next search.
void continue_self_play();

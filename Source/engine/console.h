// Console commands for a person at a terminal ("-c").
#pragma once

void console_command(const char* line);

// "self": after each search the move is played and the other side thinks.
extern bool g_self_play;
// After a search's report in self-play: plays its move and asks for the next search.
void continue_self_play();

// Console commands for games and positions from files: "get", "load",
// "save", "jump" and the board editor "edit".
#pragma once

// Handles line when it is one of these commands or a line for the open
// board editor; false when the line is for the other console commands.
bool games_command(const char* line);

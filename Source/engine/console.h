// Console commands for a person at a terminal ("-c").
#pragma once

void console_command(const char* line);

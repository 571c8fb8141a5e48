// The command interpreter: reads standard input without blocking, queues
// complete lines and executes at most one command per call.
#pragma once

// Polls input and executes at most one queued command.
void process_command();
// Executes one command line (UCI or console, by the current mode).
void execute_command(const char* line);
// First blank-delimited word of text (at most 127 characters) in a static buffer.
const char* next_token(const char* text);
// Whether a command is queued or input is pending or already known to be at its end.
bool input_ready();
// Whether the end of standard input acts as "quit" (play) or is ignored (tool modes).
void set_end_of_input_quits(bool quits);
// Whether "." or "quit" waits in the input, or the input has ended: a long
// job on the main thread gives up then (the line itself stays queued).
bool stop_line_pending();
// Forgets queued input and the end-of-input state (tests drive the
// interpreter in-process).
void reset_input_state();
// Sets up the game from a FEN unless it cannot be searched safely; prints
// an "info string" (or a plain line in console mode) and keeps the old
// position when refused.  Returns whether it was set up.
bool setup_game_fen(const char* fen);
// Prints a message as "info string ..." in UCI mode and as a plain line in console mode.
void print_message(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

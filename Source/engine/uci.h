// The command interpreter: reads standard input without blocking, queues
// complete lines and executes at most one command per call.
#pragma once

// Polls input and executes at most one queued command; the end of input
// counts as "quit" unless set_end_of_input_quits(false) said otherwise.
void process_command();
// Executes one command line (UCI or console, by the current mode); any run
// of blanks and tabs separates its words, and the value of a "setoption ...
// value" is kept as typed apart from its ends.
void execute_command(const char* line);
// First word (blanks and tabs delimit) of text (at most 127 characters) in a static buffer.
const char* next_token(const char* text);
// Whether a command is queued or input is pending or already known to be at its end.
bool input_ready();
// Whether the end of input was reached and acted on (no more commands come).
bool input_ended();
// Whether the end of standard input acts as "quit" (play, the default) or is
// ignored (benchmarks and tool modes, which stop at the end of their work or
// on a "quit" line).
void set_end_of_input_quits(bool quits);
// Whether ".", "stop" or "quit" waits in the input, or the input has ended
// where that means "quit": a long job on the main thread gives up then (the
// line itself stays queued).
bool stop_line_pending();
// Forgets queued input and the end-of-input state (tests drive the
// interpreter in-process).
void reset_input_state();

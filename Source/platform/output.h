// The one way lines reach the client: stdout, flushed at once, copied to the
// log file when logging is on.  A spin lock keeps lines from different threads whole.
#pragma once

#include <cstdio>

struct OutputState {
  FILE* log_file = nullptr;  // open "vorn.log", or none
  bool log_on = false;       // the Log option
};

extern OutputState g_output;

void output_line(const char* text);
// printf-style convenience over output_line; lines longer than 4095 characters are cut.
void output_format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Writes a line to the log file only (no lock), when logging is on.
void log_only(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Opens a file a command or tool reads.  A missing or unreadable file (or a
// directory) gets one line naming it and the reason, and gives nullptr.
FILE* open_input_file(const char* path, const char* mode = "r");
// The line for an output file that could not be created; errno gives the reason.
void report_unwritable(const char* path);

// Tests can capture output instead of writing to stdout.
using OutputSink = void (*)(const char* line);
void set_output_sink(OutputSink sink);

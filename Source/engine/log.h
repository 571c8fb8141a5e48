// The log file "vorn.log" in the working directory.
#pragma once

// Creates a fresh log file.  When another running engine holds the file,
// prints "log file in use." and switches the Log option off.
void open_log();
void close_log();

// The search trace: moves played by the search down to the trace depth go to
// "trace.txt" as an indented tree.  Setting the depth to 0 switches it off.
void set_trace_depth(int depth);
void close_trace();

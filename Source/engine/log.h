// The log file "vorn.log" in the working directory.
#pragma once

// Creates a fresh log file.  When another running engine holds the file,
// prints "log file in use." and switches the Log option off.
void open_log();
void close_log();

// Setting options by name (setoption and the configuration file), the option
// lines of the "uci" reply and the configuration file reader.
#pragma once

#include "search/options.h"

// Start-up values of every slot, the tunable evaluation defaults included.
void option_defaults(UciOptions& opts);
// Applies one setting; the name is matched without regard to case.  Unknown
// names do nothing, print nothing and return false.
// Registered evaluation parameters ("pawn_value_op", "p3") are set by name
// too; where an option and a parameter differ only in case, the exact
// spelling decides.
bool set_option(const char* name, const char* value);
// Whether set_option knows the name.
bool option_known(const char* name);
// Prints the option lines of the "uci" reply from g_listed_options.
void print_option_lines();
// Reads name = value lines from the file named by ConfigFilePath.
// Returns 1 when the file was read, 0 when it could not be opened.
int load_config();
// Writes every option but ConfigFilePath and every registered evaluation
// parameter as name=value lines that load_config reads back to the same
// settings.  Returns 1 when the file was written.
int write_config(const char* path);
// Keeps the output layer's log switch in step with the Log option.
void sync_log_option();

#include "search/options.h"

#include <cstring>

UciOptions g_options;
UciOptions g_listed_options;
bool g_params_changed = false;

void set_option_text(UciOptions& opts, int first_slot, const char* value) {
  char* dst = opts.text(first_slot);
  std::size_t n = std::strlen(value);
  if (n > OPTION_TEXT_MAX) n = OPTION_TEXT_MAX;
  std::memcpy(dst, value, n);
  dst[n] = '\0';
}

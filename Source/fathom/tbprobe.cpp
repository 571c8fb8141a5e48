#include "fathom/tbprobe.h"

int probe_tb_wdl(const Position& /*pos*/, int /*depth*/) { return -1; }

RootTbResult probe_tb_root(const Position& /*pos*/) { return RootTbResult{-1, 0, 0}; }

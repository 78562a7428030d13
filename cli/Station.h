#pragma once
// Several Q218s at once: one q218-flash process per port (a slot), each the plain single-port
// run with --events, so that a crash, hang or pulled cable in one slot cannot touch another.
// The parent reads each slot's events, keeps what it last reported, shows the slots, writes
// one record per attempt (the slot's own, or one made from its last report when its process
// died), and in --station mode takes unit after unit until Ctrl+C or SIGTERM.

#include "FlashOptions.h"

namespace q218::flash {

// Runs every slot to its end; returns the exit code of the whole (docs/station.md).
int RunStation(const FlashOptions& options);

}  // namespace q218::flash

#pragma once
// The probe: wakes the controller exactly as a run does (the Controller's own
// port acquisition and prompt wait), reports how long the prompt took and what
// came before it, then sends "quit". Never anything else: no "logs", "getdata"
// or "getlog", and no session file.

#include "CheckLine.h"
#include "SiteChecks.h"

namespace SiteCheck {

// With `scanSpeed`, a serial port that shows no prompt at the configured speed
// is tried at the other speeds of the table, most common first.
void Probe(CheckList& list, const Site& site, bool scanSpeed);

}  // namespace SiteCheck

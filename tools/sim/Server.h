#pragma once
// The simulator's two links. Each sets up its listener or terminal, prints the
// one start line on standard output ("tcp 127.0.0.1:PORT" or "pty /dev/pts/N"),
// then serves until a stop signal or --once ends it. Both raise SimError when
// set-up or I/O fails.

#include "SimOptions.h"
#include "StopSignal.h"

// One connection at a time on 127.0.0.1, any number in sequence.
void ServeTcp(const SimOptions& options, StopSignal& stop);

// One pseudo-terminal in raw mode; its master stays open between clients.
void ServePty(const SimOptions& options, StopSignal& stop);

// Writes the start line and flushes it; raises SimError when that fails.
void AnnounceLink(const std::string& line);

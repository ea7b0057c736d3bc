#pragma once
// SIGINT, SIGTERM and SIGHUP during a run: the handler only records the signal;
// the application acts on it at its next turn at pending events, so that the
// session file is flushed and closed before the process ends.
// (SIGPIPE and SIGXFSZ are ignored from the start of the process: ProcessStart.)

namespace StopSignals {

void Install();
// The signal received, 0 when none.
int Pending();
// "SIGTERM", "SIGINT", "SIGHUP" or "signal N".
const char* Name(int signal);

}  // namespace StopSignals

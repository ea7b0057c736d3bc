#pragma once
// What every program of the system does first, before it opens anything.

namespace ProcessStart {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no
// file or socket opened later takes a standard stream's number (log lines would
// land in it). Ignores SIGPIPE and SIGXFSZ, so that a reader that has gone or a
// file-size limit is a write error, never the end of the process.
void Prepare();

}  // namespace ProcessStart

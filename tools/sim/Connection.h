#pragma once
// Serves one connection on a non-blocking descriptor: reads commands, writes
// replies as fast as the peer and the fault options allow, and returns when the
// connection is over. Waits in ppoll only; never spins.

#include <functional>

#include "FaultShaper.h"
#include "Session.h"
#include "StopSignal.h"

enum class ConnectionEnd {
  kPeerClosed,  // the peer closed or reset the connection
  kQuit,        // "quit" was received
  kFaultClose,  // --close-after reached
  kStop,        // a stop signal arrived
};

// fd must be non-blocking and stay open for the call; isSocket selects
// send/recv (no SIGPIPE) over write/read. Raises SimError on an unexpected
// failure of the descriptor.
// `timingLog` gets the time from the last byte sent to each command's end.
// While `garbled` (when given) is true, the bytes written are garbled as at a
// wrong line speed; the sent log keeps them as meant.
ConnectionEnd ServeConnection(int fd, bool isSocket, Session& session, FaultShaper& shaper,
                              StopSignal& stop, AppendFile& timingLog,
                              const std::function<bool()>& garbled = {});

#pragma once
// The port a deployment names, checked without talking to the controller: for
// a serial device that it exists, is a terminal this account may open, has a
// stable /dev/serial/by-id name and is not held by another process; for a TCP
// endpoint that it is in range and a connection opens in time.

#include "CheckLine.h"
#include "SiteChecks.h"

namespace SiteCheck {

void CheckPort(CheckList& list, Site& site);

// The process holding a lock on the file `path` ("pelox5-download (PID 123)"),
// from /proc/locks; "" when none does or the system does not tell.
std::string LockHolder(const std::string& path);

}  // namespace SiteCheck

#include "app/StopSignals.h"

#include <csignal>
#include <cstdio>
#include <initializer_list>

namespace StopSignals {

namespace {
volatile std::sig_atomic_t gPending = 0;

extern "C" void Record(int signal) { gPending = signal; }
}  // namespace

void Install() {
  struct sigaction action {};
  action.sa_handler = Record;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a wait in poll() wakes up at once
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int Pending() { return gPending; }

const char* Name(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default: {
      static char text[32];
      std::snprintf(text, sizeof text, "signal %d", signal);
      return text;
    }
  }
}

}  // namespace StopSignals

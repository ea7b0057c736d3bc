#pragma once
// Thrown by App::QuitWithPause to end the process. It is not a BaseError, so no
// stage's handler catches it: it unwinds to main(), which closes what the App
// owns (the session file first) and returns the code as the exit status.

#include <cstdint>

struct ExitRequest {
  int32_t code;
};

#include "core/restart_request.h"

namespace {
bool restartRequested = false;
}

void RequestRestart() { restartRequested = true; }

bool TakeRestartRequest() {
  const bool requested = restartRequested;
  restartRequested = false;
  return requested;
}

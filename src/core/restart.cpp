#include "core/restart.h"

namespace {
bool restartRequested = false;
}

void RequestRestart() { restartRequested = true; }

bool TakeRestartRequest() {
  const bool requested = restartRequested;
  restartRequested = false;
  return requested;
}

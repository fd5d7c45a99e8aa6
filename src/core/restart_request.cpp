#include "core/restart_request.h"

#include "core/netgame.h"

namespace {
bool restartRequested = false;
}

void RequestRestart() {
  // While a restart is pending (its completion runs Main.lua again) a request
  // is ignored: a game mode that asks for a restart at its top level would
  // otherwise restart for ever.
  if (gNetGame && gNetGame->restartPending) return;
  restartRequested = true;
}

bool TakeRestartRequest() {
  const bool requested = restartRequested;
  restartRequested = false;
  return requested;
}

// A restart asked for from inside a script call ("restartGameMode"). The
// script's state and the pools it is running on cannot be discarded under
// it, so the request is only noted here and the main loop carries it out
// once the current pass has finished.
#pragma once

// Ignored while a restart is pending, its completion's run of Main.lua included.
void RequestRestart();
// True once for each request (the request is consumed).
bool TakeRestartRequest();

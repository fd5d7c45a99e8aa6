// The world's hour and minute. The script host's timer pool drives the clock;
// the world-time packet reads it. Kept in the core so that the packet loop
// needs nothing from the script host. Main thread only.
#pragma once

#include <cstdint>

void GetGameClock(uint8_t& hour, uint8_t& minute);
void SetGameClock(uint8_t hour, uint8_t minute);

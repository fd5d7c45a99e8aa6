#include "core/gameclock.h"

namespace {
// Every timer pool starts its clock at 12:00 and publishes it.
uint8_t clockHour = 12;
uint8_t clockMinute = 0;
}  // namespace

void GetGameClock(uint8_t& hour, uint8_t& minute) {
  hour = clockHour;
  minute = clockMinute;
}

void SetGameClock(uint8_t hour, uint8_t minute) {
  clockHour = hour;
  clockMinute = minute;
}

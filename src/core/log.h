// The one log of every subsystem: each line goes to standard output and is
// appended to "server_log.txt" in the working directory.
#pragma once

#include <cstdint>
#include <string>

// Formats the message (cut at 511 bytes) and writes it to the console and the
// log file, with "[stamp] " in front when `withStamp` is set.
void LogPrint(uint8_t withStamp, const char* format, ...) __attribute__((format(printf, 2, 3)));
// As LogPrint, but only to the file (the console thread records typed lines).
void LogPrintFileOnly(uint8_t withStamp, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// The local time as "Mon-%d-%y %H:%M:%S", e.g. "Dec-05-26 06:41:43".
std::string GetLogTimestamp();

inline constexpr const char* kLogFileName = "server_log.txt";

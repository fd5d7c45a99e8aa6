#include "core/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "core/settings.h"
#include "platform/platform.h"

namespace {

constexpr size_t kMessageBytes = 512;

// Both threads log; the console thread only while the main loop waits for it,
// but a lock keeps whole lines together whatever a caller does.
std::mutex logMutex;

void FormatMessage(char (&buffer)[kMessageBytes], const char* format, va_list args) {
  std::memset(buffer, 0, sizeof buffer);
  // vsnprintf cuts at 511 bytes; longer messages are truncated, never overflowed.
  std::vsnprintf(buffer, sizeof buffer, format, args);
  // Texts from clients, scripts and IRC end up here: a control byte would
  // reach the operator's terminal as an escape sequence, so only line ends
  // and tabs pass.
  for (char* c = buffer; *c; ++c) {
    if (IsControlByte(static_cast<unsigned char>(*c)) && *c != '\n' && *c != '\t') *c = '?';
  }
}

// The line as the console shows it: an encoded C1 control becomes one '?',
// as a control byte does in every line. Only the terminal acts on these pairs,
// so the file keeps the bytes as they were sent.
std::string ForConsole(const std::string& line) {
  std::string shown;
  shown.reserve(line.size());
  for (size_t i = 0; i < line.size(); ++i) {
    if (platform::IsEncodedC1Control(line.data(), line.size(), i)) {
      shown += '?';
      ++i;
    } else {
      shown += line[i];
    }
  }
  return shown;
}

// A record in the file: every "\n" of the text becomes CR LF and the record
// ends with CR LF, so lines never run together in any viewer.
void AppendToFile(const std::string& text) {
  std::string record;
  record.reserve(text.size() + 16);
  for (char c : text) {
    if (c == '\n') record += "\r\n";
    else record += c;
  }
  record += "\r\n";
  if (FILE* file = std::fopen(kLogFileName, "ab")) {
    std::fwrite(record.data(), 1, record.size(), file);
    std::fclose(file);
  }
}

void Write(uint8_t withStamp, bool toConsole, const char* format, va_list args) {
  char message[kMessageBytes];
  FormatMessage(message, format, args);
  std::lock_guard<std::mutex> lock(logMutex);
  std::string line;
  if (withStamp) {
    line = "[" + GetLogTimestamp() + "] " + message;
  } else {
    line = message;
  }
  if (toConsole) {
    const std::string shown = ForConsole(line);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  AppendToFile(line);
}

}  // namespace

void LogPrint(uint8_t withStamp, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(withStamp, true, format, args);
  va_end(args);
}

void LogPrintFileOnly(uint8_t withStamp, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(withStamp, false, format, args);
  va_end(args);
}

std::string GetLogTimestamp() {
  static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  int month = local.tm_mon;
  if (month < 0) month = 0;
  if (month > 11) month = 11;
  char rest[64] = {0};
  std::strftime(rest, sizeof rest, "-%d-%y %H:%M:%S", &local);
  return std::string(kMonths[month]) + rest;
}

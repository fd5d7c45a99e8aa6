// The operating-system layer: console lines and title, the main-loop hand-off,
// signals, sleep and the monotonic clock, and IPv4 TCP client sockets.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

namespace platform {

// ---- console ----------------------------------------------------------------

// Reads one line from `fd` into `buffer` (capacity at least 256): at most 255
// characters per read, the line end not included, NUL-terminated. Of a line
// longer than 255 characters only the first 255 are delivered; the rest is
// read up to the line end and dropped. Returns the
// number of characters (0 for an empty line), or -1 when the input has ended
// or failed; the caller must then back off (see ConsoleBackOff), never spin.
int ReadConsoleLine(int fd, char* buffer);
// The pause after ReadConsoleLine returned -1.
void ConsoleBackOff();

// Sets the terminal title; does nothing unless standard output is a terminal.
void SetConsoleTitle(const char* title);

// Whether `text` (of `size` bytes) holds a UTF-8-encoded C1 control, the bytes
// C2 80 to C2 9F, at `at`. A terminal reading UTF-8 acts on one as on a control
// byte (C2 9B opens a control sequence), so the console never shows it raw. A
// lone byte 80-9F is an ordinary character of the clients' 8-bit text, and a
// C2 that ends the text pairs with nothing.
bool IsEncodedC1Control(const char* text, size_t size, size_t at);

// ---- the main-loop hand-off -------------------------------------------------

// Created unsignalled. Signal() hands the token to the thread that has waited
// longest, or keeps it for the next Wait() when nobody waits; Wait() blocks
// until it owns the token and consumes it. Because a signal goes to a thread
// already waiting, the main loop's "Signal(); Wait();" always lets a waiting
// console command run before the main loop continues.
class Handoff {
 public:
  void Signal();
  void Wait();
  // The number of threads blocked in Wait (for tests).
  int Waiters() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<uint64_t> queue_;  // tickets of waiting threads, oldest first
  uint64_t nextTicket_ = 0;
  uint64_t grantedTicket_ = UINT64_MAX;  // ticket that owns the token, if any
  bool spare_ = false;                   // token signalled with nobody waiting
};

// ---- process ------------------------------------------------------------------

// Ignores SIGPIPE for the whole process: a write to a pipe whose reader has
// gone (the console piped into a pager or tee that ended) then fails with
// EPIPE instead of ending the server.
void IgnoreBrokenPipe();

// ---- time ---------------------------------------------------------------------

void SleepMs(uint32_t ms);
uint64_t MonotonicUs();

// ---- TCP client sockets -------------------------------------------------------

// Connects to `ipv4:port` within `timeoutMs`; the socket is left non-blocking.
// Returns the descriptor, or -1.
int TcpConnect(const char* ipv4, uint16_t port, uint32_t timeoutMs);
// 1 when data (or end of stream) is waiting, 0 when not, -1 on error. Never blocks.
int TcpReadable(int fd);
// Reads what is waiting: bytes read, 0 at end of stream, -1 on error or when nothing waits.
int TcpRecv(int fd, char* buffer, size_t size);
// Sends the whole buffer (waiting for room as needed) without raising SIGPIPE.
bool TcpSendAll(int fd, const void* data, size_t size);
// Shuts the connection down and closes the descriptor.
void TcpClose(int fd);
// Resolves a host name or dotted text to dotted IPv4 text. False when unknown.
bool ResolveHostIPv4(const char* host, char* out, size_t outSize);

}  // namespace platform

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/platform.h"

namespace platform {
namespace {

// How long TcpSendAll waits for the peer to make room before giving up, so a
// peer that stops reading cannot hold the caller for ever.
constexpr int kSendStallMs = 10000;

}  // namespace

int TcpConnect(const char* ipv4, uint16_t port, uint32_t timeoutMs) {
  if (!ipv4) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, ipv4, &addr.sin_addr) != 1) return -1;

  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  if (errno != EINPROGRESS && errno != EINTR) {
    close(fd);
    return -1;
  }

  uint64_t deadline = MonotonicUs() + static_cast<uint64_t>(timeoutMs) * 1000u;
  for (;;) {
    uint64_t now = MonotonicUs();
    int waitMs = now >= deadline ? 0 : static_cast<int>((deadline - now + 999) / 1000);
    pollfd p{fd, POLLOUT, 0};
    int r = poll(&p, 1, waitMs);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;  // time limit reached, or poll failed
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) break;
    return fd;
  }
  close(fd);
  return -1;
}

int TcpReadable(int fd) {
  if (fd < 0) return -1;
  pollfd p{fd, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return -1;
  if (r == 0) return 0;
  if (p.revents & (POLLIN | POLLHUP)) return 1;  // data, or the end of the stream
  return -1;
}

int TcpRecv(int fd, char* buffer, size_t size) {
  if (fd < 0 || !buffer || size == 0) return -1;
  if (size > INT_MAX) size = INT_MAX;
  for (;;) {
    ssize_t n = recv(fd, buffer, size, MSG_DONTWAIT);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    return -1;
  }
}

bool TcpSendAll(int fd, const void* data, size_t size) {
  if (fd < 0 || (!data && size > 0)) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      p += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd w{fd, POLLOUT, 0};
      int r = poll(&w, 1, kSendStallMs);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0 || (w.revents & (POLLERR | POLLHUP | POLLNVAL))) return false;
      continue;
    }
    return false;
  }
  return true;
}

void TcpClose(int fd) {
  if (fd < 0) return;
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

bool ResolveHostIPv4(const char* host, char* out, size_t outSize) {
  if (!host || !*host || !out || outSize == 0) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &list) != 0 || !list) return false;
  bool ok = false;
  for (addrinfo* a = list; a && !ok; a = a->ai_next) {
    if (a->ai_family != AF_INET || !a->ai_addr) continue;
    const auto* sin = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    ok = inet_ntop(AF_INET, &sin->sin_addr, out, static_cast<socklen_t>(outSize)) != nullptr;
  }
  freeaddrinfo(list);
  return ok;
}

}  // namespace platform

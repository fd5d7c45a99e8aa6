// Hostile-client benchmark: what hostile connections cost a server on our
// net::Peer. Raw ENet clients (each from a loopback address of its own) speak
// our handshake and then misbehave:
//
//   pages    each sends unfinished 1 MiB messages, one byte in every 4 KiB
//            page of them (as many as the server will hold)
//   partials each sends unfinished messages of 512 bytes, the longest a
//            client's message may be
//   empty    each sends empty reliable messages behind one it never sends
//   queries  forged server-browser queries, from one address and from many
//   slow     slow readers: what the server sends them reaches them 2.5 s late
//            (a delay line between), so they acknowledge everything that
//            late, while the server sends everyone 500 reliable messages of
//            100 bytes a second (a busy chat, or a full server's calls)
//
// Printed for the queries: how many replies went out, and their bytes.
// Printed per other attack: the server's resident memory before, during and after
// (once the attackers are gone); for the slow readers also the CPU time of
// the server's threads during the load and in the idle seconds after it, how
// many slow readers were still connected when the load ended, and the worst
// delay of a message to an ordinary client. The process holds the clients too;
// their share of memory is in the "before" figure. Always exits 0: the figures
// are for people to read, run against two builds to compare them.
//
//   net_hostile [--connections N] [--slow N] [--load-seconds S] [--idle-seconds S]
//               [--rate PER_SECOND] [--bytes N] [--delay-ms MS] [--only ATTACK]
#include <arpa/inet.h>
#include <enet/enet.h>
#include <enet/protocol.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/cookie.h"
#include "net/peer.h"
#include "relay_anchor.h"

namespace {

using namespace relayanchor;
using Clock = std::chrono::steady_clock;

double ResidentMb() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

// A server on our Peer whose application takes every message as it comes,
// and may send something to everyone every 10 ms.
struct HostileServer {
  net::Peer peer;
  std::vector<clockid_t> cpu;
  std::thread app;
  std::atomic<bool> stop{false};
  std::atomic<bool> chatting{false};
  int rate = 200;
  int bytes = 100;
  std::atomic<int> closedForBacklog{0};  // the library's notices that say so
  std::atomic<long> sent{0};             // timed messages sent to everyone

  bool Start(uint16_t connections) {
    const std::set<pid_t> before = ThreadIds();
    if (!peer.Startup(connections, 1, 0, "127.0.0.1")) return false;
    for (pid_t t : ThreadIds())
      if (!before.count(t)) cpu.push_back(ThreadCpuClock(t));
    app = std::thread([this] {
      auto nextChat = Clock::now();
      while (!stop) {
        while (net::Packet* p = peer.Receive()) {
          // 20 then 2: closed because more waited to be sent than it took.
          if (p->length == 2 && p->data[0] == net::ID_CONNECTION_LOST && p->data[1] == 2) {
            ++closedForBacklog;
          }
          peer.DeallocatePacket(p);
        }
        if (chatting && Clock::now() >= nextChat) {
          nextChat += std::chrono::microseconds(1000000 / rate);
          uint8_t line[1024] = {kRelayId};
          PutU64(line + 1,
                 static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                           Clock::now().time_since_epoch())
                                           .count()));
          ++sent;
          peer.Send(line, static_cast<uint32_t>(bytes) * 8, net::HIGH_PRIORITY,
                    net::RELIABLE_ORDERED, 0, net::UNASSIGNED_SYSTEM_ADDRESS, true);
        }
        peer.WaitForMessage(1);
      }
    });
    // The application's thread services the peer while it waits: it counts too.
    cpu.push_back(ClockOf(app));
    return true;
  }
  double CpuSeconds() const {
    double total = 0;
    for (clockid_t c : cpu) total += relayanchor::CpuSeconds(c);
    return total;
  }
  ~HostileServer() {
    stop = true;
    if (app.joinable()) app.join();
    peer.Shutdown();
  }
};

struct Client {
  ENetHost* host = nullptr;
  ENetPeer* peer = nullptr;
  bool accepted = false;
  bool gone = false;
  double worstDelayMs = 0;
  long timed = 0;  // timed messages received
};

// Services a client: takes the handshake's answer, notes delays of timed messages.
void Service(Client& c) {
  ENetEvent ev;
  while (c.host && enet_host_service(c.host, &ev, 0) > 0) {
    if (ev.type == ENET_EVENT_TYPE_RECEIVE) {
      const uint8_t* d = ev.packet->data;
      if (ev.packet->dataLength >= 3 && d[0] == net::ID_CONNECTION_REQUEST_ACCEPTED)
        c.accepted = true;
      if (ev.packet->dataLength >= 9 && d[0] == kRelayId) {
        const uint64_t sent = GetU64(d + 1);
        const uint64_t now = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
                .count());
        c.worstDelayMs = std::max(c.worstDelayMs, static_cast<double>(now - sent) / 1000.0);
        ++c.timed;
      }
      enet_packet_destroy(ev.packet);
    } else if (ev.type == ENET_EVENT_TYPE_DISCONNECT) {
      c.gone = true;
    }
  }
}

// Sits between slow readers and the server: what a reader sends passes at
// once, what the server sends reaches the reader `delayMs` later, so every
// acknowledgement of the reader's comes that late and the server's window to
// it drains at a window a delay.
class DelayLine {
 public:
  DelayLine(uint16_t serverPort, int count, int delayMs) : delay_(delayMs) {
    server_.sin_family = AF_INET;
    server_.sin_port = htons(serverPort);
    server_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < count; ++i) {
      Hop h;
      h.fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
      const int big = 8 << 20;
      setsockopt(h.fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
      h.self.sin_family = AF_INET;
      inet_pton(AF_INET, NextClientIp().c_str(), &h.self.sin_addr);
      bind(h.fd, reinterpret_cast<sockaddr*>(&h.self), sizeof h.self);
      socklen_t size = sizeof h.self;
      getsockname(h.fd, reinterpret_cast<sockaddr*>(&h.self), &size);
      hops_.push_back(h);
    }
    thread_ = std::thread([this] { Run(); });
  }
  ~DelayLine() {
    stop_ = true;
    thread_.join();
    for (const Hop& h : hops_) close(h.fd);
  }
  ENetAddress Address(size_t i) const {
    return ENetAddress{hops_[i].self.sin_addr.s_addr, ntohs(hops_[i].self.sin_port)};
  }
  int DelayMs() const { return delay_; }

 private:
  struct Hop {
    int fd = -1;
    sockaddr_in self{};
    sockaddr_in client{};
  };
  struct Held {
    Clock::time_point due;
    size_t hop;
    std::vector<uint8_t> data;
  };
  void Run() {
    std::vector<pollfd> fds;
    for (const Hop& h : hops_) fds.push_back({h.fd, POLLIN, 0});
    uint8_t buffer[4096];
    while (!stop_) {
      poll(fds.data(), fds.size(), 1);
      for (size_t i = 0; i < hops_.size(); ++i) {
        sockaddr_in from{};
        socklen_t size = sizeof from;
        for (ssize_t got; (got = recvfrom(hops_[i].fd, buffer, sizeof buffer, 0,
                                          reinterpret_cast<sockaddr*>(&from), &size)) > 0;
             size = sizeof from) {
          if (from.sin_port == server_.sin_port &&
              from.sin_addr.s_addr == server_.sin_addr.s_addr) {
            held_.push_back({Clock::now() + std::chrono::milliseconds(delay_), i,
                             std::vector<uint8_t>(buffer, buffer + got)});
          } else {
            hops_[i].client = from;
            sendto(hops_[i].fd, buffer, static_cast<size_t>(got), 0,
                   reinterpret_cast<const sockaddr*>(&server_), sizeof server_);
          }
        }
      }
      for (const auto now = Clock::now(); !held_.empty() && held_.front().due <= now;
           held_.pop_front()) {
        const Hop& h = hops_[held_.front().hop];
        sendto(h.fd, held_.front().data.data(), held_.front().data.size(), 0,
               reinterpret_cast<const sockaddr*>(&h.client), sizeof h.client);
      }
    }
  }
  int delay_;
  sockaddr_in server_{};
  std::vector<Hop> hops_;
  std::deque<Held> held_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Connects `count` clients to the server, or each through its hop of `line`.
std::deque<Client> ConnectAll(uint16_t port, int count, const DelayLine* line = nullptr) {
  std::deque<Client> clients(static_cast<size_t>(count));
  std::vector<ENetAddress> servers(clients.size());
  for (size_t i = 0; i < clients.size(); ++i) {
    Client& c = clients[i];
    ENetAddress local{};
    enet_address_set_host_ip(&local, NextClientIp().c_str());
    local.port = ENET_PORT_ANY;
    c.host = enet_host_create(&local, 1, 2, 0, 0);
    enet_address_set_host_ip(&servers[i], "127.0.0.1");
    servers[i].port = port;
    if (line) servers[i] = line->Address(i);
  }
  // The cookies all at once: through a delay line each answer takes its delay.
  const uint32_t wait = 1000 + static_cast<uint32_t>(line ? line->DelayMs() : 0);
  std::vector<uint32_t> cookies(clients.size());
  std::vector<std::thread> asking;
  for (size_t i = 0; i < clients.size(); ++i) {
    if (!clients[i].host) continue;
    asking.emplace_back(
        [&, i] { cookies[i] = net::FetchCookie(clients[i].host->socket, servers[i], wait); });
  }
  for (std::thread& t : asking) t.join();
  for (size_t i = 0; i < clients.size(); ++i) {
    Client& c = clients[i];
    c.peer = c.host ? enet_host_connect(c.host, &servers[i], 2, cookies[i]) : nullptr;
  }
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  std::set<Client*> asked;
  for (bool all = false; !all && Clock::now() < deadline;) {
    all = true;
    for (Client& c : clients) {
      Service(c);
      if (c.peer && c.peer->state == ENET_PEER_STATE_CONNECTED && asked.insert(&c).second) {
        const uint8_t request = net::ID_CONNECTION_REQUEST;
        enet_peer_send(c.peer, 0, enet_packet_create(&request, 1, ENET_PACKET_FLAG_RELIABLE));
        enet_host_flush(c.host);
      }
      all = all && c.accepted;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return clients;
}

void Disconnect(std::deque<Client>& clients) {
  for (Client& c : clients) {
    if (c.host) enet_host_destroy(c.host);  // without a word: the server hears silence
    c.host = nullptr;
  }
}

// Raw ENet commands on the client's connection, past its own ENet.
class Datagram {
 public:
  explicit Datagram(const Client& c) : client_(c) {
    // With a sent time: ENet reads no command past the first without one.
    const uint16_t id = static_cast<uint16_t>(
        c.peer->outgoingPeerID | (c.peer->outgoingSessionID << ENET_PROTOCOL_HEADER_SESSION_SHIFT) |
        ENET_PROTOCOL_HEADER_FLAG_SENT_TIME);
    const uint16_t wire[2] = {ENET_HOST_TO_NET_16(id),
                              ENET_HOST_TO_NET_16(static_cast<uint16_t>(enet_time_get()))};
    std::memcpy(bytes_, wire, 4);
    size_ = kHeader;
  }
  bool Room(size_t n) const { return size_ + n <= 1400; }
  void Fragment(uint16_t start, uint32_t count, uint32_t number, uint32_t total, uint32_t offset) {
    ENetProtocolSendFragment f{};
    f.header.command = static_cast<uint8_t>(ENET_PROTOCOL_COMMAND_SEND_FRAGMENT) |
                       static_cast<uint8_t>(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE);
    f.header.channelID = 0;
    f.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(static_cast<uint16_t>(start + number));
    f.startSequenceNumber = ENET_HOST_TO_NET_16(start);
    f.dataLength = ENET_HOST_TO_NET_16(1);
    f.fragmentCount = ENET_HOST_TO_NET_32(count);
    f.fragmentNumber = ENET_HOST_TO_NET_32(number);
    f.totalLength = ENET_HOST_TO_NET_32(total);
    f.fragmentOffset = ENET_HOST_TO_NET_32(offset);
    std::memcpy(bytes_ + size_, &f, sizeof f);
    size_ += sizeof f;
    bytes_[size_++] = 0x5A;
  }
  void Empty(uint16_t sequence) {
    ENetProtocolSendReliable r{};
    r.header.command = static_cast<uint8_t>(ENET_PROTOCOL_COMMAND_SEND_RELIABLE) |
                       static_cast<uint8_t>(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE);
    r.header.channelID = 0;
    r.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(sequence);
    r.dataLength = 0;
    std::memcpy(bytes_ + size_, &r, sizeof r);
    size_ += sizeof r;
  }
  void Send() {
    if (size_ <= kHeader) return;
    ENetBuffer b{bytes_, size_};
    enet_socket_send(client_.host->socket, &client_.peer->address, &b, 1);
    size_ = kHeader;
  }

 private:
  static constexpr size_t kHeader = 4;
  const Client& client_;
  uint8_t bytes_[1500];
  size_t size_ = 0;
};

// Sends each client's commands, a datagram at a time, servicing everyone
// between rounds so that the connections stay alive.
void Attack(std::deque<Client>& clients, const std::function<void(Client&, Datagram&, int)>& fill,
            int rounds) {
  for (int round = 0; round < rounds; ++round) {
    for (Client& c : clients) {
      Datagram d(c);
      fill(c, d, round);
      d.Send();
      Service(c);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void Settle(std::deque<Client>& clients, int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    for (Client& c : clients) Service(c);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Runs `scenario` in a child process of its own, so that no scenario's
// memory is another's.
void Isolated(const std::function<void()>& scenario) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    scenario();
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
}

void RunMemoryAttack(const char* name, int connections,
                     const std::function<void(Client&, Datagram&, int)>& fill, int rounds) {
  HostileServer server;
  if (!server.Start(static_cast<uint16_t>(connections + 1))) return;
  std::deque<Client> clients = ConnectAll(server.peer.GetBoundPort(), connections);
  int accepted = 0;
  for (const Client& c : clients) accepted += c.accepted;
  Settle(clients, 300);
  const double before = ResidentMb();
  Attack(clients, fill, rounds);
  Settle(clients, 1000);
  const double during = ResidentMb();
  Disconnect(clients);
  std::this_thread::sleep_for(std::chrono::milliseconds(5000));  // their time-out, and more
  const double after = ResidentMb();
  std::printf(
      "%-9s %3d connections: %7.1f MB before, %7.1f MB under attack (+%.1f), %7.1f MB "
      "after they left\n",
      name, accepted, before, during, during - before, after);
}

// Forged server-browser queries: `perSource` queries from each of `sources`
// loopback addresses, sent as fast as they go; the replies that come back.
void RunQueries(int sources, int perSource) {
  HostileServer server;
  if (!server.Start(2)) return;
  const std::string reply(1011, 'r');  // the size of a 60-player server's reply
  server.peer.SetOfflinePingResponse(reply.data(), static_cast<uint32_t>(reply.size()));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(server.peer.GetBoundPort());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<pollfd> fds;
  for (int source = 0; source < sources; ++source) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    const int big = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, NextClientIp().c_str(), &from.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
    fds.push_back({fd, POLLIN, 0});
  }
  long answered = 0, bytes = 0;
  uint8_t buffer[4096];
  auto drain = [&](int waitMs) {
    while (poll(fds.data(), fds.size(), waitMs) > 0) {
      for (pollfd& p : fds) {
        for (ssize_t got; (got = recv(p.fd, buffer, sizeof buffer, 0)) > 0;) {
          ++answered;
          bytes += got;
        }
      }
    }
  };
  const uint8_t query[5] = {1, 1, 2, 3, 4};
  const auto start = Clock::now();
  for (int i = 0; i < perSource; ++i) {
    for (const pollfd& p : fds) {
      sendto(p.fd, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    drain(0);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  drain(500);
  for (const pollfd& p : fds) close(p.fd);
  std::printf(
      "queries   %d forged queries from %d address%s in %.2f s: %ld answered, %ld bytes "
      "of replies (%.2f times the queries' bytes)\n",
      sources * perSource, sources, sources == 1 ? "" : "es", seconds, answered, bytes,
      static_cast<double>(bytes) / (5.0 * sources * perSource));
}

}  // namespace

int main(int argc, char** argv) {
  int connections = 100, slow = 20, rate = 500, bytes = 100, delayMs = 2500;
  std::string only;  // one attack by its name; all when empty
  double loadSeconds = 90, idleSeconds = 10;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--connections") connections = std::atoi(argv[i + 1]);
    if (flag == "--slow") slow = std::atoi(argv[i + 1]);
    if (flag == "--load-seconds") loadSeconds = std::atof(argv[i + 1]);
    if (flag == "--idle-seconds") idleSeconds = std::atof(argv[i + 1]);
    if (flag == "--only") only = argv[i + 1];
    if (flag == "--delay-ms") delayMs = std::clamp(std::atoi(argv[i + 1]), 0, 20000);
    if (flag == "--rate") rate = std::max(1, std::atoi(argv[i + 1]));
    if (flag == "--bytes") bytes = std::clamp(std::atoi(argv[i + 1]), 9, 1024);
  }
  enet_initialize();

  auto chosen = [&](const char* name) { return only.empty() || only == name; };
  if (chosen("queries")) {
    Isolated([] { RunQueries(1, 20000); });
    Isolated([] { RunQueries(500, 40); });
  }

  // Four unfinished 1 MiB messages (what 4 MiB of waiting data allowed), one
  // byte in each page but the last; 50 fragments a datagram.
  if (chosen("pages"))
    Isolated([&] {
      RunMemoryAttack(
          "pages", connections,
          [](Client&, Datagram& d, int round) {
            for (int i = 0; i < 50; ++i) {
              const int k = round * 50 + i;
              const int message = k / 255, page = k % 255;
              if (message >= 4) return;
              d.Fragment(static_cast<uint16_t>(3 + message * 256), 256, static_cast<uint32_t>(page),
                         1u << 20, static_cast<uint32_t>(page) * 4096);
            }
          },
          21);
    });
  // Unfinished 512-byte messages, 50 a datagram, 2000 a connection.
  if (chosen("partials"))
    Isolated([&] {
      RunMemoryAttack(
          "partials", connections,
          [](Client&, Datagram& d, int round) {
            for (int i = 0; i < 50; ++i) {
              d.Fragment(static_cast<uint16_t>(3 + (round * 50 + i) * 2), 2, 0, 512, 0);
            }
          },
          40);
    });
  // Empty reliable messages behind the missing second one, 100 a datagram,
  // 20000 a connection.
  if (chosen("empty"))
    Isolated([&] {
      RunMemoryAttack(
          "empty", connections,
          [](Client&, Datagram& d, int round) {
            for (int i = 0; i < 100; ++i) d.Empty(static_cast<uint16_t>(3 + round * 100 + i));
          },
          200);
    });

  // Slow readers beside ordinary clients, all sent `rate` messages a second.
  if (chosen("slow"))
    Isolated([&] {
      HostileServer server;
      server.rate = rate;
      server.bytes = bytes;
      const int ordinary = 10;
      if (!server.Start(static_cast<uint16_t>(ordinary + slow + 1))) return;
      std::deque<Client> fast = ConnectAll(server.peer.GetBoundPort(), ordinary);
      DelayLine line(server.peer.GetBoundPort(), slow, delayMs);
      std::deque<Client> slowReaders = ConnectAll(server.peer.GetBoundPort(), slow, &line);
      const double before = ResidentMb();
      const double cpuBefore = server.CpuSeconds();
      server.chatting = true;
      auto run = [&](double seconds) {
        const auto end = Clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
        while (Clock::now() < end) {
          for (Client& c : fast) Service(c);
          for (Client& c : slowReaders) Service(c);
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      };
      run(loadSeconds);
      server.chatting = false;
      const double loaded = ResidentMb();
      const double cpuLoad = server.CpuSeconds() - cpuBefore;
      int connected = 0;
      long slowest = -1;
      for (const Client& c : slowReaders) {
        connected += !c.gone;
        if (!c.gone && (slowest < 0 || c.timed < slowest)) slowest = c.timed;
      }
      double worst = 0;
      for (const Client& c : fast) worst = std::max(worst, c.worstDelayMs);
      run(idleSeconds);
      const double cpuIdle = server.CpuSeconds() - cpuBefore - cpuLoad;
      std::printf(
          "slow      %3d slow readers, %d ordinary, %.0f s of %d messages of %d bytes a "
          "second: %7.1f MB before, %7.1f MB at its end; server CPU %.2f s under load, "
          "%.2f s in %.0f idle s after; %d slow readers still connected (the slowest had "
          "taken %ld of %ld messages), %d closed by the server for their backlog; worst "
          "delay to an ordinary client %.0f ms\n",
          slow, ordinary, loadSeconds, rate, bytes, before, loaded, cpuLoad, cpuIdle, idleSeconds,
          connected, slowest, server.sent.load(), server.closedForBacklog.load(), worst);
      Disconnect(fast);
      Disconnect(slowReaders);
    });
  enet_deinitialize();
  return 0;
}

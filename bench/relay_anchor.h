// The raw-ENet relay anchor and the measurement machinery shared by the relay
// benchmarks: a minimal relay server on raw ENet, raw ENet clients, the client
// driver (N clients sending at a fixed rate, latency histogram) and the CPU
// clocks of the server's threads. The anchor sends every message on to all the
// other clients or, given the clients' places, picks its receivers as the game
// server does (near ones always, each far one with a one-in-eight draw), so
// that it does the same work. bench/net_relay runs it against the network
// library's Peer, bench/server_relay against the whole game server.
#pragma once

#include <dirent.h>
#include <enet/enet.h>
#include <pthread.h>
#include <sys/types.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/cookie.h"
#include "net/peer.h"
#include "platform/platform.h"

namespace relayanchor {


inline constexpr uint8_t kRelayId = 200;  // any id the peer hands to the application
inline constexpr uint32_t kHeaderBytes = 1 + 2 + 4 + 8;  // id, sender, sequence, send time (us)
inline constexpr uint32_t kPlaceOffset = kHeaderBytes;    // then f32 x, f32 y when placed
inline constexpr uint32_t kPlacedBytes = kPlaceOffset + 8;
inline constexpr float kNearDistance = 200.0f;            // the game's relay rule
inline constexpr uint8_t kMovementChannel = 1;            // ENet channel of unreliable kinds
// Packet throttle as our Peer configures it, so loopback bursts are not dropped.
inline constexpr uint32_t kThrottleInterval = ENET_PEER_PACKET_THROTTLE_INTERVAL;
inline constexpr uint32_t kThrottleAcceleration = ENET_PEER_PACKET_THROTTLE_ACCELERATION;
inline constexpr uint32_t kThrottleDeceleration = 0;

// Each client sends from a loopback address of its own, as players on their
// own hosts would: the server lets one address hold only a few connections
// that are not yet accepted, and these clients all connect at once.
inline std::string NextClientIp() {
  static std::atomic<uint32_t> next{0};
  const uint32_t n = next.fetch_add(1) % (200 * 250);
  return "127.1." + std::to_string(n / 200) + "." + std::to_string(n % 200 + 1);
}
// The clients are the measuring instrument: a client thread that a busy
// machine leaves unscheduled for a while must not overflow its socket and
// count as relay loss, so every client gets a wide receive buffer.
inline ENetHost* CreateClientHost() {
  ENetAddress local{};
  enet_address_set_host_ip(&local, NextClientIp().c_str());
  local.port = ENET_PORT_ANY;
  ENetHost* host = enet_host_create(&local, 1, 2, 0, 0);
  if (host != nullptr) enet_socket_set_option(host->socket, ENET_SOCKOPT_RCVBUF, 4 << 20);
  return host;
}

struct Options {
  int clients = 100;
  double seconds = 20;
  double rate = 30;
  int payload = 60;
  int clientThreads = 4;
  int threadSleepMs = 1;
  int idleUs = 1000;  // our relay loop's pause when Receive() had nothing
  bool ourEnetClients = true;  // raw ENet clients (with our handshake) in our run
  // Client i stands at places[i] (x, y); empty: the anchor relays to everyone.
  std::vector<std::pair<float, float>> places;
};

// The game's distance (horizontal plane, in f32) and its near rule.
inline bool IsNear(std::pair<float, float> a, std::pair<float, float> b) {
  const float dx = a.first - b.first, dy = a.second - b.second;
  return std::sqrt(dx * dx + dy * dy) < kNearDistance;
}

// ---- measurement helpers ----------------------------------------------------

// Latency in 10 us buckets up to 2 s, the rest in the last bucket.
class Histogram {
 public:
  static constexpr uint64_t kBucketUs = 10;
  static constexpr size_t kBuckets = 200000;
  Histogram() : counts_(kBuckets + 1, 0) {}
  void Add(uint64_t us) {
    size_t b = static_cast<size_t>(us / kBucketUs);
    ++counts_[std::min(b, kBuckets)];
    ++total_;
  }
  void Merge(const Histogram& o) {
    for (size_t i = 0; i < counts_.size(); ++i) counts_[i] += o.counts_[i];
    total_ += o.total_;
  }
  bool QuantileIsOverflow(double q) const {
    return total_ > 0 && QuantileMs(q) >= static_cast<double>(kBuckets * kBucketUs) / 1000.0;
  }
  // Upper edge of the bucket holding the q-quantile, in ms.
  double QuantileMs(double q) const {
    if (total_ == 0) return 0;
    uint64_t want = static_cast<uint64_t>(q * static_cast<double>(total_ - 1)) + 1, seen = 0;
    for (size_t i = 0; i < counts_.size(); ++i) {
      seen += counts_[i];
      if (seen >= want) return static_cast<double>((i + 1) * kBucketUs) / 1000.0;
    }
    return static_cast<double>(counts_.size() * kBucketUs) / 1000.0;
  }

 private:
  std::vector<uint32_t> counts_;
  uint64_t total_ = 0;
};

inline std::set<pid_t> ThreadIds() {
  std::set<pid_t> ids;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ids.insert(static_cast<pid_t>(atoi(e->d_name)));
    closedir(d);
  }
  return ids;
}

// The CPU-time clock of another thread of this process, from its kernel id
// (what pthread_getcpuclockid computes for a pthread_t).
inline clockid_t ThreadCpuClock(pid_t tid) {
  return static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6u);
}

inline double CpuSeconds(clockid_t clock) {
  timespec ts{};
  if (clock_gettime(clock, &ts) != 0) return 0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

inline void PutU16(uint8_t* p, uint16_t v) { p[0] = v & 0xFF; p[1] = v >> 8; }
inline void PutU32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF; }
inline void PutU64(uint8_t* p, uint64_t v) { for (int i = 0; i < 8; ++i) p[i] = (v >> (8 * i)) & 0xFF; }
inline float GetF32(const uint8_t* p) {
  float v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint64_t GetU64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

inline void ConfigureThrottle(ENetPeer* peer) {
  enet_peer_throttle_configure(peer, kThrottleInterval, kThrottleAcceleration,
                               kThrottleDeceleration);
}

// Movement is unreliable, and a client's first place can be lost in the storm
// of connects and joins: placed clients say it again every 50 ms until shortly
// before the clock starts. Relays of these are not counted.
template <typename Place, typename Poll>
void RepeatPlaces(uint64_t startUs, const std::atomic<bool>& stop, Place place, Poll poll) {
  constexpr uint64_t kEveryUs = 50'000;
  for (uint64_t due = 0; platform::MonotonicUs() + kEveryUs < startUs && !stop.load();) {
    if (platform::MonotonicUs() >= due) {
      place();
      due = platform::MonotonicUs() + kEveryUs;
    }
    poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// ---- servers ----------------------------------------------------------------

// What a running relay server exposes to the driver.
struct Server {
  uint16_t port = 0;
  std::vector<clockid_t> cpuClocks;  // every thread doing server work, the relay loop's last
  std::atomic<uint64_t> received{0};
  std::atomic<uint64_t> relayed{0};  // sends queued: received x receivers
  std::atomic<bool> stop{false};
  std::thread thread;
  std::function<void()> shutdown;  // after the thread has been joined

  std::vector<double> CpuNow() const {
    std::vector<double> s;
    for (clockid_t c : cpuClocks) s.push_back(CpuSeconds(c));
    return s;
  }
};

inline clockid_t ClockOf(std::thread& t) {
  clockid_t c{};
  pthread_getcpuclockid(t.native_handle(), &c);
  return c;
}

inline bool StartEnetServer(Server& s, const Options& o) {
  ENetAddress addr{};
  enet_address_set_host_ip(&addr, "127.0.0.1");
  addr.port = 0;
  ENetHost* host = enet_host_create(&addr, static_cast<size_t>(o.clients) + 1, 2, 0, 0);
  if (host == nullptr) return false;
  s.port = host->address.port;
  const bool gameRule = !o.places.empty();
  s.thread = std::thread([&s, host, gameRule] {
    std::vector<ENetPeer*> peers;
    // With the game's rule: each connection's last reported place, and
    // whether it has reported one (the game's "spawned").
    std::vector<std::pair<float, float>> place(host->peerCount);
    std::vector<bool> placed(host->peerCount, false);
    ENetEvent ev;
    while (!s.stop.load(std::memory_order_relaxed)) {
      int r = enet_host_service(host, &ev, 1);
      while (r > 0) {
        switch (ev.type) {
          case ENET_EVENT_TYPE_CONNECT:
            ConfigureThrottle(ev.peer);
            peers.push_back(ev.peer);
            break;
          case ENET_EVENT_TYPE_DISCONNECT:
            peers.erase(std::remove(peers.begin(), peers.end(), ev.peer), peers.end());
            placed[static_cast<size_t>(ev.peer - host->peers)] = false;
            break;
          case ENET_EVENT_TYPE_RECEIVE: {
            const ENetPacket* in = ev.packet;
            if (in->dataLength >= kHeaderBytes && in->data[0] == kRelayId) {
              const bool placing = GetU64(in->data + 7) == 0;  // not counted, as by the clients
              if (!placing) s.received.fetch_add(1, std::memory_order_relaxed);
              ENetPacket* out = enet_packet_create(in->data, in->dataLength, 0);
              uint64_t sends = 0;
              if (!gameRule) {
                for (ENetPeer* p : peers)
                  if (p != ev.peer) sends += enet_peer_send(p, kMovementChannel, out) == 0;
              } else if (in->dataLength >= kPlacedBytes) {
                // The game's relay: receivers in slot order, near ones always,
                // one draw per far one; the sender's place is updated after.
                const size_t from = static_cast<size_t>(ev.peer - host->peers);
                for (size_t to = 0; to < host->peerCount; ++to) {
                  if (to == from || !placed[to] ||
                      host->peers[to].state != ENET_PEER_STATE_CONNECTED)
                    continue;
                  if (!IsNear(place[from], place[to]) && rand() % 8 != 0) continue;
                  sends += enet_peer_send(&host->peers[to], kMovementChannel, out) == 0;
                }
                place[from] = {GetF32(in->data + kPlaceOffset),
                               GetF32(in->data + kPlaceOffset + 4)};
                placed[from] = true;
              }
              if (!placing) s.relayed.fetch_add(sends, std::memory_order_relaxed);
              if (out->referenceCount == 0) enet_packet_destroy(out);
            }
            enet_packet_destroy(ev.packet);
            break;
          }
          default:
            break;
        }
        r = enet_host_check_events(host, &ev);
      }
      enet_host_flush(host);
    }
  });
  s.cpuClocks.push_back(ClockOf(s.thread));
  s.shutdown = [host] { enet_host_destroy(host); };
  return true;
}

template <bool kHandshake>
class EnetClient {
 public:
  ~EnetClient() { Stop(); }
  bool Start(uint16_t port, const Options&) {
    host_ = CreateClientHost();
    if (host_ == nullptr) return false;
    ENetAddress addr{};
    enet_address_set_host_ip(&addr, "127.0.0.1");
    addr.port = port;
    // Our server admits only a CONNECT that carries its cookie.
    const uint32_t cookie = kHandshake ? net::FetchCookie(host_->socket, addr) : 0;
    peer_ = enet_host_connect(host_, &addr, 2, cookie);
    return peer_ != nullptr;
  }
  bool Connected() const { return connected_; }
  void Send(const uint8_t* data, uint32_t length) {
    enet_peer_send(peer_, kMovementChannel, enet_packet_create(data, length, 0));
    enet_host_flush(host_);
  }
  template <typename F>
  int Poll(F&& onMessage) {
    int n = 0;
    ENetEvent ev;
    int r = enet_host_service(host_, &ev, 0);
    while (r > 0) {
      ++n;
      if (ev.type == ENET_EVENT_TYPE_CONNECT) {
        ConfigureThrottle(ev.peer);
        if (kHandshake) {
          const uint8_t request = net::ID_CONNECTION_REQUEST;
          enet_peer_send(peer_, 0, enet_packet_create(&request, 1, ENET_PACKET_FLAG_RELIABLE));
          enet_host_flush(host_);
        } else {
          connected_ = true;
        }
      } else if (ev.type == ENET_EVENT_TYPE_RECEIVE) {
        if (ev.packet->dataLength >= kHeaderBytes && ev.packet->data[0] == kRelayId)
          onMessage(ev.packet->data);
        else if (kHandshake && ev.packet->dataLength >= 3 &&
                 ev.packet->data[0] == net::ID_CONNECTION_REQUEST_ACCEPTED)
          connected_ = true;
        enet_packet_destroy(ev.packet);
      }
      r = enet_host_check_events(host_, &ev);
    }
    return n;
  }
  void Stop() {
    if (host_ == nullptr) return;
    if (peer_ != nullptr) enet_peer_disconnect_now(peer_, 0);
    enet_host_destroy(host_);
    host_ = nullptr;
    peer_ = nullptr;
  }

 private:
  ENetHost* host_ = nullptr;
  ENetPeer* peer_ = nullptr;
  bool connected_ = false;
};

// ---- the driver ---------------------------------------------------------------

struct Shared {
  std::atomic<int> connected{0};
  std::atomic<int> failed{0};
  std::atomic<uint64_t> startUs{0};  // 0 until every client is connected
  std::atomic<uint64_t> endUs{0};
  std::atomic<bool> stop{false};
};

struct ThreadResult {
  uint64_t sent = 0;
  uint64_t received = 0;
  uint64_t near = 0, far = 0;  // of received, when the clients are placed
  Histogram latency;
};

template <typename Client>
void ClientThread(const Options& o, uint16_t port, int first, int count, Shared& sh,
                  ThreadResult& out) {
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < count; ++i) {
    clients.push_back(std::make_unique<Client>());
    if (!clients.back()->Start(port, o)) {
      sh.failed.fetch_add(1);
      return;
    }
  }
  const bool placed = !o.places.empty();
  int receiver = 0;  // the client whose messages are being polled
  auto onMessage = [&](const uint8_t* data) {
    const uint64_t start = sh.startUs.load(std::memory_order_relaxed);
    const uint64_t sentAt = GetU64(data + 7);
    if (start == 0 || sentAt < start) return;  // placing messages, sent before the clock
    const uint64_t now = platform::MonotonicUs();
    out.latency.Add(now > sentAt ? now - sentAt : 0);
    ++out.received;
    const size_t sender = data[1] | (data[2] << 8);
    if (placed && sender < o.places.size()) {
      if (IsNear(o.places[sender], o.places[static_cast<size_t>(first + receiver)])) ++out.near;
      else ++out.far;
    }
  };
  auto pollAll = [&] {
    int n = 0;
    for (receiver = 0; receiver < count; ++receiver)
      n += clients[static_cast<size_t>(receiver)]->Poll(onMessage);
    return n;
  };
  std::vector<uint8_t> msg(static_cast<size_t>(o.payload), 0);
  msg[0] = kRelayId;
  auto send = [&](int i, uint32_t seq, uint64_t at) {
    PutU16(&msg[1], static_cast<uint16_t>(first + i));
    PutU32(&msg[3], seq);
    PutU64(&msg[7], at);
    if (placed) {
      std::memcpy(&msg[kPlaceOffset], &o.places[static_cast<size_t>(first + i)].first, 4);
      std::memcpy(&msg[kPlaceOffset + 4], &o.places[static_cast<size_t>(first + i)].second, 4);
    }
    clients[static_cast<size_t>(i)]->Send(msg.data(), static_cast<uint32_t>(msg.size()));
  };
  // Connect.
  const uint64_t connectDeadline = platform::MonotonicUs() + 15'000'000;
  int connected = 0;
  while (connected < count && platform::MonotonicUs() < connectDeadline) {
    connected = 0;
    pollAll();
    for (auto& c : clients) connected += c->Connected();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (connected < count) {
    sh.failed.fetch_add(1);
    return;
  }
  sh.connected.fetch_add(count);

  uint64_t start = 0;
  while ((start = sh.startUs.load()) == 0 && !sh.stop.load()) {
    pollAll();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // Placed clients tell the server where they stand before the clock starts.
  if (placed)
    RepeatPlaces(start, sh.stop, [&] { for (int i = 0; i < count; ++i) send(i, 0, 0); }, pollAll);
  if (sh.stop.load()) return;
  const uint64_t end = sh.endUs.load();

  // Spread the senders evenly over one period so they do not all fire at once.
  const uint64_t periodUs = static_cast<uint64_t>(1e6 / o.rate);
  std::vector<uint64_t> next(count);
  std::vector<uint32_t> seq(count, 0);
  for (int i = 0; i < count; ++i)
    next[i] = start + periodUs * static_cast<uint64_t>(first + i) / static_cast<uint64_t>(o.clients);

  while (!sh.stop.load(std::memory_order_relaxed)) {
    int work = 0;
    uint64_t now = platform::MonotonicUs();
    if (now < end) {
      for (int i = 0; i < count; ++i) {
        if (now < next[i]) continue;
        send(i, seq[i]++, platform::MonotonicUs());
        ++out.sent;
        ++work;
        next[i] += periodUs;
        if (next[i] < now) next[i] = now + periodUs;  // fell behind: do not burst
      }
    }
    work += pollAll();
    if (work == 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  for (auto& c : clients) c->Stop();
}

struct RunResult {
  bool ok = false;
  uint64_t sent = 0, received = 0, serverReceived = 0, serverRelayed = 0;
  uint64_t near = 0, far = 0;  // of received, when the clients are placed
  double cpuSeconds = 0;
  std::vector<double> cpuByThread;  // the library's threads first, the relay loop last
  double processCpuSeconds = 0;     // server and clients together
  double p50 = 0, p99 = 0;
  bool p50Overflow = false, p99Overflow = false;  // beyond the histogram's range
  double CpuPer1000() const {
    return serverRelayed > 0 ? cpuSeconds / static_cast<double>(serverRelayed) * 1000.0 : 0;
  }
  double Delivered() const {
    return serverRelayed > 0 ? static_cast<double>(received) / static_cast<double>(serverRelayed)
                             : 0;
  }
};

template <typename Client>
RunResult Run(const Options& o, bool (*startServer)(Server&, const Options&)) {
  RunResult res;
  Server server;
  if (!startServer(server, o)) {
    fprintf(stderr, "server did not start\n");
    return res;
  }
  Shared sh;
  const int threads = std::max(1, std::min(o.clientThreads, o.clients));
  std::vector<ThreadResult> results(static_cast<size_t>(threads));
  std::vector<std::thread> workers;
  for (int t = 0, first = 0; t < threads; ++t) {
    const int count = o.clients / threads + (t < o.clients % threads ? 1 : 0);
    workers.emplace_back(ClientThread<Client>, std::cref(o), server.port, first, count,
                         std::ref(sh), std::ref(results[static_cast<size_t>(t)]));
    first += count;
  }
  const uint64_t deadline = platform::MonotonicUs() + 20'000'000;
  while (sh.connected.load() < o.clients && sh.failed.load() == 0 &&
         platform::MonotonicUs() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));

  if (sh.connected.load() == o.clients) {
    const uint64_t start = platform::MonotonicUs() + 200'000;
    const uint64_t end = start + static_cast<uint64_t>(o.seconds * 1e6);
    sh.endUs.store(end);
    sh.startUs.store(start);
    while (platform::MonotonicUs() < start) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::vector<double> cpu0 = server.CpuNow();
    const double process0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    // The sending period, then a second for the last messages to land.
    while (platform::MonotonicUs() < end + 1'000'000)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::vector<double> cpu1 = server.CpuNow();
    res.processCpuSeconds = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0;
    for (size_t i = 0; i < cpu1.size(); ++i) {
      res.cpuByThread.push_back(cpu1[i] - cpu0[i]);
      res.cpuSeconds += cpu1[i] - cpu0[i];
    }
    res.ok = true;
  } else {
    fprintf(stderr, "only %d of %d clients connected\n", sh.connected.load(), o.clients);
  }
  res.serverReceived = server.received.load();
  res.serverRelayed = server.relayed.load();
  sh.stop.store(true);
  for (auto& w : workers) w.join();
  server.stop.store(true);
  server.thread.join();
  server.shutdown();

  Histogram all;
  for (const auto& r : results) {
    res.sent += r.sent;
    res.received += r.received;
    res.near += r.near;
    res.far += r.far;
    all.Merge(r.latency);
  }
  res.p50 = all.QuantileMs(0.50);
  res.p99 = all.QuantileMs(0.99);
  res.p50Overflow = all.QuantileIsOverflow(0.50);
  res.p99Overflow = all.QuantileIsOverflow(0.99);
  return res;
}

inline void Print(const char* name, const RunResult& r) {
  printf("%s%s\n", name, r.ok ? "" : "  (FAILED RUN)");
  printf("  sent %llu, server received %llu, relayed %llu, delivered fraction %.4f\n",
         static_cast<unsigned long long>(r.sent),
         static_cast<unsigned long long>(r.serverReceived),
         static_cast<unsigned long long>(r.serverRelayed),
         r.Delivered());
  printf("  server CPU %.3f s (", r.cpuSeconds);
  for (size_t i = 0; i < r.cpuByThread.size(); ++i)
    printf("%s%s %.3f", i ? ", " : "", i + 1 == r.cpuByThread.size() ? "relay loop" : "library thread",
           r.cpuByThread[i]);
  printf(") = %.6f s per 1000 relayed; whole process %.3f s\n", r.CpuPer1000(),
         r.processCpuSeconds);
  printf("  latency p50 %s%.3f ms, p99 %s%.3f ms\n", r.p50Overflow ? ">" : "", r.p50,
         r.p99Overflow ? ">" : "", r.p99);
}

}  // namespace relayanchor

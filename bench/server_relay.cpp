// Movement-relay benchmark of the whole game server: N clients join a real
// server (started in this process, with its own main loop on its own thread),
// spawn, and each send on-foot sync (packet 92) at a fixed rate. The clients
// stand in groups far apart, every group within 200 units, so about a fifth
// of the pairs are near (always relayed) and the rest far (one in eight).
// Then the same clients, places and rate against the raw-ENet relay anchor
// shared with bench/net_relay, which keeps the clients' places and applies the
// same rule (so it relays to as many receivers), and the ratios. Last, the
// download of a full world: its bytes and the time from "ClientJoin" to
// "DownloadComplete".
//
// Printed: server CPU per 1000 relayed packets (relayed = relays the clients
// received), the delivered fraction for near pairs (and far pairs), p50/p99
// latency from send to receipt; the anchor's figures; the CPU ratio and the
// p99 difference against the bar (same fan-out, CPU <= 1.3x, p99 within 1 ms,
// near pairs all delivered, far ones 0.125 +- 0.01). Always exits 0.
//
//   server_relay [--clients N] [--seconds S] [--rate HZ] [--client-threads T] [--groups G]
//                [--joins J]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/actorpool.h"
#include "core/iconpool.h"
#include "core/join.h"
#include "core/markerpool.h"
#include "core/netgame.h"
#include "core/objectpool.h"
#include "core/pickuppool.h"
#include "core/playerpool.h"
#include "core/rpc.h"
#include "core/settings.h"
#include "core/spawnclasspool.h"
#include "core/vehiclepool.h"
#include "core/world.h"
#include "net/bitstream.h"
#include "net/cookie.h"
#include "net/peer.h"
#include "platform/platform.h"
#include "relay_anchor.h"
#include "server/server.h"

namespace {

using relayanchor::CpuSeconds;
using relayanchor::Histogram;

constexpr uint8_t kOnFoot = 92;
constexpr size_t kBlock = 54;
constexpr size_t kSeqOffset = 21;   // within the block: bytes the server does not read
constexpr size_t kTimeOffset = 25;
constexpr float kGroupSpacing = 5000.0f;
constexpr float kGroupRadius = 90.0f;  // every pair in a group is within 200 units

struct Options {
  int clients = 100;
  double seconds = 20;
  double rate = 30;
  int clientThreads = 4;
  int groups = 5;
  int joins = 5;
};

uint32_t JoinVersion() { return net::SuperFastHash(kClientVersionToken, 5); }

// ---- the server under test --------------------------------------------------------

// The whole server on a thread of its own: start-up, then main-loop iterations
// until told to stop. Between two iterations it runs one queued job (the
// world is the main loop's alone).
class GameServer {
 public:
  bool Start() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qlm-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return false;
    dir_ = pattern;
    if (chdir(dir_.c_str()) != 0) return false;
    const std::set<pid_t> before = relayanchor::ThreadIds();
    thread_ = std::thread([this] {
      StartServer([] {
        gServerSettings.port = 0;
        gServerSettings.announce = 0;
        gServerSettings.maxPlayers = kMaxPlayers;
      });
      port_ = GetGamePeer()->GetBoundPort();
      ready_ = true;
      while (!stop_.load(std::memory_order_relaxed)) {
        if (jobPending_.load(std::memory_order_acquire)) {
          job_();
          jobPending_.store(false, std::memory_order_release);
        }
        RunMainLoopIteration();
      }
      StopServerForTesting();
    });
    while (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The main loop's thread and the peer's network thread.
    for (pid_t t : relayanchor::ThreadIds())
      if (!before.count(t)) cpuClocks_.push_back(relayanchor::ThreadCpuClock(t));
    return true;
  }
  void Run(std::function<void()> job) {
    job_ = std::move(job);
    jobPending_.store(true, std::memory_order_release);
    while (jobPending_.load(std::memory_order_acquire))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  uint16_t Port() const { return port_; }
  double CpuNow() const {
    double sum = 0;
    for (clockid_t c : cpuClocks_) sum += CpuSeconds(c);
    return sum;
  }
  // The main loop's share of CpuNow(); the rest is the network thread's.
  double MainLoopCpuNow() { return CpuSeconds(relayanchor::ClockOf(thread_)); }
  size_t ThreadCount() const { return cpuClocks_.size(); }

 private:
  std::string dir_;
  std::thread thread_;
  std::atomic<bool> ready_{false}, stop_{false}, jobPending_{false};
  std::function<void()> job_;  // written by Run before it raises jobPending_
  std::atomic<uint16_t> port_{0};
  std::vector<clockid_t> cpuClocks_;
};

// ---- game clients -------------------------------------------------------------------

// A game client on raw ENet, as the anchor's clients are, speaking our
// handshake and RPC framing (docs/protocol.md): so the two runs differ only in
// the server.
class GameClient {
 public:
  ~GameClient() { Stop(); }
  bool Start(uint16_t port) {
    host_ = relayanchor::CreateClientHost();
    if (host_ == nullptr) return false;
    ENetAddress address{};
    enet_address_set_host_ip(&address, "127.0.0.1");
    address.port = port;
    peer_ = enet_host_connect(host_, &address, 2, net::FetchCookie(host_->socket, address));
    return peer_ != nullptr;
  }
  // Handles what has arrived: relayed on-foot packets go to `onRelay`, RPCs
  // to `onRpc` (name, whole message length).
  template <typename F, typename G>
  int Poll(F&& onRelay, G&& onRpc) {
    int n = 0;
    ENetEvent ev;
    int r = enet_host_service(host_, &ev, 0);
    while (r > 0) {
      ++n;
      if (ev.type == ENET_EVENT_TYPE_CONNECT) {
        relayanchor::ConfigureThrottle(ev.peer);
        const uint8_t request = net::ID_CONNECTION_REQUEST;
        Send(0, &request, 1, true);
      } else if (ev.type == ENET_EVENT_TYPE_RECEIVE) {
        const uint8_t* d = ev.packet->data;
        const size_t length = ev.packet->dataLength;
        if (length >= 3 && d[0] == net::ID_CONNECTION_REQUEST_ACCEPTED) {
          id_ = d[1];
          connected_ = true;
        } else if (length > 0 && d[0] == kOnFoot) {
          onRelay(d, static_cast<uint32_t>(length));
        } else if (length >= 2 && d[0] == net::ID_RPC && length >= 2u + d[1]) {
          const std::string name(reinterpret_cast<const char*>(d + 2), d[1]);
          if (name == "DownloadComplete") downloaded_ = true;
          onRpc(name, length);
        }
        enet_packet_destroy(ev.packet);
      }
      r = enet_host_check_events(host_, &ev);
    }
    return n;
  }
  template <typename F>
  int Poll(F&& onRelay) {
    return Poll(onRelay, [](const std::string&, size_t) {});
  }
  void Rpc(const char* name, const net::BitStream& payload) {
    std::vector<uint8_t> m = {net::ID_RPC, static_cast<uint8_t>(std::strlen(name))};
    m.insert(m.end(), name, name + std::strlen(name));
    const uint32_t bits = payload.GetNumberOfBitsUsed();
    for (int i = 0; i < 4; ++i) m.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    m.insert(m.end(), payload.GetData(), payload.GetData() + payload.GetNumberOfBytesUsed());
    Send(0, m.data(), m.size(), true);
  }
  void Join(const std::string& name) {
    net::BitStream s;
    s.WriteCompressed(static_cast<uint8_t>(name.size()));
    s.WriteBytes(name.data(), static_cast<uint32_t>(name.size()));
    s.WriteCompressed(JoinVersion());
    Rpc("ClientJoin", s);
  }
  void Spawn() {
    net::BitStream s;
    s.WriteCompressed(static_cast<uint16_t>(0));
    s.WriteCompressed(static_cast<uint16_t>(0));
    for (int i = 0; i < 4; ++i) s.Write(0.0f);
    s.WriteCompressed(static_cast<uint8_t>(1));
    Rpc("NewSpawn", s);
  }
  // Movement: unreliable, on ENet channel 1.
  void SendRaw(const uint8_t* data, size_t length) { Send(1, data, length, false); }
  void Stop() {
    if (host_ == nullptr) return;
    if (peer_ != nullptr) {
      enet_peer_disconnect(peer_, 0);
      enet_host_flush(host_);
    }
    enet_host_destroy(host_);
    host_ = nullptr;
    peer_ = nullptr;
  }
  bool Connected() const { return connected_; }
  bool Downloaded() const { return downloaded_; }
  uint8_t Id() const { return id_; }

 private:
  void Send(uint8_t channel, const uint8_t* data, size_t length, bool reliable) {
    enet_peer_send(peer_, channel,
                   enet_packet_create(data, length, reliable ? ENET_PACKET_FLAG_RELIABLE : 0));
    enet_host_flush(host_);
  }

  ENetHost* host_ = nullptr;
  ENetPeer* peer_ = nullptr;
  bool connected_ = false;
  bool downloaded_ = false;
  uint8_t id_ = 0xFF;
};

// ---- the relay run ------------------------------------------------------------------

struct Shared {
  std::atomic<int> ready{0};  // clients joined, spawned and placed
  std::atomic<int> failed{0};
  std::atomic<uint64_t> startUs{0};
  std::atomic<uint64_t> endUs{0};
  std::atomic<bool> stop{false};
  std::atomic<int> groupOfPlayer[kMaxPlayers];
  Shared() {
    for (auto& g : groupOfPlayer) g = -1;
  }
};

struct ThreadResult {
  uint64_t sent = 0, near = 0, far = 0;
  Histogram latency;
};

struct Position {
  float x, y;
};

Position PlaceClient(int index, const Options& o) {
  const int group = index % o.groups;
  const int member = index / o.groups;
  const double angle = member * 2.399963;  // spread the members round the group's centre
  const double radius = kGroupRadius * std::sqrt((member + 0.5) / (o.clients / o.groups + 1));
  return {static_cast<float>(group * kGroupSpacing + radius * std::cos(angle)),
          static_cast<float>(radius * std::sin(angle))};
}

std::vector<uint8_t> OnFootPacket(Position at) {
  std::vector<uint8_t> p(1 + kBlock, 0);
  p[0] = kOnFoot;
  std::memcpy(&p[1 + 2], &at.x, 4);
  std::memcpy(&p[1 + 6], &at.y, 4);
  p[1 + 18] = 100;  // health
  return p;
}

void ClientThread(const Options& o, uint16_t port, int first, int count, Shared& sh,
                  ThreadResult& out) {
  std::vector<std::unique_ptr<GameClient>> clients;
  for (int i = 0; i < count; ++i) {
    clients.push_back(std::make_unique<GameClient>());
    if (!clients.back()->Start(port)) {
      sh.failed.fetch_add(1);
      return;
    }
  }
  std::vector<int> myGroup(count);
  for (int i = 0; i < count; ++i) myGroup[i] = (first + i) % o.groups;
  std::vector<int> current(count);  // which client a relay was received by
  uint64_t start = 0;
  int receiver = 0;
  auto onRelay = [&](const uint8_t* data, uint32_t length) {
    if (start == 0) return;
    const uint64_t now = platform::MonotonicUs();
    net::BitStream in(data, length * 8);
    uint8_t id = 0, sender = 0;
    uint8_t block[kBlock];
    if (!in.Read(id) || !in.ReadCompressed(sender) || !in.ReadBytes(block, kBlock)) return;
    uint64_t sentAt;
    std::memcpy(&sentAt, block + kTimeOffset, 8);
    if (sentAt < start) return;  // the placing packets, sent before the clock started
    out.latency.Add(now > sentAt ? now - sentAt : 0);
    const int senderGroup = sender < kMaxPlayers ? sh.groupOfPlayer[sender].load() : -1;
    if (senderGroup == myGroup[receiver]) ++out.near;
    else ++out.far;
  };
  auto pollAll = [&] {
    int n = 0;
    for (int i = 0; i < count; ++i) {
      receiver = i;
      n += clients[i]->Poll(onRelay);
    }
    return n;
  };

  // Connect, join, spawn and place every client.
  const uint64_t deadline = platform::MonotonicUs() + 30'000'000;
  std::vector<int> stage(count, 0);
  int done = 0;
  while (done < count && platform::MonotonicUs() < deadline) {
    pollAll();
    for (int i = 0; i < count; ++i) {
      GameClient& c = *clients[i];
      if (stage[i] == 0 && c.Connected()) {
        c.Join("Bot" + std::to_string(first + i));
        stage[i] = 1;
      } else if (stage[i] == 1 && c.Downloaded()) {
        c.Spawn();
        const std::vector<uint8_t> p = OnFootPacket(PlaceClient(first + i, o));
        c.SendRaw(p.data(), p.size());
        sh.groupOfPlayer[c.Id()] = myGroup[i];
        stage[i] = 2;
        ++done;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (done < count) {
    sh.failed.fetch_add(1);
    return;
  }
  sh.ready.fetch_add(count);

  uint64_t wantStart = 0;
  while ((wantStart = sh.startUs.load()) == 0 && !sh.stop.load()) {
    pollAll();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::vector<std::vector<uint8_t>> packets;
  for (int i = 0; i < count; ++i) packets.push_back(OnFootPacket(PlaceClient(first + i, o)));
  // Placing packets carry send time 0: relays of them are not counted.
  relayanchor::RepeatPlaces(wantStart, sh.stop, [&] {
    for (int i = 0; i < count; ++i) clients[i]->SendRaw(packets[i].data(), packets[i].size());
  }, pollAll);
  if (sh.stop.load()) return;
  start = wantStart;
  const uint64_t end = sh.endUs.load();

  const uint64_t periodUs = static_cast<uint64_t>(1e6 / o.rate);
  std::vector<uint64_t> next(count);
  std::vector<uint32_t> seq(count, 0);
  for (int i = 0; i < count; ++i)
    next[i] = start + periodUs * static_cast<uint64_t>(first + i) / static_cast<uint64_t>(o.clients);
  while (!sh.stop.load(std::memory_order_relaxed)) {
    int work = 0;
    const uint64_t now = platform::MonotonicUs();
    if (now < end) {
      for (int i = 0; i < count; ++i) {
        if (now < next[i]) continue;
        uint8_t* block = packets[i].data() + 1;
        std::memcpy(block + kSeqOffset, &seq[i], 4);
        const uint64_t at = platform::MonotonicUs();
        std::memcpy(block + kTimeOffset, &at, 8);
        clients[i]->SendRaw(packets[i].data(), packets[i].size());
        ++seq[i];
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

struct RelayResult {
  bool ok = false;
  uint64_t sent = 0, near = 0, far = 0;
  double cpuSeconds = 0;
  double mainLoopSeconds = 0;  // of cpuSeconds
  double p50 = 0, p99 = 0;
  bool p99Overflow = false;
  uint64_t Relayed() const { return near + far; }
  double CpuPer1000() const { return Relayed() ? cpuSeconds / static_cast<double>(Relayed()) * 1000 : 0; }
};

RelayResult RunRelay(const Options& o, GameServer& server) {
  RelayResult res;
  Shared sh;
  const int threads = std::max(1, std::min(o.clientThreads, o.clients));
  std::vector<ThreadResult> results(static_cast<size_t>(threads));
  std::vector<std::thread> workers;
  for (int t = 0, first = 0; t < threads; ++t) {
    const int count = o.clients / threads + (t < o.clients % threads ? 1 : 0);
    workers.emplace_back(ClientThread, std::cref(o), server.Port(), first, count, std::ref(sh),
                         std::ref(results[static_cast<size_t>(t)]));
    first += count;
  }
  const uint64_t deadline = platform::MonotonicUs() + 40'000'000;
  while (sh.ready.load() < o.clients && sh.failed.load() == 0 && platform::MonotonicUs() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));

  if (sh.ready.load() == o.clients) {
    // Let the placing packets land before the clock starts.
    const uint64_t start = platform::MonotonicUs() + 300'000;
    const uint64_t end = start + static_cast<uint64_t>(o.seconds * 1e6);
    sh.endUs.store(end);
    sh.startUs.store(start);
    while (platform::MonotonicUs() < start) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double cpu0 = server.CpuNow();
    const double main0 = server.MainLoopCpuNow();
    while (platform::MonotonicUs() < end + 1'000'000)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    res.cpuSeconds = server.CpuNow() - cpu0;
    res.mainLoopSeconds = server.MainLoopCpuNow() - main0;
    res.ok = true;
  } else {
    fprintf(stderr, "only %d of %d clients joined\n", sh.ready.load(), o.clients);
  }
  sh.stop.store(true);
  for (auto& w : workers) w.join();

  Histogram all;
  for (const auto& r : results) {
    res.sent += r.sent;
    res.near += r.near;
    res.far += r.far;
    all.Merge(r.latency);
  }
  res.p50 = all.QuantileMs(0.50);
  res.p99 = all.QuantileMs(0.99);
  res.p99Overflow = all.QuantileIsOverflow(0.99);
  return res;
}

// ---- the full-world download --------------------------------------------------------------

void FillWorld() {
  for (int i = 0; i < kMaxGlobalObjects; ++i)
    gGlobalObjectPool->Add(1000 + i, i * 1.0f, 2, 3, 0, 0, static_cast<float>(i % 360), 0);
  VehiclePool* vehicles = GetVehiclePool();
  for (int model = 130; vehicles->FindFreeSlot() != -1; model = model >= 236 ? 130 : model + 1)
    vehicles->Add(static_cast<uint32_t>(model), 1, 2, 3, 90, 1, 2);
  for (int i = 0; i < kMaxGlobalPickups; ++i)
    gGlobalPickupPool->AddWeaponPickup(24, 100, i * 1.0f, 2, 3);
  for (int i = 0; i < kMaxMarkers; ++i) {
    if (i % 2) gMarkerPool->AddCorona(255, 0, 0, i * 1.0f, 2, 3);
    else gMarkerPool->AddCheckpoint(i * 1.0f, 2, 3, 4);
  }
  for (int i = 0; i < kMaxGlobalIcons; ++i) gGlobalIconPool->Add(i * 1.0f, 2, 3, 5, 2, 0);
  for (int i = 0; i < kMaxStaticActors; ++i) {
    const uint16_t id = gStaticActorPool->Add(static_cast<uint8_t>(1 + i), i * 1.0f, 2, 3, 0, 1);
    if (StaticActorRecord* a = gStaticActorPool->Find(id))
      std::snprintf(a->name, sizeof a->name, "Actor %d", i);
  }
  for (int c = 0; c < kMaxSpawnClasses; ++c) {
    gSpawnClassPool->AddClass(("Class " + std::to_string(c)).c_str(), 1, 2, 3, 10, 20, 30, 0, 1,
                              2, 3, 0);
    for (int m = 0; m < kMaxClassMembers; ++m)
      gSpawnClassPool->AddMember(static_cast<uint8_t>(c), static_cast<uint16_t>(m), 1, 2, 3, 4,
                                 24, 100, 25, 50, 31, 300);
  }
}

struct JoinResult {
  bool ok = false;
  uint64_t messages = 0, messageBytes = 0, payloadBytes = 0;
  double ms = 0;
};

JoinResult MeasureJoin(uint16_t port, int index) {
  JoinResult r;
  GameClient c;
  if (!c.Start(port)) return r;
  auto none = [](const uint8_t*, uint32_t) {};
  auto count = [&r](const std::string& name, size_t length) {
    ++r.messages;
    r.messageBytes += length;
    r.payloadBytes += length - (2 + name.size() + 4);
  };
  const uint64_t deadline = platform::MonotonicUs() + 10'000'000;
  while (!c.Connected() && platform::MonotonicUs() < deadline) {
    c.Poll(none, count);
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  r.messages = r.messageBytes = r.payloadBytes = 0;
  const uint64_t t0 = platform::MonotonicUs();
  c.Join("Joiner" + std::to_string(index));
  while (!c.Downloaded() && platform::MonotonicUs() < deadline) {
    if (c.Poll(none, count) == 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  r.ms = static_cast<double>(platform::MonotonicUs() - t0) / 1000.0;
  r.ok = c.Downloaded();
  c.Stop();
  return r;
}

bool ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) return false;
    const char* v = argv[++i];
    if (a == "--clients") o.clients = atoi(v);
    else if (a == "--seconds") o.seconds = atof(v);
    else if (a == "--rate") o.rate = atof(v);
    else if (a == "--client-threads") o.clientThreads = atoi(v);
    else if (a == "--groups") o.groups = atoi(v);
    else if (a == "--joins") o.joins = atoi(v);
    else return false;
  }
  return o.clients >= 2 && o.clients <= kMaxPlayers && o.seconds > 0 && o.rate > 0 &&
         o.rate <= 1000 && o.clientThreads >= 1 && o.groups >= 1 && o.groups <= o.clients &&
         o.joins >= 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    fprintf(stderr,
            "usage: %s [--clients N (2-100)] [--seconds S] [--rate HZ] [--client-threads T] "
            "[--groups G] [--joins J]\n",
            argv[0]);
    return 0;
  }
  if (enet_initialize() != 0) {
    fprintf(stderr, "enet_initialize failed\n");
    return 0;
  }
  const double nearShare = [&] {
    double near = 0;
    for (int g = 0; g < o.groups; ++g) {
      const int size = o.clients / o.groups + (g < o.clients % o.groups ? 1 : 0);
      near += static_cast<double>(size) * (size - 1);
    }
    return near / (static_cast<double>(o.clients) * (o.clients - 1));
  }();
  printf("server_relay: %d clients in %d groups (%.1f%% of pairs within 200 units), %.1f s, "
         "%.1f Hz on-foot sync (92, %zu bytes), %d client threads\n",
         o.clients, o.groups, nearShare * 100, o.seconds, o.rate, 1 + kBlock, o.clientThreads);
  fflush(stdout);

  // The server's console lines would drown the figures: they go to /dev/null
  // while it runs.
  const int savedOut = dup(STDOUT_FILENO);
  const int devNull = open("/dev/null", O_WRONLY);
  dup2(devNull, STDOUT_FILENO);
  const std::string startDir = std::filesystem::current_path().string();

  GameServer server;
  RelayResult ours;
  std::vector<JoinResult> joins;
  if (server.Start()) {
    ours = RunRelay(o, server);
    // Let the relay run's clients leave before the world fills up.
    server.Run([] {});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    server.Run(FillWorld);
    for (int j = 0; j < o.joins; ++j) {
      joins.push_back(MeasureJoin(server.Port(), j));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    server.Stop();
  }
  if (chdir(startDir.c_str()) != 0) fprintf(stderr, "could not return to %s\n", startDir.c_str());
  fflush(stdout);
  dup2(savedOut, STDOUT_FILENO);
  close(savedOut);
  close(devNull);

  // Near and far pairs of a run: each packet sent has (clients - 1) possible
  // receivers, nearShare of them near.
  struct Pairs {
    uint64_t nearPairs, farPairs;
    double nearFraction, farFraction;
  };
  auto pairsOf = [&](uint64_t sent, uint64_t near, uint64_t far) {
    Pairs p{};
    const double all = static_cast<double>(sent) * (o.clients - 1);
    p.nearPairs = static_cast<uint64_t>(all * nearShare + 0.5);
    p.farPairs = static_cast<uint64_t>(all + 0.5) - p.nearPairs;
    p.nearFraction = p.nearPairs ? static_cast<double>(near) / static_cast<double>(p.nearPairs) : 0;
    p.farFraction = p.farPairs ? static_cast<double>(far) / static_cast<double>(p.farPairs) : 0;
    printf("  sent %llu, relayed %llu (%.2f per packet); near pairs: delivered %llu of %llu = "
           "fraction %.4f; far pairs: %llu of %llu = %.4f (one in eight is 0.125)\n",
           static_cast<unsigned long long>(sent), static_cast<unsigned long long>(near + far),
           sent ? static_cast<double>(near + far) / static_cast<double>(sent) : 0,
           static_cast<unsigned long long>(near), static_cast<unsigned long long>(p.nearPairs),
           p.nearFraction, static_cast<unsigned long long>(far),
           static_cast<unsigned long long>(p.farPairs), p.farFraction);
    return p;
  };

  printf("ours (game server, in process: main loop and network thread)%s\n",
         ours.ok ? "" : "  (FAILED RUN)");
  const Pairs ourPairs = pairsOf(ours.sent, ours.near, ours.far);
  printf("  server CPU %.3f s over %zu threads = %.6f s per 1000 relayed\n", ours.cpuSeconds,
         server.ThreadCount(), ours.CpuPer1000());
  printf("  latency p50 %.3f ms, p99 %s%.3f ms\n", ours.p50, ours.p99Overflow ? ">" : "", ours.p99);
  fflush(stdout);

  // The anchor relays to the same receivers: the clients stand where ours
  // do, and it applies the same 200-unit rule and one-in-eight draw.
  relayanchor::Options anchorOptions;
  anchorOptions.clients = o.clients;
  anchorOptions.seconds = o.seconds;
  anchorOptions.rate = o.rate;
  anchorOptions.payload = static_cast<int>(1 + kBlock);
  anchorOptions.clientThreads = o.clientThreads;
  for (int i = 0; i < o.clients; ++i) {
    const Position at = PlaceClient(i, o);
    anchorOptions.places.emplace_back(at.x, at.y);
  }
  const relayanchor::RunResult anchor = relayanchor::Run<relayanchor::EnetClient<false>>(
      anchorOptions, relayanchor::StartEnetServer);
  relayanchor::Print("anchor (raw ENet, the same relay rule: near always, far one in eight)",
                     anchor);
  const Pairs anchorPairs = pairsOf(anchor.sent, anchor.near, anchor.far);
  // Both per relay the clients received.
  const double anchorPer1000 =
      anchor.received ? anchor.cpuSeconds / static_cast<double>(anchor.received) * 1000 : 0;
  const double ourFanOut = ours.sent ? static_cast<double>(ours.Relayed()) / ours.sent : 0;
  const double anchorFanOut =
      anchor.sent ? static_cast<double>(anchor.received) / static_cast<double>(anchor.sent) : 0;

  const double cpuRatio = anchorPer1000 > 0 ? ours.CpuPer1000() / anchorPer1000 : 0;
  // The same ratio split between the server's threads.
  const double mainLoopShare = ours.cpuSeconds > 0 ? ours.mainLoopSeconds / ours.cpuSeconds : 0;
  printf("  CPU ours/anchor by thread: main loop %.2f (%.3f s), network thread %.2f (%.3f s)\n",
         cpuRatio * mainLoopShare, ours.mainLoopSeconds, cpuRatio * (1 - mainLoopShare),
         ours.cpuSeconds - ours.mainLoopSeconds);
  const double p99Diff = ours.p99 - anchor.p99;
  printf("CPU per relayed packet ours/anchor: %.2f (%.6f / %.6f s per 1000)   p99 ours-anchor: "
         "%+.3f ms   relays per packet ours/anchor: %.2f / %.2f\n",
         cpuRatio, ours.CpuPer1000(), anchorPer1000, p99Diff, ourFanOut, anchorFanOut);
  const bool sameFanOut = anchorFanOut > 0 && std::fabs(ourFanOut / anchorFanOut - 1) <= 0.02 &&
                          std::fabs(anchorPairs.farFraction - 0.125) <= 0.01;
  const bool pass = ours.ok && anchor.ok && !ours.p99Overflow && sameFanOut && cpuRatio <= 1.3 &&
                    p99Diff <= 1.0 && ourPairs.nearFraction >= 0.99995 &&
                    std::fabs(ourPairs.farFraction - 0.125) <= 0.01;
  printf("bar (same fan-out; CPU ratio <= 1.3, p99 within 1 ms, near 1.0000, far 0.125 +- 0.01): "
         "%s\n",
         pass ? "PASS" : "FAIL");

  std::vector<double> times;
  for (const JoinResult& j : joins)
    if (j.ok) times.push_back(j.ms);
  std::sort(times.begin(), times.end());
  if (!times.empty()) {
    const JoinResult& j = joins.front();
    printf("full-world join (1000 objects, 499 vehicles, 100 pickups, 50 markers, 100 icons, "
           "100 actors, 10 spawn classes x 180 members): %llu messages, %llu bytes (payload "
           "%llu); ClientJoin to DownloadComplete median %.3f ms (min %.3f, max %.3f, %zu joins)\n",
           static_cast<unsigned long long>(j.messages), static_cast<unsigned long long>(j.messageBytes),
           static_cast<unsigned long long>(j.payloadBytes), times[times.size() / 2], times.front(),
           times.back(), times.size());
  } else {
    printf("full-world join: FAILED\n");
  }
  enet_deinitialize();
  return 0;
}

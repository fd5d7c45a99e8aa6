// Movement-relay benchmark: N clients each send a small UNRELIABLE_SEQUENCED
// message at a fixed rate and a relay server sends every message on to all
// the other clients. Run once with the relay on our net::Peer and once with a
// minimal relay on raw ENet as the anchor. Both runs use the same raw ENet
// clients (speaking our handshake in our run), so only the server differs.
//
// Printed per run: server CPU per 1000 relayed messages (relayed = messages the
// server received x (N-1)), the delivered fraction, p50/p99 latency. Then the
// ratios against the anchor and the bar (CPU <= 1.5x, p99 within 2 ms). Always
// exits 0: the figures are for people to read.
//
//   net_relay [--clients N] [--seconds S] [--rate HZ] [--payload BYTES]
//             [--client-threads T] [--thread-sleep-ms MS] [--idle-us US]
//             [--our-clients peer|enet]
//
// --our-clients peer drives our relay with net::Peer clients instead (one
// network thread each), which adds the clients' own thread hops to the latency.
#include <dirent.h>
#include <enet/enet.h>
#include <pthread.h>
#include <sys/types.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/peer.h"
#include "platform/platform.h"

#include "relay_anchor.h"

namespace {

using namespace relayanchor;

bool StartPeerServer(Server& s, const Options& o) {
  auto peer = std::make_shared<net::Peer>();
  // The peer's own network thread does much of the server's work: find it so
  // its CPU time counts too.
  std::set<pid_t> before = ThreadIds();
  if (!peer->Startup(static_cast<uint16_t>(o.clients), o.threadSleepMs, 0, "127.0.0.1")) return false;
  for (pid_t t : ThreadIds())
    if (!before.count(t)) s.cpuClocks.push_back(ThreadCpuClock(t));
  s.port = peer->GetBoundPort();
  const int idleUs = o.idleUs;
  const uint64_t others = static_cast<uint64_t>(o.clients - 1);  // all connected: all but one
  s.thread = std::thread([&s, peer, idleUs, others] {
    while (!s.stop.load(std::memory_order_relaxed)) {
      bool any = false;
      while (net::Packet* p = peer->Receive()) {
        any = true;
        if (p->length >= kHeaderBytes && p->data[0] == kRelayId) {
          s.received.fetch_add(1, std::memory_order_relaxed);
          s.relayed.fetch_add(others, std::memory_order_relaxed);
          peer->Send(p->data, p->bitSize, net::HIGH_PRIORITY, net::UNRELIABLE_SEQUENCED, 0,
                     p->systemAddress, true);
        }
        peer->DeallocatePacket(p);
      }
      if (!any) std::this_thread::sleep_for(std::chrono::microseconds(idleUs));
    }
  });
  s.cpuClocks.push_back(ClockOf(s.thread));
  s.shutdown = [peer] { peer->Shutdown(); };
  return true;
}

// ---- clients ----------------------------------------------------------------

class PeerClient {
 public:
  bool Start(uint16_t port, const Options& o) {
    return peer_.Startup(1, o.threadSleepMs, 0, relayanchor::NextClientIp().c_str()) &&
           peer_.Connect("127.0.0.1", port, "", 0);
  }
  bool Connected() const { return connected_; }
  void Send(const uint8_t* data, uint32_t length) {
    peer_.Send(data, length * 8, net::HIGH_PRIORITY, net::UNRELIABLE_SEQUENCED, 0, server_, false);
  }
  template <typename F>
  int Poll(F&& onMessage) {
    int n = 0;
    while (net::Packet* p = peer_.Receive()) {
      ++n;
      if (p->length > 0 && p->data[0] == net::ID_CONNECTION_REQUEST_ACCEPTED) {
        connected_ = true;
        server_ = p->systemAddress;
      } else if (p->length >= kHeaderBytes && p->data[0] == kRelayId) {
        onMessage(p->data);
      }
      peer_.DeallocatePacket(p);
    }
    return n;
  }
  void Stop() { peer_.Shutdown(); }

 private:
  net::Peer peer_;
  net::SystemAddress server_ = net::UNASSIGNED_SYSTEM_ADDRESS;
  bool connected_ = false;
};

bool ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) return false;
    const char* v = argv[++i];
    if (a == "--clients") o.clients = atoi(v);
    else if (a == "--seconds") o.seconds = atof(v);
    else if (a == "--rate") o.rate = atof(v);
    else if (a == "--payload") o.payload = atoi(v);
    else if (a == "--client-threads") o.clientThreads = atoi(v);
    else if (a == "--thread-sleep-ms") o.threadSleepMs = atoi(v);
    else if (a == "--idle-us") o.idleUs = atoi(v);
    else if (a == "--our-clients" && std::string(v) == "peer") o.ourEnetClients = false;
    else if (a == "--our-clients" && std::string(v) == "enet") o.ourEnetClients = true;
    else return false;
  }
  return o.clients >= 2 && o.clients <= 1000 && o.seconds > 0 && o.rate > 0 && o.rate <= 1000 &&
         o.payload >= static_cast<int>(kHeaderBytes) && o.payload <= 1200 && o.clientThreads >= 1 &&
         o.threadSleepMs >= 0 && o.idleUs >= 0;
}

}  // namespace


int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    fprintf(stderr,
            "usage: %s [--clients N (2-1000)] [--seconds S] [--rate HZ] [--payload BYTES (%u-1200)] "
            "[--client-threads T] [--thread-sleep-ms MS] [--idle-us US] [--our-clients peer|enet]\n",
            argv[0], kHeaderBytes);
    return 0;
  }
  if (enet_initialize() != 0) {
    fprintf(stderr, "enet_initialize failed\n");
    return 0;
  }
  printf("net_relay: %d clients, %.1f s, %.1f Hz, %d-byte messages, %d client threads, "
         "peer thread sleep %d ms, relay idle pause %d us\n",
         o.clients, o.seconds, o.rate, o.payload, o.clientThreads, o.threadSleepMs, o.idleUs);
  fflush(stdout);

  RunResult ours = o.ourEnetClients ? Run<EnetClient<true>>(o, StartPeerServer)
                                    : Run<PeerClient>(o, StartPeerServer);
  Print(o.ourEnetClients ? "ours (Peer relay, raw ENet clients)" : "ours (Peer)", ours);
  fflush(stdout);
  RunResult anchor = Run<EnetClient<false>>(o, StartEnetServer);
  Print("anchor (ENet)", anchor);

  const double cpuRatio = anchor.CpuPer1000() > 0 ? ours.CpuPer1000() / anchor.CpuPer1000() : 0;
  const double p99Diff = ours.p99 - anchor.p99;
  printf("CPU per relayed message ours/anchor: %.2f   p99 ours-anchor: %+.3f ms\n", cpuRatio, p99Diff);
  const bool pass = ours.ok && anchor.ok && !ours.p99Overflow && cpuRatio <= 1.5 &&
                    p99Diff <= 2.0;
  printf("bar (CPU ratio <= 1.5, p99 within 2 ms): %s\n", pass ? "PASS" : "FAIL");
  enet_deinitialize();
  return 0;
}

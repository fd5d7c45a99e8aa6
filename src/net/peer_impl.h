// Private to the peer: the state its API (peer.cpp) and its network thread
// (peer_host.cpp) share. Nothing outside src/net includes this.
#pragma once

#include <enet/enet.h>

#include <atomic>
#include <cstddef>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "net/address_budgets.h"
#include "net/banlist.h"
#include "net/cookie.h"
#include "net/cookie_connect.h"
#include "net/peer.h"
#include "net/query_budget.h"

namespace net {

// The limits below read ENet's private lists of commands by their layout:
// another ENet must fail the build here, not quietly disable the limits.
static_assert(ENET_VERSION == ENET_VERSION_CREATE(1, 3, 17), "ENet's command lists are read by layout");
static_assert(offsetof(ENetOutgoingCommand, outgoingCommandList) == 0);
static_assert(offsetof(ENetIncomingCommand, incomingCommandList) == 0);

// Set by RecordSendsInsteadOfSending: peers started from then on record.
extern std::atomic<bool> gRecordSends;
// Set by SetRecordingClock: the arrival time of what a recording peer is handed.
extern std::atomic<uint32_t (*)()> gRecordingClock;

struct Peer::Impl {
  static constexpr uint8_t kReliableChannel = 0;
  static constexpr uint8_t kUnreliableChannel = 1;
  static constexpr size_t kChannelCount = 2;
  static constexpr uint32_t kGracefulDisconnect = 1;  // disconnect data of an orderly close
  static constexpr uint32_t kDefaultTimeoutMs = 3000;
  static constexpr uint32_t kRequestDeadlineMs = 5000;
  // A close whose remote keeps answering but never completes the disconnect.
  static constexpr uint32_t kCloseLimitMs = 10000;
  static constexpr uint32_t kShutdownGraceMs = 300;
  // The longest message we send, and take from a system we connected to.
  static constexpr size_t kMaxMessageBytes = 1u << 20;
  static constexpr size_t kMaxWaitingBytes = 4u << 20;
  // What a remote that connected to us may send. A client's longest call is
  // under 300 bytes; ENet allocates a fragmented message's whole declared
  // length on its first fragment, so anything more is memory for nothing.
  // The waiting data (out of order, or not yet taken off ENet) is room for a
  // burst of a client's longest calls behind a lost datagram: an honest
  // client never fills it (a full one would refuse the datagram that closes
  // the gap), and a hostile one pins no more than this.
  static constexpr size_t kMaxIncomingMessageBytes = 512;
  static constexpr size_t kMaxIncomingWaitingBytes = 32 * kMaxIncomingMessageBytes;
  // Messages ENet holds for one incoming connection that it cannot hand on
  // yet (behind a lost one, or unfinished): each costs a hundred bytes or
  // more whatever its length, and an empty one counts nothing towards the
  // waiting data. A connection that holds this many, or the waiting data's
  // worth, when its next datagram arrives is closed.
  static constexpr size_t kMaxIncomingCommands = 128;
  // What may wait to be sent to, or be unacknowledged by, one incoming
  // connection (ENet bounds neither, and walks it on every flush). The
  // largest world's download is about 2000 messages and 200 KB, and drains
  // within a few round trips. A connection may be over the message cap for
  // a while, as long as it takes what it is sent: one whose backlog has not
  // shrunk below where it stood for kBacklogStallMs is closed (it takes less
  // than it is sent), and so is one past the byte cap, which no honest burst
  // reaches (a game mode's 10,000 chat lines of 255 bytes are 2.7 MB). The
  // stall is shorter than the silence limit, which a remote that takes
  // nothing at all meets too.
  static constexpr size_t kMaxBacklogCommands = 8192;
  static constexpr size_t kMaxBacklogBytes = 4u << 20;
  static constexpr uint32_t kBacklogStallMs = 2000;
  static constexpr uint32_t kBacklogCheckMs = 100;
  // Reliable messages handed to ENet for one connection and not yet sent.
  // ENet walks every unsent message of every connection on each flush, so
  // what a connection that reads slowly has not yet taken waits beyond this
  // in its own queue (Slot::held), which costs nothing to keep, and is handed
  // on as ENet sends.
  static constexpr size_t kEnetUnsentTarget = 128;
  // An ENet host reads datagrams of at most 4096 bytes, so a pong stays within it.
  static constexpr uint32_t kMaxPingResponse = ENET_PROTOCOL_MAXIMUM_MTU - 5;
  static constexpr int kMaxEventsPerRound = 4096;
  // Incoming connections one address may hold before they are accepted (and,
  // with a join deadline, before they join); more would let one host fill
  // every slot with connections it never finishes.
  static constexpr size_t kMaxPendingPerAddress = 4;

  enum class SlotState : uint8_t {
    kFree,          // nothing, or an incoming ENet handshake still under way
    kConnecting,    // we connect out; ENet handshake under way
    kAwaitAnswer,   // we connected out and sent the request
    kRefused,       // our request was refused; the server closes
    kAwaitRequest,  // incoming; ENet handshake done, no request yet
    kAccepted,      // both sides may send
    kClosing,       // we asked ENet to disconnect
  };

  // Reliable packets that wait to be handed to ENet for one connection, in
  // order; each holds a reference of its own, given back when it is handed on
  // or dropped. Moved, never copied.
  class HeldPackets {
   public:
    HeldPackets() = default;
    HeldPackets(const HeldPackets&) = delete;
    HeldPackets& operator=(const HeldPackets&) = delete;
    HeldPackets(HeldPackets&& other) noexcept { *this = std::move(other); }
    HeldPackets& operator=(HeldPackets&& other) noexcept {
      if (this != &other) {
        Clear();
        packets_.swap(other.packets_);
        std::swap(bytes_, other.bytes_);
      }
      return *this;
    }
    ~HeldPackets() { Clear(); }
    bool empty() const { return packets_.empty(); }
    size_t size() const { return packets_.size(); }
    size_t bytes() const { return bytes_; }
    void Push(ENetPacket* p) {
      ++p->referenceCount;
      packets_.push_back(p);
      bytes_ += p->dataLength;
    }
    ENetPacket* Front() const { return packets_.front(); }
    // Gives up the front packet's reference (after ENet took one of its own).
    void Pop() {
      ENetPacket* p = packets_.front();
      packets_.pop_front();
      bytes_ -= p->dataLength;
      if (--p->referenceCount == 0) enet_packet_destroy(p);
    }
    void Clear() {
      while (!packets_.empty()) Pop();
    }

   private:
    std::deque<ENetPacket*> packets_;
    size_t bytes_ = 0;
  };

  struct Slot {
    SlotState state = SlotState::kFree;
    SystemAddress address;
    uint32_t since = 0;      // GetTimeMs() when this state (or a pending handshake) began
    uint32_t lastHeard = 0;  // GetTimeMs() when anything was last heard from the remote
    uint32_t enetHeard = 0;  // ENet's lastReceiveTime when it was last looked at
    bool seen = false;       // kFree only: an incoming handshake was noticed
    // kClosing only: an incoming connection that never joined (refused by the
    // handshake or the application, or late): it counts against its address.
    bool refused = false;
    bool incoming = false;  // kAccepted: the remote connected to us
    bool joined = false;    // kAccepted, incoming: the application said it joined
    // kAccepted, incoming, not joined: the join deadline counts from `since`
    // once the application has taken the acceptance notice; once passed
    // (`handledBefore` set: every message has a sequence of 1 or more), the
    // connection waits until the application has handled every message
    // queued before then (its join may be among them).
    bool deadlineRunning = false;
    uint64_t handledBefore = 0;
    uint32_t generation = 0;  // kAccepted: which acceptance this is
    bool stuck = false;       // incoming: ENet holds too much of it (see LimitIncoming)
    // kAccepted, incoming: over the backlog's message cap since `backlogSince`
    // without shrinking below `backlogLevel` (see OverBacklog).
    bool backlogOver = false;
    uint32_t backlogSince = 0;
    size_t backlogLevel = 0;
    // Whether, and since when, ENet has had a reliable message to the remote
    // overdue for acknowledgement.
    bool unacknowledged = false;
    uint32_t unacknowledgedSince = 0;
    HeldPackets held;         // kAccepted: reliable messages not yet handed to ENet
    std::string password;     // what we send when connecting out

    // A connection that came to us, was accepted and has not joined.
    bool Unjoined() const { return state == SlotState::kAccepted && incoming && !joined; }
  };

  // One entry of the application queue: a message or a local notice.
  struct Message {
    std::unique_ptr<uint8_t[]> data;
    uint32_t length = 0;
    SystemAddress address;
    int index = -1;
    bool fromRemote = false;
    bool reliable = true;
    // The connection's generation (an acceptance notice's, or a remote
    // message's: which share it was counted in).
    uint32_t generation = 0;
    uint64_t sequence = 0;    // the order it was queued in
    uint32_t receivedMs = 0;  // when it arrived
  };

  static SystemAddress FromEnet(const ENetAddress& a) { return SystemAddress{a.host, a.port}; }
  static bool IsOpen(const ENetPeer* p) {
    return p->state == ENET_PEER_STATE_CONNECTED || p->state == ENET_PEER_STATE_DISCONNECT_LATER;
  }

  explicit Impl(Peer* o) : owner(o) {}

  Peer* owner;

  // Serialises Startup and Shutdown.
  std::mutex lifeMutex;

  // Everything below up to the queue is guarded by hostMutex: ENet is not
  // thread-safe, so every enet_* call on the host happens under it.
  mutable std::mutex hostMutex;
  ENetHost* host = nullptr;
  // A recording peer has no host: its sends go to `recorded` (see peer.h).
  bool recording = false;
  std::vector<RecordedSend> recorded;
  bool Running() const { return host || recording; }
  std::vector<Slot> slots;
  uint16_t connectionLimit = 0;
  int explicitLimit = -1;  // set by SetMaximumIncomingConnections
  std::string incomingPassword;
  std::vector<uint8_t> pong{ID_PONG, 0, 0, 0, 0};  // id, time (patched per query), response
  QueryBudget queryBudget;                         // of the replies to queries
  std::atomic<uint32_t> unansweredQueries{0};      // beyond the budget, since last taken
  Cookies cookies;                                 // that a CONNECT to us must carry (see cookie.h)
  // ENet connects one address may start: players behind one address join
  // together, but joining and leaving again and again goes no faster than
  // this. Every join and departure is told to every player, and each new
  // connection has budgets of its own (a client that leaves by falling
  // silent is still there, with its budgets, for 3 s).
  AddressBudgets connectBudget{kConnectBurstPerAddress, kConnectEachMs};
  std::atomic<uint32_t> unansweredConnects{0};  // beyond the budget, since last taken
  PendingConnects pendingConnects;                 // ours, waiting for the server's cookie
  uint32_t timeoutMs = kDefaultTimeoutMs;
  uint32_t joinDeadlineMs = 0;  // 0: an accepted connection counts as joined
  uint32_t generations = 0;
  uint32_t lastBacklogCheck = 0;
  bool stopping = false;

  std::atomic<bool> active{false};
  std::atomic<uint16_t> boundPort{0};
  int wakeFd = -1;
  int sleepMs = 1;
  std::thread thread;

  std::mutex queueMutex;
  std::condition_variable queueFilled;  // wakes a caller of WaitForMessage
  std::deque<Message> queue;
  // Lets an idle Receive() return without taking the lock the network thread
  // needs to queue the next message.
  std::atomic<size_t> queued{0};
  // Sends are queued on the host and flushed in batches: by the network
  // thread, which a send wakes, or by Receive() when the caller has drained
  // its messages (so a relay answering a burst flushes once, not per send).
  // While the caller is draining (Receive() handed over something and has not
  // yet found the queue empty) a send does not wake the thread: the Receive()
  // that finds nothing flushes, and the thread's own round bounds the wait.
  std::atomic<bool> flushPending{false};
  std::atomic<bool> draining{false};
  void RequestFlush();
  void FlushIfPending();

  // ---- the waiting thread services the host ----
  // While the application waits in WaitForMessage with nothing queued, its
  // own thread services the host (receive, hand-on, deadlines, flush, under
  // hostMutex): a message then reaches it with no wake-up between threads.
  // The network thread meanwhile only flushes what a send asks it to, and
  // takes the socket back once the waiter has not serviced it for
  // kTakeBackMs (the application is busy, or nobody waits): so sends,
  // resends, pings and deadlines go on whatever the application does.
  static constexpr uint32_t kTakeBackMs = 5;
  // The waiter's rounds walk every slot's deadlines at most this often; held
  // packets are handed on in every round (see HandOnHolding).
  static constexpr uint32_t kDeadlineWalkMs = 1;
  // Held by the thread that services while it waits: one at a time, and
  // Shutdown takes it before the socket and waiterWakeFd go.
  std::mutex waitMutex;
  int waiterWakeFd = -1;                    // wakes the waiter's poll (set with the host)
  std::atomic<bool> waiterPolling{false};   // the waiter sleeps on the socket
  std::atomic<uint32_t> waiterServiced{0};  // GetTimeMs() of its last round
  uint32_t lastDeadlineWalk = 0;            // of the waiter's rounds (hostMutex)
  // Slots that may hold packets for ENet, each listed once (hostMutex).
  std::vector<uint16_t> holding;
  std::vector<uint8_t> listedHolding;  // by slot
  // Services the host until a message is queued or `ms` have passed: 1 when
  // one is, 0 when none came, -1 when this thread cannot service it (another
  // waiter does, the peer records or is stopping) and must wait otherwise.
  int WaitServicing(int ms);
  // One round of the waiter (hostMutex held).
  void WaiterRound();
  // Hands on what the listed slots hold (hostMutex held).
  void HandOnHolding(uint32_t now);
  void ListHolding(int index);
  void WakeWaiter();
  // Whether a send's flush is left to the waiter (see RequestFlush).
  bool WaiterFlushes();
  // The network thread while the waiter services: true after a watch (and
  // a flush if a send asked for one), false when the thread is to service.
  bool KeepWatch();

  std::mutex rpcMutex;
  std::unordered_map<std::string, RpcHandler> rpcs;

  BanList bans;

  // The peer whose host the current thread is servicing (for the intercept
  // hook, which gets only the ENet host).
  static thread_local Impl* servicing;

  // ---- application queue ----

  // Messages from remote systems wait here for the application. Each
  // connection has its own share of the queue: one that floods faster than
  // the application reads loses its own excess messages, nobody else's, and
  // the others' messages wait behind at most its share. Past the share an
  // unreliable message is dropped (a later one supersedes it); reliable ones
  // have a reserve beyond it that unreliable ones cannot fill, and one that
  // does not fit even so ends the connection, which is never left with a hole
  // in its reliable stream. The shares together bound the queue. Notices are
  // never dropped.
  static constexpr size_t kReliableReserveBytes = 256u << 10;
  static constexpr size_t kReliableReserve = 1024;
  // A share belongs to one connection (its generation) from its acceptance:
  // what an earlier connection in the slot left queued is not counted in it.
  struct QueueShare {
    size_t bytes = 0;
    size_t messages = 0;
    uint32_t dropped = 0;  // unreliable messages that did not fit, since last taken
    uint32_t generation = 0;
  };
  std::vector<QueueShare> shares;  // of remote messages, by slot (queueMutex)
  uint64_t queuedSequence = 0;     // of the last message queued (queueMutex)
  // Of the last message the application has finished with (set on its thread).
  std::atomic<uint64_t> handledSequence{0};
  uint64_t returnedSequence = 0;  // of the message Receive() last handed over
  // Empties the queue, with a share for each of `slotCount` slots.
  void ResetQueue(size_t slotCount);
  // Takes a remote message's share back when the application takes it (queueMutex held).
  void Release(const Message& m);
  // The connection in slot `index` was accepted (hostMutex held): it gets a
  // new generation and an empty share of its own.
  void BeginConnection(int index);
  // False when a remote message did not fit its connection's share.
  bool Push(const uint8_t* data, uint32_t length, const SystemAddress& address, int index,
            bool fromRemote = false, bool reliable = true, uint32_t generation = 0);
  // The time stamp of a message arriving now.
  uint32_t ArrivalMs() const;
  // A message from the accepted connection in slot `index` (hostMutex held);
  // ids that only the library itself may raise are dropped. False when it
  // did not fit the connection's share.
  bool PushRemote(int index, const uint8_t* data, uint32_t length, bool reliable);
  void PushNotice(uint8_t id, const SystemAddress& address, int index) {
    Push(&id, 1, address, index);
  }
  // Runs the handler of an RPC message, if it is well formed and registered.
  void Dispatch(const Message& m, Peer* recipient);
  // The application has taken the acceptance notice of `generation` in slot
  // `index`: its join deadline starts (takes hostMutex).
  void StartJoinDeadline(int index, uint32_t generation);

  // ---- helpers (hostMutex held) ----

  int SlotOf(const ENetPeer* p) const { return static_cast<int>(p - host->peers); }

  int FindAccepted(const SystemAddress& address) const {
    for (size_t i = 0; i < slots.size(); ++i) {
      if (slots[i].state == SlotState::kAccepted && slots[i].address == address) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  // A connection to `address` that is neither closing nor refused (those end
  // by themselves, and a refused client may try again at once).
  int FindLive(const SystemAddress& address) const {
    for (size_t i = 0; i < slots.size(); ++i) {
      const SlotState s = slots[i].state;
      if (s != SlotState::kFree && s != SlotState::kClosing && s != SlotState::kRefused &&
          slots[i].address == address) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  // An incoming connection not yet accepted: a handshake under way, one that
  // has not asked, or a refused one still closing; and one accepted that has
  // not yet joined.
  static bool IsPending(const Slot& s) {
    return s.state == SlotState::kFree || s.state == SlotState::kAwaitRequest ||
           (s.state == SlotState::kClosing && s.refused) || s.Unjoined();
  }

  // Sets ENet's per-address limit so that a connect from `addressHost` is
  // dropped when that address already holds kMaxPendingPerAddress pending.
  void LimitPending(uint32_t addressHost);

  void ConfigureTimeout(ENetPeer* p);

  void ConfigureConnected(ENetPeer* p);

  bool SendBytes(ENetPeer* p, const uint8_t* data, size_t length);

  // Silence of a connection, refreshed from ENet's record of acknowledgements.
  // ENet's clock follows the wall clock, which may be stepped, so our times
  // come from the monotonic clock and ENet's record counts only as "heard".
  uint32_t Silence(Slot& s, const ENetPeer* p, uint32_t now);
  // Notes in the slot since when ENet has had a message to the remote overdue
  // for acknowledgement, for OnDisconnect (ENet resets a peer it times out
  // before it says so). ENet times out a remote that goes on sending but
  // acknowledges nothing after 6 to 30 s; that is a loss, not an orderly
  // close. No limit of ours is shorter: after an outage ENet's resends have
  // backed off, and an honest client's acknowledgement may come seconds
  // after its own traffic resumes.
  void NoteUnacknowledged(Slot& s, const ENetPeer* p, uint32_t now);

  // Closes an ENet connection whose remote may still read what is queued.
  void CloseLater(int index, uint32_t now);

  // The notice the application gets when a connection in state `s` ends.
  void NoticeEnd(int index, const Slot& s, bool lost);

  // Ends the accepted connection in slot `index` on the library's own
  // account: the application hears it as lost, for `reason`; whatever waits
  // to be sent to it is dropped.
  void Drop(int index, LostReason reason, uint32_t now);

  // Whether the connection in slot `index` is to be closed for what waits
  // to be sent to it (or acknowledged by it): what ENet holds, and what waits
  // beyond. A check every kBacklogCheckMs.
  bool OverBacklog(int index, uint32_t now);

  // Queues a reliable packet to the accepted connection in slot `index`:
  // to ENet while it has few unsent, else behind them in the slot's own
  // queue. False when it could not be queued.
  bool SendReliable(int index, ENetPacket* packet);
  // Hands held packets on to ENet while it has few unsent for that
  // connection; with `all`, every one of them (before a close). False when
  // ENet refused one (the held ones are then dropped).
  bool HandOn(int index, bool all);

  // ---- network thread (hostMutex held) ----

  // Hands a connect out to ENet, with the server's cookie (0: none). `now` is
  // the round's: the deadlines that follow in the round must not see the
  // connect start after their own time.
  void ConnectNow(const PendingConnects::Entry& e, uint32_t cookie, uint32_t now);

  void OnConnect(ENetPeer* p, uint32_t now);

  void Refuse(int index, uint8_t id, uint32_t now);

  void OnRequest(int index, const uint8_t* d, uint32_t n, uint32_t now);

  void OnReceive(ENetPeer* p, const ENetPacket* packet, uint32_t now);

  void OnDisconnect(ENetPeer* p, uint32_t now);

  // Whether the join deadline of accepted connection `s` has passed with
  // nothing of its own left for the application to handle.
  bool JoinTooLate(Slot& s, uint32_t now);

  void CheckDeadlines(uint32_t now);

  void Service();

  void CloseAll(uint32_t now);

  bool AllClosed() const;

  void Wait(int ms);

  void Run();

  // ---- intercept: limits on what remotes send, server-browser queries ----

  // Sets the host's limits for a datagram to the peer in slot `peerId`
  // (ENET_PROTOCOL_MAXIMUM_PEER_ID: a connect); false when that peer holds
  // as much as it may and the datagram is to be dropped.
  bool LimitIncoming(uint16_t peerId);

  static int ENET_CALLBACK Intercept(ENetHost* h, ENetEvent*);

  // ---- sending (takes hostMutex) ----

  // Builds one packet with `fill` and queues it to every open connection that
  // `targets` names (it calls its argument with each candidate index). The
  // receivers share the packet; ENet frees it after the last of them. Returns
  // how many it was queued to, -1 when it could not be built. Defined in
  // peer.cpp, its only user.
  template <typename Fill, typename Targets>
  int SendShared(size_t length, PacketReliability reliability, Fill fill, Targets targets);
  // ---- recording transport (hostMutex held, but for Start/StopRecording) ----

  bool StartRecording(uint16_t maxConnections);
  void StopRecording();
  template <typename Fill, typename Targets>
  int Record(size_t length, bool reliable, Fill fill, Targets targets);
  // Frees the slot at once and records the close (an empty message).
  void RecordClose(int index);

  template <typename Fill>
  bool SendPacket(size_t length, PacketReliability reliability, const SystemAddress& target,
                  bool broadcast, Fill fill);
};

}  // namespace net

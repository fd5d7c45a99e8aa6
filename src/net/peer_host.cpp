// The peer's network thread: ENet events, the handshake, time-outs and
// deadlines, and the answer to server-browser queries.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "net/peer_impl.h"

namespace net {

namespace {

// Ids a connected remote may not send: they are handshake answers or local
// notices, and would otherwise pass as the real thing to the application.
bool IsControlId(uint8_t id) {
  switch (id) {
    case ID_CONNECTION_REQUEST:
    case ID_CONNECTION_REQUEST_ACCEPTED:
    case ID_CONNECTION_ATTEMPT_FAILED:
    case ID_ALREADY_CONNECTED:
    case ID_NEW_INCOMING_CONNECTION:
    case ID_NO_FREE_INCOMING_CONNECTIONS:
    case ID_DISCONNECTION_NOTIFICATION:
    case ID_CONNECTION_LOST:
    case ID_CONNECTION_BANNED:
    case ID_INVALID_PASSWORD:
      return true;
    default:
      return false;
  }
}

}  // namespace

thread_local Peer::Impl* Peer::Impl::servicing = nullptr;

void Peer::Impl::ResetQueue(size_t slotCount) {
  std::lock_guard<std::mutex> lock(queueMutex);
  queue.clear();
  queued.store(0, std::memory_order_release);
  shares.assign(slotCount, QueueShare{});
  queuedSequence = 0;
  handledSequence.store(0);
  returnedSequence = 0;
}

void Peer::Impl::Release(const Message& m) {
  if (!m.fromRemote) return;
  // A share taken over by a later connection in the slot owes nothing to
  // this one's messages.
  if (m.index >= 0 && static_cast<size_t>(m.index) < shares.size() &&
      shares[m.index].generation == m.generation) {
    shares[m.index].bytes -= m.length;
    --shares[m.index].messages;
  }
}

void Peer::Impl::BeginConnection(int index) {
  const uint32_t generation = ++generations;
  slots[index].generation = generation;
  std::lock_guard<std::mutex> lock(queueMutex);
  if (static_cast<size_t>(index) < shares.size()) shares[index] = QueueShare{0, 0, 0, generation};
}

uint32_t Peer::Impl::ArrivalMs() const {
  if (recording) {
    if (uint32_t (*clock)() = gRecordingClock.load()) return clock();
  }
  return GetTimeMs();
}

bool Peer::Impl::Push(const uint8_t* data, uint32_t length, const SystemAddress& address, int index,
                      bool fromRemote, bool reliable, uint32_t generation) {
  if (fromRemote) {  // its room is taken before anything is copied: a flood costs no copies
    std::lock_guard<std::mutex> lock(queueMutex);
    if (index < 0 || static_cast<size_t>(index) >= shares.size()) return false;
    QueueShare& share = shares[index];
    const size_t bytes = kMaxQueuedBytesPerConnection + (reliable ? kReliableReserveBytes : 0);
    const size_t messages = kMaxQueuedPerConnection + (reliable ? kReliableReserve : 0);
    if (share.bytes + length > bytes || share.messages >= messages) {
      if (!reliable) ++share.dropped;  // a reliable one ends the connection instead
      return false;
    }
    share.bytes += length;
    ++share.messages;
  }
  Message m;
  m.data.reset(new uint8_t[length]);
  std::memcpy(m.data.get(), data, length);
  m.length = length;
  m.address = address;
  m.index = index;
  m.fromRemote = fromRemote;
  m.reliable = reliable;
  m.generation = generation;
  m.receivedMs = ArrivalMs();
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    m.sequence = ++queuedSequence;
    queue.push_back(std::move(m));
    queued.store(queue.size(), std::memory_order_release);
  }
  queueFilled.notify_one();
  std::atomic_thread_fence(std::memory_order_seq_cst);  // see WaitServicing
  if (waiterPolling.load(std::memory_order_relaxed)) WakeWaiter();
  return true;
}

bool Peer::Impl::PushRemote(int index, const uint8_t* data, uint32_t length, bool reliable) {
  if (IsControlId(data[0])) return true;
  if (Push(data, length, slots[index].address, index, true, reliable, slots[index].generation)) {
    return true;
  }
  if (reliable) Drop(index, LOST_INCOMING_BACKLOG, GetTimeMs());
  return false;
}

void Peer::Impl::StartJoinDeadline(int index, uint32_t generation) {
  std::lock_guard<std::mutex> lock(hostMutex);
  if (index < 0 || static_cast<size_t>(index) >= slots.size()) return;
  Slot& s = slots[index];
  if (s.state == SlotState::kAccepted && s.generation == generation && !s.deadlineRunning) {
    s.deadlineRunning = true;
    s.since = GetTimeMs();
  }
}

void Peer::Impl::ConfigureTimeout(ENetPeer* p) {
  // ENet's own time-out stays well behind ours so that ours decides.
  const uint64_t t = timeoutMs;
  enet_peer_timeout(p, 0, static_cast<uint32_t>(std::clamp<uint64_t>(t * 2, 5000, UINT32_MAX)),
                    static_cast<uint32_t>(std::clamp<uint64_t>(t * 4, 30000, UINT32_MAX)));
  enet_peer_ping_interval(p, std::clamp<uint32_t>(timeoutMs / 4, 50, ENET_PEER_PING_INTERVAL));
}

void Peer::Impl::ConfigureConnected(ENetPeer* p) {
  ConfigureTimeout(p);
  // No deceleration: the throttle would otherwise drop unreliable packets
  // whenever the round trip wobbles, which on loopback under load it does.
  enet_peer_throttle_configure(p, ENET_PEER_PACKET_THROTTLE_INTERVAL,
                               ENET_PEER_PACKET_THROTTLE_ACCELERATION, 0);
}

bool Peer::Impl::SendBytes(ENetPeer* p, const uint8_t* data, size_t length) {
  host->maximumPacketSize = kMaxMessageBytes;  // see SendShared
  ENetPacket* packet = enet_packet_create(data, length, ENET_PACKET_FLAG_RELIABLE);
  if (!packet) return false;
  if (enet_peer_send(p, kReliableChannel, packet) != 0) {
    enet_packet_destroy(packet);
    return false;
  }
  return true;
}

uint32_t Peer::Impl::Silence(Slot& s, const ENetPeer* p, uint32_t now) {
  if (p->lastReceiveTime != s.enetHeard) {
    s.enetHeard = p->lastReceiveTime;
    s.lastHeard = now;
  }
  return now - s.lastHeard;
}

void Peer::Impl::NoteUnacknowledged(Slot& s, const ENetPeer* p, uint32_t now) {
  if (p->earliestTimeout == 0) {  // ENet clears it on every acknowledgement
    s.unacknowledged = false;
  } else if (!s.unacknowledged) {
    s.unacknowledged = true;
    s.unacknowledgedSince = now;
  }
}

void Peer::Impl::CloseLater(int index, uint32_t now) {
  ENetPeer* p = &host->peers[index];
  Slot& s = slots[index];
  // One that never joined goes on counting against its address while it closes.
  if (s.Unjoined()) s.refused = true;
  if (IsOpen(p)) {
    HandOn(index, true);  // what was queued before the close goes first
    enet_peer_disconnect_later(p, kGracefulDisconnect);
    if (p->state != ENET_PEER_STATE_DISCONNECTED) {
      s.state = SlotState::kClosing;
      s.since = now;
      return;
    }
  } else if (p->state != ENET_PEER_STATE_DISCONNECTED) {
    enet_peer_disconnect_now(p, kGracefulDisconnect);
  }
  s = Slot{};
}

void Peer::Impl::NoticeEnd(int index, const Slot& s, bool lost) {
  switch (s.state) {
    case SlotState::kAccepted:
      PushNotice(lost ? ID_CONNECTION_LOST : ID_DISCONNECTION_NOTIFICATION, s.address, index);
      break;
    case SlotState::kConnecting:
    case SlotState::kAwaitAnswer:
      PushNotice(ID_CONNECTION_ATTEMPT_FAILED, s.address, -1);
      break;
    default:
      break;
  }
}

void Peer::Impl::Drop(int index, LostReason reason, uint32_t now) {
  Slot& s = slots[index];
  const uint8_t notice[2] = {ID_CONNECTION_LOST, reason};
  Push(notice, sizeof notice, s.address, index);
  if (recording) return RecordClose(index);
  s.refused = s.Unjoined();  // before the state changes
  s.held.Clear();
  enet_peer_disconnect(&host->peers[index], kGracefulDisconnect);
  s.state = SlotState::kClosing;
  s.since = now;
}

namespace {

// Messages (fragments count one each) in `list`, and their bytes, up to
// `limit`; with `reliableOnly`, reliable ones only.
size_t CountMessages(const ENetList& list, size_t limit, size_t* bytes = nullptr,
                     bool reliableOnly = false) {
  size_t count = 0;
  for (const ENetListNode* n = list.sentinel.next; n != &list.sentinel && count < limit;
       n = n->next) {
    const auto* command = reinterpret_cast<const ENetOutgoingCommand*>(n);
    if (!command->packet) continue;  // an acknowledgement, ping or disconnect
    if (reliableOnly && !(command->command.header.command & ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE))
      continue;
    ++count;
    if (bytes) *bytes += command->fragmentLength;
  }
  return count;
}

// Reliable messages ENet has for `p` and has not yet sent, up to `limit`.
size_t UnsentReliable(const ENetPeer& p, size_t limit) {
  return CountMessages(p.outgoingCommands, limit, nullptr, true);
}

}  // namespace

bool Peer::Impl::OverBacklog(int index, uint32_t now) {
  const ENetPeer& p = host->peers[index];
  Slot& s = slots[index];
  size_t bytes = s.held.bytes();
  size_t commands = s.held.size();
  commands += CountMessages(p.outgoingCommands, kMaxBacklogCommands + 1, &bytes);
  commands += CountMessages(p.sentReliableCommands, kMaxBacklogCommands + 1, &bytes);
  if (bytes > kMaxBacklogBytes) return true;
  if (commands <= kMaxBacklogCommands) {
    s.backlogOver = false;
    return false;
  }
  // Over the message cap: fine while it shrinks (a burst taken at the pace
  // of the link), not when it stands still or grows for long.
  if (!s.backlogOver || commands < s.backlogLevel) {
    s.backlogOver = true;
    s.backlogSince = now;
    s.backlogLevel = commands;
    return false;
  }
  return now - s.backlogSince >= kBacklogStallMs;
}

bool Peer::Impl::SendReliable(int index, ENetPacket* packet) {
  Slot& s = slots[index];
  ENetPeer* p = &host->peers[index];
  if (s.held.empty() && UnsentReliable(*p, kEnetUnsentTarget) < kEnetUnsentTarget) {
    return enet_peer_send(p, kReliableChannel, packet) == 0;
  }
  s.held.Push(packet);  // the backlog cap is checked by the network thread
  ListHolding(index);
  return true;
}

bool Peer::Impl::HandOn(int index, bool all) {
  Slot& s = slots[index];
  if (s.held.empty()) return true;
  ENetPeer* p = &host->peers[index];
  size_t unsent = all ? 0 : UnsentReliable(*p, kEnetUnsentTarget);
  host->maximumPacketSize = kMaxMessageBytes;  // see SendShared
  for (; !s.held.empty() && (all || unsent < kEnetUnsentTarget); ++unsent) {
    if (enet_peer_send(p, kReliableChannel, s.held.Front()) != 0) {
      s.held.Clear();
      return false;
    }
    s.held.Pop();  // ENet holds a reference of its own now
  }
  return true;
}

void Peer::Impl::OnConnect(ENetPeer* p, uint32_t now) {
  const int index = SlotOf(p);
  Slot& s = slots[index];
  ConfigureConnected(p);
  if (stopping) {
    enet_peer_disconnect_now(p, kGracefulDisconnect);
    s = Slot{};
    return;
  }
  if (s.state == SlotState::kConnecting) {
    s.state = SlotState::kAwaitAnswer;
    s.since = now;
    s.lastHeard = now;
    std::vector<uint8_t> request(1 + s.password.size());
    request[0] = ID_CONNECTION_REQUEST;
    std::memcpy(request.data() + 1, s.password.data(), s.password.size());
    if (!SendBytes(p, request.data(), request.size())) {
      NoticeEnd(index, s, false);
      enet_peer_disconnect_now(p, kGracefulDisconnect);
      s = Slot{};
    }
    return;
  }
  // Incoming: the request deadline counts from when the handshake was first seen.
  const uint32_t started = s.state == SlotState::kFree && s.seen ? s.since : now;
  s = Slot{};
  s.state = SlotState::kAwaitRequest;
  s.incoming = true;
  s.address = FromEnet(p->address);
  s.since = started;
  s.lastHeard = now;
}

void Peer::Impl::Refuse(int index, uint8_t id, uint32_t now) {
  SendBytes(&host->peers[index], &id, 1);
  slots[index].refused = true;
  CloseLater(index, now);
}

void Peer::Impl::OnRequest(int index, const uint8_t* d, uint32_t n, uint32_t now) {
  Slot& s = slots[index];
  const std::string ip = s.address.ToString(false);
  if (bans.IsBanned(ip.c_str())) return Refuse(index, ID_CONNECTION_BANNED, now);
  if (index >= connectionLimit) return Refuse(index, ID_NO_FREE_INCOMING_CONNECTIONS, now);
  if (n - 1 != incomingPassword.size() || std::memcmp(d + 1, incomingPassword.data(), n - 1) != 0) {
    return Refuse(index, ID_INVALID_PASSWORD, now);
  }
  const uint8_t accepted[3] = {ID_CONNECTION_REQUEST_ACCEPTED, static_cast<uint8_t>(index & 0xFF),
                               static_cast<uint8_t>(index >> 8)};
  if (!SendBytes(&host->peers[index], accepted, sizeof accepted)) {
    enet_peer_disconnect_now(&host->peers[index], kGracefulDisconnect);
    s = Slot{};
    return;
  }
  // The same address accepted in another slot is a remote that restarted
  // without closing: that old connection is lost, and ends before this one
  // begins, so that an address always names one connection. It ends without
  // a word: a disconnect sent to the address could end the new session.
  const int old = FindAccepted(s.address);
  if (old >= 0) {
    NoticeEnd(old, slots[old], true);
    enet_peer_reset(&host->peers[old]);
    slots[old] = Slot{};
  }
  s.state = SlotState::kAccepted;
  s.since = now;
  s.joined = joinDeadlineMs == 0;
  BeginConnection(index);
  const uint8_t notice = ID_NEW_INCOMING_CONNECTION;
  Push(&notice, 1, s.address, index, false, true, s.generation);
}

void Peer::Impl::OnReceive(ENetPeer* p, const ENetPacket* packet, uint32_t now) {
  const int index = SlotOf(p);
  Slot& s = slots[index];
  const uint8_t* d = packet->data;
  const uint32_t n = static_cast<uint32_t>(packet->dataLength);
  s.lastHeard = now;
  if (n == 0 || stopping) return;
  switch (s.state) {
    case SlotState::kAwaitRequest:
      // Anything before the request is dropped.
      if (d[0] == ID_CONNECTION_REQUEST) OnRequest(index, d, n, now);
      return;
    case SlotState::kAwaitAnswer:
      if (d[0] == ID_CONNECTION_REQUEST_ACCEPTED && n >= 3) {
        s.state = SlotState::kAccepted;
        s.since = now;
        BeginConnection(index);
        Push(d, n, s.address, index);
      } else if (d[0] == ID_NO_FREE_INCOMING_CONNECTIONS || d[0] == ID_CONNECTION_BANNED ||
                 d[0] == ID_INVALID_PASSWORD) {
        s.state = SlotState::kRefused;
        s.since = now;
        Push(d, 1, s.address, -1);
      }
      return;
    case SlotState::kAccepted:
      PushRemote(index, d, n, (packet->flags & ENET_PACKET_FLAG_RELIABLE) != 0);
      return;
    default:
      return;
  }
}

void Peer::Impl::OnDisconnect(ENetPeer* p, uint32_t now) {
  const int index = SlotOf(p);
  Slot& s = slots[index];
  // ENet's own time-out counts as lost: after long silence, or while the
  // remote still sends but has acknowledged nothing for far longer than the
  // silence limit. An orderly close arrives from a remote heard from moments
  // ago that acknowledges what it is sent.
  const bool unacknowledged = s.unacknowledged && now - s.unacknowledgedSince >= timeoutMs;
  const bool lost = now - s.lastHeard >= timeoutMs || unacknowledged;
  if (!stopping) NoticeEnd(index, s, lost);
  s = Slot{};
}

bool Peer::Impl::JoinTooLate(Slot& s, uint32_t now) {
  if (!s.Unjoined() || !s.deadlineRunning || now - s.since < joinDeadlineMs) {
    return false;
  }
  if (s.handledBefore == 0) {
    std::lock_guard<std::mutex> lock(queueMutex);
    s.handledBefore = queuedSequence;
  }
  return handledSequence.load() >= s.handledBefore;
}

void Peer::Impl::CheckDeadlines(uint32_t now) {
  // Walking what waits to be sent costs as much as ENet's own flush: often
  // enough that nothing runs far past the limit, not on every round.
  const bool checkBacklog = now - lastBacklogCheck >= kBacklogCheckMs;
  if (checkBacklog) lastBacklogCheck = now;
  for (size_t i = 0; i < slots.size(); ++i) {
    ENetPeer* p = &host->peers[i];
    Slot& s = slots[i];
    const int index = static_cast<int>(i);
    if (p->state == ENET_PEER_STATE_DISCONNECTED) {
      // ENet let go of it without an event; end it here instead.
      if (s.state != SlotState::kFree) NoticeEnd(index, s, true);
      s = Slot{};
      continue;
    }
    if (s.stuck && s.state != SlotState::kClosing) {
      // It holds as much as ENet may hold for it (see LimitIncoming); the
      // close empties what ENet holds.
      s.stuck = false;
      if (s.state == SlotState::kAccepted) {
        Drop(index, LOST_INCOMING_HELD, now);
      } else {
        enet_peer_disconnect_now(p, 0);
        s = Slot{};
      }
      continue;
    }
    switch (s.state) {
      case SlotState::kFree:
        // An incoming ENet handshake: it has as long as a request would.
        if (!s.seen) {
          s.seen = true;
          s.since = now;
        } else if (now - s.since >= kRequestDeadlineMs) {
          enet_peer_reset(p);
          s = Slot{};
        }
        break;
      case SlotState::kAwaitRequest:
        if (now - s.since >= kRequestDeadlineMs) {
          enet_peer_disconnect_now(p, 0);
          s = Slot{};
        }
        break;
      case SlotState::kAccepted:
        if (JoinTooLate(s, now)) {
          // Accepted but never joined: it counts against its address until
          // its slot is free.
          Drop(index, LOST_JOIN_DEADLINE, now);
          break;
        }
        if (checkBacklog && s.incoming && OverBacklog(index, now)) {
          Drop(index, LOST_OUTGOING_BACKLOG, now);
          break;
        }
        if (!HandOn(index, false)) {
          Drop(index, LOST_SEND_FAILED, now);
          break;
        }
        [[fallthrough]];
      case SlotState::kConnecting:
      case SlotState::kAwaitAnswer:
      case SlotState::kRefused:
        NoteUnacknowledged(s, p, now);
        if (Silence(s, p, now) >= timeoutMs) {
          NoticeEnd(index, s, true);
          enet_peer_disconnect_now(p, 0);
          s = Slot{};
        }
        break;
      case SlotState::kClosing:
        // A refusal is delivered once acknowledged; ENet then leaves
        // DISCONNECT_LATER and queues its disconnect. When that has gone out
        // the slot is free, whether or not the remote answers it.
        if ((s.refused && p->state != ENET_PEER_STATE_DISCONNECT_LATER &&
             enet_list_empty(&p->outgoingCommands)) ||
            Silence(s, p, now) >= timeoutMs || now - s.since >= kCloseLimitMs) {
          enet_peer_reset(p);
          s = Slot{};
        }
        break;
    }
  }
}

void Peer::Impl::Service() {
  servicing = this;
  int errors = 0;
  for (int events = 0; events < kMaxEventsPerRound;) {
    ENetEvent ev;
    const int r = enet_host_service(host, &ev, 0);
    if (r == 0) break;
    if (r < 0) {
      // An oversized or failed datagram; the next call goes on with the rest.
      if (++errors > 16) break;
      continue;
    }
    ++events;
    const uint32_t now = GetTimeMs();
    switch (ev.type) {
      case ENET_EVENT_TYPE_CONNECT:
        OnConnect(ev.peer, now);
        break;
      case ENET_EVENT_TYPE_RECEIVE:
        OnReceive(ev.peer, ev.packet, now);
        enet_packet_destroy(ev.packet);
        break;
      case ENET_EVENT_TYPE_DISCONNECT:
        OnDisconnect(ev.peer, now);
        break;
      default:
        break;
    }
  }
  servicing = nullptr;
}

void Peer::Impl::CloseAll(uint32_t now) {
  for (size_t i = 0; i < slots.size(); ++i) {
    if (host->peers[i].state != ENET_PEER_STATE_DISCONNECTED) CloseLater(static_cast<int>(i), now);
  }
}

bool Peer::Impl::AllClosed() const {
  for (size_t i = 0; i < host->peerCount; ++i) {
    if (host->peers[i].state != ENET_PEER_STATE_DISCONNECTED) return false;
  }
  return true;
}

void Peer::Impl::Wait(int ms) {
  pollfd fds[2] = {{host->socket, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  if (poll(fds, 2, ms) > 0 && (fds[1].revents & POLLIN)) {
    uint64_t value;
    [[maybe_unused]] ssize_t r = read(wakeFd, &value, sizeof value);
  }
}

void Peer::Impl::Run() {
  bool closing = false;
  uint32_t closeStarted = 0;
  for (;;) {
    if (!closing && KeepWatch()) continue;
    {
      std::lock_guard<std::mutex> lock(hostMutex);
      if (stopping && !closing) {
        closing = true;
        closeStarted = GetTimeMs();
        CloseAll(closeStarted);
        enet_host_flush(host);
      }
      Service();
      const uint32_t now = GetTimeMs();
      if (closing) {
        if (AllClosed() || now - closeStarted >= kShutdownGraceMs) {
          for (size_t i = 0; i < host->peerCount; ++i) {
            enet_peer_disconnect_now(&host->peers[i], kGracefulDisconnect);
          }
          enet_host_flush(host);
          return;
        }
      } else {
        pendingConnects.Advance(
            host->socket, now, [&](const auto& e, uint32_t cookie) { ConnectNow(e, cookie, now); });
        CheckDeadlines(now);
      }
      flushPending.store(false, std::memory_order_release);
      enet_host_flush(host);
    }
    Wait(closing ? 1 : sleepMs);
  }
}

void Peer::Impl::LimitPending(uint32_t addressHost) {
  // ENet counts every connection of the address except our own outgoing
  // handshakes, accepted ones included; those stay unlimited (players share
  // NATs), so they are added to the allowance.
  size_t counted = 0, pending = 0;
  for (size_t i = 0; i < host->peerCount; ++i) {
    const ENetPeer& p = host->peers[i];
    if (p.state == ENET_PEER_STATE_DISCONNECTED || p.state == ENET_PEER_STATE_CONNECTING ||
        p.address.host != addressHost) {
      continue;
    }
    ++counted;
    if (IsPending(slots[i])) ++pending;
  }
  host->duplicatePeers = counted - pending + kMaxPendingPerAddress;
}

namespace {

// What ENet holds of a connection that it cannot hand on yet: messages behind
// a lost reliable one, fragments of unfinished ones.
struct Held {
  size_t messages = 0;
  size_t bytes = 0;
};

void AddHeld(const ENetList& list, Held& held) {
  for (const ENetListNode* n = list.sentinel.next; n != &list.sentinel; n = n->next) {
    const auto* command = reinterpret_cast<const ENetIncomingCommand*>(n);
    ++held.messages;
    if (command->packet) held.bytes += command->packet->dataLength;
  }
}

}  // namespace

bool Peer::Impl::LimitIncoming(uint16_t peerId) {
  const bool ours =
      peerId < slots.size() && slots[peerId].state != SlotState::kFree && !slots[peerId].incoming;
  if (ours) {  // a system we connected to: a server sends what it needs
    host->maximumPacketSize = kMaxMessageBytes;
    host->maximumWaitingData = kMaxWaitingBytes;
    return true;
  }
  host->maximumPacketSize = kMaxIncomingMessageBytes;
  host->maximumWaitingData = kMaxIncomingWaitingBytes;
  if (peerId >= host->peerCount) return true;  // a connect
  if (slots[peerId].stuck) return false;
  const ENetPeer& p = host->peers[peerId];
  Held held;
  for (size_t c = 0; c < p.channelCount; ++c) {
    AddHeld(p.channels[c].incomingReliableCommands, held);
    AddHeld(p.channels[c].incomingUnreliableCommands, held);
  }
  // Past either limit ENet would take nothing more, not even the message
  // that the held ones wait for: the connection could only stall. It is
  // closed instead (CheckDeadlines), and nothing more is read from it.
  if (held.messages >= kMaxIncomingCommands || held.bytes >= kMaxIncomingWaitingBytes) {
    slots[peerId].stuck = true;
    return false;
  }
  return true;
}

int ENET_CALLBACK Peer::Impl::Intercept(ENetHost* h, ENetEvent*) {
  Impl* self = servicing;
  if (!self || h->receivedDataLength < 2) return 0;
  const uint8_t* d = h->receivedData;
  if (h->receivedDataLength == 5 && (d[0] == ID_PING || d[0] == ID_PING_OPEN_CONNECTIONS)) {
    // Beyond the budget a query goes unanswered: its source may be forged.
    if (!self->queryBudget.Take(h->receivedAddress.host, self->pong.size(), GetTimeMs())) {
      ++self->unansweredQueries;
      return 1;
    }
    std::memcpy(self->pong.data() + 1, d + 1, 4);
    ENetBuffer buffer;
    buffer.data = self->pong.data();
    buffer.dataLength = self->pong.size();
    enet_socket_send(h->socket, &h->receivedAddress, &buffer, 1);
    return 1;
  }
  const size_t n = h->receivedDataLength;
  const ENetAddress& from = h->receivedAddress;
  uint32_t nonce = 0;
  if (ReadCookieRequest(d, n, &nonce)) {  // answered at once, and no longer than asked
    CookieDatagram answer = CookieAnswer(nonce, self->cookies.Make(from.host, GetTimeUs() / 1000));
    ENetBuffer buffer{answer.data(), answer.size()};
    enet_socket_send(h->socket, &from, &buffer, 1);
    return 1;
  }
  if (self->pendingConnects.TakeAnswer(d, n, from)) return 1;
  const uint16_t peerId = static_cast<uint16_t>(d[0] << 8 | d[1]) & ENET_PROTOCOL_MAXIMUM_PEER_ID;
  // Only a CONNECT with a cookie for its source address reaches ENet, and
  // only within the address's budget (beyond it the client's ENet sends it
  // again a moment later).
  if (peerId == ENET_PROTOCOL_MAXIMUM_PEER_ID) {
    if (!AdmitsConnect(d, n, from.host, self->cookies, GetTimeUs() / 1000)) return 1;
    if (!self->connectBudget.Take(from.host, GetTimeMs())) {
      ++self->unansweredConnects;
      return 1;
    }
  }
  // A connection for which ENet holds as much as it may loses the datagram,
  // and is closed.
  if (!self->LimitIncoming(peerId)) return 1;
  // A datagram for no peer yet is a connect: ENet checks it against
  // duplicatePeers right after this hook.
  if (peerId == ENET_PROTOCOL_MAXIMUM_PEER_ID) self->LimitPending(h->receivedAddress.host);
  return 0;
}

}  // namespace net

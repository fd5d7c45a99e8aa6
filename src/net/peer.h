// The UDP peer: connections over ENet, raw messages, RPCs by name, the ban
// list, the offline-ping response and the time-out. One class serves both
// sides: the server accepts connections, clients (the master-list announcer,
// tests, benchmarks) connect out.
//
// The peer runs its own network thread (sends, resends, acknowledgements and
// pings go on while the caller sleeps). Receive() runs on the caller's thread:
// it hands over the next message in arrival order and runs registered RPC
// handlers right there. A caller waiting in WaitForMessage() services the
// network itself meanwhile, and the network thread steps in when it stops.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "net/bitstream.h"
#include "net/types.h"

namespace net {

using RpcHandler = std::function<void(RPCParameters*)>;

// One send of a recording peer: the whole message (an RPC as it would go on
// the wire) and the connection indices it went to. An empty message is a
// close of the connection in `to`.
struct RecordedSend {
  std::vector<int> to;
  bool reliable = false;
  std::vector<uint8_t> message;
};
// Peers started from now on record (true) or use the network (false).
void RecordSendsInsteadOfSending(bool on);
// The clock that stamps what is handed to a recording peer (null: GetTimeMs).
void SetRecordingClock(uint32_t (*nowMs)());

class Peer {
 public:
  Peer();
  ~Peer();  // shuts down
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Starts the host and its network thread. `maxConnections` is how many
  // connections may be open at once (the connection limit); `threadSleepMs`
  // how long the network thread waits for traffic between its rounds; port 0
  // picks a free port; an empty or null `bindAddress` means any address.
  // False when it cannot start; errno then says why when the socket could
  // not be bound (EADDRINUSE, EADDRNOTAVAIL; EADDRNOTAVAIL too for a bind
  // address that is not dotted IPv4 text).
  bool Startup(uint16_t maxConnections, int threadSleepMs, uint16_t port, const char* bindAddress);
  // Closes every connection (with notification) and stops the thread.
  void Shutdown();
  bool IsActive() const;
  uint16_t GetBoundPort() const;

  // Incoming connections whose index is at or above this limit are refused
  // with ID_NO_FREE_INCOMING_CONNECTIONS. Defaults to the Startup count.
  void SetMaximumIncomingConnections(uint16_t count);
  void SetIncomingPassword(const char* data, int length);
  std::string GetIncomingPassword() const;
  // With a deadline, an accepted incoming connection counts against its
  // address's limit of pending connections until MarkJoined(its index), and
  // one that has not joined `ms` after the application took its acceptance
  // notice is closed (the application gets ID_CONNECTION_LOST,
  // LOST_JOIN_DEADLINE), but not before the application has handled every
  // message that arrived in time. 0, the default, counts every accepted
  // connection as joined.
  void SetJoinDeadline(uint32_t ms);
  void MarkJoined(int index);
  // Silence after which a connection is reported lost (ID_CONNECTION_LOST).
  // The target is accepted for interface compatibility; the time applies to all.
  void SetTimeoutTime(uint32_t ms, const SystemAddress& target);

  // Connects out. The result arrives through Receive(): 14 (accepted), 15, 18,
  // 22 or 23. False when the host cannot be resolved or the peer is not started.
  // The network thread first asks the server for its cookie (net/cookie.h),
  // and connects without one when none has come within a second.
  bool Connect(const char* host, uint16_t port, const char* password, int passwordLength);
  // Ends a connection. Everything queued to it before the call still reaches
  // it. With `notify` false the application gets no notice of this close.
  void CloseConnection(const SystemAddress& target, bool notify, uint8_t orderingChannel = 0);
  // Ends the accepted connection in slot `index` as the library's own limits
  // do, for a reason the application gives (and logs) itself: what waits to
  // be sent to it is dropped, and the application gets ID_CONNECTION_LOST
  // with LOST_BY_APPLICATION after what already waits from it.
  void DropConnection(int index);

  // The next message, or nullptr when none waits. RPCs are dispatched to their
  // handlers here and are not returned; after 256 of them in one call the call
  // returns nullptr even if more wait (they are taken by the next call).
  Packet* Receive();
  // Waits up to `ms` for a message to wait in the queue; true when one does.
  // One caller at a time does the network's work while it waits, so that a
  // message reaches it without a hand-off between threads.
  bool WaitForMessage(int ms);
  void DeallocatePacket(Packet* packet);

  // Raw messages; the first byte is the message id. The receiver sees the
  // bytes (bit count rounded up to whole bytes).
  bool Send(const BitStream* stream, PacketPriority priority, PacketReliability reliability,
            uint8_t orderingChannel, const SystemAddress& target, bool broadcast);
  bool Send(const uint8_t* data, uint32_t bitCount, PacketPriority priority,
            PacketReliability reliability, uint8_t orderingChannel, const SystemAddress& target,
            bool broadcast);

  // One message to a set of connections by index: one packet that every
  // receiver shares, queued to each under one lock in the order given.
  // Indices without an open connection, and repeats, are skipped. Returns how
  // many connections it was queued to; -1 when the message cannot be sent.
  int Send(const BitStream* stream, PacketPriority priority, PacketReliability reliability,
           uint8_t orderingChannel, std::span<const uint16_t> indices);
  int Send(const uint8_t* data, uint32_t bitCount, PacketPriority priority,
           PacketReliability reliability, uint8_t orderingChannel,
           std::span<const uint16_t> indices);

  // RPCs by name; the receiver's handler gets the exact bit count.
  // Targets: (address, false) that system; (UNASSIGNED, true) everyone;
  // (address, true) all but that system; (UNASSIGNED, false) nobody.
  bool RPC(const char* name, const BitStream* payload, PacketPriority priority,
           PacketReliability reliability, uint8_t orderingChannel, const SystemAddress& target,
           bool broadcast);
  bool RPC(const char* name, const uint8_t* data, uint32_t bitCount, PacketPriority priority,
           PacketReliability reliability, uint8_t orderingChannel, const SystemAddress& target,
           bool broadcast);
  // An RPC to a set of connections by index, as Send above.
  int RPC(const char* name, const BitStream* payload, PacketPriority priority,
          PacketReliability reliability, uint8_t orderingChannel,
          std::span<const uint16_t> indices);
  void RegisterAsRemoteProcedureCall(const char* name, RpcHandler handler);
  void UnregisterAsRemoteProcedureCall(const char* name);

  // -1 when the address has no open connection.
  int GetIndexFromSystemAddress(const SystemAddress& address) const;
  // UNASSIGNED_SYSTEM_ADDRESS when the index has no open connection.
  SystemAddress GetSystemAddressFromIndex(int index) const;
  // Round trip in milliseconds, -1 when not connected.
  int GetLastPing(const SystemAddress& address) const;

  // Ban list: dotted IPv4 texts where a part may be "*". Time 0 = forever.
  void AddToBanList(const char* ip, uint32_t milliseconds = 0);
  void RemoveFromBanList(const char* ip);  // exact text
  bool IsBanned(const char* ip) const;
  void ClearBanList();
  // Replaces the whole list at once with `ips`, each banned forever: a
  // connection checked meanwhile meets the old list or the new one.
  void ReplaceBanList(const std::vector<std::string>& ips);

  // Each connection's share of the messages waiting for the application:
  // unreliable ones beyond it are dropped (reliable ones have a reserve).
  static constexpr size_t kMaxQueuedPerConnection = 4096;
  static constexpr size_t kMaxQueuedBytesPerConnection = 1u << 20;

  // What the limits dropped without a word to anyone, since the last call:
  // unreliable messages of the connection in slot `index` that did not fit
  // its share of the queue, and queries beyond the reply budget.
  uint32_t TakeDroppedMessages(int index);
  uint32_t TakeUnansweredQueries();
  // ENet connects (with a good cookie) beyond their address's budget: one
  // address may start kConnectBurstPerAddress at once, then one each
  // kConnectEachMs.
  uint32_t TakeUnansweredConnects();
  static constexpr uint32_t kConnectBurstPerAddress = 20;
  static constexpr uint32_t kConnectEachMs = 5000;

  // The bytes sent after ID_PONG and the time in answer to a query datagram.
  void SetOfflinePingResponse(const char* data, uint32_t length);
  std::string GetOfflinePingResponse() const;

  // ---- a peer that records instead of sending ----
  // A peer started while RecordSendsInsteadOfSending(true) holds opens no
  // socket and runs no thread: what it would send is kept, and connections and
  // messages are handed in by connection index. Receive() works as usual, so
  // the application under test runs its real handlers. For tests and tools.
  bool IsRecording() const;
  // A remote at `address` completed its connection in slot `index` (the
  // application gets ID_NEW_INCOMING_CONNECTION). False when the slot is taken.
  bool InjectConnection(int index, const SystemAddress& address);
  // A message from the connection in slot `index` (first byte its id), as
  // ENet would deliver it reliably or not. False when the slot has no
  // connection or the message did not fit the connection's share.
  bool InjectMessage(int index, const uint8_t* data, uint32_t length, bool reliable = true);
  // The connection in slot `index` ended: closed by the remote, or lost.
  void InjectDisconnection(int index, bool lost);
  // Everything sent since the last call, oldest first.
  std::vector<RecordedSend> TakeRecorded();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Master-list row updates (message 71), sent through a Peer.
enum RowUpdateMode : uint8_t {
  RUM_UPDATE_OR_ADD_ROW = 0,
  RUM_UPDATE_EXISTING_ROW = 1,
  RUM_ADD_NEW_ROW = 2,
};

struct RowCell {
  enum Type : uint8_t { NUMERIC = 0, STRING = 1 };
  std::string columnName;
  Type type = NUMERIC;
  double number = 0;
  std::string text;
};

class LightweightDatabaseClient {
 public:
  void Attach(Peer* peer) { peer_ = peer; }
  // Sends the row update at high priority, reliable ordered, channel 0.
  bool UpdateRow(const char* tableName, const char* updatePassword, RowUpdateMode mode,
                 bool hasRowId, uint32_t rowId, const std::vector<RowCell>& cells,
                 const SystemAddress& target, bool broadcast);
  // Parses a row update message (for master-list servers and tests).
  struct RowUpdate {
    std::string tableName, updatePassword;
    RowUpdateMode mode = RUM_UPDATE_OR_ADD_ROW;
    bool hasRowId = false;
    uint32_t rowId = 0;
    std::vector<RowCell> cells;
  };
  static bool ParseRowUpdate(const uint8_t* data, uint32_t length, RowUpdate& out);

 private:
  Peer* peer_ = nullptr;
};

}  // namespace net

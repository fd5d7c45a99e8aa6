// A stand-in for the master-list server: accepts the announcer's connection,
// tells it the address it is seen from (message 31), and records the row
// updates (71) it sends, or answers them with 72 / 73.
//
// Not thread-safe: everything happens inside Pump() on the caller's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/peer.h"
#include "net/types.h"

namespace support {

class FakeMasterList {
 public:
  using RowUpdate = net::LightweightDatabaseClient::RowUpdate;

  // Listens on 127.0.0.1:port (0 picks a free port). `addressText` is what the
  // 31 after each accepted connection carries.
  explicit FakeMasterList(uint16_t port = 0, std::string addressText = "127.0.0.1");
  ~FakeMasterList();
  FakeMasterList(const FakeMasterList&) = delete;
  FakeMasterList& operator=(const FakeMasterList&) = delete;

  bool Started() const { return started_; }
  uint16_t Port() const { return port_; }

  // The text sent in 31 to connections accepted from now on.
  void SetAddressText(std::string text) { addressText_ = std::move(text); }
  // 0 (the default) records row updates; 72 or 73 answers each with that
  // message instead of recording it.
  void AnswerRowUpdatesWith(uint8_t id) { answer_ = id; }

  void Pump();
  // Pumps until `count` row updates were recorded; false on time-out.
  bool WaitForRowUpdates(size_t count = 1, uint32_t timeoutMs = 3000);

  size_t ConnectionsAccepted() const { return accepted_; }
  const std::vector<RowUpdate>& RowUpdates() const { return rows_; }
  size_t RowUpdatesAnswered() const { return answered_; }

  // The most recently accepted (still connected) announcer.
  const net::SystemAddress& Announcer() const { return announcer_; }
  // Sends arbitrary bytes to the announcer. False when none is connected.
  bool SendToAnnouncer(const std::vector<uint8_t>& bytes,
                       net::PacketReliability reliability = net::RELIABLE_ORDERED);

  // The cell named `column` in `row`, or nullptr.
  static const net::RowCell* Cell(const RowUpdate& row, const std::string& column);

  net::Peer& GetPeer() { return *peer_; }

 private:
  std::unique_ptr<net::Peer> peer_;
  std::string addressText_;
  bool started_ = false;
  uint16_t port_ = 0;
  uint8_t answer_ = 0;
  size_t accepted_ = 0;
  size_t answered_ = 0;
  std::vector<RowUpdate> rows_;
  net::SystemAddress announcer_ = net::UNASSIGNED_SYSTEM_ADDRESS;
};

}  // namespace support

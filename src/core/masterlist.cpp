// The master-list announcer: a second peer that keeps a connection to the
// master-list server and writes this server's row whenever that server tells
// it the address it sees us under.
#include <cstring>
#include <string>
#include <vector>

#include "core/query.h"
#include "core/settings.h"
#include "net/peer.h"
#include "net/types.h"

#ifndef QLM_MASTER_LIST_HOST
#define QLM_MASTER_LIST_HOST "127.0.0.1"
#endif

namespace {

// The address text lives in a 50-byte field on the master-list side.
constexpr uint32_t kMaxAddressLength = 49;

// A plain pointer: the peer is never torn down by static destruction at exit,
// when the network library's own statics may already be gone.
net::Peer* gMasterListPeer = nullptr;
net::LightweightDatabaseClient gMasterListClient;
uint32_t gConnectAttempts = 0;
std::string gMasterListHost = QLM_MASTER_LIST_HOST;
uint16_t gMasterListPort = kMasterListPort;

void ConnectToMasterList() {
  if (!gMasterListPeer) return;
  ++gConnectAttempts;
  gMasterListPeer->Connect(gMasterListHost.c_str(), gMasterListPort, nullptr, 0);
}

// Message 31: u8 id, u32 length, the address text. `offset` is where the id
// stands (after a time stamp when there is one).
void HandleAddressReply(const uint8_t* data, uint32_t length, uint32_t offset) {
  if (length < offset + 5) return;
  const uint8_t* p = data + offset + 1;
  const uint32_t textLength = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  // A reply that claims more than the field holds or than the packet carries
  // is not used at all.
  if (textLength > kMaxAddressLength || textLength > length - offset - 5) return;
  const char* text = reinterpret_cast<const char*>(p + 4);

  std::vector<net::RowCell> cells(2);
  cells[0].columnName = "IP";
  cells[0].type = net::RowCell::STRING;
  cells[0].text.assign(text, strnlen(text, textLength));
  cells[1].columnName = "Port";
  cells[1].type = net::RowCell::NUMERIC;
  cells[1].number = gServerSettings.port;
  gMasterListClient.UpdateRow("QLM", "tarn", net::RUM_UPDATE_OR_ADD_ROW, false, 0, cells,
                              net::UNASSIGNED_SYSTEM_ADDRESS, true);
  UpdateServerQueryReply();
}

// `reconnected` is set once this pass has called Connect. Connecting while the
// link is still up makes the network library queue ID_ALREADY_CONNECTED at
// once; answering that with another Connect would keep the pass from ever
// emptying the queue, so one attempt per pass serves every failure in it.
void HandleMasterListPacket(const net::Packet* packet, bool& reconnected) {
  if (!packet->data || packet->length == 0) return;
  uint32_t offset = 0;
  if (packet->data[0] == net::ID_TIMESTAMP) {
    if (packet->length <= 5) return;
    offset = 5;
  }
  switch (packet->data[offset]) {
    case net::ID_CONNECTION_ATTEMPT_FAILED:
    case net::ID_ALREADY_CONNECTED:
    case net::ID_NO_FREE_INCOMING_CONNECTIONS:
    case net::ID_DISCONNECTION_NOTIFICATION:
    case net::ID_CONNECTION_LOST:
    case net::ID_INVALID_PASSWORD:
    case net::ID_DATABASE_UNKNOWN_TABLE:
    case net::ID_DATABASE_INCORRECT_PASSWORD:
      // No back-off beyond the pass's own cadence.
      if (!reconnected) ConnectToMasterList();
      reconnected = true;
      break;
    case net::ID_MASTER_LIST_ADDRESS:
      HandleAddressReply(packet->data, packet->length, offset);
      break;
    default:
      break;
  }
}

}  // namespace

void StartMasterList() {
  StopMasterList();
  gMasterListPeer = new net::Peer();
  gMasterListPeer->Startup(1, 500, 0, "");
  gMasterListClient.Attach(gMasterListPeer);
  gConnectAttempts = 0;
  ConnectToMasterList();
}

void ProcessMasterList() {
  // A peer that was never started (announce switched on after start-up) has
  // nothing to hand over.
  if (!gMasterListPeer) return;
  bool reconnected = false;
  while (net::Packet* packet = gMasterListPeer->Receive()) {
    HandleMasterListPacket(packet, reconnected);
    gMasterListPeer->DeallocatePacket(packet);
  }
}

void StopMasterList() {
  if (!gMasterListPeer) return;
  gMasterListClient.Attach(nullptr);
  gMasterListPeer->Shutdown();
  delete gMasterListPeer;
  gMasterListPeer = nullptr;
  gConnectAttempts = 0;
}

net::Peer* GetMasterListPeer() { return gMasterListPeer; }

uint32_t GetMasterListConnectAttempts() { return gConnectAttempts; }

void SetMasterListTargetForTesting(const char* host, uint16_t port) {
  gMasterListHost = host ? host : QLM_MASTER_LIST_HOST;
  gMasterListPort = host ? port : kMasterListPort;
}

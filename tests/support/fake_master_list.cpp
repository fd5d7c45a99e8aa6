#include "support/fake_master_list.h"

#include "net/bitstream.h"
#include "support/test_client.h"

namespace support {

FakeMasterList::FakeMasterList(uint16_t port, std::string addressText)
    : peer_(std::make_unique<net::Peer>()), addressText_(std::move(addressText)) {
  started_ = peer_->Startup(8, 1, port, "127.0.0.1");
  if (started_) port_ = peer_->GetBoundPort();
}

FakeMasterList::~FakeMasterList() { peer_->Shutdown(); }

void FakeMasterList::Pump() {
  if (!started_) return;
  while (net::Packet* p = peer_->Receive()) {
    const uint8_t id = p->length > 0 && p->data ? p->data[0] : 0;
    if (id == net::ID_NEW_INCOMING_CONNECTION) {
      ++accepted_;
      announcer_ = p->systemAddress;
      net::BitStream bs;
      bs.Write<uint8_t>(net::ID_MASTER_LIST_ADDRESS);
      bs.Write<uint32_t>(static_cast<uint32_t>(addressText_.size()));
      bs.WriteBytes(addressText_.data(), static_cast<uint32_t>(addressText_.size()));
      peer_->Send(&bs, net::HIGH_PRIORITY, net::RELIABLE_ORDERED, 0, p->systemAddress, false);
    } else if (id == net::ID_DISCONNECTION_NOTIFICATION || id == net::ID_CONNECTION_LOST) {
      if (p->systemAddress == announcer_) announcer_ = net::UNASSIGNED_SYSTEM_ADDRESS;
    } else if (id == net::ID_DATABASE_UPDATE_ROW && answer_ != 0) {
      ++answered_;
      peer_->Send(&answer_, 8, net::HIGH_PRIORITY, net::RELIABLE_ORDERED, 0, p->systemAddress,
                  false);
    } else if (id == net::ID_DATABASE_UPDATE_ROW) {
      RowUpdate row;
      if (net::LightweightDatabaseClient::ParseRowUpdate(p->data, p->length, row)) {
        rows_.push_back(std::move(row));
      }
    }
    peer_->DeallocatePacket(p);
  }
}

bool FakeMasterList::WaitForRowUpdates(size_t count, uint32_t timeoutMs) {
  return WaitUntil([&] { return rows_.size() >= count; }, timeoutMs, [this] { Pump(); });
}

bool FakeMasterList::SendToAnnouncer(const std::vector<uint8_t>& bytes,
                                     net::PacketReliability reliability) {
  if (announcer_ == net::UNASSIGNED_SYSTEM_ADDRESS || bytes.empty()) return false;
  return peer_->Send(bytes.data(), static_cast<uint32_t>(bytes.size()) * 8, net::HIGH_PRIORITY,
                     reliability, 0, announcer_, false);
}

const net::RowCell* FakeMasterList::Cell(const RowUpdate& row, const std::string& column) {
  for (const auto& c : row.cells) {
    if (c.columnName == column) return &c;
  }
  return nullptr;
}

}  // namespace support

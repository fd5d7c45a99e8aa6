// Master-list row updates (message 71).

#include "net/bitstream.h"
#include "net/peer.h"

namespace net {

namespace {

bool WriteShortText(BitStream& out, const std::string& text) {
  if (text.size() > 255) return false;
  out.Write(static_cast<uint8_t>(text.size()));
  out.WriteBytes(text.data(), static_cast<uint32_t>(text.size()));
  return true;
}

bool ReadText(BitStream& in, uint32_t length, std::string& out) {
  if (in.GetNumberOfUnreadBits() / 8 < length) return false;
  std::string text(length, '\0');
  if (length > 0 && !in.ReadBytes(text.data(), length)) return false;
  out = std::move(text);
  return true;
}

bool ReadShortText(BitStream& in, std::string& out) {
  uint8_t length = 0;
  return in.Read(length) && ReadText(in, length, out);
}

}  // namespace

bool LightweightDatabaseClient::UpdateRow(const char* tableName, const char* updatePassword,
                                          RowUpdateMode mode, bool hasRowId, uint32_t rowId,
                                          const std::vector<RowCell>& cells,
                                          const SystemAddress& target, bool broadcast) {
  if (!peer_ || !tableName || !updatePassword || cells.size() > 255) return false;
  BitStream out;
  out.Write(static_cast<uint8_t>(ID_DATABASE_UPDATE_ROW));
  if (!WriteShortText(out, tableName) || !WriteShortText(out, updatePassword)) return false;
  out.Write(static_cast<uint8_t>(mode));
  out.WriteBit(hasRowId);
  if (hasRowId) out.Write(rowId);
  out.Write(static_cast<uint8_t>(cells.size()));
  for (const RowCell& cell : cells) {
    if (!WriteShortText(out, cell.columnName)) return false;
    out.Write(static_cast<uint8_t>(cell.type));
    if (cell.type == RowCell::NUMERIC) {
      out.Write(cell.number);
    } else if (cell.type == RowCell::STRING && cell.text.size() <= 0xFFFF) {
      out.Write(static_cast<uint16_t>(cell.text.size()));
      out.WriteBytes(cell.text.data(), static_cast<uint32_t>(cell.text.size()));
    } else {
      return false;
    }
  }
  return peer_->Send(&out, HIGH_PRIORITY, RELIABLE_ORDERED, 0, target, broadcast);
}

bool LightweightDatabaseClient::ParseRowUpdate(const uint8_t* data, uint32_t length,
                                               RowUpdate& out) {
  if (!data || length == 0 || length > UINT32_MAX / 8) return false;
  BitStream in(data, length * 8);
  uint8_t id = 0;
  if (!in.Read(id) || id != ID_DATABASE_UPDATE_ROW) return false;
  RowUpdate row;
  uint8_t mode = 0;
  if (!ReadShortText(in, row.tableName) || !ReadShortText(in, row.updatePassword) ||
      !in.Read(mode) || mode > RUM_ADD_NEW_ROW || !in.ReadBit(row.hasRowId)) {
    return false;
  }
  row.mode = static_cast<RowUpdateMode>(mode);
  if (row.hasRowId && !in.Read(row.rowId)) return false;
  uint8_t count = 0;
  if (!in.Read(count)) return false;
  row.cells.resize(count);
  for (RowCell& cell : row.cells) {
    uint8_t type = 0;
    if (!ReadShortText(in, cell.columnName) || !in.Read(type)) return false;
    if (type == RowCell::NUMERIC) {
      cell.type = RowCell::NUMERIC;
      if (!in.Read(cell.number)) return false;
    } else if (type == RowCell::STRING) {
      cell.type = RowCell::STRING;
      uint16_t textLength = 0;
      if (!in.Read(textLength) || !ReadText(in, textLength, cell.text)) return false;
    } else {
      return false;
    }
  }
  out = std::move(row);
  return true;
}

}  // namespace net

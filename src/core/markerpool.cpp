#include "core/markerpool.h"

#include <cstring>

MarkerPool::MarkerPool() { Clear(); }

void MarkerPool::Clear() { std::memset(records, 0, sizeof records); }

int MarkerPool::FindFreeSlot() const {
  for (int id = 0; id < kMaxMarkers; ++id) {
    if (records[id].kind == kMarkerFree) return id;
  }
  return -1;
}

bool MarkerPool::AddCheckpoint(float x, float y, float z, float radius) {
  const int id = FindFreeSlot();
  if (id < 0) return false;
  records[id] = MarkerRecord{kMarkerCheckpoint, 0, 0, 0, x, y, z, radius};
  return true;
}

bool MarkerPool::AddCorona(uint8_t red, uint8_t green, uint8_t blue, float x, float y, float z) {
  const int id = FindFreeSlot();
  if (id < 0) return false;
  records[id] = MarkerRecord{kMarkerCorona, red, green, blue, x, y, z, kCoronaSize};
  return true;
}

MarkerRecord* MarkerPool::OfKind(uint8_t id, uint8_t kind) {
  if (id >= kMaxMarkers || records[id].kind != kind) return nullptr;
  return &records[id];
}

bool MarkerPool::DestroyCheckpoint(uint8_t id) {
  MarkerRecord* r = OfKind(id, kMarkerCheckpoint);
  if (!r) return false;
  std::memset(r, 0, sizeof *r);
  return true;
}

bool MarkerPool::DestroyCorona(uint8_t id) {
  MarkerRecord* r = OfKind(id, kMarkerCorona);
  if (!r) return false;
  std::memset(r, 0, sizeof *r);
  return true;
}

bool MarkerPool::SetCheckpointRadius(uint8_t id, float radius) {
  MarkerRecord* r = OfKind(id, kMarkerCheckpoint);
  if (!r) return false;
  r->radius = radius;
  return true;
}

bool MarkerPool::SetCheckpointPosition(uint8_t id, float x, float y, float z) {
  MarkerRecord* r = OfKind(id, kMarkerCheckpoint);
  if (!r) return false;
  r->x = x, r->y = y, r->z = z;
  return true;
}

bool MarkerPool::SetCoronaColor(uint8_t id, uint8_t red, uint8_t green, uint8_t blue) {
  MarkerRecord* r = OfKind(id, kMarkerCorona);
  if (!r) return false;
  r->red = red, r->green = green, r->blue = blue;
  return true;
}

bool MarkerPool::SetCoronaPosition(uint8_t id, float x, float y, float z) {
  MarkerRecord* r = OfKind(id, kMarkerCorona);
  if (!r) return false;
  r->x = x, r->y = y, r->z = z;
  return true;
}

uint8_t MarkerPool::GetKind(uint8_t id) const {
  return id < kMaxMarkers ? records[id].kind : static_cast<uint8_t>(kMarkerFree);
}

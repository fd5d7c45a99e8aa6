// The script events and command hand-over, as the core and the IRC client
// raise them. An event is data: its kind (a row of core/event_list.h) and its
// arguments. The script host implements ScriptEventSink and installs it; with
// no sink installed (no script state, or a restart pending) every raise does
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

enum class ScriptEventKind : uint8_t {
#define QLM_EVENT(Kind, layout) k##Kind,
#include "core/event_list.h"
#undef QLM_EVENT
};

// A row of the event list: the handler's global name and the argument layout.
struct ScriptEventRow {
  const char* name;
  const char* layout;
};
inline constexpr ScriptEventRow kScriptEventRows[] = {
#define QLM_EVENT(Kind, layout) {"on" #Kind, layout},
#include "core/event_list.h"
#undef QLM_EVENT
};
constexpr const ScriptEventRow& RowOf(ScriptEventKind kind) {
  return kScriptEventRows[static_cast<size_t>(kind)];
}

inline constexpr size_t kMaxScriptEventArgs = 4;

// One argument; the row's layout says which field holds it. A null text
// reaches the script as the empty string.
struct ScriptEventArg {
  int64_t number = 0;
  const char* text = nullptr;
};

struct ScriptEvent {
  ScriptEventKind kind;
  ScriptEventArg args[kMaxScriptEventArgs];
};

class ScriptEventSink {
 public:
  virtual ~ScriptEventSink() = default;
  virtual void Raise(const ScriptEvent& event) = 0;
  // A player's command line as the client sent it, and an IRC "!" line.
  virtual void DispatchPlayerCommand(uint8_t playerId, const char* line) = 0;
  virtual void DispatchIRCCommand(uint8_t botId, const char* nick, const char* channel,
                                  const char* line) = 0;
};

// The installed sink, or null.
void SetScriptEventSink(ScriptEventSink* sink);
ScriptEventSink* GetScriptEventSink();

namespace events_detail {

inline ScriptEventArg Arg(const char* text) { return {0, text}; }
template <typename T>
  requires std::is_integral_v<T>
ScriptEventArg Arg(T number) {
  return {static_cast<int64_t>(number), nullptr};
}

// True when the argument types spell the layout (a text for t, a number for n).
template <typename... Args>
constexpr bool Spells(const char* layout) {
  const char letters[] = {(std::is_same_v<Args, const char*> ? 't' : 'n')..., '\0'};
  for (size_t i = 0; layout[i] == letters[i]; ++i) {
    if (!letters[i]) return true;
  }
  return false;
}

}  // namespace events_detail

// Hands the event to the sink when one is installed.
template <ScriptEventKind Kind, typename... Args>
void RaiseScriptEvent(Args... args) {
  static_assert(events_detail::Spells<Args...>(RowOf(Kind).layout),
                "the raiser's arguments do not match the event's layout");
  if (ScriptEventSink* sink = GetScriptEventSink()) {
    sink->Raise(ScriptEvent{Kind, {events_detail::Arg(args)...}});
  }
}

// The raising operations.
inline void CallOnPlayerConnect(uint8_t playerId) {
  RaiseScriptEvent<ScriptEventKind::kPlayerConnect>(playerId);
}
inline void CallOnPlayerDisconnect(uint8_t playerId, uint8_t reason) {
  RaiseScriptEvent<ScriptEventKind::kPlayerDisconnect>(playerId, reason);
}
inline void CallOnPlayerSpawn(uint8_t playerId) {
  RaiseScriptEvent<ScriptEventKind::kPlayerSpawn>(playerId);
}
inline void CallOnPlayerDeath(uint8_t playerId, uint8_t killer, uint8_t reason) {
  RaiseScriptEvent<ScriptEventKind::kPlayerDeath>(playerId, killer, reason);
}
inline void CallOnPlayerChat(uint8_t playerId, const char* text) {
  RaiseScriptEvent<ScriptEventKind::kPlayerChat>(playerId, text);
}
inline void CallOnPlayerKeyPress(uint8_t playerId, uint8_t key) {
  RaiseScriptEvent<ScriptEventKind::kPlayerKeyPress>(playerId, key);
}
inline void CallOnPlayerEnterVehicle(uint8_t playerId, uint32_t vehicleId, uint8_t seat) {
  RaiseScriptEvent<ScriptEventKind::kPlayerEnterVehicle>(playerId, vehicleId, seat);
}
inline void CallOnPlayerExitVehicle(uint8_t playerId, int16_t vehicleId) {
  RaiseScriptEvent<ScriptEventKind::kPlayerExitVehicle>(playerId, vehicleId);
}
inline void CallOnPlayerEnterGlobalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) {
  RaiseScriptEvent<ScriptEventKind::kPlayerEnterGlobalMarker>(playerId, markerId, third);
}
inline void CallOnPlayerExitGlobalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) {
  RaiseScriptEvent<ScriptEventKind::kPlayerExitGlobalMarker>(playerId, markerId, third);
}
inline void CallOnPlayerEnterLocalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) {
  RaiseScriptEvent<ScriptEventKind::kPlayerEnterLocalMarker>(playerId, markerId, third);
}
inline void CallOnPlayerExitLocalMarker(uint8_t playerId, uint8_t markerId, uint8_t third) {
  RaiseScriptEvent<ScriptEventKind::kPlayerExitLocalMarker>(playerId, markerId, third);
}
inline void CallOnPlayerEnterGlobalPickup(uint8_t playerId, uint8_t pickupId) {
  RaiseScriptEvent<ScriptEventKind::kPlayerEnterGlobalPickup>(playerId, pickupId);
}
inline void CallOnPlayerEnterLocalPickup(uint8_t playerId, uint8_t pickupId) {
  RaiseScriptEvent<ScriptEventKind::kPlayerEnterLocalPickup>(playerId, pickupId);
}
inline void CallOnPlayerEnterArea(uint8_t playerId, int16_t areaId) {
  RaiseScriptEvent<ScriptEventKind::kPlayerEnterArea>(playerId, areaId);
}
inline void CallOnPlayerLeaveArea(uint8_t playerId, int16_t areaId) {
  RaiseScriptEvent<ScriptEventKind::kPlayerLeaveArea>(playerId, areaId);
}
inline void CallOnIRCUserJoin(uint8_t botId, const char* nick, const char* channel) {
  RaiseScriptEvent<ScriptEventKind::kIRCUserJoin>(botId, nick, channel);
}
inline void CallOnIRCUserLeave(uint8_t botId, const char* nick, const char* channel, uint8_t how) {
  RaiseScriptEvent<ScriptEventKind::kIRCUserLeave>(botId, nick, channel, how);
}

// The command hand-over: forwards to the sink when one is installed.
void DispatchPlayerCommand(uint8_t playerId, const char* line);
void DispatchIRCCommand(uint8_t botId, const char* nick, const char* channel, const char* line);

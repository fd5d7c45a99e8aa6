// A script-event sink that ignores everything: test sinks derive from it and
// override what they record.
#pragma once

#include <cctype>
#include <string>
#include <string_view>

#include "core/events.h"

class NullEventSink : public ScriptEventSink {
 public:
  void Raise(const ScriptEvent&) override {}
  void DispatchPlayerCommand(uint8_t, const char*) override {}
  void DispatchIRCCommand(uint8_t, const char*, const char*, const char*) override {}
};

// An event as one line: its name without "on" and "Player" or "IRCUser" in
// lower case, then each argument ("connect 3", "chat 4 hi", "join 0 bob #c").
inline std::string DescribeEvent(const ScriptEvent& event) {
  const ScriptEventRow& row = RowOf(event.kind);
  std::string_view name = std::string_view(row.name).substr(2);
  for (std::string_view subject : {"Player", "IRCUser"}) {
    if (name.starts_with(subject)) name.remove_prefix(subject.size());
  }
  std::string line;
  for (char c : name) line += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (size_t i = 0; row.layout[i]; ++i) {
    const ScriptEventArg& arg = event.args[i];
    if (row.layout[i] == 'n') line += " " + std::to_string(arg.number);
    if (row.layout[i] == 't' && arg.text) line += std::string(" ") + arg.text;
  }
  return line;
}

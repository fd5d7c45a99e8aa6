#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "core/admin.h"
#include "core/ban_file.h"
#include "core/log.h"
#include "core/netgame.h"
#include "core/query.h"
#include "core/rpc.h"
#include "server/server.h"

namespace {

constexpr int kLineBufferSize = 256;

// The player id of "ban" and "kick": the number at the start of the rest
// (leading blanks skipped, 0 when there is none), taken as its low byte. The
// digits are folded modulo 256 as they come, so any length of number is safe.
uint8_t ParsePlayerId(const std::string& rest) {
  size_t at = rest.find_first_not_of(' ');
  if (at == std::string::npos) return 0;
  bool negative = false;
  if (rest[at] == '-' || rest[at] == '+') {
    negative = rest[at] == '-';
    ++at;
  }
  unsigned value = 0;
  for (; at < rest.size() && rest[at] >= '0' && rest[at] <= '9'; ++at) {
    value = (value * 10 + static_cast<unsigned>(rest[at] - '0')) & 0xFF;
  }
  return static_cast<uint8_t>(negative ? (256 - value) & 0xFF : value);
}

void KickOrBan(const std::string* rest, uint8_t reason) {
  const bool ban = reason == kReasonBanned;
  if (!rest) {
    LogPrint(0, ban ? "[CONSOLE] >> SYNTAX: /BAN <PLAYER ID>" : "[CONSOLE] >> SYNTAX: /KICK <PLAYER ID>");
    return;
  }
  const uint8_t playerId = ParsePlayerId(*rest);
  PlayerPool* pool = GetPlayerPool();
  if (!pool || !pool->IsInUse(playerId)) {
    LogPrint(0, "[CONSOLE] >> ERROR: That player is not connected.");
    return;
  }
  LogPrint(0, ban ? "[CONSOLE] Player %s [ID: %d] has successfully been banned."
                  : "[CONSOLE] Player %s [ID: %d] has successfully been kicked.",
           pool->names[playerId], playerId);
  RemovePlayerFromServer(playerId, reason);
}

void Say(const std::string* rest) {
  if (!rest) {
    LogPrint(0, "[CONSOLE] >> SYNTAX: /SAY <TEXT>");
    return;
  }
  std::string message = "Console Admin: " + *rest;
  // The length travels in one byte: a longer text is cut to 255 bytes.
  if (message.size() > 255) message.resize(255);
  Rpc("OutputChatBox").u8(static_cast<uint8_t>(message.size())).chars(message.data(), message.size())
      .u8(0).u8(255).u8(255).u8(255).ToAll();
  LogPrint(1, "[ADMIN] %s", message.c_str());
}

}  // namespace

void ExecuteConsoleCommand(const char* line) {
  const std::string text = line ? line : "";
  const size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) return;  // blanks only: no command word
  const size_t end = text.find(' ', start);
  const std::string word = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
  std::string restText;
  const std::string* rest = nullptr;
  if (end != std::string::npos && end + 1 < text.size()) {
    restText = text.substr(end + 1);
    rest = &restText;
  }

  if (word == "exit" || word == "quit") {
    // Other threads are still running (the main loop waits for the hand-off):
    // end the process without running destructors under them.
    std::fflush(nullptr);
    std::_Exit(50);
  } else if (word == "reloadbans") {
    if (BanList::Load()) {
      LogPrint(0, "[CONSOLE] The bans file has been reloaded successfully.");
    } else {
      LogPrint(0, "[CONSOLE] >> ERROR: The bans file could not be read; the bans are unchanged.");
    }
  } else if (word == "ban") {
    KickOrBan(rest, kReasonBanned);
  } else if (word == "kick") {
    KickOrBan(rest, kReasonKicked);
  } else if (word == "say") {
    Say(rest);
  } else if (word == "gmx" || word == "restart") {
    RestartServer();
  } else if (word == "help") {
    LogPrint(0, "[CONSOLE] List of commands:\ngmx\trestart\tsay\nkick\tban\texit\nquit");
  } else {
    LogPrint(0, "[CONSOLE] >> ERROR: Unknown command.");
    LogPrint(0, "          >> Type 'help' for a full list of console commands.");
  }
}

void HandleConsoleLine(const char* line) {
  platform::Handoff& handoff = MainLoopHandoff();
  handoff.Wait();
  LogPrintFileOnly(1, "[CONSOLE INPUT] %s", line);
  ExecuteConsoleCommand(line);
  handoff.Signal();
}

void ConsoleInputThread() {
  char line[kLineBufferSize];
  for (;;) {
    std::memset(line, 0, sizeof line);
    const int length = platform::ReadConsoleLine(0, line);
    if (length < 0) {
      platform::ConsoleBackOff();
      continue;
    }
    if (length == 0) continue;  // an empty line neither takes nor gives back the hand-off
    HandleConsoleLine(line);
  }
}

void StartConsoleThread() {
  std::thread(ConsoleInputThread).detach();
}

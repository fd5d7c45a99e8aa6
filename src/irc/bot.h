// The IRC bots: up to five plain TCP connections to IRC servers that the game
// mode drives through its "IRC" library. A bot is in at most one channel; from
// what it reads it answers PING, keeps the channel's users with their mode
// prefixes, raises "onIRCUserJoin"/"onIRCUserLeave" and hands "!" lines to the
// script's IRC commands (all through core/events.h). Main thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "irc/line.h"

inline constexpr uint8_t kMaxIrcBots = 5;
// NAMES is asked for channels up to this long.
inline constexpr size_t kMaxNamesChannelLength = 50;
// How long Connect may hold the main loop before giving up.
inline constexpr uint32_t kIrcConnectTimeoutMs = 3000;
// A bot remembers at most this many channel users; a server that keeps
// sending names replies cannot make it grow further.
inline constexpr size_t kMaxIrcChannelUsers = 10000;

// How a user left, as "onIRCUserLeave" reports it.
enum IrcLeaveHow : uint8_t { kIrcLeavePart = 0, kIrcLeaveQuit = 1, kIrcLeaveKick = 2 };

struct IrcChannelUser {
  std::string nick;
  std::string channel;  // as the names reply gave it
  uint8_t modes;        // irc::kModeOwner ... irc::kModeVoice
};

class IrcBotTable;

class IrcBot {
 public:
  IrcBot(uint8_t id, IrcBotTable* table) : id_(id), table_(table) {}
  // Disconnects (QUIT when connected).
  ~IrcBot();
  IrcBot(const IrcBot&) = delete;
  IrcBot& operator=(const IrcBot&) = delete;

  // Each returns false, sends nothing and changes nothing when its condition
  // does not hold; "true" means the line was handed to the socket. Once a
  // send of a connection has failed, every later one returns false.
  // Not connected: connects within kIrcConnectTimeoutMs, registers with
  // NICK and USER and leaves any channel.
  bool Connect(const char* host, uint16_t port, const char* nick);
  // Connected and in no channel: JOIN, and the channel is current at once.
  bool JoinChannel(const char* channel);
  // Connected and in a channel: PART with the name given; no channel after.
  bool LeaveChannel(const char* channel);
  // Connected: PRIVMSG target :text (PrivateMessage and Send are the same).
  bool PrivateMessage(const char* target, const char* text);
  bool Send(const char* target, const char* text);
  // Connected: NOTICE target :text.
  bool Notice(const char* target, const char* text);
  // Connected and a name of at most kMaxNamesChannelLength: NAMES.
  void RequestNames(std::string_view channel);
  // Connected: QUIT (when it can still be sent), then the socket is closed
  // and the bot is not connected. Channel and user list stay.
  void Disconnect();
  // "~", "&", "@", "%", "+" for the first listed user of that channel and
  // nick that has a mode, "-" otherwise.
  const char* GetUserLevel(std::string_view channel, std::string_view nick) const;

  // One non-blocking read of what the server sent (the main loop's 200-ms
  // step); a connection the server closed reads nothing and stays
  // "connected".
  void Receive();
  // Handles received bytes: every line they complete, in order.
  void ProcessReceived(const char* data, size_t size);
  // One line without its "\r\n"; ignored while the bot is in no channel.
  void ParseLine(std::string_view line);

  uint8_t Id() const { return id_; }
  bool IsConnected() const { return connected_; }
  const std::optional<std::string>& Channel() const { return channel_; }
  const std::string& Nick() const { return nick_; }
  const std::vector<IrcChannelUser>& Users() const { return users_; }

 private:
  friend class IrcBotTable;

  bool SendLine(const std::optional<std::string>& line);
  // What the table does when it lets go of the bot: QUIT, close, and no
  // further lines are handled.
  void Shut();
  // A JOIN, PART, QUIT, KICK or NICK changed the channel: relist it.
  void RefreshUsers();
  bool IsDispatcher() const;
  void AddNames(std::string_view parameters);

  uint8_t id_;
  IrcBotTable* table_;
  int socket_ = -1;
  bool connected_ = false;
  std::string nick_;
  std::vector<IrcChannelUser> users_;
  std::optional<std::string> channel_;
  irc::LineReader reader_;
  uint32_t connection_ = 0;  // counts connections: lines of an old one are not handled
  int handling_ = 0;         // > 0 while received lines are being handled
  bool shut_ = false;
  // A send of this connection failed (the server stopped reading, or the
  // connection broke): nothing more is written to it, so a server that never
  // reads costs the main loop one send time-out, not one per line, and the
  // script learns from the message functions' 0 that its lines are lost.
  bool sendFailed_ = false;
};

class IrcBotTable {
 public:
  IrcBotTable() = default;
  // Destroys every bot, slot 0 first.
  ~IrcBotTable();
  IrcBotTable(const IrcBotTable&) = delete;
  IrcBotTable& operator=(const IrcBotTable&) = delete;

  // A new bot in the lowest empty slot: its id, or -1 when all are in use.
  int8_t CreateBot();
  // False for an id of kMaxIrcBots or more; otherwise destroys the bot there
  // (if any) and returns true.
  bool DestroyBot(uint8_t id);
  void DestroyAllBots();
  // The bot in slot `id`, or null.
  IrcBot* Bot(uint8_t id) const;
  // The lowest used slot, or -1.
  int LowestUsedSlot() const;
  // Each bot's Receive, slot 0 first.
  void ReceiveAll();

 private:
  std::array<std::unique_ptr<IrcBot>, kMaxIrcBots> slots_;
  // Bots destroyed by a script while their own lines were being handled:
  // they are freed once that has unwound.
  std::vector<std::unique_ptr<IrcBot>> retired_;
};

// The one table of the process (null before start-up).
IrcBotTable* GetIrcBotTable();
// Destroys the current table with its bots (each connected one quits) and
// makes a new empty one (start-up and restart).
void ReplaceIrcBotTable();
void DestroyIrcBotTable();

#include "irc/bot.h"

#include "core/events.h"
#include "platform/platform.h"

namespace {

std::unique_ptr<IrcBotTable> gIrcBotTable;

}  // namespace

// ---- a bot ------------------------------------------------------------------

IrcBot::~IrcBot() { Shut(); }

void IrcBot::Shut() {
  Disconnect();
  shut_ = true;
}

bool IrcBot::SendLine(const std::optional<std::string>& line) {
  if (!line || sendFailed_) return false;
  if (!platform::TcpSendAll(socket_, line->data(), line->size())) {
    sendFailed_ = true;
    return false;
  }
  return true;
}

bool IrcBot::Connect(const char* host, uint16_t port, const char* nick) {
  if (connected_ || shut_ || !host || !nick) return false;
  const std::optional<std::string> nickLine = irc::BuildLine({"NICK ", nick});
  const std::optional<std::string> userLine = irc::BuildLine({"USER ", nick, " * 0 :IRCPlugin"});
  if (!nickLine || !userLine) return false;

  char address[64];
  if (!platform::ResolveHostIPv4(host, address, sizeof address)) return false;
  const int fd = platform::TcpConnect(address, port, kIrcConnectTimeoutMs);
  if (fd < 0) return false;

  socket_ = fd;
  connected_ = true;
  sendFailed_ = false;
  ++connection_;
  reader_.Reset();
  nick_ = nick;
  SendLine(nickLine);
  SendLine(userLine);
  channel_.reset();
  return true;
}

bool IrcBot::JoinChannel(const char* channel) {
  if (!connected_ || channel_ || !channel) return false;
  const std::string_view name = irc::CutAtLineEnd(channel);
  if (!SendLine(irc::BuildLine({"JOIN ", name}))) return false;
  channel_ = std::string(name);
  return true;
}

bool IrcBot::LeaveChannel(const char* channel) {
  if (!connected_ || !channel_ || !channel) return false;
  if (!SendLine(irc::BuildLine({"PART ", channel}))) return false;
  channel_.reset();
  return true;
}

bool IrcBot::PrivateMessage(const char* target, const char* text) {
  if (!connected_ || !target || !text) return false;
  return SendLine(irc::BuildLine({"PRIVMSG ", target, " :", text}));
}

bool IrcBot::Send(const char* target, const char* text) { return PrivateMessage(target, text); }

bool IrcBot::Notice(const char* target, const char* text) {
  if (!connected_ || !target || !text) return false;
  return SendLine(irc::BuildLine({"NOTICE ", target, " :", text}));
}

void IrcBot::RequestNames(std::string_view channel) {
  if (!connected_ || channel.size() > kMaxNamesChannelLength) return;
  SendLine(irc::BuildLine({"NAMES ", channel}));
}

void IrcBot::Disconnect() {
  if (!connected_) return;
  // Closed even when the QUIT cannot go out: a broken connection must not
  // keep the bot from connecting again.
  SendLine(std::string("QUIT\r\n"));
  platform::TcpClose(socket_);
  socket_ = -1;
  connected_ = false;
}

const char* IrcBot::GetUserLevel(std::string_view channel, std::string_view nick) const {
  for (const IrcChannelUser& user : users_) {
    if (user.modes != 0 && user.channel == channel && user.nick == nick) {
      return irc::LevelString(user.modes);
    }
  }
  return "-";
}

void IrcBot::Receive() {
  if (!connected_ || shut_) return;
  char buffer[irc::kReceiveChunk + 1];
  // Never waits: nothing pending (or a closed connection) reads nothing.
  const int n = platform::TcpRecv(socket_, buffer, irc::kReceiveChunk);
  if (n <= 0) return;
  ProcessReceived(buffer, static_cast<size_t>(n));
}

void IrcBot::ProcessReceived(const char* data, size_t size) {
  std::vector<std::string> lines;
  reader_.Feed(data, size, lines);
  const uint32_t connection = connection_;
  ++handling_;
  for (const std::string& line : lines) {
    // A script handler may have destroyed, disconnected or reconnected the
    // bot: the rest of these lines belong to a connection that is gone.
    if (shut_ || !connected_ || connection_ != connection) break;
    ParseLine(line);
  }
  --handling_;
}

bool IrcBot::IsDispatcher() const {
  if (shut_) return false;
  return !table_ || table_->LowestUsedSlot() == id_;
}

void IrcBot::RefreshUsers() {
  users_.clear();
  // The event's handler may have taken the bot out of its channel.
  if (shut_ || !channel_) return;
  const std::string channel = *channel_;
  RequestNames(channel);
}

void IrcBot::AddNames(std::string_view parameters) {
  std::optional<irc::NamesReply> reply = irc::ParseNamesReply(parameters);
  if (!reply) return;
  for (irc::NamesEntry& entry : reply->names) {
    if (users_.size() >= kMaxIrcChannelUsers) return;
    users_.push_back({std::move(entry.nick), reply->channel, entry.modes});
  }
}

void IrcBot::ParseLine(std::string_view line) {
  if (!channel_ || shut_) return;

  if (line.empty() || line[0] != ':') {
    if (std::optional<std::string_view> ping = irc::PingParameter(line)) {
      SendLine(irc::BuildLine({"PONG ", *ping}));
    }
    return;
  }

  const std::optional<irc::PrefixedLine> parsed = irc::ParsePrefixedLine(line);
  if (!parsed) return;
  const std::string_view command = parsed->command;
  // Own copies: a handler may change the bot while its event runs.
  const std::string nick(parsed->prefix.nick);
  const std::string channel = *channel_;

  if (command == "JOIN") {
    CallOnIRCUserJoin(id_, nick.c_str(), channel.c_str());
    RefreshUsers();
  } else if (command == "PART" || command == "QUIT" || command == "KICK") {
    // For KICK the nick is whoever kicked, as the prefix names them.
    const uint8_t how = command == "PART" ? kIrcLeavePart
                        : command == "QUIT" ? kIrcLeaveQuit
                                            : kIrcLeaveKick;
    CallOnIRCUserLeave(id_, nick.c_str(), channel.c_str(), how);
    RefreshUsers();
  } else if (command == "NICK") {
    RefreshUsers();
  } else if (command == "MODE") {
    users_.clear();
    const std::string_view target = parsed->parameters.substr(0, parsed->parameters.find(' '));
    if (!target.empty()) RequestNames(target);
  } else if (command == "PRIVMSG") {
    // With several bots in one channel only the lowest one hands the line
    // over, so a command runs once.
    if (!IsDispatcher()) return;
    const std::optional<std::string_view> text = irc::BangCommand(parsed->parameters);
    if (text) DispatchIRCCommand(id_, nick.c_str(), channel.c_str(), std::string(*text).c_str());
  } else if (command == "353") {
    AddNames(parsed->parameters);
  }
}

// ---- the table --------------------------------------------------------------

IrcBotTable::~IrcBotTable() { DestroyAllBots(); }

int8_t IrcBotTable::CreateBot() {
  for (uint8_t id = 0; id < kMaxIrcBots; ++id) {
    if (!slots_[id]) {
      slots_[id] = std::make_unique<IrcBot>(id, this);
      return static_cast<int8_t>(id);
    }
  }
  return -1;
}

bool IrcBotTable::DestroyBot(uint8_t id) {
  if (id >= kMaxIrcBots) return false;
  std::unique_ptr<IrcBot> bot = std::move(slots_[id]);
  if (!bot) return true;
  bot->Shut();
  // Destroyed from inside its own line handling: the handling still runs on
  // it, so it lives on until the receive step has unwound.
  if (bot->handling_ > 0) retired_.push_back(std::move(bot));
  return true;
}

void IrcBotTable::DestroyAllBots() {
  for (uint8_t id = 0; id < kMaxIrcBots; ++id) DestroyBot(id);
}

IrcBot* IrcBotTable::Bot(uint8_t id) const { return id < kMaxIrcBots ? slots_[id].get() : nullptr; }

int IrcBotTable::LowestUsedSlot() const {
  for (uint8_t id = 0; id < kMaxIrcBots; ++id) {
    if (slots_[id]) return id;
  }
  return -1;
}

void IrcBotTable::ReceiveAll() {
  for (uint8_t id = 0; id < kMaxIrcBots; ++id) {
    // Looked up afresh each time: a handler may destroy or create bots.
    if (IrcBot* bot = slots_[id].get()) bot->Receive();
    retired_.clear();
  }
}

// ---- the process's table ----------------------------------------------------

IrcBotTable* GetIrcBotTable() { return gIrcBotTable.get(); }

void ReplaceIrcBotTable() {
  gIrcBotTable.reset();
  gIrcBotTable = std::make_unique<IrcBotTable>();
}

void DestroyIrcBotTable() { gIrcBotTable.reset(); }

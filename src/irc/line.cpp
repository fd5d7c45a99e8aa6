#include "irc/line.h"

namespace irc {

void LineReader::Feed(const char* data, size_t size, std::vector<std::string>& lines) {
  if (!data) return;
  for (size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (discarding_) {
      if (lastWasCr_ && c == '\n') discarding_ = false;
      lastWasCr_ = c == '\r';
      continue;
    }
    pending_.push_back(c);
    const size_t n = pending_.size();
    if (n >= 2 && pending_[n - 2] == '\r' && c == '\n') {
      pending_.resize(n - 2);
      if (pending_.find('\0') == std::string::npos) lines.push_back(pending_);
      pending_.clear();
    } else if (n > kMaxReceivedLine + 1) {
      // Room for the longest line plus the '\r' of its end; beyond that the
      // line is too long, and what is left of it up to "\r\n" goes too.
      pending_.clear();
      discarding_ = true;
      lastWasCr_ = c == '\r';
    }
  }
}

void LineReader::Reset() {
  pending_.clear();
  discarding_ = false;
  lastWasCr_ = false;
}

LinePrefix SplitPrefix(std::string_view prefix) {
  LinePrefix p;
  const size_t bang = prefix.find('!');
  if (bang == std::string_view::npos) {
    p.nick = prefix;
    return p;
  }
  p.nick = prefix.substr(0, bang);
  const std::string_view rest = prefix.substr(bang + 1);
  const size_t at = rest.find('@');
  p.user = rest.substr(0, at);
  if (at != std::string_view::npos) p.host = rest.substr(at + 1);
  return p;
}

std::optional<PrefixedLine> ParsePrefixedLine(std::string_view line) {
  if (line.empty() || line[0] != ':') return std::nullopt;
  const size_t space = line.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  PrefixedLine out;
  out.prefix = SplitPrefix(line.substr(1, space - 1));
  const std::string_view rest = line.substr(space + 1);
  const size_t next = rest.find(' ');
  out.command = rest.substr(0, next);
  if (next != std::string_view::npos) out.parameters = rest.substr(next + 1);
  return out;
}

std::optional<std::string_view> PingParameter(std::string_view line) {
  if (line.empty() || line[0] == ':') return std::nullopt;
  const size_t space = line.find(' ');
  if (space == std::string_view::npos || line.substr(0, space) != "PING") return std::nullopt;
  std::string_view parameter = line.substr(space + 1);
  // Servers put ':' before the parameter; one that does not keeps it whole.
  if (!parameter.empty() && parameter[0] == ':') parameter.remove_prefix(1);
  return parameter;
}

std::optional<std::string_view> BangCommand(std::string_view parameters) {
  const size_t space = parameters.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  // The message's first character is the ':' of the trailing parameter and
  // is not looked at; the "!" must be the second.
  const std::string_view text = parameters.substr(space + 1);
  if (text.size() < 2 || text[1] != '!') return std::nullopt;
  return text.substr(2);
}

unsigned char ModeBitOfPrefix(char c) {
  switch (c) {
    case '~': return kModeOwner;
    case '&': return kModeAdmin;
    case '@': return kModeOp;
    case '%': return kModeHalfOp;
    case '+': return kModeVoice;
    default: return 0;
  }
}

const char* LevelString(unsigned char modes) {
  if (modes & kModeOwner) return "~";
  if (modes & kModeAdmin) return "&";
  if (modes & kModeOp) return "@";
  if (modes & kModeHalfOp) return "%";
  if (modes & kModeVoice) return "+";
  return "-";
}

std::optional<NamesReply> ParseNamesReply(std::string_view parameters) {
  const size_t hash = parameters.find('#');
  if (hash == std::string_view::npos) return std::nullopt;
  const size_t colon = parameters.find(" :", hash);
  if (colon == std::string_view::npos) return std::nullopt;
  NamesReply reply;
  reply.channel = std::string(parameters.substr(hash, colon - hash));
  std::string_view names = parameters.substr(colon + 2);
  while (!names.empty()) {
    const size_t space = names.find(' ');
    std::string_view name = names.substr(0, space);
    names = space == std::string_view::npos ? std::string_view() : names.substr(space + 1);
    if (name.empty()) continue;  // a doubled or trailing blank names nobody
    // Only the first character counts: "@+v" is an operator named "+v".
    const unsigned char bit = ModeBitOfPrefix(name[0]);
    if (bit) name.remove_prefix(1);
    reply.names.push_back({std::string(name), bit});
  }
  return reply;
}

std::string_view CutAtLineEnd(std::string_view text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

std::optional<std::string> BuildLine(std::initializer_list<std::string_view> pieces) {
  std::string line;
  for (std::string_view piece : pieces) {
    line.append(CutAtLineEnd(piece));
    if (line.size() + 2 > kMaxSentLine) return std::nullopt;
  }
  line.append("\r\n");
  return line;
}

}  // namespace irc

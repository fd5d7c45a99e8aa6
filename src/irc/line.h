// The IRC line protocol as a bot speaks it: cutting the received byte stream
// into lines, splitting a received line into prefix, command and parameters,
// and building the lines a bot sends. Pure text work, no sockets.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace irc {

// A receive step reads at most this many bytes at once.
inline constexpr size_t kReceiveChunk = 5003;
// The longest received line (without its "\r\n") we handle: one that fits a
// single receive. Anything longer is dropped whole.
inline constexpr size_t kMaxReceivedLine = kReceiveChunk - 2;
// The longest line we send, "\r\n" included: servers refuse longer ones (and
// may drop the connection for it).
inline constexpr size_t kMaxSentLine = 512;

// Cuts a byte stream into "\r\n"-terminated lines. A line may arrive over
// several reads; the unfinished tail is kept for the next Feed. A line longer
// than kMaxReceivedLine is discarded up to its "\r\n" (so a server that never
// ends its lines costs bounded memory), and a line with a NUL byte in it is
// dropped, since no IRC line may hold one.
class LineReader {
 public:
  // Appends each line completed by `data` to `lines` (without "\r\n").
  void Feed(const char* data, size_t size, std::vector<std::string>& lines);
  // Forgets any unfinished line (a new connection).
  void Reset();
  // Bytes of the unfinished line held now.
  size_t Pending() const { return pending_.size(); }

 private:
  std::string pending_;
  bool discarding_ = false;  // inside an overlong line, waiting for its "\r\n"
  bool lastWasCr_ = false;   // while discarding: the last byte seen was '\r'
};

// The prefix of a received line (":nick!user@host"): without a '!' the whole
// prefix is the nick; without an '@' after the '!' there is no host.
struct LinePrefix {
  std::string_view nick;
  std::string_view user;
  std::string_view host;
};
LinePrefix SplitPrefix(std::string_view prefix);

// A received line with a prefix: ":prefix command parameters". The views
// point into the parsed line.
struct PrefixedLine {
  LinePrefix prefix;
  std::string_view command;
  std::string_view parameters;  // empty when the command is the last word
};
// Nothing when the line does not begin with ':' or has no space after the
// prefix.
std::optional<PrefixedLine> ParsePrefixedLine(std::string_view line);

// The parameter of an unprefixed "PING" line, the text to echo in "PONG"
// (its leading ':' taken off); nothing when the line is no PING.
std::optional<std::string_view> PingParameter(std::string_view line);

// The text of a PRIVMSG's parameters after "!", when that is the message's
// second character ("#chan :!give b 5" gives "give b 5"); nothing otherwise.
std::optional<std::string_view> BangCommand(std::string_view parameters);

// The names reply ("353"): "<me> <type> <#channel> :<names>". Each name is
// the nick without its first character when that is a mode prefix.
struct NamesEntry {
  std::string nick;
  unsigned char modes;
};
struct NamesReply {
  std::string channel;
  std::vector<NamesEntry> names;
};
// Nothing when the parameters hold no '#' or no " :" after it.
std::optional<NamesReply> ParseNamesReply(std::string_view parameters);

// Mode bits of a channel user and the prefix character of each.
inline constexpr unsigned char kModeOwner = 0x10;   // '~'
inline constexpr unsigned char kModeAdmin = 0x08;   // '&'
inline constexpr unsigned char kModeOp = 0x04;      // '@'
inline constexpr unsigned char kModeHalfOp = 0x02;  // '%'
inline constexpr unsigned char kModeVoice = 0x01;   // '+'
// The bit a prefix character sets, 0 for any other character.
unsigned char ModeBitOfPrefix(char c);
// "~", "&", "@", "%", "+" for the highest bit set, "-" for none.
const char* LevelString(unsigned char modes);

// The text up to its first CR or LF.
std::string_view CutAtLineEnd(std::string_view text);

// Builds "<pieces...>\r\n". Each piece is cut at its first CR or LF, so a
// script's text can never smuggle in a further line. Nothing when the whole
// line would be longer than kMaxSentLine.
std::optional<std::string> BuildLine(std::initializer_list<std::string_view> pieces);

}  // namespace irc

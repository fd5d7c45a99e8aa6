#include "support/seam.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <utility>

#include "core/clock.h"
#include "script/script_host.h"

namespace support {

namespace {

uint32_t gTestNowMs = 500000;
uint32_t TestNow() { return gTestNowMs; }

std::string Hex(const uint8_t* data, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 15];
  }
  return out;
}

std::string Receivers(const std::vector<int>& to) {
  std::string out;
  for (int index : to) out += (out.empty() ? ">" : ",") + std::to_string(index);
  return out;
}

std::string LineOf(const std::string& name, const std::vector<int>& to, const uint8_t* data,
                   uint32_t bits) {
  std::vector<uint8_t> bytes(data, data + (bits + 7) / 8);
  if (bits % 8) bytes.back() &= static_cast<uint8_t>(0xFF << (8 - bits % 8));
  return name + Receivers(to) + " " + Hex(bytes.data(), bytes.size()) + "/" + std::to_string(bits);
}

// The line of one recorded send; `name` gets the call's name ("" when raw).
std::string Describe(const net::RecordedSend& sent, std::string* name = nullptr) {
  const std::vector<uint8_t>& m = sent.message;
  if (m.empty()) return "close" + Receivers(sent.to);
  if (m[0] == net::ID_RPC && m.size() >= 6 && m.size() >= 6u + m[1]) {
    const std::string call(reinterpret_cast<const char*>(&m[2]), m[1]);
    const uint8_t* b = &m[2 + m[1]];
    const uint32_t bits = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
    if (name) *name = call;
    return LineOf(call, sent.to, b + 4, bits);
  }
  if (name) name->clear();
  return LineOf("#" + std::to_string(m[0]), sent.to, m.data() + 1,
                static_cast<uint32_t>(m.size() - 1) * 8);
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += (out.empty() ? "" : "\n") + line;
  return out;
}

}  // namespace

TestClock::TestClock(uint32_t startMs) {
  gTestNowMs = startMs;
  core::SetClockForTesting(TestNow);
}
TestClock::~TestClock() { core::SetClockForTesting(nullptr); }
void TestClock::Set(uint32_t ms) { gTestNowMs = ms; }
void TestClock::Advance(uint32_t ms) { gTestNowMs += ms; }
uint32_t TestClock::Now() { return gTestNowMs; }

void RecordingSink::Raise(const ScriptEvent& e) {
  lines.push_back(DescribeEvent(e));
  if (onRaise) onRaise(e);
}
void RecordingSink::DispatchPlayerCommand(uint8_t p, const char* line) {
  lines.push_back("command " + std::to_string(p) + " " + line);
}
void RecordingSink::DispatchIRCCommand(uint8_t bot, const char* nick, const char* channel,
                                       const char* line) {
  lines.push_back("irccommand " + std::to_string(bot) + " " + nick + " " + channel + " " + line);
}
std::string RecordingSink::Take() { return JoinLines(std::exchange(lines, {})); }

uint32_t GoodVersion() { return net::SuperFastHash("wkPZD", 5); }

std::string Line(const std::string& name, std::initializer_list<int> to,
                 const net::BitStream& payload) {
  return LineOf(name, std::vector<int>(to), payload.GetData(), payload.GetNumberOfBitsUsed());
}
std::string Line(const std::string& name, std::initializer_list<int> to, Rpc& payload) {
  return Line(name, to, payload.Stream());
}
std::string Line(const std::string& name, std::initializer_list<int> to, Rpc&& payload) {
  return Line(name, to, payload.Stream());
}

Seam::Seam(const std::string& mainLua, const std::function<void()>& adjust) : server_(mainLua) {
  // The server's console lines stay quiet unless the test fails.
  testing::internal::CaptureStdout();
  net::RecordSendsInsteadOfSending(true);
  server_.Start(adjust);
  net::RecordSendsInsteadOfSending(false);
  SetScriptEventSink(&events);
  Take();
}

Seam::~Seam() {
  SetScriptEventSink(nullptr);
  const std::string console = testing::internal::GetCapturedStdout();
  if (testing::Test::HasFailure()) std::fputs(console.c_str(), stdout);
}

net::Peer& Seam::Peer() { return *GetGamePeer(); }

int Seam::Connect(uint32_t ip) {
  for (int index = 0;; ++index) {
    if (Peer().GetSystemAddressFromIndex(index) != net::UNASSIGNED_SYSTEM_ADDRESS) continue;
    const uint32_t host = ip ? ip : 0x0A000001u + static_cast<uint32_t>(index);
    // SystemAddress keeps the address in network order, as ENet does.
    const net::SystemAddress address{__builtin_bswap32(host), static_cast<uint16_t>(5000 + index)};
    if (!Peer().InjectConnection(index, address)) return -1;
    Pump();
    return index;
  }
}

int Seam::Join(const std::string& name) {
  const int index = Connect();
  if (index < 0) return -1;
  net::BitStream join;
  join.WriteCompressed(static_cast<uint8_t>(name.size()));
  join.WriteBytes(name.data(), static_cast<uint32_t>(name.size()));
  join.WriteCompressed(GoodVersion());
  Call(index, "ClientJoin", join);
  Take();
  events.Take();
  return index;
}

void Seam::Call(int from, const char* name, const net::BitStream& payload, bool reliable) {
  Queue(from, name, payload, reliable);
  Pump();
}

void Seam::Queue(int from, const char* name, const net::BitStream& payload, bool reliable) {
  const std::string n(name);
  const uint32_t bits = payload.GetNumberOfBitsUsed();
  std::vector<uint8_t> m = {net::ID_RPC, static_cast<uint8_t>(n.size())};
  m.insert(m.end(), n.begin(), n.end());
  for (int shift = 0; shift < 32; shift += 8) m.push_back(static_cast<uint8_t>(bits >> shift));
  m.insert(m.end(), payload.GetData(), payload.GetData() + payload.GetNumberOfBytesUsed());
  Peer().InjectMessage(from, m.data(), static_cast<uint32_t>(m.size()), reliable);
}

void Seam::Packet(int from, const net::BitStream& packet, bool reliable) {
  Peer().InjectMessage(from, packet.GetData(), packet.GetNumberOfBytesUsed(), reliable);
  Pump();
}

void Seam::Drop(int index, bool lost) {
  Peer().InjectDisconnection(index, lost);
  Pump();
}

void Seam::Pump(int passes) {
  for (int i = 0; i < passes; ++i) server_.Pump();
}

std::vector<net::RecordedSend> Seam::TakeRecorded() { return Peer().TakeRecorded(); }

std::string Seam::Take() {
  std::vector<std::string> lines;
  for (const auto& sent : TakeRecorded()) lines.push_back(Describe(sent));
  return JoinLines(lines);
}

std::string Seam::Take(const std::string& name) {
  std::vector<std::string> lines;
  for (const auto& sent : TakeRecorded()) {
    std::string call;
    const std::string line = Describe(sent, &call);
    if (call == name) lines.push_back(line);
  }
  return JoinLines(lines);
}

std::string Seam::Lua(const std::string& chunk) { return scripttest::Run(chunk); }

}  // namespace support

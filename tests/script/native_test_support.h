// The native tables: rows of {Lua call, its results, the lines it sends} run
// through the seam with two joined players, 0 (Alpha) and 1 (Bravo).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "support/seam.h"

namespace nativetest {

using support::Want;

// An expected send, its payload written on with Rpc's writers:
// A("SetPlayerPos").f32(1)... goes to player 0, B(..) to player 1, AB(..) to both.
struct Send : Rpc {
  Send(const char* call, int receivers) : Rpc("expected"), name(call), to(receivers) {}
  const char* name;
  int to;
};
inline Send A(const char* name) { return {name, 0}; } inline Send B(const char* name) { return {name, 1}; }
inline Send AB(const char* name) { return {name, 2}; }

// One line of Take(): a Send (through the Rpc& its writers return), or a line as it is.
struct Sent {
  Sent(Rpc& send) {
    Send& s = static_cast<Send&>(send);  // only a Send is ever written on here
    line = s.to == 2 ? support::Line(s.name, {0, 1}, s) : support::Line(s.name, {s.to}, s);
  }
  Sent(Send&& send) : Sent(static_cast<Rpc&>(send)) {}
  Sent(std::string text) : line(std::move(text)) {}  Sent(const char* text) : line(text) {}
  std::string line;
};

// `call` is an expression list, or statements when it starts with "do "; n(f())
// counts f's results; sweep(set, get, a, b...) runs set(0, a), then get(0)
// (when given), for each value and returns what get gave.
struct Row { std::string call, result; std::vector<Sent> sent = {}; };

// Values as a row's results read them, joined by ",": Values(r.x, r.used) == "1.5,1".
template <class... T> std::string Values(T... v) {
  // A byte as its number.
  auto show = []<class U>(const U& u) { if constexpr (std::is_arithmetic_v<U>) return +u; else return u; };
  std::ostringstream out;
  ((out << show(v) << ','), ...);
  return out.str().substr(0, out.str().size() - 1);
}

// A pool record byte for byte.
template <class T> bool Same(const T& a, const T& b) { return std::memcmp(&a, &b, sizeof b) == 0; }

class Natives : public ::testing::Test {
 protected:
  Natives() {
    seam.Join("Alpha");
    seam.Join("Bravo");
    seam.Lua("function n(...) return select('#', ...) end "
             "function sweep(set, get, ...) local t = {} for _, v in ipairs{...} do set(0, v) t[#t + 1] = get and get(0) end "
             "return unpack(t) end");
  }
  void Check(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
      EXPECT_EQ(r.call.rfind("do ", 0) == 0 ? seam.Lua(r.call) : seam.Eval(r.call), r.result) << r.call;
      std::string sent;
      for (const Sent& s : r.sent) sent += (sent.empty() ? "" : "\n") + s.line;
      EXPECT_EQ(seam.Take(), sent) << r.call;
    }
  }
  // Each call with every id of `ids` in place of '#' gives `result` and sends nothing.
  void Refused(const std::vector<std::string>& ids, const std::vector<std::string>& calls, const std::string& result = "") {
    for (const std::string& id : ids)
      for (std::string call : calls) {
        for (size_t at; (at = call.find('#')) != std::string::npos;) call.replace(at, 1, id);
        Check({{call, result}});
      }
  }
  support::Seam seam;
};

}  // namespace nativetest

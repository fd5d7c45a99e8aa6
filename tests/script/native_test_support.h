// The native tables: rows of {Lua call, its results, the calls it sends} run
// through the seam with two joined players, 0 (Alpha) and 1 (Bravo).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/record_bytes.h"  // Hex: pool records compared byte for byte
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

inline Send A(const char* name) { return {name, 0}; }
inline Send B(const char* name) { return {name, 1}; }
inline Send AB(const char* name) { return {name, 2}; }

// One line of Seam::Take(): a Send (through the Rpc& its writers return), or a
// line as it is.
struct Sent {
  Sent(Rpc& send) {
    Send& s = static_cast<Send&>(send);  // only a Send is ever written on here
    if (s.to == 2) {
      line = support::Line(s.name, {0, 1}, s);
    } else {
      line = support::Line(s.name, {s.to}, s);
    }
  }
  Sent(Send&& send) : Sent(static_cast<Rpc&>(send)) {}
  Sent(std::string text) : line(std::move(text)) {}
  Sent(const char* text) : line(text) {}
  std::string line;
};

// `call` is a Lua expression, or statements when it starts with "do ".
// `result` is what the seam shows of its values ("" for none), `sent` every
// send it makes, in order.
struct Row {
  std::string call;
  std::string result;
  std::vector<Sent> sent = {};
};

// The sends as Seam::Take() shows them: one line each, joined by "\n".
inline std::string Transcript(const std::vector<Sent>& sent) {
  std::string lines;
  for (const Sent& s : sent) {
    if (!lines.empty()) lines += "\n";
    lines += s.line;
  }
  return lines;
}

// `call` with every '#' replaced by `id`.
inline std::string WithId(std::string call, const std::string& id) {
  for (size_t at = call.find('#'); at != std::string::npos; at = call.find('#', at + id.size())) {
    call.replace(at, 1, id);
  }
  return call;
}

// A packed record's field by value: an assertion binds a reference, which a
// packed field cannot give.
template <class T>
T Field(T value) {
  return value;
}

class Natives : public ::testing::Test {
 protected:
  Natives() {
    seam.Join("Alpha");
    seam.Join("Bravo");
  }
  void Check(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
      const bool statements = r.call.rfind("do ", 0) == 0;
      const std::string result = statements ? seam.Lua(r.call) : seam.Eval(r.call);
      EXPECT_EQ(result, r.result) << r.call;
      EXPECT_EQ(seam.Take(), Transcript(r.sent)) << r.call;
    }
  }
  // Each call, with every id of `ids` in place of '#', gives `result` and
  // sends nothing.
  void Refused(const std::vector<std::string>& ids, const std::vector<std::string>& calls,
               const std::string& result = "") {
    for (const std::string& id : ids) {
      for (const std::string& call : calls) Check({{WithId(call, id), result}});
    }
  }
  support::Seam seam;
};

}  // namespace nativetest

#include "core/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <regex>
#include <string>

#include "support/server_fixture.h"

namespace {

const std::string kStamp =
    R"(\[(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-\d\d-\d\d \d\d:\d\d:\d\d\] )";

std::string Unstamped(const std::string& text) {
  return std::regex_replace(text, std::regex(kStamp), "[T] ");
}

// The local date as a stamp begins ("Dec-07-26").
std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16] = {0};
  std::strftime(text, sizeof text, "%b-%d-%y", &local);
  return text;
}

// What the logging printed, and the whole log file after it.
struct Output {
  std::string console;
  std::string file;
};

// Each case's console output and log file, with the stamps made "[T] ".
TEST(LogTest, LinesAreStampedOnConsoleAndInFileCrLfInTheFileControlBytesReplacedAndCutAt511) {
  InProcessServer dir;  // a fresh working directory; nothing started
  EXPECT_TRUE(std::regex_match("[" + GetLogTimestamp() + "] ", std::regex(kStamp)));
  // The stamp is the local date and time, not a blank one.
  const std::string today = Today();
  const std::string stamp = GetLogTimestamp();
  if (Today() == today) EXPECT_EQ(stamp.substr(0, 9), today);
  auto run = [&](const std::function<void()>& log) {
    testing::internal::CaptureStdout();
    log();
    const std::string console = testing::internal::GetCapturedStdout();
    return Output{Unstamped(console), Unstamped(dir.ReadFile(kLogFileName))};
  };
  const Output join =
      run([] { LogPrint(1, "[JOIN] %s has joined the server. [%s]", "Bob", "1.2.3.4"); });
  EXPECT_EQ(join.console, "[T] [JOIN] Bob has joined the server. [1.2.3.4]\n");
  EXPECT_EQ(join.file, "[T] [JOIN] Bob has joined the server. [1.2.3.4]\r\n");
  const Output input = run([] { LogPrintFileOnly(1, "[CONSOLE INPUT] %s", "kick 5"); });
  EXPECT_EQ(input.console, "");
  EXPECT_EQ(input.file,
            "[T] [JOIN] Bob has joined the server. [1.2.3.4]\r\n[T] [CONSOLE INPUT] kick 5\r\n");
  const std::string before = Unstamped(dir.ReadFile(kLogFileName));
  const std::string cut(511, 'x');
  const Output lines = run([] {
    LogPrint(0, "first\nsecond\n");
    LogPrint(0, "third %d", 3);
    LogPrint(0, "[CHAT] %s: %s", "Bob", "hi\x1b]0;owned\x07\r\x7f\tthere");
    LogPrint(0, "%s", std::string(2000, 'x').c_str());
  });
  EXPECT_EQ(lines.console,
            "first\nsecond\n\nthird 3\n[CHAT] Bob: hi?]0;owned???\tthere\n" + cut + "\n");
  EXPECT_EQ(lines.file,
            before + "first\r\nsecond\r\n\r\nthird 3\r\n[CHAT] Bob: hi?]0;owned???\tthere\r\n" +
                cut + "\r\n");
}

// A terminal reading UTF-8 acts on an encoded C1 control (C2 80 to C2 9F) as
// on a control byte, so the console shows each as one '?'; the file keeps the
// bytes as sent, and a lone byte 80-9F is a character of the clients' 8-bit text.
TEST(LogTest, EncodedC1ControlsAreEscapedOnTheConsoleAndKeptInTheFile) {
  InProcessServer dir;  // a fresh working directory; nothing started
  const struct {
    const char* what;
    std::string text;
    std::string console;
  } rows[] = {
      {"CSI", "[CHAT] Bob: \xc2\x9b" "2J", "[CHAT] Bob: ?2J"},
      {"OSC", "\xc2\x9d" "0;owned\xc2\x9c" "!", "?0;owned?!"},
      {"lowest, C2 80", "a\xc2\x80" "b", "a?b"},
      {"highest, C2 9F", "a\xc2\x9f" "b", "a?b"},
      {"C2 A0 is no control", "a\xc2\xa0" "b", "a\xc2\xa0" "b"},
      {"lone 9B", "Bob\x9b" "2J", "Bob\x9b" "2J"},
      {"copyright sign", "\xc2\xa9 Bob", "\xc2\xa9 Bob"},
      {"C2 C2 9B", "\xc2\xc2\x9b", "\xc2?"},
      {"C2 at the end", "Bob\xc2", "Bob\xc2"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::remove(kLogFileName);
    testing::internal::CaptureStdout();
    LogPrint(0, "%s", row.text.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), row.console + "\n");
    EXPECT_EQ(dir.ReadFile(kLogFileName), row.text + "\r\n");
  }
}

}  // namespace

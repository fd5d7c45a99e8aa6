#include "core/log.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/server_fixture.h"

const std::string kStamp = R"(\[(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-\d\d-\d\d \d\d:\d\d:\d\d\] )";

// Each case's console output and log file, with the stamps made "[T] ".
TEST(LogTest, LinesAreStampedOnConsoleAndInFileCrLfInTheFileControlBytesReplacedAndCutAt511) {
  InProcessServer dir;  // a fresh working directory; nothing started
  EXPECT_TRUE(std::regex_match("[" + GetLogTimestamp() + "] ", std::regex(kStamp)));
  auto run = [&](const std::function<void()>& log) {
    testing::internal::CaptureStdout();
    log();
    const std::string both = testing::internal::GetCapturedStdout() + "|" + dir.ReadFile(kLogFileName);
    return std::regex_replace(both, std::regex(kStamp), "[T] ");
  };
  EXPECT_EQ(run([] { LogPrint(1, "[JOIN] %s has joined the server. [%s]", "Bob", "1.2.3.4"); }),
            "[T] [JOIN] Bob has joined the server. [1.2.3.4]\n|"
            "[T] [JOIN] Bob has joined the server. [1.2.3.4]\r\n");
  EXPECT_EQ(run([] { LogPrintFileOnly(1, "[CONSOLE INPUT] %s", "kick 5"); }),
            "|[T] [JOIN] Bob has joined the server. [1.2.3.4]\r\n[T] [CONSOLE INPUT] kick 5\r\n");
  const std::string before = dir.ReadFile(kLogFileName);
  const std::string cut(511, 'x');
  EXPECT_EQ(run([] {
              LogPrint(0, "first\nsecond\n");
              LogPrint(0, "third %d", 3);
              LogPrint(0, "[CHAT] %s: %s", "Bob", "hi\x1b]0;owned\x07\r\x7f\tthere");
              LogPrint(0, "%s", std::string(2000, 'x').c_str());
            }),
            "first\nsecond\n\nthird 3\n[CHAT] Bob: hi?]0;owned???\tthere\n" + cut + "\n|" +
                std::regex_replace(before, std::regex(kStamp), "[T] ") +
                "first\r\nsecond\r\n\r\nthird 3\r\n[CHAT] Bob: hi?]0;owned???\tthere\r\n" + cut + "\r\n");
}

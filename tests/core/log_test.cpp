#include "core/log.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/server_fixture.h"

namespace {

// InProcessServer gives a fresh temporary working directory without starting
// anything; the log file lands there.
class LogTest : public ::testing::Test {
 protected:
  InProcessServer dir_;
  std::string File() { return dir_.ReadFile(kLogFileName); }
};

const char* kStamp = R"((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-\d\d-\d\d \d\d:\d\d:\d\d)";
bool IsStamped(const std::string& text, const std::string& body) {
  return std::regex_match(text, std::regex(std::string(R"(\[)") + kStamp + R"(\] )" + body));
}

TEST_F(LogTest, StampedLineOnConsoleAndInFileAndFileOnlyLines) {
  EXPECT_TRUE(std::regex_match(GetLogTimestamp(), std::regex(kStamp))) << GetLogTimestamp();
  testing::internal::CaptureStdout();
  LogPrint(1, "[JOIN] %s has joined the server. [%s]", "Bob", "1.2.3.4");
  const std::string body = R"(\[JOIN\] Bob has joined the server\. \[1\.2\.3\.4\])";
  EXPECT_TRUE(IsStamped(testing::internal::GetCapturedStdout(), body + "\n"));
  EXPECT_TRUE(IsStamped(File(), body + "\r\n")) << File();

  testing::internal::CaptureStdout();
  LogPrintFileOnly(1, "[CONSOLE INPUT] %s", "kick 5");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(IsStamped(File(), body + R"(\r\n\[)" + kStamp + R"(\] \[CONSOLE INPUT\] kick 5\r\n)"))
      << File();
}

TEST_F(LogTest, LineEndsInsideAMessageBecomeCrLfAndRecordsAppendWithoutRunningTogether) {
  testing::internal::CaptureStdout();
  LogPrint(0, "first\nsecond\n");
  LogPrint(0, "third %d", 3);
  LogPrint(0, "fourth");
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(console, "first\nsecond\n\nthird 3\nfourth\n");
  EXPECT_EQ(File(), "first\r\nsecond\r\n\r\nthird 3\r\nfourth\r\n");
}

TEST_F(LogTest, ControlBytesAreReplacedAndOverlongMessagesCutAt511Bytes) {
  testing::internal::CaptureStdout();
  LogPrint(0, "[CHAT] %s: %s", "Bob", "hi\x1b]0;owned\x07\r\x7f\tthere");
  LogPrint(0, "%s", std::string(2000, 'x').c_str());
  const std::string cut(511, 'x');
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[CHAT] Bob: hi?]0;owned???\tthere\n" + cut + "\n");
  EXPECT_EQ(File(), "[CHAT] Bob: hi?]0;owned???\tthere\r\n" + cut + "\r\n");
}

}  // namespace

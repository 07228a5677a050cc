// The start-up failure report: its exact bytes for the messages and addresses it may meet.
#include "platform/versionprobe.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/startup_report.h"

namespace {

TEST(StartupFailureReport, IsTheClassModuleAddressAndTheMessageWithAFullStop) {
  struct Case {
    std::string className;
    std::string module;
    std::uintptr_t address;
    std::string message;
    std::string expected;
  } cases[] = {
      {"Exception", "EventLog", 0x1A2B, "Can't get the Windows version",
       "Exception Exception in module EventLog at 00001A2B.\r\n"
       "Can't get the Windows version.\r\n\r\n"},
      {"Exception", "EventLog.exe", 0xDEADBEEF, "Already a sentence.",
       "Exception Exception in module EventLog.exe at DEADBEEF.\r\nAlready a sentence.\r\n\r\n"},
      {"EOutOfMemory", "EventLog", 0, "",
       "Exception EOutOfMemory in module EventLog at 00000000.\r\n.\r\n\r\n"},
      {"Exception", "EventLog", static_cast<std::uintptr_t>(0x123456789ABCDEF0ull),
       "Ends with a dot..",
       "Exception Exception in module EventLog at 9ABCDEF0.\r\nEnds with a dot..\r\n\r\n"},
      {"Exception", "EventLog", 7, "Two lines\r\nsecond",
       "Exception Exception in module EventLog at 00000007.\r\nTwo lines\r\nsecond.\r\n\r\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(StartupFailureReport(c.className, c.module, c.address, c.message), c.expected)
        << c.message;
}

TEST(VersionProbe, PassesWhereTheSystemAnswers) {
  ASSERT_TRUE(platform::QuerySystemVersion());
  EXPECT_NO_THROW(ProbeWindowsVersion());
}

}  // namespace

// The exception report over a component layer that refuses to start. This program puts its own
// session routines in place of the platform's (they live in an object file of their own), as the
// Windows suite puts its own CoInitialize in place of the system's.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "kit/exceptionreport.h"
#include "kit/helpers.h"
#include "platform/xmldoc.h"
#include "tests/support/process.h"

namespace {

struct SessionCalls {
  bool refuse = false;
  int begun = 0;
  int ended = 0;
} calls;

// Works in another current directory for the life of the object.
class InDirectory {
 public:
  explicit InDirectory(const std::string& path) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~InDirectory() { std::filesystem::current_path(old_); }

 private:
  std::filesystem::path old_;
};

tExceptionRec Record(const std::string& fileName) {
  tExceptionRec record;
  record.FunctionName = "tarn32.SendPage";
  record.ClassName = "EHTTPProtocolException";
  record.Message = "HTTP/1.1 500 Internal Server Error";
  record.Trace = 310;
  record.FileName = fileName;
  return record;
}

// The one line of the fallback journal without its date-time: what follows ": ".
std::string JournalLineAfterTime(const std::string& journal) {
  const std::size_t at = journal.find(": ");
  if (at == std::string::npos || journal.find("\r\n") != journal.size() - 2) return journal;
  return journal.substr(at + 2);
}

}  // namespace

namespace platform {

void BeginXmlSession() {
  ++calls.begun;
  if (calls.refuse) throw EXMLDocError("CoInitialize has been refused");
}

void EndXmlSession() { ++calls.ended; }

}  // namespace platform

TEST(ExceptionReportSession, ARefusedSessionLeavesTheFallbackLineAndIsNotEnded) {
  calls = {.refuse = true};
  TemporaryDirectory cwd;
  const std::string name = "kit-report-session-refused-{timestamp}.xml";
  std::string result;
  {
    InDirectory inside(cwd.Path());
    result = SaveExceptionRecAsXML(Record(name));
  }
  EXPECT_EQ(result, "");
  EXPECT_EQ(calls.begun, 1);
  EXPECT_EQ(calls.ended, 0);
  EXPECT_EQ(JournalLineAfterTime(ReadFileBytes(cwd.File("Exception.txt"))),
            "tarn32.SaveExceptionRecAsXML LogRec.Trace=100 E.Message=CoInitialize has been refused "
            "sFileName= \r\n");
  for (const auto& entry : std::filesystem::directory_iterator(GetAppPath()))
    EXPECT_EQ(entry.path().filename().string().find("kit-report-session-refused-"),
              std::string::npos);
}

TEST(ExceptionReportSession, AStartedSessionIsEndedOnceOnEveryPath) {
  struct Case {
    const char* what;
    std::string nameTemplate;
    bool saved;
  };
  const Case cases[] = {
      {"saved", "kit-report-session-{timestamp}.xml", true},
      {"save refused", "kit-report-session-missing/{timestamp}.xml", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    calls = {};
    TemporaryDirectory cwd;
    std::string result;
    {
      InDirectory inside(cwd.Path());
      result = SaveExceptionRecAsXML(Record(c.nameTemplate));
    }
    EXPECT_EQ(calls.begun, 1);
    EXPECT_EQ(calls.ended, 1);
    EXPECT_EQ(PathExists(result), c.saved) << result;
    EXPECT_EQ(PathExists(cwd.File("Exception.txt")), !c.saved);
    if (c.saved) std::filesystem::remove(result);
  }
}

// Exception reports when the Windows component layer refuses a step: the fallback line names the
// step, and the layer is given back only what was taken from it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "kit/exceptionreport.h"
#include "kit/helpers.h"
#include "tests/support/fake_com.h"
#include "tests/support/kit_support.h"
#include "tests/support/process.h"

namespace {

constexpr long kChangedMode = static_cast<long>(0x80010106);  // RPC_E_CHANGED_MODE

tExceptionRec Record(const std::string& fileName) {
  tExceptionRec record;
  record.FunctionName = "tarn32.SendPage";
  record.ClassName = "ESocketError";
  record.Message = "m";
  record.Trace = 3;
  record.Notes = "n";
  record.FileName = fileName;
  return record;
}

// The journal holds one dated fallback line for the step's marker.
void ExpectOneFallbackLine(const std::string& journal, int marker, const std::string& fileName) {
  ASSERT_TRUE(PathExists(journal));
  const std::string line = ReadFileBytes(journal);
  const std::string head =
      ": tarn32.SaveExceptionRecAsXML LogRec.Trace=" + std::to_string(marker) + " E.Message=";
  const std::string tail = " sFileName=" + fileName + " \r\n";
  const std::size_t at = line.find(head);
  ASSERT_NE(at, std::string::npos) << line;
  ASSERT_GE(line.size(), at + head.size() + tail.size()) << line;
  EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
  const std::string message =
      line.substr(at + head.size(), line.size() - tail.size() - at - head.size());
  EXPECT_FALSE(message.empty()) << line;
  EXPECT_EQ(message.find("\r\n"), std::string::npos) << line;
  EXPECT_EQ(line.find("\r\n"), line.size() - 2) << "one line only: " << line;
}

TEST(ExceptionReportOnWindows, ARefusedComponentStepWritesTheFallbackLineWithItsMarker) {
  struct Case {
    const char* name;
    ComRefusal refusal;
    int marker;
    std::string fileName;  // as far as it was built when the step failed
    int initializes, creations, uninitializes;
  } cases[] = {
      // Nothing was started, so nothing is given back.
      {"CoInitialize refused", ComRefusal::Initialize, 100, "", 1, 0, 0},
      {"no document class", ComRefusal::DocumentClasses, 210, "", 1, 4, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TemporaryDirectory cwd;
    std::string result;
    int initializes = 0, creations = 0, uninitializes = 0;
    {
      ScopedCurrentDirectory inside(cwd.Path());
      ScopedComRefusal refusal(c.refusal);
      result = SaveExceptionRecAsXML(Record("kit-report-win32-{timestamp}.xml"));
      initializes = refusal.Initializes();
      creations = refusal.Creations();
      uninitializes = refusal.Uninitializes();
    }
    EXPECT_EQ(result, c.fileName);
    EXPECT_EQ(initializes, c.initializes);
    EXPECT_EQ(creations, c.creations);
    EXPECT_EQ(uninitializes, c.uninitializes);
    ExpectOneFallbackLine(cwd.File("Exception.txt"), c.marker, c.fileName);
  }
}

TEST(ExceptionReportOnWindows, AThreadInTheOtherModelStillGetsItsReport) {
  ASSERT_TRUE(BeginMultithreaded());
  TemporaryDirectory cwd;
  std::string result;
  int uninitializes = 0;
  long answer = 0;
  {
    ScopedCurrentDirectory inside(cwd.Path());
    ScopedComRefusal counting(ComRefusal::None);
    result = SaveExceptionRecAsXML(Record("kit-report-win32-mta-{timestamp}.xml"));
    uninitializes = counting.Uninitializes();
    answer = counting.LastInitializeAnswer();
  }
  EndMultithreaded();
  const bool written = PathExists(result);
  if (written) std::filesystem::remove(result);
  EXPECT_TRUE(written) << result;
  EXPECT_FALSE(PathExists(cwd.File("Exception.txt"))) << ReadFileBytes(cwd.File("Exception.txt"));
  // CoInitialize answered "changed mode": the thread's layer is not the report's to end.
  EXPECT_EQ(answer, kChangedMode);
  EXPECT_EQ(uninitializes, 0);
}

}  // namespace

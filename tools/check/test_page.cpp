// The test page (test_page.h).
#include "tools/check/test_page.h"

#include <filesystem>

#include "kit/helpers.h"
#include "kit/records.h"
#include "monitor/pageaction.h"
#include "monitor/settings.h"
#include "paging/sendpage.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "tools/check/paths.h"
#include "tools/check/reports.h"

namespace check {

namespace {

constexpr char kTestPageSource[] = "eventlog-check";

namespace fs = std::filesystem;

// The exception report's name template that puts the report in the program folder: the kit
// writes it beside the running program, so the template climbs from there.
std::string ReportTemplateIn(const std::string& programDirectory) {
  std::error_code error;
  const fs::path from = fs::canonical(platform::PathOf(GetAppPath()), error);
  if (error) return "";
  const fs::path to = fs::canonical(platform::PathOf(programDirectory), error);
  if (error) return "";
  const fs::path relative = to.lexically_relative(from);
  if (relative.empty() || relative == ".") return "";
  return platform::PathText(relative / "EXCEPTION-{timestamp}.XML");
}

}  // namespace

// Sends one page as the monitor would and reads its outcome from the files the sender leaves.
void SendTestPage(const std::string& programDirectory, Findings& findings) {
  tMyEventLogRecord record;
  record.Source = kTestPageSource;
  tSendPageRec request = PageRequest(PageMessage(Now(), GetHostName(), record));
  // The line shows the page as it goes out; a password of the environment stays masked in it.
  tSendPageRec shown = request;
  try {
    ApplyConfiguredPager(shown);
    if (PasswordSetting().FromEnvironment) shown.Password = "***";
    Print("Test page: " + EscapedText(PageUrl(PagingGatewayHost(), shown)));
  } catch (const EPagingSetting&) {
    Print("Test page: to no pager, PAGING_PAGER_ID names none");
  }
  GlobalSettings.ExceptionFileName = ReportTemplateIn(programDirectory);
  const auto recordsBefore = MatchingNames(".", "SendPage_*.xml");
  const auto reportsBefore = MatchingNames(programDirectory, "EXCEPTION-*.XML");
  const bool accepted = SendPageToConfiguredPager(request);
  const auto pageRecord = NewName(recordsBefore, MatchingNames(".", "SendPage_*.xml"));
  const auto report = NewName(reportsBefore, MatchingNames(programDirectory, "EXCEPTION-*.XML"));
  if (accepted && pageRecord) {
    Print("  the gateway accepted it; page record " + *pageRecord + " " +
          PageRecordSummary(*pageRecord));
  } else if (accepted) {
    findings.Warn(
        "the gateway accepted it, but the page record could not be written in the current "
        "folder");
  } else if (pageRecord) {
    findings.Fail(
        "the gateway answered without \"Message succesfully sent\": the page was not "
        "accepted; page record " +
        *pageRecord + " (its URL shows what was sent)");
  } else if (report) {
    const std::string document = ReadFileToString(JoinPath(programDirectory, *report));
    findings.Fail("the page failed: " + ElementText(document, "ClassName") + ": " +
                  ElementText(document, "e.Message") + " (report " +
                  JoinPath(programDirectory, *report) + ")");
  } else {
    findings.Fail("the page failed and its report could not be saved: " +
                  LastLine(ReadFileToString("Exception.txt")));
  }
}

}  // namespace check

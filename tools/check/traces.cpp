// The program folder and the traces of pages (traces.h).
#include "tools/check/traces.h"

#include "monitor/settings.h"
#include "platform/files.h"
#include "tools/check/paths.h"
#include "tools/check/reports.h"

namespace check {

void CheckProgramFolder(const std::string& programDirectory, Findings& findings) {
  Print("The program folder " + programDirectory + ":");
  std::string reason;
  if (platform::CanCreateFileIn(programDirectory, reason))
    Print("  can take exception reports (for the user running this check)");
  else
    findings.Warn("the program folder " + programDirectory + " cannot take exception reports (" +
                  reason +
                  "): a failed page leaves only a line in Exception.txt in the current folder");
  if (auto newest = NewestMatch(programDirectory, "EXCEPTION-*.XML"))
    Print("  newest exception report: " + *newest + " " +
          ReportSummary(JoinPath(programDirectory, *newest)));
  else
    Print("  newest exception report: none");
}

void PrintTraces(const std::string& folder) {
  Print("In " + folder + ", where EventLog runs:");
  if (auto newest = NewestMatch(folder, "SendPage_*.xml"))
    Print("  newest page record: " + *newest + " " + PageRecordSummary(JoinPath(folder, *newest)));
  else
    Print("  newest page record: none");
  const std::string journal = JoinPath(folder, "Exception.txt");
  if (platform::FileExists(journal))
    Print("  Exception.txt (reports that could not be saved), last line: " +
          LastLine(ReadFileToString(journal)));
}

}  // namespace check

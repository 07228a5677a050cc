// The whole check (run_check.h).
#include "tools/check/run_check.h"

#include "monitor/settings.h"
#include "platform/journal.h"
#include "platform/system.h"
#include "tools/check/alertmanager_probe.h"
#include "tools/check/findings.h"
#include "tools/check/gateway_probe.h"
#include "tools/check/log_probe.h"
#include "tools/check/rule_probe.h"
#include "tools/check/settings_check.h"
#include "tools/check/state_check.h"
#include "tools/check/test_page.h"
#include "tools/check/traces.h"

namespace check {

int RunCheck(const Target& target, const std::optional<AppliedEnvironment>& environment,
             const std::optional<AppliedEnvironment>& watchEnvironment) {
  Findings findings;
  if (target.Watch)
    Print("The watch eventlog@" + *target.Watch + ".service as it will run, checked as the user " +
          EscapedText(platform::CurrentUserName()) + " in " + target.Folder + ":");
  else if (target.Service)
    Print("The service as it will run, checked as the user " +
          EscapedText(platform::CurrentUserName()) + " in " + target.Folder + ":");
  if (target.User && platform::CurrentUserName() != *target.User)
    findings.Note("the check runs as " + EscapedText(platform::CurrentUserName()) + ", not as " +
                  *target.User +
                  ": it finds what this user can read and write; run it as root "
                  "to check as " +
                  *target.User);
  if (target.MissingWatchFolder)
    findings.Note("the watch's working folder " + *target.MissingWatchFolder +
                  " is made at its first start (systemctl start eventlog@" + *target.Watch +
                  "); until then the check looks at " + target.Folder + ", where it is made");
  CheckEnvironment(environment, findings, watchEnvironment);
  const std::optional<tEventSearchRecord> settings = CheckSettings(target, findings);
  TDateTime loggedAfter = settings ? settings->LoggedAfter : 0;
  if (target.StateFile) loggedAfter = CheckState(*target.StateFile, loggedAfter, findings);
  if (settings) {
    tEventSearchRecord effective = *settings;
    effective.LoggedAfter = loggedAfter;
    CheckLog(effective, findings);
  }
  if (settings && platform::NamesTheJournal(settings->LogFile))
    CheckJournalRules(*settings, findings);
  CheckProgramFolder(target.ProgramDirectory, findings);
  CheckGateway(settings ? &*settings : nullptr, target.Probe, findings);
  CheckAlertmanagers(target.Probe, findings);
  PrintTraces(target.Folder);
  if (target.Page) SendTestPage(target.ProgramDirectory, findings);
  if (findings.Errors > 0)
    Print("Result: " + Plural(findings.Errors, "error") + ", " +
          Plural(findings.Warnings, "warning") +
          ": EventLog would stop, watch the wrong thing, find nothing or fail to page.");
  else if (findings.Warnings > 0)
    Print("Result: " + Plural(findings.Warnings, "warning") + ".");
  else
    Print("Result: sound.");
  return findings.ExitCode();
}

}  // namespace check

// eventlog-service: the start and stop steps of EventLog as a service. "prepare" checks the
// settings and writes the working copies of the settings and the program into the working
// directory, "run" runs EventLog there and passes everything it says into the journal at the
// right priority, "finish" makes the delivery state durable. EventLog itself keeps the delivery
// state (EVENTLOG_STATE_FILE): prepare carries its LoggedAfter into the working settings, so that
// a restart neither repeats a finished report nor misses what was logged while EventLog was down,
// and reports again an event whose page had not ended when the last run was stopped.
// The steps are the library in tools/service/; this is their entry.
#include <cstdio>
#include <exception>

#include "core/errors.h"
#include "platform/locale.h"
#include "tools/service/command_line.h"
#include "tools/service/finish.h"
#include "tools/service/journal_lines.h"
#include "tools/service/prepare.h"
#include "tools/service/run.h"
#include "tools/service/step.h"

using namespace service;

int main(int argc, char** argv) {
  Options options;
  switch (ParseArguments(argc, argv, options)) {
    case Parsed::Help:
      std::fputs(kUsage, stdout);
      return 0;
    case Parsed::Version:
      std::fputs("eventlog-service " EVENTLOG_VERSION "\n", stdout);
      return 0;
    case Parsed::Wrong:
      std::fputs(kUsage, stderr);
      return 2;
    case Parsed::Refused:
      return 1;
    case Parsed::Run:
      break;
  }
  // Dates are read and written as EventLog reads and writes them: the same regional settings.
  LoadRegionalSettings();
  try {
    if (options.Command == "prepare") return Prepare(options);
    if (options.Command == "run") return Run(options);
    return Finish(options);
  } catch (const StepFailure& failure) {
    Say(Priority::Err, failure.Message);
  } catch (const std::exception& failure) {
    const FailureDescription description = DescribeFailure(failure);
    Say(Priority::Err, description.Message + " (" + description.ClassName + ")");
  }
  return 1;
}

// EventLog: watches one event log for a chosen event and reports each new occurrence.
#include "monitor/monitor.h"
#include "platform/regional.h"

int main() {
  LoadRegionalSettings();
  return RunMonitor();
}

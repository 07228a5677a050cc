// Requests to stop the program from outside: SIGTERM, SIGINT and SIGHUP on Linux; Ctrl-C,
// Ctrl-Break and the console's close on Windows. Without a hold each acts at once, as the system
// has it; a hold makes one wait until a piece of work that must not be cut short has ended.
#pragma once

namespace platform {

// From now on a request to stop waits instead of ending the program. Holds do not nest.
void HoldStopRequests();

// Ends the hold. A request that came meanwhile now ends the program as it asked (by the same
// signal, under the system's own handling of it; on Windows as Ctrl-C ends a console program),
// and this call does not return; without one the program goes on.
void ReleaseStopRequests();

// Windows: when the environment's EVENTLOG_STOP_EVENT names an event, the event's signal is a
// request to stop as Ctrl-Break is (the Windows service stops EventLog so, as it shares no console
// with it); a name that opens no event is left alone. Linux: nothing, as the signals reach the
// program.
void WatchStopEvent();

}  // namespace platform

// Holds the requests to stop for the life of the object.
struct StopRequestsHeld {
  StopRequestsHeld() { platform::HoldStopRequests(); }
  ~StopRequestsHeld() { platform::ReleaseStopRequests(); }
  StopRequestsHeld(const StopRequestsHeld&) = delete;
  StopRequestsHeld& operator=(const StopRequestsHeld&) = delete;
};

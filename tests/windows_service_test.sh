#!/usr/bin/env bash
# eventlog-service.exe under Wine's own Service Control Manager, in a Wine prefix of the test's
# own: registered with a bare "sc create" in a folder whose name has a blank, it runs EventLog
# (over a stand-in event log the test fills) against a loopback gateway that records each request
# line. The first start pages once; a stop and a start page nothing again; a new event while
# stopped is paged once at the next start; a watch's service beside it ("--watch disk") pages
# its own event once, across a restart too; a settings error stops the service with
# service-specific exit code 1 and the finding in its log. The services are deleted at the end
# whatever happened.
#
# Two things of Wine's shape the setup:
# - "wineboot -i" on a prefix that does not exist yet starts the Service Control Manager twice in
#   that first session (the prefix's own first boot and the asked one each start services.exe).
#   Both answer on the manager's pipe, each with its own list of services, so a service created
#   through one is unknown to the other: "sc query" fails now and then and "sc start" fails with
#   1060 (which WINEDEBUG=-all hides, so it says nothing). The test therefore ends that first
#   session and works in a second one, which has one manager, and checks that it has.
# - Wine's manager hands every service the machine's environment (Session Manager\Environment),
#   read when it starts its first service; it does not read the service's own Environment value
#   that install.ps1 also sets. PAGING_GATEWAY_HOST is therefore set in the machine's environment
#   in the first session, before the manager of the second one starts.
# Arguments: eventlog-service.exe, the EventLog.exe over the stand-in log.
set -u
service_exe=$1
fake_log_exe=$2
for tool in wine wineserver python3; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done

work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# No window is wanted, and none of the operator's displays is used.
unset DISPLAY WAYLAND_DISPLAY
install="$work/Install Dir"
state="$install/service"
requests="$work/requests.txt"
failures=0
gateway_pid=
registered=
watch_registered=

# sc with its own error lines shown (WINEDEBUG=-all would hide them), without the launcher's note
# about a missing 32-bit Wine.
sc() {
  WINEDEBUG=err+sc wine sc "$@" 2>&1 | tr -d '\r' |
    grep -v -e 'wine32' -e 'multiarch needs' -e 'dpkg --add-architecture'
}
# sc query's STATE word, e.g. "RUNNING"
# The service the steps below act on: the plain one, then a watch's.
service=EventLogPager
state_of() { sc query "$service" | sed -n 's/.*STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'; }
wait_for_state() {
  for _ in $(seq 1 60); do
    [ "$(state_of)" = "$1" ] && return 0
    sleep 0.5
  done
  return 1
}

cleanup() {
  if [ -n "$watch_registered" ]; then
    service=EventLogPager-disk
    sc stop "$service" >/dev/null
    wait_for_state STOPPED
    sc delete "$service" >/dev/null
    service=EventLogPager
  fi
  if [ -n "$registered" ]; then
    sc stop EventLogPager >/dev/null
    wait_for_state STOPPED
    sc delete EventLogPager >/dev/null
  fi
  [ -n "$gateway_pid" ] && kill "$gateway_pid" 2>/dev/null
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# The gateway stand-in: one line per request, its request line, and the gateway's answer.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
: >"$requests"
python3 - "$port" "$requests" <<'PY' &
import socket, sys
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", int(sys.argv[1])))
listener.listen(8)
while True:
    connection, _ = listener.accept()
    connection.settimeout(10)
    head = b""
    try:
        while b"\r\n\r\n" not in head:
            block = connection.recv(4096)
            if not block:
                break
            head += block
    except OSError:
        pass
    with open(sys.argv[2], "ab") as record:
        record.write(head.split(b"\r\n")[0] + b"\n")
    body = b"Message succesfully sent"
    connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n"
                       b"Connection: close\r\n\r\n%s" % (len(body), body))
    connection.close()
PY
gateway_pid=$!

started=$(date +%s)
# The first session: make the prefix and set the machine's environment.
wineboot -i >/dev/null 2>&1 || { echo "skipped: wineboot cannot make a prefix"; exit 77; }
wine reg add 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' \
  /v PAGING_GATEWAY_HOST /t REG_SZ /d "127.0.0.1:$port" /f >/dev/null 2>&1 ||
  { echo "FAILED: cannot set PAGING_GATEWAY_HOST in the prefix's machine environment"; exit 1; }
wineserver -k 2>/dev/null
wineserver -w
# The second session, kept until the end (and two minutes past its last program, should the test
# be killed). Its first program starts the session's own programs (the manager among them), which
# keep the standard streams they inherit: those must not be a pipe that the test reads to its end.
wineserver -p120
wine cmd /c exit >/dev/null 2>&1 </dev/null
for _ in $(seq 1 60); do
  sc query Spooler | grep -q SERVICE_NAME && break
  sleep 0.5
done
managers=0
for pid in $(pgrep -f 'services\.exe'); do
  tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
    managers=$((managers + 1))
done
[ "$managers" = 1 ] || fail "the prefix runs $managers Service Control Managers, not one"
echo "prefix ready after $(($(date +%s) - started)) s"

mkdir -p "$state"
cp "$service_exe" "$install/eventlog-service.exe"
cp "$fake_log_exe" "$install/EventLog.exe"
cat >"$install/EventLog.XML" <<'XML'
<?xml version="1.0"?>
<EventLog>
  <LogFile>Application</LogFile>
  <EventID>1000</EventID>
  <Action>page</Action>
  <Sleep>1</Sleep>
</EventLog>
XML
printf '1 %d 1000 First|first event\r\n' $(($(date +%s) - 120)) >"$state/fake-log.txt"

pages() { grep -c . "$requests"; }
wait_for_pages() {
  for _ in $(seq 1 30); do
    [ "$(pages)" -ge "$1" ] && return 0
    sleep 0.5
  done
  return 1
}
# The count after two or three of EventLog's cycles (Sleep 1).
settle() {
  sleep 3
  pages
}
start_service() {
  local said
  said=$(sc start "$service")
  echo "$said" | grep -Eq 'STATE *: *[0-9]+ *(START_PENDING|RUNNING)' ||
    fail "sc start $1 did not start the service: $said"
}
stop_service() {
  sc stop "$service" >/dev/null
  wait_for_state STOPPED || fail "the service did not stop after $1 (state $(state_of))"
}
# A log line without its time stamp, e.g. "info eventlog-service: ..."
unstamped() { tr -d '\r' <"$1" | sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} //'; }
has_line() { unstamped "$1" | grep -qxF -- "$2" || fail "$(basename "$1") lacks the line: $2"; }
has_line_starting() {
  unstamped "$1" | grep -qF -- "$2" || fail "$(basename "$1") lacks a line with: $2"
}
# The request line of the page for the event of the source given.
url_of() {
  echo "^GET /cgi-bin/xmhscgi\\?password=KRVOT&pagerid=730418&message=EventLog:%20[0-9]{1,2}/[0-9]{1,2}/[0-9]{4}%20[0-9]{1,2}:[0-9]{2}:[0-9]{2}%20[AP]M%20Host%3D[A-Za-z0-9_-]+%20Source%3D$1%20EventID%3D1000 HTTP/1\\.1\$"
}

win_install=$(wine winepath -w "$install" 2>/dev/null | tr -d '\r')
said=$(sc create EventLogPager binPath= "\"$win_install\\eventlog-service.exe\"")
registered=1
# Wine's sc says nothing when it succeeds.
[ "$(state_of)" = STOPPED ] || { echo "FAILED: sc create did not register the service: $said"; exit 1; }

# 1. The first start pages the event once.
start_service first
wait_for_state RUNNING || fail "the service is not RUNNING after sc start (state $(state_of))"
wait_for_pages 1 || fail "no page after the first start"
[ "$(settle)" = 1 ] || fail "the first start paged $(pages) times, not once"
sed -n 1p "$requests" | grep -Eq "$(url_of First)" ||
  fail "the first page's request line: $(sed -n 1p "$requests")"

# 2. A stop and a start page nothing again.
stop_service "the first run"
has_line "$state/eventlog-service.log" \
  "info eventlog-service: stop requested: EventLog finishes a page in flight and stops"
has_line "$state/eventlog-service.log" \
  "info eventlog-service: EventLog stopped as asked (exit code 0xC000013A); the service stops"
start_service second
wait_for_state RUNNING || fail "the service is not RUNNING after the second start"
[ "$(settle)" = 1 ] || fail "the restart paged again: $(pages) pages"

# 3. A new event while stopped is paged once at the next start.
stop_service "the second run"
printf '2 %d 1000 Second|second event\r\n' "$(date +%s)" >>"$state/fake-log.txt"
start_service third
wait_for_pages 2 || fail "the new event was not paged"
[ "$(settle)" = 2 ] || fail "the new event was paged $(pages) times in all, not 2"
sed -n 2p "$requests" | grep -Eq "$(url_of Second)" ||
  fail "the second page is not the new event's: $(sed -n 2p "$requests")"
stop_service "the third run"

log="$state/eventlog-service.log"
console="$state/EventLog.console.log"
has_line "$log" "info eventlog-service: service EventLogPager starts EventLog of $win_install"
has_line "$log" "info eventlog-service: EventLog runs in $win_install\\service"
has_line "$log" "info MyEventLogRecord.Source=First"
has_line "$log" "info MyEventLogRecord.Source=Second"
has_line_starting "$log" "info page accepted: EventLog: "
[ "$(unstamped "$log" | grep -c '^info page accepted: ')" = 2 ] ||
  fail "the service log does not say two pages were accepted"
has_line "$console" "out Version: 201710091624"
has_line "$console" "out MyEventLogRecord.Details=first event"
has_line "$console" "out MyEventLogRecord.Details=second event"
has_line "$console" "out No events found."
grep -Eq '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:.]+ out Sleeping for 1 seconds\.' "$console" ||
  fail "the console log holds no stamped line of EventLog's"

# 4. A watch beside it, the service EventLogPager-disk: its own settings (disk.XML), working
# folder and log (the stand-in reads the log from the working folder), paging once, and once
# only across a restart, while the plain service is stopped and pages nothing.
watch_state="$install/watches/disk/service"
mkdir -p "$watch_state"
cp "$install/EventLog.XML" "$install/disk.XML"
printf '1 %d 1000 Disk|disk event\r\n' "$(date +%s)" >"$watch_state/fake-log.txt"
said=$(sc create EventLogPager-disk binPath= "\"$win_install\\eventlog-service.exe\" --watch disk")
service=EventLogPager-disk
[ "$(state_of)" = STOPPED ] || fail "sc create did not register the watch's service: $said"
watch_registered=1
start_service "of the watch"
wait_for_pages 3 || fail "the watch did not page its event"
[ "$(settle)" = 3 ] || fail "the watch paged $(($(pages) - 2)) times, not once"
sed -n 3p "$requests" | grep -Eq "$(url_of Disk)" ||
  fail "the watch's page is not its event's: $(sed -n 3p "$requests")"
stop_service "the watch's first run"
start_service "of the watch again"
[ "$(settle)" = 3 ] || fail "the watch's restart paged again: $(pages) pages"
stop_service "the watch's second run"
has_line "$watch_state/eventlog-service.log" "info MyEventLogRecord.Source=Disk"
[ -f "$watch_state/LoggedAfter.state" ] || fail "the watch keeps no LoggedAfter.state of its own"
unstamped "$log" | grep -q 'Source=Disk' && fail "the plain service's log holds the watch's event"
said=$(sc delete EventLogPager-disk)
sc query EventLogPager-disk | grep -q 'failed to open service 1060' ||
  fail "sc delete did not delete the watch's service: $said"
watch_registered=
service=EventLogPager

# 5. A settings error stops the service with service-specific exit code 1, the finding logged.
sed -i 's|<EventID>1000</EventID>|<EventID>70000</EventID>|' "$install/EventLog.XML"
sc start EventLogPager >/dev/null
wait_for_state STOPPED || fail "the service with a settings error did not stop"
query=$(sc query EventLogPager)
echo "$query" | grep -Eq 'WIN32_EXIT_CODE *: *1066 ' && echo "$query" | grep -Eq 'SERVICE_EXIT_CODE *: *1 ' ||
  fail "no service-specific exit code 1 after the settings error: $query"
has_line "$log" "error eventlog-service: error: $win_install\\EventLog.XML: EventID 70000 is above 65535: EventLog compares it with the low 16 bits of each record's event ID (0 to 65535), so it never matches; the low 16 bits of \"70000\" are 4464"
has_line "$log" "error eventlog-service: EventLog is not started: mend the errors above in $win_install\\EventLog.XML or the machine's environment variables (eventlog-check shows them) and start again"
has_line "$log" "error eventlog-service: EventLog is not started: mend the settings as said above; the service stops with service-specific exit code 1 and its recovery actions try again"
[ "$(pages)" = 3 ] || fail "the refused start paged: $(pages) pages"

# 6. The service is deleted (and, whatever happened, again by the cleanup).
said=$(sc delete EventLogPager)
sc query EventLogPager | grep -q 'failed to open service 1060' ||
  fail "sc delete did not delete the service: $said"
registered=

echo "--- requests"
cat "$requests"
echo "--- eventlog-service.log"
cat "$log"
echo "--- EventLog.console.log (end)"
tail -5 "$console"
echo "took $(($(date +%s) - started)) s"
[ "$failures" = 0 ] && echo "all checks passed"
exit $((failures > 0))

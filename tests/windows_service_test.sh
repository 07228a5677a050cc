#!/usr/bin/env bash
# eventlog-service.exe under Wine's own Service Control Manager, in a Wine prefix of the test's
# own: registered with a bare "sc create" in a folder whose name has a blank, it runs EventLog
# (over a stand-in event log the test fills) against the loopback gateway stand-in. The first start
# pages once; a stop and a start page nothing again; a new event while stopped is paged once at
# the next start; a settings error stops the service with service-specific exit code 1 and the
# finding in its log. The service is deleted at the end whatever happened.
# Arguments: eventlog-service.exe, the EventLog.exe over the stand-in log, pagegateway.exe.
set -u
service_exe=$1
fake_log_exe=$2
gateway_exe=$3
for tool in wine wineserver python3; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done

work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
install="$work/Install Dir"
state="$install/service"
failures=0
gateway_pid=

cleanup() {
  wine sc stop EventLogPager >/dev/null 2>&1
  sleep 2
  wine sc delete EventLogPager >/dev/null 2>&1
  [ -n "$gateway_pid" ] && kill "$gateway_pid" 2>/dev/null
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# A free loopback port for the gateway, known before the prefix starts so that the Service
# Control Manager (started with the prefix) hands it to EventLog in its environment.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
export PAGING_GATEWAY_HOST="127.0.0.1:$port"
wineboot -i >/dev/null 2>&1 || { echo "skipped: wineboot cannot make a prefix"; exit 77; }
# Right after wineboot the first commands may find the prefix still starting: wait until the
# Service Control Manager answers.
for _ in $(seq 1 60); do
  wine sc query Spooler 2>/dev/null | grep -q SERVICE_NAME && break
  sleep 1
done

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
now=$(date +%s)
printf '1 %d 1000 Test|first event\r\n' $((now - 120)) >"$state/fake-log.txt"

wine "$gateway_exe" --port "$port" >"$work/gateway.txt" 2>&1 &
gateway_pid=$!

pages() { grep -c '^Page for pager' "$work/gateway.txt"; }
# sc query's STATE line, e.g. "RUNNING"
state_of() { wine sc query EventLogPager 2>/dev/null | tr -d '\r' | sed -n 's/.*STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'; }
wait_for_state() {
  for _ in $(seq 1 120); do
    [ "$(state_of)" = "$1" ] && return 0
    sleep 0.5
  done
  return 1
}
wait_for_pages() {
  for _ in $(seq 1 60); do
    [ "$(pages)" -ge "$1" ] && return 0
    sleep 1
  done
  return 1
}
# sc start, again while Wine's manager has not taken it yet (it says nothing then).
start_service() {
  for _ in $(seq 1 30); do
    wine sc start EventLogPager 2>&1 | grep -q 'STATE' && return 0
    [ "$(state_of)" = RUNNING ] && return 0
    sleep 1
  done
  return 1
}
# The count after a few cycles of EventLog (Sleep 1).
settle() { sleep 6; pages; }

winpath=$(wine winepath -w "$install/eventlog-service.exe" 2>/dev/null | tr -d '\r')
wine sc create EventLogPager binPath= "\"$winpath\"" >/dev/null
# Wine's manager answers for a new service only after a moment.
wait_for_state STOPPED || { echo "FAILED: sc create did not register the service"; exit 1; }

# 1. The first start pages the event once.
start_service
wait_for_state RUNNING || fail "the service is not RUNNING after sc start (state $(state_of))"
wait_for_pages 1 || fail "no page after the first start"
[ "$(settle)" = 1 ] || fail "the first start paged $(pages) times, not once"

# 2. A stop and a start page nothing again.
wine sc stop EventLogPager >/dev/null
wait_for_state STOPPED || fail "the service did not stop"
grep -q 'EventLog stopped as asked' "$state/eventlog-service.log" ||
  fail "the stop did not reach EventLog"
start_service
wait_for_state RUNNING || fail "the service is not RUNNING after the second start"
[ "$(settle)" = 1 ] || fail "the restart paged again: $(pages) pages"

# 3. A new event while stopped is paged once at the next start.
wine sc stop EventLogPager >/dev/null
wait_for_state STOPPED || fail "the service did not stop the second time"
printf '2 %d 1000 Test|second event\r\n' "$(date +%s)" >>"$state/fake-log.txt"
start_service
wait_for_pages 2 || fail "the new event was not paged"
[ "$(settle)" = 2 ] || fail "the new event was paged $(pages) times in all, not 2"
grep -q 'second event' "$work/gateway.txt" || fail "the second page is not the second event's"
grep -q 'page sent' "$state/eventlog-service.log" ||
  grep -qi 'RESULT=OK\|sent' "$state/eventlog-service.log" || fail "no page outcome in the service log"
grep -Eq '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:.]+ out No events found\.' "$state/EventLog.console.log" ||
  fail "the console log holds no stamped line of EventLog's"
wine sc stop EventLogPager >/dev/null
wait_for_state STOPPED || fail "the service did not stop the third time"

# 4. A settings error stops the service with service-specific exit code 1, the finding logged.
sed -i 's|<Sleep>1</Sleep>|<Sleep>1</Sleep><LoggedAfter>not a date</LoggedAfter>|' "$install/EventLog.XML"
start_service
wait_for_state STOPPED || fail "the service with a settings error did not stop"
query=$(wine sc query EventLogPager 2>/dev/null | tr -d '\r')
echo "$query" | grep -Eq 'SERVICE_EXIT_CODE *: *1 ' ||
  fail "no service-specific exit code 1 after the settings error: $query"
grep -q 'LoggedAfter' "$state/eventlog-service.log" || fail "the finding is not in the service log"

echo "--- gateway"; cat "$work/gateway.txt"
echo "--- eventlog-service.log"; cat "$state/eventlog-service.log"
echo "--- EventLog.console.log (end)"; tail -5 "$state/EventLog.console.log"
[ "$failures" = 0 ] && echo "all checks passed"
exit $((failures > 0))

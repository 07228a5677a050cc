#!/usr/bin/env bash
# The Debian package end to end: builds it from the build directory, installs it with dpkg -i,
# checks what it installed, runs the unit's own start and stop commands by hand as the service
# user (systemd need not be PID 1) against a log written with eventcreate and a loopback gateway,
# checks that a restart neither repeats nor misses a report and that a failed page leaves its
# report in the working directory, that an upgrade moves the earlier log folder mode to the new one
# and keeps the operator's own, then purges the package and checks what is left: the event logs
# and, with them, the group eventlog that owns them.
# Usage: debian_package_test.sh BUILD_DIR. Exit code 77: skipped.
set -uo pipefail
build=$(cd "${1:?usage: debian_package_test.sh BUILD_DIR}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)

skip() {
  echo "SKIPPED: $*"
  exit 77
}
[ "$(id -u)" = 0 ] || skip "installing the package needs root (CI runs the suite as root)"
for tool in dpkg dpkg-deb dpkg-shlibdeps cpack setpriv; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
if dpkg-query -W -f='${Status}' eventlog 2>/dev/null | grep -q 'installed'; then
  skip "the package eventlog is installed on this machine; the test would replace and purge it" \
    "(dpkg --purge eventlog to let it run)"
fi
if getent passwd eventlog >/dev/null || [ -e /var/log/eventlog ] || [ -e /var/lib/eventlog ]; then
  skip "a user eventlog, /var/log/eventlog or /var/lib/eventlog exists already; the test would" \
    "mix with them"
fi

work=$(mktemp -d)
chmod 755 "$work"
failures=0
gateway_pid=
service_pid=

cleanup() {
  [ -n "$service_pid" ] && kill -KILL "$service_pid" 2>/dev/null
  [ -n "$gateway_pid" ] && kill "$gateway_pid" 2>/dev/null
  dpkg --purge eventlog >/dev/null 2>&1
  # The test's own event logs and their lock files, the operator's part that a purge leaves: the
  # folder was not there before the test (or the test skips).
  rm -rf /var/log/eventlog
  # The purge keeps the group while the kept log folder is its.
  getent group eventlog >/dev/null && groupdel eventlog
  rm -rf "$work"
}
trap cleanup EXIT

check() {
  local description=$1
  shift
  if "$@"; then
    echo "ok: $description"
  else
    echo "FAILED: $description"
    failures=$((failures + 1))
  fi
}
fatal() {
  echo "FAILED: $*"
  exit 1
}

# Waits up to 20 seconds until the file holds the text at least count times.
wait_for() {
  local file=$1 text=$2 count=${3:-1}
  for _ in $(seq 200); do
    [ "$(grep -c -F -- "$text" "$file" 2>/dev/null)" -ge "$count" ] && return 0
    sleep 0.1
  done
  echo "  (waited in vain for $count x '$text' in $file)"
  return 1
}
occurrences() { grep -c -F -- "$2" "$1" 2>/dev/null; }
mode_of() { stat -c '%U:%G %a' "$1" 2>/dev/null; }
same_text() { [ "$1" = "$2" ] || { echo "  got '$1', expected '$2'"; return 1; }; }

# ---- Build and install.
deb=$("$source_dir/packaging/debian/build-deb.sh" "$build" "$work") || fatal "building the package"
version=$(sed -n 's/^project(EventLog VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
check "the package is named eventlog_<version>_amd64.deb" \
  same_text "$(basename "$deb")" "eventlog_${version}_amd64.deb"
if command -v lintian >/dev/null; then
  # What stays at the info level: the strip of CPack keeps the .comment section, the build flags
  # are CMake's rather than dpkg-buildflags' (no bindnow, no fortify), the unit has no init.d
  # script beside it, and the gateway's success marker is spelt "succesfully".
  lint_clean() {
    local out status
    out=$(lintian --fail-on error,warning "$deb" 2>&1)
    status=$?
    [ "$status" = 0 ] && ! grep -q -E '^[EW]: ' <<<"$out" || { echo "$out"; return 1; }
  }
  check "lintian finds no error and no warning in the package" lint_clean
else
  echo "lintian is missing: the package is not linted"
fi
dpkg -i "$deb" >"$work/dpkg-i.out" 2>&1 || { cat "$work/dpkg-i.out"; fatal "dpkg -i"; }

programs="EventLog eventcreate pagegateway eventlog-service"
[ -x "$build/eventlog-check" ] && programs="$programs eventlog-check"
for program in $programs; do
  check "/usr/bin/$program is installed and stripped" \
    sh -c "[ -x /usr/bin/$program ] && ! readelf -S /usr/bin/$program | grep -q '\.symtab'"
done
for file in /lib/systemd/system/eventlog.service /etc/default/eventlog \
  /usr/lib/tmpfiles.d/eventlog.conf /usr/share/doc/eventlog/README.md \
  /usr/share/doc/eventlog/operating.md /usr/share/doc/eventlog/fleet.md \
  /usr/share/doc/eventlog/examples/prometheus/eventlog.rules.yml \
  /usr/share/doc/eventlog/copyright /usr/share/doc/eventlog/journal.rules; do
  check "$file is installed" test -f "$file"
done
man_pages="man1/EventLog.1.gz man1/eventcreate.1.gz man1/eventlog-check.1.gz
  man1/pagegateway.1.gz man8/eventlog-service.8.gz"
for page in $man_pages; do
  check "/usr/share/man/$page is installed, compressed without a name or time stamp" \
    same_text "$(od -An -tx1 -N8 /usr/share/man/$page | tr -d ' ')" 1f8b080000000000
  if command -v man >/dev/null; then
    check "man finds nothing to warn about in $page" \
      sh -c "out=\$(man --warnings -l -Tutf8 /usr/share/man/$page 2>&1 >/dev/null) && [ -z \"\$out\" ] ||
             { echo \"\$out\"; exit 1; }"
  fi
done
check "/etc/eventlog/EventLog.XML is the sample settings file" \
  cmp -s /etc/eventlog/EventLog.XML "$source_dir/samples/EventLog.XML"
conffiles=$(dpkg-query -W -f='${Conffiles}' eventlog)
for file in /etc/eventlog/EventLog.XML /etc/default/eventlog; do
  check "$file is a conffile" grep -q "^ $file " <<<"$conffiles"
done
depends=$(dpkg-query -W -f='${Depends}' eventlog)
for package in adduser libc6 libstdc++6 libpugixml1v5 libsystemd0; do
  check "Depends names $package" grep -q "\(^\|, \)$package\( \|,\|$\)" <<<"$depends"
done
# The journal rules' RE2, whatever its soname version on this release.
check "Depends names libre2" grep -q "\(^\|, \)libre2-[0-9]\+\( \|,\|$\)" <<<"$depends"
IFS=: read -r _ _ _ _ _ home shell < <(getent passwd eventlog)
check "the system user eventlog has no login shell" same_text "$shell" /usr/sbin/nologin
check "its home is the working directory" same_text "$home" /var/lib/eventlog
check "its group is eventlog" same_text "$(id -gn eventlog)" eventlog
if getent group systemd-journal >/dev/null; then
  check "it may read the system journal (group systemd-journal)" \
    sh -c 'id -nG eventlog | tr " " "\n" | grep -qx systemd-journal'
fi
check "/var/lib/eventlog belongs to the service user" \
  same_text "$(mode_of /var/lib/eventlog)" "eventlog:eventlog 750"
check "/var/log/eventlog is the group eventlog's only, sticky and setgid" \
  same_text "$(mode_of /var/log/eventlog)" "root:eventlog 3770"
if command -v systemd-analyze >/dev/null; then
  check "systemd-analyze verify passes on the installed unit" \
    sh -c 'out=$(systemd-analyze verify /lib/systemd/system/eventlog.service 2>&1) &&
           [ -z "$out" ] || { echo "$out"; exit 1; }'
else
  echo "systemd-analyze is missing: the unit is not verified"
fi

# ---- The unit's commands, as systemd would run them.
unit=/lib/systemd/system/eventlog.service
unit_value() { sed -n "s/^$1=//p" "$unit"; }
user=$(unit_value User)
directory=$(unit_value WorkingDirectory)
read -r -a start_pre <<<"$(unit_value ExecStartPre)"
read -r -a start <<<"$(unit_value ExecStart)"
read -r -a stop_post <<<"$(unit_value ExecStopPost)"
check "the unit runs as eventlog in /var/lib/eventlog with standard input from /dev/null" \
  same_text "$user $directory $(unit_value StandardInput)" "eventlog /var/lib/eventlog null"
check "the unit restarts on abnormal exits only" same_text "$(unit_value Restart)" on-abnormal
# The environment file's settings, as EnvironmentFile= reads them.
mapfile -t environment < <(grep -E '^[A-Za-z_][A-Za-z0-9_]*=' /etc/default/eventlog)
check "the environment file names the event log directory and the log writer's settings" \
  same_text "${environment[*]}" "EVENTLOG_DIR=/var/log/eventlog EVENTLOG_LOG_LEVEL=5 \
EVENTLOG_LOG_FILE=/var/lib/eventlog/eventlog EVENTLOG_LOG_KEEPDAYS=30"

"$build/pagegateway" --port 0 >"$work/gateway.out" 2>&1 &
gateway_pid=$!
wait_for "$work/gateway.out" "127.0.0.1:" || fatal "the gateway stand-in did not start"
port=$(sed -n '1s/.*127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/gateway.out")

as_service() {
  (cd "$directory" && exec setpriv --reuid="$user" --regid="$user" --init-groups \
    env -i PATH=/usr/bin:/bin "${environment[@]}" PAGING_GATEWAY_HOST="$gateway" "$@")
}
# An operator in the group eventlog (not the service user) writes events.
log_event() {
  setpriv --reuid=nobody --regid=nogroup --groups=eventlog env EVENTLOG_DIR=/var/log/eventlog \
    eventcreate --log System --source "Service Control Manager" "$@"
}
# One start: ExecStartPre, ExecStart in the background until its output holds the text, then
# SIGTERM to the main process and ExecStopPost. Its standard output lands in $work/run<n>.out.
run_service() {
  local n=$1 until=$2 count=${3:-1}
  as_service "${start_pre[@]}" >"$work/prepare$n.out" 2>&1 ||
    { cat "$work/prepare$n.out"; fatal "ExecStartPre of start $n"; }
  # A subshell that becomes the main process, so that $! is the process that SIGTERM goes to.
  (cd "$directory" && exec setpriv --reuid="$user" --regid="$user" --init-groups \
    env -i PATH=/usr/bin:/bin "${environment[@]}" PAGING_GATEWAY_HOST="$gateway" "${start[@]}") \
    >"$work/run$n.out" 2>"$work/run$n.err" &
  service_pid=$!
  wait_for "$work/run$n.out" "$until" "$count" || cat "$work/run$n.out" "$work/run$n.err"
  kill -TERM "$service_pid"
  wait "$service_pid"
  local status=$?
  service_pid=
  check "start $n: SIGTERM ends the main process the way it ended EventLog" \
    same_text "$status" 143
  check "start $n: nothing of the service runs after the stop" \
    sh -c "! ps -u $user -o pid,args | grep -v PID"
  as_service "${stop_post[@]}" >"$work/finish$n.out" 2>&1 ||
    { cat "$work/finish$n.out"; check "ExecStopPost of start $n" false; }
}
pages() { grep -c '^Page for pager' "$work/gateway.out"; }

cat >/etc/eventlog/EventLog.XML <<'XML'
<?xml version="1.0"?>
<!-- the operator's settings -->
<EventLog>
  <LogFile>System</LogFile>
  <EventID>7036</EventID>
  <Action>page</Action>
  <Sleep>1</Sleep>
</EventLog>
XML
gateway=127.0.0.1:$port
now=$(date +%s)
log_event --id 7036 --time $((now - 600)) --string "an older event"
log_event --id 7036 --time $((now - 120)) --string "the newest event"
log_event --id 4226 --time $((now - 60)) --string "another event ID"
check "the operator's log belongs to the operator, group eventlog" \
  same_text "$(stat -c '%U:%G' /var/log/eventlog/System.evt)" "nobody:eventlog"

# Start 1: reports and pages the newest event.
run_service 1 "Sleeping for 1 seconds." 2
check "start 1: the working settings are the operator's, byte for byte" \
  cmp -s /etc/eventlog/EventLog.XML /var/lib/eventlog/EventLog.XML
check "start 1: the service runs a working copy of the installed EventLog" \
  cmp -s /usr/bin/EventLog /var/lib/eventlog/EventLog
check "start 1: the newest event is reported once" \
  same_text "$(occurrences "$work/run1.out" "MyEventLogRecord.Details=")" 1
check "start 1: the report names the newest event" \
  grep -qx "MyEventLogRecord.Details=the newest event" "$work/run1.out"
check "start 1: it is paged once" same_text "$(pages)" 1
check "start 1: the lines reach the journal without CR" \
  sh -c "! grep -q \$'\\r' '$work/run1.out'"
check "start 1: the version line comes first" \
  same_text "$(head -n 1 "$work/run1.out")" "Version: 201710091624"
check "start 1: the page's outcome follows the report, from EventLog's log entries" \
  grep -qE '^page accepted: EventLog: .* \(record SendPage_[0-9]{17}\.xml\)$' "$work/run1.out"
check "start 1: the daily log file lands in the working directory" \
  sh -c 'ls /var/lib/eventlog/eventlog-*.CSV >/dev/null 2>&1'
check "start 1: the page record lands in the working directory" \
  sh -c 'ls /var/lib/eventlog/SendPage_*.xml >/dev/null 2>&1'
check "start 1: the state file holds the carried LoggedAfter" test -f /var/lib/eventlog/LoggedAfter.state

# Start 2: the same event is neither reported nor paged again.
run_service 2 "No events found." 2
check "start 2: the working settings carry LoggedAfter forward" \
  grep -q '^  <LoggedAfter>.*</LoggedAfter>$' /var/lib/eventlog/EventLog.XML
check "start 2: the rest of the settings is the operator's, byte for byte" \
  cmp -s /etc/eventlog/EventLog.XML <(grep -v '<LoggedAfter>' /var/lib/eventlog/EventLog.XML)
check "start 2: nothing is reported" \
  same_text "$(occurrences "$work/run2.out" "MyEventLogRecord.Details=")" 0
check "start 2: nothing is paged" same_text "$(pages)" 1

# An event logged while the service was down is reported once after the start.
log_event --id 7036 --string "logged while the service was down"
run_service 3 "No events found." 2
check "start 3: the event logged while down is reported once" \
  same_text "$(grep -c -x "MyEventLogRecord.Details=logged while the service was down" \
    "$work/run3.out")" 1
check "start 3: nothing else is reported" \
  same_text "$(occurrences "$work/run3.out" "MyEventLogRecord.Details=")" 1
check "start 3: it is paged once" same_text "$(pages)" 2

# A page the gateway refuses leaves its exception report in the working directory.
log_event --id 7036 --string "paged to a closed port"
# Nothing listens on port 1 of the loopback address: the connection is refused.
gateway=127.0.0.1:1
run_service 4 "No events found." 1
reports=(/var/lib/eventlog/EXCEPTION-*.XML)
check "start 4: a failed page leaves one exception report in /var/lib/eventlog" \
  same_text "${#reports[@]} $(stat -c %U "${reports[0]}" 2>/dev/null)" "1 eventlog"
check "start 4: the report holds the socket error and the URL" \
  sh -c "grep -qi 'refused' '${reports[0]}' && grep -qF '$gateway/cgi-bin/xmhscgi' '${reports[0]}'"
check "start 4: no Exception.txt fallback" test ! -e /var/lib/eventlog/Exception.txt
check "start 4: the failed page is said with its reason and its report" \
  grep -qxF "page failed: Socket Error # 10061Connection refused. (ESocketError); report \
${reports[0]}" "$work/run4.out"

# The tmpfiles rule ages out page records and reports, never the state.
if command -v systemd-tmpfiles >/dev/null; then
  touch -d '40 days ago' /var/lib/eventlog/SendPage_*.xml "${reports[0]}" \
    /var/lib/eventlog/LoggedAfter.state /var/lib/eventlog/EventLog.XML
  systemd-tmpfiles --clean /usr/lib/tmpfiles.d/eventlog.conf
  check "old page records and reports are aged out" \
    sh -c '! ls /var/lib/eventlog/SendPage_*.xml /var/lib/eventlog/EXCEPTION-*.XML 2>/dev/null'
  check "the state, settings and program stay" \
    test -f /var/lib/eventlog/LoggedAfter.state -a -f /var/lib/eventlog/EventLog.XML -a \
    -f /var/lib/eventlog/EventLog
fi

# ---- Upgrade and remove keep the operator's settings; purge leaves only the operator's log.
kill "$gateway_pid" 2>/dev/null
gateway_pid=
cp /etc/eventlog/EventLog.XML "$work/operator.xml"
# The earlier packages' mode of the log folder becomes the new one; an operator's own stays.
chmod 2775 /var/log/eventlog
dpkg -i "$deb" >"$work/upgrade.out" 2>&1 || { cat "$work/upgrade.out"; fatal "dpkg -i again"; }
check "an upgrade moves the log folder from 2775 to 3770" \
  same_text "$(mode_of /var/log/eventlog)" "root:eventlog 3770"
chmod 2750 /var/log/eventlog
dpkg -i "$deb" >"$work/upgrade.out" 2>&1 || { cat "$work/upgrade.out"; fatal "dpkg -i again"; }
check "an upgrade keeps a log folder mode the operator chose" \
  same_text "$(mode_of /var/log/eventlog)" "root:eventlog 2750"
chmod 3770 /var/log/eventlog
check "an upgrade keeps the operator's settings" cmp -s /etc/eventlog/EventLog.XML "$work/operator.xml"
check "an upgrade keeps the carried LoggedAfter" test -f /var/lib/eventlog/LoggedAfter.state
dpkg -r eventlog >"$work/remove.out" 2>&1 || { cat "$work/remove.out"; fatal "dpkg -r"; }
check "a removal keeps the operator's settings" cmp -s /etc/eventlog/EventLog.XML "$work/operator.xml"
check "a removal keeps the environment file" test -f /etc/default/eventlog
check "a removal takes the programs" test ! -e /usr/bin/EventLog -a ! -e /usr/bin/eventlog-service
dpkg --purge eventlog >"$work/purge.out" 2>&1 || { cat "$work/purge.out"; fatal "dpkg --purge"; }
check "remove prints nothing but dpkg's own progress" \
  sh -c "! grep -v -e '^(Reading database' -e '^Removing eventlog' \
           -e '^Processing triggers for man-db' '$work/remove.out'"
check "purge says why the group stays, and nothing else but dpkg's progress" \
  same_text "$(grep -v -e '^(Reading database' -e '^Purging configuration files' "$work/purge.out")" \
  "eventlog: /var/log/eventlog holds event logs and stays, and with it the group eventlog that owns them (rm -r /var/log/eventlog; delgroup eventlog when they are no longer needed)"
check "the purge removes the user" sh -c '! getent passwd eventlog'
check "the group eventlog stays with the kept event logs" \
  same_text "$(stat -c %G /var/log/eventlog/System.evt)" eventlog
for path in /var/lib/eventlog /etc/eventlog /etc/default/eventlog \
  /lib/systemd/system/eventlog.service /usr/lib/tmpfiles.d/eventlog.conf \
  /usr/share/doc/eventlog $(for p in $programs; do echo /usr/bin/$p; done); do
  check "the purge removes $path" test ! -e "$path"
done
check "the operator's event log stays" test -f /var/log/eventlog/System.evt

[ "$failures" = 0 ] && echo "All checks passed." || echo "$failures checks failed."
[ "$failures" = 0 ]

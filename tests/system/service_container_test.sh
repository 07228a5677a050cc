#!/usr/bin/env bash
# The Debian package under a real systemd: boots Debian (the release this machine runs, made with
# debootstrap and cached between runs) with systemd as PID 1 in a container (systemd-nspawn
# --boot --private-network), installs the built package there, runs the gateway stand-in inside
# and checks, against exact journal lines and the requests the gateway received: the start pages
# once; a restart, a SIGKILL and a reboot page nothing again; an event written while stopped is
# paged once; a failed and a refused page show with journalctl -p warning; a settings error fails
# systemctl start without a restart loop; .evt and journal paging and the ageing work under the
# unit's confinement, whose exposure is at most 2.0; the journal's entries are each paged once
# across journalctl --rotate and a vacuum that deletes the files holding the paged ones; a full
# disk pages nothing twice; several watches (eventlog@NAME) page each event once, each through its
# own environment, under its own journal identifier and in its own folder; a purge keeps a group
# that still has members.
# Usage: service_container_test.sh BUILD_DIR. Exit code 77: skipped (the reason is printed).
# EVENTLOG_CONTAINER_CACHE names the cached root file system
# (default /var/cache/eventlog-tests/<release>); it is rebuilt when missing or broken.
set -uo pipefail
build=$(cd "${1:?usage: service_container_test.sh BUILD_DIR}" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
started=$(date +%s)

skip() {
  echo "SKIPPED: $*"
  exit 77
}
[ "$(id -u)" = 0 ] || skip "booting a container needs root (CI runs the suite as root)"
for tool in systemd-nspawn debootstrap nsenter dpkg-deb flock cpack dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || skip "$tool is missing (make deps installs it)"
done
[ -x "$build/pagegateway" ] || skip "$build/pagegateway is not built"
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$release" ] || skip "/etc/os-release names no release to bootstrap"
cache=${EVENTLOG_CONTAINER_CACHE:-/var/cache/eventlog-tests/$release}
mirror=$(sed -n 's/^URIs: *\(http[^ ]*debian\)$/\1/p; s/^deb \(http[^ ]*debian\) .*/\1/p' \
  /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list \
  2>/dev/null | head -n 1)
mirror=${mirror:-http://deb.debian.org/debian}

work=$(mktemp -d /tmp/eventlog-container.XXXXXX)
chmod 755 "$work"
root=$work/root
failures=0
nspawn_pid=
leader=
overlay=

say() { echo "[$(($(date +%s) - started))s] $*"; }
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
same_text() { [ "$1" = "$2" ] || { printf '  got:      %s\n  expected: %s\n' "$1" "$2"; return 1; }; }

stop_container() {
  [ -n "$nspawn_pid" ] || return 0
  if kill -0 "$nspawn_pid" 2>/dev/null; then
    # SIGTERM asks the container's systemd to power off; after 30 s it is killed.
    kill -TERM "$nspawn_pid" 2>/dev/null
    for _ in $(seq 300); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$nspawn_pid" 2>/dev/null
  fi
  wait "$nspawn_pid" 2>/dev/null
  nspawn_pid=
  leader=
}
cleanup() {
  stop_container
  [ -n "$overlay" ] && umount "$root" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# ---- The package, and the cached root file system with its dependencies.
deb=$("$source_dir/packaging/debian/build-deb.sh" "$build" "$work") || fatal "building the package"
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/(.*//; s/|.*//; s/[[:space:]]//g' |
  grep -v '^$')
packages=$(printf '%s\n' systemd systemd-sysv dbus $depends | sort -u | tr '\n' ',' | sed 's/,$//')

# The cache is checked and rebuilt under an exclusive lock, then used under a shared one, so that
# runs at the same time never boot a tree that another run is rebuilding.
mkdir -p "$(dirname "$cache")"
exec 9>"$(dirname "$cache")/.lock"
flock -x 9
if [ "$(cat "$cache/.eventlog-test-packages" 2>/dev/null)" != "$packages" ] ||
  [ ! -x "$cache/lib/systemd/systemd" ] || ! chroot "$cache" /bin/true 2>/dev/null; then
  say "bootstrapping Debian $release into $cache ($packages) from $mirror"
  rm -rf "$cache.new"
  if ! debootstrap --variant=minbase --include="$packages" "$release" "$cache.new" "$mirror" \
    >"$work/debootstrap.log" 2>&1; then
    tail -n 20 "$work/debootstrap.log"
    rm -rf "$cache.new"
    skip "debootstrap of $release from $mirror failed (see above): no root file system to boot"
  fi
  # A persistent journal, so that a reboot keeps the lines to check; no login on the console.
  mkdir -p "$cache.new/var/log/journal"
  chroot "$cache.new" systemctl mask console-getty.service >/dev/null 2>&1
  echo "$packages" >"$cache.new/.eventlog-test-packages"
  rm -rf "$cache"
  mv "$cache.new" "$cache"
fi
flock -s 9

# Each run boots an overlay of the cached tree (a copy where overlays cannot be mounted).
mkdir -p "$root" "$work/upper" "$work/overlay-work"
if mount -t overlay overlay -o "lowerdir=$cache,upperdir=$work/upper,workdir=$work/overlay-work" \
  "$root" 2>/dev/null; then
  overlay=yes
else
  cp -a "$cache/." "$root/"
fi
cp "$deb" "$root/root/eventlog.deb"
cp "$build/pagegateway" "$root/usr/local/bin/pagegateway"
machine=eventlog-test-$$

boot() {
  systemd-nspawn --boot --keep-unit --register=no --private-network --console=read-only \
    --machine="$machine" -D "$root" >>"$work/console.log" 2>&1 &
  nspawn_pid=$!
  leader=
  for _ in $(seq 600); do
    leader=$(pgrep -P "$nspawn_pid" | head -n 1)
    if [ -n "$leader" ]; then
      state=$(inside systemctl is-system-running 2>/dev/null)
      case $state in running | degraded) return 0 ;; esac
    fi
    kill -0 "$nspawn_pid" 2>/dev/null || break
    sleep 0.1
  done
  tail -n 30 "$work/console.log"
  return 1
}
# A command inside the container, as root, in a clean environment.
inside() {
  nsenter -t "$leader" -a -- env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 "$@"
}
inside_sh() { inside sh -c "$1"; }

say "booting the container"
if ! boot; then
  if [ -z "$leader" ]; then
    skip "systemd-nspawn cannot boot a container on this machine (its output is above)"
  fi
  fatal "the container's systemd did not come up (its console is above)"
fi
say "booted"

# ---- Journal and gateway helpers.
# The moment from which journal lines are new (the container shares this clock). A time rather
# than a cursor: journalctl 252 finds nothing after a cursor once -p is given as well.
mark() { date +@%s.%6N; }
# The service's journal lines since a mark, at the priority and above (default: all).
lines_after() {
  local since=$1 priority=${2:-debug}
  inside journalctl -q -u eventlog -p "$priority" -o cat --no-pager --since="$since"
}
# Waits up to TIMEOUT seconds until the service's lines after the mark (at PRIORITY and above)
# hold COUNT lines matching the extended regular expression.
wait_lines() {
  local since=$1 pattern=$2 count=${3:-1} timeout=${4:-20} priority=${5:-debug}
  for _ in $(seq $((timeout * 5))); do
    [ "$(lines_after "$since" "$priority" | grep -c -E -- "$pattern")" -ge "$count" ] && return 0
    sleep 0.2
  done
  echo "  (waited in vain for $count x /$pattern/ in the journal; the service's lines were:)"
  lines_after "$since" | tail -n 15 | sed 's/^/    /'
  return 1
}
# The gateway stand-in as a unit of its own, its pages appended to /root/gateway.log.
start_gateway() {
  inside systemctl stop gateway.service >/dev/null 2>&1
  inside systemctl reset-failed gateway.service >/dev/null 2>&1
  inside systemd-run --quiet --unit=gateway -p StandardOutput=append:/root/gateway.log \
    /usr/local/bin/pagegateway --port 8080 "$@" || return 1
  for _ in $(seq 50); do
    inside bash -c 'exec 3<>/dev/tcp/127.0.0.1/8080' 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
# The requests the gateway received for a source: "Page for pager 730418: EventLog: <time>
# Host=<host> Source=<source> EventID=7036".
pages_for() {
  inside_sh "grep -c -E '^Page for pager 730418: EventLog: .+ Host=[^ ]+ Source=$1 EventID=7036\$' \
    /root/gateway.log"
}
wait_pages() {
  local source=$1 count=$2
  for _ in $(seq 150); do
    [ "$(pages_for "$source")" -ge "$count" ] && return 0
    sleep 0.2
  done
  echo "  (waited in vain for $count pages for $source)"
  return 1
}
log_event() {
  inside eventcreate --log System --source "$1" --id 7036 --string "${2:-$1}" ||
    fatal "eventcreate could not write the event $1"
}
# One accepted page in the journal: its message as the kit logged it and its page record.
accepted() {
  echo "^page accepted: EventLog: .+ Host%3D[^ ]+ Source%3D$1 EventID%3D7036 \(record SendPage_[0-9]{17}\.xml\)\$"
}
service_state() { inside systemctl show -p ActiveState --value eventlog.service; }
restarts() { inside systemctl show -p NRestarts --value eventlog.service; }
# The service's lines at err and above after the mark hold a line matching the pattern.
err_lines_hold() { lines_after "$1" err | grep -q -E -- "$2"; }
# Waits up to 20 seconds for a request line matching the pattern at the gateway.
wait_request() {
  for _ in $(seq 100); do
    inside grep -q -E -- "$1" /root/gateway.log && return 0
    sleep 0.2
  done
  echo "  (waited in vain for a request /$1/)"
  return 1
}
unit_verifies() {
  local out
  # The container has no man-db to look the man pages up with; the package test checks them.
  out=$(inside systemd-analyze verify --man=no eventlog.service 2>&1) && [ -z "$out" ] ||
    { echo "$out"; return 1; }
}

# ---- Install.
say "installing the package"
inside dpkg -i /root/eventlog.deb >"$work/dpkg.out" 2>&1 || { cat "$work/dpkg.out"; fatal "dpkg -i"; }
check "the log folder is 3770 root:eventlog" \
  same_text "$(inside stat -c '%U:%G %a' /var/log/eventlog)" "root:eventlog 3770"
check "the service is installed and stopped" same_text "$(service_state)" inactive
check "the unit is sound (systemd-analyze verify)" unit_verifies
exposure=$(inside systemd-analyze security eventlog.service 2>/dev/null |
  sed -n 's/^.*Overall exposure level for eventlog.service: \([0-9.]*\) .*$/\1/p')
check "systemd-analyze security: the exposure ($exposure) is at most 2.0" \
  awk -v e="$exposure" 'BEGIN { exit !(e != "" && e + 0 <= 2.0) }'

inside_sh 'cat >/etc/eventlog/EventLog.XML <<XML
<?xml version="1.0"?>
<EventLog>
  <LogFile>System</LogFile>
  <EventID>7036</EventID>
  <Action>page</Action>
  <Sleep>1</Sleep>
</EventLog>
XML
echo PAGING_GATEWAY_HOST=127.0.0.1:8080 >>/etc/default/eventlog'
start_gateway || fatal "the gateway stand-in did not start"

# ---- The start pages once.
log_event Older
sleep 1
log_event Start
m=$(mark)
inside systemctl enable --now eventlog.service >/dev/null 2>&1 || fatal "systemctl enable --now eventlog"
check "start: the newest event is paged" wait_pages Start 1
check "start: it is paged once, and the older one not at all" \
  same_text "$(pages_for Start) $(pages_for Older)" "1 0"
check "start: the journal says the page was accepted, at info" \
  wait_lines "$m" "$(accepted Start)" 1 20 info
wait_lines "$m" '^No events found\.$' 2 >/dev/null
check "start: nothing at warning or above" same_text "$(lines_after "$m" warning)" ""

# ---- Restart, SIGKILL and reboot page nothing again.
m=$(mark)
inside systemctl restart eventlog.service
check "restart: the service runs again" wait_lines "$m" '^No events found\.$' 2
check "restart: nothing is paged again" same_text "$(pages_for Start)" 1

m=$(mark)
inside systemctl kill -s KILL eventlog.service
say "SIGKILL sent; the service restarts after RestartSec"
check "SIGKILL: the service is restarted" wait_lines "$m" '^No events found\.$' 2 30
check "SIGKILL: it was restarted once" \
  same_text "$(restarts)" 1
check "SIGKILL: nothing is paged again" same_text "$(pages_for Start)" 1

# An event written while the service is stopped is paged once after the start.
inside systemctl stop eventlog.service
log_event WhileStopped
m=$(mark)
inside systemctl start eventlog.service
check "stopped: the event written meanwhile is paged" wait_pages WhileStopped 1
wait_lines "$m" '^No events found\.$' 2 >/dev/null
check "stopped: once, and nothing else again" \
  same_text "$(pages_for WhileStopped) $(pages_for Start)" "1 1"
check "stopped: its page is accepted in the journal, at info" \
  wait_lines "$m" "$(accepted WhileStopped)" 1 20 info

say "rebooting the container"
m=$(mark)
# systemctl may say that the bus went away under it: the reboot is what ends the connection.
inside systemctl reboot 2>/dev/null
wait "$nspawn_pid"
nspawn_pid=
boot || fatal "the container did not boot again"
start_gateway || fatal "the gateway stand-in did not start after the reboot"
check "reboot: the enabled service starts" wait_lines "$m" '^No events found\.$' 2 30
check "reboot: nothing is paged again" \
  same_text "$(pages_for Start) $(pages_for WhileStopped)" "1 1"

# ---- A failed page (the gateway is down) and a refused one show at warning and above.
inside systemctl stop gateway.service
m=$(mark)
log_event GatewayDown
# The report is named as the kit names it: beside the program, in the working directory.
failed='^page failed: Socket Error # 10061 ?Connection refused\. \(ESocketError\); report /var/lib/eventlog/EXCEPTION-[0-9]{17}\.XML$'
check "gateway down: the failed page is in journalctl -p warning" \
  wait_lines "$m" "$failed" 1 20 warning
report=$(lines_after "$m" warning | sed -n 's/^page failed: .*; report \(.*\)$/\1/p')
file_exists() { inside test -f "$1" || { echo "  (no file '$1')"; return 1; }; }
check "gateway down: the named report is there" file_exists "$report"
check "gateway down: journalctl -p warning shows the failure line and nothing else" \
  same_text "$(lines_after "$m" warning | grep -c -v -E "$failed")" 0

start_gateway --answer "Service unavailable" || fatal "the refusing gateway did not start"
m=$(mark)
# A record stamped in the second of the last report is not newer than it: write it a second on.
sleep 1
log_event Refused
refused='^page refused by the gateway: Service unavailable \(record SendPage_[0-9]{17}\.xml\)$'
check "refused: the gateway got the page once" wait_pages Refused 1
check "refused: the refusal is in journalctl -p warning" wait_lines "$m" "$refused" 1 20 warning
check "refused: it is at warning, not err" \
  same_text "$(lines_after "$m" err | grep -c -E "$refused")" 0
start_gateway || fatal "the gateway stand-in did not start again"

# ---- Journal paging and ageing under the confinement.
inside_sh 'printf "1001 eventlog-test-* journal paging works\n" >/var/log/eventlog/journal.rules
sed -i "s|<LogFile>System</LogFile>|<LogFile>Journal</LogFile>|; s|<EventID>7036</EventID>|<EventID>1001</EventID>|" \
  /etc/eventlog/EventLog.XML'
m=$(mark)
inside systemctl restart eventlog.service
wait_lines "$m" '^No events found\.$' 1 >/dev/null
inside logger -t eventlog-test-journal "journal paging works"
check "journal: an entry of the system journal is paged" \
  wait_request ' Source=eventlog-test-journal EventID=1001$'

# ---- The journal across rotations and a vacuum: each matching entry is paged once, whether the
# files that hold the earlier ones are archived or deleted in between. The service's lines are
# gathered as they come (journalctl --cursor-file), as the vacuum deletes the files they were in.
say "the journal across rotations and a vacuum"
rotation_since=$(mark)
rotation_host=$(inside hostname)
rotation_gateway_start=$(($(inside_sh 'wc -l </root/gateway.log') + 1))
inside_sh 'printf "1001 eventlog-rotation-* ^rotation check [0-9]+\$\n" >>/var/log/eventlog/journal.rules'
gather_rotation_lines() {
  inside_sh "journalctl -q -u eventlog -o cat --no-pager --since=$rotation_since \
    --cursor-file=/root/rotation.cursor >>/root/rotation.lines"
}
# The gateway's requests since the phase began.
rotation_requests() { inside_sh "tail -n +$rotation_gateway_start /root/gateway.log"; }
# The journal files (active and archived) that hold an entry of the identifier.
files_holding() {
  inside_sh "for f in /var/log/journal/*/*.journal; do
    [ -n \"\$(journalctl -q --file=\"\$f\" -t $1 -o cat 2>/dev/null)\" ] && echo \"\$f\"; done"
}
no_file_left() {
  local f
  [ $# -gt 0 ] || { echo "  (no file named)"; return 1; }
  for f in "$@"; do inside test ! -e "$f" || { echo "  ($f is still there)"; return 1; }; done
}
# Logs the matching entry N, waits for its page and then for the next second, so that the
# next entry is stamped after this report.
page_rotation_entry() {
  inside logger -t "eventlog-rotation-$1" "rotation check $1"
  wait_request " Source=eventlog-rotation-$1 EventID=1001\$" || return 1
  sleep 1
}
# The sources paged in this phase, in order, on one line.
rotation_sources() {
  rotation_requests | sed -n 's/^.* Source=\(eventlog-rotation-[0-9]*\) EventID=1001$/\1/p' |
    tr '\n' ' ' | sed 's/ $//'
}
journal_is_persistent() {
  inside_sh 'ls /var/log/journal/*/system.journal' >/dev/null 2>&1 ||
    { echo "  (no /var/log/journal/*/system.journal: the journal is not kept on disk)"; return 1; }
}
check "rotation: journald keeps the journal in /var/log/journal" journal_is_persistent
sleep 1
check "rotation: the first matching entry is paged" page_rotation_entry 1
check "rotation: once, and nothing else" same_text "$(rotation_sources)" "eventlog-rotation-1"
inside logger -t eventlog-rotation-9 "an unrelated message"
inside logger -t unrelated "rotation check 9"
inside journalctl --rotate
files_1=$(files_holding eventlog-rotation-1)
check "rotation: the first entry is now in an archived file" \
  same_text "$(echo "$files_1" | grep -c '/system@.*\.journal$')" 1
check "rotation: the entry after the rotation is paged" page_rotation_entry 2
check "rotation: once, and nothing else" \
  same_text "$(rotation_sources)" "eventlog-rotation-1 eventlog-rotation-2"
gather_rotation_lines
inside journalctl --rotate
files_2=$(files_holding eventlog-rotation-2)
check "rotation: the second entry is now in an archived file" \
  same_text "$(echo "$files_2" | grep -c '/system@.*\.journal$')" 1
inside logger -t unrelated "between the rotations"
inside journalctl --rotate
inside journalctl --vacuum-files=1 >/dev/null 2>&1
check "vacuum: the files that held the paged entries are deleted" no_file_left $files_1 $files_2
check "vacuum: the journal holds neither paged entry any more" \
  same_text "$(inside journalctl -q -t eventlog-rotation-1 -t eventlog-rotation-2 -o cat)" ""
m=$(mark)
wait_lines "$m" '^No events found\.$' 3 >/dev/null
check "vacuum: it pages nothing by itself" \
  same_text "$(rotation_sources)" "eventlog-rotation-1 eventlog-rotation-2"
check "vacuum: the entry after the vacuum is paged" page_rotation_entry 3
m=$(mark)
wait_lines "$m" '^No events found\.$' 3 >/dev/null
gather_rotation_lines
check "rotation: each entry is paged once, in order" same_text "$(rotation_sources)" \
  "eventlog-rotation-1 eventlog-rotation-2 eventlog-rotation-3"
# The gateway received, byte for byte, the messages the service says it sent, and those name
# this host, each source and the event ID.
rotation_lines=$(inside cat /root/rotation.lines)
accepted_messages=$(echo "$rotation_lines" |
  sed -n 's/^page accepted: \(EventLog: .*\) (record SendPage_[0-9]\{17\}\.xml)$/\1/p' |
  sed 's/%\([0-9A-F][0-9A-F]\)/\\x\1/g' | while IFS= read -r line; do printf '%b\n' "$line"; done)
check "rotation: the accepted messages name the host, each source once and the event ID" \
  same_text "$(echo "$accepted_messages" | sed -E 's/^EventLog: [^ ].* (Host=)/<time> \1/')" \
  "$(printf '<time> Host=%s Source=eventlog-rotation-%s EventID=1001\n' \
    "$rotation_host" 1 "$rotation_host" 2 "$rotation_host" 3)"
check "rotation: the gateway got exactly those messages, byte for byte" \
  same_text "$(rotation_requests)" \
  "$(echo "$accepted_messages" | sed 's/^/Page for pager 730418: /')"
reported() { echo "$rotation_lines" | grep -E '^MyEventLogRecord\.(Source|Details)=' | tr '\n' '|'; }
check "rotation: the transcript reports each entry once" same_text "$(reported)" \
  "$(printf 'MyEventLogRecord.Source=eventlog-rotation-%s|MyEventLogRecord.Details=rotation check %s|' \
    1 1 2 2 3 3)"
# The rotations and the vacuum show in no line of the service: every line is a cycle's.
cycle_line='^$|^No events found\.$|^Sleeping for 1 seconds\.$|^MyEventLogRecord\.|^page accepted: '
cycle_line+='EventLog: |^[0-9]{1,2}/[0-9]{1,2}/[0-9]{2} [0-9]{1,2}:[0-9]{2}:[0-9]{2} [ap]m$'
check "rotation: the service's lines are only its cycles' (no warning, no error)" \
  same_text "$(echo "$rotation_lines" | grep -v -E "$cycle_line")" ""
say "rotation and vacuum done"
inside_sh 'sed -i "s|<LogFile>Journal</LogFile>|<LogFile>System</LogFile>|; s|<EventID>1001</EventID>|<EventID>7036</EventID>|" \
  /etc/eventlog/EventLog.XML'
inside_sh 'cd /var/lib/eventlog && : >eventlog-20200101.CSV && : >SendPage_20200101000000000.xml &&
  chown eventlog:eventlog eventlog-20200101.CSV SendPage_20200101000000000.xml &&
  touch -d "40 days ago" eventlog-20200101.CSV SendPage_20200101000000000.xml LoggedAfter.state \
    EventLog.XML EventLog && systemd-tmpfiles --clean'
check "ageing: old kit log files and page records go" \
  inside_sh '! ls /var/lib/eventlog/eventlog-20200101.CSV /var/lib/eventlog/SendPage_20200101000000000.xml 2>/dev/null'
check "ageing: the state, settings and program stay" \
  inside test -f /var/lib/eventlog/LoggedAfter.state -a -f /var/lib/eventlog/EventLog.XML -a \
  -f /var/lib/eventlog/EventLog

# ---- A settings error fails systemctl start, once, without a restart loop.
inside systemctl stop eventlog.service
inside cp /etc/eventlog/EventLog.XML /root/EventLog.XML.good
inside sed -i 's|<EventID>7036</EventID>|<EventID>70000</EventID>|' /etc/eventlog/EventLog.XML
m=$(mark)
check "settings error: systemctl start fails" \
  sh -c "! nsenter -t $leader -a -- systemctl start eventlog.service 2>/dev/null"
check "settings error: the finding is in journalctl -p err" err_lines_hold "$m" 70000
sleep 11
check "settings error: no restart loop (the unit stays failed, 0 restarts)" \
  same_text "$(service_state) $(restarts)" "failed 0"
inside systemctl stop eventlog.service
inside cp /root/EventLog.XML.good /etc/eventlog/EventLog.XML
inside systemctl reset-failed eventlog.service

# ---- A full disk under /var/lib/eventlog (a 1 MiB tmpfs) pages nothing twice.
inside_sh 'mkdir -p /root/lib-copy && cp -a /var/lib/eventlog/. /root/lib-copy/ &&
  mount -t tmpfs -o size=1m,mode=0750 tmpfs /var/lib/eventlog &&
  cp -a /root/lib-copy/. /var/lib/eventlog/ && chown eventlog:eventlog /var/lib/eventlog'
m=$(mark)
inside systemctl start eventlog.service
wait_lines "$m" '^No events found\.$' 1 >/dev/null
inside_sh 'dd if=/dev/zero of=/var/lib/eventlog/filler bs=4k 2>/dev/null; sync'
log_event DiskFull
check "full disk: the event is paged" wait_pages DiskFull 1
check "full disk: EventLog says at err that its state cannot be saved" \
  wait_lines "$m" '^EventLog: .*No space left on device' 1 10 err
check "full disk: the page record that could not be written is named at err" \
  err_lines_hold "$m" \
  '^page record SendPage_[0-9]{17}\.xml could not be written: No space left on device$'
# Once space returns, the state is saved at the next cycle.
inside rm -f /var/lib/eventlog/filler
m=$(mark)
wait_lines "$m" '^No events found\.$' 3 >/dev/null
m=$(mark)
inside systemctl restart eventlog.service
wait_lines "$m" '^No events found\.$' 2 >/dev/null
check "full disk: once space returns, a restart pages nothing again" \
  same_text "$(pages_for DiskFull)" 1
inside systemctl stop eventlog.service
inside umount /var/lib/eventlog

# ---- Several watches: eventlog@a and eventlog@b on the System log, b paging through a gateway of
# its own (its /etc/eventlog/b.env), eventlog@c on the log Other; each pages once per event,
# a restart pages nothing again, each has its own journal identifier and working folder.
say "several watches"
watch_settings() {
  inside_sh "printf '<EventLog>\n  <LogFile>$2</LogFile>\n  <EventID>7036</EventID>\n  <Action>page</Action>\n  <Sleep>1</Sleep>\n</EventLog>\n' >/etc/eventlog/$1.XML"
}
watch_settings a System
watch_settings b System
watch_settings c Other
inside_sh 'echo PAGING_GATEWAY_HOST=127.0.0.1:8081 >/etc/eventlog/b.env'
inside systemd-run --quiet --unit=gateway-b -p StandardOutput=append:/root/gateway-b.log \
  /usr/local/bin/pagegateway --port 8081 || fatal "the second gateway stand-in did not start"
inside eventcreate --log Other --source Earlier --id 7036 --string Earlier >/dev/null ||
  fatal "eventcreate could not write to the log Other"
# The textfile collector's folder as prometheus-node-exporter makes it, and the package's grant.
inside_sh 'mkdir -p /var/lib/prometheus/node-exporter && systemd-tmpfiles --create eventlog.conf'
watch_lines() {
  inside journalctl -q "_SYSTEMD_UNIT=eventlog@$1.service" -o cat --no-pager --since="$2"
}
wait_watch_lines() {
  local watch=$1 since=$2 pattern=$3 count=$4
  for _ in $(seq 100); do
    [ "$(watch_lines "$watch" "$since" | grep -c -E -- "$pattern")" -ge "$count" ] && return 0
    sleep 0.2
  done
  echo "  (waited in vain for $count x /$pattern/ from eventlog@$watch; its lines were:)"
  watch_lines "$watch" "$since" | tail -n 10 | sed 's/^/    /'
  return 1
}
pages_at() { inside_sh "grep -c -E ' Source=$2 EventID=7036\$' $1"; }
m=$(mark)
inside systemctl enable --now eventlog@a eventlog@b eventlog@c >/dev/null 2>&1 ||
  fatal "systemctl enable --now eventlog@a eventlog@b eventlog@c"
for w in a b c; do wait_watch_lines $w "$m" '^No events found\.$' 1 >/dev/null; done
check "watches: the template unit is sound (systemd-analyze verify eventlog@a)" \
  same_text "$(inside systemd-analyze verify --man=no eventlog@a.service 2>&1)" ""
check "watches: c pages the newest event of its own log at its first start" \
  same_text "$(pages_at /root/gateway.log Earlier)" 1
sleep 1
m=$(mark)
log_event Watched
inside eventcreate --log Other --source OtherLog --id 7036 --string OtherLog >/dev/null
check "watches: a pages the System event" wait_pages Watched 1
# Two cycles without news after the events were written: each watch has had its look.
for w in a b c; do wait_watch_lines $w "$m" '^No events found\.$' 2 >/dev/null; done
check "watches: a and b page it once each, each through its gateway; c pages its own log once" \
  same_text "$(pages_at /root/gateway.log Watched) $(pages_at /root/gateway-b.log Watched) \
$(pages_at /root/gateway.log OtherLog) $(pages_at /root/gateway-b.log OtherLog)" "1 1 1 0"
identifiers() {
  inside_sh "journalctl -q _SYSTEMD_UNIT=eventlog@$1.service -o cat \
    --output-fields=SYSLOG_IDENTIFIER --since='$m' | sort -u"
}
check "watches: the journal identifiers are eventlog-a, eventlog-b, eventlog-c" \
  same_text "$(identifiers a) $(identifiers b) $(identifiers c)" "eventlog-a eventlog-b eventlog-c"
check "watches: journalctl -t eventlog-b shows b's report and none of a's lines" \
  same_text "$(inside journalctl -q -t eventlog-b -o cat --since="$m" |
    grep -c '^MyEventLogRecord.Source=Watched$') $(inside journalctl -q -t eventlog-a -o cat \
    --since="$m" | grep -c 'OtherLog')" "1 0"
check "watches: each works in its own folder, 0750 eventlog:eventlog, with its state and records" \
  same_text "$(inside_sh 'for w in a b c; do d=/var/lib/eventlog/watches/$w; echo $(stat -c "%U:%G %a" $d) \
$(ls $d/LoggedAfter.state $d/SendPage_*.xml 2>/dev/null | wc -l); done' | tr '\n' ' ')" \
  "eventlog:eventlog 750 3 eventlog:eventlog 750 3 eventlog:eventlog 750 3 "
m=$(mark)
inside systemctl restart eventlog@a eventlog@b eventlog@c
for w in a b c; do wait_watch_lines $w "$m" '^No events found\.$' 2 >/dev/null; done
check "watches: a restart pages nothing again" \
  same_text "$(pages_at /root/gateway.log Watched) $(pages_at /root/gateway-b.log Watched) \
$(pages_at /root/gateway.log OtherLog)" "1 1 1"
check "watches: each unit names its own liveness file" \
  same_text "$(inside systemctl show -p Environment --value eventlog@b | tr ' ' '\n' |
    grep '^EVENTLOG_METRICS_FILE=')" \
  "EVENTLOG_METRICS_FILE=/var/lib/prometheus/node-exporter/eventlog-b.prom"
check "watches: each writes its liveness file, 0644, with its own watch label" \
  same_text "$(inside_sh 'for w in a b c; do f=/var/lib/prometheus/node-exporter/eventlog-$w.prom; \
echo $(stat -c %a $f) $(grep -c "^eventlog_watch_info{watch=\"$w\"" $f); done' | tr '\n' ' ')" \
  "644 1 644 1 644 1 "
# eventlog-check --service --all-watches: a block per service, then what two of them share.
inside_sh 'echo EVENTLOG_METRICS_FILE=/var/lib/prometheus/node-exporter/eventlog-a.prom >/etc/eventlog/c.env'
inside_sh 'eventlog-check --service --all-watches >/root/all-watches.out 2>&1; echo $? >>/root/all-watches.out'
check "watches: eventlog-check --all-watches checks each service in a block of its own" \
  same_text "$(inside grep -E '^(== |The (service|watch) )' /root/all-watches.out)" \
  "$(printf '%s\n' '== eventlog.service ==' \
    'The service as it will run, checked as the user eventlog in /var/lib/eventlog:' \
    '== eventlog@a.service ==' \
    'The watch eventlog@a.service as it will run, checked as the user eventlog in /var/lib/eventlog/watches/a:' \
    '== eventlog@b.service ==' \
    'The watch eventlog@b.service as it will run, checked as the user eventlog in /var/lib/eventlog/watches/b:' \
    '== eventlog@c.service ==' \
    'The watch eventlog@c.service as it will run, checked as the user eventlog in /var/lib/eventlog/watches/c:' \
    '== all services ==')"
check "watches: it names the liveness file two watches would share, and ends with exit code 2" \
  same_text "$(inside sed -n '/^== all services ==$/,$p' /root/all-watches.out)" \
  "$(printf '%s\n' '== all services ==' \
    'error: eventlog@a.service and eventlog@c.service would both write the liveness file /var/lib/prometheus/node-exporter/eventlog-a.prom: set EVENTLOG_METRICS_FILE apart in /etc/eventlog/NAME.env, or leave it to the units' \
    '4 services checked; the worst exit code is 2.' 2)"
inside rm -f /etc/eventlog/c.env
check "watches: a bad watch name fails the start, with the rule in the journal" \
  sh -c "! nsenter -t $leader -a -- systemctl start eventlog@EventLog 2>/dev/null &&
    nsenter -t $leader -a -- journalctl -q -t eventlog-EventLog -o cat |
    grep -q 'a watch name is 1 to 64 letters'"
inside systemctl stop eventlog@EventLog >/dev/null 2>&1
inside systemctl reset-failed >/dev/null 2>&1
say "several watches done"

# ---- Purge with a member in the group eventlog keeps the group.
inside useradd --no-create-home --shell /usr/sbin/nologin operator1
inside adduser --quiet operator1 eventlog
inside dpkg --purge eventlog >"$work/purge.out" 2>&1 || { cat "$work/purge.out"; fatal "dpkg --purge"; }
check "purge: the service user goes" same_text "$(inside getent passwd eventlog)" ""
check "purge: the group eventlog stays while it has a member" \
  same_text "$(inside id -nG operator1)" "operator1 eventlog"
check "purge: it says why the group stays" \
  grep -q '^eventlog: the group eventlog stays, as it still has members: operator1 ' "$work/purge.out"
check "purge: the event logs stay, in the group eventlog" \
  same_text "$(inside stat -c %G /var/log/eventlog/System.evt)" eventlog
check "purge: the working directory goes" inside test ! -e /var/lib/eventlog
check "purge: the watches' enablement and liveness files go" \
  same_text "$(inside_sh 'ls /etc/systemd/system/multi-user.target.wants/ /var/lib/prometheus/node-exporter/' |
    grep -c eventlog)" 0

say "done"
[ "$failures" = 0 ] && echo "All checks passed." || echo "$failures checks failed."
[ "$failures" = 0 ]

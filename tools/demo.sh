#!/usr/bin/env bash
# The main job: writes a small System log, starts a loopback stand-in of the paging gateway, then
# watches the log for one of its events and pages the gateway for each new one, until Ctrl-C.
set -euo pipefail
build=${1:-build}
demo=${2:-demo}
build=$(cd "$build" && pwd)

rm -rf "$demo"
mkdir -p "$demo/eventlog"
demo=$(cd "$demo" && pwd)
export EVENTLOG_DIR="$demo/eventlog"

now=$(date +%s)
create() { "$build/eventcreate" --log System "$@"; }
create --source "Service Control Manager" --id 7036 --time $((now - 300)) \
  --string "The Print Spooler service entered the running state."
create --source "Tcpip" --id 4226 --type warning --time $((now - 200)) \
  --string "TCP/IP has reached the security limit."
create --source "Disk" --id 7 --type error --time $((now - 100)) \
  --string '\Device\Harddisk0\DR0' --string "A bad block was found."
create --source "Service Control Manager" --id 7036 --time $((now - 60)) \
  --string "The Windows Update service entered the stopped state."

cat > "$demo/EventLog.XML" <<'XML'
<?xml version="1.0"?>
<EventLog>
  <LogFile>System</LogFile>
  <EventID>7</EventID>
  <Action>page</Action>
  <Sleep>5</Sleep>
</EventLog>
XML

# The gateway stand-in takes any free loopback port and names it in its first line.
"$build/pagegateway" --port 0 >"$demo/gateway.out" &
gateway=$!
for _ in $(seq 50); do
  port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\)$/\1/p' "$demo/gateway.out")
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "The paging gateway stand-in did not start." >&2
  kill $gateway 2>/dev/null || true
  exit 1
fi
export PAGING_GATEWAY_HOST="127.0.0.1:$port"
tail -n +2 -f "$demo/gateway.out" | sed -u 's/^/[gateway] /' &
shower=$!

echo "The paging gateway stand-in listens on $PAGING_GATEWAY_HOST and shows each page it receives."
echo "The demo log $EVENTLOG_DIR/System.evt holds four events; EventLog watches it for event ID 7"
echo "(the bad block) every 5 seconds and pages for each new one; in 12 seconds the demo logs another. Write your own:"
echo "  EVENTLOG_DIR=$EVENTLOG_DIR $build/eventcreate --log System --source Disk --id 7 --string again"
echo "Press Ctrl-C to stop."
echo

(sleep 12 && create --source Disk --id 7 --type error --string '\Device\Harddisk1\DR1' \
  --string "The demo logged this while EventLog was watching.") &
writer=$!
trap 'kill $writer $gateway $shower 2>/dev/null || true' EXIT
cd "$demo"
"$build/EventLog"

#!/usr/bin/env bash
# The main job: writes a small System log, then watches it for one of its events until Ctrl-C.
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
create --source "Disk" --id 0xC0040007 --type error --time $((now - 100)) \
  --string '\Device\Harddisk0\DR0' --string "A bad block was found."
create --source "Service Control Manager" --id 7036 --time $((now - 60)) \
  --string "The Windows Update service entered the stopped state."

cat > "$demo/EventLog.XML" <<'XML'
<?xml version="1.0"?>
<EventLog>
  <LogFile>System</LogFile>
  <EventID>7</EventID>
  <Action>report</Action>
  <Sleep>5</Sleep>
</EventLog>
XML

echo "The demo log $EVENTLOG_DIR/System.evt holds four events; EventLog watches it for event ID 7"
echo "(the bad block) every 5 seconds, and in 12 seconds the demo logs another one. Write your own:"
echo "  EVENTLOG_DIR=$EVENTLOG_DIR $build/eventcreate --log System --source Disk --id 7 --string again"
echo "Press Ctrl-C to stop."
echo

(sleep 12 && create --source Disk --id 7 --type error --string '\Device\Harddisk1\DR1' \
  --string "The demo logged this while EventLog was watching.") &
writer=$!
trap 'kill $writer 2>/dev/null || true' EXIT
cd "$demo"
"$build/EventLog"

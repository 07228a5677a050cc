#!/usr/bin/env bash
# Packs the two builds into dist/: EventLog-<version>-win64.zip (the programs, the guides, a
# sample EventLog.XML, the service eventlog-service.exe with its install scripts and the scheduled
# task kept as a fallback),
# EventLog-<version>-linux-x86_64.tar.gz (every Linux tool: EventLog, eventcreate, eventlog-check,
# pagegateway and eventlog-service; the same guides, the man pages, a sample EventLog.XML and the
# sample journal.rules) and the Debian package eventlog_<version>_amd64.deb.
set -euo pipefail
build=${1:-build}
winbuild=${2:-build-win}
version=$(sed -n 's/^project(EventLog VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
out=dist
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$out" "$stage/win" "$stage/EventLog-$version"

# install.ps1 copies exactly these files; it refuses to run when one is missing.
win_programs="EventLog.exe eventlog-check.exe pagegateway.exe eventlog-service.exe"
win_files="$win_programs README.md operating.md fleet.md EventLog.XML EventLog.task.xml install.ps1 uninstall.ps1"
for program in $win_programs; do cp "$winbuild/$program" "$stage/win/"; done
(cd "$stage/win" && x86_64-w64-mingw32-strip $win_programs)
cp README.md docs/operating.md docs/fleet.md samples/EventLog.XML packaging/windows/EventLog.task.xml \
  packaging/windows/install.ps1 packaging/windows/uninstall.ps1 "$stage/win/"
rm -f "$out/EventLog-$version-win64.zip"
(cd "$stage/win" && zip -q -X "$OLDPWD/$out/EventLog-$version-win64.zip" $win_files)

linux_programs="EventLog eventcreate eventlog-check pagegateway eventlog-service"
linux=$stage/EventLog-$version
for program in $linux_programs; do cp "$build/$program" "$linux/"; done
(cd "$linux" && strip $linux_programs)
cp README.md docs/operating.md docs/fleet.md samples/EventLog.XML samples/journal.rules "$linux/"
mkdir -p "$linux/man"
cp "$build"/man/*.[18] "$linux/man/"
tar -C "$stage" -czf "$out/EventLog-$version-linux-x86_64.tar.gz" "EventLog-$version"

deb=$(packaging/debian/build-deb.sh "$build" "$out")

ls -l "$out/EventLog-$version-win64.zip" "$out/EventLog-$version-linux-x86_64.tar.gz" "$deb"

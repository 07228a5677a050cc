#!/usr/bin/env bash
# Packs the two builds into dist/: EventLog-<version>-win64.zip (EventLog.exe, the README and a
# sample EventLog.XML), EventLog-<version>-linux-x86_64.tar.gz (EventLog, eventcreate and the
# same files) and the Debian package eventlog_<version>_amd64.deb.
set -euo pipefail
build=${1:-build}
winbuild=${2:-build-win}
version=$(sed -n 's/^project(EventLog VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
out=dist
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$out" "$stage/win" "$stage/EventLog-$version"

cp "$winbuild/EventLog.exe" README.md samples/EventLog.XML "$stage/win/"
x86_64-w64-mingw32-strip "$stage/win/EventLog.exe"
rm -f "$out/EventLog-$version-win64.zip"
(cd "$stage/win" && zip -q -X "$OLDPWD/$out/EventLog-$version-win64.zip" EventLog.exe README.md EventLog.XML)

cp "$build/EventLog" "$build/eventcreate" README.md samples/EventLog.XML "$stage/EventLog-$version/"
strip "$stage/EventLog-$version/EventLog" "$stage/EventLog-$version/eventcreate"
tar -C "$stage" -czf "$out/EventLog-$version-linux-x86_64.tar.gz" "EventLog-$version"

deb=$(packaging/debian/build-deb.sh "$build" "$out")

ls -l "$out/EventLog-$version-win64.zip" "$out/EventLog-$version-linux-x86_64.tar.gz" "$deb"

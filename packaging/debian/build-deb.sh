#!/usr/bin/env bash
# Builds dist/eventlog_<version>_amd64.deb (or into OUT) from a Linux build directory whose
# programs are built: build-deb.sh [BUILD_DIR] [OUT]. Prints the package's path.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
out=${2:-dist}
mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
(cd "$build" && cpack -G DEB -B "$stage" >"$stage/cpack.log" 2>&1) || {
  cat "$stage/cpack.log" >&2
  exit 1
}
package=$(find "$stage" -maxdepth 1 -name 'eventlog_*.deb')
mv "$package" "$out/"
echo "$out/$(basename "$package")"

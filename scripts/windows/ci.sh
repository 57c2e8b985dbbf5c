#!/bin/sh
# The Windows step of CI, after the Linux tests: installs what is missing, cross-builds with
# the cached dependency prefix (built once per set of source package versions), runs the Wine
# tests and makes the zip. Reports the time of each part.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
started=$(date +%s)
sh "$here/build.sh" "$root/build-windows"
built=$(date +%s)
sh "$here/test.sh" "$root/build-windows"
tested=$(date +%s)
sh "$here/package.sh" "$root/build-windows" "$root/build-windows/quilm-windows-x64.zip"
echo "windows: build $((built - started)) s, Wine tests $((tested - built)) s, total $(($(date +%s) - started)) s"

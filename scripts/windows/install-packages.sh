#!/bin/sh
# Installs the Debian packages the Windows build and its Wine tests need, only if missing.
set -eu
here=$(dirname "$0")
missing=""
for p in $(cat "$here/packages.txt"); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >&2
    apt-get install -y -qq --no-install-recommends $missing >&2
fi

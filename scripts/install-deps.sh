#!/bin/sh
# Installs the Debian packages the build, the player and the tests need, only if missing.
set -eu
here=$(dirname "$0")
missing=""
for p in $(cat "$here/debian-packages.txt"); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends $missing
fi

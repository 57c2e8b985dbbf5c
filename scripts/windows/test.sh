#!/bin/sh
# Runs the Windows build (build-windows/, or $1) under Wine on a virtual X display (Xvfb, Mesa
# behind Wine's OpenGL): the test binary, --version and --help, and the viewer end to end on
# the sample scene, whose last frame must match the Linux build's frame of the same run.
# The Linux build is build/ (or $QUILM_LINUX_BUILD); it is built when missing.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build-windows}
linux=${QUILM_LINUX_BUILD:-$root/build}
sh "$here/install-packages.sh"

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A display of our own; -displayfd picks a free number.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3> "$work/display" 2> "$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; echo "test: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"

# A fresh Wine prefix, without the Mono and Gecko installers.
export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot --init > "$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log" >&2; exit 1; }
export SDL_VIDEODRIVER=windows SDL_AUDIODRIVER=dummy

passed=0
failed=0
check() { # name, command...
    name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok: $name"
    else
        failed=$((failed + 1))
        echo "FAILED: $name"
    fi
}

# The unit, GL and end-to-end tests of the test binary. Left out: tests whose commands are
# POSIX shell lines (redirections to /dev/null and the like) that cmd.exe does not speak.
filter=${QUILM_WIN_GTEST_FILTER:-*}
run_tests() {
    (cd "$work" && wine "$build/quilm_tests.exe" --gtest_filter="$filter" \
        > "$work/tests.log" 2>&1)
    status=$?
    grep -E '^\[  (FAILED|PASSED) |^\[==========\]' "$work/tests.log" || true
    [ $status -eq 0 ] || grep -B 20 '^\[  FAILED  \]' "$work/tests.log" | head -n 200
    return $status
}
check "quilm_tests.exe" run_tests

check "quilm.exe --version" sh -c \
    "wine '$build/quilm.exe' --version 2>&1 | grep -qx 'quilm [0-9.]*'"
check "quilm.exe --help" sh -c "wine '$build/quilm.exe' --help 2>&1 | grep -q -- '--headless'"
check "file says PE32+" sh -c "file -b '$build/quilm.exe' | grep -q '^PE32+ executable'"
check "only system DLLs" sh "$here/check-imports.sh" "$build/quilm.exe" "$build/quilm-tool.exe"

# End to end: the sample scene made by the Windows tool, played by the Windows viewer, against
# the Linux viewer's frame of the same deterministic run.
if [ ! -x "$linux/quilm" ]; then
    cmake -S "$root" -B "$linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
    cmake --build "$linux" -j2 --target quilm quilm-tool > /dev/null
fi
mkdir -p "$work/win-sample" "$work/linux-sample"
run="--headless --console --fixed-step 0.04 --frames 50"
check "quilm-tool.exe make-sample" sh -c \
    "cd '$work' && wine '$build/quilm-tool.exe' make-sample win-sample > /dev/null 2>&1"
"$linux/quilm-tool" make-sample "$work/linux-sample" > /dev/null
check "the sample is the same file as on Linux" \
    cmp "$work/win-sample/sample.q3d" "$work/linux-sample/sample.q3d"
(cd "$work/linux-sample" && "$linux/quilm" $run --screenshot linux.png sample.q3d > ../linux.log)
check "quilm.exe plays the sample" sh -c \
    "cd '$work/win-sample' && wine '$build/quilm.exe' $run --screenshot windows.png sample.q3d \
        > ../windows.log 2> ../windows.err"
check "the same console log as on Linux" cmp "$work/linux.log" "$work/windows.log"
tolerance=${QUILM_WIN_PIXEL_TOLERANCE:-0}
check "the last frame matches Linux" python3 "$here/compare_png.py" \
    "$work/linux-sample/linux.png" "$work/win-sample/windows.png" --tolerance "$tolerance"

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

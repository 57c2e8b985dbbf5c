#!/bin/sh
# Makes quilm-windows-x64.zip (in the current directory, or at $2) from the Windows build in
# build-windows/ (or $1): quilm.exe, quilm-tool.exe, the demo's data set and README.txt. The
# executables are linked statically; the script refuses to package one that needs a DLL other
# than Windows' own. The data set comes from the Linux build (build/, or $QUILM_LINUX_BUILD):
# the data folder its build step made with quilm-tool make-data, else a new one made by it.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build-windows}
zip=${2:-$PWD/quilm-windows-x64.zip}
linux=${QUILM_LINUX_BUILD:-$root/build}
case $zip in /*) ;; *) zip=$PWD/$zip ;; esac

for exe in quilm.exe quilm-tool.exe; do
    [ -f "$build/$exe" ] || { echo "package: $build/$exe is missing; run scripts/windows/build.sh" >&2; exit 1; }
done
sh "$here/check-imports.sh" "$build/quilm.exe" "$build/quilm-tool.exe"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dir=$stage/quilm-windows-x64
mkdir -p "$dir"
x86_64-w64-mingw32-strip -o "$dir/quilm.exe" "$build/quilm.exe"
x86_64-w64-mingw32-strip -o "$dir/quilm-tool.exe" "$build/quilm-tool.exe"

# The build's own data set when it is complete (its stamp is written last), else a new one.
if [ -f "$linux/data/.made" ]; then
    mkdir "$dir/data"
    find "$linux/data" -maxdepth 1 -type f ! -name '.*' -exec cp {} "$dir/data/" \;
    data="made by the Linux build's quilm-tool make-data"
elif [ -x "$linux/quilm-tool" ]; then
    "$linux/quilm-tool" make-data "$dir/data" >&2
    data="made by the Linux build's quilm-tool make-data"
else
    data=""
fi

version=$(sed -n 's/^project(quilm VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
{
    echo "Quilm $version for 64-bit Windows"
    echo
    echo "Double-click quilm.exe: the setup dialog opens, then the demo plays from the data"
    echo "folder beside it. Escape ends it."
    echo
    echo "To view a scene, give it to quilm.exe from a command prompt (its textures are found"
    echo "in the working folder or beside the scene):"
    printf '%s\n' '    C:\path\to\quilm.exe C:\path\to\scenes\scene.q3d'
    echo
    echo "quilm.exe --help lists the options (run it from a command prompt)."
    echo "quilm-tool.exe --help lists the content tool's commands."
    echo
    if [ -n "$data" ]; then
        echo "The data folder was $data."
    else
        echo "This package has no data folder: the demo's data set was not available when it"
        echo "was made. Scenes given on the command line still play."
    fi
    echo
    echo "No installation: the programs need no DLL besides those of Windows itself."
} | sed 's/$/\r/' > "$dir/README.txt"

rm -f "$zip"
(cd "$stage" && zip -q -r -9 "$zip" quilm-windows-x64)
echo "package: $zip" >&2
unzip -l "$zip" | tail -n 1 >&2

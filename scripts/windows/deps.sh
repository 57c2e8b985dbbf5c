#!/bin/sh
# Builds the Windows (x86_64 MinGW-w64) dependency prefix from Debian's own source packages and
# prints its path as the last line on standard output; everything else goes to standard error.
# The prefix lives outside the checkout, under $QUILM_WIN_CACHE (default /var/cache/quilm-windows),
# named by a hash of the source package versions, the toolchain version and this recipe, so a
# fresh clone reuses it and a new source version builds a new one. All libraries are static, so
# the executables need no DLL of ours. The sources are fetched into $QUILM_WIN_CACHE/src.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cache=${QUILM_WIN_CACHE:-/var/cache/quilm-windows}
jobs=${QUILM_WIN_JOBS:-2}
host=x86_64-w64-mingw32
# Bump when the way a library is built changes: the hash then names a new prefix.
recipe=5

log() { echo "deps: $*" >&2; }

packages="zlib libpng1.6 libjpeg-turbo libsdl2 libopenmpt imgui googletest libstb freetype assimp"
srcdir=$cache/src
mkdir -p "$srcdir"

# Source entries for the mirror the machine already uses (deb822 or one-line format).
ensure_deb_src() {
    if apt-cache showsrc zlib 2>/dev/null | grep -q '^Package: zlib'; then return 0; fi
    log "adding deb-src entries for the existing Debian mirror"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -e "$f" ] || continue
        case $f in *quilm-windows-src.sources) continue ;; esac
        grep -q '^URIs:.*debian' "$f" || continue
        sed 's/^Types: deb$/Types: deb-src/' "$f"
        echo
    done > /etc/apt/sources.list.d/quilm-windows-src.sources
    if [ -f /etc/apt/sources.list ]; then
        sed -n 's/^deb \(.*debian.*\)$/deb-src \1/p' /etc/apt/sources.list \
            > /etc/apt/sources.list.d/quilm-windows-src.list
    fi
    apt-get update -qq >&2
}

# The source of one package: the newest version the mirror can actually deliver (a security
# suite may list a version whose files it does not carry). Already fetched versions are reused.
fetch_source() {
    pkg=$1
    for v in $(apt-cache showsrc --only-source "$pkg" 2>/dev/null | sed -n 's/^Version: //p' |
        sort -r -V -u); do
        vfile=$(echo "$v" | sed 's/^[0-9]*://')
        if [ -f "$srcdir/${pkg}_${vfile}.dsc" ] && [ -d "$srcdir/$pkg-$vfile.dir" ]; then
            echo "$pkg $v"
            return 0
        fi
        if (cd "$srcdir" && apt-get source -qq --only-source "$pkg=$v" >/dev/null 2>&1); then
            # dpkg-source names the directory by upstream version; give it a stable name.
            d=$(cd "$srcdir" && ls -d "$pkg"-*/ 2>/dev/null | grep -v '\.dir/$' | head -n1)
            rm -rf "$srcdir/$pkg-$vfile.dir"
            mv "$srcdir/${d%/}" "$srcdir/$pkg-$vfile.dir"
            echo "$pkg $v"
            return 0
        fi
        log "$pkg $v: not available from the mirror, trying an older version"
    done
    log "$pkg: no source version could be fetched"
    return 1
}

ensure_deb_src
versions=""
for p in $packages; do
    line=$(fetch_source "$p")
    versions="$versions$line
"
done
versions="${versions}libutfcpp-dev $(dpkg-query -W -f='${Version}' libutfcpp-dev)
"
compiler=$($host-g++-posix -dumpversion)
key=$(printf 'recipe %s\ncompiler %s\n%s' "$recipe" "$compiler" "$versions" | sha256sum | cut -c1-16)
prefix=$cache/prefix-$key
# QUILM_WIN_PREFIX_NAME_ONLY=1: name the prefix (for a CI cache key) without building it.
if [ "${QUILM_WIN_PREFIX_NAME_ONLY:-0}" = 1 ]; then
    echo "$prefix"
    exit 0
fi
if [ -f "$prefix/.complete" ]; then
    log "reusing $prefix"
    echo "$prefix"
    exit 0
fi

log "building $prefix from:"
printf '%s' "$versions" | sed 's/^/deps:   /' >&2
rm -rf "$prefix" "$cache/build-$key"
mkdir -p "$prefix" "$cache/build-$key"
work=$cache/build-$key
src() { echo "$srcdir/$1-$(printf '%s' "$versions" | sed -n "s/^$1 //p" | sed 's/^[0-9]*://').dir"; }

toolchain=$here/mingw-w64-x86_64.cmake
cmake_dep() {
    name=$1
    source=$2
    shift 2
    log "$name"
    cmake -S "$source" -B "$work/$name" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DQUILM_WIN_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_SHARED_LIBS=OFF "$@" > "$work/$name.log" 2>&1
    cmake --build "$work/$name" -j"$jobs" >> "$work/$name.log" 2>&1
    cmake --install "$work/$name" >> "$work/$name.log" 2>&1
}

# zlib: its CMake file always builds the DLL too (from a resource file Debian's source leaves
# out); build only the static library and install it by hand, as libz.a.
log zlib
cmake -S "$(src zlib)" -B "$work/zlib" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release > "$work/zlib.log" 2>&1
cmake --build "$work/zlib" --target zlibstatic -j"$jobs" >> "$work/zlib.log" 2>&1
mkdir -p "$prefix/include" "$prefix/lib"
cp "$(src zlib)/zlib.h" "$work/zlib/zconf.h" "$prefix/include/"
cp "$work/zlib/libzlibstatic.a" "$prefix/lib/libz.a"
mkdir -p "$prefix/lib/pkgconfig"
cat > "$prefix/lib/pkgconfig/zlib.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: zlib
Description: zlib compression library
Version: $(sed -n 's/^#define ZLIB_VERSION "\(.*\)"/\1/p' "$prefix/include/zlib.h")
Libs: -L\${libdir} -lz
Cflags: -I\${includedir}
EOF

cmake_dep libpng "$(src libpng1.6)" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DZLIB_ROOT="$prefix"

cmake_dep libjpeg-turbo "$(src libjpeg-turbo)" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
    -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF -DCMAKE_INSTALL_DOCDIR="$work/unused-doc" \
    -DCMAKE_INSTALL_MANDIR="$work/unused-man"

cmake_dep SDL2 "$(src libsdl2)" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF \
    -DSDL2_DISABLE_UNINSTALL=ON

cmake_dep googletest "$(src googletest)" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
    -Dgtest_disable_pthreads=OFF

# Dear ImGui ships no build file: the core, its SDL2 and OpenGL2 back ends and the stb_truetype
# it carries, laid out like Debian's libimgui-dev (include/imgui, include/imgui/backends).
imgui=$(src imgui)
mkdir -p "$work/imgui-src"
cat > "$work/imgui-src/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.16)
project(imgui CXX)
find_package(SDL2 REQUIRED CONFIG)
add_library(imgui STATIC $imgui/imgui.cpp $imgui/imgui_draw.cpp $imgui/imgui_tables.cpp
  $imgui/imgui_widgets.cpp $imgui/imgui_demo.cpp
  $imgui/backends/imgui_impl_sdl.cpp $imgui/backends/imgui_impl_opengl2.cpp)
target_include_directories(imgui PRIVATE $imgui)
target_link_libraries(imgui PRIVATE SDL2::SDL2-static)
install(TARGETS imgui ARCHIVE DESTINATION lib)
install(FILES $imgui/imgui.h $imgui/imconfig.h $imgui/imgui_internal.h $imgui/imstb_rectpack.h
  $imgui/imstb_textedit.h $imgui/imstb_truetype.h DESTINATION include/imgui)
install(FILES $imgui/backends/imgui_impl_sdl.h $imgui/backends/imgui_impl_opengl2.h
  DESTINATION include/imgui/backends)
EOF
cmake_dep imgui "$work/imgui-src" -DCMAKE_PREFIX_PATH="$prefix"

# stb: only headers are used (stb_dxt), laid out like Debian's libstb-dev.
mkdir -p "$prefix/include/stb"
cp "$(src libstb)"/stb_*.h "$prefix/include/stb/"

# stb_image's implementation, which the importer's texture reading takes from Debian's libstb.
mkdir -p "$work/stb"
printf '#define STB_IMAGE_IMPLEMENTATION\n#include <stb/stb_image.h>\n' > "$work/stb/stb_image.c"
$host-gcc-posix -O2 -I"$prefix/include" -c "$work/stb/stb_image.c" -o "$work/stb/stb_image.o"
$host-ar rcs "$prefix/lib/libstb.a" "$work/stb/stb_image.o"

# FreeType for the logos of make-data: the prefix's zlib (its own copy would clash with it in
# one static link), none of its other optional codecs.
cmake_dep freetype "$(src freetype)" -DFT_REQUIRE_ZLIB=TRUE -DZLIB_ROOT="$prefix" \
    -DFT_DISABLE_BZIP2=TRUE -DFT_DISABLE_PNG=TRUE -DFT_DISABLE_HARFBUZZ=TRUE \
    -DFT_DISABLE_BROTLI=TRUE

# utfcpp and zlib's minizip: the two libraries Debian's Assimp takes from the system instead of
# its own copies. utfcpp is headers only, the same for every target: the mirror carries its
# binary package but not its source, so the headers come from the installed libutfcpp-dev.
cp -r /usr/include/utf8cpp/utf8.h /usr/include/utf8cpp/utf8 "$prefix/include/"
log minizip
minizip=$(src zlib)/contrib/minizip
mkdir -p "$work/minizip" "$prefix/include/minizip"
for f in ioapi unzip zip iowin32; do
    $host-gcc-posix -O2 -I"$prefix/include" -c "$minizip/$f.c" -o "$work/minizip/$f.o" \
        >> "$work/minizip.log" 2>&1
done
$host-ar rcs "$prefix/lib/libminizip.a" "$work/minizip"/*.o
cp "$minizip/ioapi.h" "$minizip/unzip.h" "$minizip/zip.h" "$minizip/iowin32.h" \
    "$prefix/include/minizip/"
cat > "$prefix/lib/pkgconfig/minizip.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include/minizip

Name: minizip
Description: Minizip zip file manipulation library
Version: 1.2.13
Libs: -L\${libdir} -lminizip
Libs.private: -lz
Cflags: -I\${includedir}
EOF

# Assimp with the importers quilm-tool import is made for (glTF, OBJ, FBX, Collada, PLY, STL),
# the glTF exporter the tests write models with, and no tools: the whole library would take
# most of an hour to build here.
importers=""
for f in GLTF OBJ FBX COLLADA PLY STL; do importers="$importers -DASSIMP_BUILD_${f}_IMPORTER=ON"; done
# Debian's patch asks for its system Draco unconditionally; without ASSIMP_BUILD_DRACO nothing
# uses it, so an empty package file answers the question.
mkdir -p "$work/draco"
echo '# Draco is not used: glTF Draco compression stays off.' > "$work/draco/draco-config.cmake"
# shellcheck disable=SC2086
cmake_dep assimp "$(src assimp)" -DASSIMP_BUILD_ALL_IMPORTERS_BY_DEFAULT=OFF $importers \
    -DASSIMP_BUILD_ALL_EXPORTERS_BY_DEFAULT=OFF -DASSIMP_BUILD_GLTF_EXPORTER=ON \
    -DASSIMP_BUILD_ASSIMP_TOOLS=OFF -DASSIMP_BUILD_TESTS=OFF -DASSIMP_BUILD_SAMPLES=OFF \
    -DASSIMP_BUILD_ZLIB=OFF -DASSIMP_BUILD_DRACO=OFF -DASSIMP_WARNINGS_AS_ERRORS=OFF \
    -DASSIMP_INSTALL_PDB=OFF -DZLIB_ROOT="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
    -Ddraco_DIR="$work/draco"
# Its pkg-config file leaves out the minizip it links against.
sed -i 's/^Libs.private:.*/Libs.private: -lminizip -lz/' "$prefix/lib/pkgconfig/assimp.pc"

# libopenmpt: autotools; the library alone, without the player, examples, tests or docs, and
# without optional codecs (the demo's module needs none of them).
log libopenmpt
mkdir -p "$work/libopenmpt"
(
    cd "$work/libopenmpt"
    PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig "$(src libopenmpt)/configure" --host=$host \
        --prefix="$prefix" --enable-static --disable-shared --disable-openmpt123 \
        --disable-examples --disable-tests --disable-doxygen-doc --without-mpg123 --without-ogg \
        --without-vorbis --without-vorbisfile --without-pulseaudio --without-portaudio \
        --without-portaudiocpp --without-sndfile --without-flac \
        CC=$host-gcc-posix CXX=$host-g++-posix CFLAGS=-O2 CXXFLAGS=-O2
    make -j"$jobs"
    make install-strip
) > "$work/libopenmpt.log" 2>&1

rm -rf "$prefix/share/doc" "$prefix/share/man"
printf 'recipe %s\ncompiler %s\n%s' "$recipe" "$compiler" "$versions" > "$prefix/.complete"
rm -rf "$work"
log "done: $prefix"
echo "$prefix"

#!/bin/sh
# Builds a static Qt 5 for 64-bit Windows (mingw-w64, posix threads) from Debian's own qtbase
# source package and installs it into a cache folder. Debian packages no Qt for mingw; its qtbase
# source cross-builds cleanly once configured for win32-g++.
#
# Usage: tools/windows/build-qt.sh [PREFIX]
#   PREFIX   where Qt is installed; default $ZQ_QT_MINGW, else
#            ~/.cache/zq-programmer/qt5-mingw-5.15.8
#   JOBS     parallel compiles (default: the number of cores)
#
# Does nothing when PREFIX holds a complete build made with the same configure line (the stamp
# file is written last, so an interrupted build is redone from the start). Prints the prefix.
# A cold build takes about 25 minutes on 2 cores.
set -eu

version=5.15.8
prefix="${1:-${ZQ_QT_MINGW:-$HOME/.cache/zq-programmer/qt5-mingw-$version}}"
prefix="$(realpath -m "$prefix")"
work="${ZQ_QT_WORK:-$prefix.build}"
jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"
root="$(cd "$(dirname "$0")/../.." && pwd)"
stamp="$prefix/zq-qt-build.stamp"

# Only what a Widgets program and its Qt Test programs need: no network, XML, OpenGL, DBus,
# printing or tablets (Debian's +dfsg tarball lacks the wintab headers tablets would need), and
# the bundled third-party libraries so nothing outside the toolchain is linked. SQL has only the
# SQLite driver (the record store), over SQLite built from Debian's source. The platform plugins
# built are windows, offscreen and minimal.
options="-xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32- \
-opensource -confirm-license -release -static -static-runtime -nomake examples -nomake tests \
-no-opengl -no-dbus -no-icu -no-vulkan -no-direct2d -qt-zlib -qt-pcre -qt-libpng -no-libjpeg \
-no-gif -no-ico -qt-freetype -qt-harfbuzz -no-feature-network -no-feature-xml -sql-sqlite -qt-sqlite \
-no-sql-db2 -no-sql-ibase -no-sql-mysql -no-sql-oci -no-sql-odbc -no-sql-psql -no-sql-sqlite2 -no-sql-tds \
-no-feature-concurrent -no-feature-printer -no-feature-tabletevent"
line="configure -prefix $prefix $options"

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$line" ]; then
    echo "$prefix"
    exit 0
fi

"$root/tools/install-deps.sh" qt-windows

# apt-get source needs a deb-src entry; add one for each Debian suite configured for binaries.
if ! apt-get source --print-uris qtbase-opensource-src >/dev/null 2>&1; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    list=/etc/apt/sources.list.d/zq-debian-src.sources
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed -n '/^Types:/,/^$/p' /etc/apt/sources.list.d/debian.sources |
            sed 's/^Types:.*/Types: deb-src/' | $SUDO tee "$list" >/dev/null
    fi
    if [ -f /etc/apt/sources.list ]; then
        grep -E '^deb +(\[[^]]*\] +)?https?://[^ ]*debian' /etc/apt/sources.list |
            sed 's/^deb /deb-src /' | $SUDO tee /etc/apt/sources.list.d/zq-debian-src.list >/dev/null
    fi
    $SUDO apt-get update -qq
fi

rm -rf "$work" "$prefix"
mkdir -p "$work/bin" "$work/src"

# Qt's configure calls the plain x86_64-w64-mingw32-g++, which is the win32 thread model (no
# std::thread); point those names at the posix compilers for this build only.
for tool in gcc g++ c++ cpp; do
    ln -s "$(command -v "x86_64-w64-mingw32-$tool-posix")" "$work/bin/x86_64-w64-mingw32-$tool"
done
PATH="$work/bin:$PATH"
export PATH

start=$(date +%s)
cd "$work/src"
apt-get source --download-only qtbase-opensource-src
dsc="$(ls qtbase-opensource-src_$version*.dsc | head -n 1)"
dpkg-source --no-check -x "$dsc" qtbase >/dev/null

# Debian's +dfsg tarball leaves out Qt's copy of SQLite; the SQL driver is built over the
# amalgamation (sqlite3.c, sqlite3.h) made from Debian's own sqlite3 source.
apt-get source --download-only sqlite3 >/dev/null
dpkg-source --no-check -x "$(ls sqlite3_*.dsc | head -n 1)" sqlite >/dev/null
mkdir sqlite-build
(cd sqlite-build && ../sqlite/configure --disable-tcl >configure.log 2>&1 &&
    make sqlite3.c >make.log 2>&1) || {
    tail -n 20 sqlite-build/*.log >&2
    exit 1
}
mkdir -p qtbase/src/3rdparty/sqlite
cp sqlite-build/sqlite3.c sqlite-build/sqlite3.h qtbase/src/3rdparty/sqlite/

mkdir "$work/build"
cd "$work/build"
# shellcheck disable=SC2086
"$work/src/qtbase/configure" -prefix "$prefix" $options >configure.log 2>&1 || {
    tail -n 40 configure.log >&2
    exit 1
}
make -j "$jobs" >make.log 2>&1 || {
    grep -m 20 -B 5 -E 'error|Error' make.log >&2 || tail -n 40 make.log >&2
    exit 1
}
make install >install.log 2>&1

# The host tools (moc, rcc, uic, qmake) keep working from a moved prefix through qt.conf.
printf '[Paths]\nPrefix=..\nHostPrefix=..\n' >"$prefix/bin/qt.conf"
strip "$prefix"/bin/* 2>/dev/null || true

cd /
rm -rf "$work"
echo "$line" >"$stamp"
echo "build-qt: built in $(($(date +%s) - start)) s" >&2
echo "$prefix"

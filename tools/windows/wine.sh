#!/bin/sh
# Runs a Windows program of the build under wine, in a wine prefix of the project's own rather
# than the user's ~/.wine. ctest and the build's custom commands start .exe files through this.
# WINEPREFIX, when set, is kept; otherwise ~/.cache/zq-programmer/wineprefix.
# wine hands a Windows program QT_* variables only when spelt WINEQT_*.
set -eu
: "${WINEPREFIX:=$HOME/.cache/zq-programmer/wineprefix}"
: "${WINEARCH:=win64}"
: "${WINEDEBUG:=-all}"
# Debian packages neither wine-mono nor wine-gecko; without this a new prefix offers to fetch them.
: "${WINEDLLOVERRIDES:=mscoree=;mshtml=}"
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES
wine="${WINE:-/usr/lib/wine/wine64}"
[ -x "$wine" ] || wine="$(command -v wine64 || command -v wine)"
exec "$wine" "$@"

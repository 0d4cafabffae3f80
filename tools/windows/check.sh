#!/bin/sh
# Builds the WinUSB channel with its smoke program for 64-bit Windows and runs it under wine.
# Usage: tools/windows/check.sh BUILD_DIR
set -eu
build="$(realpath -m "${1:-build}")/windows"
root="$(cd "$(dirname "$0")/../.." && pwd)"
cxx="${WIN_CXX:-x86_64-w64-mingw32-g++-posix}"
wine="${WINE:-/usr/lib/wine/wine64}"

mkdir -p "$build"
# The posix thread variant: the win32 one has no std::thread or std::mutex. Fully static, so the
# program needs no DLL from the cross compiler beside it.
"$cxx" -std=c++17 -O2 -Wall -Wextra -Wpedantic -Wshadow -Werror \
    -I"$root/src/usb" \
    "$root/src/usb/PipeDiscovery.cpp" \
    "$root/src/usb/winusb/WinUsbCalls.cpp" \
    "$root/src/usb/winusb/WinUsbChannel.cpp" \
    "$root/tools/windows/winusb_smoke.cpp" \
    -o "$build/winusb_smoke.exe" \
    -static -static-libgcc -static-libstdc++ -lsetupapi -lwinusb

WINEPREFIX="$build/wineprefix" WINEDEBUG=-all "$wine" "$build/winusb_smoke.exe"

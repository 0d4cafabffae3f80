#!/bin/sh
# Builds the Qt-free Windows code (WinUSB channel, SetupAPI discovery, device notifications) with
# its smoke programs for 64-bit Windows and runs each under wine; fails when any check fails.
# Usage: tools/windows/check.sh BUILD_DIR
set -eu
build="$(realpath -m "${1:-build}")/windows"
root="$(cd "$(dirname "$0")/../.." && pwd)"
cxx="${WIN_CXX:-x86_64-w64-mingw32-g++-posix}"
wine="${WINE:-/usr/lib/wine/wine64}"
usb="$root/src/usb"

mkdir -p "$build"

# The posix thread variant: the win32 one has no std::thread or std::mutex. Fully static, so the
# programs need no DLL from the cross compiler beside them.
compile() {
    out="$1"
    shift
    "$cxx" -std=c++17 -O2 -Wall -Wextra -Wpedantic -Wshadow -Werror \
        -I"$usb" -I"$root/tools/windows" "$@" -o "$build/$out" \
        -static -static-libgcc -static-libstdc++ -lsetupapi -lwinusb -luser32
}

compile winusb_smoke.exe \
    "$usb/PipeDiscovery.cpp" "$usb/winusb/WinUsbCalls.cpp" "$usb/winusb/WinUsbChannel.cpp" \
    "$root/tools/windows/winusb_smoke.cpp"
compile setupapi_smoke.exe \
    "$usb/winusb/SetupApiCalls.cpp" "$usb/winusb/SetupApiDiscovery.cpp" \
    "$root/tools/windows/setupapi_smoke.cpp"
compile device_change_smoke.exe \
    "$usb/winusb/DeviceNotificationRegistration.cpp" "$usb/winusb/DeviceChangeMessage.cpp" \
    "$root/tools/windows/device_change_smoke.cpp"

# The Qt glue (the WinUSB transport and the window's Windows branches) cannot be linked here: there
# is no Qt for mingw. The host's Qt headers are enough to compile it for Windows, which catches
# a broken Windows branch before a Windows machine does.
qt="$(pkg-config --variable=includedir Qt5Core 2>/dev/null || true)"
if [ -n "$qt" ] && [ -d "$qt/QtWidgets" ]; then
    for source in "$usb/winusb/WinUsbTransport.cpp" "$root/src/ui/MainWindowDevices.cpp" \
        "$root/src/ui/MainWindow.cpp"; do
        "$cxx" -std=c++17 -fsyntax-only -Wall -Wextra -Wpedantic -Wshadow -Werror \
            -isystem "$qt" -isystem "$qt/QtCore" -isystem "$qt/QtGui" -isystem "$qt/QtWidgets" \
            $(for dir in "$root"/src/*/; do printf ' -I%s' "$dir"; done) "$source"
    done
else
    echo "check-windows: no Qt headers; the Qt glue was not compiled for Windows" >&2
fi

status=0
for program in winusb_smoke setupapi_smoke device_change_smoke; do
    WINEPREFIX="$build/wineprefix" WINEDEBUG=-all "$wine" "$build/$program.exe" || status=1
done
exit $status

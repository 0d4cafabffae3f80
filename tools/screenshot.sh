#!/bin/sh
# Photographs the program's window on a private X server, then closes the window as a user
# would (WM_DELETE_WINDOW), so the program goes through its normal shut-down.
# Usage: tools/screenshot.sh [PROGRAM [OUTPUT.png]]
# TITLE names the window to photograph (default ZQ_Programmer_V1.20A). CLICK="X Y" presses the
# mouse at that point of the window first (xdotool), e.g. on "Open programmer" in the demo.
# ARGS are passed to the program.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/src/app/zq-programmer}")
output=$(realpath -m "${2:-$root/docs/screenshot.png}")
title=${TITLE:-ZQ_Programmer_V1.20A}

"$root/tools/install-deps.sh" screenshot

workdir=$(mktemp -d)
xvfb_pid=""
program_pid=""

cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$workdir"
}
trap cleanup EXIT INT TERM

free_display() {
    n=99
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do
        n=$((n + 1))
    done
    echo "$n"
}

# Polls a command up to about ten seconds.
wait_for() {
    tries=0
    until "$@" >/dev/null 2>&1; do
        tries=$((tries + 1))
        [ "$tries" -ge 100 ] && return 1
        sleep 0.1
    done
}

window_id() {
    xwininfo -display "$DISPLAY" -name "$title" | sed -n 's/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p'
}

window_viewable() {
    xwininfo -display "$DISPLAY" -name "$title" | grep -q 'Map State: IsViewable'
}

# No window manager runs here, so the close request goes straight to the window.
close_window() {
    python3 - "$DISPLAY" "$1" <<'PY'
import ctypes, sys
x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                           ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]

class Event(ctypes.Union):
    _fields_ = [("client", ClientMessage), ("pad", ctypes.c_long * 24)]

display = x11.XOpenDisplay(sys.argv[1].encode())
if not display:
    sys.exit("cannot open display " + sys.argv[1])
window = int(sys.argv[2], 16)
event = Event()
event.client.type = 33  # ClientMessage
event.client.send_event = 1
event.client.display = display
event.client.window = window
event.client.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
event.client.format = 32
event.client.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
event.client.data[1] = 0  # CurrentTime
x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
x11.XFlush(display)
x11.XCloseDisplay(display)
PY
}

DISPLAY=:$(free_display)
export DISPLAY
Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
wait_for xdpyinfo -display "$DISPLAY" || { echo "Xvfb did not start" >&2; exit 1; }

# shellcheck disable=SC2086
(cd "$workdir" && exec env QT_QPA_PLATFORM=xcb "$program" ${ARGS:-}) >"$workdir/program.log" 2>&1 &
program_pid=$!
wait_for window_viewable || { echo "no window titled $title" >&2; exit 1; }
id=$(window_id)
sleep 1 # let the first paint finish
if [ -n "${CLICK:-}" ]; then
    # shellcheck disable=SC2086
    set -- $CLICK
    xdotool mousemove --window "$id" "$1" "$2" click 1
    sleep 2
fi

mkdir -p "$(dirname "$output")"
if [ -x /usr/bin/import ]; then
    /usr/bin/import -display "$DISPLAY" -window "$id" "$output"
else
    xwd -display "$DISPLAY" -id "$id" | /usr/bin/convert xwd:- "$output"
fi
echo "window $id: $(xwininfo -display "$DISPLAY" -id "$id" | sed -n 's/.*-geometry //p')"
echo "saved $output"

close_window "$id"
if wait_for sh -c "! kill -0 $program_pid"; then
    wait "$program_pid" && status=0 || status=$?
    program_pid=""
    echo "program closed (exit code $status)"
else
    echo "program did not close" >&2
    exit 1
fi
if [ -f "$workdir/config.ini" ]; then
    echo "config.ini left behind ($(wc -l <"$workdir/config.ini") lines):"
    sed 's/^/    /' "$workdir/config.ini"
fi

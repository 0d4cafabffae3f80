#!/bin/sh
# Runs the Windows build under wine and fails when any check fails:
#   1. the WinUSB, SetupAPI and device-notification smoke programs (plain C++, built by CMake
#      from tests/windows);
#   2. zqprog.exe over the emulated board: download, check, program and verify, with the bytes
#      the board kept compared with the image; a job with serial numbers over two units, its
#      records kept in SQLite;
#   3. the Qt Test programs of the build (the window's and the operations'), offscreen, by ctest;
#   4. zq-programmer.exe on a private X server, told of a device arriving and leaving through
#      WM_DEVICECHANGE, its log panel read back through the clipboard, closed;
#   5. zq-programmer-demo.exe there: "Open programmer" pressed, the log panel read back, the
#      window closed, config.ini written on the way out; then started again in the same folder.
# Usage: tools/windows/check.sh WIN_BUILD      (after `make windows` and a full build of WIN_BUILD)
# SCREENSHOT=FILE.png also photographs the demo after the press.
set -eu
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(realpath -m "${1:-build-windows}")"
# The Windows checks: plain C++ programs the build made from tests/windows.
smoke="$build/tests/windows"
wine="$root/tools/windows/wine.sh"

# A prefix of our own: the user's ~/.wine is never touched.
: "${WINEPREFIX:=$build/wineprefix}"
WINEARCH=win64
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree=;mshtml="
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES
wineserver="${WINESERVER:-/usr/lib/wine/wineserver}"

scratch="$(mktemp -d)"
xvfb_pid=""
demo_pid=""
real_pid=""
cleanup() {
    [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null || true
    [ -n "$real_pid" ] && kill "$real_pid" 2>/dev/null || true
    "$wineserver" -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

failures=0
fail() {
    echo "check-windows: FAIL: $*" >&2
    failures=$((failures + 1))
}
step() { echo "== $*"; }

# Every run of a Windows program is bounded: a static Qt without the plugin a run needs does not
# fail, it waits behind a modal box.
run() {
    timeout -k 5 "${RUN_TIMEOUT:-120}" "$wine" "$@"
}

# A private X server for the whole run: wine's desktop process, started by the first program of a
# session, keeps the display it found, so the window shown at the end needs it from the start.
free_display() {
    n=99
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do
        n=$((n + 1))
    done
    echo "$n"
}
DISPLAY=:$(free_display)
export DISPLAY
Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
tries=0
until xdpyinfo >/dev/null 2>&1; do
    tries=$((tries + 1))
    [ "$tries" -lt 100 ] || { echo "check-windows: Xvfb did not start" >&2; exit 1; }
    sleep 0.1
done

step "wine prefix $WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    timeout 120 "$wine" wineboot --init >/dev/null 2>&1 || true
fi
"$wineserver" -w 2>/dev/null || true
# One server for the whole run: each program then starts in a fraction of a second. Its output
# goes nowhere, so that it holds no pipe of the caller open.
"$wineserver" -p >/dev/null 2>&1 </dev/null || true
# The programs ask for Arial, which wine does not have; its metric twin stands in, so that the
# windows are laid out as on Windows.
run reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /t REG_SZ /d 'Liberation Sans' \
    /f >/dev/null 2>&1 || fail "the font replacement for Arial"

# ---------------------------------------------------------------------------------------------
step "smoke programs"
# window_driver.exe drives the windows below from inside wine: mouse, keyboard, clipboard,
# WM_DEVICECHANGE.
for program in winusb_smoke setupapi_smoke device_change_smoke window_driver; do
    [ -f "$smoke/$program.exe" ] || { echo "check-windows: $smoke/$program.exe was not built" >&2; exit 1; }
done
for program in winusb_smoke setupapi_smoke device_change_smoke; do
    run "$smoke/$program.exe" || fail "$program"
done

# ---------------------------------------------------------------------------------------------
step "zqprog.exe over the emulated board"
work="$scratch/zqprog"
mkdir -p "$work/board"
cp "$root/share/Flash.ini" "$build/demo-work/demo.bin" "$work/"
image="$work/demo.bin"
size=$(stat -c %s "$image")

# Runs zqprog.exe in the work folder; its output (CR LF on Windows) goes to $work/NAME.log.
zqprog() {
    name="$1"
    shift
    (cd "$work" && run "$build/zqprog.exe" --emulated=board "$@") >"$work/$name.raw" 2>&1 &&
        status=0 || status=$?
    tr -d '\r' <"$work/$name.raw" >"$work/$name.log"
    if [ "$status" -ne 0 ]; then
        fail "zqprog $* exited with $status"
        sed 's/^/    /' "$work/$name.log" >&2
        return 1
    fi
}
expect_line() { # FILE LINE
    grep -qxF "$2" "$1" || {
        fail "$(basename "$1"): no line \"$2\""
        sed 's/^/    /' "$1" >&2
    }
}
# The bytes of a state file from OFFSET on compared with the image.
expect_bytes() { # FILE OFFSET
    if ! cmp -s -n "$size" -i "$2:0" "$work/board/$1" "$image"; then
        fail "board/$1 does not hold the image at offset $2"
    fi
}

if zqprog download download demo.bin --mcu ZQ318; then
    expect_line "$work/download.log" "Download to the programmer flash is OK!!!!!!"
    # The image follows the 512-byte message block at 0x10000 of the SPI flash.
    expect_bytes spi-flash.bin 65536
fi
if zqprog check check demo.bin; then
    expect_line "$work/check.log" "Check programmer flash CRC is OK..."
fi
if zqprog program program demo.bin; then
    expect_line "$work/program.log" "Program target is OK!!!!!!"
    expect_bytes target-flash.bin 0
fi
if zqprog verify verify demo.bin; then
    expect_line "$work/verify.log" "Check EFlash OK!"
fi
# A flipped byte in the target must make verify fail.
printf '\377' | dd of="$work/board/target-flash.bin" bs=1 seek=100 conv=notrunc 2>/dev/null
if (cd "$work" && run "$build/zqprog.exe" --emulated=board verify demo.bin) >/dev/null 2>&1; then
    fail "verify passed over a changed target"
fi

# A job with serial numbers: each unit gets the next number, written at its address (0x200 of a
# raw image), and each is in the SQLite record store, whose chain is whole.
if zqprog job job create --image demo.bin --name windows -o line.zqjob --serial-address 0x200 \
    --serial-start 500 &&
    zqprog unit1 run line.zqjob --records records.sqlite &&
    zqprog unit2 run line.zqjob --records records.sqlite &&
    zqprog records records list --records records.sqlite &&
    zqprog chain records verify --records records.sqlite; then
    serial=$(od -An -tu4 -j512 -N4 "$work/board/target-flash.bin" | tr -d ' ')
    [ "$serial" = 501 ] || fail "the second unit's target holds serial $serial, not 501"
    [ "$(grep -c ' program  *50[01] ' "$work/records.log")" = 2 ] ||
        fail "records list does not show serials 500 and 501"
    expect_line "$work/chain.log" "2 records, chain intact"
fi

# ---------------------------------------------------------------------------------------------
step "Qt Test programs (ctest, offscreen)"
(cd "$build" && ctest --output-on-failure -j "${JOBS:-2}") || fail "ctest"

# ---------------------------------------------------------------------------------------------
driver="$smoke/window_driver.exe"
# The log panel's text through the clipboard, into FILE.
read_log() { # TITLE FILE
    # shellcheck disable=SC2086
    if run "$driver" copy "$1" ${LOG_PANEL:-300 300} >"$2.raw"; then
        tr -d '\r' <"$2.raw" >"$2"
        echo "log panel:"
        sed 's/^/    /' "$2"
    else
        fail "reading the log panel of $1"
        : >"$2"
    fi
}

step "zq-programmer.exe: device news through WM_DEVICECHANGE"
# The program for the real board, over WinUSB and SetupAPI (wine has no board, so the list stays
# empty). A device interface arrives and goes as Windows announces it to the window.
title="ZQ_Programmer_V1.20A"
real_work="$scratch/real-work"
mkdir -p "$real_work"
(cd "$real_work" && run "$build/zq-programmer.exe") >"$scratch/real.out" 2>&1 &
real_pid=$!
if run "$driver" wait "$title" 30 >/dev/null; then
    name='\\?\USB#VID_5A17&PID_C0D2#6&1a2b3c4d&0&1#{88bae032-5a81-49f0-bc3d-a4ff138216d6}'
    upper='\\?\USB#VID_5A17&PID_C0D2#6&1A2B3C4D&0&1#{88BAE032-5A81-49F0-BC3D-A4FF138216D6}'
    run "$driver" device "$title" arrival "$name" || fail "sending the arrival"
    run "$driver" device "$title" removal "$name" || fail "sending the removal"
    read_log "$title" "$scratch/real-log.txt"
    for line in "Open config.ini fail" "device insert:$upper" "device remove:$upper"; do
        expect_line "$scratch/real-log.txt" "$line"
    done
    run "$driver" close "$title" || fail "closing zq-programmer"
    wait "$real_pid" && status=0 || status=$?
    real_pid=""
    [ "$status" -eq 0 ] || fail "zq-programmer exited with $status"
    [ -f "$real_work/config.ini" ] || fail "zq-programmer left no config.ini"
else
    fail "the zq-programmer window did not appear"
    sed 's/^/    /' "$scratch/real.out" >&2
fi

# ---------------------------------------------------------------------------------------------
step "zq-programmer-demo.exe on the private X server"
title="ZQ_Programmer_V1.20A (demo)"
demo_work="$scratch/demo-work"
mkdir -p "$demo_work"
# Starts the demo in $demo_work, its output in FILE; true once its window is shown.
start_demo() { # FILE
    run "$build/zq-programmer-demo.exe" --workdir "Z:$demo_work" >"$1" 2>&1 &
    demo_pid=$!
    run "$driver" wait "$title" 30 >"$scratch/geometry"
}
# Closes the demo's window; it must exit with 0.
close_demo() { # WHICH ("" for the first start)
    run "$driver" close "$title" || fail "closing the demo$1"
    wait "$demo_pid" && status=0 || status=$?
    demo_pid=""
    [ "$status" -eq 0 ] || fail "the demo$1 exited with $status"
}
if start_demo "$scratch/demo.out"; then
    geometry=$(tr -d '\r' <"$scratch/geometry")
    echo "window client area at $geometry"
    sleep 2 # the first search lists the boards after a second
    # "Open programmer", then the log panel; positions in the window's client area.
    # shellcheck disable=SC2086
    run "$driver" click "$title" ${OPEN_BUTTON:-834 92} || fail "pressing Open programmer"
    sleep 3
    if [ -n "${SCREENSHOT:-}" ]; then
        # shellcheck disable=SC2086
        set -- $geometry
        mkdir -p "$(dirname "$SCREENSHOT")"
        /usr/bin/import -window root -crop "${3}x${4}+${1}+${2}" +repage "$SCREENSHOT" &&
            echo "saved $SCREENSHOT"
    fi
    read_log "$title" "$scratch/demo-log.txt"
    for line in "Open the programmer ok..." "Connect the programmer successful" \
        "Connection for normal work"; do
        expect_line "$scratch/demo-log.txt" "$line"
    done
    close_demo ""
    # The demo sets line 1 to UPBOOT:1 when it starts; the window writes UPBOOT:0 when it goes.
    if [ -f "$demo_work/config.ini" ]; then
        [ "$(head -n 1 "$demo_work/config.ini" | tr -d '\r')" = "UPBOOT:0" ] ||
            fail "config.ini was not rewritten when the window closed"
    else
        fail "no config.ini in the demo's working folder"
    fi
    # A second start in the same folder rewrites the config.ini the first one left.
    if start_demo "$scratch/demo-again.out"; then
        close_demo " (second start)"
    else
        fail "the demo window did not appear at its second start"
        sed 's/^/    /' "$scratch/demo-again.out" >&2
    fi
else
    fail "the demo window did not appear"
    sed 's/^/    /' "$scratch/demo.out" >&2
fi

if [ "$failures" -ne 0 ]; then
    echo "check-windows: $failures failure(s)" >&2
    exit 1
fi
echo "check-windows: all passed"

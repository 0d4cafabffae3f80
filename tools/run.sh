#!/bin/sh
# Starts the demo window over the built-in emulator. Without a display it runs one programming
# job through the command-line front end instead and prints its log.
# Usage: tools/run.sh BUILD_DIR
set -eu
build="${1:-build}"
work="$build/demo-work"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$build/src/app/zq-programmer-demo" --workdir "$work"
fi
if [ -x "$build/src/cli/zqprog" ]; then
    echo "No display: programming the demo image through zqprog against the emulator." >&2
    mkdir -p "$work"
    cd "$work"
    exec "../src/cli/zqprog" --emulated program demo.bin
fi
echo "No display (DISPLAY is not set): start the demo on a desktop, or under xvfb-run." >&2
exit 1

#!/bin/sh
# Starts the window. Usage: tools/run.sh BUILD_DIR
set -eu
build="${1:-build}"
exec "$build/src/app/zq-programmer"

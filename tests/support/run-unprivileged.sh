#!/bin/sh
# Runs a test program as an unprivileged user, so that permission bits bind: as root (CI runs
# as root) it drops to nobody with no capabilities; as anyone else it runs as it is. The test
# learns from ZQ_EXPECT_UNPRIVILEGED that its permission cases must run, not skip.
# Usage: run-unprivileged.sh PROGRAM [ARGUMENTS...]
set -eu
export ZQ_EXPECT_UNPRIVILEGED=1
unset XDG_RUNTIME_DIR
if [ "$(id -u)" -ne 0 ]; then
    exec "$@"
fi
export HOME=/tmp
exec setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all \
    --bounding-set=-all -- "$@"

#!/bin/sh
# Runs the tests under the sanitizers, each build in a folder of its own:
#   address,undefined   the whole suite
#   thread              the worker, transaction, device and hot-plug tests
# Usage: tools/sanitize.sh [asan|tsan|all]      environment: JOBS
set -eu

what="${1:-all}"
root=$(cd "$(dirname "$0")/.." && pwd)
jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

"$root/tools/install-deps.sh" build usbemu

configure_and_build() { # folder sanitizer [targets...]
    folder="$1"; sanitizer="$2"; shift 2
    cmake -S "$root" -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZQ_SANITIZE="$sanitizer" -DZQ_BUILD_BENCH=OFF >/dev/null
    if [ "$#" -gt 0 ]; then
        cmake --build "$folder" -j "$jobs" --target "$@"
    else
        cmake --build "$folder" -j "$jobs"
    fi
}

run_asan() {
    folder="$root/build-asan"
    configure_and_build "$folder" address,undefined
    # Leaks are not checked: Qt, fontconfig and GLib keep caches for the life of the process.
    (cd "$folder" && ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 QT_QPA_PLATFORM=offscreen \
        ctest --output-on-failure -j "$jobs")
}

tsan_tests="test_burn_ctrl test_usb_device test_emulated_transport test_transaction \
test_command_set test_protocol_emulated test_window_devices test_faults_close \
test_faults_unplug_target"

run_tsan() {
    folder="$root/build-tsan"
    # shellcheck disable=SC2086
    configure_and_build "$folder" thread $tsan_tests
    pattern=$(echo $tsan_tests | sed 's/ /$|^/g')
    (cd "$folder" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" \
        -R "^${pattern}\$")
}

case "$what" in
    asan) run_asan ;;
    tsan) run_tsan ;;
    all) run_asan; run_tsan ;;
    *) echo "usage: tools/sanitize.sh [asan|tsan|all]" >&2; exit 2 ;;
esac

#!/bin/sh
# Builds the benchmarks and runs every one of them; each prints `name=value` lines on stdout.
# Usage: tools/bench.sh [build-folder]   (default: build-bench)
#
# The libusb figures come from the real libusb path against a kernel emulated by umockdev, the
# start-up figure from a real X server (Xvfb). As root the benchmarks run at the highest
# priority, so that other work on the machine disturbs the figures less.
set -eu

cd "$(dirname "$0")/.."
build="${1:-build-bench}"

tools/install-deps.sh build records usbemu screenshot
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZQ_BUILD_TESTS=OFF \
        -DZQ_BUILD_BENCH=ON
fi
cmake --build "$build" --target bench_throughput bench_idle_cpu bench_ui_latency bench_startup \
    bench_gang bench_records

priority=""
if [ "$(id -u)" -eq 0 ]; then
    priority="nice -n -20"
fi
bench="$build/bench"

# What the machine was doing: figures taken on a busy machine say less.
echo "cpus=$(nproc)"
echo "load_average_1min=$(cut -d' ' -f1 /proc/loadavg)"

status=0
run() {
    echo "== $1" >&2
    shift
    "$@" || { echo "bench: $* failed" >&2; status=1; }
}

run throughput $priority "$bench/bench_throughput"
run idle-cpu env QT_QPA_PLATFORM=offscreen $priority "$bench/bench_idle_cpu"
run ui-latency env QT_QPA_PLATFORM=offscreen $priority "$bench/bench_ui_latency"
run gang $priority "$bench/bench_gang"
run records $priority "$bench/bench_records"
run startup xvfb-run -a -s "-screen 0 1280x1024x24" $priority "$bench/bench_startup"

echo "load_average_1min_after=$(cut -d' ' -f1 /proc/loadavg)"
exit $status

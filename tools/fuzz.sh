#!/bin/sh
# Builds the libFuzzer targets of fuzz/ with clang in their own build folder and runs each for
# SECONDS (default 60), side by side, on a scratch copy of its committed seeds: the runs never
# grow fuzz/corpus/. Fails when any target crashes, hangs or breaks one of its invariants; the
# input that did it is kept in <build>/fuzz-artifacts/<target>/.
# Usage: tools/fuzz.sh [SECONDS]     environment: FUZZ_BUILD (default build-fuzz), JOBS
set -eu

seconds="${1:-60}"
case "$seconds" in
    '' | *[!0-9]*) echo "usage: tools/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
build="${FUZZ_BUILD:-$root/build-fuzz}"
jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

"$root/tools/install-deps.sh" build fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZQ_FUZZ=ON -DZQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target zq_fuzzers -j "$jobs"

# target and the longest input worth trying: an .app header lies at 4096, a block frame is up to
# 4110 bytes, a board session holds several of them, a reply comes in one 512-byte read.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT INT TERM
cat >"$scratch/list" <<'LIST'
fuzz_flash_line 4096
fuzz_flash_catalog 4096
fuzz_settings_file 4096
fuzz_protocol_reply 600
fuzz_image_header 8200
fuzz_hex_file 8192
fuzz_srec_file 8192
fuzz_elf_file 16384
fuzz_emu_frame 4200
fuzz_emu_board 16500
fuzz_job_file 4096
LIST
logs="$build/fuzz-logs"
mkdir -p "$logs"

echo "fuzz: running each target for ${seconds}s"
pids=""

while read -r target maxlen; do
    cp -R "$root/fuzz/corpus/$target" "$scratch/$target"
    artifacts="$build/fuzz-artifacts/$target"
    mkdir -p "$artifacts"
    (
        status=0
        "$build/fuzz/$target" -max_total_time="$seconds" -max_len="$maxlen" -timeout=25 \
            -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
            "$scratch/$target" >"$logs/$target.log" 2>&1 || status=$?
        echo "$status" >"$scratch/$target.status"
    ) &
    pids="$pids $!"
done <"$scratch/list"
# shellcheck disable=SC2086
wait $pids

failed=0
while read -r target maxlen; do
    status=$(cat "$scratch/$target.status")
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$target.log")
    if [ "$status" -eq 0 ]; then
        echo "fuzz: $target ok (${runs:-?} runs)"
    else
        failed=1
        echo "fuzz: $target FAILED (exit $status), log $logs/$target.log" >&2
        grep -E 'invariant broken|ERROR:|SUMMARY:|Test unit written' "$logs/$target.log" >&2 || true
    fi
done <"$scratch/list"
exit "$failed"

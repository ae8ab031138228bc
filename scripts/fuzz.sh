#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a
# while under AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   scripts/fuzz.sh [seconds] [target...]     (default: 60 s, every target)
#
# Each target starts from its seeds in fuzz/corpus/<target>/ and from what
# earlier runs found (build-fuzz/corpus/<target>/). A crashing input is saved
# as build-fuzz/crashes/<target>-crash-*; rerun it with
# build-fuzz/fuzz/<target> <file>. Exits non-zero when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
case $seconds in '' | *[!0-9]*) echo "usage: $0 [seconds] [target...]" >&2; exit 2 ;; esac
all=(fuzz_answer fuzz_cmdline fuzz_sim fuzz_limit)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHV52_FUZZ=ON >/dev/null
# The build's own words only when it fails: a failed link must say why.
ninja -C "$build" "${targets[@]}" >"$build/build.log" 2>&1 || { cat "$build/build.log" >&2; exit 1; }

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/crashes"
failed=()
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    log=$build/$target.log
    mkdir -p "$corpus"
    echo "== $target: ${seconds} s"
    status=0
    # New inputs go to the first corpus folder; the seeds in the repository stay as they are.
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$target-" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" || true
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    echo "$target: ${runs:-?} executions (${speed:-?}/s), corpus $(find "$corpus" -type f | wc -l) files, exit status $status"
    if [ "$status" -ne 0 ]; then
        failed+=("$target")
        echo "$target FAILED; from $log:" >&2
        # From the first report line on: the harness's check, or the sanitizer's.
        awk '/check failed|ERROR: |runtime error/ { on = 1 } on && n++ < 60' "$log" >&2
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzzing failed: ${failed[*]}; inputs in $build/crashes/" >&2
    exit 1
fi
echo "fuzzing: no failures in ${targets[*]}"

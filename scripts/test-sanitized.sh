#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer (leak checks included) and
# UndefinedBehaviorSanitizer, in build-asan/. Any sanitizer report fails the
# run, also one from a process whose exit status a test does not look at (the
# simulator a shell test starts in the background): reports go to files, and
# any file there after the tests is a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
export LANG=C.UTF-8

build=build-asan
bash scripts/build.sh "$build" -DHV52_SANITIZE=ON

reports=$PWD/$build/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$reports/asan
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan
if [ -f tests/lsan.supp ]; then
    export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
fi

status=0
# The Wine tests run the Windows build, not this one.
ctest --test-dir "$build" --output-on-failure -j2 -LE wine || status=$?

if [ -n "$(ls -A "$reports")" ]; then
    for file in "$reports"/*; do
        echo "==== sanitizer report $file" >&2
        cat "$file" >&2
    done
    echo "sanitized suite: sanitizer reports above" >&2
    exit 1
fi
[ "$status" -eq 0 ] || { echo "sanitized suite: tests failed" >&2; exit "$status"; }
echo "sanitized suite: clean"

#!/usr/bin/env bash
# The unit tests built for Windows (frames, receive rule, CRC, conversions,
# limits, kinds, the windows' controls), each run under Wine.
source "$(dirname "$0")/wine.sh"
wine_init
cd "$WINDOWS_BUILD/wine-tests"
for test in tst_link_frames tst_analoglimit tst_kinds tst_controls; do
    # QtTest's report goes to a file: under Wine its standard output did
    # not reach a pipe.
    status=0
    QT_QPA_PLATFORM=offscreen timeout 300 "$WINE" "$test.exe" -o "$work/$test.txt,txt" || status=$?
    cat "$work/$test.txt" 2>/dev/null | grep -E '^(FAIL|Totals)' || true
    [ "$status" -eq 0 ] || fail "$test.exe exited with $status"
    grep -q '^Totals: [0-9]* passed, 0 failed' "$work/$test.txt" || fail "$test.exe reported failures"
done
echo "wine_unit: passed"

#!/usr/bin/env bash
# hv52ctl.exe under Wine on COM3, mapped to hv52sim's pseudo-terminal: a poll
# (the requests on the line byte for byte), a relay set, a reset and a silent
# module's poll give what the Linux build gives on its port 3. A response
# timeout of 3 s for the healthy module: an answer that Wine's slower line
# delivers late would be read again and add requests to the Windows side.
source "$(dirname "$0")/wine.sh"
wine_init

# One build's transcript: each step's status, output and messages, then the
# requests the simulated module heard, in order.
run_sequence() {
    local name=$1 fault=$2
    start_sim --module t516 --dir "$work" --port 3 --no-demo --log ${fault:+--fault "$fault"}
    local sim_pid=${pids[-1]}
    retry 100 test -e "$work/com3" || fail "hv52sim made no com3"
    if [ "$name" = windows ]; then map_com 3; fi
    step() {
        local status=0
        "${program[@]}" "$@" >"$work/out.txt" 2>"$work/err.txt" || status=$?
        printf '== %s: %s\n' "$*" "$status"
        cat "$work/out.txt" "$work/err.txt"
    }
    {
        if [ -z "$fault" ]; then
            step --port 3 --timeout 3000 read t516
            step --port 3 --timeout 3000 set t516 relay 1 上位机控制
            step --port 3 --timeout 3000 reset t516 1
        else
            step --port 3 --timeout 500 read t516
        fi
        kill "$sim_pid"
        wait "$sim_pid" 2>/dev/null || true
        echo "== requests heard"
        grep -- '^-> ' "$sim_log" || true
    } >"$work/$name-${fault:-healthy}.txt"
}

for fault in "" silent; do
    program=(env "HV52_SERIAL_DIR=$work" "$LINUX_BUILD/ctl/hv52ctl")
    run_sequence linux "$fault"
    program=("$WINE" "$WINDOWS_BUILD/hv52-io-tools-1.0.0-win64/hv52ctl.exe")
    run_sequence windows "$fault"
    # The Wine server started by the last step outlives it with that step's
    # output files open, and writes its object dump there when the
    # simulator's pseudo-terminal goes: into the next run's transcript, as
    # it once did into the Linux one's. It ends before anything else runs.
    wineserver -w
    # Wine's serial emulation now and then differs in a run (seen twice in
    # some ten CI runs, cause not yet found): the difference is shown, the
    # Windows side runs once more, and a second difference fails.
    if ! diff -a -u "$work/linux-${fault:-healthy}.txt" "$work/windows-${fault:-healthy}.txt"; then
        echo "wine_ctl_com ${fault:-healthy}: differs once, running the Windows side again" >&2
        run_sequence windows "$fault"
        wineserver -w
        diff -a -u "$work/linux-${fault:-healthy}.txt" "$work/windows-${fault:-healthy}.txt" ||
            fail "hv52ctl.exe on COM3 (${fault:-healthy} module) differs from the Linux build"
    fi
    echo "wine_ctl_com ${fault:-healthy}: $(grep -c '^-> ' "$work/windows-${fault:-healthy}.txt") requests alike"
done

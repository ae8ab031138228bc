#!/usr/bin/env bash
# The line goes away in the middle of a poll, as when a USB adapter is pulled:
# the simulator behind COM3 ends about a second into it. Each of the three
# windows stays alive, says so in its message box and takes the next press;
# hv52ctl.exe ends with the port's own reason and its exit status. With
# OUT_DIR=DIR the screens with each message box are kept there. (The
# port's wait used to crash inside QSerialPort when the error closed the port
# under it.)
source "$(dirname "$0")/wine.sh"
wine_init
start_screen 1024x768x24
dist=$WINDOWS_BUILD/hv52-io-tools-1.0.0-win64

# A module on COM3 that answers at the pace of 9600 bit/s, so that a poll
# lasts long enough to be cut.
start_line() {
    start_sim --module "$1" --dir "$work" --port 3 --no-demo --pace --baud 9600
    sim_pid=${pids[-1]}
    retry 100 test -e "$work/com3" || fail "hv52sim made no com3"
    map_com 3
}

end_line() {
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
}

alive() {
    kill -0 "$1" 2>/dev/null && ! grep -qi "page fault\|unhandled exception" "$work/tool.log"
}

# Presses 召测 at ($2, $3) in twips of the window's 9885 across.
press_poll() {
    local window=$1
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xdotool mousemove --window "$window" $(( ($2 * WIDTH + 4942) / 9885 )) $(( ($3 * WIDTH + 4942) / 9885 )) click 1
}

shots=0
dismiss_box() {
    local title=$1 box
    box=$(find_window 600 "$title") || return 1
    sleep 0.3
    shots=$((shots + 1))
    import -window root "$work/$title-box-$shots.png"
    if [ -n "${OUT_DIR:-}" ]; then mkdir -p "$OUT_DIR" && cp "$work/$title-box-$shots.png" "$OUT_DIR/"; fi
    xdotool windowfocus --sync "$box" key Return
    retry 100 sh -c "! xdotool search --onlyvisible --name '^$title\$'"
}

# Each window's 召测 button, its centre in twips.
for tool in "t516 9292 277" "t540 9322 247" "t528 9322 247"; do
    set -- $tool
    kind=$1 x=$2 y=$3
    start_line "$kind"
    (cd "$dist" && exec "$WINE" "cfg_$kind.exe" 1 3 9600) >"$work/tool.log" 2>&1 &
    tool_pid=$!
    pids+=($tool_pid)
    title="HV52${kind^^}扩展模块"
    window=$(find_window 600 "$title") || { cat "$work/tool.log" >&2; fail "cfg_$kind: the window did not appear"; }
    sleep 1
    press_poll "$window" "$x" "$y"
    sleep 1
    end_line
    if ! dismiss_box "cfg_$kind" || ! alive "$tool_pid"; then
        grep -i "fault\|exception" "$work/tool.log" >&2 || true
        alive "$tool_pid" || fail "cfg_$kind: the program died when the line ended"
        fail "cfg_$kind: no message box after the line ended"
    fi
    # The window takes the next press: the port is gone, and the box says so.
    press_poll "$window" "$x" "$y"
    dismiss_box "cfg_$kind" || fail "cfg_$kind: the window took no second press"
    alive "$tool_pid" || fail "cfg_$kind: the program died on the second press"
    find_window 10 "$title" >/dev/null || fail "cfg_$kind: the window is gone"
    kill "$tool_pid" 2>/dev/null || true
    wait "$tool_pid" 2>/dev/null || true
    echo "wine_line_lost: cfg_$kind.exe alive, both boxes shown"
done

# hv52ctl.exe: the read ends with the port's reason and status 3 (the line).
start_line t516
status=0
( sleep 1; kill "$sim_pid" ) &
"$WINE" "$dist/hv52ctl.exe" --port 3 read t516 >"$work/out.txt" 2>"$work/err.txt" || status=$?
wait "$sim_pid" 2>/dev/null || true
cat "$work/err.txt" >&2
[ "$status" -lt 128 ] && [ "$status" -ne 0 ] || fail "hv52ctl.exe exited with $status when the line ended"
grep -q "COM3" "$work/err.txt" || fail "hv52ctl.exe did not name the port"
echo "wine_line_lost: hv52ctl.exe exited with $status"

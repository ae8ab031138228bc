# What the Wine tests share, sourced by each: a private Wine prefix, the
# simulator, a COM port mapped to its pseudo-terminal, a screen, and the
# clean-up of everything started. Wine's serial line adds about 270 ms to an
# exchange: the waits here are generous.
#   WINDOWS_BUILD  the Windows build (build-win)
#   LINUX_BUILD    the Linux build with hv52sim and hv52ctl
set -euo pipefail

WINE=${WINE:-/usr/lib/wine/wine64}
work=$(mktemp -d "${TMPDIR:-/tmp}/hv52-wine.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
# HV52_WINE_LANG=zh_CN.UTF-8 runs the programs under a Chinese locale (once
# generated), as the screenshots for the guides are taken.
export LANG=${HV52_WINE_LANG:-C.UTF-8}
pids=()

cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/screen.sh"

# A fresh prefix of this run's own.
wine_init() {
    "$WINE" wineboot --init >/dev/null 2>&1 || fail "wineboot could not make $WINEPREFIX"
    wineserver -w
}

# Starts hv52sim with the given arguments; waits for its ready line in a log
# of its own, named in $sim_log (the TCP port is in it). A log shared by the
# simulators of a test would still hold the previous one's ready line until
# the new process truncates it, and its port would be taken for the new one's.
start_sim() {
    sim_log=$(mktemp "$work/sim.XXXXXX")
    "$LINUX_BUILD/sim/hv52sim" "$@" >"$sim_log" 2>&1 &
    pids+=($!)
    retry 100 grep -q ready "$sim_log" || { cat "$sim_log" >&2; fail "hv52sim did not start"; }
}

# The TCP port of the simulator started last.
sim_tcp_port() {
    grep -o '127\.0\.0\.1:[0-9]*' "$sim_log" | head -n 1 | cut -d: -f2
}

# COMn of the Wine prefix becomes the pseudo-terminal behind $work/comn.
map_com() {
    local n=$1 pts
    pts=$(readlink -f "$work/com$n")
    "$WINE" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$pts" /f >/dev/null 2>&1 ||
        fail "could not map COM$n to $pts"
    # The ports are read when Wine starts. The server is left to end by
    # itself, which saves the registry; killing it could cut the save short
    # and leave COMn on its default device.
    wineserver -w
    grep -qF "\"COM$n\"=\"$pts\"" "$WINEPREFIX/system.reg" ||
        fail "COM$n is not mapped to $pts in the saved registry"
}

# cfg_t516.exe of DIR (a Unix path), started as the meter's software starts
# it (1 3 9600) with COM3 mapped, polls: the completion box comes and goes,
# and the analog outputs' signal type, source and limit boxes show text.
# Leaves the window's position in X Y WIDTH HEIGHT, its process in tool_pid and the screen after the
# poll in $work/closed.png.
poll_window() {
    local dir=$1
    (cd "$dir" && exec "$WINE" cfg_t516.exe 1 3 9600) >"$work/tool.log" 2>&1 &
    tool_pid=$!
    pids+=($tool_pid)
    window=$(find_window 600 "HV52T516扩展模块") || { cat "$work/tool.log" >&2; fail "the window did not appear"; }
    sleep 1
    eval "$(xdotool getwindowgeometry --shell "$window")"
    # 召测, where the window has it (its layout is in twips of 9885 across).
    xdotool mousemove --window "$window" $(( (9292 * WIDTH + 4942) / 9885 )) $(( (277 * WIDTH + 4942) / 9885 )) click 1
    box=$(find_window 600 "cfg_t516") || fail "no message box after the poll"
    sleep 0.5
    import -window root "$work/after.png"
    xdotool windowfocus --sync "$box" key Return
    retry 100 sh -c "! xdotool search --onlyvisible --name '^cfg_t516\$'" || fail "the message box did not close"
    sleep 0.5
    import -window root "$work/closed.png"

    # Each box's inside (x from, x to, in the window's pixels at 659 across)
    # on the three output rows: text in it means some dark pixels (a "0" has
    # 8, an empty box none).
    local empty=() row box x0 x1 y0 h dark
    for row in 0 1 2; do
        for box in "type 171 239" "source 271 360" "lower 396 469" "upper 487 559"; do
            set -- $box
            x0=$(( X + $2 * WIDTH / 659 )) x1=$(( X + $3 * WIDTH / 659 ))
            y0=$(( Y + (369 + 30 * row) * WIDTH / 659 ))
            h=$(( 12 * WIDTH / 659 ))
            dark=$(convert "$work/closed.png" -crop "$((x1 - x0))x$h+$x0+$y0" -colorspace Gray -threshold 50% -negate \
                   -format '%[fx:round(mean*w*h)]' info:)
            [ "$dark" -ge 4 ] || empty+=("output$((row + 1)) $1")
        done
    done
    [ ${#empty[@]} -eq 0 ] || fail "empty after the poll: ${empty[*]}"
}

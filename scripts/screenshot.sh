#!/usr/bin/env bash
# Takes the README screenshot of one tool: the window after a read-all poll of
# the simulated module, with the completion box closed. "monitor" takes the
# line monitor of cfg_t516 instead: opened with F12, then a poll whose first
# read the module refuses with an exception answer. "record" takes the first
# page of the commissioning record of scripts/demo.sh commission, as headless
# Chromium prints it.
#
# "unpolled" takes cfg_t516 as it opens, before any poll (its settings marked
# grey); "marks" takes it after a poll of a T528, whose refused analog
# registers leave their cells marked red.
#
# The monitor-* modes take the line monitor of cfg_t516 after a poll on a line
# with one of the troubles the operator's guide (docs/操作说明.md) explains:
#   monitor-address    the tool asks bus address 5, the module is at 1
#   monitor-speed      the module listens at 19200 bit/s, the tool sends at 9600
#   monitor-swapped    every answer arrives garbled (what A and B swapped look like)
#   monitor-register   a T528 on the line: it refuses the T516's analog registers
#   monitor-unplugged  the adapter goes away in the middle of the poll
#
#   scripts/screenshot.sh t516|t540|t528|unpolled|marks|monitor|monitor-address|
#                         monitor-speed|monitor-swapped|monitor-register|monitor-unplugged|record|line
#
# "line" takes the pictures of the line window (docs/screenshots/line-*.png).
#
# BUILD_DIR (default: build) holds the built tools and sim/hv52sim; OUT
# (default: docs/screenshots/cfg_<tool>.png, unpolled.png, marks.png,
# monitor.png or monitor-<case>.png)
# is the picture.
# Needs Xvfb, xdotool and ImageMagick's import; nothing else.
set -euo pipefail

shot=${1:-}
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "$shot" = record ]; then
    out=${OUT:-$root/docs/screenshots/record.png}
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    OUT=$work/record.html bash "$root/scripts/demo.sh" commission > /dev/null 2>&1 || true
    [ -s "$work/record.html" ] || { echo "no record was written" >&2; exit 1; }
    # A page of A4 at 150 dpi, scaled down for the README.
    HOME=$work chromium --headless --no-sandbox --disable-gpu --no-first-run --user-data-dir="$work/profile" \
        --window-size=1240,1754 --screenshot="$work/page.png" "file://$work/record.html" > /dev/null 2>&1
    convert "$work/page.png" -resize 900x "$out"
    echo "$out"
    exit 0
fi
if [ "$shot" = line ]; then
    # The line window's guide pictures, taken by its own test on a real
    # window under Xvfb: the scan, settings read from a meter, a run with
    # two meters failed, and the record's first page.
    build=${BUILD_DIR:-build}
    case $build in /*) ;; *) build=$root/$build ;; esac
    out=${OUT:-$root/docs/screenshots}
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    HV52_LINE_SHOTS=$work LANG=C.UTF-8 QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
        "$build/tests/line/tst_hv52line" > "$work/log" 2>&1 || { cat "$work/log" >&2; exit 1; }
    HOME=$work chromium --headless --no-sandbox --disable-gpu --no-first-run --user-data-dir="$work/profile" \
        --hide-scrollbars --window-size=1000,1100 --screenshot="$work/line-record.png" \
        "file://$work/line-record.html" > /dev/null 2>&1
    cp "$work"/line-scan.png "$work"/line-settings.png "$work"/line-run.png "$work"/line-record.png "$out/"
    echo "$out/line-*.png"
    exit 0
fi
case $shot in
t516 | t540 | t528) tool=$shot ;;
unpolled | marks | monitor | monitor-address | monitor-speed | monitor-swapped | monitor-register | monitor-unplugged) tool=t516 ;;
*)
    echo "usage: $0 t516|t540|t528|unpolled|marks|monitor|monitor-address|monitor-speed|monitor-swapped|monitor-register|monitor-unplugged|record" >&2
    exit 2
    ;;
esac

build=${BUILD_DIR:-$root/build}
case $build in /*) ;; *) build=$root/$build ;; esac
sim=$build/sim/hv52sim
program=$build/$tool/cfg_$tool
title="HV52${tool^^}扩展模块"
# The simulated module, the tool's three numbers, and whether the adapter is
# pulled (the simulator ended) during the poll.
sim_module=$tool
tool_args=(1 1 9600)
unplug=
if [[ $shot == monitor* ]]; then
    out=${OUT:-$root/docs/screenshots/$shot.png}
    monitor_title="通讯监视 - cfg_$tool"
    case $shot in
    monitor) sim_faults=(--fault exception --fault-count 1) ;;
    monitor-address) sim_faults=() tool_args=(5 1 9600) ;;
    monitor-speed) sim_faults=(--speed 19200) ;;
    monitor-swapped) sim_faults=(--fault bad-crc) ;;
    monitor-register) sim_faults=() sim_module=t528 ;;
    monitor-unplugged) sim_faults=(--fault silent) unplug=1 ;;
    esac
    # Room for the monitor below the tool's top row.
    screen=1280x1024x24
elif [ "$shot" = unpolled ] || [ "$shot" = marks ]; then
    out=${OUT:-$root/docs/screenshots/$shot.png}
    sim_faults=()
    [ "$shot" = marks ] && sim_module=t528
    screen=1024x768x24
else
    out=${OUT:-$root/docs/screenshots/cfg_$tool.png}
    sim_faults=()
    screen=1024x768x24
fi

for file in "$sim" "$program"; do
    [ -x "$file" ] || { echo "$file is missing: build first (BUILD_DIR=$build)" >&2; exit 1; }
done
for command in Xvfb xdotool import; do
    command -v "$command" >/dev/null || { echo "$command is not installed" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "$0")/screen.sh"
start_screen "$screen" || exit 1

# Still registers, so the picture shows the module's start values.
"$sim" --module "$sim_module" --dir "$work" --port 1 --no-demo ${sim_faults[@]+"${sim_faults[@]}"} >"$work/sim.log" 2>&1 &
sim_pid=$!
pids+=($sim_pid)
retry 100 test -e "$work/com1" || { echo "hv52sim did not start:" >&2; cat "$work/sim.log" >&2; exit 1; }

# A UTF-8 locale that exists: under one that does not, Qt writes the window
# title to X as mangled Latin-1 and the title search below fails.
HV52_SERIAL_DIR=$work LANG=C.UTF-8 LC_ALL=C.UTF-8 "$program" "${tool_args[@]}" >"$work/tool.log" 2>&1 &
pids+=($!)
window=$(find_window 200 "$title") ||
    { echo "the $title window did not appear:" >&2; cat "$work/tool.log" >&2; exit 1; }
sleep 0.5

if [ -n "${monitor_title:-}" ]; then
    # F12 on the tool window opens the monitor; it must be up before the poll.
    xdotool windowfocus --sync "$window" key F12
    shown=$(find_window 200 "$monitor_title") ||
        { echo "F12 did not open the $monitor_title window:" >&2; cat "$work/tool.log" >&2; exit 1; }
fi

if [ "$shot" = unpolled ]; then
    # As it opens: nothing polled, the mouse away from the buttons.
    xdotool mousemove 1020 760
    sleep 0.3
    mkdir -p "$(dirname "$out")"
    import -window "$window" "$out"
    echo "$out"
    exit 0
fi

# "召测" in twips (its middle): the T516 row sits 30 twips lower than the others.
if [ "$tool" = t516 ]; then read_x=9292 read_y=277; else read_x=9322 read_y=247; fi
eval "$(xdotool getwindowgeometry --shell "$window")"
# The window is 9885 twips wide at any scale; its width gives pixels per twip.
x=$(( (read_x * WIDTH + 4942) / 9885 ))
y=$(( (read_y * WIDTH + 4942) / 9885 ))
xdotool mousemove --window "$window" "$x" "$y" click 1

if [ -n "$unplug" ]; then
    # A few reads time out, then the port's other end goes away.
    sleep 2.5
    kill "$sim_pid"
fi

# The completion box carries the program's name as its title.
box=$(find_window 600 "cfg_$tool") ||
    { echo "no completion box after the poll" >&2; exit 1; }
sleep 0.3
xdotool windowfocus --sync "$box" key Return
retry 50 sh -c "! xdotool search --onlyvisible --name '^cfg_$tool\$'" ||
    { echo "the completion box did not close" >&2; exit 1; }
# Away from the buttons, so none is drawn hovered; then let the window repaint.
xdotool mousemove 1020 760
sleep 0.5

if [ -n "${monitor_title:-}" ]; then
    # Tall enough for every row of the poll, the refused read at the top.
    xdotool windowmove "$shown" 0 0 windowsize "$shown" 1100 720
    window=$shown
    sleep 0.5
fi

mkdir -p "$(dirname "$out")"
import -window "$window" "$out"
echo "$out"

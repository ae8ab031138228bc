#!/usr/bin/env bash
# hv52line.exe under Wine and Xvfb on a two-meter line behind COM3 (a T516 at
# 1, a T528 at 2): a plan opened from its command line, the scan of 1-2 (Alt+D,
# Alt+S) and 开始调试 (Alt+R) by keyboard alone, each with its message box;
# then the modules hold what the plan set, read back by the Linux hv52ctl on
# the same line. With OUT_DIR=DIR the screens with each box are kept there.
source "$(dirname "$0")/wine.sh"
wine_init
start_screen 1280x1024x24
start_sim --bus t516@1,t528@2 --dir "$work" --port 3 --no-demo
retry 100 test -e "$work/com3" || fail "hv52sim made no com3"
map_com 3
cat > "$work/plan.json" <<'PLAN'
{"line": {"port": 3, "speed": 9600, "timeout": 3000},
 "meters": [
  {"address": 1, "module": "t516", "settings": {"relay1.command": "上位机控制", "relay2.command": "上位机控制"}},
  {"address": 2, "module": "t528", "settings": {"relay1.command": "上位机控制", "relay2.command": "报警输出"}}]}
PLAN
dist=$WINDOWS_BUILD/hv52-io-tools-1.0.0-win64
plan=$("$WINE" winepath -w "$work/plan.json" 2>/dev/null)
(cd "$dist" && exec "$WINE" hv52line.exe "$plan") >"$work/tool.log" 2>&1 &
pids+=($!)
window=$(find_window 600 "HV52 线路调试") || { cat "$work/tool.log" >&2; fail "the window did not appear"; }
sleep 1

shots=0
# Waits for the message box of a step, keeps the screen, closes the box.
dismiss_box() {
    local box
    box=$(find_window 1200 "线路调试") || { cat "$work/tool.log" >&2; fail "no message box after $1"; }
    sleep 0.5
    if [ -n "${OUT_DIR:-}" ]; then
        mkdir -p "$OUT_DIR"
        shots=$((shots + 1))
        import -window root "$OUT_DIR/hv52line-$shots.png"
    fi
    xdotool windowfocus --sync "$box" key Return
    retry 100 sh -c "! xdotool search --onlyvisible --name '^线路调试\$'" || fail "the box after $1 did not close"
}

xdotool windowfocus --sync "$window" key alt+d ctrl+a
xdotool type --delay 50 "1-2"
xdotool key alt+s
dismiss_box "the scan"
xdotool windowfocus --sync "$window" key alt+r
dismiss_box "the run"

ctl() {
    HV52_SERIAL_DIR=$work "$LINUX_BUILD/ctl/hv52ctl" --port 3 --json "$@"
}
relays=$(ctl --address 1 read t516 | grep -o '"relay[12].command": "[^"]*"' | tr '\n' ' ')
[[ $relays == *'"relay1.command": "上位机控制"'*'"relay2.command": "上位机控制"'* ]] \
    || fail "T516 at 1 holds: $relays"
relays=$(ctl --address 2 read t528 | grep -o '"relay[12].command": "[^"]*"' | tr '\n' ' ')
[[ $relays == *'"relay1.command": "上位机控制"'*'"relay2.command": "报警输出"'* ]] \
    || fail "T528 at 2 holds: $relays"
echo "wine_line: hv52line.exe scanned COM3 and commissioned both meters"

#!/usr/bin/env bash
# cfg_t516.exe under Wine and Xvfb, started as the meter's software starts it
# (1 3 9600), polls hv52sim through COM3: the completion box comes, and the
# analog outputs' signal type, source and limit boxes show text (they stayed
# empty where the window's font had no Latin digits). With OUT=FILE the
# window after the poll is kept there as a screenshot.
source "$(dirname "$0")/wine.sh"
wine_init
start_screen 1024x768x24
start_sim --module t516 --dir "$work" --port 3 --no-demo
retry 100 test -e "$work/com3" || fail "hv52sim made no com3"
map_com 3

poll_window "$WINDOWS_BUILD/hv52-io-tools-1.0.0-win64"
if [ -n "${OUT:-}" ]; then
    mkdir -p "$(dirname "$OUT")"
    convert "$work/closed.png" -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage "$OUT"
    echo "$OUT"
fi
echo "wine_window: the poll's values in all 12 analog output boxes"

# Shell functions for the scripts and tests that drive windows on a screen of
# their own; sourced. They expect $work (a folder of the caller's) and the
# array pids (what the caller ends at exit).

# Waits up to $1 tenths of a second for the command after it to succeed.
retry() {
    local tries=$1
    shift
    until "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

# Prints the first visible window titled exactly $2, waiting up to $1 tenths
# of a second (xdotool's own --sync misses windows that appear later here).
find_window() {
    local tries=$1 found
    while :; do
        found=$(xdotool search --onlyvisible --name "^$2\$" 2>/dev/null | head -n 1) || true
        [ -z "$found" ] || { echo "$found"; return 0; }
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

# An X server of the given geometry (default 1024x768x24), its display
# exported; returns 1 with its log on stderr when it does not start. Xvfb picks
# a free display itself and writes its number once it is ready: a display
# chosen here could be taken by another run before Xvfb gets it.
start_screen() {
    Xvfb -displayfd 3 -screen 0 "${1:-1024x768x24}" -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    retry 100 test -s "$work/display" || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; return 1; }
    export DISPLAY=":$(head -n 1 "$work/display")"
}

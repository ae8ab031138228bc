#!/bin/bash
# A third-party master (Debian's mbpoll) against hv52sim: 16- and 32-bit
# reads, relay commands written with function 16, an exception. Skips (77)
# when mbpoll is not installed.
set -u
SIM=$1
command -v mbpoll >/dev/null || { echo "mbpoll not installed: skipped"; exit 77; }
tmp=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$SIM" --module t516 --dir "$tmp" --port 1 --no-demo \
    --set32 0x0E40=70000 --set32 0x0E23=41 --set 0x0E25=0 >"$tmp/out" 2>&1 &
pid=$!
for _ in $(seq 100); do grep -q ready "$tmp/out" && break; sleep 0.05; done
grep -q ready "$tmp/out" || fail "hv52sim did not start: $(cat "$tmp/out")"
dev=$tmp/com1

# -0: references are register addresses (0-based), as on the wire.
poll() { timeout 20 mbpoll -m rtu -a 1 -b 9600 -P none -0 -1 -o 2 "$@" 2>&1; }
# mbpoll prints values as "[3648]: <tab>1"; compare with the tab as a space.
has() { tr -s '\t ' '  ' <<<"$1" | grep -qx -- "$2" || fail "expected '$2' in: $1"; }

out=$(poll -r 0x0E40 -c 2 -t 4 "$dev") || fail "read failed: $out"
has "$out" "\[3648\]: 1"
has "$out" "\[3649\]: 4464"
out=$(poll -r 0x0E40 -c 1 -t 4:int -B "$dev") || fail "32-bit read failed: $out"
has "$out" "\[3648\]: 70000"

# Two values go out as function 16: restore relay 1, operate relay 2.
out=$(poll -r 0x0E80 -t 4 "$dev" 12336 20560) || fail "write failed: $out"
has "$out" "Written 2 references."
out=$(poll -r 0x0E20 -c 6 -t 4:hex "$dev") || fail "relay read failed: $out"
has "$out" "\[3618\]: 0x0000"
has "$out" "\[3620\]: 0x002A"
has "$out" "\[3621\]: 0x5050"

out=$(poll -r 0x0E30 -c 1 -t 4 "$dev") && fail "unmapped register was read: $out"
has "$out" ".*Illegal data address"

kill -INT "$pid"
wait "$pid" || fail "hv52sim exit code $? after SIGINT"
pid=
[ ! -L "$dev" ] || fail "link left behind"
echo "sim_mbpoll: all checks passed"

#!/bin/bash
# hv52sim as a program: refuses bad arguments with a message, prints one ready
# line, answers on its link, logs frames in hex, removes the link on SIGTERM;
# with --bus, a line of modules behind one link.
set -u
SIM=$1
tmp=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; [ -f "$tmp/out" ] && cat "$tmp/out"; exit 1; }
# Waits until the output has a line matching $1.
await() { for _ in $(seq 100); do grep -q -- "$1" "$tmp/out" && return; sleep 0.05; done; }

# arguments | what the message must say
while IFS='|' read -r args expected; do
    out=$("$SIM" $args 2>&1 </dev/null) && fail "exit 0 for '$args'"
    [[ "$out" == *"$expected"* ]] || fail "for '$args' expected '$expected', got: $out"
done <<LIST
--dir $tmp --port 1|--module or --bus is required
--module t999 --dir $tmp --port 1|unknown module 't999'
--module t516 --port 1|--dir is required
--module t516 --dir $tmp|--port is required
--module t516 --dir $tmp --port x|--port: expected a number
--module t516 --dir $tmp --port 1 --address 0|--address: expected a number in 1..247
--module t516 --dir $tmp --port 1 --fault nonsense|unknown fault 'nonsense'
--module t516 --dir $tmp --port 1 --speed 14400|--speed: expected one of 1200, 2400
--module t516 --dir $tmp --port 1 --set 0x0E80|expected [A:]REG=VALUE
--module t516 --dir $tmp --port 1 --bogus|unknown option '--bogus'
--module t516 --dir $tmp --port|--port needs a value
--module t516 --dir $tmp/missing --port 1|no such directory
--module t516 --dir $tmp --port 1 --fault-address 2|--fault-address: no module at address 2
--bus t516@1,t999@2 --dir $tmp --port 1|--bus: unknown module 't999' in 't999@2'
--bus t516@1,t516@0 --dir $tmp --port 1|--bus: address must be 1..247 in 't516@0'
--bus t516@1,t528@248 --dir $tmp --port 1|--bus: address must be 1..247 in 't528@248'
--bus t516@x --dir $tmp --port 1|--bus: address must be 1..247 in 't516@x'
--bus t516@1,t528@3,t540@3 --dir $tmp --port 1|--bus: address 3 given twice, again in 't540@3'
--bus t516@1,t528 --dir $tmp --port 1|--bus: expected KIND@ADDRESS, got 't528'
--bus t516@1,,t528@3 --dir $tmp --port 1|--bus: expected KIND@ADDRESS, got ''
--bus t516@1 --module t516 --dir $tmp --port 1|--bus and --module exclude each other
--bus t516@1 --address 2 --dir $tmp --port 1|--address is for --module
--bus t516@1,t528@3 --dir $tmp --port 1 --set 4:0x0E80=1|--set: no module at address 4 in '4:0x0E80=1'
--bus t516@1,t528@3 --dir $tmp --port 1 --set32 0:0x0E40=1|--set32: expected a number in 1..247, got '0'
--bus t516@1,t528@3 --dir $tmp --port 1 --fault-address 9|--fault-address: no module at address 9
--bus t516@1 --dir $tmp --port 1 --fault-address 0|--fault-address: expected a number in 1..247
--bus t516@1 --port 1|--dir is required
LIST
for option in --no-demo --speed --bus --fault-address refuse-write; do
    "$SIM" --help | grep -q -- "$option" || fail "--help does not list $option"
done

"$SIM" --module t528 --dir "$tmp" --port 4 --address 5 --speed 19200 --log --no-demo --set 0x0E8A=1 >"$tmp/out" 2>&1 &
pid=$!
await ready
[[ "$(head -n 1 "$tmp/out")" =~ ^hv52sim:\ t528\ at\ address\ 5\ ready\ on\ $tmp/com4\ \(/dev/pts/[0-9]+\)$ ]] ||
    fail "ready line"
[ -L "$tmp/com4" ] || fail "no link $tmp/com4"

# Input modes 1 and 2 at address 5, read through the link: first at 9600,
# logged but unanswered, then at the module's 19200.
exec 3<>"$tmp/com4"
stty -F "$tmp/com4" raw -echo 9600
printf '\x05\x03\x0e\x8a\x00\x02\xe6\x8d' >&3
await '^-> '
stty -F "$tmp/com4" 19200
printf '\x05\x03\x0e\x8a\x00\x02\xe6\x8d' >&3
answer=$(timeout 5 head -c 9 <&3 | od -An -tx1 | tr -s ' \n' ' ')
exec 3>&-
[ "$answer" = " 05 03 04 00 01 00 00 ee 33 " ] || fail "answer '$answer'"
await '^<- '
[ "$(grep -cx -- '-> 05 03 0E 8A 00 02 E6 8D' "$tmp/out")" = 2 ] || fail "requests not logged"
[ "$(grep -c '^<- ' "$tmp/out")" = 1 ] || fail "the request at 9600 was answered"
grep -qx -- '<- 05 03 04 00 01 00 00 EE 33' "$tmp/out" || fail "answer not logged"

kill -TERM "$pid"
wait "$pid" || fail "exit code $? after SIGTERM"
pid=
[ ! -L "$tmp/com4" ] || fail "link left behind"

# A line of three modules; the one at 3 refuses writes and keeps the input
# mode set for it, its neighbours answer as usual.
"$SIM" --bus t516@1,t528@3,t540@4 --dir "$tmp" --port 6 --log --no-demo --set 3:0x0E8A=1 \
    --fault refuse-write --fault-address 3 >"$tmp/out" 2>&1 &
pid=$!
await ready
[[ "$(head -n 1 "$tmp/out")" =~ ^hv52sim:\ t516@1\ t528@3\ t540@4\ ready\ on\ $tmp/com6\ \(/dev/pts/[0-9]+\)$ ]] ||
    fail "bus ready line"
exec 3<>"$tmp/com6"
stty -F "$tmp/com6" raw -echo
# request (printf escapes) | answer size | expected answer
while IFS='|' read -r request size expected; do
    printf "$request" >&3
    answer=$(timeout 5 head -c "$size" <&3 | od -An -tx1 | tr -s ' \n' ' ')
    [ "$answer" = " $expected " ] || fail "answer to $request: '$answer', expected '$expected'"
done <<'LIST'
\x03\x03\x0e\x8a\x00\x01\xa6\xea|7|03 03 02 00 01 00 44
\x03\x10\x0e\x8a\x00\x01\x02\x00\x00\x4f\x9a|5|03 90 04 ec 03
\x03\x03\x0e\x8a\x00\x01\xa6\xea|7|03 03 02 00 01 00 44
\x04\x03\x0e\x8a\x00\x01\xa7\x5d|7|04 03 02 00 00 74 44
\x01\x10\x0e\x8a\x00\x01\x02\x00\x01\x97\x3a|8|01 10 0e 8a 00 01 22 cb
LIST
exec 3>&-
await '^<- 01 10'
for frame in '-> 04 03 0E 8A 00 01 A7 5D' '<- 03 90 04 EC 03' '<- 01 10 0E 8A 00 01 22 CB'; do
    grep -qx -- "$frame" "$tmp/out" || fail "'$frame' not logged"
done
kill -TERM "$pid"
wait "$pid" || fail "exit code $? after SIGTERM"
pid=
[ ! -L "$tmp/com6" ] || fail "link left behind"
echo "sim_program: all checks passed"

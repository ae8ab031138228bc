#!/usr/bin/env bash
# hv52ctl.exe under Wine works a site of two lines at once (a serial device
# server passing RTU frames and a Modbus TCP gateway, each a simulator of its
# own): the commissioning, its JSON record and the audit that follows give
# what the Linux build gives on the same lines, times aside. The two lines
# print in the order their threads get there: the outputs are compared as
# sorted lines, the record whole.
source "$(dirname "$0")/wine.sh"
examples=$(cd "$(dirname "$0")/../../examples" && pwd)
wine_init

run_site() {
    local dir=$1
    shift
    mkdir -p "$dir"
    cp "$examples/t516-standard.json" "$dir/"
    start_sim --bus t516@1,t516@2,t528@3 --tcp 0 --framing rtu --no-demo
    local rtu sim_rtu=${pids[-1]}
    rtu=$(sim_tcp_port)
    start_sim --bus t516@1,t540@2 --tcp 0 --framing mbap --no-demo
    local mbap sim_mbap=${pids[-1]}
    mbap=$(sim_tcp_port)
    cat >"$dir/site.json" <<PLAN
{"site": "城东变电站", "operator": "张工", "lines": [
  {"tcp": "127.0.0.1:$rtu", "meters": [{"address": "1-2", "module": "t516", "settings": "t516-standard.json"},
                                       {"address": 3, "module": "t516"}]},
  {"modbus_tcp": "127.0.0.1:$mbap", "meters": [{"address": 1, "module": "t516", "settings": "t516-standard.json"},
                                              {"address": 2, "module": "t540"}]}
]}
PLAN
    (
        cd "$dir"
        step() {
            local status=0
            "$@" >out.txt 2>err.txt || status=$?
            printf '== %s: %s\n' "${*: -3}" "$status"
            sort out.txt err.txt
        }
        # Every address planned answers: 3 s of response timeout cost
        # nothing and keep an answer Wine passes on late from being taken
        # for a silent module.
        step "$@" --timeout 3000 commission site.json --record record.json
        step "$@" --timeout 3000 verify --from-record record.json --operator 李工 --record audit.json
        for f in record.json audit.json; do
            echo "== $f"
            # The line's place names the port its simulator got.
            sed -E "s/$rtu/RTU/g; s/$mbap/MBAP/g" "$f" 2>/dev/null || echo "(not written)"
        done
    ) | sed -E 's/[0-9]{4}-[0-9]{2}-[0-9]{2}[T ][0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]+)?([+-][0-9:]+|Z)?/TIME/g; s/用时 [0-9.]+ 秒/用时 N 秒/g; s/"elapsed_ms": [0-9]+/"elapsed_ms": N/g; s/127\.0\.0\.1:[0-9]+/127.0.0.1:PORT/g' \
        >"$dir.txt"
    kill "$sim_rtu" "$sim_mbap"
}

run_site "$work/linux" "$LINUX_BUILD/ctl/hv52ctl"
run_site "$work/windows" "$WINE" "$WINDOWS_BUILD/hv52-io-tools-1.0.0-win64/hv52ctl.exe"
grep -q '^== site.json --record record.json: 1$' "$work/linux.txt" ||
    { cat "$work/linux.txt" >&2; fail "the Linux build's site did not end as planned (a T528 taken for a T516)"; }
grep -q '线路 2（127.0.0.1:PORT）：地址   2  T540  已记录' "$work/linux.txt" ||
    { cat "$work/linux.txt" >&2; fail "the Linux build's site lacks line 2's T540"; }
diff -u "$work/linux.txt" "$work/windows.txt" || fail "hv52ctl.exe's site differs from the Linux build"
echo "wine_ctl_site: $(grep -c '^== ' "$work/windows.txt") steps and files alike"

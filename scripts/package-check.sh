#!/usr/bin/env bash
# Tries the hv52-io-tools package out on a clean Debian 12: a bare bookworm
# root (debootstrap --variant=minbase), the package installed there with apt
# from Debian's mirror, then cfg_t516 started under Xvfb inside that root and
# its "召测" (read) button clicked against hv52sim from hv52-io-tools-sim.
# Also: "man hv52ctl" and "LANG=zh_CN.UTF-8 man hv52ctl" (and the windows'
# pages) show the page, and bash completion of hv52ctl offers its commands.
# Ends with one line: "package-check: PASS ..." or "package-check: FAIL ...".
#
#   bash scripts/package-check.sh [path/to/hv52-io-tools_*.deb]
#
# Default package: the newest one in BUILD_DIR (default build-package/, made
# by scripts/package.sh). Needs root and Debian's mirror, takes minutes: run
# by hand, not part of scripts/test.sh. The bare root is kept as a tarball in
# HV52_CHECK_CACHE (default /var/cache/hv52-package-check), so later runs skip
# debootstrap. OUT (default /tmp/package-check-cfg_t516.png) gets a picture of
# the window after the poll when ImageMagick is installed here.
set -euo pipefail
cd "$(dirname "$0")/.."
# The script's own output, for the traps: a signal that arrives during a
# command with redirected output runs them with that redirection in force.
exec 3>&1 4>&2
started=$SECONDS
step="start"
work=
chroot_dir=

cleanup() {
    local status=$?
    set +e  # every step below must run
    exec 1>&3 2>&4
    if [ -n "$chroot_dir" ]; then
        # Whatever still runs inside the root was started by this script.
        for proc in /proc/[0-9]*; do
            [ "$(readlink "$proc/root" 2>/dev/null)" = "$chroot_dir" ] && kill -9 "${proc#/proc/}" 2>/dev/null || true
        done
        # Deepest mount first; a mount that will not go leaves the tree in place,
        # so that rm -rf never reaches through it.
        awk -v r="$chroot_dir/" 'index($2, r) == 1 { print $2 }' /proc/mounts | sort -r |
            while read -r m; do umount "$m" 2>/dev/null || umount -l "$m"; done
    fi
    if [ -n "$work" ]; then
        if awk -v r="$work/" 'index($2, r) == 1 { found = 1 } END { exit !found }' /proc/mounts; then
            echo "mounts left under $work; not removing it" >&2
        else
            rm -rf "$work"
        fi
    fi
    if [ "$status" -ne 0 ]; then
        echo "package-check: FAIL at: $step ($((SECONDS - started)) s)"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

[ "$(id -u)" -eq 0 ] || { step="needs root (debootstrap, chroot, mounts)"; exit 1; }

step="finding the packages"
build=${BUILD_DIR:-build-package}
deb=${1:-$(ls -t "$build"/hv52-io-tools_*.deb 2>/dev/null | head -n 1 || true)}
[ -f "$deb" ] || { step="no hv52-io-tools_*.deb in $build/: run scripts/package.sh first"; exit 1; }
simdeb=$(ls -t "$(dirname "$deb")"/hv52-io-tools-sim_*.deb 2>/dev/null | head -n 1 || true)
[ -f "$simdeb" ] || { step="no hv52-io-tools-sim_*.deb beside $deb"; exit 1; }
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"
dpkg-deb -f "$deb" Depends | sed 's/^/Depends: /'

# The Debian mirror apt uses here (deb822 or one-line sources).
mirror=$(awk '/^URIs:/ { u = $2 } /^Suites:/ && / bookworm( |$)/ && u ~ /\/debian\/?$/ { print u; exit }' \
    /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i !~ /^\[/) break;
    if ($(i + 1) == "bookworm") { print $i; exit } }' /etc/apt/sources.list 2>/dev/null || true)
mirror=${mirror:-http://deb.debian.org/debian}
arch=$(dpkg --print-architecture)

step="installing debootstrap"
if ! command -v debootstrap >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null 2>&1
fi

work=$(mktemp -d /var/tmp/hv52-package-check.XXXXXX)
chroot_dir=$work/root
mkdir "$chroot_dir"
cache=${HV52_CHECK_CACHE:-/var/cache/hv52-package-check}
tarball=$cache/bookworm-minbase-$arch.tar.gz
if [ -f "$tarball" ]; then
    step="unpacking the bare root from $tarball"
    tar --numeric-owner -xpzf "$tarball" -C "$chroot_dir"
    echo "bare bookworm root: from $tarball"
else
    step="debootstrap --variant=minbase bookworm from $mirror"
    echo "bare bookworm root: debootstrap from $mirror (kept in $tarball)"
    debootstrap --variant=minbase --arch="$arch" bookworm "$chroot_dir" "$mirror" >"$work/debootstrap.log" 2>&1 ||
        { tail -n 30 "$work/debootstrap.log" >&2; exit 1; }
    mkdir -p "$cache"
    tar --numeric-owner -czf "$tarball.part" -C "$chroot_dir" . && mv "$tarball.part" "$tarball"
fi

step="preparing the root"
mount -t proc proc "$chroot_dir/proc"
# A devpts of its own, so the simulator's pseudo-terminals live in the root.
mkdir -p "$chroot_dir/dev/pts" "$chroot_dir/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts "$chroot_dir/dev/pts"
rm -f "$chroot_dir/dev/ptmx"
ln -s pts/ptmx "$chroot_dir/dev/ptmx"
mount -t tmpfs tmpfs "$chroot_dir/dev/shm"
for node in null:1:3 zero:1:5 random:1:8 urandom:1:9 tty:5:0; do
    IFS=: read -r name major minor <<<"$node"
    [ -c "$chroot_dir/dev/$name" ] || { rm -f "$chroot_dir/dev/$name"; mknod -m 666 "$chroot_dir/dev/$name" c "$major" "$minor"; }
done
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
# The same Debian suites as here (updates, security), when apt here uses deb822 sources.
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    cp /etc/apt/sources.list.d/debian.sources "$chroot_dir/etc/apt/sources.list.d/"
    rm -f "$chroot_dir/etc/apt/sources.list"
fi
# No services start inside the root.
printf '#!/bin/sh\nexit 101\n' >"$chroot_dir/usr/sbin/policy-rc.d"
chmod 755 "$chroot_dir/usr/sbin/policy-rc.d"
cp "$deb" "$simdeb" scripts/screen.sh "$chroot_dir/tmp/"
chmod 644 "$chroot_dir"/tmp/*.deb
debname=$(basename "$deb")
simname=$(basename "$simdeb")

in_root() {
    chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@" 3>&- 4>&-
}

step="apt-get update in the root"
in_root apt-get update -qq
step="apt-get install ./$debname in the root"
in_root sh -c "cd /tmp && apt-get install -y -qq --no-install-recommends ./$debname" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; exit 1; }
echo "installed: $debname and $(grep -c '^Setting up' "$work/apt.log") packages in all, without recommends"

# Before anything else is installed: nothing missing from the package's own
# dependencies, the display plugin included.
step="checking the installed programs"
# Debian 12 ships Qt's X11 plugin in libqt6gui6, the other platforms in qt6-qpa-plugins.
plugin=$(in_root sh -c 'ls /usr/lib/*/qt6/plugins/platforms/libqxcb.so' 2>/dev/null || true)
[ -n "$plugin" ] || { step="no Qt X11 plugin (libqxcb.so) installed"; exit 1; }
in_root dpkg-query -W -f='${Status}\n' qt6-qpa-plugins | grep -q 'install ok installed' ||
    { step="qt6-qpa-plugins is not installed"; exit 1; }
for file in /usr/bin/cfg_t516 /usr/bin/cfg_t540 /usr/bin/cfg_t528 "$plugin"; do
    [ -f "$chroot_dir$file" ] || { step="$file is not installed"; exit 1; }
    missing=$(in_root ldd "$file" | grep 'not found' || true)
    [ -z "$missing" ] || { step="$file: libraries not found: $missing"; exit 1; }
done
fonts=$(in_root dpkg-query -W -f='${Package} ${Status}\n' fonts-noto-cjk fonts-wqy-zenhei 2>/dev/null |
    awk '/install ok installed/ { print $1 }' | paste -sd' ' || true)
[ -n "$fonts" ] || { step="no CJK font installed"; exit 1; }
echo "programs: cfg_t516, cfg_t540, cfg_t528 in /usr/bin, every library found; display plugin $plugin; CJK font: $fonts"
if [ -f "$chroot_dir/usr/bin/hv52ctl" ]; then
    step="hv52ctl --version in the root"
    version=$(in_root hv52ctl --version)
    echo "hv52ctl --version: $version"
    # The package's version less its Debian revision (1.0.0-1: 1.0.0).
    upstream=$(dpkg-deb -f "$deb" Version)
    upstream=${upstream%-*}
    [[ $version == *"$upstream"* ]] || { step="hv52ctl --version does not name the package's version"; exit 1; }
fi

# The manual pages in English and Chinese, and the completion of hv52ctl, as
# a user meets them: man-db, a Chinese locale and bash-completion installed.
step="installing man-db, locales and bash-completion in the root"
in_root sh -c "apt-get install -y -qq --no-install-recommends man-db locales bash-completion" \
    >"$work/apt-man.log" 2>&1 || { cat "$work/apt-man.log" >&2; exit 1; }
echo "zh_CN.UTF-8 UTF-8" >"$chroot_dir/etc/locale.gen"
in_root locale-gen >/dev/null 2>&1 || { step="locale-gen zh_CN.UTF-8 in the root"; exit 1; }
for page in hv52ctl cfg_t516 cfg_t540 cfg_t528; do
    step="man $page in the root"
    in_root sh -c "MANWIDTH=80 man -P cat $page 2>/dev/null" | grep -q '^NAME' ||
        { step="man $page shows no English page"; exit 1; }
    step="LANG=zh_CN.UTF-8 man $page in the root"
    in_root env LANG=zh_CN.UTF-8 sh -c "MANWIDTH=80 man -P cat $page 2>/dev/null" | grep -q '^名称' ||
        { step="LANG=zh_CN.UTF-8 man $page shows no Chinese page"; exit 1; }
done
echo "man: hv52ctl, cfg_t516, cfg_t540, cfg_t528 in English and, under LANG=zh_CN.UTF-8, in Chinese"
step="completion of hv52ctl in the root"
# bash-completion loads the completion on demand, as in an interactive shell.
offered=$(in_root bash -c '. /usr/share/bash-completion/bash_completion
    __load_completion hv52ctl || exit 1
    COMP_WORDS=(hv52ctl ""); COMP_CWORD=1; COMP_LINE="hv52ctl "; COMP_POINT=8
    _hv52ctl; printf "%s\n" "${COMPREPLY[@]}"
    COMP_WORDS=(hv52ctl reset t516 ""); COMP_CWORD=3; COMP_LINE="hv52ctl reset t516 "; COMP_POINT=19
    _hv52ctl; printf "%s\n" "${COMPREPLY[@]}"') || { step="bash-completion does not load the completion of hv52ctl"; exit 1; }
for word in read set reset save apply watch scan commission 所有继电器输出计数器; do
    grep -qx "$word" <<<"$offered" || { step="completion of hv52ctl does not offer $word"; exit 1; }
done
echo "completion: hv52ctl's commands and reset entries offered"

step="installing the simulator package, xvfb and xdotool in the root"
in_root sh -c "cd /tmp && apt-get install -y -qq --no-install-recommends ./$simname xvfb xdotool x11-apps" \
    >"$work/apt2.log" 2>&1 || { cat "$work/apt2.log" >&2; exit 1; }

# The run inside the root. Its own trap ends what it started.
cat >"$chroot_dir/tmp/scenario.sh" <<'SCENARIO'
#!/bin/bash
set -euo pipefail
work=/tmp/scenario
mkdir -p "$work/ports"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true' EXIT
die() {
    echo "$*" >&2
    for log in "$work"/*.log; do echo "== $log" >&2; cat "$log" >&2; done
    exit 1
}
source /tmp/screen.sh
requests() { grep -c '^-> ' "$work/sim.log" || true; }
answers() { grep -c '^<- ' "$work/sim.log" || true; }

start_screen || die "Xvfb did not start"

# Listening at 9600 only: a tool that set another speed would get no answer.
hv52sim --module t516 --dir "$work/ports" --port 1 --no-demo --speed 9600 --log >"$work/sim.log" 2>&1 &
pids+=($!)
retry 100 test -e "$work/ports/com1" || die "hv52sim did not start"

HV52_SERIAL_DIR=$work/ports cfg_t516 1 1 9600 >"$work/tool.log" 2>&1 &
tool=$!
pids+=($tool)
window=$(find_window 300 "HV52T516扩展模块") || die "the cfg_t516 window did not appear"
sleep 2
kill -0 "$tool" 2>/dev/null || die "cfg_t516 ended by itself"
[ "$(requests)" -eq 0 ] || die "frames on the line before any click"
echo "cfg_t516: window up, no frames on the line before the click"

# "召测" in twips (its middle); the window is 9885 twips wide at any scale.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" $(((9292 * WIDTH + 4942) / 9885)) $(((277 * WIDTH + 4942) / 9885)) click 1
box=$(find_window 600 cfg_t516) || die "no message box after clicking 召测"
req=$(requests) ans=$(answers)
[ "$req" -gt 0 ] && [ "$req" -eq "$ans" ] || die "$req requests, $ans answers"
echo "召测: $req read requests, each answered at 9600 bit/s; the message box came up"
xdotool windowfocus --sync "$box" key Return
retry 50 sh -c "! xdotool search --onlyvisible --name '^cfg_t516\$'" || die "the message box did not close"
xdotool mousemove 1020 760
sleep 0.5
kill -0 "$tool" 2>/dev/null || die "cfg_t516 ended after the poll"
xwd -silent -id "$window" -out /tmp/window.xwd || true
SCENARIO

step="cfg_t516 against hv52sim under Xvfb in the root"
in_root bash /tmp/scenario.sh
out=${OUT:-/tmp/package-check-cfg_t516.png}
if [ -s "$chroot_dir/tmp/window.xwd" ] && command -v convert >/dev/null; then
    convert "xwd:$chroot_dir/tmp/window.xwd" "$out" && echo "window after the poll: $out"
fi

step="done"
echo "package-check: PASS ($debname on a clean Debian 12 root, $((SECONDS - started)) s)"

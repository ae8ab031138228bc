#!/usr/bin/env bash
# Builds the Debian packages: hv52-io-tools (cfg_t516, cfg_t540, cfg_t528) and
# hv52-io-tools-sim (hv52sim). Installs what is missing, builds in Release
# into BUILD_DIR (default build-package/), runs cpack and prints the path of
# the hv52-io-tools package last; lintian checks both when it is installed.
# scripts/package-check.sh tries them out.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build-package}
case $build in /*) ;; *) build=$root/$build ;; esac

bash scripts/install-deps.sh
# Only the installed programs: the package needs neither tests nor benchmarks.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
ninja -C "$build" hv52_installed
rm -f "$build"/hv52-io-tools*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log" >&2; echo "cpack failed" >&2; exit 1; }

sim=$(ls "$build"/hv52-io-tools-sim_*.deb)
tools=$(ls "$build"/hv52-io-tools_*.deb)
# Debian's own package checker, when it is installed: an error fails the
# build; its warnings and notes go to lintian.log beside the packages.
if command -v lintian >/dev/null; then
    lintian --fail-on error --tag-display-limit 0 "$tools" "$sim" >"$build/lintian.log" 2>&1 ||
        { cat "$build/lintian.log" >&2; echo "lintian found errors in the packages" >&2; exit 1; }
    echo "lintian: no errors ($(grep -c '^W: ' "$build/lintian.log" || true) warnings, see $build/lintian.log)"
fi
echo "simulator package: $sim"
echo "$tools"

#!/usr/bin/env bash
# The whole test suite from a fresh machine: installs what is missing, builds,
# runs every test against the simulated module on pseudo-terminals.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
export LANG=C.UTF-8

bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j2

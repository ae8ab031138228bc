#!/usr/bin/env bash
# The whole test suite from a fresh machine: installs what is missing, builds,
# runs every test against the simulated module on pseudo-terminals (the
# Windows build under Wine among them), again under the sanitizers, and
# fuzzes each fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
export LANG=C.UTF-8

# The Windows build first: the Linux build registers the Wine tests when it
# finds it.
bash scripts/windows.sh
bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j2

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer,
# then a short run of every fuzz target (scripts/fuzz.sh 60 is the longer one).
bash scripts/test-sanitized.sh
bash scripts/fuzz.sh 10

# One closing line for whoever reads the end of the log: the suite twice
# (plain and sanitized, which leaves out the Wine tests) and the four fuzz
# targets. Everything above passed, or set -e would have stopped the script.
tests=$(ctest --test-dir build -N | sed -n 's/^Total Tests: //p')
wine=$(ctest --test-dir build -N -L wine | sed -n 's/^Total Tests: //p')
echo "suite: $((2 * tests - wine + 4)) passed, 0 failed"

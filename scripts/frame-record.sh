#!/usr/bin/env bash
# Records every request each test's simulated module hears, for comparing two
# builds of the tree frame for frame:
#   bash scripts/frame-record.sh build /tmp/frames-before   (one tree)
#   bash scripts/frame-record.sh build /tmp/frames-after    (the other)
#   python3 scripts/frame-compare.py /tmp/frames-before /tmp/frames-after
# Runs the suite without the Wine tests, one test at a time so that the
# timing of one is not another's load.
set -euo pipefail
build=${1:?build folder}
out=${2:?record folder}
rm -rf "$out"
mkdir -p "$out"
export QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 HV52_FRAME_RECORD
HV52_FRAME_RECORD=$(realpath "$out")
ctest --test-dir "$build" -LE wine --output-on-failure ${CTEST_ARGS:-}

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs tests many times in a row while other processes keep every CPU busy, and stops at the
# first failure: a test that waits for a condition passes under load, one that guesses at timing
# does not.
#   scripts/stress-tests.sh [-n RUNS] [-d BUILD_DIR] [-j JOBS] [-R CTEST_REGEX] [-L CTEST_LABELS]
#                           [--no-load]
# JOBS defaults to what ./test.sh uses: four per CPU for the plain build, one per CPU for a
# sanitizer build.
# Examples:
#   scripts/stress-tests.sh -n 30 -R 'mainframe|dialogs_ui|shutdown'
#   scripts/stress-tests.sh -n 20                       # the whole plain suite
#   scripts/stress-tests.sh -n 10 -d build-tsan -L 'messages|transport|service'
set -euo pipefail
cd "$(dirname "$0")/.."
runs=20
dir=build
jobs=
select=()
load=1
while [ $# -gt 0 ]; do
    case $1 in
    -n) runs=$2; shift 2 ;;
    -d) dir=$2; shift 2 ;;
    -j) jobs=$2; shift 2 ;;
    -R | -L) select+=("$1" "$2"); shift 2 ;;
    --no-load) load=0; shift ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
done
if [ -z "$jobs" ]; then
    if [ "$dir" = build ]; then jobs=$((4 * $(nproc))); else jobs=$(nproc); fi
fi
hogs=()
stop_load() { for p in "${hogs[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap stop_load EXIT
if ((load)); then
    for _ in $(seq "$(nproc)"); do
        (while :; do :; done) &
        hogs+=($!)
    done
fi
for i in $(seq "$runs"); do
    if ! ctest --test-dir "$dir" "${select[@]}" -j "$jobs" --output-on-failure >"/tmp/stress-$$.log" 2>&1; then
        grep -E "Failed|Timeout|\*\*\*" "/tmp/stress-$$.log" || true
        echo "run $i of $runs failed; the whole output is in /tmp/stress-$$.log"
        exit 1
    fi
    echo "run $i of $runs: $(grep -oE '[0-9]+ tests failed out of [0-9]+' "/tmp/stress-$$.log")"
done
rm -f "/tmp/stress-$$.log"
echo "$runs runs passed"

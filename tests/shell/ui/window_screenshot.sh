#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Starts the real zelbin program under Xvfb with the stand-in service, waits for its window, saves
# a screenshot as a test artifact, and checks that a stop signal ends the program cleanly.
# Usage: window_screenshot.sh BIN_DIR ARTIFACT_DIR   (runs itself in a private network namespace)
set -euo pipefail
bin=$1
artifacts=$2
source "$(dirname "$0")/../../common/netns.sh"
zelbin_enter_netns window "$@"
mkdir -p "$artifacts"

# -noreset: a server that resets as its last client leaves turns away one that connects meanwhile.
Xvfb -displayfd 1 -screen 0 1024x700x24 -nolisten tcp -noreset >"$work/display" 2>"$work/xvfb.err" &
pids+=($!)
# Poll (every 0.1 s, within a deadline) for what the programs report.
timeout 20 bash -c "until [ -s '$work/display' ]; do sleep 0.1; done"
export DISPLAY=":$(head -n1 "$work/display")"

"$bin/VostraHardwareService.exe" --foreground --no-control --log-file "$work/service.log" \
    --receiver 101:"Room 101" --receiver 102:"Science Lab" >"$work/service.out" &
pids+=($!)
"$bin/zelbinctl" --wait 5000 status >/dev/null

"$bin/zelbin" >"$work/zelbin.out" 2>&1 &
zelbin=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name ' - Zelbin$' | head -n1)
[ -n "$window" ] || { echo "no Zelbin window appeared"; exit 1; }
"$bin/zelbinctl" send 101 "0x00,0x00,0x0D,0x1f" >/dev/null
# The window lists the receivers and shows the log once the service's events are dispatched;
# wait until the log shows the command just sent.
timeout 20 bash -c "until grep -q 'Chanel Set and Query' '$work/service.log'; do sleep 0.1; done"
import -window root "$artifacts/zelbin-window.png"
size=$(stat -c %s "$artifacts/zelbin-window.png")
[ "$size" -gt 5000 ] || { echo "screenshot too small ($size bytes)"; exit 1; }

kill -TERM "$zelbin"
status=0
wait "$zelbin" || status=$?
[ "$status" -eq 0 ] || { echo "zelbin ended with $status after SIGTERM"; cat "$work/zelbin.out"; exit 1; }
echo "screenshot saved to $artifacts/zelbin-window.png"

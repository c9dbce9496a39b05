#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds Zelbin, starts the stand-in receiver service in the foreground (its log in a temporary
# directory, receivers that come and go) and shows what Zelbin sees of it. Type the service's
# control commands (help, appear 7 Name, go 7, log 10 5, ...) while it runs; Ctrl+C ends it.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
zelbin_ensure_packages

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j "$(nproc)"

bin=build/bin
logdir=$(mktemp -d /tmp/zelbin-run-XXXXXX)
echo "Starting the stand-in receiver service (log: $logdir/VostraHardwareService.log)"
echo "The Zelbin window is not built yet; zelbinctl shows what it would."
(
    "$bin/zelbinctl" --wait 5000 status || true
    echo "Receivers now:"
    "$bin/zelbinctl" receivers || true
    echo "Changes as they come (this is 'zelbinctl receivers --watch'):"
    exec "$bin/zelbinctl" receivers --watch
) &
watcher=$!
trap 'kill $watcher 2>/dev/null || true' EXIT
"$bin/VostraHardwareService.exe" --foreground --log-file "$logdir/VostraHardwareService.log" \
    --scenario receiver-service/demo-scenario.txt --loop

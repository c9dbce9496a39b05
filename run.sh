#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs only what building and running needs, builds Zelbin in release mode, starts the stand-in receiver service in the foreground (its log in a temporary
# directory, receivers that come and go) and then the Zelbin window connected to it. Without a
# display it says so and shows what zelbinctl sees instead. Type the service's control commands
# (help, appear 7 Name, go 7, log 10 5, ...) while it runs; Ctrl+C ends it.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
zelbin_ensure_packages run

# Without the tests and the benchmarks: they need packages of their own, which ./test.sh installs.
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELBIN_TESTS=OFF -DZELBIN_BENCH=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target zelbin zelbinctl VostraHardwareService VostraSoftwareService

bin=build-release/bin
# The service logs to its default file, the one "-start" uses too: after Service > Stop and
# Start in the window, the restarted service goes on writing the same file.
echo "Starting the stand-in receiver service"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    # The window looks the service up by itself and connects when it announces itself.
    "$bin/zelbin" &
    viewer=$!
else
    echo "No display (DISPLAY is not set): showing what zelbinctl sees instead of the window."
    (
        "$bin/zelbinctl" --wait 5000 status || true
        echo "Receivers now:"
        "$bin/zelbinctl" receivers || true
        echo "Changes as they come (zelbinctl receivers --watch):"
        exec "$bin/zelbinctl" receivers --watch
    ) &
    viewer=$!
fi
trap 'kill $viewer 2>/dev/null || true' EXIT
"$bin/VostraHardwareService.exe" --foreground --scenario receiver-service/demo-scenario.txt --loop

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds Zelbin. The window, the stand-in receiver service and zelbinctl are not built yet; until
# they are, this builds the messaging library and says what it will start.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
zelbin_ensure_packages

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j "$(nproc)"
cat <<'TEXT'
Built the messaging library (messages and transport).
Once they exist, ./run.sh starts the stand-in receiver service in the foreground, with its log in a
temporary directory and a few simulated receivers that come and go, and then the Zelbin window
connected to it (zelbinctl status and zelbinctl receivers where there is no display).
TEXT

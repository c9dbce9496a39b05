#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows build, tested under Wine: cross-compiles the libraries, zelbinctl.exe, the service
# programs and their tests with mingw-w64 (GoogleTest from Debian's source package), makes a fresh
# Wine prefix under the build folder, and runs ctest with Wine as the emulator in a private network
# namespace with a Wine server of its own (Wine's sockets belong to that server, so the server must
# start inside the namespace). Given the Linux build's programs, the mixed pairs run as well.
#   scripts/wine-tests.sh [LINUX_BIN_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-win
host=()
[ -n "${1:-}" ] && host=("-DZELBIN_HOST_PROGRAM_DIR=$(realpath "$1")")
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Debug \
    -DZELBIN_GUI=OFF -DZELBIN_GTEST_SOURCE=/usr/src/googletest "${host[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"

# No Mono or Gecko: the programs need neither, and their installers would ask.
export WINEPREFIX=$PWD/$dir/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
rm -rf "$WINEPREFIX"
start=$SECONDS
"$wine" wineboot -i >"$dir/wineboot.log" 2>&1
/usr/lib/wine/wineserver -w
echo "Wine prefix made in $((SECONDS - start)) s"

# As root the namespace is a network namespace alone (tcpdump, in the mixed pairs, gives up root
# for a user of its own, which a user namespace cannot switch to).
unshare_options=-rn
[ "$(id -u)" -ne 0 ] || unshare_options=-n
export ZELBIN_TEST_NETNS=1 # the scripts among the tests stay in this namespace
unshare $unshare_options bash -c '
    ip link set lo up
    # The Wine server and its services start here, before the first timed test does.
    /usr/lib/wine/wine64 wineboot >/dev/null 2>&1
    status=0
    ctest --test-dir "$0" --output-on-failure --no-tests=error -j "$1" || status=$?
    /usr/lib/wine/wineserver -k 2>/dev/null || true # ends whatever a failed test left running
    exit $status' "$dir" "$(nproc)"

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs into a scratch directory and checks the layout: the programs and the licence side by
# side, a command on the path, the desktop entry and the icon.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(mktemp -d /tmp/zelbin-install-XXXXXX)
trap 'rm -rf "$root"' EXIT
DESTDIR="$root" cmake --install "$build" --prefix /usr/local >/dev/null
dir="$root/usr/local/lib/zelbin"
for f in zelbin zelbinctl VostraHardwareService.exe VostraSoftwareService.exe License.txt README.md; do
    [ -e "$dir/$f" ] || { echo "missing $dir/$f"; exit 1; }
done
for f in zelbin zelbinctl VostraHardwareService.exe VostraSoftwareService.exe; do
    [ -x "$dir/$f" ] || { echo "$f is not executable"; exit 1; }
done
for p in zelbin zelbinctl; do
    [ "$(readlink "$root/usr/local/bin/$p")" = "../lib/zelbin/$p" ] || { echo "bin/$p does not lead to the program"; exit 1; }
done
grep -q '^Exec=zelbin$' "$root/usr/local/share/applications/zelbin.desktop"
grep -q '^Icon=zelbin$' "$root/usr/local/share/applications/zelbin.desktop"
[ -s "$root/usr/local/share/icons/hicolor/scalable/apps/zelbin.svg" ]
"$dir/VostraHardwareService.exe" --help | grep -q -- '-start'
echo "install layout ok"

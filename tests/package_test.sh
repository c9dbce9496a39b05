#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks the Debian package that ./package.sh made: lintian finds no error, the AppStream
# metadata and the desktop entry validate, and the package unpacked into a scratch folder runs:
# zelbinctl from the path, with the service programs beside it, and its manual page.
# Usage: package_test.sh PACKAGE.deb
set -euo pipefail
deb=$1
root=$(mktemp -d /tmp/zelbin-package-XXXXXX)
trap 'rm -rf "$root"' EXIT
failed=0
check() { # what, command...
    local what=$1
    shift
    if ! out=$("$@" 2>&1); then
        echo "FAILED: $what"; echo "$out" | sed 's/^/    /'; failed=1
    fi
}
errors=$(lintian --tag-display-limit 0 "$deb" 2>/dev/null | grep '^E:' || true)
[ -z "$errors" ] || { echo "FAILED: lintian reports errors:"; echo "$errors"; failed=1; }
dpkg-deb -x "$deb" "$root"
check "AppStream metadata" appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
check "desktop entry" desktop-file-validate "$root/usr/share/applications/zelbin.desktop"
check "zelbinctl from the path" bash -c "'$root/usr/bin/zelbinctl' --help | grep -q '^Usage: zelbinctl'"
for program in VostraHardwareService.exe VostraSoftwareService.exe zelbin; do
    # Beside zelbinctl, where the window runs them from: the link leads to the real folder.
    check "$program beside zelbinctl" test -x "$(dirname "$(readlink -f "$root/usr/bin/zelbinctl")")/$program"
done
check "the service program runs" bash -c "'$root/usr/lib/zelbin/VostraHardwareService.exe' --help | grep -q -- -start"
check "zelbinctl's manual page" bash -c "zcat '$root/usr/share/man/man1/zelbinctl.1.gz' | grep -q 'payload.-test'"
check "bash completion" bash -c "source '$root/usr/share/bash-completion/completions/zelbinctl' && complete -p zelbinctl"
check "the licence" grep -q 'Permission is hereby granted' "$root/usr/share/doc/zelbin/copyright"
((failed == 0)) && echo "package ok: $(basename "$deb")"
exit $failed

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Linux and Windows programs talk to each other, and the bytes on the wire are the same whichever
# side runs where: the stand-in service and zelbinctl run as Linux-Linux (the reference),
# Linux service with the Windows zelbinctl.exe under Wine, and the Windows service under Wine
# with the Linux zelbinctl. tcpdump records each session; every look-up datagram and each TCP
# connection's bytes, one direction at a time, must equal the reference's.
# Usage: mixed_pairs_test.sh LINUX_BIN_DIR WINDOWS_BIN_DIR
# Runs in the Wine stage's network namespace (Wine's sockets belong to its server, which lives
# there); alone it makes one, and Wine then starts its server inside it.
set -euo pipefail
linux=$1
windows=$2
[ "$(id -u)" -ne 0 ] || export ZELBIN_UNSHARE=-n # tcpdump drops root for a user of its own
source "$(dirname "$0")/../common/netns.sh"
zelbin_enter_netns mixed "$@"
wine=${ZELBIN_WINE:-/usr/lib/wine/wine64}
port=47001

# The session's bytes, written out as lines: "udp HEX" for every look-up datagram, then for each
# TCP connection in order "tcp N to-service HEX" and "tcp N to-client HEX", all its segments of
# one direction joined.
transcript() { # capture file
    tshark -r "$1" -Y 'udp.port == 35000' -T fields -e udp.payload 2>>"$work/tshark.err" |
        sed 's/^/udp /'
    # A segment sent again (a busy machine can drop one on loopback) carries no new bytes.
    tshark -r "$1" -Y "tcp.port == $port && tcp.len > 0 && !tcp.analysis.retransmission" \
        -T fields -e tcp.stream -e tcp.dstport \
        -e tcp.payload 2>>"$work/tshark.err" |
        awk -v port="$port" '{ key = "tcp " $1 ($2 == port ? " to-service" : " to-client");
                               if (!(key in bytes)) order[n++] = key; bytes[key] = bytes[key] $3 }
                             END { for (i = 0; i < n; i++) print order[i], bytes[order[i]] }'
}

session() { # name, log folder for the service, service command..., --, client command...
    local name=$1 logs=$2 service=() client=()
    shift
    shift
    while [ "$1" != -- ]; do service+=("$1"); shift; done
    shift
    client=("$@")
    tcpdump -i lo --immediate-mode -U -w "$work/$name.pcap" "tcp port $port or udp port 35000" \
        2>"$work/$name.tcpdump" &
    local tcpdump=$!
    pids+=("$tcpdump")
    timeout 10 bash -c "until grep -q 'listening on' '$work/$name.tcpdump'; do sleep 0.1; done"
    "${service[@]}" --foreground --no-control --port "$port" --mask 0 --announce-interval 0 \
        --receiver 7:"Küche 7" --receiver 9:Lab --log-file "$logs/$name.log" >"$work/$name.out" &
    local service_pid=$!
    pids+=("$service_pid")
    timeout 30 bash -c "until grep -q 'listening on' '$work/$name.out'; do sleep 0.1; done"
    {
        "${client[@]}" --wait 10000 mask
        "${client[@]}" --wait 10000 receivers
        "${client[@]}" --wait 10000 send 7 "0x00,0x00,0x0D,0x1f"
        "${client[@]}" --wait 10000 mask set debug,raw
    } >"$work/$name.client" 2>&1
    kill "$service_pid"
    wait "$service_pid" || true
    kill -INT "$tcpdump"
    wait "$tcpdump" 2>/dev/null || true
    transcript "$work/$name.pcap" >"$work/$name.wire"
}

# Wine sees this machine's root as drive Z:.
session linux-linux "$work" "$linux/VostraHardwareService.exe" -- "$linux/zelbinctl"
session linux-windows "$work" "$linux/VostraHardwareService.exe" -- "$wine" "$windows/zelbinctl.exe"
session windows-linux "Z:$work" "$wine" "$windows/VostraHardwareService.exe" -- "$linux/zelbinctl"

failed=0
reference=$work/linux-linux
# Four connections, each registered with its command's answer: nothing silently missing.
if [ "$(grep -c '^tcp .* to-service ' "$reference.wire")" -ne 4 ] ||
    ! grep -q '^udp ' "$reference.wire"; then
    echo "FAILED: the reference session is incomplete:"; cat "$reference.wire" "$reference.client"
    failed=1
fi
for pair in linux-windows windows-linux; do
    if ! diff -u "$reference.wire" "$work/$pair.wire"; then
        echo "FAILED: $pair: the bytes on the wire differ from Linux-Linux"; failed=1
    fi
    if ! diff -u "$reference.client" "$work/$pair.client"; then
        echo "FAILED: $pair: zelbinctl's output differs from Linux-Linux"; failed=1
    fi
done
((failed)) && exit 1
echo "mixed pairs: $(wc -l <"$reference.wire") transcript lines alike in all three sessions"

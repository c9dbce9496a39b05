#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Wireshark dissector against a real capture: the stand-in service and zelbinctl talk on
# loopback in a private network namespace while tcpdump records them; tshark, with the dissector
# loaded, must then name every message that went over the wire, the receivers' names (non-ASCII
# included), the log mask's categories and a command text exactly.
# Usage: wireshark_test.sh BIN_DIR DISSECTOR   (runs itself in a private network namespace)
set -euo pipefail
bin=$1
dissector=$2
# tcpdump gives up root for a user of its own, which a user namespace cannot switch to: as root,
# the namespace is a network namespace alone.
[ "$(id -u)" -ne 0 ] || export ZELBIN_UNSHARE=-n
source "$(dirname "$0")/../common/netns.sh"
zelbin_enter_netns wireshark "$@"

tcpdump -i lo --immediate-mode -U -w - >"$work/capture.pcap" 2>"$work/tcpdump.err" &
tcpdump=$!
pids+=($tcpdump)
# Poll (every 0.1 s, within a deadline) until tcpdump says that it captures.
timeout 10 bash -c "until grep -q 'listening on' '$work/tcpdump.err'; do sleep 0.1; done"

# Enough receivers that their list, sent in one frame, spans several TCP segments.
for i in $(seq 1000 5000); do echo "at 0 appear $i Receiver $i"; done >"$work/scenario.txt"
"$bin/VostraHardwareService.exe" --foreground --no-control --log-file "$work/service.log" \
    --receiver 7:"Küche 7" --receiver 9:Lab --scenario "$work/scenario.txt" >"$work/service.out" &
pids+=($!)
ctl=("$bin/zelbinctl" --wait 5000)
"${ctl[@]}" status >/dev/null
"${ctl[@]}" mask set debug,raw >/dev/null
sent=$("${ctl[@]}" send 7 "0x00,0x00,0x0D,0x1f") # the text as zelbinctl cleaned it
"${ctl[@]}" clear-log >/dev/null
"${ctl[@]}" receivers >/dev/null
kill -INT "$tcpdump"
wait "$tcpdump" 2>/dev/null || true

fields() {
    tshark -X lua_script:"$dissector" -r "$work/capture.pcap" -Y "$1" -T fields -e "$2" \
        -E aggregator='|' 2>"$work/tshark.err" | tr '|' '\n' | sort -u
}
failed=0
expect() { # what, field listing, expected line
    if ! grep -qxF -- "$3" <<<"$2"; then
        echo "FAILED: $1: \"$3\" not among:"; echo "$2" | sed 's/^/    /'; failed=1
    fi
}
names=$(fields zelbin zelbin.name)
for name in Registration ClientClosingRequest ClientClosingResponse ReceiverStatusEvent \
    ReceiverCommand GetLogFileRequest GetLogFileResponse SetLogMaskMessage LogUpdatedEvent \
    GetLogMaskRequest GetLogMaskResponse ClearLogMessage; do
    expect "message names" "$names" "$name"
done
expect "handshake" "$(fields zelbin.handshake zelbin.handshake)" "3c915e07d24a6b189f20c473e85d01a6"
expect "look-up" "$(fields zelbin_lookup zelbin.lookup.code)" "100"
expect "look-up" "$(fields zelbin_lookup zelbin.lookup.code)" "101"
receivers=$(fields zelbin.receiver.name zelbin.receiver.name)
expect "receiver names" "$receivers" "Küche 7"
expect "receiver names" "$receivers" "Lab"
expect "receiver names" "$receivers" "Receiver 5000"
expect "a list reassembled from several segments" "$(fields zelbin.receivers zelbin.receivers)" "4003"
expect "command text" "$(fields zelbin.command.text zelbin.command.text)" "$sent"
expect "log mask" "$(fields zelbin.logmask.names zelbin.logmask.names)" "raw,debug"
expect "log file" "$(fields zelbin.logfile zelbin.logfile)" "$work/service.log"
# Without the look-up in the capture the heuristic recognises the stream by itself.
tcpdump -r "$work/capture.pcap" -w "$work/tcp-only.pcap" tcp 2>/dev/null
heuristic=$(tshark -X lua_script:"$dissector" -r "$work/tcp-only.pcap" -Y zelbin -T fields \
    -e zelbin.name -E aggregator='|' 2>/dev/null | tr '|' '\n' | sort -u)
expect "the heuristic, with no look-up" "$heuristic" "ReceiverCommand"
expect "the heuristic, with no look-up" "$heuristic" "GetLogMaskResponse"
if grep -qi 'error' "$work/tshark.err"; then
    echo "FAILED: tshark reported:"; cat "$work/tshark.err"; failed=1
fi
# No frame of the capture may be malformed.
malformed=$(tshark -X lua_script:"$dissector" -r "$work/capture.pcap" -Y '_ws.malformed || _ws.expert.severity == error' 2>/dev/null | wc -l)
[ "$malformed" -eq 0 ] || { echo "FAILED: $malformed malformed packets"; failed=1; }
((failed == 0)) && echo "the dissector names every message, receiver name, mask and command text"
exit $failed

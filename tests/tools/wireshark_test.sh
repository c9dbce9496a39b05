#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Wireshark dissector against a real capture: the stand-in service and zelbinctl talk on
# loopback in a private network namespace while dumpcap records them; tshark, with the dissector
# loaded, must then name every message that went over the wire, the receivers' names (non-ASCII
# included), the log mask's categories and a command text exactly. A second capture, made up
# packet by packet, is what a hostile peer could send: arguments of the wrong type, and a look-up
# reply nobody asked for that names the port of another protocol; and two streams with no look-up
# at all, which the heuristic must recognise.
# Usage: wireshark_test.sh BIN_DIR DISSECTOR   (runs itself in a private network namespace)
# Exit status 77 (skipped): nothing can be captured here.
set -euo pipefail
bin=$1
dissector=$2
source "$(dirname "$0")/../common/netns.sh"
zelbin_enter_netns wireshark "$@"

# dumpcap, unlike tcpdump, keeps the user it runs as: it captures in a user namespace too.
dumpcap -i lo -q -w "$work/capture.pcapng" 2>"$work/dumpcap.err" &
dumpcap=$!
pids+=($dumpcap)
# Poll (every 0.1 s, within a deadline) until it says that it captures.
if ! timeout 10 bash -c "until grep -qs 'Capturing on' '$work/dumpcap.err'; do sleep 0.1; done"; then
    echo "SKIPPED: dumpcap cannot capture on lo here: $(cat "$work/dumpcap.err")"
    exit 77
fi

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
kill -INT $dumpcap
wait $dumpcap 2>/dev/null || true

shark() { tshark -X lua_script:"$dissector" "$@" 2>>"$work/tshark.err"; }
# The fields of a capture in one tshark run (tshark takes a second to start), read without
# starting a process per field: cell[row,field] holds a row's values ("|" between several),
# seen[field=value] each value that came, values[field] the values, one a line, each once.
declare -A cell seen values
rows=0
read_fields() { # capture, fields...
    local capture=$1 field value i
    local -a columns parts
    shift
    cell=() seen=() values=() rows=0
    # Columns apart by the unit separator: unlike a tab, read keeps the empty ones between two.
    shark -r "$capture" -T fields -E separator=$'\x1f' -E aggregator='|' \
        $(printf -- '-e %s ' "$@") >"$work/fields" ||
        { echo "FAILED: tshark cannot read $* from $capture"; failed=1; }
    while IFS=$'\x1f' read -r -a columns; do
        i=0
        for field; do
            cell[$rows,$field]=${columns[i++]:-}
            IFS='|' read -r -a parts <<<"${cell[$rows,$field]}"
            for value in "${parts[@]}"; do
                [ -n "${seen[$field=$value]:-}" ] || values[$field]+="$value"$'\n'
                seen[$field=$value]=1
            done
        done
        rows=$((rows + 1))
    done <"$work/fields"
}
failed=0
expect() { # what, field, a value it must have had
    if [ -z "${seen[$2=$3]:-}" ]; then
        echo "FAILED: $1: \"$3\" not among the values of $2:"
        printf '%s' "${values[$2]:-}" | sed 's/^/    /'
        failed=1
    fi
}
expect_line() { # what, a listing, a line it must hold
    if [[ $'\n'$2$'\n' != *$'\n'"$3"$'\n'* ]]; then
        echo "FAILED: $1: \"$3\" not among:"; echo "$2" | sed 's/^/    /'; failed=1
    fi
}
expect_equal() { # what, value, expected value
    [ "$2" = "$3" ] || { echo "FAILED: $1: \"$2\", not \"$3\""; failed=1; }
}
rows_with() { # field: the rows in which it has a value
    local n=0 row
    for ((row = 0; row < rows; row++)); do [ -z "${cell[$row,$1]}" ] || n=$((n + 1)); done
    echo $n
}
capture=$work/capture.pcapng
read_fields "$capture" zelbin.name zelbin.handshake zelbin.lookup.code zelbin.receiver.name \
    zelbin.receivers zelbin.command.text zelbin.logmask.names zelbin.logfile _ws.malformed \
    _ws.expert.severity
for name in Registration ClientClosingRequest ClientClosingResponse ReceiverStatusEvent \
    ReceiverCommand GetLogFileRequest GetLogFileResponse SetLogMaskMessage LogUpdatedEvent \
    GetLogMaskRequest GetLogMaskResponse ClearLogMessage; do
    expect "message names" zelbin.name "$name"
done
expect "handshake" zelbin.handshake "3c915e07d24a6b189f20c473e85d01a6"
expect "look-up" zelbin.lookup.code "100"
expect "look-up" zelbin.lookup.code "101"
expect "receiver names" zelbin.receiver.name "Küche 7"
expect "receiver names" zelbin.receiver.name "Lab"
expect "receiver names" zelbin.receiver.name "Receiver 5000"
expect "a list reassembled from several segments" zelbin.receivers "4003"
expect "command text" zelbin.command.text "$sent"
expect "log mask" zelbin.logmask.names "raw,debug"
expect "log file" zelbin.logfile "$work/service.log"
# No frame of the capture may be malformed or carry an error (8388608: the severity "error").
expect_equal "malformed packets" "$(rows_with _ws.malformed)" 0
expect_equal "packets with errors" "${seen[_ws.expert.severity=8388608]:-0}" 0

# The made-up capture. A packet: direction (I: client to server, O: back), time, its bytes in
# hexadecimal; written as text2pcap reads a dump, 16 bytes a line after their offset.
packet() {
    local hex=$3 offset=0 i
    echo "$1 10:00:$2"
    while [ -n "$hex" ]; do
        printf '%06x' $offset
        for ((i = 0; i < 32 && i < ${#hex}; i += 2)); do printf ' %s' "${hex:i:2}"; done
        echo
        hex=${hex:32}
        offset=$((offset + 16))
    done
}
hex_of() { # text: its bytes in hexadecimal
    local i
    for ((i = 0; i < ${#1}; i++)); do printf '%02x' "'${1:i:1}"; done
}
pcap() { # name, text2pcap's options for the addresses and ports; the packets on standard input
    local name=$1
    shift
    text2pcap -q -D -t '%H:%M:%S' "$@" - "$work/$name.pcap"
}
id=3C915E07D24A6B189F20C473E85D01A6
text_ab=000000050A00026162 # an argument of 5 bytes: type 10 (wide string), then "ab"
http_request=$(hex_of $'GET / HTTP/1.1\r\nHost: x\r\n\r\n')
http_answer=$(hex_of $'HTTP/1.1 204 No Content\r\n\r\n')
# A reply nobody asked for names port 80 (at 00); a request, then its answer naming 9000
# (05, 06); later a request answered with port 80 again (20, 21).
{
    packet I 00 "00000065${id}0050"
    packet I 05 "00000064${id}"
    packet I 06 "00000065${id}2328"
    packet I 20 "00000064${id}"
    packet I 21 "00000065${id}0050"
} | pcap lookup -4 127.0.0.1,225.1.2.34 -u 35000,35000
# HTTP on port 80 before and after the answer that names it.
for at in 01 22; do
    { packet I "$at" "$http_request"; packet O "$at" "$http_answer"; } |
        pcap "http$at" -4 10.0.0.1,10.0.0.2 -T "400$at,80"
done
# The service's port: the handshake, then a ReceiverCommand whose first argument is text and a
# GetLogMaskResponse whose first entry is text. Then a stream on that port that is not ours.
{
    packet O 07 "$id"
    packet I 08 "0000001A000000090100000002${text_ab}000000040A000178"
    packet O 09 "000000160000000F030000000100000001${text_ab}"
} | pcap service -4 10.0.0.1,10.0.0.2 -T 40007,9000
{ packet I 10 "$http_request"; } | pcap other -4 10.0.0.1,10.0.0.2 -T 40010,9000
# On ports no look-up named, the heuristic's two ways in: a stream that begins with the
# handshake (then a ReceiverCommand to receiver 7, "ab", and a GetLogMaskResponse of raw and
# debug), and one caught in the middle, whose first segment is a frame (a ClearLogMessage).
{
    packet O 11 "$id"
    packet I 12 "0000001B000000090100000002000000050500000007${text_ab}"
    packet O 13 "000000160000000F030000000100000001000000050500000018"
} | pcap heuristic -4 10.0.0.3,10.0.0.2 -T 40030,47100
{ packet I 14 "000000050000001201"; } | pcap midway -4 10.0.0.3,10.0.0.2 -T 40031,47200
mergecap -w "$work/made-up.pcap" "$work"/{lookup,http01,http22,service,other,heuristic,midway}.pcap
made=$work/made-up.pcap
read_fields "$made" http.request zelbin.lookup.unasked zelbin.command.text zelbin tcp.port \
    zelbin.name zelbin.logmask.names zelbin.handshake _ws.expert.message _ws.expert.severity
expect_equal "HTTP on port 80 stays HTTP" "$(rows_with http.request)" 2
expect_equal "a reply nobody asked for is marked" "$(rows_with zelbin.lookup.unasked)" 1
expect "the ReceiverCommand's text is still read" zelbin.command.text "x"
expect_equal "the service's handshake and the heuristic's" "$(rows_with zelbin.handshake)" 2
expect "the heuristic, from the handshake" zelbin.command.text "ab"
expect "the heuristic, from the handshake" zelbin.logmask.names "raw,debug"
expect "the heuristic, from a frame" zelbin.name "ClearLogMessage"
ours=()
for ((row = 0; row < rows; row++)); do
    [ -z "${cell[$row,zelbin]}" ] || ours+=("${cell[$row,tcp.port]}")
done
expect_equal "only the streams that begin with the handshake or a frame are ours" \
    "$(printf '%s\n' "${ours[@]}" | tr '|' '\n' | sort -u | tr '\n' ' ')" "40007 40030 40031 47100 47200 9000 "
# Text where a number goes is shown as such, in the messages' own rows; a Lua error would be an
# item of the severity "error".
for name in ReceiverCommand GetLogMaskResponse; do
    said=0
    for ((row = 0; row < rows; row++)); do
        [[ "|${cell[$row,zelbin.name]}|" == *"|$name|"* &&
            "${cell[$row,_ws.expert.message]}" == *"Argument 1: wide string where a uint32 goes"* ]] &&
            said=1
    done
    expect_equal "$name: text where a number goes" $said 1
done
expect_equal "made-up packets with errors" "${seen[_ws.expert.severity=8388608]:-0}" 0
if grep -qi 'error' "$work/tshark.err"; then
    echo "FAILED: tshark reported:"; cat "$work/tshark.err"; failed=1
fi
((failed == 0)) && echo "the dissector names every message, receiver name, mask and command text, and keeps to the service's streams"
exit $failed

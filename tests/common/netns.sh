# SPDX-License-Identifier: MIT
# For the test scripts that use loopback, sourced at their top: zelbin_enter_netns runs the
# script again in a private network namespace with only loopback up (unless it already runs in
# one), then gives it a scratch folder ($work) and ends the background programs it adds to $pids
# when it exits.
#   source "$(dirname "$0")/../common/netns.sh"; zelbin_enter_netns NAME "$@"
# ZELBIN_UNSHARE: the unshare options (default -rn: a user and a network namespace).

zelbin_enter_netns() { # name of the scratch folder, the script's arguments
    local name=$1
    shift
    if [ -z "${ZELBIN_TEST_NETNS:-}" ]; then
        export ZELBIN_TEST_NETNS=1
        exec unshare ${ZELBIN_UNSHARE:--rn} bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
    fi
    work=$(mktemp -d "/tmp/zelbin-$name-XXXXXX")
    pids=()
    trap zelbin_cleanup EXIT
}

zelbin_cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}

#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs a test program in a private network namespace with only loopback up, so that tests on the
# fixed multicast group and port never meet each other or a service running on this machine.
exec unshare -rn sh -c 'ip link set lo up && exec "$0" "$@"' "$@"

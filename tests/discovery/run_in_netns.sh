#!/bin/sh
# Runs a command inside a new, private network namespace, so that the mDNS
# sockets it opens can only ever reach loopback.
#
#   run_in_netns.sh [--loopback-down] command [args...]
#
# By default loopback is brought up with multicast routes for the mDNS groups
# and two documentation addresses (192.0.2.1, 2001:db8::1), so the responder
# finds interface addresses to announce. With --loopback-down nothing is up:
# no socket can join a multicast group.
set -e

if [ "$MDNS_TEST_IN_NETNS" != 1 ]; then
    # Never fall back to the real network: if unshare fails, so does the test.
    exec unshare --net env MDNS_TEST_IN_NETNS=1 sh "$0" "$@"
fi

if [ "$1" = "--loopback-down" ]; then
    shift
else
    ip link set lo up
    ip link set lo multicast on
    ip addr add 192.0.2.1/32 dev lo
    ip -6 addr add 2001:db8::1/128 dev lo nodad
    ip route add 224.0.0.0/4 dev lo
    ip -6 route add ff00::/8 dev lo
fi

exec "$@"

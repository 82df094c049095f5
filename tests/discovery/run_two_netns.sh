#!/bin/bash
# Runs a command in the plug-in's network namespace, with a renderer's
# namespace beside it: two fresh namespaces joined by one veth pair, made for
# this run and deleted when it ends, whatever way it ends.
#
#   run_two_netns.sh command [args...]
#
# Plug-in side: lo and vhp0 with 192.0.2.1/24. Renderer side: lo and vhr0
# with 192.0.2.2/24, and 198.51.100.2/32 off the plug-in's link. Both ends carry the mDNS groups; there is no default
# route and no other interface, so nothing sent can reach a real network.
# The command learns the renderer's namespace from VH_RENDERER_NETNS and runs
# its renderer there with `ip netns exec`. Needs root.
set -euo pipefail

suffix="$$-${RANDOM}"
plugin_ns="vh-plugin-${suffix}"
renderer_ns="vh-renderer-${suffix}"
child=""

remove_namespace() {
    local ns=$1 pid
    # Only what a run of this script started lives in these namespaces.
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
        kill -KILL "$pid" 2>/dev/null || true
    done
    ip netns del "$ns" 2>/dev/null || true
}

# A run that was killed outright (no trap) leaves its namespaces behind; they
# carry the pid of their run, so those of runs that are gone are removed.
for ns in $(ip netns list | awk '{print $1}' | grep -E '^vh-(plugin|renderer)-[0-9]+-[0-9]+$' || true); do
    owner=${ns#vh-*-}
    owner=${owner%-*}
    if ! kill -0 "$owner" 2>/dev/null; then
        remove_namespace "$ns"
    fi
done

cleanup() {
    local ns
    if [ -n "$child" ]; then
        kill -TERM "$child" 2>/dev/null || true
    fi
    for ns in "$plugin_ns" "$renderer_ns"; do
        if ip netns list | awk '{print $1}' | grep -qx -- "$ns"; then
            remove_namespace "$ns"
        fi
    done
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

ip netns add "$plugin_ns"
ip netns add "$renderer_ns"

# The pair is made inside the plug-in's namespace and its far end moved
# straight into the renderer's: no end ever exists in the root namespace.
ip -n "$plugin_ns" link add vhp0 type veth peer name vhr0 netns "$renderer_ns"

setup_side() {
    local ns=$1 dev=$2 address=$3
    # Link-local IPv6 addresses usable at once, so IPv6 takes part too.
    ip netns exec "$ns" sh -c "echo 0 > /proc/sys/net/ipv6/conf/${dev}/accept_dad"
    ip -n "$ns" link set lo up
    ip -n "$ns" addr add "$address/24" dev "$dev"
    ip -n "$ns" link set "$dev" multicast on
    ip -n "$ns" link set "$dev" up
    ip -n "$ns" route add 224.0.0.0/4 dev "$dev"
    # Refuse to run with anything but lo and the pair's end.
    local links
    links=$(ip -n "$ns" -o link show | awk -F': ' '{print $2}' | sed 's/@.*//' | sort | tr '\n' ' ')
    if [ "$links" != "$(printf '%s\n' lo "$dev" | sort | tr '\n' ' ')" ]; then
        echo "run_two_netns: unexpected interfaces in $ns: $links" >&2
        exit 97
    fi
    if ip -n "$ns" route show default | grep -q .; then
        echo "run_two_netns: a default route in $ns" >&2
        exit 97
    fi
}
setup_side "$plugin_ns" vhp0 192.0.2.1
setup_side "$renderer_ns" vhr0 192.0.2.2
# A second address on the renderer's side, outside the plug-in's subnet: a renderer answering from
# it is not on the plug-in's link. The plug-in's side takes such datagrams in (no reverse-path
# filter), so that only the plug-in itself can ignore them.
ip -n "$renderer_ns" addr add 198.51.100.2/32 dev vhr0
ip netns exec "$plugin_ns" sysctl -qw net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.vhp0.rp_filter=0

# In the background and waited for, so a signal to this script runs the trap
# at once; the plug-in's side must not outlive the run either.
status=0
ip netns exec "$plugin_ns" env VH_RENDERER_NETNS="$renderer_ns" "$@" &
child=$!
wait "$child" || status=$?
child=""
exit "$status"

#!/bin/sh
# Runs a command in a private mount namespace whose /etc/hosts maps this
# host's name to 192.0.2.1, so a test can move the host to another address
# by rewriting that file (named in VH_PRIVATE_HOSTS). The real /etc/hosts is
# never touched.
#
#   with_private_hosts.sh command [args...]
set -e

if [ "$VH_PRIVATE_HOSTS_NS" != 1 ]; then
    exec unshare --mount --propagation private env VH_PRIVATE_HOSTS_NS=1 sh "$0" "$@"
fi

hosts=$(mktemp /tmp/vh-hosts.XXXXXX)
trap 'umount /etc/hosts 2>/dev/null; rm -f "$hosts"' EXIT
printf '127.0.0.1 localhost\n192.0.2.1 %s\n' "$(uname -n)" > "$hosts"
mount --bind "$hosts" /etc/hosts
status=0
VH_PRIVATE_HOSTS="$hosts" "$@" || status=$?
exit "$status"

#!/usr/bin/env bash
# Runs a test inside a throwaway network namespace whose veth holds 10.0.1.23/16, so the program
# finds its campus adapter and nothing it sends can leave the machine. The namespace ends with the
# command. Needs root; elsewhere the test is skipped (exit 77).
set -euo pipefail
if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null; then
    echo "netns-run: needs root for a network namespace; skipped" >&2
    exit 77
fi
exec unshare --net sh -c 'ip link set lo up
    ip link add zc0 type veth peer name zc1
    ip addr add 10.0.1.23/16 dev zc0
    ip link set zc0 up
    ip link set zc1 up
    exec "$@"' netns-run "$@"

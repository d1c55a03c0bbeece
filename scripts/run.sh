#!/usr/bin/env bash
# Sets everything up, builds, and starts ZEPA-Monitor. Run as root.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -x sim/run-demo.sh ]; then
    exec sim/run-demo.sh "$@"
fi

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

# Without the simulated campus: a throwaway network namespace whose veth holds a 10.0.x.x address.
home=$(mktemp -d /tmp/zepa-run.XXXXXX)
mkdir -p "$home/config" "$home/data" "$home/runtime"
chmod 700 "$home/runtime"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT

tour=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    tour=1
    export DISPLAY=:$((90 + RANDOM % 100))
    Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    sleep 1
    trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
    pids+=($!)
    sleep 1
fi

env HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/runtime" \
    unshare --net sh -c 'ip link set lo up
        ip link add zepa0 type veth peer name zepa1
        ip addr add 10.0.1.23/16 dev zepa0
        ip link set zepa0 up; ip link set zepa1 up
        exec "$0"' "$PWD/build/zepa-monitor" &
program=$!
pids+=($program)

if [ "$tour" = 1 ]; then
    mkdir -p out/tour
    sleep 3
    env HOME="$home" XDG_RUNTIME_DIR="$home/runtime" build/zepa-monitor /SHOW
    sleep 1
    import -window root out/tour/monitor.png
    echo "Bildschirmfoto: out/tour/monitor.png"
    sqlite3 "$home/config/ZEPA_Monitor/registry.db" \
        "select name, hex(data) from reg_values where name in ('downloaded','uploaded')"
    kill -TERM "$program"
fi
wait "$program" || true

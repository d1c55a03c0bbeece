#!/usr/bin/env bash
# Configures (once) and builds a build directory: scripts/build.sh DIR [CMAKE OPTIONS...]
# ZEPA_TARGET names one target to build instead of all.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=$1
shift
generator=()
# A directory configured earlier keeps its generator; a new one gets Ninja.
[ -f "$dir/CMakeCache.txt" ] || generator=(-G Ninja)
cmake -S "$repo" -B "$dir" "${generator[@]}" "$@" >/dev/null
cmake --build "$dir" --parallel "$(nproc)" ${ZEPA_TARGET:+--target "$ZEPA_TARGET"}

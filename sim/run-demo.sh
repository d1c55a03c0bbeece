#!/usr/bin/env bash
# The run command: builds ZEPA-Monitor, brings the simulated campus up and runs the program in the
# student's computer, on this display or, without one, under Xvfb with a scripted tour whose
# screenshots land in out/tour/. Ctrl-C or the tour's end takes everything down. Run as root.
# Options go to sim/tour.py (--xvfb forces the tour, --out DIR, --name NAME).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ZEPA_BUILD_DIR:-$repo/build}

if [ "$(id -u)" != 0 ]; then
  echo "Als root ausführen (der simulierte Campus braucht Netzwerk-Namensräume): sudo $0" >&2
  exit 1
fi

bash "$repo/scripts/setup.sh"
bash "$repo/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec /usr/bin/python3 "$repo/sim/tour.py" --build "$build" "$@"

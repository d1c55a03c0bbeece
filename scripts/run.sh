#!/usr/bin/env bash
# Sets everything up, builds, brings the simulated campus up and starts ZEPA-Monitor in the student's
# computer: on this display, or under Xvfb with a short tour that leaves screenshots in out/tour/.
# Run as root.
exec "$(dirname "$0")/../sim/run-demo.sh" "$@"

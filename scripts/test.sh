#!/usr/bin/env bash
# Sets everything up, builds, and runs every test; then the unit and component tests once more
# under AddressSanitizer and UndefinedBehaviorSanitizer. Run as root (the end-to-end tests build
# network namespaces).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ZEPA_TARGET=zepa_checks bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DZEPA_SANITIZE=ON

status=0
echo "== Alle Tests (unit, component, e2e) =="
(cd build && ctest --output-on-failure --timeout 900) || status=1
echo "== Unit- und Komponententests mit AddressSanitizer+UBSan =="
(cd build-asan && ctest --output-on-failure --timeout 900 -L 'unit|component') || status=1
exit $status

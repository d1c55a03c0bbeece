#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the simulated campus need.
# Idempotent and non-interactive; run as root on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-translations-l10n libqt6svg6 qt6-qpa-plugins
  libcurl4-openssl-dev libpcap-dev libsqlite3-dev sqlite3 libssl-dev
  libgtest-dev libgmock-dev libcpp-httplib-dev
  iproute2 nftables ethtool iputils-ping iperf3 curl tcpdump openssl libcap2-bin procps psmisc
  xvfb xauth trayer xdotool x11-utils imagemagick faketime dbus dbus-x11 python3-dbusmock
  at-spi2-core python3-pyatspi tesseract-ocr tesseract-ocr-deu fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  if [ "$(id -u)" != 0 ]; then
    echo "Als root ausführen: fehlende Pakete ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

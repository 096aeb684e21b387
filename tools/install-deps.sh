#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing yuming need.
# Runs apt-get only when something is missing; uses sudo when not root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-webengine-dev qt6-translations-l10n
  libboost-dev libssl-dev libsqlite3-dev zlib1g-dev libarchive-dev
  googletest libgtest-dev libbenchmark-dev
  libical-dev # only the calendar test links it: it reads the file back with a real parser
  fonts-arphic-uming xvfb xauth xdotool tzdata dbus-daemon
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

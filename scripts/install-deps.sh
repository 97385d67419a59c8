#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run the station.
# Idempotent: when everything is already there it touches nothing (no apt-get update).
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev
  clang-format clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  xvfb xdotool x11-apps imagemagick fonts-dejavu-core
  libcap2-bin file python3 dpkg-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"

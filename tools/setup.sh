#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need (those missing
# only), then configures and builds into the given folder (default: build).
# Usage: tools/setup.sh [BUILD_DIR] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake ninja-build pkg-config libzip-dev libxml2-dev libexpat1-dev zlib1g-dev
          libfreetype-dev libfontconfig-dev fonts-liberation2 fonts-dejavu-core
          libgtest-dev libgmock-dev mupdf-tools python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  run=()
  [ "$(id -u)" -eq 0 ] || run=(sudo)
  "${run[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${run[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

build=${1:-build}
shift || true
cmake -S . -B "$build" -G Ninja "$@" >/dev/null
ninja -C "$build"

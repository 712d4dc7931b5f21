#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks and builds qbr into build/.
# Sourced by run-example.sh and run-tests.sh; BUILD_DIR and CMAKE_ARGS may be set.
set -euo pipefail

packages=(cmake g++ make libgtest-dev libopenblas-dev libbenchmark-dev ghostscript)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Please run as root, or install these packages first: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release ${CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j "$(nproc)"

#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks and builds qbr into build/.
# Sourced by run-example.sh and run-tests.sh; BUILD_DIR and CMAKE_ARGS may be set.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/ensure-packages.sh"
# python3-tornado serves the workbench (python -m qbr.web); chromium, chromium-driver and
# python3-selenium drive its page in the tests.
ensure_packages cmake g++ make libgtest-dev libopenblas-dev libbenchmark-dev ghostscript \
  nlohmann-json3-dev libcli11-dev libboost-dev ngspice \
  pybind11-dev python3-dev python3-numpy python3-scipy python3-pandas python3-matplotlib \
  python3-tqdm python3-pytest python3-distributed python3-cloudpickle \
  python3-tornado chromium chromium-driver python3-selenium

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release ${CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j "$(nproc)"

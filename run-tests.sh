#!/usr/bin/env bash
# Builds qbr and runs the whole test suite.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
source "$root/scripts/setup.sh"
cd "$BUILD_DIR"
# End-to-end tests spend most of their time in the program's five-second closing
# wait, so they run side by side.
ctest --output-on-failure -j 8

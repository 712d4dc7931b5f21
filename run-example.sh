#!/usr/bin/env bash
# Builds qbr, installs its Python package for Debian's python3 and runs the program on a
# bundled example: ./run-example.sh [examples/<file>]
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
source "$root/scripts/setup.sh"
source "$root/scripts/install-python.sh"
example="${1:-examples/microstrip_sc.txt}"
cd "$(dirname "$root/$example")"
"$BUILD_DIR/qbr" "$(basename "$example")"

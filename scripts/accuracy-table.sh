#!/usr/bin/env bash
# Prints the accuracy tables of the README (markdown): qbr's results on cross-sections
# with a closed-form answer, against that answer, with the run times of this machine.
#
#   scripts/accuracy-table.sh           print the tables
#   scripts/accuracy-table.sh --write   also put them into README.md (between the
#                                       accuracy markers) and render the convergence
#                                       plot to examples/gallery/convergence.png
#
# BUILD_DIR defaults to build/. The tables take about half a minute on two cores.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$root/build}"
write=false
case "${1:-}" in
  "") ;;
  --write) write=true ;;
  *) echo "usage: scripts/accuracy-table.sh [--write]" >&2; exit 2 ;;
esac

if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  # A fresh clone: install what is missing and build everything once.
  BUILD_DIR="$BUILD_DIR" source "$root/scripts/setup.sh" >&2
fi
cmake --build "$BUILD_DIR" --target qbr-accuracy -j "$(nproc)" >&2

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$BUILD_DIR/bench/qbr-accuracy" --plot "$work/convergence.eps" >"$work/tables.md"
cat "$work/tables.md"

if $write; then
  readme="$root/README.md"
  source "$root/scripts/replace-block.sh"
  replace_block "<!-- accuracy:begin -->" "<!-- accuracy:end -->" "$work/tables.md" "$readme"
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -dEPSCrop -r96 -dTextAlphaBits=4 \
    -dGraphicsAlphaBits=4 -sOutputFile="$root/examples/gallery/convergence.png" \
    "$work/convergence.eps"
  echo "accuracy-table: updated README.md and examples/gallery/convergence.png" >&2
fi

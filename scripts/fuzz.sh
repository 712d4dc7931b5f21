#!/usr/bin/env bash
# Builds the fuzz target with clang and libFuzzer (address and undefined-behaviour
# sanitizers on) in build-fuzz/ and runs it on one core.
#   scripts/fuzz.sh [seconds]          fuzz for that long (default 600)
#   scripts/fuzz.sh --replay FILE...   run the given inputs once each
# The working corpus grows in build-fuzz/corpus (seeded from fuzz/corpus/); findings
# are written to build-fuzz/artifacts/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"

source "$(dirname "${BASH_SOURCE[0]}")/ensure-packages.sh"
ensure_packages clang-14 libclang-rt-14-dev cmake make

cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" -j 2

if [ "${1:-}" = "--replay" ]; then
  shift
  files=()
  for f in "$@"; do files+=("$(realpath "$f")"); done
  exec "$build/fuzz_input" -runs=1 "${files[@]}"
fi

seconds="${1:-600}"
mkdir -p "$build/corpus" "$build/artifacts"
cp -n "$root"/fuzz/corpus/* "$build/corpus/"
# The target works in a temporary directory of its own, so every path given to it is
# absolute. One job: the machine's cores are shared.
"$build/fuzz_input" "$build/corpus" \
  -dict="$root/fuzz/qbr.dict" \
  -artifact_prefix="$build/artifacts/" \
  -max_total_time="$seconds" \
  -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 </dev/null

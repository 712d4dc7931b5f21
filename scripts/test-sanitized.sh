#!/usr/bin/env bash
# Builds qbr and its tests with the address and undefined-behaviour sanitizers in
# build-asan/ and runs the test suite there.
#
# Left out (by ctest name, override with QBR_SANITIZE_EXCLUDE): the end-to-end runs of
# the program ("e2e"), which spend their time in the five-second closing wait and test
# nothing the in-process tests do not reach under the sanitizers, and the whole-run
# physics checks ("Physics"), whose large matrix fills take many minutes under ASan.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ASAN_BUILD_DIR:-$root/build-asan}"
exclude="${QBR_SANITIZE_EXCLUDE:-e2e|E2e|Physics|physics}"

# setup.sh installs what is missing and configures and builds; the later
# CMAKE_BUILD_TYPE wins over its Release.
BUILD_DIR="$build" \
  CMAKE_ARGS="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQBR_SANITIZE=ON -DQBR_BUILD_BENCH=OFF" \
  source "$root/scripts/setup.sh"

# Sanitizer settings: see scripts/sanitizer-suppressions.txt for the one suppression.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# Two OpenMP and OpenBLAS threads are enough to exercise the parallel paths.
export OMP_NUM_THREADS="${OMP_NUM_THREADS:-2}"
export OPENBLAS_NUM_THREADS="${OPENBLAS_NUM_THREADS:-2}"

cd "$build"
ctest --output-on-failure -j "$(nproc)" -E "$exclude"

#!/usr/bin/env bash
# Builds build/check: the C++ tests and the fuzz targets in one tree, with
# clang 19 and its linker, AddressSanitizer and UndefinedBehaviorSanitizer,
# the core carrying the fuzzers' coverage counters, warnings as errors. The
# test command and fuzz/run.sh both use it; after an edit it rebuilds only
# what changed.
#
# Usage: scripts/build-checks.sh [TARGET...]    e.g. scripts/build-checks.sh quillbox_tests
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/check
compiler=$(command -v clang++-19)

# CMake cannot change the compiler of a configured tree: one configured with
# another compiler is configured afresh.
grep -qsx "CMAKE_CXX_COMPILER:[A-Z]*=$compiler" "$build/CMakeCache.txt" ||
    rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
# Unoptimised: it builds in about half the time, the tests wait on children
# and clocks rather than compute, and a short fuzzing run needs breadth more
# than speed.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER="$compiler" \
    -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld \
    -DQUILLBOX_BUILD_TESTS=ON -DQUILLBOX_BUILD_FUZZERS=ON -DQUILLBOX_WERROR=ON >/dev/null
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"

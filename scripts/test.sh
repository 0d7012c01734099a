#!/usr/bin/env bash
# Installs everything, then runs the whole test suite: the C++ tests (CTest),
# built with AddressSanitizer and UndefinedBehaviorSanitizer (the memory-locking
# tests, whose mlock the sanitizers intercept, also in a small program built
# without them), the Python tests (pytest) against the optimised build, and a
# short run of every fuzz target. Fails when any fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# Unoptimised: it builds in well under half the time, and the tests wait on
# children and clocks rather than compute.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DQUILLBOX_BUILD_TESTS=ON -DQUILLBOX_WERROR=ON -DQUILLBOX_SANITIZE=ON
cmake --build build/asan -j"$(nproc)"
ctest --test-dir build/asan --output-on-failure -j"$(nproc)"

scripts/build.sh
.venv/bin/python -m pytest

# About 10 seconds per target; `fuzz/run.sh SECONDS` runs them for longer.
fuzz/run.sh 10

# Packages the optimised build above; compiles nothing more.
scripts/check-wheel.sh

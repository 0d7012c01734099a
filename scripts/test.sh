#!/usr/bin/env bash
# Installs everything, then runs the whole test suite: the C++ tests (CTest)
# and the Python tests (pytest). Fails when either fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build/cpp -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILLBOX_BUILD_TESTS=ON -DQUILLBOX_WERROR=ON
cmake --build build/cpp -j"$(nproc)"
ctest --test-dir build/cpp --output-on-failure -j"$(nproc)"

scripts/build.sh
.venv/bin/python -m pytest

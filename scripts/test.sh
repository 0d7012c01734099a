#!/usr/bin/env bash
# Installs everything, then checks everything, and fails when anything fails:
#   lint          clang-format, ruff, and the committed Unicode tables;
#   C++ tests     CTest on build/check (clang, AddressSanitizer and
#                 UndefinedBehaviorSanitizer), and the memory-locking tests,
#                 whose mlock the sanitizers intercept, once more without them;
#   Python tests  pytest on the optimised package, spread over the cores;
#   fuzzing       about 10 seconds of each fuzz target, built in build/check;
#   wheel         the optimised build packaged and installed with pip alone.
# At its end, pass or fail, it prints how long each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=()
report_stages() {
    local status=$?
    ((${#stages[@]})) && printf '%s\n' "--- stages (seconds)" "${stages[@]}"
    return $status
}
trap report_stages EXIT

microseconds() { echo "${EPOCHREALTIME/./}"; }

# Runs a stage and records its wall time, or that it failed.
stage() {
    local name=$1
    shift
    local start status=0
    start=$(microseconds)
    echo "--- $name"
    "$@" || status=$?
    local tenths=$((($(microseconds) - start) / 100000))
    stages+=("$(printf '%5d.%d  %s' $((tenths / 10)) $((tenths % 10)) "$name")$( ((status)) && echo ': FAILED')")
    ((status == 0)) || exit $status
}

cores=$(nproc)
stage "system and Python packages" scripts/install-deps.sh test
stage "lint" scripts/lint.sh
stage "checked build" scripts/build-checks.sh
stage "C++ tests" ctest --test-dir build/check --output-on-failure -j"$cores"
stage "package build" scripts/build.sh
stage "Python tests" .venv/bin/python -m pytest -q -n "$cores"
stage "fuzzing" fuzz/run.sh 10
# Packages the optimised build above; compiles nothing more.
stage "wheel" scripts/check-wheel.sh

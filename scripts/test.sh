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

microseconds() { echo "${EPOCHREALTIME/./}"; }
# "  12.3  NAME": the seconds since a start, and what took them.
timed_line() { printf '%6d.%d  %s' $((($(microseconds) - $1) / 1000000)) $((($(microseconds) - $1) / 100000 % 10)) "$2"; }

started=$(microseconds)
stages=()
report_stages() {
    local status=$?
    printf '%s\n' "--- stages (seconds)" "${stages[@]}" "$(timed_line "$started" "in all")"
    return $status
}
trap report_stages EXIT

# Runs a stage and records its wall time, or that it failed.
stage() {
    local name=$1 start status=0
    shift
    start=$(microseconds)
    echo "--- $name"
    "$@" || status=$?
    ((status == 0)) || name+=": FAILED"
    stages+=("$(timed_line "$start" "$name")")
    return $status
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

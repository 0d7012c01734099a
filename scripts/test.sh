#!/usr/bin/env bash
# Installs everything, then checks everything, and fails when anything fails:
#   lint          clang-format, ruff, and the committed Unicode tables;
#   C++ tests     CTest on build/check (clang, AddressSanitizer and
#                 UndefinedBehaviorSanitizer), and the memory-locking tests,
#                 whose mlock the sanitizers intercept, once more without them;
#   Python tests  pytest on the optimised package, spread over the cores;
#   fuzzing       about 10 seconds of each fuzz target, built in build/check;
#   wheel         the optimised build packaged and installed with pip alone.
# Stages that mostly wait (the tests) run beside stages that compute (the
# package build, fuzzing), which run at a lower priority; the output of
# stages run side by side is shown when they have all ended. At its end,
# pass or fail, it prints how long each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."

logs=build/stages
rm -rf "$logs"
mkdir -p "$logs"

microseconds() { echo "${EPOCHREALTIME/./}"; }
# "  12.3  NAME": the seconds since a start, and what took them.
timed_line() {
    local tenths=$((($(microseconds) - $1) / 100000))
    printf '%6d.%d  %s\n' $((tenths / 10)) $((tenths % 10)) "$2"
}

started=$(microseconds)
report_stages() {
    local status=$?
    echo "--- stages (seconds)"
    cat "$logs"/*.time 2>/dev/null || true
    timed_line "$started" "in all"
    return $status
}
trap report_stages EXIT

# Runs COMMAND as the stage NAME, numbered NUMBER in the report, and records
# its wall time, or that it failed.
run_stage() {
    local number=$1 name=$2 start status=0
    shift 2
    start=$(microseconds)
    echo "--- $name"
    "$@" || status=$?
    ((status == 0)) || name+=": FAILED"
    timed_line "$start" "$name" >"$logs/$(printf %02d "$number").time"
    return $status
}

stage_count=0
stage() { run_stage $((++stage_count)) "$@"; }

# Runs stages side by side: NAME COMMAND pairs, each COMMAND one word.
side_by_side() {
    local numbers=() pids=() index status=0
    while (($#)); do
        numbers+=($((++stage_count)))
        run_stage "${numbers[-1]}" "$1" "$2" >"$logs/${numbers[-1]}.log" 2>&1 &
        pids+=($!)
        shift 2
    done
    for index in "${!pids[@]}"; do
        wait "${pids[index]}" || status=1
        cat "$logs/${numbers[index]}.log"
    done
    return $status
}

cores=$(nproc)
cpp_tests() { ctest --test-dir build/check --output-on-failure -j"$cores"; }
package_build() { nice scripts/build.sh; }
# The Python tests mostly wait on children and locks: one worker more than
# there are cores keeps the cores busy.
python_tests() { .venv/bin/python -m pytest -q -n $((cores + 1)); }
# Fuzzing runs for a set time; one target more than there are cores at a
# time takes what the Python tests leave, in two rounds instead of three.
fuzzing() { QUILLBOX_FUZZ_JOBS=$((cores + 1)) nice fuzz/run.sh 10; }
# Packages the optimised build; compiles nothing more.
wheel() { nice scripts/check-wheel.sh; }

stage "system and Python packages" scripts/install-deps.sh test
stage "lint" scripts/lint.sh
stage "checked build" scripts/build-checks.sh
side_by_side "C++ tests" cpp_tests "package build" package_build
side_by_side "Python tests" python_tests "fuzzing" fuzzing "wheel" wheel

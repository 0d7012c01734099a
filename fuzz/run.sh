#!/usr/bin/env bash
# Builds the libFuzzer targets in build/check (scripts/build-checks.sh: clang
# 19, with AddressSanitizer and UndefinedBehaviorSanitizer, beside the C++
# tests) and runs each for SECONDS seconds, as many at a time as there are
# cores, or QUILLBOX_FUZZ_JOBS. Every target runs when none is named.
#
# Inputs that find new paths are kept in build/check/corpus/TARGET, beside the
# committed seeds in fuzz/corpus/TARGET and the generated vault images, which
# are only read. A crash, a sanitizer report, a broken property, a leak or an
# input that takes longer than 10 seconds fails the run; the input is kept as
# build/check/artifacts/TARGET-*, and `build/check/fuzz/TARGET_fuzzer FILE`
# replays it.
#
# Usage: fuzz/run.sh SECONDS [TARGET...]    e.g. fuzz/run.sh 20 tokenizer
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
build=build/check

scripts/build-checks.sh
"$build/fuzz/write_vault_seeds" "$build/seeds/decode_vault"

targets=("$@")
if ((${#targets[@]} == 0)); then
    for source in fuzz/*_fuzzer.cpp; do
        name=${source#fuzz/}
        targets+=("${name%_fuzzer.cpp}")
    done
fi

ASAN_SYMBOLIZER_PATH=$(command -v llvm-symbolizer-19 || true)
export ASAN_SYMBOLIZER_PATH build seconds

run_target() {
    local name=$1
    local corpus=$build/corpus/$name log=$build/logs/$name.log
    local inputs=("$corpus")
    mkdir -p "$corpus" "$build/artifacts" "$build/logs"
    for seeds in "fuzz/corpus/$name" "$build/seeds/$name"; do
        [ -d "$seeds" ] && inputs+=("$seeds")
    done
    local options=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1
        -artifact_prefix="$build/artifacts/$name-")
    [ -f "fuzz/$name.dict" ] && options+=(-dict="fuzz/$name.dict")

    if "$build/fuzz/${name}_fuzzer" "${options[@]}" "${inputs[@]}" >"$log" 2>&1; then
        local runs coverage
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
        echo "fuzz $name: $runs executions in ${seconds}s, $coverage, $(find "$corpus" -type f | wc -l) corpus inputs, no findings"
    else
        echo "fuzz $name: FAILED (log $log)" >&2
        grep -v -e '^#' -e '^INFO:' "$log" | tail -n 40 >&2
        return 1
    fi
}
export -f run_target

printf '%s\n' "${targets[@]}" |
    xargs -P "${QUILLBOX_FUZZ_JOBS:-$(nproc)}" -I{} bash -c 'run_target "$1"' _ {}

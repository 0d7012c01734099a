#!/usr/bin/env bash
# Checks, without changing anything, that the C++ is as clang-format writes
# it, that the Python passes ruff's checks and formatting, and that the
# committed Unicode tables are what their generator writes. `--fix` makes the
# formatting changes instead.
#
# Usage: scripts/lint.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."
bin=.venv/bin

mapfile -t cpp < <(git ls-files '*.cpp' '*.hpp')
if [[ ${1:-} == --fix ]]; then
    "$bin/clang-format" -i "${cpp[@]}"
    "$bin/ruff" check --fix -q .
    "$bin/ruff" format -q .
    exit
fi
"$bin/clang-format" --dry-run --Werror "${cpp[@]}"
"$bin/ruff" check -q .
"$bin/ruff" format --check -q .
"$bin/python" tools/unicode_tables.py --check

#!/usr/bin/env bash
# Builds quillbox and installs it into .venv. Warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."
.venv/bin/python -m pip install -q --no-build-isolation -Ccmake.define.QUILLBOX_WERROR=ON .

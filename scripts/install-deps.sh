#!/usr/bin/env bash
# Installs, on a Debian machine (as root), what building quillbox needs, or
# with `test` what testing it needs too, then a virtual environment in .venv
# with the matching Python packages. Safe to run again: it installs only what
# is missing, and skips pip while the requirements are those it last
# installed.
#
# Usage: scripts/install-deps.sh [build|test]    (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
profile=${1:-build}

# A C++23 compiler, CMake and Ninja, and the libraries the core links.
apt_packages=(
    g++ cmake ninja-build pkg-config python3-dev python3-venv
    libssl-dev libargon2-dev libsodium-dev
)
requirements=requirements-build.txt
case $profile in
build) ;;
test)
    # GoogleTest; the Unicode Character Database and ICU, which the committed
    # Unicode tables are checked against; clang 19 with its libFuzzer and
    # sanitizer runtimes and its linker (lld links the large sanitized
    # programs several times faster) for the checked build, llvm 19 for the
    # symbolizer; ssh, ssh-keygen and sshd for the tests that hand ssh and git
    # a key file and log in to a server of their own on 127.0.0.1; jq
    # and node, whose URL and JSON encoders the redaction tests run (about
    # 0.4 MB and 11 MB to download); openssl, xxd and hexdump (bsdextrautils),
    # whose Base64 and dumps of a key file the redaction tests run; the
    # README's examples run as written against their own sshd and PostgreSQL
    # server and a CA of their own, with curl, git, gh, psql and make as
    # clients (gh is 7 MB to download, PostgreSQL 24 MB, and 22 MB for
    # libllvm14 where it is missing).
    apt_packages+=(
        libgtest-dev unicode-data libicu-dev
        clang-19 libclang-rt-19-dev lld-19 llvm-19
        openssh-client jq nodejs openssl xxd bsdextrautils
        openssh-server postgresql ca-certificates curl git gh make
    )
    requirements=requirements-dev.txt
    ;;
*)
    echo "usage: scripts/install-deps.sh [build|test]" >&2
    exit 2
    ;;
esac

missing=()
for package in "${apt_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

[ -x .venv/bin/python ] || python3 -m venv .venv
# What pip last installed: the requirements files' digest and the profile. A
# test install covers a build one.
stamp=.venv/.quillbox-requirements
digest=$(cat requirements-*.txt | sha256sum | cut -d' ' -f1)
if ! grep -qsx -e "$digest $profile" -e "$digest test" "$stamp"; then
    # Modules are compiled when first imported, not all at install.
    .venv/bin/python -m pip install -q --no-compile -r "$requirements"
    echo "$digest $profile" >"$stamp"
fi

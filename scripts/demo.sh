#!/usr/bin/env bash
# From a fresh machine to a redacted run: installs and builds quillbox, creates a
# throw-away vault, stores a demo secret and runs a command that prints it raw,
# in Base64 and in hex. What comes back holds labels, never the secret.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh

demo_dir=$(mktemp -d)
trap 'rm -rf "$demo_dir"' EXIT
export QUILLBOX_KEY="a throw-away demo passphrase"
quillbox() { .venv/bin/quillbox "$@" --vault "$demo_dir/vault.bin"; }

echo "--- quillbox init"
quillbox init --m-cost 8192 --t-cost 1
echo "--- quillbox set DEMO_TOKEN   (the value comes from standard input)"
printf 'sk-demo-4f8a2c91b7e3' | quillbox set DEMO_TOKEN
echo "--- quillbox list"
quillbox list
echo "--- quillbox run: the child prints the secret raw, in Base64 and in hex"
script='echo "raw:    $1"; printf "base64: "; printf %s "$1" | base64; printf "hex:    "; printf %s "$1" | od -An -tx1 | tr -d " \n"; echo'
quillbox run "sh -c '$script' sh {{DEMO_TOKEN}}"

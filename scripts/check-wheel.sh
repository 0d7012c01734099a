#!/usr/bin/env bash
# Builds the wheel (scripts/wheel.sh) and checks that it stands on its own:
# installed with pip alone, from no index, into a fresh virtual environment
# outside the source tree, its extension modules load no shared library but
# the wheel's own (its core library and those it carries) and the base
# system's that every manylinux policy allows; the installed command
# creates a vault, stores a value and runs a command that prints it, which
# comes back redacted; and `quillbox mcp`, without the mcp extra, says in one
# line how to add it. Prints the wheel's size.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/wheel.sh
wheel=$(realpath dist/quillbox-*.whl)  # the one that scripts/wheel.sh just made

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
.venv/bin/python -m venv --without-pip "$scratch/venv"
.venv/bin/python -m pip --python "$scratch/venv/bin/python" install -q --no-index "$wheel"
python=("$scratch/venv/bin/python" -I)
site=$(realpath "$("${python[@]}" -c 'import sysconfig; print(sysconfig.get_path("platlib"))')")

# glibc's libraries, the dynamic loader, the C++ runtime and the kernel's vDSO.
base_system='^(linux-vdso\.so\.1|ld-linux[-a-z0-9_]*\.so\.[0-9]+|lib(c|m|pthread|dl|rt)\.so\.[0-9]+|libstdc\+\+\.so\.6|libgcc_s\.so\.1)$'

# Prints each library that the module loads from neither the wheel nor the base system.
libraries_from_elsewhere() {
    local module=$1 name arrow path resolved
    ldd "$module" | while read -r name arrow path _; do
        [[ $arrow == "=>" ]] || path=$name
        resolved=$(realpath -m "$path")
        [[ $resolved == "$site/quillbox/"* || $resolved == "$site/quillbox.libs/"* ]] && continue
        [[ $(basename "$name") =~ $base_system ]] && continue
        echo "  $(basename "$module"): $name => $path"
    done
}
foreign=$(for module in "$site"/quillbox/*.so; do libraries_from_elsewhere "$module"; done)
if [[ -n $foreign ]]; then
    printf 'check-wheel: libraries from neither the wheel nor the base system:\n%s\n' "$foreign" >&2
    exit 1
fi

# From the scratch folder, in isolated mode: the source checkout is out of reach.
cd "$scratch"
location=$("${python[@]}" -c 'import quillbox; print(quillbox.__file__)')
if [[ $location != "$site/"* ]]; then
    echo "check-wheel: quillbox was imported from $location, not from the wheel" >&2
    exit 1
fi
export QUILLBOX_KEY="a throw-away wheel check passphrase"
quillbox() { "${python[@]}" -m quillbox "$@" --vault "$scratch/vault.bin"; }
quillbox init --m-cost 8 --t-cost 1 >/dev/null
printf 'wheel-check-7d1e94b2' | quillbox set WHEEL_CHECK >/dev/null
output=$(quillbox run 'echo {{WHEEL_CHECK}}')
if [[ $output != "[REDACTED_WHEEL_CHECK]" ]]; then
    echo "check-wheel: the installed wheel's run did not come back redacted" >&2
    exit 1
fi

# Installed without its mcp extra, `quillbox mcp` says how to add it, in one line.
if refusal=$(quillbox mcp 2>&1 </dev/null) ||
    [[ $refusal != "quillbox: the MCP server needs quillbox's mcp extra (cannot import "*"): pip install 'quillbox[mcp]'" ]]; then
    printf 'check-wheel: quillbox mcp without its extra did not say how to add it:\n%s\n' "$refusal" >&2
    exit 1
fi

size=$(stat -c %s "$wheel")
awk -v wheel="$(basename "$wheel")" -v size="$size" \
    'BEGIN { printf "check-wheel: %s stands on its own: %d bytes (%.1f MB)\n", wheel, size, size / 1e6 }'

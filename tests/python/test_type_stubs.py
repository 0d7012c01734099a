"""The type stubs describe the module as it really is."""

from __future__ import annotations

import subprocess
import sys
import textwrap

import mypy  # noqa: F401  (a missing checker fails the suite instead of skipping it)


def run_tool(*arguments: str, cwd=None) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-m", *arguments], capture_output=True, text=True, cwd=cwd, timeout=300
    )


def test_stubs_match_the_built_module():
    checked = run_tool("mypy.stubtest", "quillbox._native")
    assert checked.returncode == 0, checked.stdout + checked.stderr


def test_typical_use_type_checks_strictly(tmp_path):
    program = tmp_path / "use_quillbox.py"
    program.write_text(
        textwrap.dedent(
            """
            import sys

            import quillbox

            def token_listing(path: str) -> list[str]:
                with quillbox.Vault("QUILLBOX_KEY", vault_path=path) as vault:
                    vault.set("API_TOKEN", bytearray(b"secret"))
                    result: quillbox.RunResult = vault.run("echo {{API_TOKEN}}", timeout_secs=5)
                    shown = vault.run_with(["sh", "-c", "echo $T"], env={"T": "{{API_TOKEN}}"})
                    vault.run_with("cat", input=b"x", stdout=sys.stdout, stderr=2)
                    vault.rekey("NEW_KEY", m_cost=16)
                    added, skipped, replaced = vault.import_vault("other.bin", overwrite=True)
                    counts = added + skipped + replaced
                    print(result.stdout, shown.stdout, result.exit_code + counts)
                    return vault.list_keys()
            """
        )
    )
    checked = run_tool("mypy", "--strict", str(program), cwd=tmp_path)
    assert checked.returncode == 0, checked.stdout + checked.stderr

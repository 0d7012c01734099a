"""RunResult: read-only attributes and a representation that shortens output."""

from __future__ import annotations

import pytest
from quillbox import RunResult


@pytest.fixture
def printed(vault, tmp_path):
    """The RunResult of a command that prints exactly `text` on stdout."""

    def run(text: str) -> RunResult:
        source = tmp_path / "out.txt"
        source.write_bytes(text.encode())
        return vault.run(f"cat '{source}'")

    return run


@pytest.mark.parametrize(
    "text, shown",
    [
        ("hi\n", '"hi\\n"'),
        ('say "x"\\', '"say \\"x\\"\\\\"'),
        ("tab\tcr\rnul\0", '"tab\\tcr\\rnul\\0"'),
        ("it's caf\u00e9 \u2603", '"it\'s caf\u00e9 \u2603"'),
        ("bell\x07", '"bell\\u{7}"'),
        ("a" * 120, '"' + "a" * 120 + '"'),
        ("a" * 121, '"' + "a" * 120 + '\u2026"'),
        ("a" * 119 + "\u00e9", '"' + "a" * 119 + '\u2026"'),  # never cut inside a character
    ],
)
def test_repr_escapes_and_shortens(printed, text, shown):
    result = printed(text)
    assert result.stdout == text
    assert repr(result) == f'RunResult(exit_code=0, timed_out=False, stdout={shown}, stderr="")'


def test_repr_of_a_timed_out_run(vault):
    result = vault.run("sleep 3", timeout_secs=1)
    assert repr(result) == 'RunResult(exit_code=124, timed_out=True, stdout="", stderr="")'


def test_each_text_is_decoded_once_and_the_same_object_every_time(printed):
    result = printed("caf\u00e9 " * 1000)
    assert result.stdout is result.stdout
    assert result.stderr is result.stderr
    assert result.stdout == "caf\u00e9 " * 1000


@pytest.mark.parametrize(
    "content",
    [
        b"",
        "caf\u00e9 \u00ff".encode(),
        "\u4e00\u4e01 \u20ac".encode(),
        "smile \U0001f600".encode(),
        b"bad \xff\xfe bytes \xc3",
        # Megabytes of each width, taken into the str 2 MiB at a time from the
        # end: characters of every length straddle the pieces' boundaries.
        ("ab\u00e9" * 1_500_000).encode(),
        ("a\u00e9\u20ac" * 700_000).encode(),
        ("a\u00e9\u20ac\U0001f600" * 400_000).encode(),
    ],
    ids=["empty", "latin1", "bmp", "astral", "invalid", "big-latin1", "big-bmp", "big-astral"],
)
def test_output_comes_back_as_python_decodes_it(vault, tmp_path, content):
    source = tmp_path / "out.bin"
    source.write_bytes(content)
    assert vault.run(f"cat '{source}'").stdout == content.decode("utf-8", "replace")


def test_attributes_are_read_only_and_there_is_no_constructor(printed):
    result = printed("x")
    for name in ("stdout", "stderr", "exit_code", "timed_out"):
        with pytest.raises(AttributeError):
            setattr(result, name, "x")
        with pytest.raises(AttributeError):
            delattr(result, name)
    with pytest.raises(TypeError, match="^No constructor defined for RunResult$"):
        RunResult()


def test_class_and_attribute_docs():
    assert RunResult.__doc__.startswith(
        "The result of running a command through the vault pipeline."
    )
    assert RunResult.stdout.__doc__ == "Redacted stdout (UTF-8 lossy decoded)."
    assert RunResult.stderr.__doc__ == "Redacted stderr (UTF-8 lossy decoded)."
    assert RunResult.exit_code.__doc__ == (
        "The child process exit code (0–255), or 124 on timeout/output-limit,\n"
        "or 128+N when killed by signal N."
    )
    assert RunResult.timed_out.__doc__ == (
        "`True` when the child was killed because it exceeded `timeout_secs`."
    )

"""The C++ known-answer vectors are what the independent implementation makes."""

import importlib.util
import sys
from pathlib import Path

GENERATOR = Path(__file__).resolve().parents[1] / "fixtures" / "make_vault_vectors.py"


def load_generator():
    found_module = importlib.util.spec_from_file_location("make_vault_vectors", GENERATOR)
    module = importlib.util.module_from_spec(found_module)
    sys.modules[found_module.name] = module  # dataclasses look their module up there
    found_module.loader.exec_module(module)
    return module


def test_committed_vectors_match_a_fresh_run():
    generator = load_generator()
    assert generator.OUTPUT.read_text() == generator.render(), (
        "tests/cpp/vault/vault_vectors.inc is stale: run tests/fixtures/make_vault_vectors.py"
    )

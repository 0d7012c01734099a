"""A running child holds neither the interpreter lock nor the vault."""

from __future__ import annotations

import threading


def test_vault_methods_and_plain_python_progress_while_a_child_runs(vault):
    child_done = threading.Event()
    progress = {"vault calls": 0, "python steps": 0}
    outcome = {}

    def run_child():
        outcome["result"] = vault.run("sleep 2")
        child_done.set()

    def use_the_vault():
        while not child_done.is_set():
            vault.list_keys()
            vault.set("PROGRESS", str(progress["vault calls"]))
            progress["vault calls"] += 1

    def compute():
        while not child_done.is_set():
            sum(range(1000))
            progress["python steps"] += 1

    threads = [threading.Thread(target=work) for work in (run_child, use_the_vault, compute)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=30)

    assert outcome["result"].exit_code == 0
    assert progress["vault calls"] > 5
    assert progress["python steps"] > 100

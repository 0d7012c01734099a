"""One Vault shared by many threads: no deadlock, no crash, only documented errors."""

from __future__ import annotations

import random
import threading
import time

from quillbox import QuillBoxError

THREADS = 8
SECONDS = 3.0
KEYS = [f"K{i}" for i in range(6)]


def test_eight_threads_share_one_vault_until_it_is_closed(vault):
    vault.set("STABLE", "stable-secret-value")
    closed = threading.Event()
    calls = [0] * THREADS
    unexpected = []

    def work(index: int) -> None:
        rng = random.Random(index)
        while True:
            operation = rng.choice(["set", "delete", "list", "run", "run_placeholder"])
            try:
                if operation == "set":
                    vault.set(rng.choice(KEYS), f"value-{index}-{calls[index]}")
                elif operation == "delete":
                    vault.delete(rng.choice(KEYS))
                elif operation == "list":
                    names = vault.list_keys()
                    assert "STABLE" in names
                elif operation == "run":
                    assert vault.run("true").exit_code == 0
                else:
                    result = vault.run("echo stable-secret-value {{STABLE}}")
                    assert result.stdout == "[REDACTED_STABLE] [REDACTED_STABLE]\n"
                calls[index] += 1
            except QuillBoxError as error:
                if str(error) == "vault is closed" and closed.is_set():
                    return
                unexpected.append(repr(error))
                return
            except BaseException as error:
                unexpected.append(repr(error))
                return

    # Daemon threads, and the vault closed whatever happens, so that a failure
    # here leaves no thread working on or holding up the end of the run.
    threads = [threading.Thread(target=work, args=(i,), daemon=True) for i in range(THREADS)]
    try:
        for thread in threads:
            thread.start()
        time.sleep(SECONDS)
    finally:
        closed.set()
        vault.close()
        for thread in threads:
            if thread.is_alive():
                thread.join(timeout=60)

    assert not any(thread.is_alive() for thread in threads), "a thread is stuck"
    assert unexpected == []
    assert all(count > 0 for count in calls)
    print(f"{THREADS} threads x {SECONDS} s: {sum(calls)} calls before the close")

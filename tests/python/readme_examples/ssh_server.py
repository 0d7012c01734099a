"""Debian's OpenSSH server on port 22, letting users in by their own
authorized_keys only."""

from __future__ import annotations

import subprocess
import time
from pathlib import Path

SSHD = "/usr/sbin/sshd"
PRIVILEGE_SEPARATION_FOLDER = Path("/run/sshd")  # sshd refuses to start without it


class SshServer:
    def __init__(self, host_key: str, folder: Path) -> None:
        folder.mkdir(mode=0o700)
        (folder / "host_key").write_text(host_key)
        (folder / "host_key").chmod(0o600)
        self._config = folder / "sshd_config"
        self._config.write_text(
            f"HostKey {folder / 'host_key'}\n"
            "ListenAddress 127.0.0.1:22\n"
            "UsePAM no\n"
            "PidFile none\n"
            "PasswordAuthentication no\n"
            "KbdInteractiveAuthentication no\n"
            "PrintMotd no\n"
            "PrintLastLog no\n"
        )
        self.log = folder / "sshd.log"
        self._process: subprocess.Popen[bytes] | None = None

    def __enter__(self) -> SshServer:
        PRIVILEGE_SEPARATION_FOLDER.mkdir(mode=0o755, exist_ok=True)
        with self.log.open("wb") as log:
            self._process = subprocess.Popen(
                [SSHD, "-D", "-e", "-f", str(self._config)], stderr=log, stdin=subprocess.DEVNULL
            )
        self._wait_until_listening()
        return self

    def __exit__(self, *_: object) -> None:
        assert self._process is not None
        self._process.terminate()
        self._process.wait(timeout=10)

    def _wait_until_listening(self) -> None:
        deadline = time.monotonic() + 10
        while b"Server listening" not in self.log.read_bytes():
            if self._process is not None and self._process.poll() is not None:
                raise RuntimeError(f"sshd ended: {self.log.read_text()}")
            if time.monotonic() > deadline:
                raise RuntimeError(f"sshd did not start: {self.log.read_text()}")
            time.sleep(0.01)

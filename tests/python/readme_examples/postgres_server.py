"""Debian's PostgreSQL server on port 5432, made fresh: one role that logs in
with a password (SCRAM), and a database of the same name."""

from __future__ import annotations

import glob
import os
import subprocess
from pathlib import Path

POSTGRES_USER = "postgres"  # the system user Debian's package makes


def _server_program(name: str) -> str:
    found = sorted(glob.glob(f"/usr/lib/postgresql/*/bin/{name}"))
    if not found:
        raise RuntimeError(f"PostgreSQL's {name} is missing: scripts/install-deps.sh test adds it")
    return found[-1]


class PostgresServer:
    def __init__(self, role: str, password: str, folder: Path) -> None:
        self._role = role
        self._password = password
        self._folder = folder
        self._data = folder / "data"
        self._as_postgres = [
            "setpriv",
            f"--reuid={POSTGRES_USER}",
            f"--regid={POSTGRES_USER}",
            "--clear-groups",
        ]

    def initialise(self) -> subprocess.Popen[bytes]:
        """Starts making the cluster; wait on what it returns before entering."""
        self._folder.mkdir(mode=0o700)
        password_file = self._folder / "password"
        password_file.write_text(self._password)
        os.chown(self._folder, *self._postgres_ids())
        os.chown(password_file, *self._postgres_ids())
        return subprocess.Popen(
            [
                *self._as_postgres,
                _server_program("initdb"),
                "--no-sync",
                "--auth=scram-sha-256",
                f"--username={self._role}",
                f"--pwfile={password_file}",
                f"--pgdata={self._data}",
            ],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
        )

    def __enter__(self) -> PostgresServer:
        (self._folder / "password").unlink()
        self._pg_ctl(
            "start",
            "--wait",
            "--options=-c listen_addresses=127.0.0.1 -c port=5432 "
            "-c unix_socket_directories= -c fsync=off",
        )
        # psql connects to the role's own database unless told otherwise.
        self._run_sql(f"alter database postgres rename to {self._role}")
        return self

    def __exit__(self, *_: object) -> None:
        self._pg_ctl("stop", "--mode=immediate")

    def _pg_ctl(self, *arguments: str) -> None:
        subprocess.run(
            [
                *self._as_postgres,
                _server_program("pg_ctl"),
                f"--pgdata={self._data}",
                f"--log={self._folder / 'server.log'}",
                *arguments,
            ],
            check=True,
            capture_output=True,
        )

    def _run_sql(self, statement: str) -> None:
        subprocess.run(
            ["psql", "-h", "127.0.0.1", "-U", self._role, "-d", "template1", "-c", statement],
            env={"PGPASSWORD": self._password, "PATH": os.environ["PATH"]},
            check=True,
            capture_output=True,
        )

    @staticmethod
    def _postgres_ids() -> tuple[int, int]:
        import pwd

        entry = pwd.getpwnam(POSTGRES_USER)
        return entry.pw_uid, entry.pw_gid

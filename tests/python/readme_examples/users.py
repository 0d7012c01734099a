"""Users the examples need that the host has not: `me`, whose home the README's
paths name, and `deploy`, whom `deploy@host.example.test` logs in as. They are
added to the namespace's view of the user database only, with ids the host
does not use."""

from __future__ import annotations

from dataclasses import dataclass
from pathlib import Path

from readme_examples.namespace import cover_file

FIRST_FREE_ID = 2000


@dataclass(frozen=True)
class User:
    name: str
    uid: int
    home: Path

    @property
    def gid(self) -> int:
        return self.uid  # each has a group of its own, of the same id

    def setpriv(self) -> list[str]:
        """The command prefix that runs a program as this user, with no capabilities."""
        return [
            "setpriv",
            f"--reuid={self.uid}",
            f"--regid={self.gid}",
            "--clear-groups",
            "--bounding-set=-all",
            "--inh-caps=-all",
        ]


def _ids_in_use(database: str) -> set[int]:
    return {int(line.split(":")[2]) for line in database.splitlines() if line.count(":") >= 3}


def add_users(names: list[str], folder: Path) -> dict[str, User]:
    """Adds `names` to the view of /etc/passwd and /etc/group, keeping the
    covering files in `folder`; each user's home is /home/NAME."""
    passwd = Path("/etc/passwd").read_text()
    group = Path("/etc/group").read_text()
    used = _ids_in_use(passwd) | _ids_in_use(group)
    free = (number for number in range(FIRST_FREE_ID, 1 << 16) if number not in used)
    users = {name: User(name, next(free), Path("/home", name)) for name in names}
    for user in users.values():
        # "*" in the password field: no password login, and not a locked account.
        passwd += f"{user.name}:*:{user.uid}:{user.gid}::{user.home}:/bin/sh\n"
        group += f"{user.name}:x:{user.gid}:\n"
    cover_file(Path("/etc/passwd"), passwd, folder)
    cover_file(Path("/etc/group"), group, folder)
    return users

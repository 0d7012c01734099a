"""The homes the examples start from. `me`'s is what the README takes for
granted: the command in `~/env` (the virtual environment that installed it),
a vault at the default path, a git identity in ~/.gitconfig, an SSH key and the
SSH server's key in ~/.ssh, the folders the MCP entry names, and a project: a
git repository with a change staged, a `deploy.sh` (which checks the database
at $DATABASE_URL, where it is given one, and starts a release with
$DEPLOY_TOKEN), a Makefile whose `deploy` target needs git, and the files the
README shows. `deploy`'s home holds
the key it lets in and a bare repository, `app.git`."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
from collections.abc import Mapping
from pathlib import Path

from readme_examples.users import User

TINY_COSTS = ["--m-cost", "8", "--t-cost", "1"]  # Argon2's: the vault opens in no time
DEPLOY_SCRIPT = """\
#!/bin/sh
set -e
# Checks the database first, where it is given one.
[ -z "$DATABASE_URL" ] || psql "$DATABASE_URL" --quiet --tuples-only -c 'select 1' >/dev/null
# Starts a release: the deploy service takes the token as a bearer token.
curl -sS --fail -X POST -H "Authorization: Bearer $DEPLOY_TOKEN" \\
    https://deploy.example.test/releases
"""
MAKEFILE = """\
deploy:
\t@echo "deploying $$(git rev-parse --short HEAD)"
"""
# The repositories are made by root, whose git reads none of the host's configuration.
NO_HOST_CONFIGURATION = {"GIT_CONFIG_GLOBAL": "/dev/null", "GIT_CONFIG_NOSYSTEM": "1"}


def _git(*arguments: str, cwd: Path) -> None:
    subprocess.run(
        ["git", "-c", "user.name=Me", "-c", "user.email=me@example.test", *arguments],
        cwd=cwd,
        env={**NO_HOST_CONFIGURATION, "PATH": os.environ["PATH"]},
        check=True,
        capture_output=True,
    )


def _own(tree: Path, user: User) -> None:
    for folder, folders, files in os.walk(tree):
        for name in [folder, *(os.path.join(folder, each) for each in folders + files)]:
            os.chown(name, user.uid, user.gid, follow_symlinks=False)


def _write(path: Path, text: str, mode: int = 0o644) -> None:
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)
    path.chmod(mode)


def place_vault(home: Path, owner: User, passphrase: str, entries: Mapping[str, str]) -> None:
    """Makes a vault holding `entries` at the default path in `home`."""
    import quillbox

    # Made where root owns every folder on the way (init refuses others'), then moved.
    made = Path(tempfile.mkdtemp()) / "vault.bin"
    environment = {**os.environ, "QUILLBOX_KEY": passphrase}
    subprocess.run(
        [sys.executable, "-m", "quillbox", "init", "--vault", str(made), *TINY_COSTS],
        env=environment,
        check=True,
        capture_output=True,
    )
    os.environ["QUILLBOX_WORLD_KEY"] = passphrase
    try:
        with quillbox.Vault("QUILLBOX_WORLD_KEY", str(made)) as vault:
            for name, value in entries.items():
                vault.set(name, value)
    finally:
        del os.environ["QUILLBOX_WORLD_KEY"]
    folder = home / ".local" / "share" / "quillbox"
    folder.mkdir(mode=0o700, parents=True)
    shutil.move(made, folder / "vault.bin")
    shutil.rmtree(made.parent)
    _own(home / ".local", owner)


def make_my_home(
    me: User, ssh_key: str, ssh_host_line: str, project_files: Mapping[str, str]
) -> None:
    home = me.home
    home.mkdir(mode=0o700)
    (home / "env").symlink_to(sys.prefix)
    _write(home / ".gitconfig", "[user]\n\tname = Me\n\temail = me@example.test\n")
    _write(home / ".ssh" / "id_ed25519", ssh_key, mode=0o600)
    _write(home / ".ssh" / "known_hosts", ssh_host_line)
    (home / ".ssh").chmod(0o700)
    _write(home / ".cargo" / "config.toml", "[net]\noffline = true\n")
    (home / "shared-notes").mkdir()
    project = home / "project"
    project.mkdir()
    _write(project / "README.md", "# project\n")
    _write(project / "deploy.sh", DEPLOY_SCRIPT, mode=0o755)
    _write(project / "Makefile", MAKEFILE)
    for name, text in project_files.items():
        _write(project / name, text)
    _git("init", "--quiet", "--template=", cwd=project)
    _git("add", ".", cwd=project)
    _git("commit", "--quiet", "-m", "start", cwd=project)
    _write(project / "NOTES.md", "done, really\n")
    _git("add", "NOTES.md", cwd=project)
    _own(home, me)


def make_deploy_home(deploy: User, authorized_key: str, scratch: Path) -> None:
    home = deploy.home
    home.mkdir(mode=0o755)
    _write(home / ".ssh" / "authorized_keys", authorized_key, mode=0o600)
    (home / ".ssh").chmod(0o700)
    work = scratch / "app"
    work.mkdir()
    _write(work / "README.md", "# app\n")
    _git("init", "--quiet", "--template=", cwd=work)
    _git("add", ".", cwd=work)
    _git("commit", "--quiet", "-m", "start", cwd=work)
    _git("clone", "--quiet", "--bare", "--template=", str(work), str(home / "app.git"), cwd=scratch)
    shutil.rmtree(work)
    _own(home, deploy)


def copy_home(source: Path, destination: Path) -> None:
    """Puts a copy of `source` at `destination`, in place of what was there,
    owners and modes included."""
    if destination.exists():
        shutil.rmtree(destination)
    subprocess.run(["cp", "-a", str(source), str(destination)], check=True)

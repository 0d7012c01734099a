#!/usr/bin/env python3
"""The installed `quillbox` command, as `python -m quillbox` runs it.

The package installs this file itself rather than have the installer write a
wrapper for an entry point: the installer's wrapper imports `re` before
quillbox, which costs more than the rest of a `quillbox --version` together.
"""

import sys

from quillbox.cli import main

sys.exit(main())

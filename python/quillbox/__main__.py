"""`python -m quillbox` is the `quillbox` command."""

import sys

from quillbox.cli import main

sys.exit(main())

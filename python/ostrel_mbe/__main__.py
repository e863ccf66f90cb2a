# SPDX-License-Identifier: GPL-2.0-or-later
"""python -m ostrel_mbe: the command line of ostrel_mbe.cli.

`main`, `bundled_speech` and `RATES` stay importable from here for the code that used them."""

import sys

from .cli import RATES, bundled_speech, main  # noqa: F401

if __name__ == "__main__":
    sys.exit(main())

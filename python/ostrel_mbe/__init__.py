# SPDX-License-Identifier: GPL-2.0-or-later
"""P25 IMBE full-rate and AMBE+2 half-rate speech codec (TIA-102.BABA).

The codec classes come from the extension module `_ostrel_mbe` and are re-exported here;
`encode`, `decode` and `transcode` take a whole recording or frame file in one call;
`ostrel_mbe.wav` reads, resamples and writes WAV files and cuts audio into frames,
`ostrel_mbe.channel` damages wire frames the way a radio channel does (bit errors, bursts,
Gaussian noise with soft values), and `python -m ostrel_mbe` is a small command line around them.
"""

import _ostrel_mbe as _native
from _ostrel_mbe import *  # noqa: F401,F403  Rate, Vocoder, FormantWeighting, ...
from _ostrel_mbe import __version__  # noqa: F401

from . import wav  # noqa: F401
from .whole_buffer import decode, decode_soft, encode, transcode  # noqa: F401

__all__ = [name for name in vars(_native) if not name.startswith("_")] + ["wav", "encode", "decode", "decode_soft", "transcode"]

"""P25 IMBE full-rate and AMBE+2 half-rate speech codec."""
from _ostrel_mbe import __version__  # noqa: F401

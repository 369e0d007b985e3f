"""quendrix: compiled, immutable schema validators for Python values and JSON documents."""

from quendrix import _quendrix
from quendrix._quendrix import *  # noqa: F401,F403

__all__ = list(_quendrix.__all__)

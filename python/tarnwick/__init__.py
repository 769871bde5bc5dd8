"""tarnwick: the native engine of a memory graph for agents."""

from tarnwick import _core
from tarnwick._core import *  # noqa: F401,F403  (the names of _core.__all__)

# The classes and exception types name "tarnwick" as their module, so pickle finds them here.
__all__ = ["_core", *_core.__all__]

"""tarnwick: the native engine of a memory graph for agents."""

from tarnwick import _core

__all__ = ["_core"]

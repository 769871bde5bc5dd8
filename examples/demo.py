"""A short tour of tarnwick's native engine."""

import tarnwick._core as core

print("loaded", core.__name__)

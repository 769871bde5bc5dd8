import os
import sys

# The example storage class is part of what the tests exercise.
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "examples"))

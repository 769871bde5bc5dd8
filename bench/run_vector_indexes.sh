#!/usr/bin/env bash
# Runs bench/vector_indexes.py in its own virtual environment, which gets the comparison
# libraries (hnswlib, faiss-cpu) and tarnwick built from this checkout. Arguments are passed on.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
VENV=build/bench-venv
if [ ! -x "$VENV/bin/python" ]; then
  "$PYTHON" -m venv --system-site-packages "$VENV"
fi
"$VENV/bin/python" -m pip install -q --disable-pip-version-check hnswlib faiss-cpu
"$VENV/bin/python" -m pip install -q --disable-pip-version-check --no-build-isolation -C build-dir=build/bench-module .
cd build  # so that `tarnwick` is imported from the environment, not the source tree
exec "../$VENV/bin/python" ../bench/vector_indexes.py "$@"

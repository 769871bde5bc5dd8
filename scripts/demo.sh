#!/usr/bin/env bash
# Builds tarnwick into the project's own virtual environment `.venv` and runs two short
# demonstrations. The build directory is kept, so a second run rebuilds only what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh
PYTHON=.venv/bin/python bash scripts/install-deps.sh
.venv/bin/python -m pip install -q --disable-pip-version-check --no-build-isolation -C build-dir=build/venv .
.venv/bin/python examples/demo.py
echo
.venv/bin/python examples/store_demo.py

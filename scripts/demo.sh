#!/usr/bin/env bash
# Builds and installs tarnwick, then runs a short demonstration of what it does.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
export PIP_BREAK_SYSTEM_PACKAGES=1 PIP_ROOT_USER_ACTION=ignore
bash scripts/install-deps.sh
"$PYTHON" -m pip install -q --disable-pip-version-check --no-build-isolation .
"$PYTHON" examples/demo.py

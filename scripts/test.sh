#!/usr/bin/env bash
# Builds everything once per configuration and runs every test: the C++ tests in a release
# build (which also builds and installs the Python module), the C++ tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the Python tests.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
export PIP_BREAK_SYSTEM_PACKAGES=1 PIP_ROOT_USER_ACTION=ignore
JOBS=$(nproc)
bash scripts/install-deps.sh

"$PYTHON" -m pip install -q --disable-pip-version-check --no-build-isolation \
  -C build-dir=build/release -C cmake.define.TARNWICK_BUILD_TESTS=ON .
ctest --test-dir build/release --output-on-failure -j "$JOBS"

cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DTARNWICK_SANITIZE=ON
cmake --build build/sanitize -j "$JOBS"
ctest --test-dir build/sanitize --output-on-failure -j "$JOBS"

"$PYTHON" -m pytest -q python/tests

#!/usr/bin/env bash
# Builds everything once per configuration and runs every test: the C++ tests in a release
# build (which also builds and installs the Python module), the C++ tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer (the module's native bridge tests included),
# then the Python tests against the release module and again against the sanitized one.
set -euo pipefail
cd "$(dirname "$0")/.."
# Everything Python goes into the project's own virtual environment `.venv`.
source scripts/venv.sh
PYTHON=.venv/bin/python
export PATH="$PWD/.venv/bin:$PATH"
export PIP_BREAK_SYSTEM_PACKAGES=1 PIP_ROOT_USER_ACTION=ignore
JOBS=$(nproc)
PYTHON=$PYTHON bash scripts/install-deps.sh

"$PYTHON" -m pip install -q --disable-pip-version-check --no-build-isolation \
  -C build-dir=build/release -C cmake.define.TARNWICK_BUILD_TESTS=ON .
ctest --test-dir build/release --output-on-failure -j "$JOBS"

cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DTARNWICK_SANITIZE=ON -DTARNWICK_BUILD_PYTHON=ON
cmake --build build/sanitize -j "$JOBS"
ctest --test-dir build/sanitize --output-on-failure -j "$JOBS"

"$PYTHON" -m pytest -q python/tests

# The sanitized module beside the package's own files, found first on the path. The interpreter
# itself is not instrumented, so the sanitizer runtime is preloaded (it must come first), and
# CPython's memory kept to the end of the process is not reported as leaks.
sanitized=build/sanitize/package
module=$(ls build/sanitize/python/_core*.so)
rm -rf "$sanitized" && mkdir -p "$sanitized/tarnwick"
cp python/tarnwick/*.py python/tarnwick/*.pyi python/tarnwick/py.typed "$module" "$sanitized/tarnwick/"
asan_runtime=$(ldd "$module" | awk '/libasan/ { print $3 }')
if [ -z "$asan_runtime" ]; then echo "no AddressSanitizer runtime linked into $module" >&2; exit 1; fi
export LD_PRELOAD=$asan_runtime ASAN_OPTIONS=detect_leaks=0 PYTHONPATH=$PWD/$sanitized
"$PYTHON" -c "import tarnwick._core as m, sys; sys.exit(not m.__file__.startswith('$PWD/$sanitized/'))"
"$PYTHON" -m pytest -q python/tests

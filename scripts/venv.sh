# Sourced by demo.sh and test.sh: creates the project's own virtual environment `.venv` once.
# A distribution's Python ships the venv module (and ensurepip) in a package of its own.
if [ ! -x .venv/bin/python ]; then
  base_python=${PYTHON:-python3}
  if ! "$base_python" -m venv .venv >/dev/null 2>&1; then
    rm -rf .venv
    venv_package=$("$base_python" -c 'import sys; print("python%d.%d-venv" % sys.version_info[:2])')
    as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$venv_package" >/dev/null
    "$base_python" -m venv .venv
  fi
fi

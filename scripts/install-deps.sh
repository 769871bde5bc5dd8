#!/usr/bin/env bash
# Installs what a fresh Debian 12 or 13 machine lacks to build and test tarnwick, skipping
# whatever is already there.
set -euo pipefail
PYTHON=${PYTHON:-python3}
# A distribution's own Python may refuse pip installs unless told this is intended.
export PIP_BREAK_SYSTEM_PACKAGES=1 PIP_ROOT_USER_ACTION=ignore
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

have_boost_json() {
  [ -f /usr/include/boost/json.hpp ] &&
    [ "$(sed -n 's/^#define BOOST_VERSION \([0-9]*\).*/\1/p' /usr/include/boost/version.hpp)" -ge 108100 ]
}

# A distribution's own Python ships its C headers (and the library to embed it) separately.
have_python_headers() {
  "$PYTHON" -c 'import os, sysconfig
raise SystemExit(not os.path.isfile(os.path.join(sysconfig.get_paths()["include"], "Python.h")))'
}
python_dev_package() { "$PYTHON" -c 'import sys; print("python%d.%d-dev" % sys.version_info[:2])'; }

packages=()
command -v g++ >/dev/null || packages+=(g++)
have_python_headers || packages+=("$(python_dev_package)")
[ -f /usr/include/gtest/gtest.h ] || packages+=(libgtest-dev)
have_boost_json || packages+=(boost)
if [ ${#packages[@]} -gt 0 ]; then
  as_root apt-get update -qq
  for i in "${!packages[@]}"; do
    if [ "${packages[$i]}" = boost ]; then
      # Debian 12's default Boost (1.74) has no Boost.JSON; its 1.81 package replaces it.
      if apt-cache show libboost1.81-dev >/dev/null 2>&1; then packages[$i]=libboost1.81-dev; else packages[$i]=libboost-dev; fi
    fi
  done
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${packages[@]}" >/dev/null
fi

"$PYTHON" -m pip install -q --disable-pip-version-check \
  'scikit-build-core>=0.10' 'numpy>=2.1' 'cmake>=3.25' ninja pytest mypy

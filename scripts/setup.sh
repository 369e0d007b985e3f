#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine (as root) and runs a short
# demonstration: Debian packages, CPython 3.13, a virtual environment in
# .venv with the build and test dependencies, and the project itself.
set -euo pipefail
cd "$(dirname "$0")/.."

need_pkgs=()
for p in libre2-dev libabsl-dev libgmp-dev pkg-config g++ clang; do
  dpkg -s "$p" >/dev/null 2>&1 || need_pkgs+=("$p")
done
if [ ${#need_pkgs[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing Debian packages (${need_pkgs[*]}); run this as root" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_pkgs[@]}" >/dev/null
fi

find_python() {
  local c
  for c in "${QX_PYTHON:-}" /root/.pyenv/versions/3.13*/bin/python3.13 \
           "$(command -v python3.13 2>/dev/null || true)" /usr/bin/python3.13; do
    [ -n "$c" ] && [ -x "$c" ] || continue
    # pyenv shims answer even when 3.13 is not installed: ask the interpreter itself.
    if "$c" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))' 2>/dev/null; then
      echo "$c"
      return 0
    fi
  done
  return 1
}
if ! PY=$(find_python); then
  echo "CPython 3.13 was not found (looked in pyenv's versions and for python3.13 on PATH)." >&2
  echo "Install it (apt-get install python3.13-dev python3.13-venv, or pyenv install 3.13) and retry." >&2
  exit 1
fi

if [ ! -x .venv/bin/python ] || ! .venv/bin/python -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))'; then
  rm -rf .venv
  "$PY" -m venv .venv
fi
.venv/bin/python -m pip install -q --disable-pip-version-check -r requirements-dev.txt
# QX_WERROR=1 (the test script sets it) makes compiler warnings errors.
werror=()
[ "${QX_WERROR:-0}" = 1 ] && werror=(--config-settings=cmake.define.QUENDRIX_WERROR=ON)
.venv/bin/python -m pip install -q --disable-pip-version-check "${werror[@]}" .
.venv/bin/python scripts/demo.py

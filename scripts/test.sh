#!/usr/bin/env bash
# Runs the whole test suite, setting everything up first when needed.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x .venv/bin/python ] || ! .venv/bin/python -c 'import quendrix._quendrix' 2>/dev/null \
   || [ -n "$(git status --porcelain -- src python CMakeLists.txt pyproject.toml tools 2>/dev/null)" ] \
   || [ "${CI:-}" = true ]; then
  bash scripts/setup.sh >/dev/null
fi
# Tests import the installed package, never the source tree.
cd tests
exec ../.venv/bin/python -m pytest -q -p no:cacheprovider "$@"

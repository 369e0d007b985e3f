#!/usr/bin/env bash
# Runs the whole test suite, setting everything up first when needed.
set -euo pipefail
cd "$(dirname "$0")/.."
# Reinstall whenever the sources differ from what was installed last.
paths=(src python tools CMakeLists.txt pyproject.toml requirements-dev.txt)
stamp=$( { git ls-files -s -- "${paths[@]}"; git diff HEAD -- "${paths[@]}"; } 2>/dev/null | sha1sum)
if [ ! -x .venv/bin/python ] || [ "$(cat .venv/.quendrix-stamp 2>/dev/null)" != "$stamp" ] \
   || ! .venv/bin/python -c 'import quendrix._quendrix' 2>/dev/null; then
  bash scripts/setup.sh >/dev/null
  echo "$stamp" > .venv/.quendrix-stamp
fi
# The decision core under an oracle that needs no interpreter (C++, no Python).
cpp=build/cpp-tests
if [ ! -f "$cpp/CMakeCache.txt" ]; then
  .venv/bin/cmake -S . -B "$cpp" -G Ninja -DCMAKE_MAKE_PROGRAM="$PWD/.venv/bin/ninja" \
    -DPython_EXECUTABLE="$PWD/.venv/bin/python" -DQUENDRIX_DECISION_TESTS=ON >/dev/null
fi
.venv/bin/cmake --build "$cpp" --target decision_core_test >/dev/null
"$cpp/tests/cpp/decision_core_test"
# Tests import the installed package (the source tree holds it under python/).
exec .venv/bin/python -m pytest -q -p no:cacheprovider "$@"

#!/usr/bin/env bash
# Runs the whole test suite, setting everything up first when needed.
set -euo pipefail
cd "$(dirname "$0")/.."
# Reinstall whenever the sources differ from what was installed last.
paths=(src python tools CMakeLists.txt pyproject.toml requirements-dev.txt)
stamp=$( { git ls-files -s -- "${paths[@]}"; git diff HEAD -- "${paths[@]}"; } 2>/dev/null | sha1sum)
if [ ! -x .venv/bin/python ] || [ "$(cat .venv/.quendrix-stamp 2>/dev/null)" != "$stamp" ] \
   || ! .venv/bin/python -c 'import quendrix._quendrix' 2>/dev/null; then
  QX_WERROR=1 bash scripts/setup.sh >/dev/null
  echo "$stamp" > .venv/.quendrix-stamp
fi
# Runs a command quietly, showing its output only when it fails.
quiet() {
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}
# The decision core under an oracle that needs no interpreter (C++, no Python),
# built by GCC and by clang; warnings are errors in these builds.
decision_test() {  # decision_test BUILD_DIR C++_COMPILER
  if [ ! -f "$1/CMakeCache.txt" ]; then
    .venv/bin/cmake -S . -B "$1" -G Ninja -DCMAKE_MAKE_PROGRAM="$PWD/.venv/bin/ninja" \
      -DCMAKE_CXX_COMPILER="$2" -DPython_EXECUTABLE="$PWD/.venv/bin/python" \
      -DQUENDRIX_DECISION_TESTS=ON -DQUENDRIX_WERROR=ON >/dev/null
  fi
  quiet .venv/bin/cmake --build "$1" --target decision_core_test
  "$1/tests/cpp/decision_core_test"
}
decision_test build/cpp-tests g++
decision_test build/cpp-tests-clang clang++
# The module built by clang too (the shipped build's compiler), under the same
# suite. This build takes its shortcuts from the first step: it opens each
# check's walk memo at its first walk (the other build opens it only once
# walking again is likely), and spells out every case-folded letter that an
# engine could merge wrongly (the other build only on an engine that does).
# QX_SHORTCUTS_FORCED tells the tests that measure what a shortcut costs
# against the plain walk that here it is on where it would not be.
clang_build=build/clang-shortcuts
PATH="$PWD/.venv/bin:$PATH" CC=clang CXX=clang++ QX_WERROR=1 QX_EAGER_MEMO=1 \
  QX_KEEP_FOLDED_ARMS_APART=1 QX_PYTHON="$PWD/.venv/bin/python" \
  quiet bash scripts/dev-build.sh "$clang_build"
QX_SHORTCUTS_FORCED=1 PYTHONPATH="$clang_build" .venv/bin/python -m pytest -q -p no:cacheprovider "$@"
# Tests import the installed package (the source tree holds it under python/).
exec .venv/bin/python -m pytest -q -p no:cacheprovider "$@"

#!/usr/bin/env bash
# Incremental developer build into a directory of its own (default build/dev):
# configures CMake once, rebuilds, and lays out an importable `quendrix`
# package there. Use: PYTHONPATH=build/dev python -c 'import quendrix'
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/build/dev}
py=${QX_PYTHON:-$here/.venv/bin/python}
extra=()
[ "${QX_SANITIZE:-0}" = 1 ] && extra+=(-DQUENDRIX_SANITIZE=ON)
[ "${QX_WERROR:-0}" = 1 ] && extra+=(-DQUENDRIX_WERROR=ON)
[ "${QX_EAGER_MEMO:-0}" = 1 ] && extra+=(-DQUENDRIX_EAGER_MEMO=ON)
[ "${QX_KEEP_FOLDED_ARMS_APART:-0}" = 1 ] && extra+=(-DQUENDRIX_KEEP_FOLDED_ARMS_APART=ON)
if [ ! -f "$out/cmake/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$out/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DPython_EXECUTABLE="$py" "${extra[@]}" >/dev/null
fi
cmake --build "$out/cmake" -j "${QX_JOBS:-$(nproc)}"
mkdir -p "$out/quendrix"
cp "$here"/python/quendrix/*.py "$out/quendrix/"
cp "$out"/cmake/_quendrix*.so "$out/quendrix/"

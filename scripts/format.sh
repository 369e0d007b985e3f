#!/usr/bin/env bash
# Formats every tracked C++ file in place with the root .clang-format (clang-format 14).
# With --check it changes nothing and fails when a file is not formatted.
set -euo pipefail
cd "$(dirname "$0")/.."
fmt=${CLANG_FORMAT:-clang-format}
mode=(-i)
[ "${1:-}" = --check ] && mode=(--dry-run -Werror)
git ls-files -z -- '*.h' '*.cc' | xargs -0 "$fmt" "${mode[@]}"

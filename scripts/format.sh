#!/usr/bin/env bash
# Formats every C++ source with the project's clang-format style; --check only reports.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  clang-format --dry-run --Werror "${files[@]}"
  echo "format: ${#files[@]} files in style"
else
  clang-format -i "${files[@]}"
fi

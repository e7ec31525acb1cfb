#!/bin/bash
# Formats the C and C++ sources with the tree's .clang-format; --check only reports.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.c' '*.h' '*.cpp' | sort -u)
[[ ${#files[@]} -eq 0 ]] && exit 0
if [[ "${1:-}" == "--check" ]]; then
  clang-format --dry-run --Werror "${files[@]}"
else
  clang-format -i "${files[@]}"
fi

#!/bin/bash
# Formats the C and C++ sources with the tree's .clang-format; --check only reports.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -co --exclude-standard -- '*.c' '*.h' '*.cpp' | sort -u)
else
  mapfile -t files < <(find common platform req rep view suite pcaps tests bench \
    -name '*.c' -o -name '*.h' -o -name '*.cpp' 2>/dev/null | sort)
fi
[[ ${#files[@]} -eq 0 ]] && exit 0
if [[ "${1:-}" == "--check" ]]; then
  clang-format --dry-run --Werror "${files[@]}"
else
  clang-format -i "${files[@]}"
fi

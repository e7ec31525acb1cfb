#!/bin/bash
# Installs what is missing, checks the format, builds with warnings as errors and runs every
# test; then builds again with AddressSanitizer and UndefinedBehaviorSanitizer and runs the
# suite once more under them.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/install-deps.sh"
"$here/scripts/format.sh" --check

build="${TAV_BUILD_DIR:-$here/build}"
echo "== build and test: $build"
# -O1 with line tables compiles the test suite in a third of the time -O2 -g takes, and the
# tests prove behaviour, not speed (that is bench/'s).
TAV_BUILD_DIR="$build" "$here/scripts/build.sh" -DTAV_SANITIZE=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
(cd "$build" && ctest --output-on-failure -j"$(nproc)")

asan="${TAV_ASAN_BUILD_DIR:-$here/build-asan}"
echo "== build and test under the sanitizers: $asan"
TAV_BUILD_DIR="$asan" "$here/scripts/build.sh" -DTAV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O0 -g1" -DCMAKE_C_FLAGS_DEBUG="-O0 -g1"
# The million-entry checker test is left to the plain build: under the sanitizers it takes
# minutes and proves nothing more. So is the package test: it proves what the package holds,
# and a package of sanitized programs is not one anybody installs. The progress line's test
# throttles the programs twentyfold to see the line at all, which under the sanitizers takes
# three minutes to prove what the plain run proves about drawing.
(cd "$asan" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$(nproc)" -LE 'heavy|package' \
  -E '^progress_line_on_a_terminal$')

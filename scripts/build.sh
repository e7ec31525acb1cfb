#!/bin/bash
# Configures and builds into build/ (or $TAV_BUILD_DIR); extra arguments go to cmake.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TAV_BUILD_DIR:-$here/build}"
cmake -S "$here" -B "$build" -DTAV_WERROR=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"

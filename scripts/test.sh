#!/bin/bash
# Installs what is missing, builds with warnings as errors and runs every test.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/install-deps.sh"
"$here/scripts/format.sh" --check
"$here/scripts/build.sh"
cd "${TAV_BUILD_DIR:-$here/build}"
ctest --output-on-failure -j"$(nproc)"

#!/bin/bash
# The main job: installs what is missing, builds, and shows the programs.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" -DTAV_BUILD_TESTS=OFF >/dev/null
build="${TAV_BUILD_DIR:-$here/build}"
"$build/req/tav-req" --help
"$build/rep/tav-rep" --version

#!/bin/bash
# Builds the fuzz targets with clang and runs each for a while on a copy of its seed corpus.
# Usage: tests/fuzz/run.sh [SECONDS per target, default 60] [TARGET...]
# Build and working corpora go to $TAV_FUZZ_BUILD_DIR (default build-fuzz/ in the tree); a crash
# leaves its input there as crash-* and makes the script fail.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${TAV_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(tasks config data label template description responses)

CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  cp -n "$here/corpus/$target/"* "$corpus/"
  case "$target" in
    label | template) dict="$here/$target.dict" ;;
    *) dict="$here/json.dict" ;;
  esac
  echo "== $target: ${seconds}s"
  # Leak checks on; a 2 GB ceiling turns a runaway allocation into a reported crash.
  if ! ASAN_OPTIONS=detect_leaks=1 "$build/${target}_fuzzer" -max_total_time="$seconds" \
      -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -dict="$dict" \
      -artifact_prefix="$build/$target-" \
      "$corpus" >"$build/$target.log" 2>&1; then
    echo "   CRASH, see $build/$target.log"
    status=1
  fi
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^#[0-9]+ +DONE' "$build/$target.log" || true
  echo "   corpus: $(ls "$corpus" | wc -l) inputs"
done
exit $status

#!/bin/bash
# tav-view against tav-rep on the same generated checker input: wall time and peak resident
# memory of each under /usr/bin/time -v, tav-view writing all three outputs and its terminal
# summary (to /dev/null). Prints the ratios against the targets: tav-view at most 2x tav-rep's
# time and at most 3x the input's size in memory. Not a test; figures go in RESULTS.md.
#
#   bench/view.sh                    # 10^6 entries, 3 rounds
#   BENCH_VIEW_ENTRIES=100000 BENCH_REPEAT=5 bench/view.sh
#
# Builds tav-rep and tav-view (Release) in BENCH_BUILD_DIR (default build-view-bench) unless
# TAV_REP and TAV_VIEW name programs.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ENTRIES=${BENCH_VIEW_ENTRIES:-1000000}
REPEAT=${BENCH_REPEAT:-3}
BUILD_DIR=${BENCH_BUILD_DIR:-$ROOT/build-view-bench}
TIME=/usr/bin/time
[[ -x $TIME ]] || { echo "view.sh: needs GNU time (Debian package time)" >&2; exit 1; }

WORK=$(mktemp -d /tmp/tav-bench-view.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

if [[ -z ${TAV_REP:-} || -z ${TAV_VIEW:-} ]]; then
  echo "building tav-rep and tav-view in $BUILD_DIR (Release)"
  cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >"$WORK/cmake.log" 2>&1 ||
    { cat "$WORK/cmake.log" >&2; exit 1; }
  cmake --build "$BUILD_DIR" -j"$(nproc)" --target tav-rep tav-view >"$WORK/build.log" 2>&1 ||
    { cat "$WORK/build.log" >&2; exit 1; }
fi
REP=${TAV_REP:-$BUILD_DIR/rep/tav-rep}
VIEW=${TAV_VIEW:-$BUILD_DIR/view/tav-view}

echo "generating $ENTRIES entries"
python3 "$ROOT/bench/gen_checker_input.py" --entries "$ENTRIES" --out "$WORK/in"
input=$(($(stat -c %s "$WORK/in/metadata.json") + $(stat -c %s "$WORK/in/responses.json")))
mkdir "$WORK/logs" "$WORK/out"

# timed NAME CMD...: runs CMD under time -v; appends "NAME seconds kib" to results.
timed() {
  local name=$1 status=0
  shift
  "$TIME" -v -o "$WORK/time.txt" "$@" >/dev/null 2>"$WORK/err.txt" || status=$?
  # tav-view's 1 says that some requests failed, which the input is built to have.
  if ((status > 1)); then
    echo "$name failed with status $status:" >&2
    cat "$WORK/err.txt" >&2
    exit 1
  fi
  awk -v name="$name" '
    /Elapsed \(wall clock\)/ { n = split($NF, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i] }
    /Maximum resident set size/ { kib = $NF }
    END { print name, s, kib }' "$WORK/time.txt" >>"$WORK/results"
}

echo "load averages at start: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((round = 1; round <= REPEAT; round++)); do
  timed rep "$REP" -d "$WORK/logs" -m "$WORK/in/metadata.json" -r "$WORK/in/responses.json" \
    -c "$WORK/in/config.json" -o "$WORK/out"
  timed view "$VIEW" -m "$WORK/in/metadata.json" -r "$WORK/in/responses.json" \
    -c "$WORK/in/config.json" --junit "$WORK/out/junit.xml" --html "$WORK/out/report.html" \
    --json "$WORK/out/view.json"
done
echo "load averages at end: $(cut -d' ' -f1-3 /proc/loadavg)"

# The failed set must agree before any figure counts.
python3 - "$WORK/out/report.json" "$WORK/out/view.json" <<'PYEOF' || exit 1
import json, sys
report, view = json.load(open(sys.argv[1])), json.load(open(sys.argv[2]))
failed = sorted(v["uuid"] for v in view["verdicts"] if not v["passed"])
if failed != report["failed_uuids"]:
    sys.exit("view.sh: tav-view's failed set differs from report.json")
print(f"failed set: {len(failed)} of {report['total_count']}, the same in both")
PYEOF

python3 - "$WORK/results" "$input" "$ENTRIES" "$REPEAT" "$(du -b "$WORK/out/junit.xml" "$WORK/out/report.html" "$WORK/out/view.json" | awk '{s += $1} END {print s}')" <<'PYEOF'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
input_bytes, entries, repeat, outputs = int(sys.argv[2]), sys.argv[3], sys.argv[4], int(sys.argv[5])
def fig(name, col):
    values = [float(r[col]) for r in rows if r[0] == name]
    return statistics.median(values), min(values), max(values)
mib = 1024 * 1024
rep_t, view_t = fig("rep", 1), fig("view", 1)
rep_m, view_m = fig("rep", 2), fig("view", 2)
print(f"entries {entries}, input {input_bytes / mib:.1f} MiB, tav-view outputs {outputs / mib:.1f} MiB, "
      f"median of {repeat} (min-max)")
print(f"tav-rep   {rep_t[0]:.2f} s ({rep_t[1]:.2f}-{rep_t[2]:.2f}), peak RSS {rep_m[0] / 1024:.1f} MiB")
print(f"tav-view  {view_t[0]:.2f} s ({view_t[1]:.2f}-{view_t[2]:.2f}), peak RSS {view_m[0] / 1024:.1f} MiB")
ratio = view_t[0] / rep_t[0]
memory = view_m[0] * 1024 / input_bytes
print(f"time tav-view / tav-rep: {ratio:.2f} (target <= 2: {'met' if ratio <= 2 else 'MISSED'})")
print(f"peak RSS tav-view / input: {memory:.2f} (target <= 3: {'met' if memory <= 3 else 'MISSED'}); "
      f"tav-rep / input: {rep_m[0] * 1024 / input_bytes:.2f}")
PYEOF
